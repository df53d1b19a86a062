#include "ole.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace dorvex {

ReadHook dorvex_read = nullptr;
SeekHook dorvex_seek = nullptr;
EofHook dorvex_eof = nullptr;
TellHook dorvex_tell = nullptr;

namespace {

// The decoders read one or two bytes per call; going through fread's locking for each of them
// costs more than the decoding. Small reads take the unlocked byte path, which sets the same
// end-of-file indicator, so callers see plain fread behaviour.
constexpr std::size_t kSmallRead = 16;

std::size_t std_read(void* dest, std::size_t size, std::size_t count, StreamHandle s) {
  auto* f = static_cast<std::FILE*>(s);
  std::size_t bytes = 0;
  if (size == 1 && count <= kSmallRead) {
    auto* d = static_cast<unsigned char*>(dest);
    while (bytes < count) {
      int c = getc_unlocked(f);
      if (c == EOF) break;
      d[bytes++] = static_cast<unsigned char>(c);
    }
    return bytes;
  }
  return fread_unlocked(dest, size, count, f);
}

int std_seek(StreamHandle s, std::int32_t offset, int origin) {
  return std::fseek(static_cast<std::FILE*>(s), offset, origin);
}

std::int32_t std_tell(StreamHandle s) {
  return static_cast<std::int32_t>(std::ftell(static_cast<std::FILE*>(s)));
}

}  // namespace

int my_feof(StreamHandle s) { return feof_unlocked(static_cast<std::FILE*>(s)); }

void set_std_func() {
  dorvex_read = std_read;
  dorvex_seek = std_seek;
  dorvex_eof = my_feof;
  dorvex_tell = std_tell;
}

void set_ole_func() {
  dorvex_read = ole_read;
  dorvex_seek = ole_seek;
  dorvex_eof = ole_eof;
  dorvex_tell = ole_tell;
}

// ---- compound file reader (to be written) ----

std::int32_t fileLength = 0;
std::int32_t sectorSize = 0;
std::int32_t shortSectorSize = 0;
std::int32_t bbdNumBlocks = 0;
std::int32_t propNumber = 0;
std::int32_t propCurNumber = 0;
OleStream* rootEntry = nullptr;

std::FILE* ole_init(std::FILE*, const unsigned char*, std::size_t) { return nullptr; }
OleStream* ole_readdir(std::FILE*) { return nullptr; }
int ole_open(OleStream*) { return -2; }
int ole_close(OleStream* s) {
  if (!s) return -1;
  std::free(s->blockList);
  std::free(s);
  return 0;
}
void ole_finish() {}
int rightOleType(const unsigned char* e) {
  int t = getOleType(e);
  return t == 1 || t == 2 || t == 3 || t == 5;
}
int getOleType(const unsigned char* e) { return e[0x42]; }
std::size_t ole_read(void*, std::size_t, std::size_t, StreamHandle) { return 0; }
int ole_seek(StreamHandle, std::int32_t, int) { return -1; }
std::int32_t ole_tell(StreamHandle s) { return static_cast<OleStream*>(s)->readPos; }
int ole_eof(StreamHandle s) {
  auto* o = static_cast<OleStream*>(s);
  return std::uint32_t(o->readPos) >= o->size;
}
long calcFileBlockOffset(const OleStream*, std::int32_t) { return -1; }

}  // namespace dorvex
