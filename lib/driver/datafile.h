// Data and configuration files opened only when they are what they claim to be: a regular file
// (a symbolic link to one is fine) of a size no real one comes near. A device such as /dev/zero
// or a FIFO would otherwise be read forever, or grow memory without end.
#ifndef DORVEX_DATAFILE_H
#define DORVEX_DATAFILE_H

#include <cstdint>
#include <cstdio>

namespace dorvex {

// Sizes far above any real file of the kind: a charset table is 256 lines (about 10 KiB), the
// shipped maps hold a few hundred lines, a configuration file a few dozen.
constexpr std::uint64_t kMaxCharsetFile = std::uint64_t{1} << 20;
constexpr std::uint64_t kMaxMapFile = std::uint64_t{8} << 20;
constexpr std::uint64_t kMaxConfigFile = std::uint64_t{1} << 20;

// Opens path for reading ("rb") when it is a regular file of at most cap bytes. Null when it
// cannot be opened (errno says why; *refused false) or is refused (*refused true). Opening
// never waits on a FIFO.
std::FILE* open_data_file(const char* path, std::uint64_t cap, bool* refused);

// The warning for a configuration file that is there but cannot be read (permissions): its
// settings are lost, so the run says so, and goes on.
void warn_config_unreadable(const char* path, int error);

}  // namespace dorvex

#endif  // DORVEX_DATAFILE_H
