#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "charmaps.h"
#include "charsets.h"
#include "confutil.h"
#include "fileutil.h"
#include "fixture.h"
#include "substmap.h"

using testing_support::charset_from_text;
using testing_support::ConversionSettings;
using testing_support::TempDir;

namespace {

struct TableFree {
  void operator()(std::uint16_t* t) const { std::free(t); }
};
using Table = std::unique_ptr<std::uint16_t, TableFree>;

Table parse_ok(const std::string& text) {
  std::string messages;
  Table t(charset_from_text(text, &messages));
  EXPECT_EQ(messages, "");
  EXPECT_NE(t, nullptr);
  return t;
}

// Only the listed entries differ from the fresh table (0..31 themselves, the rest 0).
void expect_only(const std::uint16_t* t, const std::vector<std::pair<int, int>>& set) {
  for (int i = 0; i < 256; ++i) {
    int want = i < 32 ? i : 0;
    for (auto [index, value] : set)
      if (index == i) want = value;
    EXPECT_EQ(t[i], want) << "entry " << i;
  }
}

// A reverse map made from a table where bytes[i] stands for values[i], everything else 0.
dorvex::ReverseMap* map_of(const std::vector<std::pair<int, int>>& entries) {
  std::array<std::uint16_t, 256> t{};
  for (auto [b, u] : entries) t[b] = static_cast<std::uint16_t>(u);
  return dorvex::make_reverse_map(t.data());
}

}  // namespace

TEST(Charsets, FileSyntax) {
  if (Table t = parse_ok("# only a comment\n\n   # and another\n")) expect_only(t.get(), {});
  // Hexadecimal, and the same entry written in octal and decimal.
  if (Table t = parse_ok("0x80 0x0402 CYRILLIC CAPITAL LETTER DJE\n"))
    expect_only(t.get(), {{128, 0x402}});
  if (Table t = parse_ok("0200 1026\n")) expect_only(t.get(), {{128, 0x402}});
  if (Table t = parse_ok("+0X41 +0101\n")) expect_only(t.get(), {{0x41, 0x41}});
  // Only the first pair of a line counts.
  if (Table t = parse_ok("0x41 0x0041 0x42 0x0042\n")) expect_only(t.get(), {{0x41, 0x41}});
  // A lone number takes the next line's first number; the rest of that line is dropped.
  if (Table t = parse_ok("0x41\n0x42 0x0042\n0x43 0x0043\n"))
    expect_only(t.get(), {{0x41, 0x42}, {0x43, 0x43}});
  // A comma between the numbers: the line is ignored silently.
  if (Table t = parse_ok("0x41,0x0041\n0x44 0x44\n")) expect_only(t.get(), {{0x44, 0x44}});
  // One number followed by text: ignored whole.
  if (Table t = parse_ok("0x41 LATIN\n0x45 0x45\n")) expect_only(t.get(), {{0x45, 0x45}});
  // CR LF line ends, a last line without a line end, a later line for the same index wins.
  if (Table t = parse_ok("0x41 0x100\r\n0x41 0x200\r\n0xFF 0x2116"))
    expect_only(t.get(), {{0x41, 0x200}, {0xFF, 0x2116}});
  // Entries below 32 can be changed too; the accepted extremes of the value range.
  if (Table t = parse_ok("0x0A 0x2424\n0x80 0xFEFE\n0x81 0xFFFE\n0x82 0\n"))
    expect_only(t.get(), {{0x0A, 0x2424}, {0x80, 0xFEFE}, {0x81, 0xFFFE}});
  // "0x" without digits reads as 0, as the C library's scan has it.
  if (Table t = parse_ok("0x 0x30\n")) expect_only(t.get(), {{0, 0x30}});
  if (Table t = parse_ok("")) expect_only(t.get(), {});
}

