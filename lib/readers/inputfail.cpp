#include "inputfail.h"
#include "context.h"

#include <cstdio>

namespace dorvex {

void report_input_failure(const char* name, const char* what) {
  report("dorvex: %s: %s\n", name, what);
}

}  // namespace dorvex
