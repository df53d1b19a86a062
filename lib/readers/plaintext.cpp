#include "plaintext.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "charsets.h"
#include "reader.h"
#include "rtfread.h"
#include "unlocked_io.h"
#include "utf8step.h"
#include "writer.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace dorvex {

int utf8_detection = 1;

namespace {

// The paragraph buffer, borrowed as bytes: no paragraph is built while plain text is copied.
unsigned char* byte_block() { return reinterpret_cast<unsigned char*>(buffer.data()); }
constexpr std::size_t kByteBlockSize = kParagraphUnits * sizeof(std::uint16_t);

// Reads into [dest, dest + n); 0 at the end of the input or on a failed read.
std::size_t read_bytes(std::FILE* stream, unsigned char* dest, std::size_t n) {
  if (hooks_in_standard_mode()) n = io_direct_read_size(stream, n);
  std::size_t got = dorvex_read(dest, 1, n, stream);
  return got <= n ? got : 0;
}

// Reads on into the block, which holds have bytes, until it holds at least want or the input
// ends; returns what it holds.
std::size_t read_block_until(std::FILE* stream, std::size_t have, std::size_t want) {
  for (std::size_t got; have < want && (got = read_bytes(stream, byte_block() + have, kByteBlockSize - have)) > 0;) {
    have += got;
  }
  return have;
}

// ---- 8-bit text ----

// The output bytes of every source byte, filled once per input. Most text of an 8-bit target
// has only bytes that become one byte each, and is translated through one_byte. A byte that
// becomes more or less has the entry stop there: a value that no byte becomes on its own,
// which is free because such a byte leaves at most 255 to be made. For those, when no
// conversion is longer than seven bytes (the rule: one byte, a short replacement, "?"), each is
// packed with its length in the top byte and the copy stores eight bytes per source byte
// without a branch; otherwise it copies each from the list of all of them.
constexpr std::size_t kPackedBytes = 7;
struct ByteConversion {
  std::array<unsigned char, 256> one_byte;
  int stop;  // -1 when every byte becomes one byte
  // one_byte for two bytes at once, indexed and filled in memory order, for a whole input
  // (too costly to fill for a small one).
  bool has_pairs;
  std::array<std::uint16_t, 65536> pairs;
  // Text with many bytes that are not one for one (all letters, for a UTF-8 target) would make
  // every block translated twice: after a block that stops in its first half, that many blocks
  // skip the attempt, twice as many after each such block in a row.
  std::size_t blocks_to_skip;
  std::size_t skip_after_miss;
  // Every printable ASCII byte becomes itself: the packed copy takes sixteen of them at once.
  bool ascii_is_identity;
  // The rows of 16 entries of one_byte that do not map every byte to itself.
  std::size_t changed_rows;
  std::array<std::uint8_t, 16> changed_row;
  bool packed;
  std::array<std::uint64_t, 256> entry;
  std::array<std::uint16_t, 256> offset;
  std::array<std::uint16_t, 256> length;
  std::array<char, 256 * 257> bytes;
};
ByteConversion conversion;

void fill_one_byte_table() {
  bool made[256] = {};
  bool all_one = true;
  for (std::size_t b = 0; b < 256; ++b) {
    if (conversion.length[b] == 1) {
      made[static_cast<unsigned char>(conversion.bytes[conversion.offset[b]])] = true;
    } else {
      all_one = false;
    }
  }
  conversion.stop = -1;
  if (!all_one) conversion.stop = static_cast<int>(std::find(made, made + 256, false) - made);
  for (std::size_t b = 0; b < 256; ++b) {
    conversion.one_byte[b] = conversion.length[b] == 1
                                 ? static_cast<unsigned char>(conversion.bytes[conversion.offset[b]])
                                 : static_cast<unsigned char>(conversion.stop);
  }
}

void fill_pair_table() {
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      const unsigned char in[2] = {static_cast<unsigned char>(first), static_cast<unsigned char>(second)};
      const unsigned char out[2] = {conversion.one_byte[first], conversion.one_byte[second]};
      std::uint16_t index = 0;
      std::memcpy(&index, in, 2);
      std::memcpy(&conversion.pairs[index], out, 2);
    }
  }
}

