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

namespace {

// The unit-at-a-time rules the fast scans must agree with.
std::size_t simple_plain_prefix(const std::vector<std::uint16_t>& u) {
  std::size_t i = 0;
  while (i < u.size() && u[i] >= 32 && u[i] != 0xFEFF) ++i;
  return i;
}

}  // namespace

// Every stopping unit (and units just beside the edges) at every place of runs of every length
// up to a few blocks, so each block position and the tail loop are reached.
TEST(WordFastScans, PlainPrefixAgreesWithTheUnitRule) {
  const std::uint16_t stops[] = {0, 1, 7, 13, 19, 21, 31, 0xFEFF};
  const std::uint16_t plain[] = {32, 'a', 0x7F, 0x80, 0xFF, 0x100, 0xFEFE, 0xFF00, 0xFFFF, 0x8000};
  for (std::size_t len = 0; len <= 40; ++len) {
    for (std::uint16_t fill : plain) {
      std::vector<std::uint16_t> u(len, fill);
      ASSERT_EQ(dorvex::plain_prefix(u.data(), u.size()), len) << "fill " << fill;
      for (std::size_t at = 0; at < len; ++at) {
        for (std::uint16_t stop : stops) {
          u[at] = stop;
          ASSERT_EQ(dorvex::plain_prefix(u.data(), u.size()), simple_plain_prefix(u))
              << "len " << len << " at " << at << " stop " << stop;
          if (at + 3 < len) u[at + 3] = 9;  // a second stop behind the first changes nothing
          ASSERT_EQ(dorvex::plain_prefix(u.data(), u.size()), at);
          u.assign(len, fill);
        }
      }
    }
  }
}

// Widening through a table with and without the ASCII shortcut gives the table's units up to
// the first unit that is not plain, for such a unit and a byte above 0x7F at every place, and
// for every byte value.
TEST(WordFastScans, WidenPlainPrefixAgreesWithTheTable) {
  std::vector<std::uint16_t> identity(256), shifted(256);
  for (int b = 0; b < 256; ++b) {
    identity[b] = static_cast<std::uint16_t>(b < 0x80 ? b : 0x2000 + b);
    shifted[b] = static_cast<std::uint16_t>(0x400 + b);  // nothing maps to itself
  }
  identity[0x81] = 0xFEFF;  // a byte above 0x7F that ends a run
  shifted[0x41] = 7;        // and one below
  std::vector<unsigned char> bytes(70);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(' ' + i);
  auto check = [&](std::size_t n) {
    for (const auto* table : {&identity, &shifted}) {
      std::size_t len = 0;
      while (len < n && (*table)[bytes[len]] >= 32 && (*table)[bytes[len]] != 0xFEFF) ++len;
      std::vector<std::uint16_t> got(n + 1, 0xABCD);
      ASSERT_EQ(dorvex::widen_plain_prefix(bytes.data(), n, table->data(), table == &identity,
                                           got.data()),
                len)
          << "n " << n;
      for (std::size_t i = 0; i < len; ++i) ASSERT_EQ(got[i], (*table)[bytes[i]]) << "at " << i;
      ASSERT_EQ(got[n], 0xABCD);  // nothing written past the end
    }
  };
  for (std::size_t n = 0; n <= bytes.size(); ++n) check(n);
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    for (int other : {0, 9, 13, 0x1F, 0x80, 0x81, 0x9F, 0xE9, 0xFF}) {
      unsigned char saved = bytes[at];
      bytes[at] = static_cast<unsigned char>(other);
      check(bytes.size());
      check(at + 1);
      bytes[at] = saved;
    }
  }
  for (int b = 0; b < 256; ++b) {
    bytes[static_cast<std::size_t>(b) % bytes.size()] = static_cast<unsigned char>(b);
    check(bytes.size());
  }
}

