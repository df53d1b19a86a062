#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "context.h"
#include "charmaps.h"
#include "fileutil.h"
#include "fixture.h"
#include "substmap.h"

using testing_support::ConversionSettings;
using testing_support::map_from_text;
using testing_support::TempDir;

namespace {

// The entry for u as a std::string (embedded in "<none>" when absent).
std::string entry(const dorvex::SubstMap* m, int u) {
  const char* s = dorvex::map_subst(m, u);
  return s ? std::string(s) : std::string("<none>");
}

std::string hex4(int u) {
  char s[8];
  std::snprintf(s, sizeof s, "%04X", u);
  return s;
}

}  // namespace

TEST(Substmap, QuotingForms) {
  ConversionSettings saved;
  std::string messages;
  dorvex::SubstMap* m = map_from_text(
      "2014 --\n"
      "0x2013 -\n"
      "22 \"\\\"\"\n"
      "27 '\\''\n"
      "2022 \"\"\n"
      "28 (a(b)c)\n"
      "5B [x[y] tail ignored\n"
      "7B {{}\n"
      "A0 \\ x\n"
      "  \t00A9\t\"(c)\"   # a trailing comment is ignored\n"
      "ab \"lower-case code\"\n"
      "2026 ...\r\n"
      "2030 \"permille\"\r\n"
      "+0x47 plus\n"  // the code reads as strtol reads it: sign, 0x, digits
      "-0 \"zero\"\n",
      &messages);
  EXPECT_EQ(messages, "");
  EXPECT_EQ(entry(m, 0x2014), "--");
  EXPECT_EQ(entry(m, 0x2013), "-");
  EXPECT_EQ(entry(m, 0x22), "\"");
  EXPECT_EQ(entry(m, 0x27), "'");
  EXPECT_EQ(entry(m, 0x2022), "");
  EXPECT_EQ(entry(m, 0x28), "a(b");  // brackets do not nest
  EXPECT_EQ(entry(m, 0x5B), "x[y");
  EXPECT_EQ(entry(m, 0x7B), "{");
  EXPECT_EQ(entry(m, 0xA0), " x");  // an escaped blank stays in a bare text
  EXPECT_EQ(entry(m, 0xA9), "(c)");
  EXPECT_EQ(entry(m, 0xAB), "lower-case code");
  EXPECT_EQ(entry(m, 0x2026), "...");  // the CR of CR LF ends a bare text
  EXPECT_EQ(entry(m, 0x2030), "permille");
  EXPECT_EQ(entry(m, 0x47), "plus");
  EXPECT_EQ(entry(m, 0), "zero");
  EXPECT_EQ(entry(m, 0x41), "<none>");
  EXPECT_EQ(entry(m, 0x2015), "<none>");
  EXPECT_EQ(m->rows[0x01], nullptr);
  dorvex::free_substmap(m);
}

TEST(Substmap, Escapes) {
  ConversionSettings saved;
  std::string messages;
  dorvex::SubstMap* m = map_from_text(
      "41 \"\\b\\n\\r\\t\"\n"
      "42 \"\\0101\\0102\"\n"
      "43 \"x\\0y\"\n"
      "44 \\\\\\x\n"
      "45 \"\\\\\"\n"
      "46 \"\\0777\"\n"
      "47 (\\))\n"
      "48 \\0101\n"
      "49 \"\\08\"\n",
      &messages);
  EXPECT_EQ(messages, "");
  EXPECT_EQ(entry(m, 0x41), "\b\n\r\t");
  EXPECT_EQ(entry(m, 0x42), "AB");
  EXPECT_EQ(entry(m, 0x43), "x");  // \0 gives a byte 0, which ends the stored text
  EXPECT_EQ(entry(m, 0x44), "\\x");
  EXPECT_EQ(entry(m, 0x45), "\\");    // an escaped backslash does not escape the quote after it
  EXPECT_EQ(entry(m, 0x46), "\xFF");  // 0777 reduced to its low 8 bits
  EXPECT_EQ(entry(m, 0x47), ")");
  EXPECT_EQ(entry(m, 0x48), "A");
  EXPECT_EQ(entry(m, 0x49), std::string("", 0));  // 8 is not an octal digit: byte 0, then "8"
  dorvex::free_substmap(m);
}

