#include "inputfail.h"

#include <cstdio>

namespace dorvex {

void report_input_failure(const char* name, const char* what) {
  std::fprintf(stderr, "dorvex: %s: %s\n", name, what);
}

}  // namespace dorvex
