#include "context.h"
#include "writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "charsets.h"

#include "fixture.h"
#include "substmap.h"

namespace {

using testing_support::capture;

std::string write_chars(int margin, const std::string& text) {
  testing_support::plain_setup();
  dorvex::ctx().wrap_margin = margin;
  std::string out = capture([&] {
    for (char c : text) {
      const char seq[2] = {c, '\0'};
      dorvex::out_char(seq);
    }
    dorvex::flush_line();
  });
  dorvex::ctx().wrap_margin = 0;
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

// The margin counts columns of UTF-8 output: a letter one, a wide character two, a combining
// mark none; a forced break falls between characters, keeping marks with their letter.
TEST(Writer, CountsColumnsOfMultiByteOutput) {
  testing_support::plain_setup();
  struct Case {
    int margin;
    std::vector<const char*> chars;
    const char* want;
  };
  const Case cases[] = {
      // Eleven two-byte letters (22 bytes) at margin 10: ten on the first line.
      {10, std::vector<const char*>(11, "\xD0\x96"),
       "\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\n\xD0\x96\n\n"},
      // e and a combining acute: four of them are 4 columns.
      {4, {"e", "\xCC\x81", "e", "\xCC\x81", "e", "\xCC\x81", "e", "\xCC\x81", "x"},
       "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81\nx\n\n"},
      // Wide characters: two per line at margin 5, a break between them without spaces.
      {5, {"\xE6\x97\xA5", "\xE6\x9C\xAC", "\xE8\xAA\x9E"},
       "\xE6\x97\xA5\xE6\x9C\xAC\n\xE8\xAA\x9E\n\n"},
      // A space wins over an earlier wide-character boundary, a later boundary over a space.
      {6, {"\xE6\x97\xA5", "\xE6\x9C\xAC", " ", "a", "b", "c"},
       "\xE6\x97\xA5\xE6\x9C\xAC\nabc\n\n"},
      {6, {"a", " ", "\xE6\x97\xA5", "\xE6\x9C\xAC", "\xE8\xAA\x9E"},
       "a \xE6\x97\xA5\xE6\x9C\xAC\n\xE8\xAA\x9E\n\n"},
  };
  for (const Case& c : cases) {
    dorvex::ctx().wrap_margin = c.margin;
    std::string out = capture([&] {
      for (const char* ch : c.chars) dorvex::out_char(ch);
      dorvex::out_char("\n");
    });
    EXPECT_EQ(out, c.want) << c.margin;
  }
  dorvex::ctx().wrap_margin = 0;
}

TEST(Writer, SpecialCharacterEntryForNewlineReplacesSecondNewline) {
  testing_support::plain_setup();
  dorvex::SubstMap* map = testing_support::empty_map();
  dorvex::map_insert(map, '\n', "<br>\n");
  dorvex::ctx().spec_chars = map;
  dorvex::ctx().wrap_margin = 72;
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
  // fits within the margin unless it is one sequence wider than it (a forced break divides no
  // converted character), and no byte is lost.
  const std::string seq(200, 'y');
  for (int margin : {1, 3, 100, 300, 505}) {
    testing_support::plain_setup();
    dorvex::ctx().wrap_margin = margin;
    std::string out = capture([&] {
      for (int i = 0; i < 20; ++i) {
        dorvex::out_char(seq.c_str());
        dorvex::out_char(" ");
      }
      dorvex::flush_line();
    });
    dorvex::ctx().wrap_margin = 0;
    std::size_t ys = 0, start = 0;
    for (std::size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
      EXPECT_LE(nl - start, std::max(static_cast<std::size_t>(margin), seq.size())) << margin;
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

// The paragraph writer copies runs and converts the rest through its cache; out_char takes one
// converted character at a time. Both must give the same bytes at every margin, for text that
// mixes ASCII runs longer than a line, spaces at and around the margin, 2- and 3-byte UTF-8,
// characters of a substitution map, newlines and surrogate pairs, over several paragraphs.
TEST(Writer, ParagraphsMatchCharacterByCharacterAtEveryMargin) {
  std::u16string text;
  for (int i = 0; i < 6; ++i) {
    text += u"A fairly long line of plain ASCII words, long enough to pass the margin ";
    text += std::u16string(90 - i * 15, u'x');
    text += u" \u0416\u0416 \u65E5\u672C\u8A9E tail\tx\u00AD";
    text += u"\U0001F600\U0001F600ab\xD83D c \xDE00\u0001\n";
  }
  std::vector<std::uint16_t> par(text.begin(), text.end());
  par.push_back(0);
  dorvex::SubstMap* map = testing_support::empty_map();
  dorvex::map_insert(map, 0xAD, "");
  dorvex::map_insert(map, 0x01, "<one>");
  for (bool utf8 : {true, false}) {
    for (int margin = 0; margin <= 90; ++margin) {
      testing_support::plain_setup();
      dorvex::ctx().spec_chars = map;
      dorvex::ctx().wrap_margin = margin;
      dorvex::ReverseMap* latin1 = utf8 ? nullptr : dorvex::make_reverse_map(dorvex::ctx().source_charset);
      dorvex::ctx().target_charset = latin1;
      std::string blocks = capture([&] {
        dorvex::output_paragraph(par.data());
        dorvex::flush_line();
      });
      std::string chars = capture([&] {
        for (std::size_t i = 0; par[i]; ++i) {
          if (dorvex::is_high_surrogate(par[i]) && dorvex::is_low_surrogate(par[i + 1])) {
            dorvex::out_char(dorvex::convert_pair(par[i], par[i + 1]));
            ++i;
          } else {
            dorvex::out_char(dorvex::convert_char(par[i]));
          }
        }
        dorvex::flush_line();
      });
      EXPECT_EQ(blocks, chars) << "margin " << margin << (utf8 ? " utf-8" : " latin-1");
      dorvex::free_reverse_map(latin1);
    }
  }
  testing_support::plain_setup();
  dorvex::free_substmap(map);
}

// ASCII runs are copied sixteen units at a time, reading on to the end of the paragraph: a
// paragraph that ends at every position, at margins around its runs, gives the same bytes as
// out_char.
TEST(Writer, ParagraphsEndingAtEveryPositionMatchCharacterByCharacter) {
  const std::u16string text =
      u"Short words and a long one: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx, then "
      u"\u0416\u0416 \u65E5 tabs\tand ends of lines\n and more text after them, to the end.";
  const std::vector<std::uint16_t> par(text.begin(), text.end());
  for (int margin : {0, 7, 16, 17, 33, 72}) {
    for (std::size_t n = 0; n <= par.size(); ++n) {
      testing_support::plain_setup();
      dorvex::ctx().wrap_margin = margin;
      std::string blocks = capture([&] {
        dorvex::output_paragraph_units(par.data(), n);
        dorvex::flush_line();
      });
      std::string chars = capture([&] {
        for (std::size_t i = 0; i < n; ++i) dorvex::out_char(dorvex::convert_char(par[i]));
        dorvex::flush_line();
      });
      EXPECT_EQ(blocks, chars) << "margin " << margin << ", " << n << " units";
    }
  }
  testing_support::plain_setup();
}

TEST(Writer, Utf8LinesAreCutBetweenCharacters) {
  testing_support::plain_setup();
  const std::uint16_t par[] = {0x65E5, 0x672C, 0x8A9E, 0xD83D, 0xDE00, 'a', '\n', 0};
  // Wide characters (the emoji too) take two columns each.
  dorvex::ctx().wrap_margin = 4;
  EXPECT_EQ(capture([&] { dorvex::output_paragraph(par); }),
            "\u65E5\u672C\n\u8A9E\n\U0001F600a\n\n");
  dorvex::ctx().wrap_margin = 7;
  EXPECT_EQ(capture([&] { dorvex::output_paragraph(par); }),
            "\u65E5\u672C\u8A9E\n\U0001F600a\n\n");
  dorvex::ctx().wrap_margin = 1;
  EXPECT_EQ(capture([&] { dorvex::output_paragraph(par); }),
            "\u65E5\n\u672C\n\u8A9E\n\U0001F600\na\n\n");
  dorvex::ctx().wrap_margin = 0;
}

TEST(Writer, PlainCopyJoinsPairsAcrossBlocks) {
  testing_support::plain_setup();
  const std::uint16_t high = 0xD83D, low = 0xDE00, a = 'a';
  std::string out = capture([&] {
    dorvex::write_units(&a, 1);
    dorvex::write_units(&high, 1);
    dorvex::write_units(&low, 1);
    dorvex::write_units(&high, 1);  // lone at the end of the input
    dorvex::flush_line();
  });
  EXPECT_EQ(out, "a\U0001F600?");
}

// The plain copy of UTF-8 writes characters that convert to their own bytes as they come and
// gives each other one to write_units. Pieces of every kind: ASCII, controls, two- and
// three-byte characters of rows that a map touches or not, a four-byte character, surrogates
// encoded alone (a pair, and a lone one), ill-formed bytes (as the checked decoder gives them).
// Fed through windows of every width, so that each window cuts a character somewhere, twice
// over so that what was learned is used, for both kinds of target: the same bytes as all units
// through write_units.

// The special-character map of the as-is tests: a cell separator, a dropped soft hyphen and a
// dash that becomes two bytes, so that some characters are not their own bytes.
dorvex::SubstMap* special_map_for_as_is() {
  dorvex::SubstMap* map = testing_support::empty_map();
  dorvex::map_insert(map, 0x1C, "\t");
  dorvex::map_insert(map, 0xAD, "");
  dorvex::map_insert(map, 0x2014, "--");
  return map;
}
TEST(Writer, Utf8AsIsMatchesTheUnits) {
  struct Piece {
    std::string bytes;
    std::u16string units;
  };
  const Piece pieces[] = {
      {"a", u"a"}, {"b", u"b"}, {"\n", u"\n"},           {"\t", u"\t"},
      {"\x1C", u"\x1C"},       {std::string(1, '\0'), std::u16string(1, u'\0')},
      {"\xC3\xA9", u"\u00E9"}, {"\xC2\xAD", u"\u00AD"}, {"\xE2\x80\x94", u"\u2014"},
      {"\xE2\x80\x9C", u"\u201C"}, {"\xE2\x82\xAC", u"\u20AC"}, {"\xE6\x97\xA5", u"\u65E5"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"}, {"\xED\xA0\xBD", u"\xD83D"}, {"\xED\xB8\x80", u"\xDE00"},
      {"\xED\xA0\xBD", u"\xD83D"}, {"z", u"z"},
      {"\xC0", u"\xDCC0"},      {"\xAF", u"\xDCAF"},     {"\xE0", u"\xDCE0"},
      {"\x80", u"\xDC80"},      {"\x80", u"\xDC80"},     {"\xFF", u"\xDCFF"},
      {"\xD0\x96", u"\u0416"}, {"\xE2\x80", u"\xDCE2\xDC80"}, {"x", u"x"}};
  std::vector<Piece> text(std::begin(pieces), std::end(pieces));
  text.insert(text.end(), std::begin(pieces), std::end(pieces));
  std::string bytes;
  std::vector<std::size_t> piece_at;  // the piece each byte belongs to
  std::vector<std::uint16_t> all_units;
  for (std::size_t k = 0; k < text.size(); ++k) {
    bytes += text[k].bytes;
    piece_at.resize(bytes.size(), k);
    all_units.insert(all_units.end(), text[k].units.begin(), text[k].units.end());
  }
  std::vector<std::size_t> piece_start(text.size());
  for (std::size_t i = bytes.size(); i-- > 0;) piece_start[piece_at[i]] = i;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  dorvex::SubstMap* map = special_map_for_as_is();
  for (bool utf8 : {true, false}) {
    dorvex::ReverseMap* latin1 = utf8 ? nullptr : dorvex::make_reverse_map(dorvex::ctx().source_charset);
    for (std::size_t window = 1; window <= bytes.size(); ++window) {
      testing_support::plain_setup();
      dorvex::ctx().spec_chars = map;
      dorvex::ctx().target_charset = latin1;
      std::size_t as_is_bytes = 0;
      std::string mixed = capture([&] {
        for (std::size_t pos = 0; pos < bytes.size();) {
          const std::size_t run =
              dorvex::write_utf8_as_is(data + pos, std::min(window, bytes.size() - pos));
          pos += run;
          as_is_bytes += run;
          if (pos == bytes.size()) break;
          const std::size_t k = piece_at[pos];
          ASSERT_EQ(piece_start[k], pos) << "stopped inside a piece, window " << window;
          std::vector<std::uint16_t> units(text[k].units.begin(), text[k].units.end());
          dorvex::write_units(units.data(), units.size());
          pos += text[k].bytes.size();
        }
        dorvex::flush_line();
      });
      std::string whole = capture([&] {
        dorvex::write_units(all_units.data(), all_units.size());
        dorvex::flush_line();
      });
      EXPECT_EQ(mixed, whole) << "window " << window << (utf8 ? " utf-8" : " latin-1");
      if (window >= 4) {
        // At least the ASCII letters, and for UTF-8 the own two- and three-byte characters.
        EXPECT_GE(as_is_bytes, utf8 ? 2 * 13u : 2 * 5u) << "window " << window;
      }
    }
    dorvex::free_reverse_map(latin1);
  }
  testing_support::plain_setup();
  dorvex::free_substmap(map);
}

// A long text of characters of every kind in a scrambled order, so that the windows the fast
// scan checks at once begin, end and cut characters at every offset: from every character on
// and through every width, write_utf8_as_is takes exactly the characters, one after another,
// that write_units would write as their own bytes, before and after it has learned them.
TEST(Writer, Utf8AsIsInWindowsStopsWhereTheCharactersDo) {
  const std::pair<std::string, std::u16string> kinds[] = {
      {"a", u"a"}, {"Z", u"Z"}, {" ", u" "}, {"\n", u"\n"}, {"\t", u"\t"}, {"\x1C", u"\x1C"},
      {"\x7F", u"\x7F"}, {"\xC3\xA9", u"\u00E9"}, {"\xD0\x96", u"\u0416"},
      {"\xCE\xBB", u"\u03BB"}, {"\xDF\xBF", u"\u07FF"}, {"\xC2\xAD", u"\u00AD"},
      {"\xE2\x80\x9C", u"\u201C"}, {"\xE2\x80\x94", u"\u2014"}, {"\xE6\x97\xA5", u"\u65E5"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"}, {"\xED\xA0\xBD", u"\xD83D"},
      {"\xC0\xAF", u"\xDCC0\xDCAF"}, {"\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF"},
      {"\x80", u"\xDC80"}, {"\xFF", u"\xDCFF"}, {"\xC3", u"\xDCC3"}, {"\xE2\x80", u"\xDCE2\xDC80"}};
  constexpr std::size_t kKinds = std::size(kinds);
  // Mostly the common kinds, as in text, with each of the others now and then: often in the
  // first half, seldom in the second, where whole windows of the widest scan are all common
  // but for one, often a soft hyphen (a two-byte character of a lead not all of whose
  // characters are their own bytes).
  std::vector<std::size_t> order;
  std::uint32_t seed = 12345;
  for (std::size_t k = 0; k < 700; ++k) {
    seed = seed * 1103515245u + 12345u;
    const std::uint32_t r = (seed >> 16) % (k < 350 ? 64 : 2560);
    const std::size_t common[] = {0, 1, 2, 7, 8, 9, 10, 12, 14};
    order.push_back(r < 48 ? common[r % 7] : r < 64 ? common[7 + r % 2] : r >= 2528 ? (seed >> 8) % kKinds : r >= 2496 ? 11 : common[r % 9]);
  }
  std::string bytes;
  std::vector<std::size_t> starts;
  for (std::size_t k : order) {
    starts.push_back(bytes.size());
    bytes += kinds[k].first;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  dorvex::SubstMap* map = special_map_for_as_is();
  using dorvex::VectorWidth;
  for (VectorWidth width : {VectorWidth::kWide, VectorWidth::kShuffle, VectorWidth::kPlain})
  for (bool utf8 : {true, false}) {
    if (!dorvex::limit_vector_width(width)) continue;  // the processor has no such instructions
    SCOPED_TRACE("vector width " + std::to_string(static_cast<int>(width)));
    dorvex::ReverseMap* latin1 = utf8 ? nullptr : dorvex::make_reverse_map(dorvex::ctx().source_charset);
    testing_support::plain_setup();
    dorvex::ctx().spec_chars = map;
    dorvex::ctx().target_charset = latin1;
    bool own[kKinds];
    std::size_t own_kinds = 0;
    for (std::size_t k = 0; k < kKinds; ++k) {
      own[k] = capture([&] {
                 dorvex::write_units(reinterpret_cast<const std::uint16_t*>(kinds[k].second.data()),
                                     kinds[k].second.size());
                 dorvex::flush_line();
               }) == kinds[k].first &&
               kinds[k].first.size() < 4;  // a four-byte character is left to the units
      own_kinds += own[k];
    }
    EXPECT_EQ(own_kinds, utf8 ? 12u : 6u);
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t s = 0; s < order.size(); ++s) {
        std::string expected;
        const std::string got = capture([&] {
          for (std::size_t width = 1; starts[s] + width <= bytes.size(); width += width < 40 ? 1 : 37) {
            std::size_t end = s;
            while (end < order.size() && own[order[end]] &&
                   starts[end] + kinds[order[end]].first.size() <= starts[s] + width) {
              ++end;
            }
            const std::size_t want = (end < order.size() ? starts[end] : bytes.size()) - starts[s];
            expected += bytes.substr(starts[s], want);
            ASSERT_EQ(dorvex::write_utf8_as_is(data + starts[s], width), want)
                << "from " << starts[s] << ", width " << width << (utf8 ? " utf-8" : " latin-1");
          }
        });
        ASSERT_EQ(got, expected) << "from " << starts[s];
      }
    }
    dorvex::free_reverse_map(latin1);
  }
  dorvex::limit_vector_width(VectorWidth::kWide);
  testing_support::plain_setup();
  dorvex::free_substmap(map);
}

// Long blocks go to the file descriptor past stdio, short ones through it: interleaved, in
// every order, they keep their order.
TEST(Writer, LongAndShortWritesKeepTheirOrder) {
  const std::size_t lengths[] = {1, 65535, 65536, 300000, 7, 65536, 2};
  std::string want;
  const std::string got = capture([&] {
    char fill = 'a';
    for (std::size_t n : lengths) {
      const std::string block(n, fill++);
      dorvex::write_out(block.data(), block.size());
      want += block;
    }
  });
  EXPECT_EQ(got, want);
}

// An output whose every write fails, and what the writer then says: the full device on Linux;
// on Windows, which has no such device, a pipe whose reader has gone.
std::FILE* failing_output() {
#ifdef _WIN32
  int fds[2];
  if (testing_support::make_pipe(fds) != 0) return nullptr;
  close(fds[0]);
  return fdopen(fds[1], "wb");
#else
  return std::fopen("/dev/full", "w");
#endif
}
#ifdef _WIN32
constexpr char kWriteFailure[] = "^stdout: Broken pipe\n$";
#else
constexpr char kWriteFailure[] = "^stdout: No space left on device\n$";
#endif

void write_to_full_device() {
  dorvex::ctx().out_file = failing_output();
  const std::uint16_t par[] = {'a', '\n', 0};
  for (int i = 0; i < 100000; ++i) dorvex::output_paragraph(par);
  std::fputs("still running\n", stderr);
  std::exit(0);
}

void write_long_block_to_full_device() {
  dorvex::ctx().out_file = failing_output();
  const std::string block(1 << 20, 'a');
  dorvex::write_out(block.data(), block.size());
  std::fputs("still running\n", stderr);
  std::exit(0);
}

TEST(WriterDeathTest, FailedWriteEndsTheRunWithOneMessage) {
  testing_support::plain_setup();
  // The reading ends there with status 1, which the program exits with.
  auto ending = [](void (*write)()) {
    try {
      write();
    } catch (const dorvex::ProgramEnd& end) {
      std::exit(end.status);
    }
  };
  EXPECT_EXIT(ending(write_to_full_device), testing::ExitedWithCode(1), kWriteFailure);
  EXPECT_EXIT(ending(write_long_block_to_full_device), testing::ExitedWithCode(1), kWriteFailure);
}

}  // namespace

namespace {

bool breaks_line(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Wrapping by the rule, one byte at a time: break at the last space at or before the margin
// (index 0 never counts), else cut at the margin.
std::string wrap_by_rule(const std::string& bytes, std::size_t margin) {
  std::string out, line;
  for (char c : bytes) {
    line += c;
    while (line.size() > margin) {
      std::size_t s = margin;
      while (s > 0 && !breaks_line(line[s])) --s;
      out += line.substr(0, s > 0 ? s : margin) + "\n";
      line.erase(0, s > 0 ? s + 1 : margin);
    }
  }
  return line.empty() ? out : out + line + "\n";
}

// The break is searched sixteen bytes at a time: a break character at every position of long
// lines, at margins around the blocks of sixteen, gives the lines the rule gives.
TEST(Writer, BreakSpaceAtEveryPositionMatchesTheRule) {
  const std::u16string breaks = u" \t\v\f\r";
  const std::size_t length = 300;
  for (std::size_t margin : {1u, 2u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 72u, 255u}) {
    for (std::size_t k = 0; k < length; ++k) {
      std::vector<std::uint16_t> par(length, 'x');
      par[k] = breaks[k % breaks.size()];
      par[(k * 7 + 3) % length] = ' ';
      for (std::size_t i = 0; i < length; i += 37 + k % 11) par[i] = 'a' + i % 26;
      testing_support::plain_setup();
      dorvex::ctx().wrap_margin = static_cast<int>(margin);
      std::string converted;
      for (std::uint16_t u : par) converted += dorvex::convert_char(u);
      ASSERT_EQ(converted.size(), length);
      std::string written = capture([&] {
        dorvex::output_paragraph_units(par.data(), par.size());
        dorvex::flush_line();
      });
      EXPECT_EQ(written, wrap_by_rule(converted, margin)) << "margin " << margin << ", break at " << k;
    }
  }
  testing_support::plain_setup();
}

}  // namespace
