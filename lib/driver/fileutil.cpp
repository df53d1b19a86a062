#include "fileutil.h"

#include <glob.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "confutil.h"
#include "shipped.h"

// Where the configured install puts the data files and the program; the build system defines
// both for the core library.
#ifndef DORVEX_DATADIR
#define DORVEX_DATADIR "/usr/local/share/dorvex/charsets"
#endif
#ifndef DORVEX_BINDIR
#define DORVEX_BINDIR "/usr/local/bin"
#endif

namespace dorvex {

namespace {
// Data directories, in search order: beside the executable (a build tree, or an install that
// keeps everything in one directory), the share directory of the prefix the executable was
// installed in (wherever that prefix is), and the data directory configured at build time.
constexpr const char* kDataDirs[] = {"%s/charsets", "%s/../share/dorvex/charsets", DORVEX_DATADIR};
constexpr char kDefaultPath[] = "%s/charsets";
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
char default_path_buf[kPathLimit];
std::string resolved_charset;

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

// Copies path into program_path when it fits; false otherwise.
bool keep_program_path(const char* path) {
  return static_cast<std::size_t>(std::snprintf(program_path, sizeof program_path, "%s", path)) <
         sizeof program_path;
}

// The executable the kernel started, whatever the name it was called by.
bool program_from_proc() {
  char link[kPathLimit];
  ssize_t n = ::readlink("/proc/self/exe", link, sizeof link - 1);
  if (n <= 0) return false;
  link[n] = '\0';
  return keep_program_path(link);
}

bool is_executable_file(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode) && ::access(path, X_OK) == 0;
}

// Names people type for charsets, after lower-casing, mapped to the table names.
struct CharsetAlias {
  std::string_view alias, table;
};
constexpr CharsetAlias kCharsetAliases[] = {
    {"utf8", "utf-8"},     {"latin1", "8859-1"}, {"koi8r", "koi8-r"},
    {"koi8u", "koi8-u"},   {"macintosh", "mac-roman"},
};
// Prefixes that stand before a number: "iso-8859-5" is 8859-5 (glibc also writes "iso88595" in
// locale names), "windows-1252" and "ibm866" are code pages. A bare number is a code page too.
struct CharsetPrefix {
  std::string_view prefix, table_prefix;
};
constexpr CharsetPrefix kCharsetPrefixes[] = {
    {"iso-8859-", "8859-"}, {"iso8859-", "8859-"}, {"iso_8859-", "8859-"},
    {"iso8859", "8859-"},   {"windows-", "cp"},    {"ibm", "cp"},
    {"", "cp"},
};

// ASCII lower case, whatever the locale.
std::string lower_case(std::string_view s) {
  std::string lower(s);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool is_number(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The table name a lower-cased name stands for; the name itself when no alias applies.
std::string unalias_charset(const std::string& lower) {
  for (const CharsetAlias& a : kCharsetAliases)
    if (lower == a.alias) return std::string(a.table);
  for (const CharsetPrefix& p : kCharsetPrefixes) {
    std::string_view name(lower);
    if (name.substr(0, p.prefix.size()) != p.prefix) continue;
    std::string_view number = name.substr(p.prefix.size());
    if (is_number(number)) return std::string(p.table_prefix) + std::string(number);
  }
  return lower;
}

// The locale name that rules LC_CTYPE, in the order setlocale(LC_CTYPE, "") takes them.
const char* ctype_locale_name() {
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return value;
  }
  return "";
}

// A table resolve_charset found while tables are held, open for read_charset.
struct HeldTable {
  std::string name;
  std::FILE* file = nullptr;
  char* path = nullptr;
};
bool holding_tables = false;
std::array<HeldTable, 2> held_tables;  // the source and the target table
std::size_t next_held = 0;

void release(HeldTable& table) {
  if (table.file) std::fclose(table.file);
  std::free(table.path);
  table = HeldTable{};
}

HeldTable* held_table(const char* name) {
  for (HeldTable& table : held_tables)
    if (table.file && table.name == name) return &table;
  return nullptr;
}

// Opens the table to hold it. A table that is there but cannot be opened exists all the same:
// read_charset will say why it cannot be read.
bool open_to_hold(const char* name) {
  if (held_table(name)) return true;
  char* path = nullptr;
  std::FILE* f = open_along_path(stradd(name, ".txt"), charset_path, &path, kMaxCharsetFile);
  if (!f) {
    std::free(path);
    return path != nullptr;
  }
  HeldTable& slot = held_tables[next_held];
  next_held = (next_held + 1) % held_tables.size();
  release(slot);
  slot.name = name;
  slot.file = f;
  slot.path = path;
  return true;
}

bool charset_table_exists(const char* name) {
  if (holding_tables) return open_to_hold(name);
  char* found = find_file(stradd(name, ".txt"), charset_path);
  bool exists = found && found[0] != '\0';
  std::free(found);
  return exists;
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
  for (const char* p = name;;) {
    const char* marker = std::strstr(p, kExeMarker);
    const std::size_t kept = marker ? static_cast<std::size_t>(marker - p) : std::strlen(p);
    std::memcpy(o, p, kept);
    o += kept;
    if (!marker) break;
    std::memcpy(o, dir, dir_len);
    o += dir_len;
    p = marker + kExeMarkerLen;
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

// PATH is split at ":" only, as the shell splits it; an empty element is the current directory
// there too, so a program found there was started from it.
std::string find_in_exec_path(const char* name, const char* path_list) {
  if (!path_list || !*name || std::strchr(name, kDirSep)) return {};
  std::string_view rest(path_list);
  while (true) {
    std::size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    std::string candidate = (dir.empty() ? std::string(".") : dir) + kDirSep + name;
    if (is_executable_file(candidate.c_str())) return candidate;
    if (colon == std::string_view::npos) return {};
    rest.remove_prefix(colon + 1);
  }
}

void set_program_path(const char* argv0) {
  if (!argv0) argv0 = "";
  if (std::strchr(argv0, kDirSep) && keep_program_path(argv0)) return;
  if (program_from_proc()) return;
  std::string along_path = find_in_exec_path(argv0, std::getenv("PATH"));
  if (!along_path.empty() && keep_program_path(along_path.c_str())) return;
  // Nothing says where we are: the configured install directory, not whatever is current.
  keep_program_path(DORVEX_BINDIR "/dorvex");
}

void init_default_paths() {
  std::size_t len = 0;
  default_path_buf[0] = '\0';
  const char sep[] = {';', '\0'};
  std::size_t exe_dir_len = std::strlen(exe_dir());
  // Where the first directory exists (beside a build, or an install that keeps everything in one
  // directory) the others join the list unasked: a missing one then costs a failed look-up only
  // for a file the first lacks, where asking after each cost a stat at every start.
  bool ask = true;
  for (const char* dir : kDataDirs) {
    // A directory too long to search is skipped here rather than refused later at every use.
    if (exe_dir_len + std::strlen(dir) >= kPathLimit) continue;
    if (ask && !is_directory(add_exe_path(dir))) continue;
    if (dir == kDataDirs[0]) ask = false;
    if (len > 0 && !append_text(default_path_buf, &len, sep)) break;
    if (!append_text(default_path_buf, &len, dir)) break;
  }
  const char* path = len > 0 ? default_path_buf : kDefaultPath;
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

namespace {

// Fills path with name in the directory of the next element of a path list and moves *rest
// past that element; path is left empty when the element is too long to search. False once
// the list is done.
bool next_candidate(const char** rest, const char* name, std::size_t name_len, char* path) {
  const char* start = *rest;
  if (!start) return false;
  const char* end = element_end(start);
  *rest = *end ? end + 1 : nullptr;
  if (prepare_path_buf(path, start, end)) {
    std::size_t dir_len = std::strlen(path);
    if (dir_len + 1 + name_len <= kPathLimit - 1) {
      path[dir_len] = kDirSep;
      std::memcpy(path + dir_len + 1, name, name_len + 1);
      return true;
    }
  }
  path[0] = '\0';
  return true;
}

}  // namespace

char* find_file(char* name, const char* path_list) {
  const std::size_t name_len = std::strlen(name);
  char path[kPathLimit];
  for (const char* rest = path_list; next_candidate(&rest, name, name_len, path);) {
    if (path[0] && ::access(path, F_OK) == 0) {
      std::free(name);
      return dorvex::strdup(path);
    }
  }
  std::free(name);
  return nullptr;
}

std::FILE* open_along_path(char* name, const char* path_list, char** found, std::uint64_t cap,
                           bool* refused) {
  const std::size_t name_len = std::strlen(name);
  char path[kPathLimit];
  *found = nullptr;
  bool refused_here = false;
  if (refused) *refused = false;
  for (const char* rest = path_list; next_candidate(&rest, name, name_len, path);) {
    if (!path[0]) continue;
    std::FILE* f = open_data_file(path, cap, &refused_here);
    const int error = errno;
    // A file that is there but cannot be opened ends the search, as find_file would find it.
    if (f || refused_here || ::access(path, F_OK) == 0) {
      if (refused) *refused = refused_here;
      *found = dorvex::strdup(path);
      std::free(name);
      errno = error;
      return f;
    }
  }
  std::free(name);
  return nullptr;
}

const char* resolve_charset(const char* name) {
  if (std::strcmp(name, kBuiltinCharset) == 0 || charset_table_exists(name)) {
    resolved_charset = name;
    return resolved_charset.c_str();
  }
  std::string table = unalias_charset(lower_case(name));
  if (table != kBuiltinCharset && (table == name || !charset_table_exists(table.c_str())))
    return nullptr;
  resolved_charset = std::move(table);
  return resolved_charset.c_str();
}

const char* shipped_charset_name(const char* name) {
  if (const char* table = shipped_charset(name)) return table;
  return shipped_charset(unalias_charset(lower_case(name)).c_str());
}

const char* locale_charset() {
  const char* name = ctype_locale_name();
  if (!*name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) return nullptr;
  // "language_TERRITORY.codeset@modifier": the codeset is read off the name, which costs nothing
  // at start-up, where loading the locale would.
  if (const char* dot = std::strchr(name, '.')) {
    std::string codeset(dot + 1, std::strcspn(dot + 1, "@"));
    if (codeset.empty()) return nullptr;
    // The common case, UTF-8 in any spelling, needs no look at the file system.
    if (unalias_charset(lower_case(codeset)) == kBuiltinCharset) return kBuiltinCharset;
    return resolve_charset(codeset.c_str());
  }
  // A name without a codeset ("ru_RU") has the locale's own default: ask the C library, in a
  // locale object of its own, so the process's character classes stay those of "C". It is made
  // this thread's locale for the question: a static glibc's nl_langinfo_l answers for the
  // global locale whatever object it is given.
  locale_t user = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (!user) return nullptr;
  locale_t previous = ::uselocale(user);
  const char* codeset = ::nl_langinfo(CODESET);
  const char* charset = codeset && *codeset ? resolve_charset(codeset) : nullptr;
  ::uselocale(previous);
  ::freelocale(user);
  return charset;
}

void hold_found_tables(bool hold) {
  holding_tables = hold;
  if (!hold)
    for (HeldTable& table : held_tables) release(table);
}

std::FILE* open_charset_table(const char* name, char** found, bool* refused) {
  if (refused) *refused = false;
  if (HeldTable* held = held_table(name)) {
    std::FILE* f = held->file;
    *found = held->path;
    held->file = nullptr;
    held->path = nullptr;
    held->name.clear();
    return f;
  }
  return open_along_path(stradd(name, ".txt"), charset_path, found, kMaxCharsetFile, refused);
}

int check_charset(const char** name_var, const char* name) {
  const char* charset = resolve_charset(name);
  if (!charset) return 0;
  *name_var = dorvex::strdup(charset);
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
