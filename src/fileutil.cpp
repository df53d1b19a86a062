#include "fileutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "confutil.h"

namespace dorvex {

const char* charset_path = "%s/charsets";
const char* map_path = "%s/charsets";
char* input_buffer = nullptr;

namespace {
char program_path[kPathLimit] = "";
char exe_dir_buf[kPathLimit];
}  // namespace

[[noreturn]] void end_program(int status) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  throw ProgramEnd{status};
#else
  std::exit(status);
#endif
}

void set_program_path(const char* argv0) {
  std::snprintf(program_path, sizeof program_path, "%s", argv0 ? argv0 : "");
}
void init_default_paths() {}
char* stradd(const char* a, const char* b) {
  std::size_t la = std::strlen(a), lb = std::strlen(b);
  char* r = static_cast<char*>(std::malloc(la + lb + 1));
  std::memcpy(r, a, la);
  std::memcpy(r + la, b, lb + 1);
  return r;
}
const char* exe_dir() {
  std::snprintf(exe_dir_buf, sizeof exe_dir_buf, "%s", program_path);
  char* slash = std::strrchr(exe_dir_buf, kDirSep);
  if (slash) *slash = '\0';
  else std::strcpy(exe_dir_buf, "./");
  return exe_dir_buf;
}
const char* add_exe_path(const char* name) { return name; }
int prepare_path_buf(char*, const char*, const char*) { return 0; }
char* find_file(char* name, const char*) {
  std::free(name);
  return nullptr;
}
int check_charset(const char**, const char*) { return 0; }
void list_charsets() {}

}  // namespace dorvex