TEST(Substmap, FaultyLinesAreReportedWithLineNumbers) {
  ConversionSettings saved;
  std::string messages;
  dorvex::SubstMap* m = map_from_text(
      "# comment\n"      // 1
      "\n"               // 2
      "FFFE x\n"         // 3
      "FFFF x\n"         // 4
      "-1 x\n"           // 5
      "41x \"a\"\n"      // 6
      "FFFD ok\n"        // 7
      "42\n"             // 8
      "43 \"open\n"      // 9
      "44 (open\n"       // 10
      "zz \"z\"\n"       // 11
      "0x \"z\"\n"       // 12
      "45 \"end\\\"\n"   // 13
      "123456789 x\n"    // 14
      "46 bare-at-end",  // 15: a bare text needs white space after it
      &messages, "/maps/ascii.rpl");
  EXPECT_EQ(messages,
            "Error parsing /maps/ascii.rpl(3)\n"
            "Error parsing /maps/ascii.rpl(4)\n"
            "Error parsing /maps/ascii.rpl(5)\n"
            "Error parsing /maps/ascii.rpl(6)\n"
            "Error parsing /maps/ascii.rpl(8): unterminated sequence\n"
            "Error parsing /maps/ascii.rpl(9): unterminated sequence\n"
            "Error parsing /maps/ascii.rpl(10): unterminated sequence\n"
            "Error parsing /maps/ascii.rpl(11)\n"
            "Error parsing /maps/ascii.rpl(12)\n"
            "Error parsing /maps/ascii.rpl(13): unterminated sequence\n"
            "Error parsing /maps/ascii.rpl(14)\n"
            "Error parsing /maps/ascii.rpl(15): unterminated sequence\n");
  EXPECT_EQ(entry(m, 0xFFFD), "ok");
  for (int u : {0x41, 0x42, 0x43, 0x44, 0x45, 0x46}) EXPECT_EQ(entry(m, u), "<none>") << u;
  dorvex::free_substmap(m);
}

TEST(Substmap, LongTextsAndLongLines) {
  ConversionSettings saved;
  dorvex::ctx().longest_sequence = 6;
  std::string messages;
  // 300 bytes of text: 256 are kept and longest_sequence follows.
  dorvex::SubstMap* m =
      map_from_text("41 \"" + std::string(300, 'a') + "\"\n42 \"1234567\"\n", &messages);
  EXPECT_EQ(messages, "");
  EXPECT_EQ(entry(m, 0x41), std::string(256, 'a'));
  EXPECT_EQ(entry(m, 0x42), "1234567");
  EXPECT_EQ(dorvex::ctx().longest_sequence, 256);
  dorvex::free_substmap(m);

  // Shorter texts raise it only as far as they go; octal bytes 0 count.
  dorvex::ctx().longest_sequence = 6;
  m = map_from_text("41 \"\\0\\0\\0\\0\\0\\0\\0\"\n42 abc\n", &messages);
  EXPECT_EQ(dorvex::ctx().longest_sequence, 7);
  EXPECT_EQ(entry(m, 0x41), "");
  dorvex::free_substmap(m);

  // A line over 1023 bytes is read in pieces, each counted as a line of its own: the first
  // piece ends inside the quotes, the second starts with "zz...".
  dorvex::ctx().longest_sequence = 6;
  std::string long_line = "41 \"" + std::string(1100, 'z') + "\"\n";
  m = map_from_text(long_line + "42 \"b\"\n", &messages, "m");
  EXPECT_EQ(messages, "Error parsing m(1): unterminated sequence\nError parsing m(2)\n");
  EXPECT_EQ(entry(m, 0x41), "<none>");
  EXPECT_EQ(entry(m, 0x42), "b");
  dorvex::free_substmap(m);
}

