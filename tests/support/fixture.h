// Shared helpers for the unit tests: temporary directories and files, output capture, and a
// known conversion setup (identity source table, UTF-8 output, empty maps, no wrapping).
#ifndef DORVEX_TESTS_FIXTURE_H
#define DORVEX_TESTS_FIXTURE_H

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "context.h"
#include "charsets.h"
#include "platform.h"
#include "ole.h"
#include "reader.h"
#include "substmap.h"
#include "writer.h"

namespace testing_support {

// A fresh directory in the system's temporary directory ($TMPDIR; TMP or TEMP on Windows),
// removed with everything in it at scope exit. file() joins names with the system's separator,
// as the program joins the paths it finds.
class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> made{0};
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) return;
    // The clock and a count make the name; create_directory says whether it was free.
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = "dorvex-test-" + std::to_string(now % 1000000007u) + "-" +
                               std::to_string(made++);
      std::string candidate = (base / name).string();
      if (std::filesystem::create_directory(candidate, ec) && !ec) {
        path_ = candidate;
        return;
      }
    }
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + dorvex::kDirSep + name; }

 private:
  std::string path_;
};

// A path written with '/' in the system's separator ('\\' on Windows); other systems' paths as
// they are.
inline std::string native(std::string path) {
  for (char& c : path)
    if (c == '/') c = dorvex::kDirSep;
  return path;
}

// The separator of path lists that only some systems take: ':' on POSIX systems; on Windows,
// where ':' belongs to a drive letter, ';', the only one there.
#ifdef _WIN32
constexpr const char kOtherListSep[] = ";";
#else
constexpr const char kOtherListSep[] = ":";
#endif

// Sets or (value null) removes an environment variable.
inline void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");  // an empty value removes it
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

// Makes a pipe: fds[0] reads what fds[1] writes, in binary. 0 on success, as pipe() returns.
inline int make_pipe(int fds[2]) {
#ifdef _WIN32
  return _pipe(fds, 65536, _O_BINARY);
#else
  return pipe(fds);
#endif
}

// A pipe's read end as a stream, with bytes (no more than the pipe holds) already written into
// it and the write end closed; null on failure.
inline std::FILE* pipe_holding(const std::string& bytes) {
  int fds[2];
  if (make_pipe(fds) != 0) return nullptr;
  const bool written = write(fds[1], bytes.data(), static_cast<unsigned>(bytes.size())) ==
                       static_cast<int>(bytes.size());
  close(fds[1]);
  if (!written) {
    close(fds[0]);
    return nullptr;
  }
  return fdopen(fds[0], "rb");
}

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

// An unnamed temporary file open for update, as std::tmpfile makes one. On Windows the system
// layer's: the C runtime's tmpfile puts its files in the root of the current drive, where a
// user need not be allowed to write.
inline std::FILE* temp_stream() {
#ifdef _WIN32
  return dorvex::open_temp_file();
#else
  return std::tmpfile();
#endif
}

// A temporary file holding bytes, positioned at 0. The caller closes it.
inline std::FILE* stream_of(const std::string& bytes) {
  std::FILE* f = temp_stream();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

// Runs fn with the program's output sent to a temporary file and returns what it wrote.
inline std::string capture(const std::function<void()>& fn) {
  std::FILE* saved = dorvex::ctx().out_file;
  std::FILE* tmp = temp_stream();
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
