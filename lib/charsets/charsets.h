// Charset tables (byte -> Unicode), reverse maps (Unicode -> byte), the output conversion of one
// Unicode value, and the input decoders behind the get_unicode_char hook.
#ifndef DORVEX_CHARSETS_H
#define DORVEX_CHARSETS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ole.h"
#include "unlocked_io.h"
#include "utf8step.h"

namespace dorvex {

// A charset table: 256 Unicode values indexed by byte, allocated with std::malloc.
using CharsetTable = std::uint16_t*;

// Unicode -> byte: rows by high byte, created on demand; an entry is a byte or -1.
struct ReverseMap {
  std::int16_t* rows[256];
};

extern CharsetTable source_charset;  // the source table, for the whole run
extern ReverseMap* target_charset;   // null when the target is "utf-8"
extern int unknown_as_hex;           // -x: write "\xHHHH" instead of bad_char

// Loads name + ".txt" along charset_path. Null after a message on failure.
// The caller owns the table (std::free).
CharsetTable read_charset(const char* name);

// The table of an open charset file (path names it in messages); the caller closes f. Null
// after "Invalid charset file" when a line holds an index or value out of range, or after a
// perror(path) message when reading fails.
CharsetTable parse_charset_file(std::FILE* f, const char* path);

inline int to_unicode(const std::uint16_t* table, int byte) { return table[byte & 0xFF]; }

// Null for a null table. "Insufficient memory for  charset" and exit 1 when memory runs out.
ReverseMap* make_reverse_map(const std::uint16_t* table);

// Releases a map made by make_reverse_map (null is fine). The program keeps its maps for the
// whole run; tests and fuzz targets release theirs.
void free_reverse_map(ReverseMap* map);

// Byte 0..255, or -1 when the charset has no byte for u.
int from_unicode(const ReverseMap* map, int u);

// Charset name of a Windows code page: "" for 1200/1201, "cp%d" up to 9999 (static area,
// valid until the next call), a table lookup above; null when unknown.
const char* charset_from_codepage(unsigned cp);

// The bytes to write for u (0..0xFFFF): spec_chars, target charset or UTF-8, replacements,
// hex form, bad_char. Valid until the next call of convert_char or to_utf8.
const char* convert_char(int u);

inline bool is_surrogate(int u) { return (u & 0xF800) == 0xD800; }
inline bool is_high_surrogate(int u) { return (u & 0xFC00) == 0xD800; }
inline bool is_low_surrogate(int u) { return (u & 0xFC00) == 0xDC00; }

// The bytes to write for the character of a surrogate pair (high, low): its 4-byte UTF-8 form
// for the target "utf-8", else the hex form (-x) or bad_char, once for the pair. Valid until
// the next call of convert_char, convert_pair or to_utf8. A lone surrogate goes to
// convert_char, which writes no encoded surrogate for the target "utf-8" either.
const char* convert_pair(int high, int low);

// UTF-8 encoding of u in a static area (empty for 0).
const char* to_utf8(int u);

// A decoder: reads one character through dorvex_read, adds the bytes consumed to *offset and
// returns 0..0xFFFF, or -1 (offset unchanged) when no character could be read.
using Decoder = int (*)(StreamHandle stream, std::int32_t* offset, std::int32_t end);

extern Decoder get_unicode_char;  // null at start; never reset between inputs

// ---- the decoders' algorithms, over a source of bytes ----
// The hook decoders below read through dorvex_read. Readers that know the hooks are in
// standard mode run the same algorithms on StdioBytes: the same bytes, the same end-of-file
// indicator, without two indirect calls per byte.

// Bytes through the read hook. A count above the request stands for a failed read.
struct HookBytes {
  StreamHandle stream;
  std::size_t read(unsigned char* dest, std::size_t n) const {
    return dorvex_read(dest, 1, n, stream);
  }
  const void* source() const { return stream; }
};

// Bytes straight from a stdio stream, as the standard-mode read hook delivers them.
struct StdioBytes {
  std::FILE* file;
  std::size_t read(unsigned char* dest, std::size_t n) const {
    std::size_t got = 0;
    for (int c; got < n && (c = io_getc(file)) != EOF;) dest[got++] = static_cast<unsigned char>(c);
    return got;
  }
  const void* source() const { return file; }
};

[[noreturn]] void decoder_read_failed(const char* prefix);

// The running offset may pass 2 GiB on a long input; it wraps instead of overflowing.
inline void advance_offset(std::int32_t* offset, unsigned n) {
  *offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(*offset) + n);
}

