#include "context.h"
#include "fileutil.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <vector>
#include <string>

#include "fileconf.h"
#include "fixture.h"

using testing_support::kOtherListSep;
using testing_support::native;
using testing_support::run_in_child;
using testing_support::set_env;
using testing_support::SettingsGuard;
using testing_support::TempDir;
using testing_support::use_program_path;
using testing_support::write_file;

namespace {

std::string expand(const std::string& element) {
  char buf[dorvex::kPathLimit];
  if (!dorvex::prepare_path_buf(buf, element.data(), element.data() + element.size()))
    return "<too long>";
  return buf;
}

// find_file's result as a string ("" for none), releasing it. open_along_path must find the
// same file, and open it.
std::string find(const char* name, const char* list) {
  char* found = dorvex::find_file(dorvex::strdup(name), list);
  std::string r = found ? found : "";
  std::free(found);
  char* opened_path = nullptr;
  std::FILE* opened = dorvex::open_along_path(dorvex::strdup(name), list, &opened_path);
  EXPECT_EQ(opened_path ? std::string(opened_path) : "", r) << name;
  EXPECT_EQ(opened != nullptr, !r.empty()) << name;
  if (opened) std::fclose(opened);
  std::free(opened_path);
  return r;
}

std::string list_output(const std::string& path_list) {
  auto r = run_in_child([&] {
    dorvex::ctx().charset_path = path_list.c_str();
    dorvex::list_charsets();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  return r.out;
}

// Where the system says this test binary is.
std::string own_directory() {
#ifdef _WIN32
  wchar_t wide[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameW(nullptr, wide, MAX_PATH + 1);
  char path_utf8[4 * MAX_PATH + 4] = "";
  if (n > 0 && n <= MAX_PATH)
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n) + 1, path_utf8, sizeof path_utf8,
                        nullptr, nullptr);
  std::string path(path_utf8);
#else
  char link[dorvex::kPathLimit] = "";
  ssize_t n = readlink("/proc/self/exe", link, sizeof link - 1);
  std::string path(link, n > 0 ? static_cast<std::size_t>(n) : 0);
#endif
  return path.substr(0, path.rfind(dorvex::kDirSep));
}

void make_dir(const std::string& path) { std::filesystem::create_directory(path); }

}  // namespace

#ifdef _WIN32
// On Windows the program's path comes from the system whatever the command line says.
TEST(Fileutil, ExeDirIsTheProgramPathUpToItsLastSeparator) {
  SettingsGuard guard;
  use_program_path("C:\\Program Files\\dorvex\\dorvex.exe");
  EXPECT_STREQ(dorvex::exe_dir(), "C:\\Program Files\\dorvex");
  use_program_path("build\\dorvex.exe");
  EXPECT_STREQ(dorvex::exe_dir(), "build");
  use_program_path("\\dorvex.exe");
  EXPECT_STREQ(dorvex::exe_dir(), "");
  use_program_path("build/dorvex.exe");  // '/' is no separator of the program's directory
  EXPECT_STREQ(dorvex::exe_dir(), ".\\");
  std::string own = own_directory();
  ASSERT_FALSE(own.empty());
  for (const char* argv0 : {"dorvex", "", static_cast<const char*>(nullptr), "C:\\elsewhere\\dorvex.exe",
                            "..\\dorvex"}) {
    dorvex::set_program_path(argv0);
    EXPECT_EQ(dorvex::exe_dir(), own) << (argv0 ? argv0 : "null");
  }
  dorvex::set_program_path((std::string(1100, 'd') + "\\dorvex").c_str());
  EXPECT_EQ(dorvex::exe_dir(), own);
}
#else
TEST(Fileutil, ExeDirIsTheProgramPathUpToItsLastSeparator) {
  SettingsGuard guard;
  dorvex::set_program_path("/usr/local/bin/dorvex");
  EXPECT_STREQ(dorvex::exe_dir(), "/usr/local/bin");
  dorvex::set_program_path("build/dorvex");
  EXPECT_STREQ(dorvex::exe_dir(), "build");
  dorvex::set_program_path("/dorvex");
  EXPECT_STREQ(dorvex::exe_dir(), "");
  // A name without a directory was found along PATH: never the current directory, but where
  // the program really is. So is a path too long to keep.
  std::string own = own_directory();
  ASSERT_FALSE(own.empty());
  for (const char* found_along_path : {"dorvex", "", static_cast<const char*>(nullptr)}) {
    dorvex::set_program_path(found_along_path);
    EXPECT_EQ(dorvex::exe_dir(), own);
  }
  dorvex::set_program_path((std::string(1100, 'd') + "/dorvex").c_str());
  EXPECT_EQ(dorvex::exe_dir(), own);
  std::string deep(1000, 'd');
  dorvex::set_program_path((deep + "/" + std::string(22, 'x')).c_str());
  EXPECT_EQ(dorvex::exe_dir(), deep);
}
#endif

// Without /proc, a program started by its bare name is looked up along PATH as the shell did.
TEST(Fileutil, FindInExecPathTakesTheFirstExecutableFile) {
#ifdef _WIN32
  GTEST_SKIP() << "On Windows the program's path comes from the system (GetModuleFileNameW), "
                  "never from a search along PATH, which is split at ':' as a POSIX shell does";
#else
  TempDir t;
  for (const char* d : {"a", "b", "c", "c/dorvex"}) mkdir(t.file(d).c_str(), 0700);
  write_file(t.file("a/dorvex"), "not executable");
  write_file(t.file("b/dorvex"), "#!/bin/sh\n");
  chmod(t.file("b/dorvex").c_str(), 0700);
  std::string list = t.file("none") + ":" + t.file("c") + ":" + t.file("a") + ":" + t.file("b");
  EXPECT_EQ(dorvex::find_in_exec_path("dorvex", list.c_str()), t.file("b/dorvex"));
  EXPECT_EQ(dorvex::find_in_exec_path("dorvex", t.file("a").c_str()), "");
  EXPECT_EQ(dorvex::find_in_exec_path("b/dorvex", t.path().c_str()), "");
  EXPECT_EQ(dorvex::find_in_exec_path("dorvex", nullptr), "");
  EXPECT_EQ(dorvex::find_in_exec_path("", list.c_str()), "");
  // An empty element is the current directory, as for the shell.
  char saved[4096];
  ASSERT_TRUE(getcwd(saved, sizeof saved));
  ASSERT_EQ(chdir(t.file("b").c_str()), 0);
  std::string found = dorvex::find_in_exec_path("dorvex", (t.file("a") + "::/none").c_str());
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(found, "./dorvex");
#endif
}

TEST(Fileutil, AddExePathReplacesOnlyPercentS) {
  SettingsGuard guard;
  use_program_path(native("/opt/dv/dorvex"));
  EXPECT_EQ(dorvex::add_exe_path("%s/charsets"), native("/opt/dv") + "/charsets");
  EXPECT_EQ(dorvex::add_exe_path("%d%s/x%"), "%d" + native("/opt/dv") + "/x%");
  EXPECT_EQ(dorvex::add_exe_path("%s;%s/c"), native("/opt/dv;/opt/dv") + "/c");
  EXPECT_EQ(dorvex::add_exe_path("%%s"), "%" + native("/opt/dv"));
  const char* plain = "/etc/100%/n%x";
  EXPECT_EQ(dorvex::add_exe_path(plain), plain);  // not copied
}

TEST(Fileutil, AddExePathRefusesResultsOver1022Characters) {
  SettingsGuard guard;
  use_program_path(native("/opt/dv/dorvex"));  // directory of 7 characters
  std::string fits = "%s" + std::string(1022 - 7, 'x');
  EXPECT_EQ(std::strlen(dorvex::add_exe_path(fits.c_str())), 1022u);
  std::string over = "%s" + std::string(1023 - 7, 'x');
  auto r = run_in_child([&] { dorvex::add_exe_path(over.c_str()); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Invalid config file. file name \"" + over + "\" too long after substitution\n");
  std::string two = "%s%s" + std::string(1023 - 14, 'x');
  EXPECT_EQ(run_in_child([&] { dorvex::add_exe_path(two.c_str()); }).status, 1);
  two.pop_back();
  EXPECT_EQ(std::strlen(dorvex::add_exe_path(two.c_str())), 1022u);
}

TEST(Fileutil, PreparePathBufExpandsOneElement) {
  SettingsGuard guard;
  const std::string home_u = native("/home/u");
  dorvex::ctx().home = home_u.c_str();
  EXPECT_EQ(expand(native("~/data")), native("/home/u/data"));
  EXPECT_EQ(expand("~"), "~");
  EXPECT_EQ(expand(native("~x/data")), native("~x/data"));
  EXPECT_EQ(expand(native("a/~/b")), native("a/~/b"));
  dorvex::ctx().home = "";
  EXPECT_EQ(expand(native("~/data")), native("/data"));
  EXPECT_EQ(expand(""), ".");
  use_program_path(native("/p/dorvex"));
  EXPECT_EQ(expand(native("%s/charsets")), native("/p/charsets"));
  // Only [start, end) is taken, not the rest of the list.
  const char* list = "abc;def";
  char buf[dorvex::kPathLimit];
  ASSERT_EQ(dorvex::prepare_path_buf(buf, list, list + 3), 1);
  EXPECT_STREQ(buf, "abc");
  // Limits: 1023 characters fit, 1024 do not, with or without the home prefix.
  EXPECT_EQ(expand(std::string(1023, 'a')).size(), 1023u);
  EXPECT_EQ(expand(std::string(1024, 'a')), "<too long>");
  std::string home(1000, 'h');
  dorvex::ctx().home = home.c_str();
  EXPECT_EQ(expand(native("~/") + std::string(22, 'a')).size(), 1023u);
  EXPECT_EQ(expand(native("~/") + std::string(23, 'a')), "<too long>");
}

TEST(Fileutil, FindFileSearchesTheListInOrder) {
  SettingsGuard guard;
  TempDir t;
  std::string a = t.file("a"), b = t.file("b");
  make_dir(a);
  make_dir(b);
  const std::string af = a + native("/f.txt"), bf = b + native("/f.txt"), bg = b + native("/g.txt");
  write_file(af, "");
  write_file(bf, "");
  write_file(bg, "");
  EXPECT_EQ(find("f.txt", (a + ";" + b).c_str()), af);
  EXPECT_EQ(find("f.txt", (b + kOtherListSep + a).c_str()), bf);
  EXPECT_EQ(find("g.txt", (a + ";" + b).c_str()), bg);
  EXPECT_EQ(find("g.txt", (t.file("none") + kOtherListSep + b + ";").c_str()), bg);
  EXPECT_EQ(find("h.txt", (a + ";" + b).c_str()), "");
  EXPECT_EQ(find("f.txt", nullptr), "");
  // An over-long candidate is skipped, not cut.
  std::string longdir = t.file(std::string(1020 - t.path().size(), 'x'));
  EXPECT_EQ(find("f.txt", (longdir + ";" + a).c_str()), af);
  // "~/" and "%s" in elements.
  dorvex::ctx().home = t.path().c_str();
  EXPECT_EQ(find("f.txt", native("~/b").c_str()), t.path() + native("/b/f.txt"));
  use_program_path(a + native("/dorvex"));
  EXPECT_EQ(find("f.txt", (native("/nonexistent") + kOtherListSep + "%s").c_str()), af);
}

TEST(Fileutil, FindFileEmptyElementMeansCurrentDirectory) {
  TempDir t;
  write_file(t.file("here.txt"), "");
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(t.path());
  const std::string sep = kOtherListSep;
  std::string found[] = {find("here.txt", ";/nonexistent"),
                         find("here.txt", ("/none" + sep + sep + "/none2").c_str()),
                         find("here.txt", "/nonexistent;"), find("here.txt", "")};
  std::filesystem::current_path(saved);
  for (const auto& f : found) EXPECT_EQ(f, native("./here.txt"));
}

TEST(Fileutil, CharsetNamesPeopleTypeResolveToTables) {
  SettingsGuard guard;
  TempDir t;
  for (const char* table : {"koi8-r", "8859-1", "8859-15", "cp1252", "cp866", "mac-roman", "My-Set"})
    write_file(t.file(std::string(table) + ".txt"), "");
  std::string path = "/nonexistent;" + t.path();
  dorvex::ctx().charset_path = path.c_str();
  auto resolved = [](const char* name) -> std::string {
    const char* r = dorvex::resolve_charset(name);
    return r ? r : "<unknown>";
  };
  // A name that is a table's name in other letter case is that table's file on Windows, whose
  // file names know no case: the name is taken as typed.
#ifdef _WIN32
  const char *koi8_r = "KOI8-R", *cp1252 = "CP1252", *my_set = "my-set";
#else
  const char *koi8_r = "koi8-r", *cp1252 = "cp1252", *my_set = "<unknown>";
#endif
  const std::pair<const char*, const char*> cases[] = {
      {"utf-8", "utf-8"},         {"UTF-8", "utf-8"},          {"utf8", "utf-8"},
      {"Utf8", "utf-8"},          {"koi8-r", "koi8-r"},        {"KOI8-R", koi8_r},
      {"koi8r", "koi8-r"},        {"latin1", "8859-1"},        {"LATIN1", "8859-1"},
      {"iso-8859-1", "8859-1"},   {"ISO8859-1", "8859-1"},     {"ISO_8859-15", "8859-15"},
      {"iso885915", "8859-15"},   {"windows-1252", "cp1252"},  {"CP1252", cp1252},
      {"ibm866", "cp866"},        {"866", "cp866"},            {"macintosh", "mac-roman"},
      {"My-Set", "My-Set"},       {"my-set", my_set},          {"koi8", "<unknown>"},
      {"windows-1251", "<unknown>"}, {"iso-8859-", "<unknown>"}, {"", "<unknown>"},
      {"ANSI_X3.4-1968", "<unknown>"}, {"nonsense", "<unknown>"}, {"cp", "<unknown>"},
  };
  // Holding the tables found (as at start-up) changes nothing of the answers.
  for (bool hold : {false, true}) {
    dorvex::hold_found_tables(hold);
    for (const auto& [name, table] : cases) EXPECT_EQ(resolved(name), table) << name << hold;
  }
  dorvex::hold_found_tables(false);
  // check_charset stores a new copy of the table name and leaves the variable alone otherwise.
  const char* before = "before";
  const char* name = before;
  EXPECT_EQ(dorvex::check_charset(&name, "koi8"), 0);
  EXPECT_EQ(name, before);
  ASSERT_EQ(dorvex::check_charset(&name, "ISO-8859-1"), 1);
  EXPECT_STREQ(name, "8859-1");
  std::free(const_cast<char*>(name));
}

// A table found while tables are held is read from the stream opened then, without a second
// look-up: a file gone in between is still read. A table taken, or one pushed out by a third,
// is looked up again; the end of the hold closes those not taken, and without a hold nothing
// stays open.
TEST(Fileutil, HeldTablesAreLookedUpOnce) {
  SettingsGuard guard;
  TempDir t;
#ifdef _WIN32
  // Windows deletes no file that is open: each table has a directory of its own, and is gone
  // when its directory leaves the path.
  std::vector<std::string> dirs;
  std::string path;
  auto set_path = [&] {
    path.clear();
    for (const std::string& d : dirs) path += (path.empty() ? "" : ";") + t.file(d);
    dorvex::ctx().charset_path = path.c_str();
  };
  auto place = [&](const char* name) {
    make_dir(t.file(name));
    write_file(t.file(name) + native("/") + name + ".txt", std::string("table ") + name);
    dirs.push_back(name);
    set_path();
  };
  auto gone = [&](const char* name) {
    dirs.erase(std::find(dirs.begin(), dirs.end(), name));
    set_path();
  };
#else
  auto place = [&](const char* name) {
    write_file(t.file(std::string(name) + ".txt"), std::string("table ") + name);
  };
  const std::string path = t.path();
  dorvex::ctx().charset_path = path.c_str();
  auto gone = [&](const char* name) { std::remove(t.file(std::string(name) + ".txt").c_str()); };
#endif
  for (const char* name : {"a", "b", "c", "d"}) place(name);
  auto read_table = [](const char* name) -> std::string {
    char* found = nullptr;
    std::FILE* f = dorvex::open_charset_table(name, &found);
    std::string got = found ? "" : "<nowhere>";
    std::free(found);
    if (!f) return got;
    char text[16] = {};
    std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    return text;
  };
  auto lowest_free_descriptor = [] {
#ifdef _WIN32
    int fd = open("NUL", O_RDONLY);
#else
    int fd = open("/dev/null", O_RDONLY);
#endif
    close(fd);
    return fd;
  };
  const int free_before = lowest_free_descriptor();

  dorvex::hold_found_tables(true);
  for (const char* name : {"a", "b", "b", "c"}) ASSERT_STREQ(dorvex::resolve_charset(name), name);
  for (const char* name : {"a", "b", "c"}) gone(name);
  EXPECT_EQ(read_table("a"), "<nowhere>");  // pushed out by c
  EXPECT_EQ(read_table("b"), "table b");
  EXPECT_EQ(read_table("b"), "<nowhere>");  // taken
  EXPECT_EQ(read_table("c"), "table c");
  ASSERT_STREQ(dorvex::resolve_charset("d"), "d");
  EXPECT_NE(lowest_free_descriptor(), free_before);
  dorvex::hold_found_tables(false);
  EXPECT_EQ(lowest_free_descriptor(), free_before);
  gone("d");
  EXPECT_EQ(read_table("d"), "<nowhere>");  // closed with the end of the hold

  place("e");
  ASSERT_STREQ(dorvex::resolve_charset("e"), "e");
  EXPECT_EQ(lowest_free_descriptor(), free_before);
  gone("e");
  EXPECT_EQ(read_table("e"), "<nowhere>");
}

TEST(Fileutil, LocaleChoosesACharsetDorvexHas) {
  SettingsGuard guard;
  TempDir t;
  for (const char* table : {"koi8-r", "8859-15", "cp1251"}) write_file(t.file(std::string(table) + ".txt"), "");
  dorvex::ctx().charset_path = t.path().c_str();
  auto charset_under = [](const char* lc_all, const char* lc_ctype, const char* lang) {
    set_env("LC_ALL", lc_all);
    set_env("LC_CTYPE", lc_ctype);
    set_env("LANG", lang);
    const char* r = dorvex::locale_charset();
    return std::string(r ? r : "<default>");
  };
  const char* no = nullptr;
  struct Case {
    const char *lc_all, *lc_ctype, *lang, *charset;
  } const cases[] = {
      {"C.UTF-8", no, no, "utf-8"},
      {no, "en_GB.utf8", "C", "utf-8"},
      {"", "", "ru_RU.KOI8-R", "koi8-r"},
      {no, no, "de_DE.iso885915@euro", "8859-15"},
      {"ru_RU.CP1251", "C.UTF-8", no, "cp1251"},  // LC_ALL rules
      {"C", "C.UTF-8", no, "<default>"},
      {"POSIX", no, no, "<default>"},
      {no, no, no, "<default>"},
      {"ja_JP.EUC-JP", no, no, "<default>"},  // no table for it
      {"xx_NOWHERE", no, no, "<default>"},    // no such locale
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    // The locale variables mean nothing on Windows: the console's code page decides, and output
    // that goes to no console, as here, keeps the default.
    const char* want = "<default>";
#else
    const char* want = c.charset;
#endif
    EXPECT_EQ(charset_under(c.lc_all, c.lc_ctype, c.lang), want)
        << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_ctype ? c.lc_ctype : "-") << " "
        << (c.lang ? c.lang : "-");
  }
  set_env("LC_ALL", nullptr);
  set_env("LC_CTYPE", nullptr);
  set_env("LANG", nullptr);
}

TEST(Fileutil, ListCharsetsPrintsFiveNamesALineThenUtf8) {
  TempDir t;
  std::string none = t.file("none"), two = t.file("two"), five = t.file("five"), six = t.file("six");
  for (const auto& d : {none, two, five, six}) make_dir(d);
  write_file(none + "/readme", "");
  for (const char* n : {"a.txt", "b.txt"}) write_file(two + "/" + n, "");
  for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) write_file(five + "/" + n, "");
  for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt"})
    write_file(six + "/" + n, "");
  EXPECT_EQ(list_output(none), "Available charsets:\nutf-8\n");
  EXPECT_EQ(list_output(two), "Available charsets:\na\tb\tutf-8\n");
  EXPECT_EQ(list_output(five), "Available charsets:\na\tb\tc\td\te\nutf-8\n");
  EXPECT_EQ(list_output(six), "Available charsets:\na\tb\tc\td\te\nf\tutf-8\n");
}

