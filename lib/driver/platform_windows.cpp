// The Windows side of platform.h: wide file names, the program's path from the system, the
// console's code page, the standard streams' modes.
#ifdef _WIN32

#include "platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "datafile.h"
#include "fileutil.h"

namespace dorvex {

namespace {

// UTF-8 to UTF-16; bytes that are not UTF-8 are taken in the ANSI code page, as the C runtime
// would have taken them.
std::wstring widen(const char* s) {
  for (UINT page : {UINT(CP_UTF8), UINT(CP_ACP)}) {
    const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(page, flags, s, -1, nullptr, 0);
    if (n <= 0) continue;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(page, flags, s, -1, wide.data(), n) != n) continue;
    wide.resize(static_cast<std::size_t>(n - 1));
    return wide;
  }
  return {};
}

std::string narrow(const wchar_t* s, int length = -1) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s, length, text.data(), n, nullptr, nullptr);
  if (length < 0) text.resize(static_cast<std::size_t>(n - 1));
  return text;
}

DWORD attributes(const char* path) { return GetFileAttributesW(widen(path).c_str()); }

HANDLE handle_of(std::FILE* f) {
  const int fd = _fileno(f);
  return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool is_console(HANDLE h) {
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != 0;
}

// A file on a disk, not a directory: the only kind a data file or a size may come from.
bool disk_file_size(HANDLE h, std::uint64_t* size) {
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  *size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

// Whether a standard handle is one the program may use: a closed one may still have its number
// (Wine gives one that even says it is a file), and writing nothing to it fails.
bool is_open_handle(HANDLE h, bool output) {
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return false;
  SetLastError(NO_ERROR);
  if (GetFileType(h) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return false;
  DWORD written = 0;
  return !output || WriteFile(h, "", 0, &written, nullptr) || GetLastError() != ERROR_INVALID_HANDLE;
}

bool ends_with_txt(const std::wstring& name) {
  return name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".txt") == 0;
}

}  // namespace

// A directory cannot be opened as a file here; it is named as one, as POSIX systems name it.
std::FILE* open_path(const char* path, const char* mode) {
  const std::wstring name = widen(path);
  std::FILE* f = _wfopen(name.c_str(), widen(mode).c_str());
  if (!f && errno == EACCES) {
    const DWORD a = GetFileAttributesW(name.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) errno = EISDIR;
  }
  return f;
}

bool path_exists(const char* path) { return attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool is_directory(const char* path) {
  const DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_executable_file(const char* path) {
  const DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool stream_is_directory(std::FILE* f) {
  BY_HANDLE_FILE_INFORMATION info;
  const HANDLE h = handle_of(f);
  return h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool regular_file_size(std::FILE* f, std::uint64_t* size) { return disk_file_size(handle_of(f), size); }

bool path_file_size(const char* path, std::uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
    return false;
  *size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

std::string running_program_path() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return narrow(buffer.data(), int(n));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

// Windows sets no HOME: where it is unset, the user's profile directory stands for it.
const char* home_directory() {
  static std::string home;
  for (const wchar_t* name : {L"HOME", L"USERPROFILE"}) {
    if (const wchar_t* value = _wgetenv(name)) {
      home = narrow(value);
      return home.c_str();
    }
  }
  return nullptr;
}

bool list_txt_files(const char* dir, std::vector<std::string>* paths) {
  const std::wstring pattern = widen(dir) + L"\\*.txt";
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    errno = error == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
  }
  std::vector<std::string> names;
  do {
    const std::wstring name = entry.cFileName;
    // The pattern also matches short names ("x.txt1" has one ending in .TXT): the long name
    // decides. Hidden names stay hidden, as a shell's * leaves them.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.empty() || name[0] == L'.' ||
        !ends_with_txt(name))
      continue;
    names.push_back(narrow(name.c_str()));
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) paths->push_back(std::string(dir) + kDirSep + name);
  return true;
}

std::FILE* open_data_file(const char* path, std::uint64_t cap, bool* refused) {
  *refused = false;
  std::FILE* f = open_path(path, "rb");
  if (!f) {
    *refused = errno == EISDIR;  // a directory is there, and is no data file
    return nullptr;
  }
  std::uint64_t size = 0;
  if (!disk_file_size(handle_of(f), &size) || size > cap) {
    std::fclose(f);
    *refused = true;
    errno = EINVAL;
    return nullptr;
  }
  return f;
}

namespace {
// The errno for why a temporary file could not be made in dir: a temporary directory (TMP, TEMP)
// that is not there says so, as on other systems, rather than "Permission denied".
int temp_file_error(DWORD error, const wchar_t* dir) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_DIRECTORY:  // no directory of that name: nothing there, or something else
      return GetFileAttributesW(dir) == INVALID_FILE_ATTRIBUTES ? ENOENT : ENOTDIR;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EACCES;
  }
}
}  // namespace

// In the user's temporary directory, deleted by the system when closed.
std::FILE* open_temp_file() {
  wchar_t dir[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH || GetTempFileNameW(dir, L"dvx", 0, name) == 0) {
    errno = n == 0 || n > MAX_PATH ? ENAMETOOLONG : temp_file_error(GetLastError(), dir);
    return nullptr;
  }
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileW(name);
    errno = temp_file_error(error, dir);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "w+b");
  if (!f) _close(fd);
  return f;
}

bool set_file_length(std::FILE* f, std::uint64_t length) {
  return _chsize_s(_fileno(f), static_cast<long long>(length)) == 0;
}

// The C runtime keeps its own idea of the descriptor's position, which a positioned read of the
// handle would move: stdio reads the bytes instead.
bool read_at(std::FILE*, std::uint64_t, unsigned char*, std::size_t, std::size_t*) { return false; }

// Asked before seeking: the C runtime's fseek on a pipe drops what the stream has buffered
// before it fails, and says EINVAL where POSIX says ESPIPE.
Rewind rewind_input(std::FILE* f) {
  const HANDLE h = handle_of(f);
  const DWORD type = h == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(h);
  if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) return Rewind::pipe;
  return std::fseek(f, 0, SEEK_SET) == 0 ? Rewind::done : Rewind::failed;
}

