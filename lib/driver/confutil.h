// Configuration files ("dorvex.rc": name = value lines) and the program's string duplicate.
#ifndef DORVEX_CONFUTIL_H
#define DORVEX_CONFUTIL_H

namespace dorvex {

// Settings with a configuration key. Each points to a constant default or to a copy made by
// set_setting, which releases the copy it made before when it replaces it.
extern const char* source_csname;  // "cp1251"
extern const char* dest_csname;    // "cp866"
extern const char* format_name;    // "ascii"

// True once a configuration file or -d named the target charset; until then the locale's
// charset may stand in for the built-in default.
extern bool target_named;
// The "use_locale" key (default yes): whether the locale may choose the target charset.
extern bool use_locale;

// The one-character text written for a character that cannot be converted ("?").
extern char bad_char[2];

// Newly allocated copy of s; "Out of memory!" and exit 1 when allocation fails.
char* strdup(const char* s);

// Points *setting to a new copy of value. The copy it held before is released when an earlier
// set_setting made it and nothing replaced it since, so a key given twice leaves nothing behind;
// a pointer someone else stored there (a default, a reader's own copy) is left to its owner.
void set_setting(const char** setting, const char* value);

// Reads one configuration file (name passed through add_exe_path) and applies its settings.
// A file that cannot be opened is skipped silently; a syntax error ends the program (status 1),
// with the file's path as it was opened in the message. A last line without a line end counts.
void read_config_file(const char* name);

}  // namespace dorvex

#endif  // DORVEX_CONFUTIL_H
