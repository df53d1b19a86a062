#include "ole.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "context.h"
#include "numutils.h"
#include "unlocked_io.h"

namespace dorvex {

namespace {

// The decoders read one or two bytes per call; going through fread's locking for each of them
// costs more than the decoding. Small reads take the unlocked byte path, which sets the same
// end-of-file indicator, so callers see plain fread behaviour.
constexpr std::size_t kSmallRead = 16;

[[gnu::noinline]] std::size_t std_read_more(void* dest, std::size_t size, std::size_t count,
                                            std::FILE* f) {
  if (size == 1 && count <= kSmallRead) {
    auto* d = static_cast<unsigned char*>(dest);
    std::size_t bytes = 0;
    while (bytes < count) {
      int c = io_getc(f);
      if (c == EOF) break;
      d[bytes++] = static_cast<unsigned char>(c);
    }
    return bytes;
  }
  return io_fread(dest, size, count, f);
}

// The one-byte read is kept apart from the rest, so that it costs no more than the byte.
std::size_t std_read(void* dest, std::size_t size, std::size_t count, StreamHandle s) {
  auto* f = static_cast<std::FILE*>(s);
  if (size == 1 && count == 1) {
    int c = io_getc(f);
    if (c == EOF) return 0;
    *static_cast<unsigned char*>(dest) = static_cast<unsigned char>(c);
    return 1;
  }
  return std_read_more(dest, size, count, f);
}

int std_seek(StreamHandle s, std::int32_t offset, int origin) {
  return std::fseek(static_cast<std::FILE*>(s), offset, origin);
}

std::int32_t std_tell(StreamHandle s) {
  return static_cast<std::int32_t>(std::ftell(static_cast<std::FILE*>(s)));
}

}  // namespace

int my_feof(StreamHandle s) { return io_feof(static_cast<std::FILE*>(s)); }

void set_std_func() {
  ctx().dorvex_read = std_read;
  ctx().dorvex_seek = std_seek;
  ctx().dorvex_eof = my_feof;
  ctx().dorvex_tell = std_tell;
}

bool hooks_in_standard_mode() { return ctx().dorvex_read == std_read && ctx().dorvex_eof == my_feof; }

bool hooks_in_ole_mode() { return ctx().dorvex_read == ole_read && ctx().dorvex_eof == ole_eof; }

void set_ole_func() {
  ctx().dorvex_read = ole_read;
  ctx().dorvex_seek = ole_seek;
  ctx().dorvex_eof = ole_eof;
  ctx().dorvex_tell = ole_tell;
}

// ---- compound file reader ----

namespace {

constexpr unsigned char ole_sign[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0};

// Header fields (byte offsets from the start of the file).
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHdrSectorShift = 0x1E, kHdrShortShift = 0x20, kHdrBbdCount = 0x2C,
                      kHdrPropStart = 0x30, kHdrSbdStart = 0x3C, kHdrMsatStart = 0x44,
                      kHdrMsatCount = 0x48, kHdrMsat = 0x4C;
constexpr std::size_t kHeaderMsatBytes = kHeaderSize - kHdrMsat;  // 109 entries
static_assert(kHeaderMsatBytes == 109 * 4, "header MSAT entries fill the rest of the header");

// Directory entry fields (byte offsets within a 128-byte entry).
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kEntNameLen = 0x40, kEntType = 0x42, kEntStart = 0x74, kEntSize = 0x78;
// The name field is 64 bytes (32 UTF-16 units); OleStream::name holds 32 characters and a zero.
constexpr std::size_t kNameUnits = 32;
static_assert(sizeof(OleStream{}.name) == kNameUnits + 1, "name holds every unit of the area");

// Streams of this size and above live in ordinary sectors, smaller ones in short sectors.
constexpr std::uint32_t kBigStreamMin = 4096;

// Sector sizes this reader accepts. Real files use 512 and 4096 (short sectors of 64); the
// bounds keep the sector arithmetic in range and the header MSAT inside a sector's reach.
constexpr std::int64_t kMinSectorSize = 128, kMaxSectorSize = 65536, kMinShortSectorSize = 4;

// Initial capacities in sectors (SBD, directory) and block numbers (block lists).
constexpr std::size_t kSbdInitial = 10, kPropInitial = 5, kBlockListInitial = 25;

// Limits that keep memory and disk in proportion to what a container can use, whatever its
// tables claim (a sparse file of 2 GB can say anything in a few sectors):
// - A chain visits no sector twice: a link back into the chain is a loop, and the chain ends.
// - The MSAT is read only until it lists every BBD sector; and of those, only the sectors that
//   describe sectors of the file are loaded (links of sectors past the end are never followed).
//   The remaining MSAT entries are still checked, so a broken table is reported as before.
// - The directory is read only up to the sector holding the first entry of a type that ends the
//   enumeration (an empty entry, type 0): no entry after it is ever handed out.
// - The SBD is read only as far as the root entry's short-sector container reaches: its stated
//   size, plus the one block more that an entry's block list may hold, in short sectors.
// - An input that cannot be positioned is copied to a temporary file in TMPDIR (default /tmp),
//   at most kMaxPipedContainer bytes of it. A container of 512-byte sectors cannot exceed 2 GiB,
//   and this reader's offsets are 32-bit whatever the sector size; a pipe that delivers more is
//   not a compound file it could read. Runs of zero bytes become holes in the copy, so a long
//   run of padding costs no disk.
constexpr std::uint64_t kMaxPipedContainer = std::uint64_t(1) << 31;

// Where sector 0 begins. The header takes 512 bytes, but a file with larger sectors pads it to a
// whole sector, so its sector 0 begins at sectorSize (4096-byte sectors: sector k at
// (k + 1) * 4096).

// Entry counts of the loaded link tables.

// Ordinary blocks the entry chains of this container may still list. The chains of a sound
// file are disjoint, so all of them together hold no more blocks than the file has sectors, and
// each entry is resolved at most twice (root search, then the caller's enumeration). Without
// this, many entries that share one long looped chain would cost time quadratic in the size.

// Sectors the file can hold: the bound for every sector number taken from the file, and for
// the length of every chain (a chain longer than this has looped).
std::int32_t maxSectors() { return ctx().ole.fileLength / ctx().ole.sectorSize; }

long sector_offset(std::int32_t s) { return ctx().ole.firstSectorOffset + long(s) * ctx().ole.sectorSize; }

// The link of entry s of a table, or -1 (end of chain) when s is outside it.
std::int32_t table_link(const unsigned char* table, std::int32_t entries, std::int32_t s) {
  if (!table || s < 0 || s >= entries) return -1;
  return getlong(table, std::size_t(s) * 4);
}

// Reads sector s into dest (sectorSize bytes); what the file does not supply stays zero.
std::size_t read_sector(std::FILE* f, std::int32_t s, unsigned char* dest) {
  std::memset(dest, 0, std::size_t(ctx().ole.sectorSize));
  if (s < 0 || std::fseek(f, sector_offset(s), SEEK_SET) != 0) return 0;
  return std::fread(dest, 1, std::size_t(ctx().ole.sectorSize), f);
}

bool all_zero(const unsigned char* b, std::size_t n) {
  return n == 0 || (b[0] == 0 && std::memcmp(b, b + 1, n - 1) == 0);
}

// Writes the next n bytes of the copy: zero runs are skipped (*hole grows), so that they
// become a hole when the next data or the final length is written. False on a write error.
bool write_copy(std::FILE* tmp, const unsigned char* b, std::size_t n, std::uint64_t* hole) {
  if (all_zero(b, n)) {
    *hole += n;
    return true;
  }
  if (*hole && std::fseek(tmp, long(*hole), SEEK_CUR) != 0) return false;
  *hole = 0;
  return std::fwrite(b, 1, n, tmp) == n;
}

// Copies a non-seekable input (its consumed prefix first) to a temporary file. Null after a
// message on failure, or when the input is longer than any container this reader can use.
std::FILE* copy_to_tmp(std::FILE* input, const unsigned char* prefix, std::size_t prefix_len) {
  std::FILE* tmp = open_temp_file();
  if (!tmp) {
    report_errno("Can't create tmp file");
    return nullptr;
  }
  std::uint64_t total = prefix_len, hole = 0;
  if (prefix_len && std::fwrite(prefix, 1, prefix_len, tmp) < prefix_len) {
    report_errno("Can't write to tmp file");
    std::fclose(tmp);
    return nullptr;
  }
  std::size_t n;
  // A read error ends the copy as the end of the input would.
  while ((n = std::fread(ctx().ole.copy_chunk.data(), 1, ctx().ole.copy_chunk.size(), input)) > 0) {
    total += n;
    if (total > kMaxPipedContainer) {
      report("Input on a pipe is larger than 2 GiB: not a compound file\n");
      std::fclose(tmp);
      return nullptr;
    }
    if (!write_copy(tmp, ctx().ole.copy_chunk.data(), n, &hole)) {
      report_errno("Can't write to tmp file");
      std::fclose(tmp);
      return nullptr;
    }
  }
  // A trailing hole is made by setting the length.
  if (hole && (std::fflush(tmp) != 0 || !set_file_length(tmp, total))) {
    report_errno("Can't write to tmp file");
    std::fclose(tmp);
    return nullptr;
  }
  if (std::fseek(tmp, 0, SEEK_SET) != 0) {
    report_errno("Can't seek in file");
    std::fclose(tmp);
    return nullptr;
  }
  return tmp;
}

// Sets fileLength from the stream's end; false when the stream cannot be measured.
bool measure(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  long end = std::ftell(f);
  if (end < 0 || std::fseek(f, 0, SEEK_SET) != 0) return false;
  // Offsets are held in 32 bits; a larger file is read as far as they reach.
  ctx().ole.fileLength = end > INT32_MAX ? INT32_MAX : std::int32_t(end);
  return true;
}

// Sector sizes from the header; false when they are outside what the reader handles.
bool read_sizes(const unsigned char* header) {
  std::int64_t big = std::int64_t(1) << (getshort(header, kHdrSectorShift) & 31);
  std::int64_t small = std::int64_t(1) << (getshort(header, kHdrShortShift) & 31);
  if (big < kMinSectorSize || big > kMaxSectorSize) return false;
  if (small < kMinShortSectorSize || small > big) return false;
  ctx().ole.sectorSize = std::int32_t(big);
  ctx().ole.shortSectorSize = std::int32_t(small);
  ctx().ole.firstSectorOffset = std::max<long>(kHeaderSize, ctx().ole.sectorSize);
  return true;
}

// Assembles the MSAT (header entries, then the entries of each MSAT sector) into *msat, whose
// size in bytes goes to *msat_bytes, until it lists all bbdNumBlocks BBD sectors. False after
// the message.
bool read_msat(std::FILE* f, const unsigned char* header, unsigned char** msat,
               std::size_t* msat_bytes) {
  const std::size_t per_sector = std::size_t(ctx().ole.sectorSize) - 4;
  std::int32_t next = getlong(header, kHdrMsatStart);
  std::int32_t count = getlong(header, kHdrMsatCount);
  // The buffer grows by doubling: thousands of MSAT sectors one realloc each would copy the table
  // over and over (quadratic where realloc cannot grow in place).
  std::size_t capacity = *msat_bytes;
  // Bounded by the sectors of the file too, so that a looped MSAT chain ends.
  for (std::int32_t i = 0; next >= 0 && i < count && i < maxSectors() &&
                           *msat_bytes / 4 < std::size_t(ctx().ole.bbdNumBlocks);
       ++i) {
    std::size_t at = kHeaderMsatBytes + std::size_t(i) * per_sector;
    if (at + std::size_t(ctx().ole.sectorSize) > capacity) {
      capacity = std::max(at + std::size_t(ctx().ole.sectorSize), 2 * capacity);
      auto* grown = static_cast<unsigned char*>(std::realloc(*msat, capacity));
      if (!grown) {
        report_errno("MSAT realloc error");
        return false;
      }
      *msat = grown;
    }
    if (std::fseek(f, sector_offset(next), SEEK_SET) != 0 ||
        std::fread(*msat + at, 1, std::size_t(ctx().ole.sectorSize), f) < std::size_t(ctx().ole.sectorSize)) {
      report("Error read MSAT!\n");
      return false;
    }
    *msat_bytes = at + per_sector;
    next = getlong(*msat, at + per_sector);
  }
  return true;
}

// BBD sectors worth loading: those that hold the links of sectors 0 to maxSectors(), the highest
// sector number any chain may start at.
std::int32_t bbd_sectors_used() {
  const std::int64_t per_sector = ctx().ole.sectorSize / 4;
  std::int64_t used = (std::int64_t(maxSectors()) + per_sector) / per_sector;
  return std::int32_t(std::min<std::int64_t>(used, ctx().ole.bbdNumBlocks));
}

// Checks every BBD sector the MSAT names and loads those bbd_sectors_used() covers. False
// after the message.
bool read_bbd(std::FILE* f, const unsigned char* msat, std::size_t msat_bytes) {
  const std::int32_t loaded = bbd_sectors_used();
  for (std::int32_t i = 0; i < ctx().ole.bbdNumBlocks; ++i) {
    std::size_t at = std::size_t(i) * 4;
    std::int32_t s = at + 4 <= msat_bytes ? getlong(msat, at) : -1;
    if (s < 0 || s >= maxSectors()) {
      report("Bad BBD entry!\n");
      return false;
    }
    if (i < loaded && read_sector(f, s, ctx().ole.BBD + std::size_t(i) * std::size_t(ctx().ole.sectorSize)) <
                          std::size_t(ctx().ole.sectorSize)) {
      report("Can't read BBD!\n");
      return false;
    }
  }
  return true;
}

// Sectors seen by one chain walk, so that a chain that loops ends at its first repeat.
class SectorSet {
 public:
  bool init(std::int32_t sectors) {
    size_ = sectors > 0 ? std::size_t(sectors) : 0;
    bits_.reset(new (std::nothrow) std::uint8_t[size_ / 8 + 1]());
    return bits_ != nullptr;
  }
  // True when s was seen before; marks it seen.
  bool repeat(std::int32_t s) {
    if (s < 0 || std::size_t(s) >= size_) return false;
    std::uint8_t& byte = bits_[std::size_t(s) / 8];
    const std::uint8_t bit = std::uint8_t(1u << (s % 8));
    const bool seen = byte & bit;
    byte |= bit;
    return seen;
  }