TEST(Substmap, LaterLineWinsAndInsertCopies) {
  ConversionSettings saved;
  std::string messages;
  dorvex::SubstMap* m = map_from_text("41 first\n41 \"second\"\n", &messages);
  EXPECT_EQ(entry(m, 0x41), "second");

  char text[] = "mutable";
  const char* copy = dorvex::map_insert(m, 0xFFFD, text);
  text[0] = 'X';
  EXPECT_STREQ(copy, "mutable");
  EXPECT_EQ(dorvex::map_subst(m, 0xFFFD), copy);
  EXPECT_EQ(dorvex::map_subst(m, 0x10000), nullptr);
  EXPECT_EQ(dorvex::map_subst(m, -1), nullptr);
  dorvex::free_substmap(m);
}

TEST(Substmap, Isstop) {
  for (char c : {' ', '\t', '\n', '\v', '\f', '\r'}) EXPECT_NE(dorvex::isstop(c, '\n'), 0) << c;
  for (int c : {int('a'), int('"'), int(')'), 0xA0, -96, 0x85})
    EXPECT_EQ(dorvex::isstop(c, '\n'), 0) << c;
  EXPECT_NE(dorvex::isstop(')', ')'), 0);
  EXPECT_EQ(dorvex::isstop(' ', ')'), 0);
  EXPECT_EQ(dorvex::isstop('\n', '"'), 0);
}

