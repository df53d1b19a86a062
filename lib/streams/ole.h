// The stream hooks, the OLE2 compound file reader and access to one of its streams as a file.
#ifndef DORVEX_OLE_H
#define DORVEX_OLE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace dorvex {

// A std::FILE* in standard mode, an OleStream* in OLE mode. Readers only pass it on.
using StreamHandle = void*;

using ReadHook = std::size_t (*)(void* dest, std::size_t size, std::size_t count, StreamHandle s);
using SeekHook = int (*)(StreamHandle s, std::int32_t offset, int origin);
using EofHook = int (*)(StreamHandle s);
using TellHook = std::int32_t (*)(StreamHandle s);

// The hooks in force are the extraction's dorvex_read, dorvex_seek, dorvex_eof and dorvex_tell
// (context.h): null until the first switch. Read returns items in standard mode and bytes in OLE
// mode (every caller whose result matters passes size 1). Eof: standard mode reports the end
// only after a read hit it; OLE mode as soon as the position reaches the stream's length.

void set_std_func();
void set_ole_func();

// True while the hooks are those set_std_func installs (readers may then use stdio directly).
bool hooks_in_standard_mode();
// True while the hooks are those set_ole_func installs.
bool hooks_in_ole_mode();

// The stdio end-of-file indicator of a std::FILE*.
int my_feof(StreamHandle s);

// One directory entry of the loaded compound file.
struct OleStream {
  std::FILE* file;
  char name[33];
  std::int32_t firstBlock;
  std::uint32_t size;
  std::int32_t readPos;
  std::int32_t filePos;
  int entryType;
  std::int32_t blockCount;
  std::int32_t* blockList;  // owned; sector numbers, or short-sector numbers
  int inBigBlocks;
  // Read-ahead bookkeeping of ole_read: while readPos equals nextPos, file stands at the byte
  // for it, and reads up to blockEnd need no positioning. nextPos is -1 when unknown.
  std::int32_t nextPos;
  std::uint32_t blockEnd;
  // Set when the container cannot deliver the stream's bytes: its chain is shorter than its size
  // (a first sector beyond the file, a bad link), or a read found the file shorter than the chain
  // (a file that shrank while read). The stream then ends where its bytes end.
  bool cut;
  std::uint32_t statedSize;  // the size the directory entry states, before any cut
};

constexpr std::size_t kOleCopyChunk = 65536;

// Container state of one extraction, valid between ole_init and ole_finish (tests look at it).
struct OleState {
  std::int32_t fileLength = 0;
  std::int32_t sectorSize = 0;
  std::int32_t shortSectorSize = 0;
  std::int32_t bbdNumBlocks = 0;
  std::int32_t sbdStart = 0;
  std::int32_t sbdLen = 0;     // SBD sectors loaded
  std::int32_t sbdNumber = 0;  // short sectors the SBD describes; meaningful while SBD is set
  std::int32_t propStart = 0;
  std::int32_t propLen = 0;    // directory sectors loaded
  std::int32_t propNumber = 0;
  std::int32_t propCurNumber = 0;
  OleStream* rootEntry = nullptr;
  unsigned char* BBD = nullptr;         // sector link table, bbdNumBlocks sectors
  unsigned char* SBD = nullptr;         // short-sector link table, sbdLen sectors, or null
  unsigned char* properties = nullptr;  // the directory, propLen sectors
  // Where sector 0 begins. The header takes 512 bytes, but a file with larger sectors pads it
  // to a whole sector, so its sector 0 begins at sectorSize (4096-byte sectors: sector k at
  // (k + 1) * 4096).
  long firstSectorOffset = 512;
  // Entry counts of the loaded link tables.
  std::int32_t bbdEntries = 0;
  std::int32_t sbdEntries = 0;
  // Ordinary blocks the entry chains of this container may still list (see ole.cpp).
  std::int64_t chainBudget = 0;
  // The record that read from its file last: only its read-ahead bookkeeping is valid.
  const OleStream* file_reader = nullptr;
  // The copy of a piped input, in chunks.
  std::array<unsigned char, kOleCopyChunk> copy_chunk;
};

// Opens the compound file on input. prefix/prefix_len: bytes already consumed, used only when
// input cannot be positioned (then a temporary copy is made and returned). Returns the stream
// the container is read from, positioned at 0, or null (broken container, after any message).
std::FILE* ole_init(std::FILE* input, const unsigned char* prefix, std::size_t prefix_len);

// The temporary copy ole_init makes of an input that cannot be positioned (prefix first, at
// most 2 GiB, in TMPDIR), positioned at 0, for other readers of containers whose directory
// lies at the end; null after a message.
std::FILE* ole_copy_input(std::FILE* input, const unsigned char* prefix, std::size_t prefix_len);

// The next directory entry, newly allocated, or null after the last. Release with ole_close.
OleStream* ole_readdir(std::FILE* stream);

// 0 and makes the entry readable when it is a stream (type 2); -2 otherwise.
int ole_open(OleStream* s);

// Releases the record and its block list; -1 for null, else 0.
int ole_close(OleStream* s);

// Releases everything ole_init loaded; safe when nothing is loaded.
void ole_finish();

int rightOleType(const unsigned char* entry);
int getOleType(const unsigned char* entry);

std::size_t ole_read(void* dest, std::size_t size, std::size_t count, StreamHandle s);
int ole_seek(StreamHandle s, std::int32_t offset, int origin);
std::int32_t ole_tell(StreamHandle s);
int ole_eof(StreamHandle s);

// File offset of block blockList[i]; -1 when the block lies outside the container.
long calcFileBlockOffset(const OleStream* s, std::int32_t i);

}  // namespace dorvex

#endif  // DORVEX_OLE_H
