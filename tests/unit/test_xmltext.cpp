#include "xmltext.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analyze.h"
#include "metadata.h"
#include "fixture.h"

namespace {

using testing_support::capture;
using testing_support::stream_of;

struct Outcome {
  std::string out, err;
  int status;
};

Outcome analyze(const std::string& bytes) {
  testing_support::plain_setup();
  std::FILE* f = stream_of(bytes);
  Outcome r;
  testing::internal::CaptureStderr();
  r.out = capture([&] { r.status = dorvex::analyze_format(f, nullptr, {}, "doc"); });
  r.err = testing::internal::GetCapturedStderr();
  std::fclose(f);
  return r;
}

std::string word2003(const std::string& body) {
  return "<?xml version=\"1.0\"?><w:wordDocument "
         "xmlns:w=\"http://schemas.microsoft.com/office/word/2003/wordml\" "
         "xmlns:aml=\"http://schemas.microsoft.com/aml/2001/core\" "
         "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\"><w:body>" +
         body + "</w:body></w:wordDocument>";
}

std::string fodt(const std::string& body) {
  return "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
         "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
         "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
         "office:mimetype=\"application/vnd.oasis.opendocument.text\"><office:body><office:text>" +
         body + "</office:text></office:body></office:document>";
}

std::string p(const std::string& text) { return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>"; }
std::string tc(const std::string& paras) { return "<w:tc>" + paras + "</w:tc>"; }

struct Case {
  const char* what;
  std::string input, out;
};

// The units the readers hand on, as the writer shows them without maps: cells 1C, rows 1E.
TEST(XmlText, WordStructuresAsTheWordReaderWritesThem) {
  const std::vector<Case> cases = {
      {"paragraphs", word2003(p("one") + p("two")), "one\ntwo\n"},
      {"empty paragraphs write nothing", word2003(p("a") + "<w:p/><w:p></w:p>" + p("b")),
       "a\nb\n"},
      {"a table row", word2003("<w:tbl><w:tr>" + tc(p("a")) + tc(p("b")) + "</w:tr></w:tbl>"),
       "a\x1C" "b\x1E\n"},
      {"an empty last cell stays a cell",
       word2003("<w:tbl><w:tr>" + tc(p("a")) + tc("<w:p/>") + "</w:tr><w:tr>" + tc(p("c")) +
                tc(p("d")) + "</w:tr></w:tbl>"),
       "a\x1C\x1E" "c\x1C" "d\x1E\n"},
      {"an empty first cell", word2003("<w:tbl><w:tr>" + tc("<w:p/>") + tc(p("b")) +
                                       "</w:tr></w:tbl>"),
       "\x1C" "b\x1E\n"},
      {"paragraphs in a cell",
       word2003("<w:tbl><w:tr>" + tc(p("a") + p("a2")) + tc(p("b")) + "</w:tr></w:tbl>" +
                p("after")),
       "a\na2\x1C" "b\x1E" "after\n"},
      {"text as it stands", word2003("<w:p><w:r><w:t xml:space=\"preserve\">  two  </w:t>"
                                     "</w:r></w:p>"),
       "  two  \n"},
      {"tabs of paragraph properties are no text",
       word2003("<w:p><w:pPr><w:tabs><w:tab w:val=\"left\"/></w:tabs></w:pPr><w:r><w:t>x</w:t>"
                "</w:r></w:p>"),
       "x\n"},
      {"instruction never text, results nested",
       word2003("<w:p><w:r><w:t>a </w:t></w:r><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r>"
                "<w:r><w:instrText>REF x</w:instrText></w:r><w:r><w:fldChar "
                "w:fldCharType=\"separate\"/></w:r><w:r><w:t>res</w:t></w:r><w:r><w:fldChar "
                "w:fldCharType=\"end\"/></w:r><w:r><w:t> b</w:t></w:r></w:p>"),
       "a res b\n"},
      {"one branch of an alternative",
       word2003("<w:p><w:r><mc:AlternateContent><mc:Choice Requires=\"x\"><w:t>choice</w:t>"
                "</mc:Choice><mc:Choice Requires=\"y\"><w:t>second</w:t></mc:Choice>"
                "<mc:Fallback><w:t>fallback</w:t></mc:Fallback></mc:AlternateContent></w:r>"
                "</w:p><w:p><w:r><mc:AlternateContent><mc:Fallback><w:t>only</w:t>"
                "</mc:Fallback></mc:AlternateContent></w:r></w:p>"),
       "choice\nonly\n"},
      {"deleted text, inserted text",
       word2003("<w:p><w:del><w:r><w:delText>gone</w:delText></w:r></w:del><w:ins><w:r>"
                "<w:t>kept</w:t></w:r></w:ins><w:moveFrom><w:r><w:t>moved</w:t></w:r>"
                "</w:moveFrom></w:p>"),
       "kept\n"},
      {"stories in the Word reader's order",
       word2003("<w:p><w:r><w:t>main</w:t></w:r><w:r><w:endnote><w:p><w:r><w:t>end</w:t>"
                "</w:r></w:p></w:endnote></w:r><w:r><w:footnote><w:p><w:r><w:t>foot</w:t>"
                "</w:r></w:p></w:footnote></w:r></w:p><w:sectPr><w:hdr><w:p><w:r>"
                "<w:t>head</w:t></w:r></w:p></w:hdr></w:sectPr>"),
       "main\nfoot\nhead\nend\n"},
      {"a story ends with its table",
       word2003("<w:tbl><w:tr>" + tc(p("a")) + "</w:tr></w:tbl><w:sectPr><w:hdr>" + p("h") +
                "</w:hdr></w:sectPr>"),
       "a\x1E\nh\n"},
      {"characters beyond the BMP and control codes",
       word2003("<w:p><w:r><w:t>\xF0\x9F\x98\x80&#9;x&#10;y</w:t><w:noBreakHyphen/>"
                "<w:softHyphen/><w:sym w:char=\"2014\"/><w:sym w:char=\"zz\"/></w:r></w:p>"),
       "\xF0\x9F\x98\x80\tx y-\xC2\xAD\xE2\x80\x94\n"},
  };
  for (const Case& c : cases) {
    Outcome r = analyze(c.input);
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
  }
}

TEST(XmlText, OpenDocumentSpacesNotesAndCells) {
  const std::vector<Case> cases = {
      {"white space collapses, also across elements",
       fodt("<text:p>  a \n\t b<text:span> </text:span> c</text:p>"), "a b c\n"},
      {"text:s gives its count, bounded",
       fodt("<text:p>a<text:s text:c=\"3\"/>b<text:s text:c=\"-4\"/>c<text:s "
            "text:c=\"99999999999999999999\"/>d</text:p>"),
       "a   b c" + std::string(1024, ' ') + "d\n"},
      {"a note's body in its place, its citation nowhere",
       fodt("<text:p>x<text:note><text:note-citation>1</text:note-citation><text:note-body>"
            "<text:p>note</text:p></text:note-body></text:note> y</text:p>"),
       "x y\nnote\n"},
      {"covered cells keep the row",
       fodt("<table:table><table:table-row><table:table-cell><text:p>a</text:p>"
            "</table:table-cell><table:covered-table-cell/></table:table-row>"
            "</table:table>"),
       "a\x1C\x1E\n"},
      {"text outside paragraphs is no text",
       fodt("stray<text:p>in</text:p>stray"), "in\n"},
  };
  for (const Case& c : cases) {
    Outcome r = analyze(c.input);
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
  }
}

// Text is widened 16 bytes at a time while it is plain: runs of white space at every place
// around such blocks give what a character-by-character reading gives.
TEST(XmlText, WhiteSpaceAtEveryPlaceOfATextBlock) {
  std::mt19937 rng(5);
  const char* const gaps[] = {" ", " ", " ", " ", "  ", "\t", " \n", "   "};
  for (int round = 0; round < 300; ++round) {
    // Words of one to eight letters, mostly single spaces between them, now and then more.
    std::string text = rng() % 2 ? " " : "";
    while (text.size() < 60) {
      text.append(std::size_t(1 + rng() % 8), char('a' + rng() % 26));
      text += gaps[rng() % (sizeof gaps / sizeof *gaps)];
    }
    text += 'z';
    std::string collapsed, kept;
    bool at_space = true;  // a paragraph starts at a space
    for (char c : text) {
      const bool space = c == ' ' || c == '\t' || c == '\n';
      if (!space) collapsed += c;
      if (space && !at_space) collapsed += ' ';
      at_space = space;
      kept += c == '\n' ? ' ' : c;
    }
    EXPECT_EQ(analyze(fodt("<text:p>" + text + "</text:p>")).out, collapsed + "\n")
        << testing::PrintToString(text);
    EXPECT_EQ(analyze(word2003("<w:p><w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r></w:p>")).out,
              kept + "\n")
        << testing::PrintToString(text);
  }
}

TEST(XmlText, DetectionLooksAtTheRootElementOnly) {
  // Other XML, and XML whose root lies past the first 4 KiB, stays plain text.
  const std::string other = "<?xml version=\"1.0\"?><html><p>x</p></html>";
  EXPECT_EQ(analyze(other).out, other);
  const std::string late = "<!--" + std::string(5000, '-') + "-->" + word2003(p("x"));
  EXPECT_EQ(analyze(late).out, late);
  const std::string sheet =
      "<office:document office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"/>";
  EXPECT_EQ(analyze(sheet).out, sheet);
  // A byte-order mark, the declaration, comments and processing instructions come first.
  std::string body = word2003(p("x"));
  body.insert(body.find("?>") + 2, "\n <!-- c --><?mso x?>\n");
  EXPECT_EQ(analyze("\xEF\xBB\xBF" + body).out, "x\n");
}

TEST(XmlText, HostileXmlEndsWithAMessage) {
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE w:wordDocument [<!ENTITY a \"aaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;\">]>" + word2003(p("&b;"));
  Outcome r = analyze(laughs);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "dorvex: doc: line 1: document type declarations are not read\n");

  std::string deep;
  for (int i = 0; i < dorvex::kMaxXmlDepth; ++i) deep += "<w:sdt>";
  r = analyze(word2003(p("before") + deep));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "before\n") << "the text before stays written";
  EXPECT_EQ(r.err, "dorvex: doc: line 1: elements nested deeper than this reader's limit\n");

  r = analyze(word2003(p("a") + "<w:p>"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("dorvex: doc: line 1: ", 0), 0u) << r.err;
  r = analyze(word2003(p("&undefined;")));
  EXPECT_EQ(r.status, 1);
}

TEST(XmlText, PrefixesResolveByTheirDeclarationsInScope) {
  // Text elements in the default namespace and under another prefix, that prefix bound to
  // another namespace further in; an attribute without a prefix is in no namespace (the first
  // s gives its default single space).
  const std::string doc =
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:t=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "office:mimetype=\"application/vnd.oasis.opendocument.text\"><office:body><office:text>"
      "<p>one<s c=\"2\"/><t:s t:c=\"3\"/>x</p>"
      "<t:p xmlns:t=\"urn:other\">not a paragraph</t:p><t:p>two</t:p>"
      "</office:text></office:body></office:document>";
  Outcome r = analyze(doc);
  EXPECT_EQ(r.out, "one    x\ntwo\n");
  EXPECT_EQ(r.status, 0);
}

// What docProps/core.xml, meta.xml and a flat document's office:meta state, read with the text.
TEST(XmlText, MetadataOfPackagesAndFlatDocuments) {
  struct Expect {
    const char* file;
    const char* title;
    const char* author;
    const char* keywords;
    const char* created;
    const char* modified;
  };
  const Expect cases[] = {
      // A date that is no ISO time and an empty subject state nothing.
      {"xdoc_constructs.docx", "Constructs", "Generator", "docx, test", "2020-01-02T03:04:05Z",
       nullptr},
      // The author is who made the document, not who saved it last; local times keep no zone.
      {"xdoc_constructs.odt", "META TITLE", "Author", "first", "2020-01-02T03:04:05",
       "2021-02-03T04:05:06"},
      {"xdoc_constructs.fodt", "META TITLE", "Author", "first", "2020-01-02T03:04:05",
       "2021-02-03T04:05:06"},
  };
  auto same = [](const std::optional<std::string>& got, const char* want) {
    return want ? got && *got == want : !got;
  };
  for (const Expect& e : cases) {
    testing_support::plain_setup();
    const std::string path = std::string(DORVEX_SOURCE_DIR) + "/tests/data/good/" + e.file;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    dorvex::Metadata m;
    int status = -1;
    const std::string out = capture([&] { status = dorvex::analyze_format(f, &m); });
    std::fclose(f);
    EXPECT_EQ(status, 0) << e.file;
    EXPECT_FALSE(out.empty()) << e.file << ": the text is read too";
    EXPECT_TRUE(same(m.title, e.title)) << e.file << ": " << m.title.value_or("(none)");
    EXPECT_FALSE(m.subject) << e.file;
    EXPECT_TRUE(same(m.author, e.author)) << e.file << ": " << m.author.value_or("(none)");
    EXPECT_TRUE(same(m.keywords, e.keywords)) << e.file << ": " << m.keywords.value_or("(none)");
    EXPECT_TRUE(same(m.created, e.created)) << e.file << ": " << m.created.value_or("(none)");
    EXPECT_TRUE(same(m.modified, e.modified)) << e.file << ": " << m.modified.value_or("(none)");
  }
}

}  // namespace