 private:
  std::unique_ptr<std::uint8_t[]> bits_;
  std::size_t size_ = 0;
};

// Loads the chain that starts at sector first, following BBD links, into a new *buf and counts
// its sectors in *len. The chain ends at a link outside the table or the file, at a sector it
// visited before, after max_len sectors (at least one is read), and after a sector for which
// last_sector (if given) says that nothing after it is used. False when memory runs out (after
// grow_msg for a failed grow).
bool load_chain(std::FILE* f, std::int32_t first, std::size_t capacity, std::int32_t max_len,
                bool (*last_sector)(const unsigned char*), const char* grow_msg,
                unsigned char** buf, std::int32_t* len) {
  const std::size_t sector = std::size_t(ctx().ole.sectorSize);
  SectorSet seen;
  if (!seen.init(maxSectors())) return false;
  max_len = std::max(max_len, 1);
  capacity = std::min(capacity, std::size_t(max_len));
  *buf = static_cast<unsigned char*>(std::malloc(capacity * sector));
  if (!*buf) return false;
  std::int32_t cur = first, n = 0;
  seen.repeat(first);
  for (;;) {
    unsigned char* dest = *buf + std::size_t(n) * sector;
    read_sector(f, cur, dest);
    *len = ++n;
    if (n >= max_len || (last_sector && last_sector(dest))) return true;
    if (std::size_t(n) >= capacity) {
      // Grows geometrically: a long chain would otherwise be copied over and over.
      capacity = std::min<std::size_t>(capacity * 2, std::size_t(max_len));
      auto* grown = static_cast<unsigned char*>(std::realloc(*buf, capacity * sector));
      if (!grown) {
        report_errno(grow_msg);
        return false;
      }
      *buf = grown;
    }
    cur = table_link(ctx().ole.BBD, ctx().ole.bbdEntries, cur);
    if (cur < 0 || cur >= maxSectors() || seen.repeat(cur)) return true;
  }
}

// Fails ole_init: releases what it loaded and the temporary copy, if one was made.
std::FILE* fail(std::FILE* stream, std::FILE* input) {
  ole_finish();
  if (stream && stream != input) std::fclose(stream);
  return nullptr;
}

// Loads header, MSAT and BBD. False after any message; the caller releases the state.
bool load_tables(std::FILE* f, const unsigned char* header) {
  std::uint32_t bbd_blocks = getulong(header, kHdrBbdCount);
  // A count the file cannot back names sectors that do not exist, and would size BBD from
  // nothing but the header.
  if (bbd_blocks > std::uint32_t(maxSectors())) {
    report("Bad BBD entry!\n");
    return false;
  }
  ctx().ole.bbdNumBlocks = std::int32_t(bbd_blocks);
  std::size_t bbd_bytes = std::size_t(bbd_sectors_used()) * std::size_t(ctx().ole.sectorSize);
  ctx().ole.BBD = static_cast<unsigned char*>(std::malloc(bbd_bytes ? bbd_bytes : 1));
  if (!ctx().ole.BBD) return false;
  ctx().ole.bbdEntries = std::int32_t(bbd_bytes / 4);
  auto* msat = static_cast<unsigned char*>(std::malloc(kHeaderMsatBytes));
  if (!msat) return false;
  std::memcpy(msat, header + kHdrMsat, kHeaderMsatBytes);
  std::size_t msat_bytes = kHeaderMsatBytes;
  bool ok = read_msat(f, header, &msat, &msat_bytes) && read_bbd(f, msat, msat_bytes);
  std::free(msat);
  return ok;
}

// True when the sector of directory entries holds one that ends the enumeration.
bool ends_directory(const unsigned char* sector) {
  for (std::size_t at = 0; at < std::size_t(ctx().ole.sectorSize); at += kEntrySize)
    if (!rightOleType(sector + at)) return true;
  return false;
}

bool load_directory(std::FILE* f, const unsigned char* header) {
  ctx().ole.propLen = 0;
  ctx().ole.propStart = getlong(header, kHdrPropStart);
  if (ctx().ole.propStart < 0) return false;
  if (!load_chain(f, ctx().ole.propStart, kPropInitial, maxSectors(), ends_directory,
                  "Properties realloc error", &ctx().ole.properties, &ctx().ole.propLen))
    return false;
  ctx().ole.propNumber = std::int32_t(std::int64_t(ctx().ole.propLen) * ctx().ole.sectorSize / std::int64_t(kEntrySize));
  ctx().ole.chainBudget = 2 * (std::int64_t(maxSectors()) + ctx().ole.propNumber) + 64;
  return true;
}

bool in_big_blocks(std::uint32_t size, const char* name) {
  return size >= kBigStreamMin || std::strcmp(name, "Root Entry") == 0;
}

// The name of an entry: the low byte of each UTF-16 unit, at most the 32 units of the name area.
void copy_name(const unsigned char* e, char* name) {
  std::size_t n = std::min<std::size_t>(std::size_t(getshort(e, kEntNameLen)) / 2, kNameUnits);
  for (std::size_t i = 0; i < n; ++i) name[i] = static_cast<char>(e[2 * i]);
  name[n] = '\0';
}

// SBD sectors that can matter: those holding the links of the short sectors inside the root
// entry's container. The root's block list holds at most one block more than its stated size
// needs, and no more than the file's sectors; the enumeration finds the root as below.
std::int32_t sbd_sectors_used() {
  for (std::int32_t i = 0; i < ctx().ole.propNumber; ++i) {
    const unsigned char* e = ctx().ole.properties + std::size_t(i) * kEntrySize;
    if (!rightOleType(e)) break;
    if (getOleType(e) != 5) continue;
    char name[kNameUnits + 1];
    copy_name(e, name);
    const std::uint32_t size = getulong(e, kEntSize);
    const std::int64_t block = in_big_blocks(size, name) ? ctx().ole.sectorSize : ctx().ole.shortSectorSize;
    const std::int64_t blocks = std::min<std::int64_t>(size / block, maxSectors()) + 1;
    const std::int64_t short_sectors = blocks * (ctx().ole.sectorSize / ctx().ole.shortSectorSize);
    return std::int32_t((short_sectors * 4 + ctx().ole.sectorSize - 1) / ctx().ole.sectorSize);
  }
  return 0;
}

bool load_sbd(std::FILE* f, const unsigned char* header) {
  ctx().ole.sbdLen = 0;
  ctx().ole.sbdEntries = 0;
  ctx().ole.sbdStart = getlong(header, kHdrSbdStart);
  if (ctx().ole.sbdStart <= 0) return true;
  if (!load_chain(f, ctx().ole.sbdStart, kSbdInitial, sbd_sectors_used(), nullptr, "SBD realloc error",
                  &ctx().ole.SBD, &ctx().ole.sbdLen))
    return false;
  ctx().ole.sbdNumber = std::int32_t(std::int64_t(ctx().ole.sbdLen) * ctx().ole.sectorSize / ctx().ole.shortSectorSize);
  ctx().ole.sbdEntries = std::int32_t(std::int64_t(ctx().ole.sbdLen) * ctx().ole.sectorSize / 4);
  return true;
}

void find_root(std::FILE* f) {
  ctx().ole.propCurNumber = 0;
  while (OleStream* e = ole_readdir(f)) {
    if (e->entryType == 5) {
      ctx().ole.rootEntry = e;
      break;
    }
    ole_close(e);
  }
  ctx().ole.propCurNumber = 0;
}

std::int32_t block_size(const OleStream* s) { return s->inBigBlocks ? ctx().ole.sectorSize : ctx().ole.shortSectorSize; }

// Resolves the entry's chain into blockList. False when memory runs out (record released).
bool build_block_list(OleStream* s) {
  const std::int32_t b = block_size(s);
  const std::uint32_t needed = s->size / std::uint32_t(b);
  // Data in ordinary sectors cannot lie beyond the file; short sectors are bounded by the size.
  OleState& ole = ctx().ole;
  const std::int32_t limit = s->inBigBlocks ? maxSectors() : ole.fileLength / b;
  // The chain is walked with its table and budget in locals: the stores into the list would
  // make the compiler load them again at every link.
  const unsigned char* const table = s->inBigBlocks ? ole.BBD : ole.SBD;
  const std::int32_t entries = s->inBigBlocks ? ole.bbdEntries : ole.sbdEntries;
  std::int32_t budget = ole.chainBudget;
  std::size_t capacity = kBlockListInitial;
  s->blockList = static_cast<std::int32_t*>(std::malloc(capacity * sizeof(std::int32_t)));
  if (!s->blockList) {
    std::free(s);
    return false;
  }
  std::int32_t cur = s->firstBlock;
  for (;;) {
    s->blockList[s->blockCount++] = cur;
    if (s->inBigBlocks && --budget <= 0) break;
    if (std::size_t(s->blockCount) >= capacity) {
      capacity *= 2;
      auto* grown = static_cast<std::int32_t*>(
          std::realloc(s->blockList, capacity * sizeof(std::int32_t)));
      if (!grown) {
        ole.chainBudget = budget;
        report_errno("Properties realloc error");
        std::free(s->blockList);
        std::free(s);
        return false;
      }
      s->blockList = grown;
    }
    if (!table) break;
    const std::int32_t next = table_link(table, entries, cur);
    // A link of 0 ends an entry's chain: no stream continues into sector 0. The bound on the
    // count ends a looped chain: a chain without loops visits each sector of the file once.
    if (next <= 0 || next >= limit || std::uint32_t(s->blockCount) > needed ||
        s->blockCount > limit)
      break;
    cur = next;
  }
  ole.chainBudget = budget;
  return true;
}

}  // namespace

std::FILE* ole_init(std::FILE* input, const unsigned char* prefix, std::size_t prefix_len) {
  ole_finish();
  std::FILE* f = input;
  if (const Rewind r = rewind_input(input); r != Rewind::done) {
    if (r == Rewind::failed) {
      report_errno("Can't seek in file");
      return nullptr;
    }
    f = copy_to_tmp(input, prefix, prefix_len);
    if (!f) return nullptr;
  }
  if (!measure(f)) {
    report_errno("Can't seek in file");
    return fail(f, input);
  }
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, kHeaderSize, f) < kHeaderSize ||
      std::memcmp(header, ole_sign, 8) != 0 || !read_sizes(header))
    return fail(f, input);
  // The directory comes before the SBD, whose useful length depends on the root entry.
  if (!load_tables(f, header) || !load_directory(f, header) || !load_sbd(f, header))
    return fail(f, input);
  find_root(f);
  if (!ctx().ole.rootEntry) {
    report("Broken OLE structure. Cannot find root entry in this file!\n");
    return fail(f, input);
  }
  if (std::fseek(f, 0, SEEK_SET) != 0) return fail(f, input);
  return f;
}

