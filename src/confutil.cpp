#include "confutil.h"

#include <cstdlib>
#include <cstring>

namespace dorvex {

const char* source_csname = "cp1251";
const char* dest_csname = "cp866";
const char* format_name = "ascii";
char bad_char[2] = "?";

char* strdup(const char* s) {
  std::size_t n = std::strlen(s) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy) std::memcpy(copy, s, n);
  return copy;
}

void read_config_file(const char*) {}

}  // namespace dorvex
