#include "reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charsets.h"
#include "fixture.h"
#include "plaintext.h"
#include "writer.h"

namespace {

using testing_support::capture;
using testing_support::stream_of;

// Word text through process_file, Latin-1 in, UTF-8 out, no wrapping.
std::string word_text(const std::string& bytes, dorvex::Decoder decoder = dorvex::get_8bit_char,
                      std::int32_t end = dorvex::kNoEnd) {
  testing_support::plain_setup();
  dorvex::get_unicode_char = decoder;
  std::FILE* f = stream_of(bytes);
  std::string out = capture([&] { dorvex::process_file(f, end); });
  std::fclose(f);
  return out;
}

std::string utf16le(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

TEST(WordText, ParagraphMarksEndParagraphsAndEmptyOnesVanish) {
  EXPECT_EQ(word_text("Hello\rWorld\r"), "Hello\nWorld\n");
  EXPECT_EQ(word_text("\r\r\r"), "");
  EXPECT_EQ(word_text("A\r"), "A\n");
  EXPECT_EQ(word_text("line\vbreak\r"), "line\nbreak\n");
  // Input that ends without a paragraph mark: the text still comes out, even one character.
  EXPECT_EQ(word_text("no mark"), "no mark");
  EXPECT_EQ(word_text("Z"), "Z");
}

TEST(WordText, ControlCodeTable) {
  EXPECT_EQ(word_text("a\tb\fc\r"), "a\tb\fc\n");
  EXPECT_EQ(word_text("non\x1e" "breaking soft\x1fhyphen\r"), "non-breaking soft\xC2\xADhyphen\n");
  EXPECT_EQ(word_text("a\x02" "b\r"), "ab\n");  // 2 is ignored
  for (char discard : {'\0', '\x03', '\x04', '\x05', '\x06', '\x08', '\n', '\x0e', '\x12', '\x16',
                       '\x1d'}) {
    EXPECT_EQ(word_text(std::string("gone") + discard + "kept\r"), "kept\n")
        << "code " << int(discard);
  }
}

TEST(WordText, CellMarksBecomeSeparatorsAndRowEnds) {
  EXPECT_EQ(word_text("a\x07" "b\x07\x07\r"), "a\x1c" "b\x1e\n");
  // The cell separator stored in the same step as a discarding code goes with the paragraph.
  EXPECT_EQ(word_text(std::string("x\x07\0y\r", 5)), "y\n");
}

TEST(WordText, FieldMarksBecomeSpacesAndCodeOneDependsOnField) {
  EXPECT_EQ(word_text("\x13HYP\x14text\x15\r"), " HYP text \n");
  EXPECT_EQ(word_text("X\x01Y\r"), "Y\n");
  EXPECT_EQ(word_text("\x13X\x01Y\x14\r"), " XY \n");
  // A field begun in one paragraph is still open in the next.
  EXPECT_EQ(word_text("\x13" "a\rb\x01" "c\r"), " a\nbc\n");
}

TEST(WordText, ZeroWidthNoBreakSpaceIsDropped) {
  EXPECT_EQ(word_text(utf16le(u"a\uFEFFb\r"), dorvex::get_utf16lsb), "ab\n");
}

TEST(WordText, ParagraphStartedBeforeEndIsReadToItsMark) {
  EXPECT_EQ(word_text("0123456789abc\rnext\r", dorvex::get_8bit_char, 10), "0123456789abc\n");
  EXPECT_EQ(word_text("first\rsecond\r", dorvex::get_8bit_char, 6), "first\n");
  EXPECT_EQ(word_text("text\r", dorvex::get_8bit_char, -5), "");
}

TEST(WordText, LongParagraphIsHandedOverInPiecesWithoutLoss) {
  std::string out = word_text(std::string(300000, 'a'));
  EXPECT_EQ(out, std::string(300000, 'a'));
  // One unit past a full piece still comes out.
  out = word_text(std::string(262144, 'b'));
  EXPECT_EQ(out.size(), 262144u);
}

TEST(WordText, CellSeparatorAtBufferLimitKeepsTerminatorInside) {
  // 262142 units, then a cell mark and a letter: two units in one step at the limit.
  std::string in(262142, 'c');
  in += "\x07" "d\r";
  std::string out = word_text(in);
  EXPECT_EQ(out, std::string(262142, 'c') + "\x1c" "d\n");
}

TEST(WordDecoder, DetectsSixteenBitBlocks) {
  // H, i and a comma in 16-bit units: the whole block is 16-bit.
  EXPECT_EQ(word_text(std::string("H\0i\0,\0!\0\r\0", 10), dorvex::get_word8_char), "Hi,!\n");
  // No space, CR or punctuation at an even position: the block is 8-bit and the zero bytes
  // discard what precedes them.
  EXPECT_EQ(word_text(std::string("H\0i\0", 4) + "ok\r", dorvex::get_word8_char), "ok\n");
}

TEST(WordDecoder, ScanStopsAtTextEnd) {
  // With end 4 the 2E 00 pair lies past the scan limit: 8-bit, and the zero discards.
  testing_support::plain_setup();
  dorvex::get_unicode_char = dorvex::get_word8_char;
  std::FILE* f = stream_of(std::string("WXYZ.\0", 6));
  std::int32_t offset = 0;
  EXPECT_EQ(dorvex::get_word8_char(f, &offset, 4), 'W');
  EXPECT_EQ(offset, 1);
  std::fclose(f);
  f = stream_of(std::string("WXYZ.\0", 6));
  offset = 0;
  EXPECT_EQ(dorvex::get_word8_char(f, &offset, 6), 'W' | ('X' << 8));
  EXPECT_EQ(offset, 2);
  std::fclose(f);
}

TEST(WordDecoder, DeliversWholeLastBlockAtEndOfInput) {
  // The block read reaches the end of the stream at once; every character still comes out.
  std::string text = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(word_text(text, dorvex::get_word8_char), text);
  std::string big;
  for (int i = 0; i < 100; ++i) big += "paragraph " + std::to_string(i) + "\r";
  big += "tail";
  std::string expect;
  for (int i = 0; i < 100; ++i) expect += "paragraph " + std::to_string(i) + "\n";
  expect += "tail";
  EXPECT_EQ(word_text(big, dorvex::get_word8_char), expect);
  // Exactly two blocks: the third read finds nothing and ends the text.
  EXPECT_EQ(word_text(std::string(512, 'q'), dorvex::get_word8_char), std::string(512, 'q'));
}

// ---- plain-text copy ----

std::string copy_text(const std::string& bytes, dorvex::Decoder decoder = nullptr) {
  testing_support::plain_setup();
  dorvex::get_unicode_char = decoder;
  std::size_t n = bytes.size() < 8 ? bytes.size() : 8;
  std::FILE* f = stream_of(bytes.substr(n));
  const auto* prefix = reinterpret_cast<const unsigned char*>(bytes.data());
  std::string out = capture([&] { dorvex::copy_out(f, prefix, n); });
  std::fclose(f);
  return out;
}

TEST(PlainCopy, EightBitCopyConvertsEveryByte) {
  EXPECT_EQ(copy_text(""), "");
  EXPECT_EQ(copy_text("abc"), "abc");
  EXPECT_EQ(copy_text("caf\xE9 cr\xE8me\r\n"), "caf\xC3\xA9 cr\xC3\xA8me\r\n");
  std::string big(600000, 'z');
  big[599999] = '\xFC';
  EXPECT_EQ(copy_text(big), std::string(599999, 'z') + "\xC3\xBC");
}

TEST(PlainCopy, UnicodeCopyHonoursByteOrderMarks) {
  const std::string le("\xFF\xFE" "A\0B\0C\0D\0", 10);
  EXPECT_EQ(copy_text(le, dorvex::get_word8_char), "ABCD");
  EXPECT_EQ(dorvex::get_unicode_char, dorvex::get_utf16lsb);
  const std::string be("\xFE\xFF\0A\0B\0C\0D\x04\x16", 12);
  EXPECT_EQ(copy_text(be, dorvex::get_word8_char), "ABCD\xD0\x96");
  EXPECT_EQ(dorvex::get_unicode_char, dorvex::get_utf16msb);
  // A short file: the odd last byte of the prefix is dropped.
  EXPECT_EQ(copy_text(std::string("\xFF\xFEZ\0q", 5), dorvex::get_word8_char), "Z");
}

TEST(PlainCopy, UnicodeCopyDecodesUtf8PrefixAcrossItsEnd) {
  // Bytes 7 and 8 form one character; the ninth starts the next.
  EXPECT_EQ(copy_text("abcdef\xC3\xA9gh", dorvex::get_word8_char), "abcdef\xC3\xA9gh");
  EXPECT_EQ(dorvex::get_unicode_char, dorvex::get_utf8);
  // The eighth byte starts a two-byte character: its continuation is the ninth byte.
  EXPECT_EQ(copy_text("abcdefg\xC3\xA9h", dorvex::get_word8_char), "abcdefg\xC3\xA9h");
  // And a three-byte one that runs two bytes past the prefix.
  EXPECT_EQ(copy_text("abcdefg\xE2\x82\xACi", dorvex::get_word8_char), "abcdefg\xE2\x82\xACi");
  // A UTF-8 mark is a character like any other.
  EXPECT_EQ(copy_text("\xEF\xBB\xBFtext", dorvex::get_word8_char), "\xEF\xBB\xBFtext");
  // A file that ends inside its first character: one U+FFFD for it.
  EXPECT_EQ(copy_text("ab\xE2\x82", dorvex::get_word8_char), "ab\xEF\xBF\xBD");
  // A byte past the prefix that breaks its last character begins the next one.
  EXPECT_EQ(copy_text("abcdefg\xE2\xC3\xA9", dorvex::get_word8_char), "abcdefg\xEF\xBF\xBD\xC3\xA9");
}

TEST(PlainCopy, UnicodeDecoderStaysForLaterInputs) {
  EXPECT_EQ(copy_text("x\xC3\xA9y", dorvex::get_word8_char), "x\xC3\xA9y");
  // The hook now holds get_utf8, so the next plain text takes the 8-bit copy (this one is no
  // UTF-8, which the copy would recognise).
  testing_support::plain_setup();
  dorvex::get_unicode_char = dorvex::get_utf8;
  std::FILE* f = stream_of("");
  const unsigned char prefix[] = {'x', 0xC3, 0xA9, 0xE9};
  std::string out = capture([&] { dorvex::copy_out(f, prefix, 4); });
  std::fclose(f);
  EXPECT_EQ(out, "x\xC3\x83\xC2\xA9\xC3\xA9");
}

}  // namespace

// ---- the stdio shortcuts against the hooks ----

namespace {

std::size_t forwarding_read(void* dest, std::size_t size, std::size_t count, void* s) {
  return std::fread(dest, size, count, static_cast<std::FILE*>(s));
}
int forwarding_eof(void* s) { return std::feof(static_cast<std::FILE*>(s)); }

// Inputs with text, control codes, UTF-8 and UTF-16 pieces, and plain noise.
std::vector<std::string> mixed_inputs() {
  std::vector<std::string> inputs = {"", "a", "Hello\rWorld\r", "a\x07" "b\x07\x07\r",
                                     "\xef\xbb\xbf" "caf\xc3\xa9\n", std::string("\xff\xfeH\0i\0", 6), "x\xe2\x82"};
  unsigned state = 7;
  for (int n : {1, 255, 256, 257, 511, 512, 4000}) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      state = state * 1103515245u + 12345u;
      unsigned r = state >> 16;
      s += static_cast<char>(r % 3 == 0 ? r % 256 : 'a' + r % 26);
    }
    inputs.push_back(s);
  }
  // Raw Word text of 16-bit and 8-bit stretches with control codes, cut around the chunks the
  // stdio shortcuts read (odd tails too), and one paragraph longer than the paragraph buffer.
  const std::string codes[] = {"\r", "\x07", "\x13", "\x14", "\x15", "\x01", "\x0b", "\x1e", "\xe9", " "};
  for (std::size_t n : {65535, 65536, 65537, 2 * 65536 + 255, 65536 + 1 + 3 * 256, 200001}) {
    std::string s;
    while (s.size() < n) {
      state = state * 1103515245u + 12345u;
      const unsigned r = state >> 16;
      std::string stretch;
      for (unsigned k = r % 300; k > 0; --k) {
        state = state * 1103515245u + 12345u;
        const unsigned q = state >> 16;
        stretch += q % 9 == 0 ? codes[q / 9 % std::size(codes)] : std::string(1, static_cast<char>('a' + q % 26));
      }
      s += r % 3 == 0 ? utf16le(std::u16string(stretch.begin(), stretch.end()) + u", ") : stretch;
    }
    s.resize(n);
    inputs.push_back(s);
  }
  inputs.push_back(std::string(300001, 'p'));
  std::string wide;
  while (wide.size() < 70000) wide += utf16le(u"16-bit text, \u0416\r");
  inputs.push_back(wide.substr(0, 70001));  // ends in an odd byte of a 16-bit block
  return inputs;
}

}  // namespace

