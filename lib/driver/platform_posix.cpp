// The POSIX side of platform.h (Linux, the BSDs, macOS).
#ifndef _WIN32

#include "platform.h"

#include <fcntl.h>
#include <glob.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "datafile.h"
#include "fileutil.h"

namespace dorvex {

std::FILE* open_path(const char* path, const char* mode) { return std::fopen(path, mode); }

bool path_exists(const char* path) { return ::access(path, F_OK) == 0; }

bool is_directory(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_executable_file(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode) && ::access(path, X_OK) == 0;
}

bool stream_is_directory(std::FILE* f) {
  struct stat st;
  return ::fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

bool regular_file_size(std::FILE* f, std::uint64_t* size) {
  struct stat st;
  if (::fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool path_file_size(const char* path, std::uint64_t* size) {
  struct stat st;
  if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

std::string running_program_path() {
  char link[kPathLimit];
  ssize_t n = ::readlink("/proc/self/exe", link, sizeof link - 1);
  if (n <= 0) return {};
  return std::string(link, static_cast<std::size_t>(n));
}

const char* home_directory() { return std::getenv("HOME"); }

namespace {

// Appends s to out with the glob metacharacters quoted, so that a directory called "x[1]" is
// listed like any other. False when the result would not fit in kPathLimit - 1.
bool append_glob_literal(std::string* out, const char* s) {
  for (; *s; ++s) {
    if (std::strchr("*?[\\", *s)) *out += '\\';
    *out += *s;
  }
  return out->size() <= kPathLimit - 1;
}

}  // namespace

bool list_txt_files(const char* dir, std::vector<std::string>* paths) {
  if (!is_directory(dir)) return true;  // glob with GLOB_ERR would abort on it
  std::string pattern;
  if (!append_glob_literal(&pattern, dir)) return true;  // too long to search: nothing there
  pattern += kDirSep;
  pattern += "*.txt";
  if (pattern.size() > kPathLimit - 1) return true;
  glob_t found{};
  const int rc = ::glob(pattern.c_str(), GLOB_ERR, nullptr, &found);
  if (rc != 0 && rc != GLOB_NOMATCH) {
    const int error = errno != 0 ? errno : EIO;
    globfree(&found);
    errno = error;
    return false;
  }
  for (std::size_t i = 0; rc == 0 && i < found.gl_pathc; ++i) paths->emplace_back(found.gl_pathv[i]);
  globfree(&found);
  return true;
}

std::FILE* open_data_file(const char* path, std::uint64_t cap, bool* refused) {
  *refused = false;
  // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and is refused below.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > cap) {
    const int error = errno;
    ::close(fd);
    *refused = true;
    errno = error;
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return f;
}

// In TMPDIR (default /tmp), unlinked at once.
std::FILE* open_temp_file() {
  const char* dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  std::string path = std::string(dir) + "/dorvex-XXXXXX";
  int fd = ::mkstemp(path.data());
  if (fd < 0) return nullptr;
  ::unlink(path.c_str());
  std::FILE* f = ::fdopen(fd, "w+b");
  if (!f) ::close(fd);
  return f;
}

bool set_file_length(std::FILE* f, std::uint64_t length) {
  return ::ftruncate(fileno(f), off_t(length)) == 0;
}

bool read_at(std::FILE* f, std::uint64_t offset, unsigned char* dest, std::size_t n, std::size_t* got) {
  const int fd = ::fileno(f);
  if (fd < 0) return false;
  *got = 0;
  while (*got < n) {
    ssize_t r = ::pread(fd, dest + *got, n - *got, off_t(offset) + off_t(*got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    *got += std::size_t(r);
  }
  return true;
}

Rewind rewind_input(std::FILE* f) {
  if (fseeko(f, 0, SEEK_SET) == 0) return Rewind::done;
  return errno == ESPIPE ? Rewind::pipe : Rewind::failed;
}

std::FILE* open_memory_stream(const void* data, std::size_t size) {
  // Read-only: fmemopen writes nothing to a stream opened "rb".
  return ::fmemopen(const_cast<void*>(data), size, "rb");
}

int write_error(int error) { return error; }

bool is_terminal(std::FILE* f) { return ::isatty(fileno(f)) != 0; }

// A closed 0, 1 or 2 would be handed out by the next open: an input, a charset table or the
// temporary copy of a piped file would then be written to as standard output, or read as
// standard input. /dev/null takes the place first.
bool prepare_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int null_fd = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null_fd != fd) return false;
  }
  return true;
}

// Asked in a locale object of its own, so the process's character classes stay those of "C". It
// is made this thread's locale for the question: a static glibc's nl_langinfo_l answers for the
// global locale whatever object it is given.
std::string locale_codeset(const char* name) {
  locale_t user = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (!user) return {};
  locale_t previous = ::uselocale(user);
  const char* codeset = ::nl_langinfo(CODESET);
  std::string result = codeset ? codeset : "";
  ::uselocale(previous);
  ::freelocale(user);
  return result;
}

unsigned console_output_code_page() { return 0; }

unsigned system_ansi_code_page() { return 0; }

void utf8_command_line(int*, char***) {}

}  // namespace dorvex

#endif  // _WIN32
