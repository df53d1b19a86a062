// Helpers for the RTF reader tests: running a document through parse_rtf with the plain setup,
// and a directory of small code-page tables for \ansicpg.
#ifndef DORVEX_TESTS_RTF_SUPPORT_H
#define DORVEX_TESTS_RTF_SUPPORT_H

#include <cstdio>
#include <string>

#include "context.h"
#include "confutil.h"
#include "fileutil.h"
#include "fixture.h"
#include "rtfread.h"

namespace testing_support {

// Output of parse_rtf on doc (latin-1 source, UTF-8 output, no wrapping). status receives the
// result when given.
inline std::string rtf_text(const std::string& doc, int* status = nullptr) {
  plain_setup();
  std::FILE* f = stream_of(doc);
  int result = -1;
  std::string out = capture([&] { result = dorvex::parse_rtf(f, nullptr, 0); });
  std::fclose(f);
  if (status) *status = result;
  return out;
}

// One "byte value" line per entry, as charset files hold them.
inline std::string charset_lines(int first, int last, int (*unicode)(int)) {
  std::string text;
  char line[32];
  for (int b = first; b <= last; ++b) {
    std::snprintf(line, sizeof line, "0x%02X 0x%04X\n", b, unicode(b));
    text += line;
  }
  return text;
}

// cp1252 and cp1251 tables (ASCII and the letters the tests use) in a directory of their own,
// with charset_path, source_csname and forced_charset set for the test and restored after.
class CodePageDir {
 public:
  CodePageDir()
      : saved_path_(dorvex::ctx().charset_path),
        saved_name_(dorvex::ctx().source_csname),
        saved_forced_(dorvex::ctx().forced_charset) {
    std::string ascii = "# test table\n" + charset_lines(0x20, 0x7E, [](int b) { return b; });
    write_file(dir_.file("cp1252.txt"),
               ascii + charset_lines(0xA0, 0xFF, [](int b) { return b; }) + "0x80 0x20AC\n");
    write_file(dir_.file("cp1251.txt"),
               ascii + charset_lines(0xC0, 0xFF, [](int b) { return b - 0xC0 + 0x0410; }));
    dorvex::ctx().charset_path = dir_.path().c_str();
    dorvex::ctx().source_csname = "cp1252";
    dorvex::ctx().forced_charset = 0;
    dorvex::release_rtf_charsets();
  }
  ~CodePageDir() {
    dorvex::release_rtf_charsets();
    dorvex::ctx().charset_path = saved_path_;
    dorvex::ctx().source_csname = saved_name_;
    dorvex::ctx().forced_charset = saved_forced_;
  }
  CodePageDir(const CodePageDir&) = delete;
  CodePageDir& operator=(const CodePageDir&) = delete;

 private:
  TempDir dir_;
  const char* saved_path_;
  const char* saved_name_;
  int saved_forced_;
};

// The shipped charsets directory (8-bit and double-byte tables) for the test's duration, with a
// cp1252 source name; what the test changes is restored after.
class ShippedCharsets {
 public:
  ShippedCharsets()
      : saved_path_(dorvex::ctx().charset_path),
        saved_name_(dorvex::ctx().source_csname),
        saved_forced_(dorvex::ctx().forced_charset) {
    dorvex::ctx().charset_path = DORVEX_CHARSETS_DIR;
    dorvex::ctx().source_csname = "cp1252";
    dorvex::ctx().forced_charset = 0;
    dorvex::release_rtf_charsets();
  }
  ~ShippedCharsets() {
    dorvex::release_rtf_charsets();
    dorvex::ctx().charset_path = saved_path_;
    dorvex::ctx().source_csname = saved_name_;
    dorvex::ctx().forced_charset = saved_forced_;
  }
  ShippedCharsets(const ShippedCharsets&) = delete;
  ShippedCharsets& operator=(const ShippedCharsets&) = delete;

 private:
  const char* saved_path_;
  const char* saved_name_;
  int saved_forced_;
};

}  // namespace testing_support

#endif  // DORVEX_TESTS_RTF_SUPPORT_H