std::FILE* ole_copy_input(std::FILE* input, const unsigned char* prefix, std::size_t prefix_len) {
  return copy_to_tmp(input, prefix, prefix_len);
}

OleStream* ole_readdir(std::FILE* stream) {
  if (!ctx().ole.properties || !stream || ctx().ole.propCurNumber < 0 || ctx().ole.propCurNumber >= ctx().ole.propNumber) return nullptr;
  const unsigned char* e = ctx().ole.properties + std::size_t(ctx().ole.propCurNumber) * kEntrySize;
  if (!rightOleType(e)) return nullptr;
  auto* s = static_cast<OleStream*>(std::calloc(1, sizeof(OleStream)));
  if (!s) {
    report_errno("Can't allocate memory");
    return nullptr;
  }
  s->file = stream;
  s->entryType = getOleType(e);
  s->firstBlock = getlong(e, kEntStart);
  s->blockList = nullptr;
  copy_name(e, s->name);
  ++ctx().ole.propCurNumber;
  s->size = getulong(e, kEntSize);
  s->statedSize = s->size;
  s->blockCount = 0;
  s->inBigBlocks = in_big_blocks(s->size, s->name);
  const std::int32_t b = block_size(s);
  if (s->firstBlock >= 0 && s->firstBlock <= ctx().ole.fileLength / b && !build_block_list(s))
    return nullptr;
  std::uint64_t covered = std::uint64_t(s->blockCount) * std::uint64_t(b);
  if (s->size > covered) {
    s->size = std::uint32_t(covered);
    s->cut = s->entryType == 2;  // a stream whose chain cannot hold what it says it holds
  }
  return s;
}