// Fills the entries of the bytes marked in wanted (all when null). A byte left out converts to
// nothing, so a table built for some bytes serves only text made of them.
void build_byte_conversion(const bool* wanted) {
  std::size_t used = 0;
  conversion.packed = true;
  for (std::size_t b = 0; b < 256; ++b) {
    const char* s = wanted && !wanted[b] ? "" : convert_char(to_unicode(source_charset, static_cast<int>(b)));
    std::size_t n = std::strlen(s);
    std::memcpy(conversion.bytes.data() + used, s, n);
    conversion.offset[b] = static_cast<std::uint16_t>(used);
    conversion.length[b] = static_cast<std::uint16_t>(n);
    used += n;
    if (n > kPackedBytes) conversion.packed = false;
    std::uint64_t e = std::uint64_t(n) << 56;
    for (std::size_t i = 0; i < n && i < kPackedBytes; ++i) e |= std::uint64_t(static_cast<unsigned char>(s[i])) << (8 * i);
    conversion.entry[b] = e;
  }
  fill_one_byte_table();
  conversion.ascii_is_identity = true;
  for (std::size_t b = 0x20; b < 0x7F; ++b) {
    if (conversion.length[b] != 1 || conversion.bytes[conversion.offset[b]] != static_cast<char>(b)) {
      conversion.ascii_is_identity = false;
    }
  }
  conversion.changed_rows = 0;
  for (std::size_t r = 0; r < 16; ++r) {
    bool same = true;
    for (std::size_t b = 16 * r; b < 16 * r + 16; ++b) same = same && conversion.one_byte[b] == b;
    if (!same) conversion.changed_row[conversion.changed_rows++] = static_cast<std::uint8_t>(r);
  }
  conversion.blocks_to_skip = 0;
  conversion.skip_after_miss = 0;
  conversion.has_pairs = !wanted;
  if (conversion.has_pairs) fill_pair_table();
}

constexpr std::size_t kOutBlock = 65536;

bool is_printable_ascii(unsigned char b) { return b >= 0x20 && b < 0x7F; }

// Converts up to kOutBlock / kPackedBytes bytes through the packed entries (dst has eight bytes
// of room behind them); returns the bytes written.
std::size_t convert_packed(const unsigned char* src, std::size_t n, char* dst) {
  char* start = dst;
  for (std::size_t i = 0; i < n;) {
#if defined(__SSE2__)
    if (conversion.ascii_is_identity && i + 16 <= n) {
      // Sixteen printable ASCII bytes go as they are: shifted down by 0x20 and flipped in the
      // top bit, they are the signed bytes below -128 + 0x5F.
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      const __m128i shifted = _mm_xor_si128(_mm_sub_epi8(v, _mm_set1_epi8(0x20)),
                                            _mm_set1_epi8(static_cast<char>(0x80)));
      const __m128i printable = _mm_cmplt_epi8(shifted, _mm_set1_epi8(-128 + 0x5F));
      // All sixteen are stored (the block has room for seven bytes per source byte); the
      // leading printable ones count.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(printable));
      const std::size_t run = mask == 0xFFFF ? 16 : static_cast<std::size_t>(__builtin_ctz(~mask));
      dst += run;
      i += run;
      if (run == 16) continue;
    }
#endif
    // The bytes up to the next printable ASCII one, one at least, through their entries.
    do {
      std::uint64_t e = conversion.entry[src[i]];
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dst, &e, 8);  // the bytes lie in order from the low end
      } else {
        char bytes[8];
        for (std::size_t k = 0; k < 8; ++k) bytes[k] = static_cast<char>(e >> (8 * k));
        std::memcpy(dst, bytes, 8);
      }
      dst += e >> 56;
      ++i;
    } while (i < n && !is_printable_ascii(src[i]));
  }
  return static_cast<std::size_t>(dst - start);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DORVEX_WIDE_TRANSLATION 1
