#include "context.h"
#include "rtfread.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "confutil.h"
#include "fileutil.h"
#include "fixture.h"
#include "rtf_support.h"
#include "writer.h"

namespace {

using testing_support::CodePageDir;
using testing_support::rtf_text;

// A stream over bytes for the tokenizer functions. The caller closes file.
struct TokenStream {
  std::FILE* file;
  dorvex::RtfStream in;
  explicit TokenStream(const std::string& bytes) : file(testing_support::stream_of(bytes)) {
    in.file = file;
  }
  ~TokenStream() { std::fclose(file); }
  std::string rest() {
    std::string s;
    for (int c; (c = dorvex::rtf_getc(in)) != EOF;) s += static_cast<char>(c);
    return s;
  }
};

TEST(Rtf, ParagraphsAndGroups) {
  EXPECT_EQ(rtf_text("{\\rtf1 Hello\\par}"), "Hello\n");
  EXPECT_EQ(rtf_text("{\\rtf1 one\\par\\par two\\par}"), "one\n\ntwo\n");
  // No paragraph word at all: one paragraph with a newline at the end.
  EXPECT_EQ(rtf_text("{\\rtf1 just text}"), "just text\n");
  EXPECT_EQ(rtf_text("{\\rtf1 \\par}"), "\n");
  EXPECT_EQ(rtf_text(""), "");
  // Line ends in the file are not text.
  EXPECT_EQ(rtf_text("{\\rtf1 ab\r\ncd\n}"), "abcd\n");
  // Extra closing braces keep the level at 0 and the text keeps coming.
  EXPECT_EQ(rtf_text("}}}{\\rtf1 x}}}y"), "xy\n");
  // An unterminated document still gives its text.
  EXPECT_EQ(rtf_text("{\\rtf1 {{open"), "open\n");
}

// Words that only a group boundary separates were never separated in the document either,
// before or after a paragraph word, at any level.
TEST(Rtf, GroupsStoreNothing) {
  EXPECT_EQ(rtf_text("{\\rtf1 a{b}c}"), "abc\n");
  EXPECT_EQ(rtf_text("{\\rtf1 x\\par a{b}c}"), "x\nabc\n");
  EXPECT_EQ(rtf_text("{\\rtf1 {x\\par}a{b}c}"), "x\nabc\n");
  EXPECT_EQ(rtf_text("{\\rtf1 x\\par {\\b y}}"), "x\ny\n");
  EXPECT_EQ(rtf_text("x\\par a{b}c"), "x\nabc\n");
}

TEST(Rtf, SuppressedDestinations) {
  for (const char* word : {"pict", "fonttbl", "info", "stylesheet", "colortbl", "listtable",
                           "listoverridetable", "rsidtbl", "generator", "datafield"}) {
    std::string doc = std::string("{\\rtf1 A{\\") + word + " hidden{inner}\\'e9\\u233?}B}";
    EXPECT_EQ(rtf_text(doc), "AB\n") << word;
  }
  EXPECT_EQ(rtf_text("{\\rtf1 A{\\*\\foo hidden{\\bar inner}}B}"), "AB\n");
  // A nested destination does not move the start: the outer group's end ends suppression.
  EXPECT_EQ(rtf_text("{\\rtf1 {\\fonttbl x{\\colortbl y}z}after}"), "after\n");
  // An unlisted destination without the asterisk is text where it stands.
  EXPECT_EQ(rtf_text("{\\rtf1 a{\\header head}b}"), "aheadb\n");
  // Nothing inside a suppressed group reaches the text: no special character, no paragraph or
  // line end, no cell, no escaped character.
  EXPECT_EQ(rtf_text("{\\rtf1 a{\\info x\\tab y}b}"), "ab\n");
  EXPECT_EQ(rtf_text("{\\rtf1 a{\\info x\\par y}b}"), "ab\n");
  EXPECT_EQ(rtf_text("{\\rtf1 a{\\*\\h \\par\\line\\cell\\row\\emdash\\bullet\\~\\-\\\r\n}b}"),
            "ab\n");
  EXPECT_EQ(rtf_text("{\\rtf1 a{\\fldinst \\lquote\\zwnj\\u233?\\'e9}b}"), "ab\n");
  // \* while already suppressed changes nothing.
  EXPECT_EQ(rtf_text("{\\rtf1 {\\info {\\*\\x a}b}c}"), "c\n");
  // Words that only look like destinations: exact, case-sensitive names.
  EXPECT_EQ(rtf_text("{\\rtf1 {\\Fonttbl a}{\\infox b}}"), "ab\n");
}

TEST(Rtf, HexEscapesAndCodePages) {
  CodePageDir pages;
  EXPECT_EQ(rtf_text("{\\rtf1 caf\\'e9 \\'E9}"), "caf\xC3\xA9 \xC3\xA9\n");
  // cp1251: escapes and raw bytes after the switch.
  EXPECT_EQ(rtf_text("{\\rtf1\\ansi\\ansicpg1251 \\'e9\\'E9\xE9}"), "\xD0\xB9\xD0\xB9\xD0\xB9\n");
  EXPECT_STREQ(dorvex::ctx().source_csname, "cp1251");
  // The next document starts again from the source table.
  EXPECT_EQ(rtf_text("{\\rtf1 \\'e9}"), "\xC3\xA9\n");
  // 1200 names no file: the previous name is loaded again.
  EXPECT_EQ(rtf_text("{\\rtf1\\ansicpg1252\\ansicpg1200 \\'80}"), "\xE2\x82\xAC\n");
  EXPECT_STREQ(dorvex::ctx().source_csname, "cp1252");
  // Code pages that cannot be named keep the table in force.
  EXPECT_EQ(rtf_text("{\\rtf1\\ansicpg1251\\ansicpg30000\\ansicpg-5 \\'e9}"), "\xD0\xB9\n");
  // -s given: documents cannot switch.
  dorvex::ctx().forced_charset = 1;
  EXPECT_EQ(rtf_text("{\\rtf1\\ansicpg1251 \\'e9}"), "\xC3\xA9\n");
}

TEST(Rtf, CodePageWithoutTableKeepsTableInForce) {
  CodePageDir pages;
  testing::internal::CaptureStderr();
  // 1257 has no table here (nor has 30000): one warning for the document.
  std::string out =
      rtf_text("{\\rtf1\\ansicpg1251 \\'e9\\ansicpg1257 \\'e9\\ansicpg30000 \\'e9}");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "\xD0\xB9\xD0\xB9\xD0\xB9\n");
  EXPECT_EQ(err, std::string("Code page 1257 has no charset - text read as ") +
                     dorvex::ctx().source_csname + "\n");
  // 65001 is UTF-8, read without a table and without a message.
  testing::internal::CaptureStderr();
  out = rtf_text("{\\rtf1\\ansicpg1251 \\'e9\\ansicpg65001 \\'d0\\'b9\\'c3}");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(out, "\xD0\xB9\xD0\xB9\xEF\xBF\xBD\n");
  // Fonts whose tables are missing (double-byte or 8-bit) read through the document's code page,
  // without a message: fonts name code pages freely.
  testing::internal::CaptureStderr();
  out = rtf_text("{\\rtf1\\ansicpg1251{\\fonttbl{\\f0\\fcharset128 M;}{\\f1\\fcharset161 G;}}"
                 "\\f0\\'e9\\f1\\'e9}");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(out, "\xD0\xB9\xD0\xB9\n");
}