int ole_close(OleStream* s) {
  if (!s) return -1;
  std::free(s->blockList);
  std::free(s);
  return 0;
}

void ole_finish() {
  std::free(ctx().ole.BBD);
  std::free(ctx().ole.SBD);
  std::free(ctx().ole.properties);
  ole_close(ctx().ole.rootEntry);
  ctx().ole.BBD = ctx().ole.SBD = ctx().ole.properties = nullptr;
  ctx().ole.rootEntry = nullptr;
  ctx().ole.bbdEntries = ctx().ole.sbdEntries = 0;
  ctx().ole.propNumber = ctx().ole.propLen = ctx().ole.sbdLen = 0;
}

int rightOleType(const unsigned char* e) {
  int t = getOleType(e);
  return t == 1 || t == 2 || t == 3 || t == 5;
}

int getOleType(const unsigned char* e) { return e[kEntType]; }

// ---- stream access ----

long calcFileBlockOffset(const OleStream* s, std::int32_t i) {
  // Called for every block read: the container's state is taken once.
  const OleState& ole = ctx().ole;
  if (!s || !s->blockList || i < 0 || i >= s->blockCount || ole.sectorSize <= 0) return -1;
  std::int32_t blk = s->blockList[i];
  if (blk < 0) return -1;
  long off;
  if (s->inBigBlocks) {
    off = ole.firstSectorOffset + long(blk) * ole.sectorSize;
  } else {
    const std::int32_t k = ole.sectorSize / ole.shortSectorSize;
    if (!ole.rootEntry || !ole.rootEntry->blockList || blk / k >= ole.rootEntry->blockCount) return -1;
    std::int32_t sector = ole.rootEntry->blockList[blk / k];
    if (sector < 0) return -1;
    off = ole.firstSectorOffset + long(sector) * ole.sectorSize + long(blk % k) * ole.shortSectorSize;
  }
  return off < ole.fileLength ? off : -1;
}

