#include "context.h"
#include "confutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fileconf.h"
#include "fileutil.h"
#include "fixture.h"

using testing_support::ChildResult;
using testing_support::kOtherListSep;
using testing_support::native;
using testing_support::run_in_child;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// The settings as read_config prints them, before any file is read: those the tests run with.
const std::string kUntouched = "cp1251|cp866|ascii|" + native("%s/charsets") + "|" +
                               native("%s/charsets") + "|?";

// Reads a configuration file with the given text in a child and reports the settings it
// printed afterwards, so a fatal line cannot end the test binary.
ChildResult read_config(const std::string& text, const std::string& name = "test.rc") {
  TempDir t;
  std::string path = t.file(name);
  write_file(path, text);
  return run_in_child([&] {
    dorvex::read_config_file(path.c_str());
    std::printf("%s|%s|%s|%s|%s|%s", dorvex::ctx().source_csname, dorvex::ctx().dest_csname,
                dorvex::ctx().format_name, dorvex::ctx().charset_path, dorvex::ctx().map_path, dorvex::ctx().bad_char);
  });
}

std::string format_after(const std::string& text) {
  ChildResult r = read_config(text);
  EXPECT_EQ(r.status, 0) << text << r.err;
  std::string fields = r.out;  // source|dest|format|...
  std::size_t a = fields.find('|'), b = fields.find('|', a + 1), c = fields.find('|', b + 1);
  return fields.substr(b + 1, c - b - 1);
}

char bad_char_after(const std::string& value) {
  ChildResult r = read_config("unknown_char = " + value + "\n");
  EXPECT_EQ(r.status, 0) << value << r.err;
  return r.out.empty() ? '\0' : r.out.back();
}

// The error text for a one-file run, with the file's path in place of F.
std::string error_of(const std::string& text) {
  TempDir t;
  std::string path = t.file("e.rc");
  write_file(path, text);
  ChildResult r = run_in_child([&] { dorvex::read_config_file(path.c_str()); });
  EXPECT_EQ(r.status, 1) << text;
  std::string err = r.err;
  for (std::size_t at; (at = err.find(path)) != std::string::npos;) err.replace(at, path.size(), "F");
  return err;
}

}  // namespace

TEST(Confutil, EveryKeySetsItsVariable) {
  ChildResult r = read_config(
      "source_charset = koi8-r\ntarget_charset = utf-8\nformat = tex\n"
      "charset_path = ~/cs:%s/charsets\nmap_path = /maps\nunknown_char = *\nuse_locale = no\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "koi8-r|utf-8|tex|~/cs:%s/charsets|/maps|*");
}

TEST(Confutil, CommentsBlankLinesAndMissingFilesChangeNothing) {
  ChildResult untouched = read_config("");
  EXPECT_EQ(untouched.out, kUntouched);
  EXPECT_EQ(read_config("# format = tex\n\n \t \r\n   # x\n").out, untouched.out);
  ChildResult missing = run_in_child([] { dorvex::read_config_file("/nonexistent/dorvex.rc"); });
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.err, "");
  // A directory, a device or a FIFO is no configuration file: invalid, the run ends.
  TempDir t;
  ChildResult dir = run_in_child([&] { dorvex::read_config_file(t.path().c_str()); });
  EXPECT_EQ(dir.status, 1);
  EXPECT_EQ(dir.err, "Error " + t.path() + "(1): name = value syntax expected\n");
#ifndef _WIN32  // Windows has no device that reads as endless zeros
  EXPECT_EQ(run_in_child([] { dorvex::read_config_file("/dev/zero"); }).status, 1);
#endif
}

TEST(Confutil, NameValueSpacing) {
  for (const char* line : {"format = tex\n", "format=tex\n", "format =tex\n", "  format\t=\ttex\r\n",
                           "format = tex ascii\n", "format:=tex\n", "format = tex# ascii\n"})
    EXPECT_EQ(format_after(line), "tex") << line;
  // The value stops at ASCII white space only; a byte such as 0xA0 belongs to it.
  EXPECT_EQ(format_after("format = te\xA0x\n"), "te\xA0x");
}

TEST(Confutil, LastLineWithoutLineEndCounts) {
  EXPECT_EQ(format_after("format = tex"), "tex");
  ChildResult r = read_config("format = tex\nsource_charset = koi8-r");
  EXPECT_EQ(r.out, "koi8-r|cp866|tex|" + native("%s/charsets") + "|" + native("%s/charsets") + "|?");
  EXPECT_EQ(error_of("format = tex\nnot valid at all"), "Error F(2): name = value syntax expected\n");
}