// Lines close to the common shape `0xHH 0xHHHH`, which is read by a shortcut: each must come
// out as the two number scans read it. Index -1: the line sets nothing.
TEST(Charsets, CommonShapeAndItsNeighbours) {
  struct Case {
    const char* text;
    int index, value;
  };
  const Case cases[] = {
      {"0x41 0x0041 # LATIN CAPITAL LETTER A\n", 0x41, 0x41},
      {"0x41 0x0041\n", 0x41, 0x41},
      {"0x41 0x0041", 0x41, 0x41},  // no line end
      {"0x41 0x0041x\n", 0x41, 0x41},
      {"0x41 0x00411\n", 0x41, 0x411},
      {"0x41 0x004\n", 0x41, 0x4},
      {"0x41 0x00g1\n", 0x41, 0},
      {"0x4g 0x0041\n", -1, 0},
      {"0X41 0x0041\n", 0x41, 0x41},
      {"0x41 0X0041\n", 0x41, 0x41},
      {"0x41  0x0041\n", 0x41, 0x41},
      {"0x41\t0x0041\n", 0x41, 0x41},
      {" 0x41 0x0041\n", 0x41, 0x41},
      {"0x041 0x0041\n", 0x41, 0x41},
      {"0x41 0x0041 0x42 0x0042\n", 0x41, 0x41},
      {"0x41\n0x0041 0x42\n", 0x41, 0x41},
      {"0xaB 0xfEfE\n", 0xAB, 0xFEFE},
  };
  for (const Case& c : cases) {
    std::string messages;
    Table t(charset_from_text(c.text, &messages));
    ASSERT_NE(t, nullptr) << c.text;
    EXPECT_EQ(messages, "") << c.text;
    if (c.index < 0)
      expect_only(t.get(), {});
    else
      expect_only(t.get(), {{c.index, c.value}});
  }
  std::string messages;
  Table refused(charset_from_text("0x41 0xFEFF\n", &messages));
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(messages, "Invalid charset file test.txt\n");
}

// A table larger than the block it is first read into is read whole; an entry across the end
// of the block, at each of its places, counts as any other.
TEST(Charsets, LargeFileAndEntriesAcrossTheFirstBlock) {
  for (std::size_t pad = 16360; pad < 16400; ++pad) {
    std::string text = "#" + std::string(pad - 2, '-') + "\n0x81 0x0402 # across\n";
    text += std::string(20000, '#') + "\n0xFF 0x2116\n";
    std::string messages;
    Table t(charset_from_text(text, &messages));
    ASSERT_NE(t, nullptr) << pad;
    EXPECT_EQ(messages, "") << pad;
    expect_only(t.get(), {{0x81, 0x402}, {0xFF, 0x2116}});
  }
}

TEST(Charsets, InvalidFileIsRefusedWithItsPath) {
  const char* bad[] = {"0x100 0x41\n", "-1 0x41\n", "0x41 -5\n", "0x41 0xFEFF\n", "0x41 0xFFFD\n",
                       "0x41 0xFFFF\n", "0x41 0x10041\n",
                       // Out-of-range numbers must not wrap into valid ones.
                       "4294967361 65\n", "65 4294967361\n", "99999999999999999999999 65\n"};
  for (const char* text : bad) {
    std::string messages;
    dorvex::CharsetTable t =
        charset_from_text(std::string("0x41 0x41\n") + text, &messages, "/data/koi8-u.txt");
    EXPECT_EQ(t, nullptr) << text;
    EXPECT_EQ(messages, "Invalid charset file /data/koi8-u.txt\n") << text;
    std::free(t);
  }
}

