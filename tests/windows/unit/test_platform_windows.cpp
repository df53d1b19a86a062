// The Windows side of the system layer, run under Wine: Unicode file names, the listing of
// tables (which the system's pattern match alone gets wrong), pipes, temporary files, data files
// that are directories, sizes.
#include "context.h"
#include "fileutil.h"
#include "platform.h"
#include "../../support/platform_checks.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), n);
  w.resize(static_cast<std::size_t>(n - 1));
  return w;
}

// A fresh directory in the temporary directory, with a name outside the ANSI code page, removed
// (one level deep) at scope exit.
class WideTempDir {
 public:
  WideTempDir() {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    char utf8[4 * MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, base, -1, utf8, sizeof utf8, nullptr, nullptr);
    path_ = std::string(utf8) + "dorvex-тест-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(wide(path_).c_str(), nullptr);
  }
  ~WideTempDir() {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(wide(path_ + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring full = wide(path_) + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveDirectoryW(full.c_str());
        else
          DeleteFileW(full.c_str());
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(wide(path_).c_str());
  }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = _wfopen(wide(path).c_str(), L"wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(PlatformWindows, FilesOpenByTheirUnicodeNames) {
  WideTempDir t;
  for (const char* name : {"Отчёт 2019.txt", "報告.rtf", "Ελληνικά.txt"}) {
    write_file(t.file(name), name);
    std::FILE* f = dorvex::open_path(t.file(name).c_str(), "rb");
    ASSERT_NE(f, nullptr) << name;
    char back[64] = {};
    std::fread(back, 1, sizeof back - 1, f);
    std::fclose(f);
    EXPECT_STREQ(back, name);
    EXPECT_TRUE(dorvex::path_exists(t.file(name).c_str())) << name;
    std::uint64_t size = 0;
    EXPECT_TRUE(dorvex::path_file_size(t.file(name).c_str(), &size));
    EXPECT_EQ(size, std::strlen(name));
  }
  EXPECT_FALSE(dorvex::path_exists(t.file("Нет.txt").c_str()));
  EXPECT_TRUE(dorvex::is_directory(t.path().c_str()));
  EXPECT_FALSE(dorvex::is_directory(t.file("Отчёт 2019.txt").c_str()));
}

TEST(PlatformWindows, ADirectoryIsNamedAsOneAndRefusedAsData) {
  WideTempDir t;
  CreateDirectoryW(wide(t.file("t.txt")).c_str(), nullptr);
  errno = 0;
  EXPECT_EQ(dorvex::open_path(t.file("t.txt").c_str(), "rb"), nullptr);
  EXPECT_EQ(errno, EISDIR);
  bool refused = false;
  EXPECT_EQ(dorvex::open_data_file(t.file("t.txt").c_str(), 1 << 20, &refused), nullptr);
  EXPECT_TRUE(refused);
  refused = true;
  EXPECT_EQ(dorvex::open_data_file(t.file("missing.txt").c_str(), 1 << 20, &refused), nullptr);
  EXPECT_FALSE(refused);
  write_file(t.file("big.txt"), std::string(100, 'x'));
  EXPECT_EQ(dorvex::open_data_file(t.file("big.txt").c_str(), 99, &refused), nullptr);
  EXPECT_TRUE(refused);
  std::FILE* f = dorvex::open_data_file(t.file("big.txt").c_str(), 100, &refused);
  EXPECT_NE(f, nullptr);
  EXPECT_FALSE(refused);
  if (f) std::fclose(f);
}

// The system's "*.txt" also matches names whose short form ends so ("x.txt1"), and directories:
// only files whose own name ends in .txt are tables.
TEST(PlatformWindows, TablesAreTheTxtFilesSortedByName) {
  WideTempDir t;
  for (const char* name : {"b.txt", "a.txt", "x.txt1", "a.txt.bak", "notes", "Ж.txt", ".hidden.txt"})
    write_file(t.file(name), "");
  CreateDirectoryW(wide(t.file("dir.txt")).c_str(), nullptr);
  std::vector<std::string> paths;
  ASSERT_TRUE(dorvex::list_txt_files(t.path().c_str(), &paths));
  std::vector<std::string> names;
  for (const std::string& p : paths) names.push_back(p.substr(t.path().size() + 1));
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "Ж.txt"}));
  paths.clear();
  EXPECT_TRUE(dorvex::list_txt_files(t.file("missing").c_str(), &paths));
  EXPECT_TRUE(paths.empty());
}

// A pipe is not rewound (the C runtime's fseek would drop what its buffer holds): its bytes
// stay readable for the copy.
TEST(PlatformWindows, APipeIsKnownBeforeAnySeek) {
  HANDLE read_end, write_end;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(write_end, "abcdef", 6, &written, nullptr));
  CloseHandle(write_end);
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(read_end), _O_RDONLY | _O_BINARY);
  testing_support::expect_pipe_cannot_rewind(_fdopen(fd, "rb"));
}

TEST(PlatformWindows, TemporaryFilesGrowWithZerosAndGoWhenClosed) {
  std::FILE* f = testing_support::temp_file_grown_with_zeros();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(dorvex::rewind_input(f), dorvex::Rewind::done);
  char all[8];
  ASSERT_EQ(std::fread(all, 1, 8, f), 8u);
  EXPECT_EQ(std::string(all, 8), std::string("abc\0\0\0\0\0", 8));
  std::fclose(f);
  const std::string bytes("PK\3\4\0zero", 9);
  std::FILE* m = dorvex::open_memory_stream(bytes.data(), bytes.size());
  ASSERT_NE(m, nullptr);
  char back[16];
  EXPECT_EQ(std::fread(back, 1, sizeof back, m), bytes.size());
  EXPECT_EQ(std::string(back, bytes.size()), bytes);
  std::fclose(m);
}

TEST(PlatformWindows, TheProgramKnowsWhereItIs) {
  const std::string path = dorvex::running_program_path();
  ASSERT_GT(path.size(), 4u);
  EXPECT_EQ(path.substr(path.size() - 4), ".exe");
  EXPECT_NE(path.find('\\'), std::string::npos);
  EXPECT_TRUE(dorvex::path_exists(path.c_str()));
}

// Windows sets no HOME: USERPROFILE stands for it, and HOME, when set, wins.
TEST(PlatformWindows, HomeIsHomeThenTheProfile) {
  SetEnvironmentVariableW(L"HOME", nullptr);
  _wputenv(L"HOME=");
  _wputenv(L"USERPROFILE=C:\\Users\\Пользователь");
  ASSERT_NE(dorvex::home_directory(), nullptr);
  EXPECT_STREQ(dorvex::home_directory(), "C:\\Users\\Пользователь");
  _wputenv(L"HOME=D:\\home");
  ASSERT_NE(dorvex::home_directory(), nullptr);
  EXPECT_STREQ(dorvex::home_directory(), "D:\\home");
}

}  // namespace
