// The system layer as the readers use it (rewinding an input or learning it is a pipe, the
// temporary copy, positioned reads, sizes, listing), and the code page names the Windows program
// chooses its charsets by, which are plain logic and checked here.
#include "context.h"
#include "fileutil.h"
#include "platform.h"
#include "../support/platform_checks.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <cstring>
#include <string>
#include <vector>

#include "fileconf.h"
#include "fixture.h"

using testing_support::SettingsGuard;
using testing_support::pipe_holding;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

std::string or_none(const char* s) { return s ? s : "<none>"; }

TEST(Platform, CodePagesNameTheTablesDorvexHas) {
  SettingsGuard guard;
  TempDir t;
  for (const char* table : {"cp866", "cp1251", "cp1252", "koi8-r", "mac-roman", "8859-5"})
    write_file(t.file(std::string(table) + ".txt"), "");
  dorvex::ctx().charset_path = t.path().c_str();
  // The console's code page: a table along the path, or UTF-8; nothing for one without a table.
  const std::pair<unsigned, const char*> target_cases[] = {
      {866, "cp866"},   {1251, "cp1251"},     {1252, "cp1252"}, {65001, "utf-8"},
      {20866, "koi8-r"}, {10000, "mac-roman"}, {28595, "8859-5"}, {437, "<none>"},
      {932, "<none>"},  {1200, "<none>"},     {0, "<none>"},      {99999, "<none>"},
  };
  for (const auto& [page, charset] : target_cases)
    EXPECT_EQ(or_none(dorvex::code_page_charset(page)), charset) << page;
  // The ANSI code page: the shipped table's name whether or not it is found (437 is shipped but
  // missing here); UTF-8 and the code pages without a shipped 8-bit table give none.
  const std::pair<unsigned, const char*> source_cases[] = {
      {1251, "cp1251"}, {1252, "cp1252"}, {1250, "cp1250"}, {874, "cp874"}, {437, "cp437"},
      {65001, "<none>"}, {932, "<none>"}, {1200, "<none>"}, {0, "<none>"},
  };
  for (const auto& [page, charset] : source_cases)
    EXPECT_EQ(or_none(dorvex::code_page_source_charset(page)), charset) << page;
}

TEST(Platform, RewindTellsAFileFromAPipe) {
  TempDir t;
  write_file(t.file("doc"), "0123456789");
  std::FILE* file = dorvex::open_path(t.file("doc").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char head[4] = {};
  ASSERT_EQ(std::fread(head, 1, 3, file), 3u);
  EXPECT_EQ(dorvex::rewind_input(file), dorvex::Rewind::done);
  EXPECT_EQ(std::fgetc(file), '0');
  std::fclose(file);
  // A pipe cannot go back, and what its stream has read stays there to be copied.
  testing_support::expect_pipe_cannot_rewind(pipe_holding("abcdef"));
}

TEST(Platform, TemporaryFileGrowsWithZerosAndReadsAtOffsets) {
  std::FILE* f = testing_support::temp_file_grown_with_zeros();
  ASSERT_NE(f, nullptr);
  unsigned char got[16];
  std::memset(got, 0xFF, sizeof got);
  std::size_t n = 0;
  // Where the system reads at an offset, the bytes past the data are the zeros of the length,
  // and a read past the end stops there; elsewhere stdio reads them.
  if (dorvex::read_at(f, 1, got, sizeof got, &n)) {
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 2), "bc");
    for (std::size_t i = 2; i < n; ++i) EXPECT_EQ(got[i], 0) << i;
  }
  ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
  char all[8];
  ASSERT_EQ(std::fread(all, 1, 8, f), 8u);
  EXPECT_EQ(std::string(all, 8), std::string("abc\0\0\0\0\0", 8));
  std::fclose(f);
}

