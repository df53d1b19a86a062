// Helpers for the charset, map and decoder tests: the conversion settings saved and restored
// around each test, and charset/map loading from in-memory text.
#ifndef DORVEX_TESTS_CHARMAPS_H
#define DORVEX_TESTS_CHARMAPS_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "context.h"
#include "charsets.h"
#include "confutil.h"
#include "fileutil.h"
#include "fixture.h"
#include "substmap.h"

namespace testing_support {

// Saves every setting the conversion reads and puts it back at scope exit.
class ConversionSettings {
 public:
  ConversionSettings()
      : source_(dorvex::ctx().source_charset),
        target_(dorvex::ctx().target_charset),
        spec_(dorvex::ctx().spec_chars),
        repl_(dorvex::ctx().replacements),
        hex_(dorvex::ctx().unknown_as_hex),
        longest_(dorvex::ctx().longest_sequence),
        charset_path_(dorvex::ctx().charset_path),
        map_path_(dorvex::ctx().map_path),
        input_buffer_(dorvex::ctx().input_buffer),
        decoder_(dorvex::ctx().get_unicode_char) {
    std::memcpy(bad_, dorvex::ctx().bad_char, sizeof bad_);
  }
  ~ConversionSettings() {
    dorvex::ctx().source_charset = source_;
    dorvex::ctx().target_charset = target_;
    dorvex::ctx().spec_chars = spec_;
    dorvex::ctx().replacements = repl_;
    dorvex::ctx().unknown_as_hex = hex_;
    dorvex::ctx().longest_sequence = longest_;
    dorvex::ctx().charset_path = charset_path_;
    dorvex::ctx().map_path = map_path_;
    dorvex::ctx().input_buffer = input_buffer_;
    dorvex::ctx().get_unicode_char = decoder_;
    std::memcpy(dorvex::ctx().bad_char, bad_, sizeof bad_);
  }
  ConversionSettings(const ConversionSettings&) = delete;
  ConversionSettings& operator=(const ConversionSettings&) = delete;

 private:
  dorvex::CharsetTable source_;
  dorvex::ReverseMap* target_;
  dorvex::SubstMap* spec_;
  dorvex::SubstMap* repl_;
  int hex_;
  int longest_;
  const char* charset_path_;
  const char* map_path_;
  char* input_buffer_;
  dorvex::Decoder decoder_;
  char bad_[2];
};

// The table parsed from charset-file text, or null; `messages` receives what went to stderr.
inline dorvex::CharsetTable charset_from_text(const std::string& text, std::string* messages,
                                              const char* path = "test.txt") {
  std::FILE* f = stream_of(text);
  testing::internal::CaptureStderr();
  dorvex::CharsetTable t = dorvex::parse_charset_file(f, path);
  *messages = testing::internal::GetCapturedStderr();
  std::fclose(f);
  return t;
}

// A new map filled from map-file text; `messages` receives what went to stderr.
inline dorvex::SubstMap* map_from_text(const std::string& text, std::string* messages,
                                       const char* path = "test.rpl") {
  auto* map = static_cast<dorvex::SubstMap*>(std::calloc(1, sizeof(dorvex::SubstMap)));
  std::FILE* f = stream_of(text);
  testing::internal::CaptureStderr();
  dorvex::load_substmap_lines(map, f, path);
  *messages = testing::internal::GetCapturedStderr();
  std::fclose(f);
  return map;
}

// True once find_file really searches (it may still be a placeholder in a partial checkout).
inline bool find_file_works(const TempDir& dir) {
  write_file(dir.file("probe.txt"), "");
  char* hit = dorvex::find_file(dorvex::stradd("probe", ".txt"), dir.path().c_str());
  bool ok = hit != nullptr;
  std::free(hit);
  std::remove(dir.file("probe.txt").c_str());
  return ok;
}

}  // namespace testing_support

#endif  // DORVEX_TESTS_CHARMAPS_H
