// Path utilities shared by every loader: string joins, the executable's directory, search along
// path lists, charset-name validation and the charset listing of -l. Also the program's single
// exit point and the shared 256 KiB input buffer.
#ifndef DORVEX_FILEUTIL_H
#define DORVEX_FILEUTIL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "datafile.h"
#include "platform.h"
#include <string>

namespace dorvex {


// Every path buffer holds at most 1023 characters and the terminating zero.
constexpr std::size_t kPathLimit = 1024;
constexpr std::size_t kIoBufferSize = 262144;

// A table resolve_charset found while tables are held, open for read_charset.
struct HeldTable {
  std::string name;
  std::FILE* file = nullptr;
  char* path = nullptr;
};

// The path buffers of one extraction (the search lists themselves are settings: charset_path
// and map_path, which the configuration keys replace).
struct PathState {
  char exe_dir_buf[kPathLimit];
  char exe_path_buf[kPathLimit];
  char default_path_buf[kPathLimit];
  std::string resolved_charset;
  bool holding_tables = false;
  std::array<HeldTable, 2> held_tables;  // the source and the target table
  std::size_t next_held = 0;
};

// Thrown where the reading of a document cannot go on (a broken container, a failed write, no
// memory); the extraction catches it and the document ends with the status.
struct ProgramEnd {
  int status;
};

// Ends the reading of the current document with status: throws ProgramEnd.
[[noreturn]] void end_program(int status);

// Where the executable is, for exe_dir(): argv0 itself when it holds a "/", otherwise (the
// program was found along PATH) the path /proc/self/exe names, or the first executable of that
// name along PATH. Never the current directory just because argv0 has no directory. The
// program's business: the library takes the path it is given.
std::string find_program_path(const char* argv0);

// Makes find_program_path(argv0) the current extraction's program_path.
void set_program_path(const char* argv0);

// The first executable regular file called name in the directories of path_list (a PATH value),
// as a shell finds a command; empty when there is none, or name holds a "/".
std::string find_in_exec_path(const char* name, const char* path_list);

// Sets charset_path and map_path (to default_path_buf) to those of "%s/charsets", "%s/../share/dorvex/charsets" and
// the configured data directory that exist, in that order ("%s/charsets" when none does), so an
// installed tree finds its data wherever it was installed.
void init_default_paths();

// Newly allocated first + second; "Out of memory!" and exit 1 on allocation failure.
char* stradd(const char* first, const char* second);

// Directory of the executable without a trailing separator. Static buffer, valid until the next
// call.
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

// Opens name as find_file finds it, in one step where find_file and fopen take two: the first
// directory of path_list where it opens, or where it is there but cannot be opened. Takes
// ownership of name. *found receives the path (malloc'd) or null when the file is nowhere;
// the stream is null when it could not be opened (errno says why).
// A file that is no regular file of at most cap bytes (a device, a FIFO, a huge file) is refused
// (*refused set when given): null, with its path in *found.
std::FILE* open_along_path(char* name, const char* path_list, char** found,
                           std::uint64_t cap = kMaxMapFile, bool* refused = nullptr);

// The charset a name stands for: the name itself when it is "utf-8" or name + ".txt" lies along
// charset_path; else its lower-case form or the table name of a common alias ("UTF8", "latin1",
// "ISO-8859-5", "windows-1252", "IBM866", "866", "KOI8R", "macintosh"), when that is "utf-8" or
// has a table. Null when the name is none of these. Valid until the next call.
const char* resolve_charset(const char* name);

// The table name of a charset dorvex ships that name stands for (itself, its lower-case form or
// the table of its alias), whether or not its file is found; null for any other name.
const char* shipped_charset_name(const char* name);

// The charset of the user's locale (LC_ALL, LC_CTYPE, LANG: the codeset its name gives, or the
// locale's default one) as resolve_charset names it, or null when dorvex has no table for it,
// the C and POSIX locales included. The process's locale stays "C". On Windows the charset of
// the console's output code page, when standard output is a console.
const char* locale_charset();

// The charset of a Windows code page as resolve_charset names it: "utf-8" for 65001, the table of
// any other code page dorvex has one for; null for 0 and for a code page without a table.
const char* code_page_charset(unsigned code_page);

// The charset dorvex ships for a Windows code page, whether or not its table is found (as
// shipped_charset_name says); null for 0, 65001 and the code pages it ships no table for.
const char* code_page_source_charset(unsigned code_page);

// While tables are held (at start-up), a table resolve_charset finds stays open for
// open_charset_table, which then needs no second look-up; the two tables of every start are
// found once each. Ending the hold closes those not taken, so no descriptor stays open into the
// reading of the inputs, and resolve_charset goes back to asking whether a table is there.
void hold_found_tables(bool hold);

// Opens name + ".txt" along charset_path as open_along_path does, or takes the stream held for
// it. *found receives the path (malloc'd) or null when the file is nowhere; the stream is null
// when it could not be opened (errno says why).
// A table that is no regular file of a table's size is refused as open_along_path says.
std::FILE* open_charset_table(const char* name, char** found, bool* refused = nullptr);

// Validates a charset name with resolve_charset. On success stores a new copy of the resolved
// name in *name_var and returns 1; otherwise leaves *name_var and returns 0.
int check_charset(const char** name_var, const char* name);

// Prints the charsets found along charset_path, then "utf-8" (the -l option).
void list_charsets();

}  // namespace dorvex

#endif  // DORVEX_FILEUTIL_H