namespace {

// Text with every control code the document rules know, fields (nested, with and without
// results, a formula), cells and rows, and plain runs of many lengths, some of them beyond
// ASCII.
std::vector<std::uint16_t> mixed_document_units(std::size_t n, unsigned seed) {
  static const std::u16string pieces[] = {
      u"\r", u"\t", u"\x07", u"\x07\x07", u"\x13 HYPERLINK \"x\" \x14link\x15", u"\x13 PAGE \x15",
      u"\x13 EQ \\o(a,b)\x15", u"\x13 IF \x13 DATE \x14" u"1\x15 \x14yes\x15", u"\x01", u"\x05",
      u"\x08", u"\n", u"\x0b", u"\x0c", u"\x1e", u"\x1f", u"\uFEFF", u"\x03", u"\x14", u"\x15",
      u"\u0490\u04E9\u04FF"};  // beyond ASCII: bytes 0x90, 0xE9, 0xFF of the 8-bit tests
  std::vector<std::uint16_t> u;
  unsigned x = seed;
  auto next = [&x] { return x = x * 1103515245u + 12345u, x >> 8; };
  while (u.size() < n) {
    if (next() % 3 == 0) {
      const std::u16string& p = pieces[next() % std::size(pieces)];
      u.insert(u.end(), p.begin(), p.end());
    } else {
      for (unsigned k = next() % 90; k > 0; --k) u.push_back(static_cast<std::uint16_t>('a' + next() % 26));
      u.push_back(' ');
    }
  }
  u.resize(n);
  return u;
}

std::string unit_by_unit(const std::vector<std::uint16_t>& u) {
  return capture([&] {
    dorvex::WordParagraphs text(dorvex::WordRules::document);
    for (std::uint16_t unit : u) text.put(unit);
    text.finish_paragraph();
  });
}

// The units through take_block, in blocks of the given sizes (repeated).
std::string by_blocks(const std::vector<std::uint16_t>& u, const std::vector<std::size_t>& sizes) {
  return capture([&] {
    dorvex::WordParagraphs text(dorvex::WordRules::document);
    std::size_t at = 0;
    for (std::size_t k = 0; at < u.size(); ++k) {
      std::size_t n = std::min(sizes[k % sizes.size()], u.size() - at);
      std::copy_n(u.begin() + static_cast<std::ptrdiff_t>(at), n, text.block_space());
      text.take_block(n);
      at += n;
    }
    text.finish_paragraph();
  });
}

// The same units as 8-bit text through take_bytes, widened through an identity table (bytes
// beyond ASCII through the table, as a document's code page would).
std::string by_byte_blocks(const std::vector<std::uint16_t>& u, const std::vector<std::size_t>& sizes) {
  std::vector<std::uint16_t> table(256);
  for (int b = 0; b < 256; ++b) table[b] = static_cast<std::uint16_t>(b < 0x80 ? b : 0x400 + b);
  std::vector<unsigned char> bytes;
  for (std::uint16_t unit : u) {
    bytes.push_back(static_cast<unsigned char>(unit < 0x80 ? unit : unit == 0xFEFF ? 0x80 : unit - 0x400));
  }
  table[0x80] = 0xFEFF;
  return capture([&] {
    dorvex::WordParagraphs text(dorvex::WordRules::document);
    std::size_t at = 0;
    for (std::size_t k = 0; at < bytes.size(); ++k) {
      std::size_t n = std::min(sizes[k % sizes.size()], bytes.size() - at);
      text.take_bytes(bytes.data() + at, n, table.data(), true);
      at += n;
    }
    text.finish_paragraph();
  });
}

}  // namespace

// Blocks assembled where they lie give what the unit rule gives, whatever the block sizes: a
// block boundary at every position of the text's control codes and fields.
TEST(WordBlocksInPlace, AgreeWithUnitByUnit) {
  testing_support::plain_setup();
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::vector<std::uint16_t> u = mixed_document_units(3000, seed);
    const std::string want = unit_by_unit(u);
    for (std::size_t size : {1, 2, 3, 7, 16, 17, 100, 1000, 3000}) {
      ASSERT_EQ(by_blocks(u, {size}), want) << "seed " << seed << " block " << size;
      ASSERT_EQ(by_byte_blocks(u, {size}), want) << "seed " << seed << " bytes " << size;
    }
    ASSERT_EQ(by_blocks(u, {5, 64, 1, 333}), want) << "seed " << seed;
    ASSERT_EQ(by_byte_blocks(u, {5, 64, 1, 333}), want) << "seed " << seed;
  }
}

// A paragraph longer than the paragraph buffer is handed over in pieces at the same places,
// with a field, a cell mark or an owed space at each unit around the limit, whatever the blocks.
TEST(WordBlocksInPlace, LongParagraphSplitsAsUnitByUnit) {
  testing_support::plain_setup();
  const std::u16string marks[] = {u"\x13 PAGE \x15", u"\x07", u"\x07\x07", u"\x14", u"\t"};
  for (std::size_t at = 262136; at <= 262146; ++at) {
    for (const std::u16string& mark : marks) {
      std::vector<std::uint16_t> u(300000, 'a');
      u.insert(u.begin() + static_cast<std::ptrdiff_t>(at), mark.begin(), mark.end());
      u.insert(u.begin() + 1000, {0x13, 'X', 0x14, 'y', 0x15});  // a lag before the limit
      u.push_back('\r');
      const std::string want = unit_by_unit(u);
      ASSERT_EQ(by_blocks(u, {dorvex::kBlockUnits}), want) << "at " << at;
      ASSERT_EQ(by_blocks(u, {40000, 7}), want) << "at " << at;
      ASSERT_EQ(by_byte_blocks(u, {dorvex::kBlockUnits}), want) << "at " << at;
    }
  }
}