// one_byte of 32 bytes at once: each row of 16 entries that does not map its bytes to
// themselves is one byte shuffle.
__attribute__((target("avx2"))) std::size_t translate_wide(const unsigned char* src, std::size_t n,
                                                           unsigned char* dst) {
  const std::size_t changed = conversion.changed_rows;
  __m256i row[16], high_value[16];
  for (std::size_t k = 0; k < changed; ++k) {
    const unsigned r = conversion.changed_row[k];
    row[k] = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(conversion.one_byte.data() + 16 * r)));
    high_value[k] = _mm256_set1_epi8(static_cast<char>(r));
  }
  const __m256i low_nibble = _mm256_set1_epi8(0x0F);
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i index = _mm256_and_si256(v, low_nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), low_nibble);
    __m256i out = v;
    for (std::size_t k = 0; k < changed; ++k) {
      const __m256i in_row = _mm256_cmpeq_epi8(high, high_value[k]);
      out = _mm256_blendv_epi8(out, _mm256_shuffle_epi8(row[k], index), in_row);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), out);
  }
  return i;
}
#endif

// Translates n bytes through one_byte, eight at a time through the pairs when they are filled.
void translate_one_for_one(const unsigned char* src, std::size_t n, unsigned char* dst) {
  std::size_t i = 0;
#if defined(DORVEX_WIDE_TRANSLATION)
  if (vector_width() == VectorWidth::kWide) i = translate_wide(src, n, dst);
#endif
  if (conversion.has_pairs) {
    const std::uint16_t* pairs = conversion.pairs.data();
    for (; i + 8 <= n; i += 8) {
      std::uint16_t in[4], out[4];
      std::memcpy(in, src + i, 8);
      out[0] = pairs[in[0]];
      out[1] = pairs[in[1]];
      out[2] = pairs[in[2]];
      out[3] = pairs[in[3]];
      std::memcpy(dst + i, out, 8);
    }
  }
  const unsigned char* table = conversion.one_byte.data();
  for (; i < n; ++i) dst[i] = table[src[i]];
}

// Converts bytes [data, data + n) through the packed or listed conversions.
void write_converted_slowly(const unsigned char* data, std::size_t n);

// Converts bytes [data, data + n) into the output, a block at a time: one for one up to the
// first byte that is not, from there through its general conversion.
void write_converted(const unsigned char* data, std::size_t n) {
  unsigned char out[kOutBlock];
  for (std::size_t step; n > 0; data += step, n -= step) {
    step = std::min(n, kOutBlock);
    if (conversion.blocks_to_skip > 0) {
      --conversion.blocks_to_skip;
      write_converted_slowly(data, step);
      continue;
    }
    translate_one_for_one(data, step, out);
    const void* stop = conversion.stop < 0 ? nullptr : std::memchr(out, conversion.stop, step);
    const std::size_t one_for_one =
        stop ? static_cast<std::size_t>(static_cast<const unsigned char*>(stop) - out) : step;
    write_out(reinterpret_cast<const char*>(out), one_for_one);
    if (one_for_one == step) {
      conversion.skip_after_miss = 0;
      continue;
    }
    write_converted_slowly(data + one_for_one, step - one_for_one);
    if (one_for_one < step / 2) {
      conversion.skip_after_miss = std::clamp<std::size_t>(2 * conversion.skip_after_miss, 1, 64);
      conversion.blocks_to_skip = conversion.skip_after_miss;
    }
  }
}

void write_converted_slowly(const unsigned char* data, std::size_t n) {
  char out[kOutBlock + 8];
  if (conversion.packed) {
    for (std::size_t done = 0; done < n;) {
      std::size_t step = std::min(n - done, kOutBlock / kPackedBytes);
      write_out(out, convert_packed(data + done, step, out));
      done += step;
    }
    return;
  }
  std::size_t used = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t len = conversion.length[data[i]];
    if (used + len > kOutBlock) {
      write_out(out, used);
      used = 0;
    }
    std::memcpy(out + used, conversion.bytes.data() + conversion.offset[data[i]], len);
    used += len;
  }
  write_out(out, used);
}

// The block holds the first have bytes of the input; the rest follows from the stream.
void copy_8bit(std::FILE* stream, std::size_t have) {
  unsigned char* block = byte_block();
  have = read_block_until(stream, have, kByteBlockSize);
  if (have < kByteBlockSize) {
    // Most likely the whole input (a read stops short only at the end): convert just the bytes
    // it holds, so that a small file does not make the replacement map load for bytes it
    // never uses.
    bool present[256] = {};
    for (std::size_t i = 0; i < have; ++i) present[block[i]] = true;
    build_byte_conversion(present);
    write_converted(block, have);
    have = read_bytes(stream, block, kByteBlockSize);
    if (have == 0) return;
  }
  build_byte_conversion(nullptr);
  do write_converted(block, have);
  while ((have = read_bytes(stream, block, kByteBlockSize)) > 0);
}