int ole_open(OleStream* s) {
  if (s->entryType != 2) return -2;
  s->readPos = 0;
  s->nextPos = -1;
  long pos = std::ftell(s->file);
  s->filePos = pos >= 0 && pos <= INT32_MAX ? std::int32_t(pos) : -1;
  return 0;
}

namespace {

// The record that read from its file last: only its read-ahead bookkeeping is valid.

// The decoders read one or two bytes per call. A read that continues inside the block of the
// previous one needs no block arithmetic and no positioning: the bytes follow in the file.

bool continues_in_block(const OleStream* s, std::uint32_t pos, std::size_t n) {
  return n <= kSmallRead && ctx().ole.file_reader == s && s->nextPos >= 0 &&
         pos == std::uint32_t(s->nextPos) && pos + n <= s->blockEnd;
}

std::size_t read_small(OleStream* s, unsigned char* d, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    int c = io_getc(s->file);
    if (c == EOF) break;
    d[got++] = static_cast<unsigned char>(c);
  }
  s->readPos += std::int32_t(got);
  s->filePos += std::int32_t(got);
  s->nextPos = s->readPos;
  // The container ends inside this block: the stream ends where reading stopped.
  if (got < n) {
    s->size = std::uint32_t(s->readPos);
    s->cut = true;
  }
  return got;
}

