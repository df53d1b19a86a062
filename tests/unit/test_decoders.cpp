#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "charmaps.h"
#include "charsets.h"
#include "fixture.h"
#include "ole.h"

using testing_support::ConversionSettings;

namespace {

struct Step {
  int value;
  std::int32_t offset;  // the running offset after the call
};

// Decodes bytes with d until -1 (and once more after it), recording results and offsets.
std::vector<Step> decode_all(dorvex::Decoder d, const std::string& bytes) {
  dorvex::set_std_func();
  std::FILE* f = testing_support::stream_of(bytes);
  std::vector<Step> steps;
  std::int32_t offset = 0;
  for (std::size_t guard = 0; guard <= bytes.size() + 1; ++guard) {
    int v = d(f, &offset, 0x7FFFFFFF);
    steps.push_back({v, offset});
    if (v == -1) break;
  }
  steps.push_back({d(f, &offset, 0x7FFFFFFF), offset});
  std::fclose(f);
  return steps;
}

void expect_steps(const std::vector<Step>& got, const std::vector<Step>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].value, want[i].value) << what << " step " << i;
    EXPECT_EQ(got[i].offset, want[i].offset) << what << " step " << i;
  }
}

}  // namespace

TEST(Decoders, EightBitThroughSourceCharset) {
  ConversionSettings saved;
  std::uint16_t table[256] = {};
  table[0x41] = 0x41;
  table[0xC0] = 0x0410;
  table[0xFF] = 0xFB01;
  dorvex::source_charset = table;
  expect_steps(decode_all(dorvex::get_8bit_char, "A\xC0\xFF\x42"),
               {{0x41, 1}, {0x0410, 2}, {0xFB01, 3}, {0, 4}, {-1, 4}, {-1, 4}}, "8bit");
  expect_steps(decode_all(dorvex::get_8bit_char, ""), {{-1, 0}, {-1, 0}}, "8bit empty");
}

TEST(Decoders, Utf16BothByteOrders) {
  expect_steps(decode_all(dorvex::get_utf16lsb, std::string("A\0\x3D\xD8\x00\xDE", 6)),
               {{0x41, 2}, {0xD83D, 4}, {0xDE00, 6}, {-1, 6}, {-1, 6}}, "lsb");
  expect_steps(decode_all(dorvex::get_utf16msb, std::string("\0A\xD8\x3D\xDE\x00", 6)),
               {{0x41, 2}, {0xD83D, 4}, {0xDE00, 6}, {-1, 6}, {-1, 6}}, "msb");
  // An odd byte at the end is read and dropped.
  expect_steps(decode_all(dorvex::get_utf16lsb, std::string("\xAC\x20\x41", 3)),
               {{0x20AC, 2}, {-1, 2}, {-1, 2}}, "lsb odd");
  expect_steps(decode_all(dorvex::get_utf16msb, std::string("\xFF\xFE\x41", 3)),
               {{0xFFFE, 2}, {-1, 2}, {-1, 2}}, "msb odd");
}

TEST(Decoders, Utf8Sequences) {
  expect_steps(decode_all(dorvex::get_utf8, "A\xC3\xA9\xE2\x82\xAC"),
               {{0x41, 1}, {0xE9, 3}, {0x20AC, 6}, {-1, 6}, {-1, 6}}, "valid");
  // A stray continuation byte, then a four-byte character as its surrogate pair (the low
  // unit consumes nothing), then a byte that leads no character: U+FFFD each.
  expect_steps(decode_all(dorvex::get_utf8, "\xA9\xF0\x9F\x98\x80\xF5"),
               {{0xFFFD, 1}, {0xD83D, 5}, {0xDE00, 5}, {0xFFFD, 6}, {-1, 6}, {-1, 6}},
               "four bytes");
  // An ill-formed sequence gives one U+FFFD for its longest valid start; the byte that broke it
  // begins the next character (it was read, but counts when that character is taken).
  expect_steps(decode_all(dorvex::get_utf8, "\xF0\x80\x80\x80\xF4\x90\x80\x80"),
               {{0xFFFD, 1}, {0xFFFD, 2}, {0xFFFD, 3}, {0xFFFD, 4}, {0xFFFD, 5}, {0xFFFD, 6},
                {0xFFFD, 7}, {0xFFFD, 8}, {-1, 8}, {-1, 8}},
               "four-byte out of range");
  expect_steps(decode_all(dorvex::get_utf8, "\xC3\x41\xE2\x82\x41\xE9 "),
               {{0xFFFD, 1}, {0x41, 2}, {0xFFFD, 4}, {0x41, 5}, {0xFFFD, 6}, {0x20, 7}, {-1, 7},
                {-1, 7}},
               "good text after bad bytes");
  expect_steps(decode_all(dorvex::get_utf8, std::string("\xC0\x80\xE0\x80\x80\xED\xA0\x80\x00", 9)),
               {{0xFFFD, 1}, {0xFFFD, 2}, {0xFFFD, 3}, {0xFFFD, 4}, {0xFFFD, 5}, {0xFFFD, 6},
                {0xFFFD, 7}, {0xFFFD, 8}, {0, 9}, {-1, 9}, {-1, 9}},
               "overlong and surrogate");
  expect_steps(decode_all(dorvex::get_utf8, "\xEF\xBF\xBF\xDF\xBF"),
               {{0xFFFF, 3}, {0x7FF, 5}, {-1, 5}, {-1, 5}}, "top values");
  // Sequences cut by the end: one U+FFFD for what is there.
  expect_steps(decode_all(dorvex::get_utf8, "A\xE2\x82"), {{0x41, 1}, {0xFFFD, 3}, {-1, 3}, {-1, 3}},
               "E2 82 at end");
  expect_steps(decode_all(dorvex::get_utf8, "\xF0\x9F\x98"), {{0xFFFD, 3}, {-1, 3}, {-1, 3}}, "F0 cut");
  expect_steps(decode_all(dorvex::get_utf8, "\xC3"), {{0xFFFD, 1}, {-1, 1}, {-1, 1}}, "C3 at end");
}

TEST(Decoders, EndOfStdioStreamSeenOnlyAfterAFailedRead) {
  dorvex::set_std_func();
  std::FILE* f = testing_support::stream_of("A");
  std::int32_t offset = 0;
  EXPECT_EQ(dorvex::get_utf8(f, &offset, 0x7FFFFFFF), 0x41);
  EXPECT_EQ(dorvex::dorvex_eof(f), 0);
  EXPECT_EQ(dorvex::get_utf8(f, &offset, 0x7FFFFFFF), -1);
  EXPECT_NE(dorvex::dorvex_eof(f), 0);
  std::fclose(f);
}

TEST(Decoders, RunningOffsetWrapsInsteadOfOverflowing) {
  dorvex::set_std_func();
  std::FILE* f = testing_support::stream_of("AB");
  std::int32_t offset = 0x7FFFFFFF;
  EXPECT_EQ(dorvex::get_utf16lsb(f, &offset, 0x7FFFFFFF), 0x4241);
  EXPECT_EQ(offset, static_cast<std::int32_t>(0x80000001u));
  std::fclose(f);
}
