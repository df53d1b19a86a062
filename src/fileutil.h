// Path utilities shared by every loader: string joins, the executable's directory, search along
// path lists, charset-name validation and the charset listing of -l. Also the program's single
// exit point and the shared 256 KiB input buffer.
#ifndef DORVEX_FILEUTIL_H
#define DORVEX_FILEUTIL_H

#include <cstddef>

namespace dorvex {

#ifdef _WIN32
constexpr char kDirSep = '\\';
inline bool is_list_sep(char c) { return c == ';'; }
#else
constexpr char kDirSep = '/';
inline bool is_list_sep(char c) { return c == ';' || c == ':'; }
#endif

// Every path buffer holds at most 1023 characters and the terminating zero.
constexpr std::size_t kPathLimit = 1024;
constexpr std::size_t kIoBufferSize = 262144;

// Search lists for charset tables (.txt) and for substitution maps (.spc, .rpl).
// Process-wide; the configuration keys "charset_path" and "map_path" replace them.
extern const char* charset_path;
extern const char* map_path;

// The 256 KiB block installed as the stdio buffer of every input and data file, or null
// when it could not be allocated (streams then keep their default buffering).
extern char* input_buffer;

// Thrown instead of exiting in fuzzing builds, where an exit would be reported as a crash.
struct ProgramEnd {
  int status;
};

// The only place that ends the program (std::exit, or throws ProgramEnd when fuzzing).
[[noreturn]] void end_program(int status);

// Records argv[0]; exe_dir() cuts the directory out of it. Paths over 1023 chars are cut.
void set_program_path(const char* argv0);

// Sets charset_path and map_path to "%s/charsets", followed by ";" and the installed data
// directory when that directory exists.
void init_default_paths();

// Newly allocated first + second; "Out of memory!" and exit 1 on allocation failure.
char* stradd(const char* first, const char* second);

// Directory of the executable without a trailing separator, or "./" when the program path
// holds no separator. Static buffer, valid until the next call.
const char* exe_dir();

// Replaces "%s" in name by exe_dir(); any other "%" stays as it is. Returns name itself when it
// holds no "%s", otherwise a static buffer valid until the next call. A result that would not
// fit in 1023 characters is fatal ("Invalid config file. file name ... too long ...").
const char* add_exe_path(const char* name);

// Expands one path-list element [start, end) into buf (kPathLimit bytes): "~/" prefix, empty
// element as ".", "%s". Returns 1 on success, 0 when the element is too long.
int prepare_path_buf(char* buf, const char* start, const char* end);

// Searches name in each directory of path_list. Takes ownership of name (a malloc'd string)
// and frees it in every case. Returns a newly allocated full path, or null.
char* find_file(char* name, const char* path_list);

// Validates a charset name ("utf-8", or name + ".txt" along charset_path). On success stores a
// new copy of name in *name_var and returns 1; otherwise leaves *name_var and returns 0.
int check_charset(const char** name_var, const char* name);

// Prints the charsets found along charset_path, then "utf-8" (the -l option).
void list_charsets();

}  // namespace dorvex

#endif  // DORVEX_FILEUTIL_H
