#include "context.h"
#include "plaintext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "charsets.h"
#include "fixture.h"
#include "ole.h"
#include "reader.h"
#include "substmap.h"
#include "writer.h"

namespace {

using testing_support::capture;

// Copies bytes as a plain-text input (the first 8 as the detection prefix), UTF-8 output.
std::string copy_text(const std::string& bytes, dorvex::Decoder decoder, bool through_hooks) {
  testing_support::plain_setup();
  if (through_hooks) {  // not standard mode: the copy goes character by character
    dorvex::ctx().dorvex_read = [](void* d, std::size_t s, std::size_t n, void* f) {
      return std::fread(d, s, n, static_cast<std::FILE*>(f));
    };
    dorvex::ctx().dorvex_eof = [](void* f) { return std::feof(static_cast<std::FILE*>(f)); };
  }
  dorvex::ctx().get_unicode_char = decoder;
  std::size_t n = bytes.size() < 8 ? bytes.size() : 8;
  std::FILE* f = testing_support::stream_of(bytes.substr(n));
  std::string out = capture([&] {
    dorvex::copy_out(f, reinterpret_cast<const unsigned char*>(bytes.data()), n);
    dorvex::flush_line();
  });
  std::fclose(f);
  testing_support::plain_setup();
  return out;
}

TEST(PlainText, Utf8Detection) {
  const struct {
    std::string bytes;
    bool more_follows, utf8;
  } cases[] = {
      {"caf\xc3\xa9", false, true},
      {"\xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf", false, true},
      {"plain ASCII only", false, false},  // nothing to decide on: the 8-bit road
      {"", false, false},
      {"caf\xe9", false, false},                // Latin-1
      {"\xcf\xf0\xe8\xe2\xe5\xf2", false, false},  // cp1251
      {"\xc0\xaf", false, false},               // overlong
      {"\xe0\x80\xaf", false, false},           // overlong
      {"\xed\xa0\x80", false, false},           // a surrogate
      {"\xf4\x90\x80\x80", false, false},       // beyond U+10FFFF
      {"\xf5\x80\x80\x80", false, false},
      {"\xc3\xa9\xc3", false, false},           // cut at the end of the input
      {"\xc3\xa9\xe2\x82", true, true},         // cut at the end of the sample
      {"\xc3\xa9\xe2\x41", true, false},
      {"\xc3\xa9\xe0\x80", true, false},
  };
  for (const auto& c : cases) {
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    EXPECT_EQ(dorvex::looks_like_utf8(p, c.bytes.size(), c.more_follows), c.utf8) << c.bytes;
  }
}

// Characters of every length, repeated past several block boundaries, so that some are cut by
// each boundary: the copy gives the same text back, with every character whole.
TEST(PlainText, DetectedUtf8CrossesBlocks) {
  std::string text;
  while (text.size() < 1100000) text += "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 \xd0\x96z\n";
  EXPECT_EQ(copy_text(text, nullptr, false), text);
  // An invalid byte far beyond the sample is U+FFFD, and only that byte; so is a sequence cut
  // by the end of the input.
  std::string late = text + "\xff" + "ok\xe2\x82";
  EXPECT_TRUE(copy_text(late, nullptr, false) == text + "\xEF\xBF\xBDok\xEF\xBF\xBD");
  // -8 and the like keep the 8-bit road: Latin-1 through the fixture's table.
  dorvex::ctx().utf8_detection = 0;
  EXPECT_EQ(copy_text("caf\xc3\xa9", nullptr, false), "caf\xc3\x83\xc2\xa9");
  dorvex::ctx().utf8_detection = 1;
}

// Long reads are cut to what stdio holds plus whole buffers of the stream. Streams with
// buffers of several sizes, some bytes already taken (as the detection does), for UTF-8 found
// or given and for 8-bit text: every byte arrives once, in order.
TEST(PlainText, ReadsFitTheStreamBuffer) {
  std::string utf8, latin, latin_as_utf8;
  for (std::size_t k = 0; utf8.size() < 700000; ++k) {
    const std::string number = std::to_string(k);
    utf8 += "line " + number + " caf\xc3\xa9 \xe2\x82\xac\n";
    latin += "line " + number + " caf\xe9\n";
    latin_as_utf8 += "line " + number + " caf\xc3\xa9\n";
  }
  static char buffer[262144];
  for (std::size_t size : {std::size_t{262144}, std::size_t{4096}, std::size_t{1000}}) {
    for (std::size_t taken : {0, 3, 8}) {
      for (int kind = 0; kind < 3; ++kind) {  // UTF-8 found, UTF-8 given, 8-bit
        testing_support::plain_setup();
        dorvex::ctx().utf8_detection = kind == 0;
        if (kind == 1) dorvex::ctx().get_unicode_char = dorvex::get_word8_char;
        const std::string& in = kind == 2 ? latin : utf8;
        std::FILE* f = testing_support::temp_stream();
        std::setvbuf(f, buffer, _IOFBF, size);
        std::fwrite(in.data(), 1, in.size(), f);
        std::rewind(f);
        unsigned char prefix[8];
        for (std::size_t i = 0; i < taken; ++i) prefix[i] = static_cast<unsigned char>(std::getc(f));
        const std::string out = capture([&] { dorvex::copy_out(f, prefix, taken); });
        std::fclose(f);
        EXPECT_EQ(out, kind == 2 ? latin_as_utf8 : utf8)
            << "buffer " << size << ", taken " << taken << ", kind " << kind;
      }
    }
  }
  dorvex::ctx().utf8_detection = 1;
  testing_support::plain_setup();
}

// A small input converts only the bytes it holds; one larger than a block takes the whole
// table: bytes that first appear after the first block convert like the rest.
TEST(PlainText, EightBitCopyAcrossBlocks) {
  dorvex::ctx().utf8_detection = 0;
  EXPECT_EQ(copy_text("ab\xe9", nullptr, false), "ab\xc3\xa9");
  std::string in(600000, 'a'), want(600000, 'a');
  in += "\xe9\xfc";
  want += "\xc3\xa9\xc3\xbc";
  EXPECT_EQ(copy_text(in, nullptr, false), want);
  // Reads that stop short (a slow pipe): the first block is not the whole input.
  testing_support::plain_setup();
  dorvex::ctx().dorvex_read = [](void* d, std::size_t s, std::size_t n, void* f) {
    return std::fread(d, s, n < 4096 ? n : 4096, static_cast<std::FILE*>(f));
  };
  std::FILE* f = testing_support::stream_of(in);
  std::string out = capture([&] { dorvex::copy_out(f, nullptr, 0); });
  std::fclose(f);
  EXPECT_EQ(out, want);
  testing_support::plain_setup();
  dorvex::ctx().utf8_detection = 1;
}

// An 8-bit target translates bytes one for one, eight at a time, until a byte that becomes more
// than one byte; from there its block goes the general way, which takes sixteen printable ASCII
// bytes at once. Such a byte at every position around the groups of eight and sixteen and the
// blocks of the copy, alone or in a crowd, in a small input (converted before the whole table
// is filled) and a large one, in text with long ASCII runs and without, for an 8-bit and a
// UTF-8 target: the same text as byte by byte.
// The translation 32 bytes at a time agrees with the one without vectors: every byte value
// that becomes one byte, at every offset of a vector, through a target that moves every byte
// (so that every row of the table changes), in a small input and in one larger than a block.
TEST(PlainText, WideTranslationAgreesWithTheNarrowOne) {
  dorvex::ctx().utf8_detection = 0;
  dorvex::CharsetTable target_table = testing_support::latin1_table();
  for (unsigned t = 0; t < 256; ++t) target_table[t] = static_cast<std::uint16_t>((t * 7 + 3) & 0xFF);
  dorvex::ReverseMap* target = dorvex::make_reverse_map(target_table);
  auto copy = [&](const std::string& in, dorvex::VectorWidth width) {
    testing_support::plain_setup();
    dorvex::limit_vector_width(width);
    dorvex::ctx().target_charset = target;
    std::FILE* f = testing_support::stream_of(in);
    std::string out = capture([&] { dorvex::copy_out(f, nullptr, 0); });
    std::fclose(f);
    return out;
  };
  std::string one_byte_values;
  for (unsigned v = 0; v < 256; ++v) {
    const std::string alone(1, static_cast<char>(v));
    if (copy(alone, dorvex::VectorWidth::kPlain).size() == 1) one_byte_values += alone;
  }
  EXPECT_GE(one_byte_values.size(), 250u);
  std::string small;
  for (std::size_t shift = 0; shift < 32; ++shift) small += std::string(shift, 'a') + one_byte_values;
  std::string large;
  while (large.size() < 600000) large += small;
  for (const std::string* in : {&small, &large}) {
    const std::string narrow = copy(*in, dorvex::VectorWidth::kPlain);
    EXPECT_NE(narrow.substr(0, 300), in->substr(0, 300));
    for (dorvex::VectorWidth width : {dorvex::VectorWidth::kShuffle, dorvex::VectorWidth::kWide}) {
      EXPECT_EQ(copy(*in, width), narrow) << in->size() << " bytes, width " << static_cast<int>(width);
    }
  }
  dorvex::limit_vector_width(dorvex::VectorWidth::kWide);
  testing_support::plain_setup();
  dorvex::free_reverse_map(target);
  std::free(target_table);
  dorvex::ctx().utf8_detection = 1;
}

TEST(PlainText, OneForOneTranslationStopsAtEveryPosition) {
  dorvex::ctx().utf8_detection = 0;
  // Latin-1 in and out, but U+00E9 has no byte: the replacement "e'" stands for it.
  dorvex::CharsetTable target_table = testing_support::latin1_table();
  target_table[0xE9] = 0;
  dorvex::ReverseMap* target = dorvex::make_reverse_map(target_table);
  dorvex::SubstMap* replacements = testing_support::empty_map();
  dorvex::map_insert(replacements, 0xE9, "e'");
  bool utf8 = false;
  auto copy = [&](const std::string& in) {
    testing_support::plain_setup();
    dorvex::ctx().target_charset = utf8 ? nullptr : target;
    dorvex::ctx().replacements = replacements;
    std::FILE* f = testing_support::stream_of(in);
    std::string out = capture([&] { dorvex::copy_out(f, nullptr, 0); });
    std::fclose(f);
    testing_support::plain_setup();
    return out;
  };
  auto expected = [&](const std::string& in) {
    std::string out;
    for (char c : in) {
      const auto b = static_cast<unsigned char>(c);
      if (utf8 && b >= 0x80) {
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
      } else {
        out += b == 0xE9 ? std::string("e'") : std::string(1, c);
      }
    }
    return out;
  };
  // Stretches of 1000 bytes: letters with 0xFC every seventh, then letters and spaces with a
  // newline now and then.
  std::string text;
  for (std::size_t i = 0; text.size() < 530000; ++i) {
    const bool mixed = (i / 1000) % 2 == 0;
    text += static_cast<char>(mixed && i % 7 == 0 ? 0xFC : i % 53 == 0 ? '\n' : i % 9 == 0 ? ' ' : 'a' + i % 26);
  }
  for (bool utf8_target : {false, true}) {
  utf8 = utf8_target;
  for (std::size_t size : {3000u, 530000u}) {
    for (std::size_t at : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 1000u, 1016u, 65535u, 65536u, 65537u,
                           131071u, 524287u, 524288u, 524289u}) {
      std::string in = text.substr(0, size);
      if (at >= size) continue;
      in[at] = '\xe9';
      EXPECT_EQ(copy(in), expected(in)) << size << " bytes, at " << at << (utf8 ? ", utf-8" : "");
    }
    // Many such bytes at first, then few: the blocks skipped after the first come back.
    std::string crowd = text.substr(0, size);
    for (std::size_t i = 0; i < size / 2; i += 5) crowd[i] = '\xe9';
    crowd[size - 1] = '\xe9';
    EXPECT_EQ(copy(crowd), expected(crowd)) << size << " bytes";
  }
  }
  dorvex::free_substmap(replacements);
  dorvex::free_reverse_map(target);
  std::free(target_table);
  dorvex::ctx().utf8_detection = 1;
}

// -u copies in blocks where the hooks are in standard mode, and character by character through
// the decoder hook otherwise: the same output for inputs cut at every place by the blocks.
TEST(PlainText, UnicodeBlocksMatchTheDecoders) {
  std::string noise;
  unsigned state = 11;
  while (noise.size() < 300000) {
    state = state * 1103515245u + 12345u;
    unsigned r = state >> 16;
    noise += r % 4 == 0 ? static_cast<char>(r >> 3) : r % 4 == 1 ? "\xf0\x9f\x98\x80"[r % 3] : 'a';
  }
  for (const std::string& mark : {std::string(), std::string("\xff\xfe"), std::string("\xfe\xff")}) {
    for (std::size_t size : {0u, 7u, 8u, 9u, 65537u, 131075u, 300000u}) {
      std::string in = mark + noise.substr(0, size);
      EXPECT_EQ(copy_text(in, dorvex::get_word8_char, false),
                copy_text(in, dorvex::get_word8_char, true))
          << "mark of " << mark.size() << ", " << size << " bytes";
    }
  }
}

}  // namespace
