// Little-endian integer readers for file-format fields. The caller guarantees that
// off .. off + width - 1 lies inside the buffer.
#ifndef DORVEX_NUMUTILS_H
#define DORVEX_NUMUTILS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvex {

inline int getshort(const unsigned char* b, std::size_t off) {
  return b[off] | (b[off + 1] << 8);
}
inline std::uint32_t getulong(const unsigned char* b, std::size_t off) {
  return std::uint32_t(b[off]) | std::uint32_t(b[off + 1]) << 8 | std::uint32_t(b[off + 2]) << 16 |
         std::uint32_t(b[off + 3]) << 24;
}
// Wraps to negative values, as C++20 defines the conversion.
inline std::int32_t getlong(const unsigned char* b, std::size_t off) {
  return std::int32_t(getulong(b, off));
}

// Every byte's value as a digit up to base 16, or 16 when it is none: one load per digit for
// the number scanners of the data files, read on every start.
inline constexpr std::array<unsigned char, 256> kDigitValue = [] {
  std::array<unsigned char, 256> value{};
  for (int c = 0; c < 256; ++c) {
    if (c >= '0' && c <= '9') value[c] = static_cast<unsigned char>(c - '0');
    else if (c >= 'a' && c <= 'f') value[c] = static_cast<unsigned char>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') value[c] = static_cast<unsigned char>(c - 'A' + 10);
    else value[c] = 16;
  }
  return value;
}();

}  // namespace dorvex

#endif  // DORVEX_NUMUTILS_H