TEST(Substmap, ReadSubstmapAlongMapPath) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::ctx().map_path = dir.path().c_str();
  testing::internal::CaptureStderr();
  EXPECT_EQ(dorvex::read_substmap(dorvex::stradd("none", ".spc")), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the caller reports it

  if (!testing_support::find_file_works(dir)) GTEST_SKIP() << "find_file is not in place yet";
  testing_support::write_file(dir.file("tex.spc"), "# tex\n5C \\\\backslash\n26 \\\\&\nzz\n");
  static char big_buffer[dorvex::kIoBufferSize];
  dorvex::ctx().input_buffer = big_buffer;
  testing::internal::CaptureStderr();
  dorvex::SubstMap* m = dorvex::read_substmap(dorvex::stradd("tex", ".spc"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error parsing " + dir.file("tex.spc") + "(4)\n");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(entry(m, 0x5C), "\\backslash");
  EXPECT_EQ(entry(m, 0x26), "\\&");
  dorvex::free_substmap(m);
}

// A map read from a file is checked at once (messages, the longest text for the margin check)
// and stored when first consulted; entries inserted later replace stored ones.
TEST(Substmap, FileMapIsCheckedAtOnceAndStoredOnFirstUse) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::ctx().map_path = dir.path().c_str();
  if (!testing_support::find_file_works(dir)) GTEST_SKIP() << "find_file is not in place yet";
  std::string text = "41 \"\\0101\\0102\"\nzz\n2014 --\n";
  for (int u = 0x100; u < 0x1100; ++u) text += hex4(u) + " \"text " + std::to_string(u) + "\"\n";
  text += "42 \"" + std::string(9, 'x') + "\\n\"  # escapes count once translated: 10 bytes\n";
  text += "43 \"unterminated\n";
  testing_support::write_file(dir.file("big.rpl"), text);
  dorvex::ctx().longest_sequence = 6;
  testing::internal::CaptureStderr();
  dorvex::SubstMap* m = dorvex::read_substmap(dorvex::stradd("big", ".rpl"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error parsing " + dir.file("big.rpl") + "(2)\nError parsing " + dir.file("big.rpl") +
                "(4101): unterminated sequence\n");
  EXPECT_EQ(dorvex::ctx().longest_sequence, 10);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->rows[0x00], nullptr);  // nothing stored yet
  testing::internal::CaptureStderr();
  EXPECT_EQ(entry(m, 0x41), "AB");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // reported once, at start-up
  EXPECT_EQ(entry(m, 0x2014), "--");
  EXPECT_EQ(entry(m, 0x1234), "<none>");
  EXPECT_EQ(entry(m, 0x10FF), "text 4351");
  EXPECT_EQ(entry(m, 0x42), std::string(9, 'x') + "\n");
  EXPECT_EQ(dorvex::ctx().longest_sequence, 10);
  dorvex::map_insert(m, 0x2014, "dash");
  EXPECT_EQ(entry(m, 0x2014), "dash");
  dorvex::free_substmap(m);
}

namespace {

// What a map text gives: its messages and every stored entry, "code=text" lines in code order.
struct MapResult {
  std::string messages;
  std::string entries;
};

std::string entries_of(const dorvex::SubstMap* m) {
  dorvex::map_subst(m, 0);  // stores the entries of a map read from a file
  std::string out;
  for (int high = 0; high < 256; ++high) {
    if (!m->rows[high]) continue;
    for (int low = 0; low < 256; ++low)
      if (const char* s = m->rows[high][low]) out += hex4(high << 8 | low) + "=" + s + "\n";
  }
  return out;
}

// The simple rule, piece by piece: the pieces fgets delivers with a 1024-byte buffer, each parsed
// alone as a one-line map, its message renumbered to its place; later entries win.
MapResult reference_result(const std::string& text, const char* path) {
  MapResult r;
  std::FILE* f = testing_support::stream_of(text);
  char piece[1024];
  std::string merged;
  for (int line_no = 1; std::fgets(piece, sizeof piece, f); ++line_no) {
    std::string messages;
    dorvex::SubstMap* one = map_from_text(piece, &messages, "m");
    const std::string one_line = "m(1)";
    if (auto at = messages.find(one_line); at != std::string::npos)
      messages.replace(at, one_line.size(), "m(" + std::to_string(line_no) + ")");
    r.messages += messages;
    std::string stored = entries_of(one);  // "XXXX=text\n" or nothing
    if (!stored.empty()) merged += stored.substr(0, 4) + "\t" + stored.substr(5);
    dorvex::free_substmap(one);
  }
  std::fclose(f);
  // Later lines win: keep the last text of each code.
  dorvex::SubstMap* last = static_cast<dorvex::SubstMap*>(std::calloc(1, sizeof(dorvex::SubstMap)));
  for (std::size_t at = 0; at < merged.size();) {
    std::size_t tab = merged.find('\t', at), nl = merged.find('\n', tab);
    dorvex::map_insert(last, std::stoi(merged.substr(at, tab - at), nullptr, 16),
                       merged.substr(tab + 1, nl - tab - 1).c_str());
    at = nl + 1;
  }
  r.entries = entries_of(last);
  dorvex::free_substmap(last);
  return r;
}

// Lines of every length from 1 to 70 and pieces of long lines, each shape in turn, so that the
// ends of the reader's blocks fall at every place of a line, of a long line's pieces included.
std::string boundary_text() {
  std::string text;
  for (int i = 0; text.size() < 70000; ++i) {
    const std::string code = hex4(0x100 + i % 0xFE00);
    std::string body(static_cast<std::size_t>(i % 70), static_cast<char>('a' + i % 26));
    if (i % 97 == 0) body.assign(static_cast<std::size_t>(1000 + i % 150), 'L');  // over 1023
    switch (i % 7) {
      case 0: text += code + " \"" + body + "\"  # a name\n"; break;
      case 1: text += code + " " + body + "\n"; break;
      case 2: text += "  " + code + "\t(" + body + ")\n"; break;
      case 3: text += "# comment " + body + "\n"; break;
      case 4: text += code + " \"" + body + "\n"; break;  // unterminated
      case 5: text += code + " \"" + body + "\\\"\"\n"; break;
      default: text += "\n"; break;
    }
  }
  return text;
}

// The messages of a map read by name "m": those of a text given as "m" with the file's path.
std::string with_path(std::string messages, const std::string& path) {
  const std::string prefix = "Error parsing " + path;
  for (std::size_t at = 0; (at = messages.find("Error parsing m(", at)) != std::string::npos;) {
    messages.replace(at, 15, prefix);
    at += prefix.size();
  }
  return messages;
}

// Writes text as the map file m.rpl and reads it by name, as the check at start-up and the load
// on first use do: the messages, the longest text and the entries must be as wanted.
void expect_read_from_file(const TempDir& dir, const std::string& text, const std::string& messages,
                           int longest, const std::string& entries,
                           std::size_t cut) {
  testing_support::write_file(dir.file("m.rpl"), text);
  dorvex::ctx().longest_sequence = 6;
  testing::internal::CaptureStderr();
  dorvex::SubstMap* m = dorvex::read_substmap(dorvex::stradd("m", ".rpl"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), messages) << "cut " << cut;
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(dorvex::ctx().longest_sequence, longest) << "cut " << cut;
  EXPECT_EQ(entries_of(m), entries) << "cut " << cut;
  dorvex::free_substmap(m);
}

}  // namespace

// The file is read through a block of fixed size: pieces and line numbers must come out as the
// simple rule gives them wherever the block ends, for the check, the load on first use, and a
// load from an open file alike. A first line of blanks, shortened a byte at a time, moves every
// block end through 70 places of the lines after it, which the simple rule gives alike.
TEST(Substmap, BlockEndsFallAnywhereInALine) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::ctx().map_path = dir.path().c_str();
  const std::string text = std::string(80, ' ') + "\n" + boundary_text();
  dorvex::ctx().longest_sequence = 6;
  const MapResult want = reference_result(text, "m");
  const int longest = dorvex::ctx().longest_sequence;
  ASSERT_NE(want.messages, "");
  ASSERT_GT(longest, 6);
  const std::string want_checked = with_path(want.messages, dir.file("m.rpl"));
  for (std::size_t cut = 0; cut < 70; ++cut) {
    const std::string shifted = text.substr(cut);
    dorvex::ctx().longest_sequence = 6;
    MapResult loaded;
    dorvex::SubstMap* m = map_from_text(shifted, &loaded.messages, "m");
    loaded.entries = entries_of(m);
    dorvex::free_substmap(m);
    EXPECT_EQ(loaded.messages, want.messages) << "cut " << cut;
    EXPECT_EQ(loaded.entries, want.entries) << "cut " << cut;
    EXPECT_EQ(dorvex::ctx().longest_sequence, longest) << "cut " << cut;

    expect_read_from_file(dir, shifted, want_checked, longest, want.entries, cut);
  }
}