// The C runtime has no stream over memory: a temporary file holds a copy.
std::FILE* open_memory_stream(const void* data, std::size_t size) {
  std::FILE* f = open_temp_file();
  if (!f) return nullptr;
  if (std::fwrite(data, 1, size, f) != size || std::fflush(f) != 0 ||
      std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}

int write_error(int error) {
  if (error != EINVAL) return error;
  if (_doserrno == ERROR_NO_DATA || _doserrno == ERROR_BROKEN_PIPE || _doserrno == ERROR_PIPE_NOT_CONNECTED)
    return EPIPE;
  // A later write to the same pipe fails on the stream's error flag, with no new reason.
  const HANDLE h = handle_of(stdout);
  return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_PIPE ? EPIPE : error;
}

bool is_terminal(std::FILE* f) { return is_console(handle_of(f)); }

// Standard output and standard error in text mode, as a Windows text tool writes them: every LF
// the program writes goes out as CR LF, also from the blocks written to the descriptor itself
// (the C runtime's write translates on a descriptor in text mode). Standard input stays binary:
// a document piped in is read byte for byte, and a byte 1A in it is no end.
// A console is written in binary mode: it starts a new line at a LF alone, and a C runtime that
// writes text mode to a console may take the bytes as characters of its own locale (Wine's
// takes them as Latin-1) instead of passing them to the console, which shows them in its code
// page.
// Messages go out as they are written, as on POSIX systems, so that they stand before the text
// still buffered (the C runtime buffers a redirected stderr). Standard output has a buffer from
// the start, a console's too: written a character at a time, as the C runtime writes to a
// console, the bytes of a UTF-8 character reach the console in pieces, each shown as a bad
// character.
// A stream the program was started without (no handle) reads and writes the NUL device, as
// a closed descriptor reads and writes /dev/null on POSIX systems.
bool prepare_standard_streams() {
  for (std::FILE* f : {stdin, stdout, stderr}) {
    const int fd = _fileno(f);
    if (fd < 0 || !is_open_handle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), f != stdin)) {
      if (!std::freopen("NUL", f == stdin ? "rb" : "w", f)) return false;
      continue;
    }
    const bool text = f != stdin && !is_console(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    _setmode(fd, text ? _O_TEXT : _O_BINARY);
  }
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  std::setvbuf(stdout, nullptr, _IOFBF, 65536);
  return true;
}

// Windows' locales are not named so; the code pages stand for them.
std::string locale_codeset(const char*) { return {}; }

unsigned console_output_code_page() {
  return is_console(GetStdHandle(STD_OUTPUT_HANDLE)) ? GetConsoleOutputCP() : 0;
}

unsigned system_ansi_code_page() { return GetACP(); }

void utf8_command_line(int* argc, char*** argv) {
  static std::vector<std::string> words;
  static std::vector<char*> pointers;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return;  // the C runtime's words, in the ANSI code page, are all there is
  words.clear();
  for (int i = 0; i < count; ++i) words.push_back(narrow(wide[i]));
  LocalFree(wide);
  // The first word names the program in its messages ("dorvex: unknown option -- z"): its name
  // alone, however it was started (a full path, with or without .exe).
  if (!words.empty()) {
    std::string& name = words[0];
    name.erase(0, name.find_last_of("\\/:") + 1);
    if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0) name.resize(name.size() - 4);
  }
  pointers.clear();
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  *argc = count;
  *argv = pointers.data();
  // getopt names the program from the C runtime's own copy.
  if (__argv && __argv[0] && !words.empty()) __argv[0] = words[0].data();
}

}  // namespace dorvex

#endif  // _WIN32