TEST(Rtf, CodePageSwitchKeepsSharedBuffer) {
  CodePageDir pages;
  char* saved = dorvex::ctx().input_buffer;
  static char marker[16];
  dorvex::ctx().input_buffer = marker;
  EXPECT_EQ(rtf_text("{\\rtf1\\ansicpg1251\\ansicpg1252\\ansicpg1251 \\'e9}"), "\xD0\xB9\n");
  EXPECT_EQ(dorvex::ctx().input_buffer, marker);
  dorvex::ctx().input_buffer = saved;
}

TEST(Rtf, CodeZeroIsDropped) {
  EXPECT_EQ(rtf_text(std::string("{\\rtf1 a\\'zzb", 13) + std::string("\0c}", 3)), "azzbc\n");
  EXPECT_EQ(rtf_text("{\\rtf1 a\\u0?b\\u65536?c}"), "abc\n");
}

TEST(Rtf, EscapeCutByEndOfInput) {
  EXPECT_EQ(rtf_text("{\\rtf1 a\\'e"), "a\n");
  EXPECT_EQ(rtf_text("{\\rtf1 a\\'"), "a\n");
  EXPECT_EQ(rtf_text("{\\rtf1 a\\"), "a\n");
  // A final word is still acted on.
  EXPECT_EQ(rtf_text("{\\rtf1 a\\tab"), "a\t\n");
  EXPECT_EQ(rtf_text("a\\'e9"), "a\xC3\xA9\n");
}

TEST(Rtf, UnicodeEscapesSkipFallback) {
  EXPECT_EQ(rtf_text("{\\rtf1 \\u233?x}"), "\xC3\xA9x\n");
  EXPECT_EQ(rtf_text("{\\rtf1 \\u233 ?x}"), "\xC3\xA9x\n");  // the space is the delimiter
  EXPECT_EQ(rtf_text("{\\rtf1\\uc2 \\u233??x}"), "\xC3\xA9x\n");
  EXPECT_EQ(rtf_text("{\\rtf1\\uc0 \\u233?x}"), "\xC3\xA9?x\n");
  // An escape or a control word is one fallback character.
  EXPECT_EQ(rtf_text("{\\rtf1 \\u1081\\'e9x}"), "\xD0\xB9x\n");
  EXPECT_EQ(rtf_text("{\\rtf1\\uc2 \\u1081\\'e9\\'e9x}"), "\xD0\xB9x\n");
  EXPECT_EQ(rtf_text("{\\rtf1 \\u233\\par x}"), "\xC3\xA9x\n");
  // Nested groups inherit the count; closing the group restores the parent's.
  EXPECT_EQ(rtf_text("{\\rtf1\\uc2 {\\u233??}\\u233??x}"), "\xC3\xA9\xC3\xA9x\n");
  EXPECT_EQ(rtf_text("{\\rtf1 {\\uc3 a}\\u233?x}"), "a\xC3\xA9x\n");
  // A brace ends the fallback early and is read as structure.
  EXPECT_EQ(rtf_text("{\\rtf1 {\\uc3\\u233?}x{\\info y}}"), "\xC3\xA9x\n");
  // Line ends inside the fallback are not counted.
  EXPECT_EQ(rtf_text("{\\rtf1 \\u233\r\n?x}"), "\xC3\xA9x\n");
  // RTF's parameter is signed 16-bit: negative values stand for U+8000 to U+FFFF.
  EXPECT_EQ(rtf_text("{\\rtf1 \\u-3913?x}"), "\xEF\x82\xB7x\n");
  EXPECT_EQ(rtf_text("{\\rtf1 \\u-32768?}"), "\xE8\x80\x80\n");
  // Below the 16-bit range: nothing stored, the fallback stays as text.
  EXPECT_EQ(rtf_text("{\\rtf1 \\u-40000?x}"), "?x\n");
  // Above 0xFFFF the value wraps.
  EXPECT_EQ(rtf_text("{\\rtf1 \\u65601?}"), "A\n");
  // Suppressed: nothing stored, but the fallback is still skipped.
  EXPECT_EQ(rtf_text("{\\rtf1 {\\*\\x \\u233}?x}"), "?x\n");
  // A huge count skips to the end of the group, no further.
  EXPECT_EQ(rtf_text("{\\rtf1 {\\uc2147483647\\u233 abc}x}"), "\xC3\xA9x\n");
}