// In this process, not a child: under LeakSanitizer a copy that no extraction owned would show
// up as a leak when the binary ends, and one released twice as a double free.
TEST(Confutil, RepeatedKeysKeepTheLastValueAndReleaseTheEarlier) {
  testing_support::SettingsGuard guard;
  TempDir t;
  write_file(t.file("r.rc"), "format = a\nformat = b\ntarget_charset = x\ntarget_charset = y\n"
                             "use_locale = no\ncharset_path = /p\ncharset_path = /q\nformat = c\n");
  dorvex::read_config_file(t.file("r.rc").c_str());
  EXPECT_STREQ(dorvex::ctx().format_name, "c");
  EXPECT_STREQ(dorvex::ctx().dest_csname, "y");
  EXPECT_STREQ(dorvex::ctx().charset_path, "/q");
  EXPECT_TRUE(dorvex::ctx().target_named);
  EXPECT_FALSE(dorvex::ctx().use_locale);
  // A value someone else put in place is theirs (as the RTF reader does with the source
  // charset): replacing it must not release it, nor the copy it displaced, which they hold.
  const char* displaced = dorvex::ctx().format_name;
  char outside[] = "mine";
  dorvex::ctx().format_name = outside;
  dorvex::set_setting(&dorvex::ctx().format_name, "d");
  EXPECT_STREQ(outside, "mine");
  EXPECT_STREQ(displaced, "c");
  EXPECT_STREQ(dorvex::ctx().format_name, "d");
}

TEST(Confutil, UnknownCharTakesOneCharacter) {
  EXPECT_EQ(bad_char_after("x"), 'x');
  EXPECT_EQ(bad_char_after("\"x\""), 'x');
  EXPECT_EQ(bad_char_after("'x'"), 'x');
  EXPECT_EQ(bad_char_after("abc"), 'a');
  EXPECT_EQ(bad_char_after("\"\"\""), '"');
  EXPECT_EQ(bad_char_after("' '"), '\'');  // the value ends at the blank
  EXPECT_EQ(bad_char_after("\"'\""), '\'');
  EXPECT_EQ(bad_char_after("\"'x'\""), '"');
}

TEST(Confutil, SyntaxErrorsNameFileAndLine) {
  const std::string syntax = "Error F(1): name = value syntax expected\n";
  EXPECT_EQ(error_of("format= tex\n"), syntax);
  EXPECT_EQ(error_of("format\n"), syntax);
  EXPECT_EQ(error_of("format =\n"), syntax);
  EXPECT_EQ(error_of("format tex\n"), syntax);
  EXPECT_EQ(error_of("unknown_char = #\n"), syntax);
  EXPECT_EQ(error_of("\n# note\nformat x = tex\n"), "Error F(3): name = value syntax expected\n");
  // A line over 1023 characters comes in pieces, each counted as a line.
  EXPECT_EQ(error_of("format = tex" + std::string(1100, ' ') + "zz\n"),
            "Error F(2): name = value syntax expected\n");
  EXPECT_EQ(error_of("use_locale = 1\n"), "Error F(1): use_locale requires 'yes' or 'no'\n");
  EXPECT_EQ(read_config("use_locale = Yes\nuse_locale = n\nuse_locale=NO\n").status, 0);
}

TEST(Confutil, UnknownNamesAreInvalidDirectives) {
  EXPECT_EQ(error_of("Format = tex\n"), "Invalid configuration directive in F(1):,Format = tex\n");
  EXPECT_EQ(error_of("format = tex\ncolour = red # x\n"),
            "Invalid configuration directive in F(2):,colour = red\n");
  EXPECT_EQ(error_of("=tex\n"), "Invalid configuration directive in F(1):, = tex\n");
  EXPECT_EQ(error_of("= tex\n"), "Error F(1): name = value syntax expected\n");
}

TEST(Confutil, MessagesNameTheFileAsOpened) {
  TempDir t;
  write_file(t.file("dorvex.rc"), "format = tex\nbogus = 1\n");
  ChildResult r = run_in_child([&] {
    testing_support::use_program_path(t.file("dorvex"));
    dorvex::read_config_file("%s/dorvex.rc");
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Invalid configuration directive in " + t.path() + "/dorvex.rc(2):,bogus = 1\n");
}

TEST(Confutil, UserFileOverridesSystemFile) {
  TempDir sys, home;
  write_file(sys.file("dorvex.rc"), "format = tex\nsource_charset = koi8-r\nunknown_char = _\n");
  write_file(home.file("dorvex.rc"), "format = mine\n");
  // The start-up order: the file beside the program, then the one found along HOME.
  ChildResult r = run_in_child([&] {
    testing_support::use_program_path(sys.file("dorvex"));
    testing_support::set_env("HOME", ("/nonexistent" + std::string(kOtherListSep) + home.path()).c_str());
    dorvex::read_config_file("%s/dorvex.rc");
    char* user = dorvex::find_file(dorvex::strdup("dorvex.rc"), std::getenv("HOME"));
    if (!user) return;
    dorvex::read_config_file(user);
    std::printf("%s|%s|%s", dorvex::ctx().format_name, dorvex::ctx().source_csname, dorvex::ctx().bad_char);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "mine|koi8-r|_");
}

TEST(Confutil, ExampleFileHoldsTheDefaults) {
  ChildResult r = run_in_child([] {
    dorvex::read_config_file(DORVEX_SOURCE_DIR "/dorvex.rc.example");
    std::printf("%s|%s|%s|%s|%s|%s", dorvex::ctx().source_csname, dorvex::ctx().dest_csname,
                dorvex::ctx().format_name, dorvex::ctx().charset_path, dorvex::ctx().map_path, dorvex::ctx().bad_char);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, kUntouched);
}
