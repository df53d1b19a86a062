#include "localecp.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "fileutil.h"

namespace dorvex {

namespace {

struct LanguagePage {
  const char* languages;  // two- and three-letter codes, each followed by a blank
  const char* charset;
};

// Windows' ANSI code page by language; every other language reads cp1252.
constexpr LanguagePage kLanguagePages[] = {
    {"ru uk be bg sr mk ", "cp1251"},
    {"el ", "cp1253"},
    {"tr az ", "cp1254"},
    {"he ", "cp1255"},
    {"ar fa ur ", "cp1256"},
    {"et lv lt ", "cp1257"},
    {"vi ", "cp1258"},
    {"th ", "cp874"},
    {"cs pl hu sk sl hr ro bs sq ", "cp1250"},
};

constexpr std::size_t kLanguageLimit = 3;

}  // namespace

const char* ansi_charset_of_locale(const char* name) {
  std::size_t n = 0;
  while (n <= kLanguageLimit && name[n] >= 'a' && name[n] <= 'z') ++n;
  // A language is two or three small letters, ending the name or followed by its territory,
  // codeset or modifier: "C", "POSIX" and "C.UTF-8" have none.
  const char end = name[n];
  if (n < 2 || n > kLanguageLimit || (end != '\0' && end != '_' && end != '.' && end != '@')) {
    return nullptr;
  }
  char code[kLanguageLimit + 2] = {};
  std::memcpy(code, name, n);
  code[n] = ' ';
  for (const LanguagePage& page : kLanguagePages) {
    for (const char* p = page.languages; (p = std::strstr(p, code)) != nullptr; p += n + 1) {
      if (p == page.languages || p[-1] == ' ') return page.charset;
    }
  }
  return "cp1252";
}

const char* locale_ansi_charset() {
  // Windows says which code page its programs take 8-bit text in: the charset dorvex ships for
  // it, found or not, as for a language (UTF-8 there is no 8-bit one, and has no table).
  if (kSystemCodePages) return code_page_source_charset(system_ansi_code_page());
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return ansi_charset_of_locale(value);
  }
  return nullptr;
}

}  // namespace dorvex
