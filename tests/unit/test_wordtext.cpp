#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture.h"
#include "wordtext.h"

namespace {

using testing_support::capture;

std::vector<std::uint16_t> units_of(const std::u16string& s) { return {s.begin(), s.end()}; }

// The text under the document rules, fed as one run, or unit by unit.
std::string document_text(const std::u16string& s, bool whole_run = true) {
  testing_support::plain_setup();
  std::vector<std::uint16_t> u = units_of(s);
  return capture([&] {
    dorvex::WordParagraphs text(dorvex::WordRules::document);
    if (whole_run) {
      text.put_run(u.data(), u.size());
    } else {
      for (std::uint16_t unit : u) text.put(unit);
    }
    text.finish_paragraph();
  });
}

TEST(WordDocumentText, FieldsAnchorsAndMarks) {
  struct Case {
    std::u16string in;
    const char* out;
  } cases[] = {
      // The instruction is skipped, the result kept; marks are spaces between words only.
      {u"See \x13 HYPERLINK \"http://x\" \x14the site\x15 now\r", "See the site now\n"},
      {u"\x13PAGE\x14"
       u"3\x15\r",
       "3\n"},
      // Nested fields: a field in an instruction goes with it; one in a result shows its result.
      {u"a\x13 IF \x13 DATE \x14"
       u"1\x15 = 1 \x14yes\x15 b\r",
       "a yes b\n"},
      {u"\x13 TOC \x14\x13 HYPERLINK \\l \"_Toc1\" \x14"
       u"Chapter\t\x13 PAGEREF _Toc1 \x14"
       u"4\x15\x15\r\x15",
       "Chapter\t4\n"},
      // A field without a result, and marks without a begin.
      {u"x\x13 XE \"entry\" \x15y\r", "x y\n"},
      {u"p\x14q\x15r\r", "p q r\n"},
      // An instruction spanning a paragraph mark skips it.
      {u"one\x13 INCLUDE\rfile \x14two\x15\r", "one two\n"},
      // Picture, annotation and drawing anchors vanish; the paragraph stays.
      {u"pic\x01 ann\x05 draw\x08 done\r", "pic ann draw done\n"},
      // A formula shows its instruction: its text is the formula's.
      {u"\x13 EQ \\o(a,b)\x15\r", "EQ \\o(a,b)\n"},
      {u"\x13 eq\x15 z\r", "eq z\n"},
      {u"\x13 EQUATION \x14r\x15\r", "r\n"},
      // A line feed ends a line; the classic table's discarding codes still discard.
      {u"first\nsecond\r", "first\nsecond\n"},
      {u"gone\x03kept\r", "kept\n"},
      // Cells and the dropped zero-width no-break space.
      {u"a\x07"
       u"b\x07\x07\r",
       "a\x1c"
       "b\x1e\n"},
      {u"a\uFEFF"
       u"b\r",
       "ab\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(document_text(c.in), c.out) << std::string(c.in.begin(), c.in.end());
    EXPECT_EQ(document_text(c.in, false), c.out) << "unit by unit";
  }
}

TEST(WordDocumentText, DeepOrUnbalancedFieldsStayBounded) {
  // 100 nested fields: deeper than the bit set; all instructions, so nothing shows until the
  // story ends, and the next story is read again.
  std::u16string deep(100, u'\x13');
  deep += u"hidden";
  testing_support::plain_setup();
  std::vector<std::uint16_t> a = units_of(deep), b = units_of(u"next\r");
  std::string out = capture([&] {
    dorvex::WordParagraphs text(dorvex::WordRules::document);
    text.put_run(a.data(), a.size());
    text.end_story();
    text.put_run(b.data(), b.size());
    text.finish_paragraph();
  });
  EXPECT_EQ(out, "next\n");
  std::u16string closed = std::u16string(100, u'\x13') + std::u16string(100, u'\x15') + u"shown\r";
  EXPECT_EQ(document_text(closed), "shown\n");
}

TEST(WordDocumentText, LongRunIsHandedOverInPiecesWithoutLoss) {
  std::u16string long_run(300000, u'a');
  std::string out = document_text(long_run +
                                  u"\x07"
                                  u"b\r");
  EXPECT_EQ(out, std::string(300000, 'a') +
                     "\x1c"
                     "b\n");
}

TEST(WordClassicText, KeepsInstructionsAndDiscardsAtAnchors) {
  struct Case {
    std::u16string in;
    const char* out;
  } cases[] = {
      {u"\x13HYP\x14text\x15\r", " HYP text \n"},
      {u"X\x01Y\r", "Y\n"},
      {u"\x13X\x01Y\x14\r", " XY \n"},
      {u"gone\x05kept\r", "kept\n"},
      {u"gone\nkept\r", "kept\n"},
  };
  for (const Case& c : cases) {
    testing_support::plain_setup();
    std::string out = capture([&] {
      dorvex::WordParagraphs text(dorvex::WordRules::classic);
      for (char16_t unit : c.in) text.put(unit);
      text.finish_paragraph();
    });
    EXPECT_EQ(out, c.out);
  }
}

}  // namespace
