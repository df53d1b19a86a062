// Configuration files ("dorvex.rc": name = value lines) and the program's string duplicate.
#ifndef DORVEX_CONFUTIL_H
#define DORVEX_CONFUTIL_H

namespace dorvex {

// The settings with a configuration key (source_csname, dest_csname, format_name, charset_path,
// map_path, bad_char, use_locale, and target_named, true once a file or -d named the target
// charset) are fields of the extraction's settings (context.h).

// Newly allocated copy of s; "Out of memory!" and exit 1 when allocation fails.
char* strdup(const char* s);

// Points *setting to a new copy of value, owned by the current extraction (released with it).
void set_setting(const char** setting, const char* value);

// Reads one configuration file (name passed through add_exe_path) and applies its settings to
// the current extraction's. A file that cannot be opened is skipped silently; a syntax error
// reports and throws ProgramEnd (status 1),
// with the file's path as it was opened in the message. A last line without a line end counts.
void read_config_file(const char* name);

}  // namespace dorvex

#endif  // DORVEX_CONFUTIL_H