// Lines close to the common shape `XXXX "text"`, which is read by a shortcut: each must come
// out as the general parser has it.
TEST(Substmap, CommonShapeAndItsNeighbours) {
  ConversionSettings saved;
  struct Case {
    const char* line;
    const char* message;  // after "Error parsing m(1)", or null when the line is fine
    int code;
    const char* text;
  };
  const Case cases[] = {
      {"0041 \"a\"\n", nullptr, 0x41, "a"},
      {"ffFD \"x\"  # the highest code\n", nullptr, 0xFFFD, "x"},
      {"FFFE \"x\"\n", "", 0, nullptr},
      {"FFFF \"x\"\n", "", 0, nullptr},
      {"0041  \"two blanks\"\n", nullptr, 0x41, "two blanks"},
      {"0041\t\"tab\"\n", nullptr, 0x41, "tab"},
      {"00411 \"five digits\"\n", nullptr, 0x411, "five digits"},
      {"041 \"three digits\"\n", nullptr, 0x41, "three digits"},
      {"0x41 \"prefix\"\n", nullptr, 0x41, "prefix"},
      {"+041 \"sign\"\n", nullptr, 0x41, "sign"},
      {"00G1 \"x\"\n", "", 0, nullptr},
      {"0041 'single'\n", nullptr, 0x41, "single"},
      {"0041 \"\"\n", nullptr, 0x41, ""},
      {"0041 \"\n", ": unterminated sequence", 0, nullptr},
      {"0041 \"", ": unterminated sequence", 0, nullptr},
      {"0041 ", ": unterminated sequence", 0, nullptr},
      {"0041", "", 0, nullptr},
      {"004", "", 0, nullptr},
      {"0041 \"a\\\"b\"\n", nullptr, 0x41, "a\"b"},
      {"0041 \"a\\", ": unterminated sequence", 0, nullptr},
      {"0041 \"long text here\"\n", nullptr, 0x41, "long text here"},
  };
  for (const Case& c : cases) {
    std::string messages;
    dorvex::ctx().longest_sequence = 6;
    dorvex::SubstMap* m = map_from_text(c.line, &messages, "m");
    std::string want = c.message ? std::string("Error parsing m(1)") + c.message + "\n" : "";
    EXPECT_EQ(messages, want) << c.line;
    if (c.text) {
      EXPECT_EQ(entry(m, c.code), c.text) << c.line;
      EXPECT_EQ(dorvex::ctx().longest_sequence, std::max<int>(6, int(std::strlen(c.text)))) << c.line;
    }
    EXPECT_EQ(entries_of(m).size(), c.text ? hex4(c.code).size() + std::strlen(c.text) + 2 : 0u)
        << c.line;
    dorvex::free_substmap(m);
  }
}

