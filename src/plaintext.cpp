#include "plaintext.h"

#include <array>
#include <cstring>

#include "charsets.h"
#include "reader.h"
#include "unlocked_io.h"
#include "writer.h"

namespace dorvex {

namespace {

// Output bytes of each source byte, converted once per input: the 8-bit copy then writes
// without looking anything up.
struct ByteConversion {
  std::array<std::uint16_t, 256> offset;
  std::array<std::uint16_t, 256> length;
  std::array<char, 256 * 257> bytes;
};
ByteConversion conversion;

void build_byte_conversion() {
  std::size_t used = 0;
  for (int b = 0; b < 256; ++b) {
    const char* s = convert_char(to_unicode(source_charset, b));
    std::size_t n = std::strlen(s);
    std::memcpy(conversion.bytes.data() + used, s, n);
    conversion.offset[static_cast<std::size_t>(b)] = static_cast<std::uint16_t>(used);
    conversion.length[static_cast<std::size_t>(b)] = static_cast<std::uint16_t>(n);
    used += n;
  }
}

// Converts bytes [data, data + n) into out_file, gathering the output in a local block.
void write_converted(const unsigned char* data, std::size_t n) {
  char out[65536];
  std::size_t used = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t len = conversion.length[data[i]];
    if (used + len > sizeof out) {
      write_out(out, used);
      used = 0;
    }
    const char* src = conversion.bytes.data() + conversion.offset[data[i]];
    if (len == 1) {
      out[used++] = *src;
    } else {
      std::memcpy(out + used, src, len);
      used += len;
    }
  }
  write_out(out, used);
}

void copy_8bit(std::FILE* stream, const unsigned char* prefix, std::size_t prefix_len) {
  build_byte_conversion();
  write_converted(prefix, prefix_len);
  auto* block = reinterpret_cast<unsigned char*>(buffer.data());
  const std::size_t block_size = buffer.size() * sizeof buffer[0];
  std::size_t n;
  while ((n = dorvex_read(block, 1, block_size, stream)) > 0 && n <= block_size) {
    write_converted(block, n);
  }
}

// UTF-16 code units of the prefix after its byte-order mark; an odd last byte is dropped.
void write_utf16_prefix(const unsigned char* p, std::size_t len, bool high_first) {
  for (std::size_t i = 2; i + 1 < len; i += 2) {
    write_char(high_first ? (p[i] << 8) | p[i + 1] : p[i] | (p[i + 1] << 8));
  }
}

// A four-byte character goes out as its surrogate pair, which the writer joins again.
void write_code_point(unsigned value, unsigned lead) {
  if (lead < 0xF0 || lead > 0xF4) {
    write_char(static_cast<int>(value & 0xFFFF));
  } else if (value < 0x10000 || value > 0x10FFFF) {
    write_char(0xFEFF);  // no character, as get_utf8 says
  } else {
    write_char(static_cast<int>(0xD800 | ((value - 0x10000) >> 10)));
    write_char(static_cast<int>(0xDC00 | (value & 0x3FF)));
  }
}

// The prefix as UTF-8; continuation bytes beyond the prefix come from the stream. A character
// that the end of the input cuts short is dropped.
void write_utf8_prefix(std::FILE* stream, const unsigned char* p, std::size_t len) {
  std::size_t i = 0;
  while (i < len) {
    unsigned lead = p[i++];
    int more = 0;
    unsigned value = lead;
    if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      value = lead & 0x07;
    } else if (lead >= 0xE0) {
      more = 2;
      value = lead & 0x0F;
    } else if (lead >= 0x80) {
      more = 1;
      value = lead & 0x1F;
    }
    bool complete = true;
    for (; more > 0; --more) {
      int c = i < len ? p[i++] : io_getc(stream);
      if (c == EOF) {
        complete = false;
        break;
      }
      value = (value << 6) | (static_cast<unsigned>(c) & 0x3F);
    }
    if (!complete) return;
    write_code_point(value, lead);
  }
}

// Writes every character the decoder gives until the stream reports its end. The position
// counter is advanced by the decoders and read by nobody.
template <class NextChar>
void copy_chars(std::FILE* stream, NextChar next) {
  std::int32_t position = 0;
  while (!dorvex_eof(stream)) {
    int c = next(&position);
    if (c != -1) write_char(c);
    if (position > 0x40000000) position = 0;  // kept from overflowing
  }
}

// In standard mode (as the Unicode copy always runs) the decoders read the stdio stream directly.
void copy_decoded(std::FILE* stream) {
  const StdioBytes in{stream};
  if (!hooks_in_standard_mode()) {
    copy_chars(stream, [&](std::int32_t* pos) { return get_unicode_char(stream, pos, kNoEnd); });
  } else if (get_unicode_char == get_utf8) {
    copy_chars(stream, [&](std::int32_t* pos) { return decode_utf8(in, pos); });
  } else if (get_unicode_char == get_utf16lsb || get_unicode_char == get_utf16msb) {
    const bool low_first = get_unicode_char == get_utf16lsb;
    copy_chars(stream, [&](std::int32_t* pos) { return decode_utf16(in, pos, low_first); });
  } else {
    copy_chars(stream, [&](std::int32_t* pos) { return get_unicode_char(stream, pos, kNoEnd); });
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
  copy_decoded(stream);
}

}  // namespace

void copy_out(std::FILE* stream, const unsigned char* prefix, std::size_t prefix_len) {
  refresh_conversions();
  if (get_unicode_char == get_word8_char) {
    copy_unicode(stream, prefix, prefix_len);
  } else {
    copy_8bit(stream, prefix, prefix_len);
  }
}

}  // namespace dorvex