TEST(Rtf, SpecialCharacters) {
  EXPECT_EQ(rtf_text("{\\rtf1 \\emdash\\endash\\emspace\\enspace\\bullet}"),
            "\xE2\x80\x94\xE2\x80\x93  \xE2\x80\xA2\n");
  EXPECT_EQ(rtf_text("{\\rtf1 \\lquote\\rquote\\ldblquote\\rdblquote\\zwnj\\tab}"),
            "\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xEF\xBB\xBF\t\n");
  EXPECT_EQ(rtf_text("{\\rtf1 a\\~b\\-c\\_d}"), "a\xC2\xA0" "b\xC2\xAD" "cd\n");
  // Escaped braces and backslashes are text and do not change the level.
  EXPECT_EQ(rtf_text("{\\rtf1 \\{a\\}\\\\{\\info b}c}"), "{a}\\c\n");
  // A backslash before a line end is a paragraph mark.
  EXPECT_EQ(rtf_text("{\\rtf1 one\\\ntwo\\\r\nthree}"), "one\ntwo\nthree\n");
  // Word delimiters: one space or tab is consumed, nothing else.
  EXPECT_EQ(rtf_text("{\\rtf1 a\\lang1033  b\\lang1033\tc\\lang1033;d}"), "a bc;d\n");
}

TEST(Rtf, LongControlWords) {
  const std::string word40 = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
  EXPECT_EQ(rtf_text("{\\rtf1 \\" + word40 + " x}"), "GHIJKLMN x\n");
  TokenStream t("\\" + word40 + "5");
  dorvex::RtfCommand cmd;
  ASSERT_EQ(dorvex::rtf_getc(t.in), '\\');
  EXPECT_EQ(dorvex::getRtfCommand(t.in, cmd), 0);
  EXPECT_EQ(std::string(cmd.name), word40.substr(0, 32));
  EXPECT_EQ(cmd.type, dorvex::kRtfUnlisted);
  EXPECT_EQ(cmd.param, 0);
  EXPECT_EQ(t.rest(), "GHIJKLMN5");
}

TEST(Rtf, CommandTokens) {
  dorvex::RtfCommand cmd;
  {
    TokenStream t("par5 x");
    EXPECT_EQ(dorvex::getRtfCommand(t.in, cmd), 0);
    EXPECT_EQ(cmd.type, 5);
    EXPECT_EQ(cmd.param, 5);
    EXPECT_EQ(t.rest(), "x");
  }
  {
    TokenStream t("'4Fz");
    EXPECT_EQ(dorvex::getRtfCommand(t.in, cmd), 0);
    EXPECT_EQ(cmd.type, dorvex::kRtfHexEscape);
    EXPECT_EQ(cmd.param, 0x4F);
    EXPECT_EQ(t.rest(), "z");
  }
  {
    TokenStream t("'e");
    EXPECT_NE(dorvex::getRtfCommand(t.in, cmd), 0);
  }
  {
    TokenStream t("~x");
    EXPECT_EQ(dorvex::getRtfCommand(t.in, cmd), 0);
    EXPECT_EQ(cmd.type, dorvex::kRtfControlSymbol);
    EXPECT_EQ(cmd.param, '~');
    EXPECT_EQ(t.rest(), "x");
  }
  EXPECT_EQ(dorvex::getCommandType("pard"), 25);
  EXPECT_EQ(dorvex::getCommandType("par"), 5);
  EXPECT_EQ(dorvex::getCommandType("Par"), dorvex::kRtfUnlisted);
  EXPECT_EQ(dorvex::getCommandType("u"), 3);
  EXPECT_EQ(dorvex::getCommandType("ul"), dorvex::kRtfUnlisted);
}

TEST(Rtf, HexDigitsOfEscape) {
  {
    TokenStream t("g1");
    EXPECT_EQ(dorvex::getCharCode(t.in), 0);
    EXPECT_EQ(t.rest(), "g1");
  }
  {
    TokenStream t("ag");
    EXPECT_EQ(dorvex::getCharCode(t.in), 0xA);
    EXPECT_EQ(t.rest(), "g");
  }
  {
    TokenStream t("fFf");
    EXPECT_EQ(dorvex::getCharCode(t.in), 0xFF);
    EXPECT_EQ(t.rest(), "f");
  }
}

