#include "context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "fileutil.h"
#include "shipped.h"

// The list the messages rely on is the tables the project ships, no more and no fewer, in the
// order the search needs.
TEST(ShippedCharsets, ListMatchesTheCharsetsDirectory) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(DORVEX_CHARSETS_DIR)) {
    if (entry.path().extension() == ".txt") files.insert(entry.path().stem().string());
  }
  std::set<std::string> listed(dorvex::kShippedCharsets,
                               dorvex::kShippedCharsets + dorvex::kShippedCharsetCount);
  EXPECT_EQ(listed, files);
  EXPECT_TRUE(std::is_sorted(dorvex::kShippedCharsets,
                             dorvex::kShippedCharsets + dorvex::kShippedCharsetCount,
                             [](const char* a, const char* b) { return std::strcmp(a, b) < 0; }));
}

// Names, aliases and case fold to a shipped table whether or not any file is found; others do not.
TEST(ShippedCharsets, NamesAndAliasesOfShippedTables) {
  const char* const charset_path = dorvex::ctx().charset_path;
  dorvex::ctx().charset_path = "/nonexistent";
  struct Case {
    const char* name;
    const char* table;  // null: not shipped
  } const cases[] = {
      {"cp1251", "cp1251"},       {"CP1252", "cp1252"}, {"latin1", "8859-1"},
      {"ISO-8859-5", "8859-5"},   {"KOI8R", "koi8-r"},  {"windows-1250", "cp1250"},
      {"mac-roman", "mac-roman"}, {"utf-8", nullptr},   {"nosuch", nullptr},
      {"cp125", nullptr},         {"cp12510", nullptr}, {"", nullptr},
  };
  for (const Case& c : cases) {
    const char* got = dorvex::shipped_charset_name(c.name);
    if (c.table) {
      EXPECT_STREQ(got, c.table) << c.name;
    } else {
      EXPECT_EQ(got, nullptr) << c.name;
    }
  }
  dorvex::ctx().charset_path = charset_path;
}
