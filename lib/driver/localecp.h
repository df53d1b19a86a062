// The source charset a locale implies: the ANSI code page Windows uses for its language.
#ifndef DORVEX_LOCALECP_H
#define DORVEX_LOCALECP_H

namespace dorvex {

// The charset of Windows' ANSI code page for the language of a locale name
// ("language_TERRITORY.codeset@modifier"): "cp1251" for ru, "cp1253" for el, "cp1252" for a
// language without a code page of its own. Null for a name without a language ("", "C",
// "POSIX", "C.UTF-8").
const char* ansi_charset_of_locale(const char* name);

// The same for the user's locale, as LC_ALL, LC_CTYPE and LANG name it (the first set wins). On
// Windows the system's ANSI code page instead, when dorvex has its table.
const char* locale_ansi_charset();

}  // namespace dorvex

#endif  // DORVEX_LOCALECP_H
