// Shared helpers for the unit tests: temporary directories and files, output capture, and a
// known conversion setup (identity source table, UTF-8 output, empty maps, no wrapping).
#ifndef DORVEX_TESTS_FIXTURE_H
#define DORVEX_TESTS_FIXTURE_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "context.h"
#include "charsets.h"
#include "ole.h"
#include "reader.h"
#include "substmap.h"
#include "writer.h"

namespace testing_support {

// A fresh directory under $TMPDIR, removed with everything in it at scope exit.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "dorvex-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline std::string read_stream(std::FILE* f) {
  std::string out;
  std::rewind(f);
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
  return out;
}

// A tmpfile holding bytes, positioned at 0. The caller closes it.
inline std::FILE* stream_of(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

// Runs fn with the program's output sent to a temporary file and returns what it wrote.
inline std::string capture(const std::function<void()>& fn) {
  std::FILE* saved = dorvex::ctx().out_file;
  std::FILE* tmp = std::tmpfile();
  dorvex::ctx().out_file = tmp;
  fn();
  std::fflush(tmp);
  dorvex::ctx().out_file = saved;
  std::string out = read_stream(tmp);
  std::fclose(tmp);
  return out;
}

inline dorvex::SubstMap* empty_map() {
  return static_cast<dorvex::SubstMap*>(std::calloc(1, sizeof(dorvex::SubstMap)));
}

// Byte b stands for U+00bb (ISO 8859-1).
inline dorvex::CharsetTable latin1_table() {
  auto* t = static_cast<std::uint16_t*>(std::malloc(256 * sizeof(std::uint16_t)));
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i);
  return t;
}

// Latin-1 in, UTF-8 out, empty maps, no wrapping, no decoder, standard hooks, empty line.
inline void plain_setup() {
  static dorvex::CharsetTable latin1 = latin1_table();
  static dorvex::SubstMap* none = empty_map();
  dorvex::ctx().source_charset = latin1;
  dorvex::ctx().target_charset = nullptr;
  dorvex::ctx().spec_chars = none;
  dorvex::ctx().replacements = none;
  dorvex::ctx().unknown_as_hex = 0;
  dorvex::ctx().wrap_margin = 0;
  dorvex::ctx().get_unicode_char = nullptr;
  dorvex::set_std_func();
  dorvex::reset_writer();
  dorvex::reset_word8_block();
}

}  // namespace testing_support

#endif  // DORVEX_TESTS_FIXTURE_H
