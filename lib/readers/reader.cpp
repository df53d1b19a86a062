#include "reader.h"

#include "context.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "charsets.h"
#include "writer.h"
#include "wordtext.h"

namespace dorvex {

namespace {

// get_word8_char's block: kept between calls, and between inputs (a new text starts at offset 0
// and so always loads a fresh block).
constexpr std::size_t kBlockSize = kWord8Block;

bool is_punct_ascii(unsigned char c) {
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

// A block is 16-bit when a space, carriage return or punctuation at an even position is
// followed by a zero byte, within the scan limit.
bool block_is_unicode(const unsigned char* block, std::size_t limit) {
  for (std::size_t i = 0; i < limit; i += 2) {
    unsigned char c = block[i];
    if ((c == 0x20 || c == 0x0D || is_punct_ascii(c)) && i + 1 < limit && block[i + 1] == 0) {
      return true;
    }
  }
  return false;
}

// Characters that get_word8_char already read from the stream but has not delivered yet. The
// stream reports its end as soon as the block read reached it; these must still come out.
bool word8_pending(std::int32_t offset) {
  if (ctx().get_unicode_char != get_word8_char) return false;
  std::size_t pos = static_cast<std::uint32_t>(offset) % kBlockSize;
  if (pos == 0) return false;
  return ctx().reader.buf_is_unicode ? pos + 1 < ctx().reader.read_len : pos < ctx().reader.read_len;
}

bool input_ended(StreamHandle stream, std::int32_t offset) {
  return ctx().dorvex_eof(stream) && !word8_pending(offset);
}

// The running offset is a signed 32-bit count; on inputs of 2 GiB and more it would overflow.
// Only its distance to end and its position within a 256-byte block matter, so both move back
// by the same multiple of 256.
void rebase_offset(std::int32_t& offset, std::int32_t& end) {
  constexpr std::int32_t kHigh = 0x40000000, kStep = 0x20000000;
  if (offset <= kHigh) return;
  offset -= kStep;
  if (end != kNoEnd) end -= kStep;
}

// Bytes of an OLE stream through a block of read-ahead.
struct OleBlockBytes {
  StreamHandle stream;
  mutable std::array<unsigned char, 512> block{};
  mutable std::size_t pos = 0, len = 0;

  bool used_up() const { return pos == len; }
  std::size_t read(unsigned char* dest, std::size_t n) const {
    std::size_t got = 0;
    while (got < n) {
      if (pos == len) {
        len = ole_read(block.data(), 1, block.size(), stream);
        pos = 0;
        if (len == 0 || len > block.size()) {
          len = 0;
          break;
        }
      }
      dest[got++] = block[pos++];
    }
    return got;
  }
};

// The loop of process_file over a source of characters: next(&offset, end) is the decoder,
// at_end(offset) the end-of-input test. The end is tested between paragraphs only.
template <class NextChar, class AtEnd>
int read_word_text(NextChar next, AtEnd at_end, std::int32_t end, WordRules rules) {
  std::int32_t offset = 0;
  WordParagraphs text(rules);
  for (;;) {
    if (at_end(offset) || offset >= end) return 0;
    for (;;) {
      int c = next(&offset, end);
      if (c == -1) {
        text.finish_paragraph();
        return 0;
      }
      bool ended = text.put(c);
      rebase_offset(offset, end);
      if (ended) break;
      if (at_end(offset)) {
        text.finish_paragraph();
        break;
      }
    }
  }
}

// Text read from a stdio stream to its end a chunk at a time (a whole number of the decoder's
// blocks), for a reader of text without an end: only the last chunk is short.

// The source table, and whether it maps every byte below 0x80 to itself.
struct WideningTable {
  const std::uint16_t* table = ctx().source_charset;
  bool ascii_same = true;
  WideningTable() {
    for (int b = 0; b < 0x80; ++b) ascii_same = ascii_same && table[b] == b;
  }
};

// The 16-bit units of bytes [bytes, bytes + n), low byte first, as get_word8_char gives them:
// an odd byte at the end of the input is dropped (a block of one byte is never 16-bit).
void take_16bit(WordParagraphs& text, const unsigned char* bytes, std::size_t n) {
  std::uint16_t* units = text.block_space();
  const std::size_t count = n / 2;
  for (std::size_t k = 0; k < count; ++k) units[k] = static_cast<std::uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
  text.take_block(count);
}

// Text from f to its end, 8-bit and widened through the source table as the paragraphs scan
// it; or, for raw Word text, each block of kBlockSize bytes 16-bit or 8-bit by what it holds (as
// get_word8_char decides), blocks of one kind in a row going to the paragraphs at once.
int read_chunks(std::FILE* f, WordRules rules, bool raw_word) {
  const WideningTable widen;
  WordParagraphs text(rules);
  for (std::size_t got; (got = io_fread(ctx().reader.chunk.data(), 1, ctx().reader.chunk.size(), f)) > 0 && got <= ctx().reader.chunk.size();) {
    for (std::size_t at = 0; at < got;) {
      const bool wide = raw_word && block_is_unicode(ctx().reader.chunk.data() + at, std::min(kBlockSize, got - at));
      std::size_t end = raw_word ? at + kBlockSize : got;
      while (end < got && block_is_unicode(ctx().reader.chunk.data() + end, std::min(kBlockSize, got - end)) == wide) end += kBlockSize;
      end = std::min(end, got);
      if (wide) {
        take_16bit(text, ctx().reader.chunk.data() + at, end - at);
      } else {
        text.take_bytes(ctx().reader.chunk.data() + at, end - at, widen.table, widen.ascii_same);
      }
      at = end;
    }
    if (got < ctx().reader.chunk.size()) break;
  }
  text.finish_paragraph();
  return 0;
}

}  // namespace

int process_file(StreamHandle stream, std::int32_t end) {
  return process_word_text(stream, end, WordRules::classic);
}

int process_word_text(StreamHandle stream, std::int32_t end, WordRules rules) {
  // Text on a stdio stream to its end (raw mode, Write files) is read in chunks.
  if (hooks_in_standard_mode() && end == kNoEnd) {
    if (ctx().get_unicode_char == get_8bit_char) return read_chunks(static_cast<std::FILE*>(stream), rules, false);
    if (ctx().get_unicode_char == get_word8_char) return read_chunks(static_cast<std::FILE*>(stream), rules, true);
  }
  // With an end, decoded without the hooks: the paragraph in hand at the end is read to its mark.
  if (ctx().get_unicode_char == get_8bit_char && hooks_in_standard_mode()) {
    const StdioBytes in{static_cast<std::FILE*>(stream)};
    const std::uint16_t* table = ctx().source_charset;
    return read_word_text([&](std::int32_t* offset, std::int32_t) { return decode_8bit(in, offset, table); },
                          [&](std::int32_t) { return io_feof(in.file) != 0; }, end, rules);
  }
  // The same for 8-bit text in a compound file, read a block at a time: nothing else reads the
  // stream while its text is read, and the end is reached when the block is used up too.
  if (ctx().get_unicode_char == get_8bit_char && hooks_in_ole_mode()) {
    const OleBlockBytes in{stream};
    const std::uint16_t* table = ctx().source_charset;
    return read_word_text([&](std::int32_t* offset, std::int32_t) { return decode_8bit(in, offset, table); },
                          [&](std::int32_t) { return in.used_up() && ole_eof(stream); }, end,
                          rules);
  }
  return read_word_text(
      [&](std::int32_t* offset, std::int32_t limit) {
        return ctx().get_unicode_char(stream, offset, limit);
      },
      [&](std::int32_t offset) { return input_ended(stream, offset); }, end, rules);
}

int get_word8_char(StreamHandle stream, std::int32_t* offset, std::int32_t end) {
  std::size_t pos = static_cast<std::uint32_t>(*offset) % kBlockSize;
  if (pos == 0) {
    ctx().reader.read_len = ctx().dorvex_read(ctx().reader.read_buf.data(), 1, kBlockSize, stream);
    if (ctx().reader.read_len > kBlockSize) ctx().reader.read_len = 0;
    // Nothing left: the zero fill is not text (as code 0 it would discard the paragraph).
    if (ctx().reader.read_len == 0) return -1;
    std::memset(ctx().reader.read_buf.data() + ctx().reader.read_len, 0, kBlockSize - ctx().reader.read_len);
    std::size_t limit = ctx().reader.read_len;
    std::int64_t left = std::int64_t(end) - *offset;
    if (left < std::int64_t(limit)) limit = left > 0 ? static_cast<std::size_t>(left) : 0;
    ctx().reader.buf_is_unicode = block_is_unicode(ctx().reader.read_buf.data(), limit);
  }
  if (ctx().reader.buf_is_unicode) {
    *offset += 2;
    return ctx().reader.read_buf[pos] | (ctx().reader.read_buf[pos + 1] << 8);
  }
  *offset += 1;
  return to_unicode(ctx().source_charset, ctx().reader.read_buf[pos]);
}

void reset_word8_block() {
  ctx().reader.read_buf.fill(0);
  ctx().reader.read_len = 0;
  ctx().reader.buf_is_unicode = 0;
}

}  // namespace dorvex