TEST(Fileutil, ListCharsetsGathersEveryDirectoryOfThePath) {
  SettingsGuard guard;
  TempDir t;
  // A directory whose name holds the characters of patterns. Windows allows no '*' in a name.
#ifdef _WIN32
  std::string d1 = t.file("d1"), empty = t.file("empty"), odd = t.file("x[1]");
#else
  std::string d1 = t.file("d1"), empty = t.file("empty"), odd = t.file("x[1]*");
#endif
  for (const auto& d : {d1, empty, odd}) make_dir(d);
  write_file(d1 + "/iso.8859-5.txt", "");  // cut at the first '.'
  write_file(odd + "/koi8-r.txt", "");
  // A missing directory and one without matches are passed over; later matches still count.
  std::string list = t.file("missing") + ";" + d1 + ";" + empty + kOtherListSep + odd;
  EXPECT_EQ(list_output(list), "Available charsets:\niso\tkoi8-r\tutf-8\n");
  // The elements are expanded as the search expands them.
  dorvex::ctx().home = t.path().c_str();
  EXPECT_EQ(list_output(native("~/d1")), "Available charsets:\niso\tutf-8\n");
}

TEST(Fileutil, DefaultPathsAreTheDataDirectoriesThatMayHoldTables) {
  SettingsGuard guard;
  TempDir t;
  use_program_path(t.path() + native("/bin/dorvex"));
  dorvex::init_default_paths();
  std::string none = dorvex::ctx().charset_path;  // the configured data directory may exist here
  EXPECT_TRUE(none == native("%s/charsets") ||
              (std::filesystem::path(none).has_root_directory() && none.find("%s") == std::string::npos))
      << none;
  std::string installed = none == native("%s/charsets") ? "" : ";" + none;
  for (const char* d : {"/share", "/share/dorvex", "/share/dorvex/charsets", "/bin"})
    make_dir(t.path() + d);
  dorvex::init_default_paths();
  EXPECT_EQ(std::string(dorvex::ctx().charset_path), native("%s/../share/dorvex/charsets") + installed);
  // With a data directory beside the program the others are listed unasked, and a table only
  // they hold is still found; one nowhere is not.
  std::filesystem::remove(t.path() + "/share/dorvex/charsets");
  make_dir(t.path() + "/bin/charsets");
  dorvex::init_default_paths();
  const std::string listed = dorvex::ctx().charset_path,
                    unasked = native("%s/charsets;%s/../share/dorvex/charsets;");
  ASSERT_EQ(listed.substr(0, unasked.size()), unasked);
  EXPECT_TRUE(std::filesystem::path(listed.substr(unasked.size())).has_root_directory())
      << listed;  // the configured one
  EXPECT_EQ(listed.find("%s", unasked.size()), std::string::npos) << listed;
  EXPECT_STREQ(dorvex::ctx().map_path, dorvex::ctx().charset_path);
  make_dir(t.path() + "/share/dorvex/charsets");
  write_file(t.path() + "/share/dorvex/charsets/shared.txt", "");
  write_file(t.path() + "/bin/charsets/own.txt", "");
  for (const char* name : {"own.txt", "shared.txt", "none.txt"}) {
    char* found = dorvex::find_file(dorvex::stradd(name, ""), dorvex::ctx().charset_path);
    const std::string want = std::string(name) == "none.txt" ? ""
                             : std::string(name) == "own.txt"
                                 ? t.path() + native("/bin/charsets/own.txt")
                                 : t.path() + native("/bin/../share/dorvex/charsets/shared.txt");
    EXPECT_EQ(found ? std::string(found) : "", want) << name;
    std::free(found);
  }
}

// A program directory that itself holds "%s" must not make substitution run away.
TEST(Fileutil, ExeDirHoldingPercentSIsSubstitutedOnce) {
  SettingsGuard guard;
  use_program_path(native("/a%sb/dorvex"));
  const char* once = dorvex::add_exe_path("%s/c");
  EXPECT_EQ(once, native("/a%sb") + "/c");
  EXPECT_EQ(dorvex::add_exe_path(once), native("/a") + native("/a%sb") + "b/c");
  EXPECT_EQ(expand("%s/c"), native("/a%sb") + "/c");
}
