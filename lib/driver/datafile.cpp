#include "datafile.h"
#include "context.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dorvex {

std::FILE* open_data_file(const char* path, std::uint64_t cap, bool* refused) {
  *refused = false;
  // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and is refused below.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > cap) {
    const int error = errno;
    ::close(fd);
    *refused = true;
    errno = error;
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return f;
}

void warn_config_unreadable(const char* path, int error) {
  report("dorvex: %s: %s (configuration file skipped)\n", path, std::strerror(error));
}

}  // namespace dorvex