TEST(Platform, MemoryStreamReadsTheBytesGiven) {
  const std::string bytes("PK\3\4\0with a zero", 16);
  std::FILE* f = dorvex::open_memory_stream(bytes.data(), bytes.size());
  ASSERT_NE(f, nullptr);
  char back[32];
  EXPECT_EQ(std::fread(back, 1, sizeof back, f), bytes.size());
  EXPECT_EQ(std::string(back, bytes.size()), bytes);
  EXPECT_NE(std::feof(f), 0);
  std::fclose(f);
}

TEST(Platform, TxtFilesAreListedInByteOrderOfTheirNames) {
  TempDir t;
  // Windows takes names that differ only in case for one file: there "b.txt" is left out.
#ifdef _WIN32
  const std::vector<std::string> listed{"B.txt", "a-b.txt", "a.txt"};
  for (const char* name : {"B.txt", "a.txt", "a.txt.bak", "notes", "a-b.txt"})
#else
  const std::vector<std::string> listed{"B.txt", "a-b.txt", "a.txt", "b.txt"};
  for (const char* name : {"b.txt", "B.txt", "a.txt", "a.txt.bak", "notes", "a-b.txt"})
#endif
    write_file(t.file(name), "");
  std::vector<std::string> paths;
  ASSERT_TRUE(dorvex::list_txt_files(t.path().c_str(), &paths));
  std::vector<std::string> names;
  for (const std::string& p : paths) {
    ASSERT_EQ(p.compare(0, t.path().size() + 1, t.path() + dorvex::kDirSep), 0) << p;
    names.push_back(p.substr(t.path().size() + 1));
  }
  EXPECT_EQ(names, listed);
  // A missing directory lists nothing, and is no failure.
  paths.clear();
  EXPECT_TRUE(dorvex::list_txt_files(t.file("missing").c_str(), &paths));
  EXPECT_TRUE(paths.empty());
}

TEST(Platform, DataFilesMustBeRegularAndSmallEnough) {
  TempDir t;
  write_file(t.file("table.txt"), "0x41 0x0041\n");
  ASSERT_TRUE(std::filesystem::create_directory(t.file("dir.txt")));
  struct Case {
    std::string path;
    std::uint64_t cap;
    bool opened, refused;
  } cases[] = {
      {t.file("table.txt"), 100, true, false},
      {t.file("table.txt"), 5, false, true},
      {t.file("dir.txt"), 100, false, true},
      {t.file("missing.txt"), 100, false, false},
  };
  for (const Case& c : cases) {
    bool refused = !c.refused;
    std::FILE* f = dorvex::open_data_file(c.path.c_str(), c.cap, &refused);
    EXPECT_EQ(f != nullptr, c.opened) << c.path << " cap " << c.cap;
    EXPECT_EQ(refused, c.refused) << c.path << " cap " << c.cap;
    if (f) std::fclose(f);
  }
}

// Sizes of named files are taken without opening them: a FIFO, which an open would wait on,
// has none, nor has a directory.
TEST(Platform, PathSizesAreThoseOfRegularFilesOnly) {
  TempDir t;
  write_file(t.file("seven"), "1234567");
  write_file(t.file("empty"), "");
  ASSERT_TRUE(std::filesystem::create_directory(t.file("dir")));
#ifndef _WIN32  // Windows has no FIFOs
  ASSERT_EQ(::mkfifo(t.file("fifo").c_str(), 0600), 0);
#endif
  const std::pair<std::string, std::int64_t> cases[] = {
      {t.file("seven"), 7}, {t.file("empty"), 0}, {t.file("dir"), -1},
#ifndef _WIN32
      {t.file("fifo"), -1},
#endif
      {t.file("missing"), -1},
  };
  for (const auto& [path, expected] : cases) {
    std::uint64_t size = 99;
    const bool known = dorvex::path_file_size(path.c_str(), &size);
    EXPECT_EQ(known ? static_cast<std::int64_t>(size) : -1, expected) << path;
  }
}

}  // namespace