// The entries of a large map are read again on first use: a file changed since the check stores
// no text longer than the check found (the margin was checked against that), and a file gone
// leaves the map empty. A small map is stored at once.
TEST(Substmap, FileChangedOrGoneBeforeFirstUse) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::ctx().map_path = dir.path().c_str();
  const std::string large = std::string(20000, '#') + "\n";
  testing_support::write_file(dir.file("c.rpl"), large + "41 \"1234567\"\n42 \"b\"\n");
  dorvex::ctx().longest_sequence = 6;
  dorvex::SubstMap* m = dorvex::read_substmap(dorvex::stradd("c", ".rpl"));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(dorvex::ctx().longest_sequence, 7);
  EXPECT_EQ(m->rows[0x00], nullptr);
  testing_support::write_file(dir.file("c.rpl"),
                              large + "41 \"" + std::string(300, 'x') + "\"\n43 \"1234567\"\n");
  EXPECT_EQ(entry(m, 0x41), "<none>");
  EXPECT_EQ(entry(m, 0x43), "1234567");
  EXPECT_EQ(entry(m, 0x42), "<none>");
  EXPECT_EQ(dorvex::ctx().longest_sequence, 7);
  dorvex::free_substmap(m);

  testing_support::write_file(dir.file("d.rpl"), large + "41 \"a\"\n");
  m = dorvex::read_substmap(dorvex::stradd("d", ".rpl"));
  ASSERT_NE(m, nullptr);
  std::remove(dir.file("d.rpl").c_str());
  EXPECT_EQ(entry(m, 0x41), "<none>");
  dorvex::free_substmap(m);

  testing_support::write_file(dir.file("e.spc"), "41 \"a\"\n");
  m = dorvex::read_substmap(dorvex::stradd("e", ".spc"));
  ASSERT_NE(m, nullptr);
  EXPECT_NE(m->rows[0x00], nullptr);
  std::remove(dir.file("e.spc").c_str());
  EXPECT_EQ(entry(m, 0x41), "a");
  dorvex::free_substmap(m);
}

// The line ends of a 64-byte group against the simple rule: a newline, or two, at every pair
// of places of a buffer, at every offset from a 16-byte boundary.
TEST(Substmap, LineEndBitsAtEveryPosition) {
  alignas(16) char buf[dorvex::kLineEndGroup + 16];
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t first = 0; first <= dorvex::kLineEndGroup; ++first) {
      for (std::size_t second = first; second <= dorvex::kLineEndGroup; second += 7) {
        std::memset(buf, 'x', sizeof buf);
        if (first < dorvex::kLineEndGroup) buf[offset + first] = '\n';
        if (second < dorvex::kLineEndGroup) buf[offset + second] = '\n';
        buf[offset + dorvex::kLineEndGroup] = '\n';  // past the group: never reported
        std::uint64_t want = 0;
        for (std::size_t i = 0; i < dorvex::kLineEndGroup; ++i)
          if (buf[offset + i] == '\n') want |= std::uint64_t(1) << i;
        EXPECT_EQ(dorvex::line_end_bits(buf + offset), want)
            << "offset " << offset << " newlines " << first << " " << second;
      }
    }
  }
}

