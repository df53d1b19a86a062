// Byte and block stdio without the per-call stream lock. The program has one thread, so the
// lock is pure cost on every byte; the unlocked calls are glibc (and BSD) extensions, so other
// systems get the plain POSIX calls.
#ifndef DORVEX_UNLOCKED_IO_H
#define DORVEX_UNLOCKED_IO_H

#include <cstddef>
#include <cstdio>

#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif

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
// The longest read of at most n bytes from f that takes what stdio holds and then only whole
// buffers, which stdio reads straight into the destination: the rest of a longer request would
// be read into its buffer and copied from there, and so would every read after it.
inline std::size_t io_direct_read_size(std::FILE* f, std::size_t n) {
  const std::size_t held =
      f->_IO_read_ptr < f->_IO_read_end ? static_cast<std::size_t>(f->_IO_read_end - f->_IO_read_ptr) : 0;
  const std::size_t size = __fbufsize(f);
  if (size == 0 || n <= held) return n;
  const std::size_t direct = held + (n - held) / size * size;
  return direct > 0 ? direct : n;
}
#else
#if defined(_WIN32)
// The Microsoft C runtime's names for the byte calls (its block calls without the lock are not
// in every version of it).
inline int io_getc(std::FILE* f) { return _getc_nolock(f); }
inline int io_putc(int c, std::FILE* f) { return _putc_nolock(c, f); }
#else
// getc_unlocked and putc_unlocked are POSIX; the rest are not.
inline int io_getc(std::FILE* f) { return getc_unlocked(f); }
inline int io_putc(int c, std::FILE* f) { return putc_unlocked(c, f); }
#endif
inline int io_feof(std::FILE* f) { return std::feof(f); }
inline int io_ferror(std::FILE* f) { return std::ferror(f); }
inline std::size_t io_fread(void* p, std::size_t size, std::size_t n, std::FILE* f) {
  return std::fread(p, size, n, f);
}
inline std::size_t io_fwrite(const void* p, std::size_t size, std::size_t n, std::FILE* f) {
  return std::fwrite(p, size, n, f);
}
inline std::size_t io_direct_read_size(std::FILE*, std::size_t n) { return n; }
#endif

}  // namespace dorvex

#endif  // DORVEX_UNLOCKED_IO_H