// A stream's blocks usually follow each other in the file: reading them as one span takes one
// call instead of one per block.
std::size_t contiguous_bytes(const OleStream* s, std::int32_t blk, long target, std::uint32_t b,
                             std::size_t first, std::size_t want) {
  std::size_t span = first;
  for (long next = target + long(b); span < want && next == calcFileBlockOffset(s, ++blk);
       next += long(b)) {
    span += std::min<std::size_t>(b, want - span);
  }
  return span;
}

// Large reads go straight from the file into the destination, past the stdio buffer, which
// would copy every byte once more. The stdio position is left alone (the caller forgets it).
// Returns false when the descriptor cannot be read so (a memory stream, a failed read): stdio
// then reads the bytes, and records a failure where the driver looks for it. got: the bytes
// read, fewer than n where the file ends.
constexpr std::size_t kDirectReadMin = 8192;

bool read_direct(std::FILE* f, long offset, unsigned char* dest, std::size_t n, std::size_t* got) {
  return offset >= 0 && read_at(f, std::uint64_t(offset), dest, n, got);
}

}  // namespace

std::size_t ole_read(void* dest, std::size_t size, std::size_t count, StreamHandle h) {
  auto* s = static_cast<OleStream*>(h);
  const std::uint32_t pos = std::uint32_t(s->readPos);
  if (pos >= s->size) return 0;
  std::size_t n;
  if (__builtin_mul_overflow(size, count, &n) || n > s->size - pos) n = s->size - pos;
  if (continues_in_block(s, pos, n)) return read_small(s, static_cast<unsigned char*>(dest), n);
  const std::uint32_t b = std::uint32_t(block_size(s));
  std::int32_t blk = std::int32_t(pos / b);
  std::uint32_t off = pos % b;
  if (n == 0) return 0;
  if (blk >= s->blockCount) {  // the chain ends short of the stream's size
    s->size = pos;
    s->cut = true;
    return 0;
  }
  auto* d = static_cast<unsigned char*>(dest);
  std::size_t got = 0;
  bool ended = false;
  bool direct = false;  // the last bytes came past stdio, which stands elsewhere
  while (got < n) {
    long target = calcFileBlockOffset(s, blk);
    if (target < 0) {
      ended = true;
      break;
    }
    target += off;
    std::size_t want = std::min<std::size_t>(b - off, n - got);
    std::size_t r = 0;
    const std::size_t span = contiguous_bytes(s, blk, target - off, b, want, n - got);
    if (span >= kDirectReadMin && read_direct(s->file, target, d + got, span, &r)) {
      s->filePos = -1;  // stdio's position is where it was: position it before the next fread
      direct = true;
      // The span ends at a block boundary, or with the bytes wanted.
      blk += std::int32_t((off + r) / b) - 1;
      want = span;
    } else {
      if (s->filePos != target) {
        if (std::fseek(s->file, target, SEEK_SET) != 0) {
          ended = true;
          break;
        }
        s->filePos = std::int32_t(target);
      }
      r = std::fread(d + got, 1, want, s->file);
      s->filePos += std::int32_t(r);
      direct = false;
    }
    got += r;
    // The container ends inside this block: nothing after it can be read in order.
    if (r < want) {
      ended = true;
      break;
    }
    ++blk;
    off = 0;
  }
  s->readPos += std::int32_t(got);
  // A stream whose data cannot be reached ends where reading stopped, so that the end-of-file
  // hook reports it and no reader waits for bytes that will never come.
  if (ended) {
    s->size = std::uint32_t(s->readPos);
    s->cut = true;
  }
  ctx().ole.file_reader = s;
  s->nextPos = ended || direct ? -1 : s->readPos;
  const std::uint32_t read_to = std::uint32_t(s->readPos);
  s->blockEnd = std::min<std::uint64_t>((std::uint64_t(read_to) + b - 1) / b * b, s->size);
  return got;
}

