#include "fileutil.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "confutil.h"

// Where `make install` puts the data files; the build system defines it for the core library.
#ifndef DORVEX_DATADIR
#define DORVEX_DATADIR "/usr/local/share/dorvex/charsets"
#endif

namespace dorvex {

namespace {
// The charsets directory beside the executable, then the installed one (when it exists).
constexpr char kDefaultPath[] = "%s/charsets";
constexpr char kDefaultPathWithData[] = "%s/charsets;" DORVEX_DATADIR;
// The text in a path that stands for the executable's directory.
constexpr char kExeMarker[] = "%s";
constexpr std::size_t kExeMarkerLen = sizeof kExeMarker - 1;
// Charset files are "<name>.txt"; "utf-8" needs no file because the converter has it built in.
constexpr char kCharsetPattern[] = "*.txt";
constexpr char kBuiltinCharset[] = "utf-8";
// The charset list puts this many names on a line.
constexpr std::size_t kNamesPerLine = 5;

char program_path[kPathLimit] = "";
char exe_dir_buf[kPathLimit];
char exe_path_buf[kPathLimit];

[[noreturn]] void out_of_memory() {
  std::fputs("Out of memory!", stderr);
  end_program(1);
}

std::size_t count_markers(const char* name) {
  std::size_t n = 0;
  for (const char* p = std::strstr(name, kExeMarker); p; p = std::strstr(p + kExeMarkerLen, kExeMarker))
    ++n;
  return n;
}

// End of the path-list element that begins at start: the next separator or the final zero.
const char* element_end(const char* start) {
  while (*start && !is_list_sep(*start)) ++start;
  return start;
}

// Copies the element [start, end) into buf with a leading "~/" expanded to $HOME. Without HOME
// only the '~' goes and the rest, from its separator on, is used. False when it does not fit.
bool copy_element(char* buf, const char* start, const char* end) {
  std::size_t len = static_cast<std::size_t>(end - start);
  const char* prefix = "";
  if (len >= 2 && start[0] == '~' && start[1] == kDirSep) {
    ++start;
    --len;
    if (const char* home = std::getenv("HOME")) prefix = home;
  }
  std::size_t prefix_len = std::strlen(prefix);
  if (prefix_len + len > kPathLimit - 1) return false;
  std::memcpy(buf, prefix, prefix_len);
  std::memcpy(buf + prefix_len, start, len);
  buf[prefix_len + len] = '\0';
  return true;
}

// True when path names an existing directory; a missing one is simply not searched.
bool is_directory(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Appends s to out[0..*len) with the glob metacharacters quoted, so that a directory called
// "x[1]" is listed like any other. False when the result would not fit in kPathLimit - 1.
bool append_glob_literal(char* out, std::size_t* len, const char* s) {
  for (; *s; ++s) {
    bool special = std::strchr("*?[\\", *s) != nullptr;
    if (*len + (special ? 2 : 1) > kPathLimit - 1) return false;
    if (special) out[(*len)++] = '\\';
    out[(*len)++] = *s;
  }
  out[*len] = '\0';
  return true;
}

bool append_text(char* out, std::size_t* len, const char* s) {
  std::size_t n = std::strlen(s);
  if (*len + n > kPathLimit - 1) return false;
  std::memcpy(out + *len, s, n + 1);
  *len += n;
  return true;
}

// Builds "<dir>/*.txt" for one element of charset_path. False when the element should be
// skipped: too long, or a directory that does not exist (glob with GLOB_ERR would abort on it).
bool charset_pattern(char* pattern, const char* start, const char* end) {
  char dir[kPathLimit];
  if (!prepare_path_buf(dir, start, end) || !is_directory(dir)) return false;
  std::size_t len = 0;
  const char sep[] = {kDirSep, '\0'};
  return append_glob_literal(pattern, &len, dir) && append_text(pattern, &len, sep) &&
         append_text(pattern, &len, kCharsetPattern);
}

// Prints one listed file: the separator for its position, then its base name up to the first '.'.
void print_charset_entry(std::size_t index, const char* path) {
  std::fputc(index % kNamesPerLine == 0 ? '\n' : '\t', stdout);
  const char* base = std::strrchr(path, kDirSep);
  if (!base) return;
  ++base;
  std::fwrite(base, 1, std::strcspn(base, "."), stdout);
}

// Only the text "%s" is replaced: a path is never used as a format, so a stray "%" in a
// directory name is kept as it is instead of reading arguments that were never passed.
const char* substitute_exe_dir(const char* name, char* out) {
  std::size_t markers = count_markers(name);
  if (markers == 0) return name;
  const char* dir = exe_dir();
  std::size_t dir_len = std::strlen(dir);
  std::size_t result_len = std::strlen(name) + markers * dir_len - markers * kExeMarkerLen;
  // One byte short of the buffer, as the single-"%s" rule has always counted it.
  if (result_len + 1 >= kPathLimit) {
    std::fprintf(stderr, "Invalid config file. file name \"%s\" too long after substitution\n",
                 name);
    end_program(1);
  }
  // Built apart and copied, because name may be a previous result in out.
  char result[kPathLimit];
  char* o = result;
  for (const char* p = name; *p;) {
    if (std::strncmp(p, kExeMarker, kExeMarkerLen) == 0) {
      std::memcpy(o, dir, dir_len);
      o += dir_len;
      p += kExeMarkerLen;
    } else {
      *o++ = *p++;
    }
  }
  *o = '\0';
  std::memcpy(out, result, result_len + 1);
  return out;
}
}  // namespace

const char* charset_path = kDefaultPath;
const char* map_path = kDefaultPath;
char* input_buffer = nullptr;

[[noreturn]] void end_program(int status) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  throw ProgramEnd{status};
#else
  std::exit(status);
#endif
}

void set_program_path(const char* argv0) {
  std::snprintf(program_path, sizeof program_path, "%s", argv0 ? argv0 : "");
}

void init_default_paths() {
  const char* path = is_directory(DORVEX_DATADIR) ? kDefaultPathWithData : kDefaultPath;
  charset_path = path;
  map_path = path;
}

char* stradd(const char* first, const char* second) {
  std::size_t l1 = std::strlen(first), l2 = std::strlen(second);
  char* r = static_cast<char*>(std::malloc(l1 + l2 + 1));
  if (!r) out_of_memory();
  std::memcpy(r, first, l1);
  std::memcpy(r + l1, second, l2 + 1);
  return r;
}

const char* exe_dir() {
  std::memcpy(exe_dir_buf, program_path, sizeof exe_dir_buf);
  char* sep = std::strrchr(exe_dir_buf, kDirSep);
  if (sep)
    *sep = '\0';
  else
    std::snprintf(exe_dir_buf, sizeof exe_dir_buf, ".%c", kDirSep);
  return exe_dir_buf;
}

const char* add_exe_path(const char* name) { return substitute_exe_dir(name, exe_path_buf); }

int prepare_path_buf(char* buf, const char* start, const char* end) {
  if (!copy_element(buf, start, end)) return 0;
  if (buf[0] == '\0') {
    std::memcpy(buf, ".", 2);
    return 1;
  }
  // Not through add_exe_path's buffer: callers may be walking a list that lives there.
  substitute_exe_dir(buf, buf);
  return 1;
}

char* find_file(char* name, const char* path_list) {
  if (!path_list) {
    std::free(name);
    return nullptr;
  }
  std::size_t name_len = std::strlen(name);
  char path[kPathLimit];
  for (const char* start = path_list; start;) {
    const char* end = element_end(start);
    if (prepare_path_buf(path, start, end)) {
      std::size_t dir_len = std::strlen(path);
      if (dir_len + 1 + name_len <= kPathLimit - 1) {
        path[dir_len] = kDirSep;
        std::memcpy(path + dir_len + 1, name, name_len + 1);
        if (::access(path, F_OK) == 0) {
          std::free(name);
          return dorvex::strdup(path);
        }
      }
    }
    start = *end ? end + 1 : nullptr;
  }
  std::free(name);
  return nullptr;
}

int check_charset(const char** name_var, const char* name) {
  if (std::strcmp(name, kBuiltinCharset) == 0) {
    *name_var = dorvex::strdup(kBuiltinCharset);
    return 1;
  }
  char* found = find_file(stradd(name, ".txt"), charset_path);
  if (!found) return 0;
  bool empty = found[0] == '\0';
  std::free(found);
  if (empty) return 0;
  *name_var = dorvex::strdup(name);
  return 1;
}

// The elements are expanded as find_file expands them ("~/", "%s", empty as "."), so that the
// list shows exactly the charsets that -s and -d accept.
void list_charsets() {
  glob_t found{};
  int flags = GLOB_ERR;
  bool globbed = false;
  char pattern[kPathLimit];
  for (const char* start = charset_path; start;) {
    const char* end = element_end(start);
    if (charset_pattern(pattern, start, end)) {
      int rc = ::glob(pattern, flags, nullptr, &found);
      globbed = true;
      if (rc != 0 && rc != GLOB_NOMATCH) {
        std::perror("dorvex");
        globfree(&found);
        end_program(1);
      }
      flags |= GLOB_APPEND;
    }
    start = *end ? end + 1 : nullptr;
  }
  std::fputs("Available charsets:", stdout);
  std::size_t count = globbed ? found.gl_pathc : 0;
  for (std::size_t i = 0; i < count; ++i) print_charset_entry(i, found.gl_pathv[i]);
  std::fputc(count % kNamesPerLine == 0 ? '\n' : '\t', stdout);
  std::fputs(kBuiltinCharset, stdout);
  std::fputc('\n', stdout);
  if (globbed) globfree(&found);
}

}  // namespace dorvex