TEST(Charsets, ReadCharsetFindsTheFileAlongCharsetPath) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::charset_path = dir.path().c_str();

  testing::internal::CaptureStderr();
  dorvex::CharsetTable missing = dorvex::read_charset("no-such");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot load charset no-such - file not found\n");
  EXPECT_EQ(missing, nullptr);

  if (!testing_support::find_file_works(dir)) GTEST_SKIP() << "find_file is not in place yet";
  testing_support::write_file(dir.file("mine.txt"), "# test\n0xA4 0x20AC\n");
  testing_support::write_file(dir.file("broken.txt"), "0xA4 0xFFFF\n");
  static char big_buffer[dorvex::kIoBufferSize];
  dorvex::input_buffer = big_buffer;  // loaded through the shared buffer as at start-up
  dorvex::CharsetTable t = dorvex::read_charset("mine");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t[0xA4], 0x20AC);
  EXPECT_EQ(t[0x1F], 0x1F);
  EXPECT_EQ(t[0x41], 0);
  std::free(t);

  testing::internal::CaptureStderr();
  EXPECT_EQ(dorvex::read_charset("broken"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Invalid charset file " + dir.file("broken.txt") + "\n");
}

// A directory named like a charset file opens, but every read fails: the load must end, and
// say why, instead of waiting for an end of file that never comes. It is no regular file, so
// it is refused as an invalid table before any read.
TEST(Charsets, charset_read_error_ends_the_load) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::charset_path = dir.path().c_str();
  if (!testing_support::find_file_works(dir)) GTEST_SKIP() << "find_file is not in place yet";
  std::filesystem::create_directory(dir.file("dir.txt"));
  std::FILE* probe = std::fopen(dir.file("dir.txt").c_str(), "rb");
  if (!probe) GTEST_SKIP() << "directories cannot be opened as files here";
  std::fclose(probe);
  testing::internal::CaptureStderr();
  EXPECT_EQ(dorvex::read_charset("dir"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid charset file " + dir.file("dir.txt") + "\n");
}

TEST(Charsets, ReverseMapHighestByteWins) {
  EXPECT_EQ(dorvex::make_reverse_map(nullptr), nullptr);

  std::array<std::uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i < 0x80 ? i : 0);
  t[0xA0] = 0x00A0;
  t[0xFF] = 0x00A0;
  t[0xC0] = 0xFB01;
  t[0xC1] = 0x8000;
  dorvex::ReverseMap* m = dorvex::make_reverse_map(t.data());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(dorvex::from_unicode(m, 0x00A0), 0xFF);
  EXPECT_EQ(dorvex::from_unicode(m, 0x0041), 0x41);
  // U+0000: the highest byte left at 0, not byte 0.
  EXPECT_EQ(dorvex::from_unicode(m, 0), 0xFE);
  EXPECT_EQ(dorvex::to_unicode(t.data(), 0xC0), 0xFB01);
  EXPECT_NE(m->rows[0xFB], nullptr);
  EXPECT_EQ(dorvex::from_unicode(m, 0xFB01), 0xC0);
  EXPECT_EQ(dorvex::from_unicode(m, 0xFB02), -1);
  EXPECT_EQ(dorvex::from_unicode(m, 0x8000), 0xC1);
  // Rows exist only for the high bytes in use.
  EXPECT_EQ(m->rows[0x20], nullptr);
  EXPECT_EQ(dorvex::from_unicode(m, 0x20AC), -1);
  EXPECT_EQ(dorvex::from_unicode(m, 0x0080), -1);
  dorvex::free_reverse_map(m);

  // Byte 0 gets U+0000 only when no byte above it stands for 0.
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i);
  m = dorvex::make_reverse_map(t.data());
  EXPECT_EQ(dorvex::from_unicode(m, 0), 0);
  EXPECT_EQ(dorvex::from_unicode(m, 0xFF), 0xFF);
  dorvex::free_reverse_map(m);
}

TEST(Charsets, CodepageNames) {
  EXPECT_STREQ(dorvex::charset_from_codepage(1251), "cp1251");
  const char* first = dorvex::charset_from_codepage(9999);
  EXPECT_STREQ(first, "cp9999");
  EXPECT_STREQ(dorvex::charset_from_codepage(0), "cp0");
  EXPECT_STREQ(first, "cp0");  // one area, overwritten by the next "cp" name
  EXPECT_STREQ(dorvex::charset_from_codepage(1200), "");
  EXPECT_STREQ(dorvex::charset_from_codepage(1201), "");
  EXPECT_STREQ(dorvex::charset_from_codepage(10000), "mac-roman");
  EXPECT_STREQ(dorvex::charset_from_codepage(10079), "mac-iselandic");
  EXPECT_STREQ(dorvex::charset_from_codepage(10082), "mac-croatia");
  EXPECT_STREQ(dorvex::charset_from_codepage(20866), "koi8-r");
  EXPECT_STREQ(dorvex::charset_from_codepage(28605), "8859-15");
  EXPECT_STREQ(dorvex::charset_from_codepage(65001), "utf-8");
  EXPECT_EQ(dorvex::charset_from_codepage(10009), nullptr);
  EXPECT_EQ(dorvex::charset_from_codepage(30000), nullptr);
  EXPECT_EQ(dorvex::charset_from_codepage(static_cast<unsigned>(-1251)), nullptr);
}