// ---- UTF-8 and UTF-16 in blocks ----

// Units decoded from one block of bytes; a byte gives at most one unit.
constexpr std::size_t kDecodeBlock = 65536;
std::array<std::uint16_t, kDecodeBlock> units;

// The leading bytes of [p, p + n) below 0x80 as units; returns how many.
inline std::size_t widen_ascii(const unsigned char* p, std::size_t n, std::uint16_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if (_mm_movemask_epi8(v) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
  }
#endif
  for (; i < n && p[i] < 0x80; ++i) out[i] = p[i];
  return i;
}

// Decodes UTF-8 from [p, p + n) into units (room for n). An ill-formed sequence gives one U+FFFD
// for its longest valid start and decoding resumes at the byte that broke it, as Unicode
// recommends, so bad bytes never swallow good text. A character cut by the end of the block
// stays undecoded unless at_end, when it is one U+FFFD. Returns the bytes consumed; *made gets
// the units made.
std::size_t decode_utf8_block(const unsigned char* p, std::size_t n, bool at_end,
                              std::uint16_t* out, std::size_t* made) {
  std::size_t i = 0, u = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      std::size_t run = widen_ascii(p + i, n - i, out + u);
      i += run;
      u += run;
      if (i == n) break;
    }
    if (p[i] < 0x80) continue;  // widen_ascii stopped at the end of what it was given
    const Utf8Char c = utf8_char(p + i, n - i, !at_end);
    if (c.len == 0) break;
    u += put_code_point(c.value, out + u);
    i += c.len;
  }
  *made = u;
  return i;
}

// For a UTF-8 target most characters are written as they come, without decoding. What stops
// that goes through the decoder in a stretch of this many bytes, so that text full of such
// characters costs little more than decoding all of it.
constexpr std::size_t kDecodeStretch = 64;

// Decodes and writes UTF-8: have bytes are in the block already, the rest comes from stream.
void copy_utf8(std::FILE* stream, std::size_t have) {
  unsigned char* block = byte_block();
  const bool as_is = !target_charset;
  bool at_end = false;
  std::size_t start = 0;  // undecoded bytes are block[start, have)
  for (;;) {
    while (start < have) {
      if (as_is) {
        start += write_utf8_as_is(block + start, have - start);
        if (start == have) break;
      }
      // A stretch short of the rest of the block holds at least one whole character.
      const std::size_t step = std::min(have - start, as_is ? kDecodeStretch : kDecodeBlock);
      const bool last = step == have - start;
      std::size_t made = 0;
      std::size_t used =
          decode_utf8_block(block + start, step, at_end && last, units.data(), &made);
      write_units(units.data(), made);
      start += used;
      if (last && used < step) break;  // a character cut by the end of the block
    }
    if (at_end) return;
    const std::size_t left = have - start;
    std::memmove(block, block + start, left);
    const std::size_t got = read_bytes(stream, block + left, kByteBlockSize - left);
    at_end = got == 0;
    have = left + got;
    start = 0;
  }
}

// UTF-16 units from the stream, low byte first or high byte first; an odd last byte is dropped.
void copy_utf16(std::FILE* stream, bool low_first) {
  unsigned char* block = byte_block();
  std::size_t have = 0;
  for (;;) {
    std::size_t got = read_bytes(stream, block + have, kDecodeBlock * 2 - have);
    have += got;
    std::size_t n = have / 2;
    if (got == 0 || n == 0) {
      if (got == 0) return;
      continue;
    }
    for (std::size_t i = 0; i < n; ++i) {
      unsigned a = block[2 * i], b = block[2 * i + 1];
      units[i] = static_cast<std::uint16_t>(low_first ? a | (b << 8) : (a << 8) | b);
    }
    write_units(units.data(), n);
    std::memmove(block, block + 2 * n, have - 2 * n);
    have -= 2 * n;
  }
}

// UTF-16 code units of the prefix after its byte-order mark; an odd last byte is dropped.
void write_utf16_prefix(const unsigned char* p, std::size_t len, bool high_first) {
  for (std::size_t i = 2; i + 1 < len; i += 2) {
    write_char(high_first ? (p[i] << 8) | p[i + 1] : p[i] | (p[i + 1] << 8));
  }
}