TEST(Rtf, NumberBounds) {
  struct Case {
    const char* text;
    std::int32_t value;
    const char* rest;
  };
  const Case cases[] = {
      {"123x", 123, "x"},
      {"-45 ", -45, " "},
      {"-", 0, ""},
      {"--5;", 0, ";"},
      {"12-3;", 12, ";"},
      {"2147483647;", INT32_MAX, ";"},
      {"2147483648;", INT32_MAX, ";"},
      {"-2147483649;", INT32_MIN, ";"},
      // 40 digits: 32 are kept, all are consumed.
      {"1234567890123456789012345678901234567890;", INT32_MAX, ";"},
      {"-000000000000000000000000000000000000000000000000007;", 0, ";"},
      {"00000000000000000000000000000007;", 7, ";"},
  };
  for (const Case& c : cases) {
    TokenStream t(c.text);
    EXPECT_EQ(dorvex::getNumber(t.in), c.value) << c.text;
    EXPECT_EQ(t.rest(), c.rest) << c.text;
  }
  // A clamped count still works as a count.
  EXPECT_EQ(rtf_text("{\\rtf1 {\\uc-99999999999999\\u233?}}"), "\xC3\xA9?\n");
}

TEST(Rtf, DeepNesting) {
  for (std::size_t depth : {25u, 100000u}) {
    std::string doc = "{\\rtf1 a" + std::string(depth, '{') + "x\\u233?" +
                      std::string(depth, '}') + "b}";
    int status = -1;
    EXPECT_EQ(rtf_text(doc, &status), "ax\xC3\xA9" "b\n") << depth;
    EXPECT_EQ(status, 0);
  }
  // Beyond the depth limit groups keep their text and their braces still balance: the group
  // after them is suppressed and the text after it is read at the right level.
  const std::size_t beyond = 250000;
  std::string deep = "{\\rtf1\\uc2 a" + std::string(beyond, '{') + "x\\u233??{y}" +
                     std::string(beyond, '}') + "{\\info hidden}b\\par c{d}}";
  EXPECT_EQ(rtf_text(deep), "ax\xC3\xA9yb\ncd\n");
  // The fallback count travels down a deep stack and back.
  std::string doc = "{\\rtf1\\uc2 " + std::string(30, '{') + "\\u233??" + std::string(30, '}') +
                    "\\u233??x}";
  EXPECT_EQ(rtf_text(doc), "\xC3\xA9\xC3\xA9x\n");
}

TEST(Rtf, LongParagraphIsWrittenInPieces) {
  const std::string text(300000, 'a');
  EXPECT_EQ(rtf_text("{\\rtf1 " + text + "\\par}"), text + "\n");
  // The first piece is handed over at 262,143 units, without a newline.
  testing_support::plain_setup();
  std::int32_t last = -1;
  std::string first = testing_support::capture([&] {
    for (int i = 0; i < 262142; ++i) dorvex::add_to_buffer(last, 'b');
  });
  EXPECT_EQ(first, "");
  EXPECT_EQ(last, 262141);
  std::string piece = testing_support::capture([&] { dorvex::add_to_buffer(last, 'c'); });
  EXPECT_EQ(last, -1);
  EXPECT_EQ(piece, std::string(262142, 'b') + "c");
  // A newline that fills the buffer ends the piece; the paragraph then adds nothing more.
  for (int i = 0; i < 262142; ++i) dorvex::add_to_buffer(last, 'b');
  std::string ended = testing_support::capture([&] { dorvex::end_paragraph(last); });
  EXPECT_EQ(ended, std::string(262142, 'b') + "\n");
  EXPECT_EQ(last, -1);
}

TEST(Rtf, PipeGivesSameTextAsFile) {
  const std::string doc = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 pipe caf\\'e9\\par}";
  const std::string expected = rtf_text(doc);
  ASSERT_EQ(expected, "pipe caf\xC3\xA9\n");
  unsigned char prefix[4];
  // A file whose first bytes were consumed: rewound, the prefix is not read twice.
  {
    std::FILE* f = testing_support::stream_of(doc);
    ASSERT_EQ(std::fread(prefix, 1, 4, f), 4u);
    std::string out = testing_support::capture([&] { dorvex::parse_rtf(f, prefix, 4); });
    EXPECT_EQ(out, expected);
    std::fclose(f);
  }
  // A pipe cannot be rewound: the prefix is handed back.
  std::FILE* p = testing_support::pipe_holding(doc);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(std::fread(prefix, 1, 4, p), 4u);
  std::string out = testing_support::capture([&] { dorvex::parse_rtf(p, prefix, 4); });
  EXPECT_EQ(out, expected);
  std::fclose(p);
}

