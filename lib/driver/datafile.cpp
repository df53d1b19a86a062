#include "datafile.h"
#include "context.h"

#include <cerrno>
#include <cstring>

namespace dorvex {

// open_data_file is the system's business: platform_posix.cpp, platform_windows.cpp.

void warn_config_unreadable(const char* path, int error) {
  report("dorvex: %s: %s (configuration file skipped)\n", path, std::strerror(error));
}

}  // namespace dorvex
