#include "context.h"
#include "analyze.h"

#include <gtest/gtest.h>

#include <string>

#include "charsets.h"
#include "fixture.h"
#include "reader.h"

namespace {

using testing_support::capture;
using testing_support::stream_of;

void put16(std::string& b, std::size_t off, unsigned v) {
  b[off] = static_cast<char>(v & 0xFF);
  b[off + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A plain-header Word file: 128-byte header, then filler up to text_start, then the text.
std::string plain_word(unsigned flags, std::int32_t text_start, const std::string& text) {
  std::string b(128, '\0');
  b[0] = '\xDB';
  b[1] = '\xA5';
  put16(b, 2, 0x2D);
  put16(b, 4, 0x65);
  put16(b, 6, 0x409);
  put16(b, 10, flags);
  put32(b, 14, 0x1234ABCD);
  put32(b, 24, static_cast<std::uint32_t>(text_start));
  put32(b, 28, static_cast<std::uint32_t>(text_start + static_cast<std::int32_t>(text.size())));
  if (text_start > 128) b += std::string(static_cast<std::size_t>(text_start - 128), 'F');
  return b + text;
}

struct Outcome {
  std::string out, err;
  int status;
};

Outcome analyze(const std::string& bytes, dorvex::Decoder decoder = nullptr) {
  testing_support::plain_setup();
  dorvex::ctx().get_unicode_char = decoder;
  std::FILE* f = stream_of(bytes);
  Outcome r;
  testing::internal::CaptureStderr();
  r.out = capture([&] { r.status = dorvex::analyze_format(f); });
  r.err = testing::internal::GetCapturedStderr();
  std::fclose(f);
  return r;
}

TEST(Detection, PlainTextOfAnyLength) {
  EXPECT_EQ(analyze("").out, "");
  EXPECT_EQ(analyze("").status, 0);
  EXPECT_EQ(analyze("abc").out, "abc");
  EXPECT_EQ(analyze("{\\r").out, "{\\r");  // shorter than the RTF signature
  EXPECT_EQ(analyze("\xD0\xCF\x11\xE0\xA1\xB1\x1A").out.size(), 12u);  // 7 bytes, as UTF-8
  EXPECT_EQ(analyze("plain text longer than eight bytes\n").out,
            "plain text longer than eight bytes\n");
}

TEST(Detection, WindowsWriteAlwaysDecodesEightBit) {
  const std::string write = std::string("\x31\xBE\0\0", 4) + "Hello\rWorld\r";
  Outcome r = analyze(write, dorvex::get_word8_char);
  EXPECT_EQ(r.out, "[Windows Write file. Some garbage expected]\nHello\nWorld\n");
  EXPECT_EQ(dorvex::ctx().get_unicode_char, dorvex::get_8bit_char);
  EXPECT_EQ(r.status, 0);
}

TEST(Detection, RawModeReadsEverythingAsWordText) {
  testing_support::plain_setup();
  dorvex::ctx().signature_check = 0;
  std::FILE* f = stream_of("{\\rtf1 x}\rnext\r");
  std::string out = capture([&] { dorvex::analyze_format(f); });
  std::fclose(f);
  dorvex::ctx().signature_check = 1;
  EXPECT_EQ(out, "{\\rtf1 x}\nnext\n");
  EXPECT_EQ(dorvex::ctx().get_unicode_char, dorvex::get_8bit_char);
}

TEST(Detection, UnterminatedLastLineIsWrittenBeforeNextInput) {
  testing_support::plain_setup();
  dorvex::ctx().wrap_margin = 72;
  dorvex::ctx().signature_check = 0;
  std::string out = capture([] {
    for (const char* text : {"first doc", "second doc\r"}) {
      std::FILE* f = stream_of(text);
      dorvex::analyze_format(f);
      std::fclose(f);
    }
  });
  dorvex::ctx().signature_check = 1;
  dorvex::ctx().wrap_margin = 0;
  EXPECT_EQ(out, "first doc\nsecond doc\n\n");
}

TEST(WordHeader, TextRangeAfterHeaderIsExtracted) {
  // Text start 0x180: 256 bytes are skipped after the header.
  Outcome r = analyze(plain_word(0, 0x180, "Body text\rmore\r"));
  EXPECT_EQ(r.out, "Body text\nmore\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // Text start inside the header: the text begins right after it.
  r = analyze(plain_word(0, 0x80, "At once\r"));
  EXPECT_EQ(r.out, "At once\n");
  std::string inside = plain_word(0, 0x80, "Z\r");
  put32(inside, 24, 0x10);
  EXPECT_EQ(analyze(inside).out, "Z\n");
}

TEST(WordHeader, FlagsChooseDecoderAndWarn) {
  Outcome r = analyze(plain_word(0x0014, 0x80, "Saved\r"));
  EXPECT_EQ(r.err, "[This was fast-saved  1 times. Some information is lost]\n");
  EXPECT_EQ(r.out, "Saved\n");
  r = analyze(plain_word(0x1000, 0x80, std::string("W\0o\0r\0d\0,\0\r\0", 12)));
  EXPECT_EQ(r.out, "Word,\n");
  EXPECT_EQ(dorvex::ctx().get_unicode_char, dorvex::get_word8_char);
  // A decoder already chosen stays.
  r = analyze(plain_word(0x1000, 0x80, "eight\r"), dorvex::get_8bit_char);
  EXPECT_EQ(dorvex::ctx().get_unicode_char, dorvex::get_8bit_char);
  EXPECT_EQ(r.out, "eight\n");
}

TEST(WordHeader, EncryptedFileGivesNoText) {
  Outcome r = analyze(plain_word(0x0100, 0x80, "secret\r"));
  EXPECT_EQ(r.status, 69);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "[File is encrypted. Encryption key = 1234abcd]\n");
}

TEST(WordHeader, VerboseReport) {
  dorvex::ctx().verbose = 1;
  std::string doc = plain_word(0x0C03, 0x90, "v\r");
  put16(doc, 20, 1252);
  doc[18] = 1;
  Outcome r = analyze(doc);
  dorvex::ctx().verbose = 0;
  EXPECT_EQ(r.out,
            "File Info block version 45\n"
            "Found at file offset 128 (hex 80)\n"
            "Written by product version 101\n"
            "Language 1033\n"
            "This is template (DOT) file\n"
            "This is glossary file\n"
            "File is meant to be read-only\n"
            "File is write-reserved\n"
            "File created on Macintosh\n"
            "Using character set 1252\n"
            "Textstart = 144 (hex 90)\n"
            "Textlen =   2 (hex 2)\n"
            "v\n");
}

TEST(WordHeaderDeathTest, TextStartPastEndIsFatal) {
  std::string doc = plain_word(0, 0x80, "short\r");
  put32(doc, 24, 0x5000);
  auto run = [&] {
    testing_support::plain_setup();
    try {
      dorvex::analyze_format(stream_of(doc));
    } catch (const dorvex::ProgramEnd& end) {
      std::exit(end.status);  // the reading ends there, with this status
    }
  };
  EXPECT_EXIT(run(), testing::ExitedWithCode(1),
              "File ended before textstart. Probably it is broken. Try -b switch\n");
}

}  // namespace