// Font tables and the code pages of fonts, 8-bit and double-byte, through the shipped tables.
TEST(Rtf, TextDecodedThroughFontCodePages) {
  testing_support::ShippedCharsets charsets;
  const std::string fonts =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times;}"
      "{\\f1\\fcharset161 Greek;}{\\f2\\fcharset204 Cyr;}{\\f3\\cpg1251\\fcharset161 Both;}"
      "{\\f4\\fcharset128 Mincho;}{\\f5\\fcharset134 SimSun;}{\\f6\\fcharset136 MingLiU;}"
      "{\\f7\\fcharset129 Batang;}{\\f8\\fcharset130 Johab;}{\\f9\\cpg10001 Osaka;}}";
  struct Case {
    const char* body;
    const char* text;
  };
  const Case cases[] = {
      {"caf\\'e9 {\\f1 \\'e1\\'e2\\'e3} \\f2\\'cc\\'ee\\'f1\\'ea\\'e2\\'e0\\plain  \\'e9",
       "café αβγ Москва é"},
      {"\\f3\\'e0", "а"},                  // \cpg wins over \fcharset
      {"{\\f2\\'e0}\\'e0\\f99\\'e0", "аàà"},  // a group gives its font back; \f99 is no font
      {"\\f8\\'e9", "é"},                  // no table for johab: the document's code page
      // Japanese: escaped and literal trail bytes, an escaped backslash as a trail byte, and
      // raw lead bytes.
      {"\\f4\\'93\\'fa\\'96\\'7b\\'8c\\'ea \\'83e\\'83L\\'83X\\'83g \\'83\\\\\\'95\\\\ \x93\xfa",
       "日本語 テキスト ソ表 日"},
      {"\\f9\\'93\\'fa", "日"},                                  // Mac Japanese is read as cp932
      {"\\f5\\'d6\\'d0\\'ce\\'c4 \\f6\\'a4\\'a4\\'a4\\'e5 \\f7\\'c7\\'d1\\'b1\\'b9\\'be\\'ee",
       "中文 中文 한국어"},
      // A lead byte before a brace, before a low byte, with an unmapped trail, at the end.
      {"\\f4{\\'93}\\'93 x\\'81\\'7fy\\'93", "\xEF\xBF\xBD\xEF\xBF\xBD x\xEF\xBF\xBDy\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rtf_text(fonts + c.body + "}"), std::string(c.text) + "\n") << c.body;
  }
  // The default font applies from the end of the font table, and \plain goes back to it.
  EXPECT_EQ(rtf_text("{\\rtf1\\deff2{\\fonttbl{\\f2\\fcharset204 C;}{\\f1\\fcharset161 G;}}"
                     "\\'e0\\f1\\'e1\\plain\\'e0}"),
            "аαа\n");
  // The document's code page may itself be double-byte.
  EXPECT_EQ(rtf_text("{\\rtf1\\ansi\\ansicpg932 \\'93\\'fa}"), "日\n");
  // -s fixes the charset for the whole document, fonts included.
  dorvex::ctx().forced_charset = 1;
  EXPECT_EQ(rtf_text(fonts + "\\f1\\'e1\\f4\\'93\\'fa}"), "á\xC2\x93ú\n");
}

TEST(Rtf, DocumentCodePageWords) {
  testing_support::ShippedCharsets charsets;
  EXPECT_EQ(rtf_text("{\\rtf1\\pc \\'9b}"), "¢\n");
  EXPECT_EQ(rtf_text("{\\rtf1\\pca \\'9b}"), "ø\n");
  EXPECT_EQ(rtf_text("{\\rtf1\\mac \\'8e}"), "é\n");
  dorvex::ctx().forced_charset = 1;
  EXPECT_EQ(rtf_text("{\\rtf1\\pca \\'9b}"), "\xC2\x9B\n");
}

// Binary data, tables, line breaks and the destinations that are or are not text.
TEST(Rtf, StructureOfRealDocuments) {
  struct Case {
    const char* doc;
    const char* text;
  };
  const Case cases[] = {
      {"{\\rtf1 a\\bin5 {}\\{}b}", "ab"},
      {"{\\rtf1 a{\\pict\\bin3 }}}}c}", "ac"},
      {"{\\rtf1 a\\bin0 b}", "ab"},
      {"{\\rtf1 a\\bin-1 {b}", "a"},
      {"{\\rtf1 a\\bin2147483647 {b}", "a"},
      {"{\\rtf1 \\uc1\\u233\\bin2 }}b}", "éb"},  // binary data as the fallback character
      {"{\\rtf1 \\trowd a\\cell b\\cell\\row c\\line d}", "a\x1C" "b\x1C\x1E" "c\nd"},
      {"{\\rtf1 a\\nestcell b\\nestcell{\\*\\nesttableprops\\nestrow}\\cell\\row}",
       "a\x1C" "b\x1C\x1E\x1C\x1E"},
      {"{\\rtf1 {\\*\\nesttableprops\\trowd x\\nestcell\\nestrow}}", "x\x1C\x1E"},
      {"{\\rtf1 a{\\b\\*b}c{\\*\\x y}}", "abc"},  // \* is a destination mark only after "{"
      {"{\\rtf1 a{\\tc toc}b{\\tcn x}c}", "abc"},
      {"{\\rtf1 {\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}} "
       "{\\field{\\fldinst PAGE}{\\*\\fldrslt 3}}}",
       "link 3"},
      {"{\\rtf1 a{\\*\\footnote note{\\*\\x y}}b{\\footnote c}}", "anotebc"},
      {"{\\rtf1 {\\info{\\*\\footnote hidden}}x}", "x"},  // inside a suppressed group it stays so
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rtf_text(c.doc), std::string(c.text) + "\n") << c.doc;
  }
}