template <class Bytes>
int decode_8bit(const Bytes& in, std::int32_t* offset) {
  unsigned char b = 0;
  if (in.read(&b, 1) == 0) return -1;
  advance_offset(offset, 1);
  return to_unicode(source_charset, b);
}

template <class Bytes>
int decode_utf16(const Bytes& in, std::int32_t* offset, bool low_first) {
  unsigned char b[2] = {0, 0};
  std::size_t got = in.read(b, 2);
  if (got > 2) decoder_read_failed("read:");
  if (got != 2) return -1;
  advance_offset(offset, 2);
  return low_first ? b[0] | (b[1] << 8) : (b[0] << 8) | b[1];
}

// A four-byte UTF-8 character comes out as two units: the low surrogate waits here for the
// next call on the same stream at the same offset; any other call forgets it. So does a byte
// read past a cut character, which begins the next one (byte).
struct PendingLowSurrogate {
  const void* source = nullptr;
  std::int32_t offset = 0;
  int unit = -1;
  int byte = -1;
};
extern PendingLowSurrogate pending_low_surrogate;

// UTF-8 as Unicode recommends: an ill-formed sequence gives one U+FFFD for its longest valid
// start (also one cut by the end of the input), and the byte that broke it begins the next
// character.
template <class Bytes>
int decode_utf8(const Bytes& in, std::int32_t* offset) {
  PendingLowSurrogate& pending = pending_low_surrogate;
  const bool here = pending.source == in.source() && pending.offset == *offset;
  const int held_unit = here ? pending.unit : -1, held_byte = here ? pending.byte : -1;
  pending.unit = pending.byte = -1;
  if (held_unit >= 0) return held_unit;
  unsigned char b[4] = {0, 0, 0, 0};
  if (held_byte >= 0) {
    b[0] = static_cast<unsigned char>(held_byte);
  } else {
    std::size_t got = in.read(b, 1);
    if (got > 1) decoder_read_failed("read");
    if (got == 0) return -1;
  }
  const unsigned lead = b[0];
  const std::size_t len = utf8_length(lead);
  if (len <= 1) {
    advance_offset(offset, 1);
    return len == 1 ? static_cast<int>(lead) : kReplacementChar;
  }
  for (std::size_t i = 1; i < len; ++i) {
    if (in.read(b + i, 1) != 1) {
      advance_offset(offset, static_cast<unsigned>(i));
      return kReplacementChar;
    }
    if (!utf8_continues(lead, i, b[i])) {
      advance_offset(offset, static_cast<unsigned>(i));
      pending.source = in.source();
      pending.offset = *offset;
      pending.byte = b[i];
      return kReplacementChar;
    }
  }
  std::uint32_t code = lead & (0x7Fu >> len);
  for (std::size_t k = 1; k < len; ++k) code = (code << 6) | (b[k] & 0x3Fu);
  advance_offset(offset, static_cast<unsigned>(len));
  if (code < 0x10000) return static_cast<int>(code);
  pending.source = in.source();
  pending.offset = *offset;
  pending.unit = static_cast<int>(0xDC00 | (code & 0x3FF));
  return static_cast<int>(0xD800 | ((code - 0x10000) >> 10));
}

int get_8bit_char(StreamHandle stream, std::int32_t* offset, std::int32_t end);
int get_utf16lsb(StreamHandle stream, std::int32_t* offset, std::int32_t end);
int get_utf16msb(StreamHandle stream, std::int32_t* offset, std::int32_t end);
int get_utf8(StreamHandle stream, std::int32_t* offset, std::int32_t end);

}  // namespace dorvex

#endif  // DORVEX_CHARSETS_H
