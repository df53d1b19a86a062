// Byte and block stdio without the per-call stream lock. The program has one thread, so the
// lock is pure cost on every byte; the unlocked calls are glibc (and BSD) extensions, so other
// systems get the plain POSIX calls.
#ifndef DORVEX_UNLOCKED_IO_H
#define DORVEX_UNLOCKED_IO_H

#include <cstddef>
#include <cstdio>

namespace dorvex {

#if defined(__GLIBC__)
inline int io_getc(std::FILE* f) { return getc_unlocked(f); }
inline int io_putc(int c, std::FILE* f) { return putc_unlocked(c, f); }
inline int io_feof(std::FILE* f) { return feof_unlocked(f); }
inline int io_ferror(std::FILE* f) { return ferror_unlocked(f); }
inline std::size_t io_fread(void* p, std::size_t size, std::size_t n, std::FILE* f) {
  return fread_unlocked(p, size, n, f);
}
inline std::size_t io_fwrite(const void* p, std::size_t size, std::size_t n, std::FILE* f) {
  return fwrite_unlocked(p, size, n, f);
}
#else
// getc_unlocked and putc_unlocked are POSIX; the rest are not.
inline int io_getc(std::FILE* f) { return getc_unlocked(f); }
inline int io_putc(int c, std::FILE* f) { return putc_unlocked(c, f); }
inline int io_feof(std::FILE* f) { return std::feof(f); }
inline int io_ferror(std::FILE* f) { return std::ferror(f); }
inline std::size_t io_fread(void* p, std::size_t size, std::size_t n, std::FILE* f) {
  return std::fread(p, size, n, f);
}
inline std::size_t io_fwrite(const void* p, std::size_t size, std::size_t n, std::FILE* f) {
  return std::fwrite(p, size, n, f);
}
#endif

}  // namespace dorvex

#endif  // DORVEX_UNLOCKED_IO_H