TEST(Rtf, SurrogatePairsStayTogether) {
  rtf_text("{\\rtf1 \\u-10179?\\u-8704?}");
  EXPECT_EQ(dorvex::ctx().buffer[0], 0xD83D);
  EXPECT_EQ(dorvex::ctx().buffer[1], 0xDE00);
  EXPECT_EQ(dorvex::ctx().buffer[2], '\n');
  // A high surrogate that would fill the paragraph goes on to the next piece.
  testing_support::plain_setup();
  std::int32_t last = -1;
  std::string piece = testing_support::capture([&] {
    for (int i = 0; i < 262142; ++i) dorvex::add_to_buffer(last, 'b');
    dorvex::add_to_buffer(last, 0xD83D);
  });
  EXPECT_EQ(piece, std::string(262142, 'b'));
  EXPECT_EQ(last, 0);
  EXPECT_EQ(dorvex::ctx().buffer[0], 0xD83D);
}

// Escapes and control words are read from the block in place when they lie wholly in it, and
// byte by byte near its end: both ways give the same text, across block boundaries too.
TEST(Rtf, InPlaceReadingMatchesByteByByte) {
  const char* snippets[] = {
      "\\u233?x", "\\u233 ?x", "\\u-3913?x", "\\u-32768?x", "\\u-32769?x", "\\u65601?",
      "\\u1234567?x", "\\u12-3?x", "\\u233\\'e9x", "\\u233{x}", "\\u233\r\n?x", "\\u-0?x",
      "{\\uc0\\u233?x}", "{\\uc2\\u233??x}", "\\'e9\\'E9\\'e\\'zz", "\\pard5 x", "\\tab\\lang1033  b",
      "\\uc2147483647\\u233 ab", "\\bin3 {}}x", "\\ulnone x",
  };
  const std::string pad = "{\\*\\pad" + std::string(80, ' ') + "}";
  for (const char* snippet : snippets) {
    const std::string doc = std::string("{\\rtf1 ") + snippet;
    EXPECT_EQ(rtf_text(doc + "}"), rtf_text(doc + pad + "}")) << snippet;
  }
  // Words of every length up to past the name limit, ended by bytes next to the letters in
  // ASCII, by bytes whose lower-case form would be a letter, and by the usual delimiters.
  const std::string letters = "tabazAZmnMNqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (std::size_t n = 1; n <= 40; ++n) {
    for (const char* delimiter : {" ", "5 ", "-3x", "{}", "\\\\", "@", "[", "`", "{", "\xC1", "\xE1",
                                  "~", "\x80", "\t"}) {
      const std::string doc = "{\\rtf1 \\" + letters.substr(0, n) + delimiter + "z";
      EXPECT_EQ(rtf_text(doc + "}"), rtf_text(doc + pad + "}")) << n << delimiter;
    }
  }
  // A document of several blocks whose escapes fall across the block ends at every offset.
  const std::string piece = "ab\\u1081?\\'e9 {\\uc2\\u233??}\\ldblquote\\u-3913?";
  const std::string text = "ab\xD0\xB9\xC3\xA9 \xC3\xA9\xE2\x80\x9C\xEF\x82\xB7";
  std::string doc = "{\\rtf1 ", expected;
  for (int i = 0; i < 3000; ++i) {
    doc += piece + std::string(static_cast<std::size_t>(i % 7), 'x');
    expected += text + std::string(static_cast<std::size_t>(i % 7), 'x');
  }
  // Plain runs of every length up to 40 meet the block ends at every offset too.
  for (int i = 0; i < 6000; ++i) {
    const std::string run(static_cast<std::size_t>(i % 41), static_cast<char>('a' + i % 26));
    doc += run + "\\par{\\b " + run + "}\\'e9\r\n";
    expected += run + "\n" + run + "\xC3\xA9";
  }
  EXPECT_EQ(rtf_text(doc + "}"), expected + "\n");
}

// Plain ASCII is copied 16 bytes at a time: whatever ends the run (structure, an escape, a line
// end, a byte the codec must decode, a byte of no text) at whatever distance from its start,
// the text is that of the same bytes read one at a time (a document too short for the wide copy).
TEST(Rtf, WideCopyOfPlainTextMatchesByteByByte) {
  const char* enders[] = {"{x}", "}{", "\\par ", "\\tab x", "\\'e9", "\\u233?", "\\\\",
                          "\r\n", "\x7F", "", "\x01", "\t",
                          "\x80", "\xE9", "\xFF", " ~", "[]`@"};
  for (const char* ender_text : enders) {
    const std::string ender = *ender_text ? ender_text : std::string("\0", 1);  // "": a 0 byte
    std::string alone = rtf_text("{\\rtf1 " + ender + "z}");
    ASSERT_GE(alone.size(), 2u);
    alone.resize(alone.size() - 2);  // the "z" and the paragraph's newline
    for (std::size_t before = 0; before <= 40; ++before) {
      const std::string head(before, 'a'), tail(40, 'b');
      EXPECT_EQ(rtf_text("{\\rtf1 " + head + ender + tail + "}"), head + alone + tail + "\n")
          << before << " " << ender_text;
    }
  }
}