// The check at start-up skims lines of the common shape whose text cannot be the longest; the
// lines near that shape (an escape, a text one byte longer than the longest so far, no closing
// quote, a zero byte, a code too high) must still come out as the simple rule gives them, with
// the skimmed lines' ends at every offset of the 16-byte groups and of the reader's block.
TEST(Substmap, CheckSkimsCommonLinesAsTheSimpleRule) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::ctx().map_path = dir.path().c_str();
  if (!testing_support::find_file_works(dir)) GTEST_SKIP() << "find_file is not in place yet";
  // Lines one step away from the common shape, or just inside it.
  using std::string_literals::operator""s;
  const std::string neighbours[] = {
      "ffFD \"x\"  # the highest code\n", "FFFE \"x\"\n", "FFFF \"\"\n", "FFEF \"y\"\n",
      "0041  \"two blanks\"\n", "0041\t\"tab\"\n", "00411 \"five digits\"\n",
      "041 \"three digits\"\n", "0x41 \"prefix\"\n", "+041 \"sign\"\n", "00G1 \"x\"\n",
      "0041 'single'\n", "0041 \"\"\n", "0041 \"\n", "0041 \n", "0041\n", "004\n",
      "\xC1\xC1\xC1\xC1 \"x\"\n",
      "0041 \"a\\\"b\"\n", "0041 \"123456\"\n", "0041 \"1234567\"\n", "0041 \"a\"  # \0 zero\n"s,
      "0041 \"a\\\n", "0041 \"\\\"\n", "  0041 \"lead\"\n", "0041 \"\0\"\n"s,
      "# 0041 \"comment\"\n", "\n",
  };
  std::string text;
  for (int i = 0; text.size() < 40000; ++i) {
    const std::string code = hex4(0x100 + i % 0xFE00);
    const std::string body(static_cast<std::size_t>(i % 11), static_cast<char>('a' + i % 26));
    const std::string name(static_cast<std::size_t>(i % 37), 'N');
    switch (i % 13) {
      case 7: text += neighbours[static_cast<std::size_t>(i / 13) % std::size(neighbours)]; break;
      case 0: text += code + " \"" + body + "\\\"x\"  # " + name + "\n"; break;
      case 1: text += code + " \"" + body + "\n"; break;
      case 2: text += code + " \"" + body + std::string(1, '\0') + "\"\n"; break;
      case 3: text += "FFFE \"" + body + "\"\n"; break;
      case 4: text += code + " \"" + body + "\"" + name; break;  // runs into the next line
      case 5:
        if (i % 29 == 5) text += code + " \"" + std::string(static_cast<std::size_t>(i % 40), 'w') + "\"\n";
        else text += code + " \"" + body + "\"\n";
        break;
      case 6: text += code + " \"" + body + "\"" + std::string(1030 + i % 20, 'C') + "\n"; break;
      default: text += code + " \"" + body + "\"  # " + name + "\n"; break;
    }
  }
  for (std::size_t cut = 0; cut < 40; ++cut) {
    const std::string shifted = text.substr(cut);
    dorvex::ctx().longest_sequence = 6;
    const MapResult want = reference_result(shifted, "m");
    const int longest = dorvex::ctx().longest_sequence;
    const std::string want_checked = with_path(want.messages, dir.file("m.rpl"));
    ASSERT_NE(want_checked, "");
    expect_read_from_file(dir, shifted, want_checked, longest, want.entries, cut);
  }
}

// The longest text the check finds, when a text is one byte longer than the longest before it,
// as long, or shorter, at the start of a line and in the middle of the reader's block.
TEST(Substmap, CheckFindsTheLongestText) {
  ConversionSettings saved;
  TempDir dir;
  dorvex::ctx().map_path = dir.path().c_str();
  if (!testing_support::find_file_works(dir)) GTEST_SKIP() << "find_file is not in place yet";
  std::string padding;
  for (int i = 0; padding.size() < 17000; ++i) padding += hex4(0x100 + i) + " \"a\"  # name\n";
  for (std::size_t first = 0; first <= 12; ++first) {
    for (std::size_t second : {first + 2, first + 1, first, first > 0 ? first - 1 : 0}) {
      for (const std::string& before : {std::string(), padding}) {
        const std::string text = before + "0042 \"" + std::string(first, 'x') + "\"\n0043 \"" +
                                 std::string(second, 'y') + "\"  # name\n" + padding;
        const int longest = static_cast<int>(std::max<std::size_t>({6, first, second}));
        testing_support::write_file(dir.file("m.rpl"), text);
        dorvex::ctx().longest_sequence = 6;
        testing::internal::CaptureStderr();
        dorvex::SubstMap* m = dorvex::read_substmap(dorvex::stradd("m", ".rpl"));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(dorvex::ctx().longest_sequence, longest) << first << " then " << second;
        dorvex::free_substmap(m);
      }
    }
  }
}