TEST(ReaderShortcuts, SameOutputAsThroughTheHooks) {
  for (const std::string& in : mixed_inputs()) {
    for (dorvex::Decoder decoder : {dorvex::get_8bit_char, dorvex::get_word8_char, dorvex::get_utf8}) {
      std::string direct = word_text(in, decoder);
      testing_support::plain_setup();
      dorvex::dorvex_read = forwarding_read;  // not standard mode: every byte through a hook
      dorvex::dorvex_eof = forwarding_eof;
      dorvex::get_unicode_char = decoder;
      std::FILE* f = stream_of(in);
      std::string hooked = capture([&] { dorvex::process_file(f, dorvex::kNoEnd); });
      std::fclose(f);
      EXPECT_EQ(direct, hooked) << "input of " << in.size() << " bytes";
    }
    std::string direct = copy_text(in, dorvex::get_word8_char);
    testing_support::plain_setup();
    dorvex::dorvex_read = forwarding_read;
    dorvex::dorvex_eof = forwarding_eof;
    dorvex::get_unicode_char = dorvex::get_word8_char;
    std::size_t n = in.size() < 8 ? in.size() : 8;
    std::FILE* f = stream_of(in.substr(n));
    std::string hooked = capture([&] {
      dorvex::copy_out(f, reinterpret_cast<const unsigned char*>(in.data()), n);
    });
    std::fclose(f);
    EXPECT_EQ(direct, hooked) << "copy of " << in.size() << " bytes";
  }
  testing_support::plain_setup();
}