// The wide copy is for codecs that read printable ASCII as itself; others decode every byte.
TEST(Rtf, CodecWithOwnAsciiDecodesEveryByte) {
  testing_support::TempDir dir;
  // 'a' is a Cyrillic letter here.
  const std::string table =
      testing_support::charset_lines(0x20, 0x7E, [](int b) { return b == 'a' ? 0x0410 : b; });
  testing_support::write_file(dir.file("cp1251.txt"), table);
  const char* saved_path = dorvex::ctx().charset_path;
  dorvex::ctx().charset_path = dir.path().c_str();
  dorvex::release_rtf_charsets();
  std::string expected;
  for (int i = 0; i < 40; ++i) expected += "\xD0\x90" "b";
  std::string doc;
  for (int i = 0; i < 40; ++i) doc += "ab";
  EXPECT_EQ(rtf_text("{\\rtf1\\ansicpg1251 " + doc + "}"), expected + "\n");
  // Printable ASCII as itself, but DEL a character of its own: DEL ends the wide copy.
  testing_support::write_file(
      dir.file("cp1250.txt"),
      testing_support::charset_lines(0x20, 0x7F, [](int b) { return b == 0x7F ? 0x2302 : b; }));
  for (std::size_t before = 0; before <= 20; ++before) {
    const std::string head(before, 'a'), tail(20, 'b');
    EXPECT_EQ(rtf_text("{\\rtf1\\ansicpg1250 " + head + "\x7F" + tail + "}"),
              head + "\xE2\x8C\x82" + tail + "\n") << before;
  }
  dorvex::release_rtf_charsets();
  dorvex::ctx().charset_path = saved_path;
}

// A run that fills the paragraph hands it over at the same unit wherever the run and its
// escapes stand, and a surrogate pair across that point stays whole.
TEST(Rtf, RunFillingTheParagraphKeepsPairs) {
  const std::string pair = "\\u-10179?\\u-8704?", emoji = "\xF0\x9F\x98\x80";
  for (std::size_t short_by = 0; short_by < 20; ++short_by) {
    const std::string text(262142 - short_by, 'a');
    EXPECT_TRUE(rtf_text("{\\rtf1 " + text + pair + "b\\par}") == text + emoji + "b\n") << short_by;
  }
  // Escapes and words that fill the paragraph, at every distance from its end up to past the
  // room the wide copy needs (16 units); the paragraph filled next to a block end (the buffer holds
  // 8 blocks) and away from it.
  const std::string pieces[][2] = {{"\\'e9", "\xC3\xA9"}, {"\\u233?", "\xC3\xA9"},
                                   {"\\tab ", "\t"}, {"\\endash ", "\xE2\x80\x93"},
                                   {"{b}", "b"}, {"bcd", "bcd"}};
  for (const std::string before : {"", "{before\\par}"}) {
    for (const auto& [piece, unit] : pieces) {
      for (std::size_t short_by = 0; short_by < 22; ++short_by) {
        const std::string text(262142 - short_by, 'a');
        std::string doc = "{\\rtf1 " + before + std::string(16000, '\n') + text, expected = text;
        for (int i = 0; i < 3; ++i) doc += piece, expected += unit;
        EXPECT_TRUE(rtf_text(doc + "x\\par}") == (before.empty() ? "" : "before\n") + expected + "x\n")
            << piece << " " << short_by;
      }
    }
  }
  // Plain text filling the paragraph with its units at every alignment to the 16 of a wide copy
  // (16 lead-ins of line ends), away from block ends: the copy never writes past the buffer.
  for (std::size_t lead = 16000; lead < 16016; ++lead) {
    const std::string text(262140, 'a');
    EXPECT_TRUE(rtf_text("{\\rtf1 " + std::string(lead, '\n') + text + "bcd\\par}") ==
                text + "bcd\n") << lead;
  }
  // Filled exactly at the end of a run: the unit after it still starts a new piece.
  const std::string filled(262143, 'a');
  EXPECT_TRUE(rtf_text("{\\rtf1 " + filled + "{b}c}") == filled + "bc\n");
}

