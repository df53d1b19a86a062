// What differs between the systems dorvex runs on: separators, file names, the program's own
// path, temporary files, the console and the system's code pages. Everything else is written
// once; platform_posix.cpp and platform_windows.cpp each define the functions below for theirs.
//
// File names are bytes on POSIX systems. On Windows they are UTF-8 inside the program (the
// command line is read as Unicode and converted), and are opened with the wide calls, so a name
// in any script works; a name that is not valid UTF-8 (one read from a configuration file
// written in the ANSI code page) is taken in the ANSI code page.
#ifndef DORVEX_PLATFORM_H
#define DORVEX_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dorvex {

#ifdef _WIN32
#define DORVEX_DIR_SEP "\\"
constexpr char kDirSep = '\\';
inline bool is_list_sep(char c) { return c == ';'; }
// The executable's directory comes from the system, whatever the command line says.
constexpr bool kProgramPathFromSystem = true;
// The console's and the system's code pages choose the default charsets, not the locale's name.
constexpr bool kSystemCodePages = true;
#else
#define DORVEX_DIR_SEP "/"
constexpr char kDirSep = '/';
inline bool is_list_sep(char c) { return c == ';' || c == ':'; }
constexpr bool kProgramPathFromSystem = false;
constexpr bool kSystemCodePages = false;
#endif

// The system configuration file, beside the executable, and the data directory there.
constexpr const char kSystemConfigFile[] = "%s" DORVEX_DIR_SEP "dorvex.rc";
constexpr const char kDataBesideProgram[] = "%s" DORVEX_DIR_SEP "charsets";

// Opens a file by name, as fopen does.
std::FILE* open_path(const char* path, const char* mode);

// Whether something is there (a file, a directory...) under this name.
bool path_exists(const char* path);

// Whether path names a directory.
bool is_directory(const char* path);

// Whether path names a regular file the user may run.
bool is_executable_file(const char* path);

// Whether an open stream is a directory (fopen gives some systems' directories like files).
bool stream_is_directory(std::FILE* f);

// The size of an open regular file; false for anything else (a pipe, a device, a console).
bool regular_file_size(std::FILE* f, std::uint64_t* size);

// The size of the regular file a path names, without opening it (a FIFO would wait for a
// writer); false for anything else.
bool path_file_size(const char* path, std::uint64_t* size);

// The full path of the running executable, from the system; empty when it does not say.
std::string running_program_path();

// The home directory: HOME; on Windows, which sets no HOME, USERPROFILE when HOME is unset.
// Null when there is none.
const char* home_directory();

// The paths of the files called *.txt in dir, in byte order of their names (no hidden ones);
// none when dir is no directory. False, errno set, when the directory cannot be read.
bool list_txt_files(const char* dir, std::vector<std::string>* paths);

// An unnamed temporary file open for update, gone when closed; null on failure (errno says why).
std::FILE* open_temp_file();

// Sets the length of an open file (after a flush); false on failure.
bool set_file_length(std::FILE* f, std::uint64_t length);

// Reads up to n bytes at offset from the file under the stream, past its stdio buffer and
// position. False when the stream has no file that can be read so; *got: bytes read.
bool read_at(std::FILE* f, std::uint64_t offset, unsigned char* dest, std::size_t n, std::size_t* got);

// Goes back to the start of an input: done; or pipe, when it cannot seek (a pipe, a terminal),
// its bytes still in the stream's buffer; or failed (errno says why).
enum class Rewind { done, pipe, failed };
Rewind rewind_input(std::FILE* f);

// A read-only stream over size bytes of memory; null on failure.
std::FILE* open_memory_stream(const void* data, std::size_t size);

// The errno that says why a write failed, from the one it left: on Windows a pipe whose reader
// has gone is EPIPE ("Broken pipe"), where the C runtime says EINVAL.
int write_error(int error);

// Whether a stream is a terminal (a console on Windows).
bool is_terminal(std::FILE* f);

// Makes the program's standard streams what it needs before anything is read or written: on
// POSIX, descriptors 0 to 2 that are closed are opened on /dev/null (false when that fails);
// on Windows, standard output and error in text mode, so every line end goes out as CR LF, and
// standard input in binary mode, so a document piped in is read byte for byte.
bool prepare_standard_streams();

// The codeset a locale name without one ("ru_RU") has by default, as the C library says; empty
// when it does not know the locale. The process's own locale is left alone.
std::string locale_codeset(const char* name);

// The code page of the console standard output writes to; 0 when standard output is no console,
// or on systems without code pages.
unsigned console_output_code_page();

// The system's ANSI code page (Windows' GetACP); 0 on systems without one.
unsigned system_ansi_code_page();

// The command line as UTF-8 words: on Windows read from the system as Unicode and converted
// (argv as the C runtime gives it holds the ANSI code page, which loses characters); elsewhere
// argc and argv unchanged. On Windows the first word is the program's name alone, without a
// directory or ".exe", as its messages show it. The words live until the program ends.
void utf8_command_line(int* argc, char*** argv);

}  // namespace dorvex

#endif  // DORVEX_PLATFORM_H
