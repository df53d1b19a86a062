// Little-endian integer readers for file-format fields. The caller guarantees that
// off .. off + width - 1 lies inside the buffer.
#ifndef DORVEX_NUMUTILS_H
#define DORVEX_NUMUTILS_H

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

}  // namespace dorvex

#endif  // DORVEX_NUMUTILS_H