// The common control words (up to 15 letters, up to 9 digits, outside the font table) are read
// in place by a step of their own. Each snippet is read byte by byte when it ends the document
// (within 28 bytes of the end), in place when padding follows it, and so too across a block end,
// at every offset, after text: the text is the same. The snippets cover numbers of every shape (the
// fallback count and \bin make them visible), words at the length limits and next to keywords,
// and the words that switch fonts, code pages and destinations.
TEST(Rtf, ShortControlWordsMatchByteByByte) {
  testing_support::ShippedCharsets charsets;
  const std::string head = "{\\rtf1\\ansi{\\fonttbl{\\f1\\fcharset204 C;}{\\f2\\fcharset0 L;}}";
  const char* snippets[] = {
      "\\f1\\'e0\\f2\\'e0",      "\\f1 \\'e0{\\f2\\'e0}\\'e0", "\\plain\\f1\\'e0\\plain\\'e0",
      "\\f-1\\'e0",              "\\f-\\'e0x",                "\\f--1 x",
      "\\f1-2 x",                "\\f01\\'e0",                "\\f000000001\\'e0",
      "\\f123456789 x",          "\\f1234567890 x",           "\\f99999999999 x",
      "\\f-2147483649 x",        "\\fs24x",                   "\\fs24  x",
      "\\fs24\tx",               "\\b0\\i x",                  "\\par5x",
      "\\tab1x",                 "\\endash-7x",               "\\lquote\\rquote x",
      "\\ldblquote x\\rdblquote",  "\\zwnj\\emspace\\bullet",    "\\pard\\plain x",
      "\\lang1033 x",            "\\overlay x",               "{\\listover x}",
      "{\\listoverridetab x}",   "{\\listoverridetable x}y",  "{\\generato x}",
      "{\\generator x}y",        "{\\generatorx x}",          "{\\nestcell\\nestrow x}",
      "{\\*\\fldrslt x}",        "{\\*\\fldinst x}y",         "{\\*\\foo x}y",
      "{\\info x}y",             "\\uc2\\u233??x",            "{\\uc0\\u233 x}",
      "\\u233\\'e9x",            "\\line\\row\\cell x",        "\\ansicpg1251\\'e0",
      "\\ansicpg932\\'93\\b x",  "\\bin3 {}}x",                "\\ulnone\\ul0 x",
      "\\ABC\\Par x",            "\\abcdefghijklmno x",       "\\abcdefghijklmnop x",
      "\\pc\\'e0\\mac\\'e0",       "\\deff1\\'e0",              "\\tab\r\n\\tab",
      "\\uc000000002\\u233??x",   "\\uc0000000002\\u233??x",   "\\uc2-1\\u233??x",
      "\\uc-1\\u233?x",           "\\bin000000003 {}}x",       "x\\bin4294967298 abcd",
      "x\\bin-1 ab",              "\\uc4294967298\\u233??x",   "\\abcdefghijklmno123456789 x",
      "\\ldblquote123456789x",    "\\emdash\\enspace\\overlay x",
  };
  const std::string pad(80, '\n');  // no text, no group: a group after \par would add a space
  for (const std::string snippet : snippets) {
    ASSERT_LT(snippet.size(), 28u) << snippet;  // else the end of the document is read in place
    const std::string alone = rtf_text(head + snippet + "}");
    EXPECT_EQ(rtf_text(head + snippet + pad + "}"), alone) << snippet;
    ASSERT_FALSE(alone.empty()) << snippet;  // text, so that text before it joins its paragraph
    for (std::size_t before_end = 0; before_end <= 30; ++before_end) {
      const std::string filler(dorvex::kRtfBlockSize - head.size() - before_end, 'a');
      EXPECT_TRUE(rtf_text(head + filler + snippet + pad + "}") == filler + alone)
          << snippet << " " << before_end;
    }
  }
}

// Control words are looked up by a hash of their letters: every keyword finds its kind, and
// words near to one (prefixes, one letter more or changed, other case) find what the rows say.
TEST(Rtf, KeywordLookupMatchesTheTable) {
  auto listed = [](const std::string& word) {
    for (const dorvex::RtfKeyword& row : dorvex::rtf_types) {
      if (word == row.name) return row.type;
    }
    return dorvex::kRtfUnlisted;
  };
  std::size_t checked = 0;
  for (const dorvex::RtfKeyword& row : dorvex::rtf_types) {
    const std::string name = row.name;
    std::vector<std::string> words = {name, name + "x", name + "a", name + name, "x" + name};
    for (std::size_t n = 1; n < name.size(); ++n) words.push_back(name.substr(0, n));
    for (std::size_t i = 0; i < name.size(); ++i) {
      std::string changed = name;
      changed[i] = static_cast<char>(changed[i] == 'z' ? 'a' : changed[i] + 1);
      words.push_back(changed);
      changed[i] = static_cast<char>(name[i] - 'a' + 'A');
      words.push_back(changed);
    }
    for (const std::string& word : words) {
      EXPECT_EQ(dorvex::getCommandType(word.c_str()), listed(word)) << word;
      ++checked;
    }
  }
  EXPECT_GT(checked, 1000u);
  const std::string longest(32, 'l');
  for (const char* word : {"", "b", "i", "ul", "cf", "fs", "s", "rtf", "ansi", "abcdefghijklmnopq",
                           "listoverridetablx", "listoverridetablee", longest.c_str()}) {
    EXPECT_EQ(dorvex::getCommandType(word), listed(word)) << word;
  }
}

// Hostile font tables and font changes cost bounded memory and time and never read out of
// bounds: many fonts, numbers and charsets of any size, \f naming no font, a font change at every
// level of a nesting deeper than the group limit.
TEST(Rtf, HostileFontsStayBounded) {
  testing_support::ShippedCharsets charsets;
  std::string table = "{\\rtf1\\ansi{\\fonttbl";
  for (int i = 20000; i > 0; --i) table += "{\\f" + std::to_string(i) + "\\fcharset204 F;}";
  table += "{\\f-2147483648\\fcharset2147483647\\cpg-1 X;}{\\f7\\cpg99999999 Y;}}";
  EXPECT_EQ(rtf_text(table + "\\f20000\\'e0\\f16000\\'e0\\f-2147483648\\'e0\\f7\\'e0\\f99999\\'e0}"),
            "аа\xC3\xA0\xC3\xA0\xC3\xA0\n");
  // Fonts defined past the table's limit (the first 4,096 are kept) read through the document's
  // code page.
  EXPECT_EQ(rtf_text(table + "\\f1\\'e0}"), "\xC3\xA0\n");
  const std::size_t depth = 150000;
  std::string deep = "{\\rtf1{\\fonttbl{\\f1\\fcharset204 C;}{\\f2\\fcharset161 G;}}";
  for (std::size_t i = 0; i < depth; ++i) deep += i % 2 ? "{\\f1 " : "{\\f2 ";
  deep += "\\'e0" + std::string(depth, '}') + "\\'e0}";
  // Beyond the group limit the deepest record's font changes in place; the last change holds
  // until the recorded groups close.
  EXPECT_EQ(rtf_text(deep), "а\xC3\xA0\n");
}

}  // namespace