TEST(Charsets, ConvertCharPriorityOrder) {
  ConversionSettings saved;
  dorvex::ReverseMap* target = map_of({{0x41, 0x41}, {0x42, 0x42}, {0xE9, 0xE9}, {0xD0, 0x2014}});
  dorvex::SubstMap* special_map = testing_support::empty_map();
  dorvex::SubstMap* repl = testing_support::empty_map();
  dorvex::map_insert(special_map, 0x42, "\\B");
  dorvex::map_insert(repl, 0x41, "never");  // the target byte comes first
  dorvex::map_insert(repl, 0x20AC, "EUR");
  dorvex::map_insert(repl, 0x2022, "");
  dorvex::target_charset = target;
  dorvex::spec_chars = special_map;
  dorvex::replacements = repl;
  dorvex::unknown_as_hex = 0;

  EXPECT_STREQ(dorvex::convert_char(0x41), "A");
  EXPECT_STREQ(dorvex::convert_char(0x42), "\\B");  // overrides a byte the target has
  EXPECT_STREQ(dorvex::convert_char(0x2014), "\xD0");
  EXPECT_STREQ(dorvex::convert_char(0x20AC), "EUR");
  EXPECT_STREQ(dorvex::convert_char(0x2022), "");
  EXPECT_STREQ(dorvex::convert_char(0x0416), "?");
  // U+0000 maps to the highest byte left at 0 in the table made by map_of.
  EXPECT_STREQ(dorvex::convert_char(0), "\xFF");

  dorvex::bad_char[0] = '*';
  EXPECT_STREQ(dorvex::convert_char(0x0416), "*");
  dorvex::unknown_as_hex = 1;
  EXPECT_STREQ(dorvex::convert_char(0x20AC), "EUR");  // replacements before the hex form
  EXPECT_STREQ(dorvex::convert_char(0x0416), "\\x0416");
  EXPECT_STREQ(dorvex::convert_char(0xFB01), "\\xFB01");
  EXPECT_STREQ(dorvex::convert_char(0x00E8), "\\x00E8");
  // A character beyond U+FFFF is one unwritable character for an 8-bit target.
  EXPECT_STREQ(dorvex::convert_pair(0xD83D, 0xDE00), "\\x1F600");
  EXPECT_STREQ(dorvex::convert_pair(0xDBFF, 0xDFFF), "\\x10FFFF");
  dorvex::unknown_as_hex = 0;
  EXPECT_STREQ(dorvex::convert_pair(0xD83D, 0xDE00), "*");
  EXPECT_EQ(dorvex::longest_sequence, 6);  // the hex form's length, unchanged by map_insert

  dorvex::free_reverse_map(target);
  dorvex::free_substmap(special_map);
  dorvex::free_substmap(repl);
}

TEST(Charsets, ConvertCharUtf8Target) {
  ConversionSettings saved;
  dorvex::SubstMap* special_map = testing_support::empty_map();
  dorvex::SubstMap* repl = testing_support::empty_map();
  dorvex::map_insert(special_map, 0x22, "''");
  dorvex::map_insert(repl, 0xE9, "e");
  dorvex::target_charset = nullptr;
  dorvex::spec_chars = special_map;
  dorvex::replacements = repl;
  dorvex::unknown_as_hex = 1;

  const std::pair<int, const char*> cases[] = {{0x41, "A"},
                                               {0xE9, "\xC3\xA9"},
                                               {0x7F, "\x7F"},
                                               {0x80, "\xC2\x80"},
                                               {0x7FF, "\xDF\xBF"},
                                               {0x800, "\xE0\xA0\x80"},
                                               {0x20AC, "\xE2\x82\xAC"},
                                               {0xFFFF, "\xEF\xBF\xBF"},
                                               {0x22, "''"},
                                               {0, ""}};
  for (auto [u, bytes] : cases) {
    EXPECT_STREQ(dorvex::convert_char(u), bytes) << std::hex << u;
    EXPECT_STREQ(dorvex::to_utf8(u), u == 0x22 ? "\"" : bytes) << std::hex << u;
  }
  // A pair is one 4-byte character; a lone surrogate has no UTF-8 form and is unwritable.
  EXPECT_STREQ(dorvex::convert_pair(0xD83D, 0xDE00), "\xF0\x9F\x98\x80");
  EXPECT_STREQ(dorvex::convert_pair(0xDBFF, 0xDFFF), "\xF4\x8F\xBF\xBF");
  EXPECT_STREQ(dorvex::convert_char(0xD83D), "\\xD83D");
  EXPECT_STREQ(dorvex::to_utf8(0xD83D), "\xED\xA0\xBD");
  dorvex::unknown_as_hex = 0;
  EXPECT_STREQ(dorvex::convert_char(0xDE00), "?");
  dorvex::free_substmap(special_map);
  dorvex::free_substmap(repl);
}