// The prefix as UTF-8; a character it leads unfinished takes its bytes from the stream, until the
// decoder holds nothing (a byte that breaks it may begin another). What the end of the input
// cuts short is one U+FFFD.
void write_utf8_prefix(std::FILE* stream, const unsigned char* p, std::size_t len) {
  Utf8Decoder decoder;
  std::uint16_t out[4];
  for (std::size_t i = 0; i < len || utf8_pending(decoder);) {
    int c = i < len ? p[i++] : io_getc(stream);
    const std::size_t n = c == EOF ? utf8_finish(decoder, out)
                                   : utf8_feed(decoder, static_cast<unsigned char>(c), out);
    write_units(out, n);
  }
}

// Writes every character the decoder gives until the stream reports its end. The position
// counter is advanced by the decoders and read by nobody.
void copy_through_hook(std::FILE* stream) {
  std::int32_t position = 0;
  while (!dorvex_eof(stream)) {
    int c = get_unicode_char(stream, &position, kNoEnd);
    if (c != -1) write_char(c);
    if (position > 0x40000000) position = 0;  // kept from overflowing
  }
}

void copy_unicode(std::FILE* stream, const unsigned char* prefix, std::size_t prefix_len) {
  if (prefix_len >= 2 && prefix[0] == 0xFE && prefix[1] == 0xFF) {
    get_unicode_char = get_utf16msb;
    write_utf16_prefix(prefix, prefix_len, true);
  } else if (prefix_len >= 2 && prefix[0] == 0xFF && prefix[1] == 0xFE) {
    get_unicode_char = get_utf16lsb;
    write_utf16_prefix(prefix, prefix_len, false);
  } else {
    get_unicode_char = get_utf8;
    write_utf8_prefix(stream, prefix, prefix_len);
  }
  // In standard mode (as the copy always runs) the bytes are read in blocks, with the results
  // of the decoders.
  if (!hooks_in_standard_mode()) {
    copy_through_hook(stream);
  } else if (get_unicode_char == get_utf8) {
    copy_utf8(stream, 0);
  } else {
    copy_utf16(stream, get_unicode_char == get_utf16lsb);
  }
}

}  // namespace

bool looks_like_utf8(const unsigned char* p, std::size_t n, bool more_follows) {
  bool multibyte = false;
  for (std::size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const Utf8Char c = utf8_char(p + i, n - i, true);
    // Cut by the end of the sample: what is there begins a character.
    if (c.len == 0) return more_follows && multibyte;
    if (c.len != utf8_length(p[i])) return false;  // ill-formed
    multibyte = true;
    i += c.len;
  }
  return multibyte;
}

void copy_out(std::FILE* stream, const unsigned char* prefix, std::size_t prefix_len) {
  refresh_conversions();
  if (get_unicode_char == get_word8_char) {
    copy_unicode(stream, prefix, prefix_len);
    return;
  }
  // A UTF-16 byte-order mark says what the text is, as a UTF-8 one does, unless -s or -8 chose
  // the 8-bit reading. The decoder hook stays: -u's choice is not made here.
  const bool detect = utf8_detection && !forced_charset;
  if (detect && prefix_len >= 2 && ((prefix[0] == 0xFE && prefix[1] == 0xFF) ||
                                    (prefix[0] == 0xFF && prefix[1] == 0xFE))) {
    const bool high_first = prefix[0] == 0xFE;
    write_utf16_prefix(prefix, prefix_len, high_first);
    copy_utf16(stream, !high_first);
    return;
  }
  // The first 64 KiB decide: text in a legacy code page is practically never valid UTF-8.
  unsigned char* block = byte_block();
  if (prefix_len > 0) std::memcpy(block, prefix, prefix_len);
  std::size_t have = prefix_len;
  have = read_block_until(stream, have, kUtf8Sample);
  const bool more_follows = have > kUtf8Sample;
  if (detect && looks_like_utf8(block, std::min(have, kUtf8Sample), more_follows)) {
    copy_utf8(stream, have);
  } else {
    copy_8bit(stream, have);
  }
}

}  // namespace dorvex
