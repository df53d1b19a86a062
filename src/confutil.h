// Configuration files ("dorvex.rc": name = value lines) and the program's string duplicate.
#ifndef DORVEX_CONFUTIL_H
#define DORVEX_CONFUTIL_H

namespace dorvex {

// Settings with a configuration key. Each points to a constant default or to a copy made by
// strdup; a new value replaces the pointer (the old copy is kept, never freed).
extern const char* source_csname;  // "cp1251"
extern const char* dest_csname;    // "cp866"
extern const char* format_name;    // "ascii"

// The one-character text written for a character that cannot be converted ("?").
extern char bad_char[2];

// Newly allocated copy of s; "Out of memory!" and exit 1 when allocation fails.
char* strdup(const char* s);

// Reads one configuration file (name passed through add_exe_path) and applies its settings.
// A file that cannot be opened is skipped silently; a syntax error ends the program (status 1).
void read_config_file(const char* name);

}  // namespace dorvex

#endif  // DORVEX_CONFUTIL_H
