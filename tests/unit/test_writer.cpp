#include "writer.h"

#include <gtest/gtest.h>

#include <string>

#include "fixture.h"
#include "substmap.h"

namespace {

using testing_support::capture;

std::string write_chars(int margin, const std::string& text) {
  testing_support::plain_setup();
  dorvex::wrap_margin = margin;
  std::string out = capture([&] {
    for (char c : text) {
      const char seq[2] = {c, '\0'};
      dorvex::out_char(seq);
    }
    dorvex::flush_line();
  });
  dorvex::wrap_margin = 0;
  return out;
}

TEST(Writer, NewlineIsDoubledOnlyWhenWrapping) {
  EXPECT_EQ(write_chars(0, "Hello\n"), "Hello\n");
  EXPECT_EQ(write_chars(72, "Hello\n"), "Hello\n\n");
}

TEST(Writer, BreaksAtLastSpaceWithinMargin) {
  EXPECT_EQ(write_chars(10, "abcd efgh ijkl\n"), "abcd efgh\nijkl\n\n");
  // A space exactly at the margin ends the line there and is dropped.
  EXPECT_EQ(write_chars(10, "abcdefghij klm\n"), "abcdefghij\nklm\n\n");
  // A line of exactly margin bytes stays whole.
  EXPECT_EQ(write_chars(10, "abcdefghij\n"), "abcdefghij\n\n");
  // Tabs count as spaces for breaking.
  EXPECT_EQ(write_chars(5, "abc\tdefg\n"), "abc\ndefg\n\n");
}

TEST(Writer, CutsWordsLongerThanMargin) {
  EXPECT_EQ(write_chars(10, std::string(25, 'x') + "\n"),
            std::string(10, 'x') + "\n" + std::string(10, 'x') + "\n" + std::string(5, 'x') +
                "\n\n");
  // Index 0 is never a break point.
  EXPECT_EQ(write_chars(10, " abcdefghijkl\n"), " abcdefghi\njkl\n\n");
}

TEST(Writer, CountsWidthInBytesOfMultiByteOutput) {
  testing_support::plain_setup();
  dorvex::wrap_margin = 10;
  // Six two-byte letters (12 bytes) with no space: the break divides the sixth letter.
  std::string out = capture([] {
    for (int i = 0; i < 6; ++i) dorvex::out_char("\xD0\x96");
    dorvex::out_char("\n");
  });
  dorvex::wrap_margin = 0;
  EXPECT_EQ(out, "\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\n\xD0\x96\n\n");
}

TEST(Writer, SpecialCharacterEntryForNewlineReplacesSecondNewline) {
  testing_support::plain_setup();
  dorvex::SubstMap* map = testing_support::empty_map();
  dorvex::map_insert(map, '\n', "<br>\n");
  dorvex::spec_chars = map;
  dorvex::wrap_margin = 72;
  std::string out = capture([] {
    dorvex::out_char("a");
    dorvex::out_char("\n");
  });
  testing_support::plain_setup();
  dorvex::free_substmap(map);
  EXPECT_EQ(out, "a\n<br>\n");
}

TEST(Writer, HeldTextIsWrittenAtEndOfInput) {
  EXPECT_EQ(write_chars(72, "tail without newline"), "tail without newline\n");
  EXPECT_EQ(write_chars(72, ""), "");
}

TEST(Writer, LongSequencesNeverOverrunLineBuffer) {
  // Margins below the sequence length, and long map strings at a large margin: every line
  // still fits within the margin, and no byte is lost.
  const std::string seq(200, 'y');
  for (int margin : {1, 3, 100, 300, 505}) {
    testing_support::plain_setup();
    dorvex::wrap_margin = margin;
    std::string out = capture([&] {
      for (int i = 0; i < 20; ++i) {
        dorvex::out_char(seq.c_str());
        dorvex::out_char(" ");
      }
      dorvex::flush_line();
    });
    dorvex::wrap_margin = 0;
    std::size_t ys = 0, start = 0;
    for (std::size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
      EXPECT_LE(nl - start, static_cast<std::size_t>(margin)) << "margin " << margin;
      for (std::size_t i = start; i < nl; ++i) ys += out[i] == 'y';
    }
    EXPECT_EQ(ys, 20 * seq.size()) << "margin " << margin;
  }
}

TEST(Writer, OutputParagraphConvertsEachUnitUpToZero) {
  testing_support::plain_setup();
  const std::uint16_t par[] = {'A', 0xE9, 0x20AC, '\n', 0, 'Z'};
  EXPECT_EQ(capture([&] { dorvex::output_paragraph(par); }), "A\xC3\xA9\xE2\x82\xAC\n");
}

}  // namespace
