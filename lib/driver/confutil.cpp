#include "confutil.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "datafile.h"
#include "fileutil.h"

namespace dorvex {

const char* source_csname = "cp1251";
const char* dest_csname = "cp866";
const char* format_name = "ascii";
char bad_char[2] = "?";
bool target_named = false;
bool use_locale = true;

namespace {
// One read takes at most 1023 characters; a longer line arrives in pieces, each a line of its own.
constexpr int kConfigLineSize = 1024;

// The copy set_setting last stored in each setting it was given. Five settings take strings.
struct OwnedSetting {
  const char** setting = nullptr;
  char* copy = nullptr;
};
std::array<OwnedSetting, 8> owned_settings;

OwnedSetting& owned_slot(const char** setting) {
  for (OwnedSetting& slot : owned_settings)
    if (slot.setting == setting || !slot.setting) {
      slot.setting = setting;
      return slot;
    }
  std::abort();  // more settings than slots: a programming error, not an input
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Plain ASCII classes: a configuration file means the same whatever the locale.
bool is_space(char c) { return c == ' ' || c == '\t' || (c >= 0x0A && c <= 0x0D); }
bool is_name_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
char* skip_space(char* p) {
  while (is_space(*p)) ++p;
  return p;
}

[[noreturn]] void syntax_error(const char* file, int line_no) {
  std::fprintf(stderr, "Error %s(%d): name = value syntax expected\n", file, line_no);
  end_program(1);
}

// The character for "unknown_char": x, "x" and 'x' all mean x; otherwise the first character.
char unknown_char_of(const char* v) {
  if (v[0] == '"' && v[1] != '\0' && v[2] == '"') ++v;
  if (v[0] == '\'' && v[1] != '\0' && v[2] == '\'') ++v;
  return v[0];
}

// Applies one name = value pair; false when the name is not a known key.
bool apply_setting(std::string_view name, const char* value, const char* file, int line_no) {
  if (name == "source_charset") {
    set_setting(&source_csname, value);
  } else if (name == "target_charset") {
    set_setting(&dest_csname, value);
    target_named = true;
  } else if (name == "format") {
    set_setting(&format_name, value);
  } else if (name == "charset_path") {
    set_setting(&charset_path, value);
  } else if (name == "map_path") {
    set_setting(&map_path, value);
  } else if (name == "unknown_char") {
    bad_char[0] = unknown_char_of(value);
  } else if (name == "use_locale") {
    char c = value[0];
    if (c != 'y' && c != 'Y' && c != 'n' && c != 'N') {
      std::fprintf(stderr, "Error %s(%d): use_locale requires 'yes' or 'no'\n", file, line_no);
      end_program(1);
    }
    use_locale = c == 'y' || c == 'Y';
  } else {
    return false;
  }
  return true;
}

// Parses one line (already cut at its comment) and applies it. Blank lines do nothing.
void parse_line(char* line, const char* file, int line_no) {
  char* p = skip_space(line);
  if (*p == '\0') return;
  char* name = p;
  while (is_name_char(*p)) ++p;
  std::string_view key(name, static_cast<std::size_t>(p - name));
  if (*p == '=') {
    ++p;  // "name=value": the value starts at once, so "name= value" has none
  } else {
    if (*p == '\0') syntax_error(file, line_no);
    p = skip_space(p + 1);  // the one character after the name is passed over unseen
    if (*p != '=') syntax_error(file, line_no);
    p = skip_space(p + 1);
  }
  char* value = p;
  while (*p != '\0' && !is_space(*p)) ++p;
  if (p == value) syntax_error(file, line_no);
  *p = '\0';
  if (!apply_setting(key, value, file, line_no)) {
    std::fprintf(stderr, "Invalid configuration directive in %s(%d):,%.*s = %s\n", file, line_no,
                 static_cast<int>(key.size()), key.data(), value);
    end_program(1);
  }
}
}  // namespace

char* strdup(const char* s) {
  std::size_t n = std::strlen(s) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (!copy) {
    std::fputs("Out of memory!", stderr);
    end_program(1);
  }
  std::memcpy(copy, s, n);
  return copy;
}

void set_setting(const char** setting, const char* value) {
  char* copy = dorvex::strdup(value);
  OwnedSetting& slot = owned_slot(setting);
  if (slot.copy && *setting == slot.copy) std::free(slot.copy);
  slot.copy = copy;
  *setting = copy;
}

void read_config_file(const char* name) {
  // Messages name the file as it was opened, with the executable's directory filled in.
  char path[kPathLimit];
  std::snprintf(path, sizeof path, "%s", add_exe_path(name));
  bool refused = false;
  FilePtr f(open_data_file(path, kMaxConfigFile, &refused));
  if (!f) {
    // A device, a FIFO or a huge file is no configuration file: invalid, as a bad line is.
    if (refused) syntax_error(path, 1);
    // A missing file is no error; one that is there but cannot be read loses its settings.
    if (errno != ENOENT && errno != ENOTDIR) warn_config_unreadable(path, errno);
    return;
  }
  if (input_buffer) std::setvbuf(f.get(), input_buffer, _IOFBF, kIoBufferSize);
  char line[kConfigLineSize];
  int line_no = 0;
  while (std::fgets(line, sizeof line, f.get())) {
    if (line_no < INT_MAX) ++line_no;  // a file of 2^31 lines must not overflow the count
    if (char* comment = std::strchr(line, '#')) *comment = '\0';
    parse_line(line, path, line_no);
  }
}

}  // namespace dorvex