int ole_seek(StreamHandle h, std::int32_t offset, int origin) {
  auto* s = static_cast<OleStream*>(h);
  s->nextPos = -1;
  std::int64_t target;
  switch (origin) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = std::int64_t(s->readPos) + offset; break;
    case SEEK_END: target = std::int64_t(s->size) + offset; break;
    default: errno = EINVAL; return -1;
  }
  if (target < 0) target = 0;
  if (target >= std::int64_t(s->size)) target = s->size;
  const std::int32_t b = block_size(s);
  std::int32_t blk = std::int32_t(target / b);
  if (blk < s->blockCount) {
    long at = calcFileBlockOffset(s, blk);
    if (at < 0 || std::fseek(s->file, at + long(target % b), SEEK_SET) != 0) {
      // The block cannot be reached: the stream ends where it begins.
      s->size = std::uint32_t(std::int64_t(blk) * b);
      s->readPos = std::int32_t(std::min<std::int64_t>(target, s->size));
      s->filePos = -1;
      return 0;
    }
    s->filePos = std::int32_t(at + long(target % b));
  }
  s->readPos = std::int32_t(target);
  return 0;
}

std::int32_t ole_tell(StreamHandle s) { return static_cast<OleStream*>(s)->readPos; }

int ole_eof(StreamHandle s) {
  auto* o = static_cast<OleStream*>(s);
  return std::uint32_t(o->readPos) >= o->size;
}

}  // namespace dorvex
