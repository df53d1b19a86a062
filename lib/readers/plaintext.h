// The plain-text copy: text files that are no document format, converted without wrapping.
#ifndef DORVEX_PLAINTEXT_H
#define DORVEX_PLAINTEXT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace dorvex {

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

// Units decoded from one block of bytes; a byte gives at most one unit.
constexpr std::size_t kDecodeBlock = 65536;

// The plain-text copy's tables and decoded units in one extraction.
struct PlainTextState {
  ByteConversion conversion;
  std::array<std::uint16_t, kDecodeBlock> units;
};

// Plain text without a byte-order mark whose first kUtf8Sample bytes are valid UTF-8 holding at
// least one multi-byte character is read as UTF-8, unless utf8_detection is 0 (-8) or -s named
// the source charset: legacy 8-bit text practically never passes.
constexpr std::size_t kUtf8Sample = 65536;

// Whether [p, p + n) is well-formed UTF-8 holding a multi-byte character. A character cut by
// the end counts as well formed when more_follows and its bytes so far are.
bool looks_like_utf8(const unsigned char* p, std::size_t n, bool more_follows);

// Copies the rest of a plain-text input to the output; prefix: the bytes detection consumed.
// With -u: UTF-16 after a byte-order mark, else UTF-8 as get_utf8 reads it; without: UTF-8 when
// it looks like it (a byte that is no part of a character is the unwritable unit 0xDC00 + the
// byte), else 8-bit through the source charset.
void copy_out(std::FILE* stream, const unsigned char* prefix, std::size_t prefix_len);

}  // namespace dorvex

#endif  // DORVEX_PLAINTEXT_H
