#include "fileutil.h"


#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "charsets.h"
#include "confutil.h"
#include "context.h"
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
constexpr const char* kDataDirs[] = {kDataBesideProgram,
                                     "%s" DORVEX_DIR_SEP ".." DORVEX_DIR_SEP "share" DORVEX_DIR_SEP
                                     "dorvex" DORVEX_DIR_SEP "charsets",
                                     DORVEX_DATADIR};
constexpr const char* kDefaultPath = kDataBesideProgram;
// The text in a path that stands for the executable's directory.
constexpr char kExeMarker[] = "%s";
constexpr std::size_t kExeMarkerLen = sizeof kExeMarker - 1;
// Charset files are "<name>.txt"; "utf-8" needs no file because the converter has it built in.
constexpr char kBuiltinCharset[] = "utf-8";
// The charset list puts this many names on a line.
constexpr std::size_t kNamesPerLine = 5;

[[noreturn]] void out_of_memory() {
  report("Out of memory!");
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

// Copies the element [start, end) into buf with a leading "~/" expanded to home. Without one
// only the '~' goes and the rest, from its separator on, is used. False when it does not fit.
bool copy_element(char* buf, const char* start, const char* end) {
  std::size_t len = static_cast<std::size_t>(end - start);
  const char* prefix = "";
  if (len >= 2 && start[0] == '~' && start[1] == kDirSep) {
    ++start;
    --len;
    if (*ctx().home) prefix = ctx().home;
  }
  std::size_t prefix_len = std::strlen(prefix);
  if (prefix_len + len > kPathLimit - 1) return false;
  std::memcpy(buf, prefix, prefix_len);
  std::memcpy(buf + prefix_len, start, len);
  buf[prefix_len + len] = '\0';
  return true;
}

bool append_text(char* out, std::size_t* len, const char* s) {
  std::size_t n = std::strlen(s);
  if (*len + n > kPathLimit - 1) return false;
  std::memcpy(out + *len, s, n + 1);
  *len += n;
  return true;
}

// Prints one listed file: the separator for its position, then its base name up to the first '.'.
void print_charset_entry(std::size_t index, const char* path) {
  std::fputc(index % kNamesPerLine == 0 ? '\n' : '\t', stdout);
  const char* base = std::strrchr(path, kDirSep);
  if (!base) return;
  ++base;
  std::fwrite(base, 1, std::strcspn(base, "."), stdout);
}

// A path that fits the path buffers.
bool fits_path(const std::string& path) { return path.size() < kPathLimit; }

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


void release(HeldTable& table) {
  if (table.file) std::fclose(table.file);
  std::free(table.path);
  table = HeldTable{};
}

HeldTable* held_table(const char* name) {
  for (HeldTable& table : ctx().paths.held_tables)
    if (table.file && table.name == name) return &table;
  return nullptr;
}

// Opens the table to hold it. A table that is there but cannot be opened exists all the same:
// read_charset will say why it cannot be read.
bool open_to_hold(const char* name) {
  if (held_table(name)) return true;
  char* path = nullptr;
  std::FILE* f = open_along_path(stradd(name, ".txt"), ctx().charset_path, &path, kMaxCharsetFile);
  if (!f) {
    std::free(path);
    return path != nullptr;
  }
  PathState& paths = ctx().paths;
  HeldTable& slot = paths.held_tables[paths.next_held];
  paths.next_held = (paths.next_held + 1) % paths.held_tables.size();
  release(slot);
  slot.name = name;
  slot.file = f;
  slot.path = path;
  return true;
}

bool charset_table_exists(const char* name) {
  if (ctx().paths.holding_tables) return open_to_hold(name);
  char* found = find_file(stradd(name, ".txt"), ctx().charset_path);
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
    report("Invalid config file. file name \"%s\" too long after substitution\n", name);
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

[[noreturn]] void end_program(int status) { throw ProgramEnd{status}; }

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

std::string find_program_path(const char* argv0) {
  if (!argv0) argv0 = "";
  if (kProgramPathFromSystem) {
    std::string path = running_program_path();
    if (!path.empty() && fits_path(path)) return path;
  }
  if (std::strchr(argv0, kDirSep) && fits_path(argv0)) return argv0;
  std::string path = running_program_path();
  if (!path.empty() && fits_path(path)) return path;
  path = find_in_exec_path(argv0, std::getenv("PATH"));
  if (!path.empty() && fits_path(path)) return path;
  // Nothing says where we are: the configured install directory, not whatever is current.
  return DORVEX_BINDIR "/dorvex";
}

void set_program_path(const char* argv0) {
  const std::string path = find_program_path(argv0);
  set_setting(&ctx().program_path, path.c_str());
}

void init_default_paths() {
  std::size_t len = 0;
  char* default_path_buf = ctx().paths.default_path_buf;
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
  ctx().charset_path = path;
  ctx().map_path = path;
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
  char* exe_dir_buf = ctx().paths.exe_dir_buf;
  std::snprintf(exe_dir_buf, kPathLimit, "%s", ctx().program_path);
  char* sep = std::strrchr(exe_dir_buf, kDirSep);
  if (sep)
    *sep = '\0';
  else
    std::snprintf(exe_dir_buf, kPathLimit, ".%c", kDirSep);
  return exe_dir_buf;
}

const char* add_exe_path(const char* name) {
  return substitute_exe_dir(name, ctx().paths.exe_path_buf);
}

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
    if (path[0] && path_exists(path)) {
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
    if (f || refused_here || path_exists(path)) {
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
  std::string& resolved_charset = ctx().paths.resolved_charset;
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

const char* code_page_charset(unsigned code_page) {
  if (code_page == 0) return nullptr;
  if (code_page == 65001) return kBuiltinCharset;
  const char* name = charset_from_codepage(code_page);
  return name && *name ? resolve_charset(name) : nullptr;
}

const char* code_page_source_charset(unsigned code_page) {
  if (code_page == 0 || code_page == 65001) return nullptr;
  const char* name = charset_from_codepage(code_page);
  return name && *name ? shipped_charset_name(name) : nullptr;
}

const char* locale_charset() {
  // Windows: text for the console in the console's code page; redirected output keeps the default.
  if (kSystemCodePages) return code_page_charset(console_output_code_page());
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
  // A name without a codeset ("ru_RU") has the locale's own default: the C library knows it.
  const std::string codeset = locale_codeset(name);
  return codeset.empty() ? nullptr : resolve_charset(codeset.c_str());
}

void hold_found_tables(bool hold) {
  ctx().paths.holding_tables = hold;
  if (!hold)
    for (HeldTable& table : ctx().paths.held_tables) release(table);
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
  return open_along_path(stradd(name, ".txt"), ctx().charset_path, found, kMaxCharsetFile, refused);
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
  std::vector<std::string> found;
  char dir[kPathLimit];
  for (const char* start = ctx().charset_path; start;) {
    const char* end = element_end(start);
    // An element too long to search, or a directory that does not exist, lists nothing.
    if (prepare_path_buf(dir, start, end) && is_directory(dir) && !list_txt_files(dir, &found)) {
      report_errno("dorvex");
      end_program(1);
    }
    start = *end ? end + 1 : nullptr;
  }
  std::fputs("Available charsets:", stdout);
  for (std::size_t i = 0; i < found.size(); ++i) print_charset_entry(i, found[i].c_str());
  std::fputc(found.size() % kNamesPerLine == 0 ? '\n' : '\t', stdout);
  std::fputs(kBuiltinCharset, stdout);
  std::fputc('\n', stdout);
}

}  // namespace dorvex
