#include "utf8step.h"

namespace dorvex {

std::size_t utf8_length(unsigned lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF5 ? 4 : 0;
}

bool utf8_continues(unsigned lead, std::size_t i, unsigned byte) {
  unsigned low = 0x80, high = 0xBF;
  if (i == 1) {
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  return byte >= low && byte <= high;
}

Utf8Char utf8_char(const unsigned char* p, std::size_t n, bool more_may_follow) {
  const unsigned lead = p[0];
  const std::size_t len = utf8_length(lead);
  if (len == 1) return {lead, 1};
  if (len == 0) return {kReplacementChar, 1};
  std::size_t i = 1;
  while (i < len && i < n && utf8_continues(lead, i, p[i])) ++i;
  if (i < len) {
    if (i == n && more_may_follow) return {0, 0};
    return {kReplacementChar, i};
  }
  std::uint32_t value = lead & (0x7Fu >> len);
  for (std::size_t k = 1; k < len; ++k) value = (value << 6) | (p[k] & 0x3Fu);
  return {value, len};
}

std::size_t utf8_feed(Utf8Decoder& d, unsigned char byte, std::uint16_t* out) {
  std::size_t made = 0;
  if (d.count > 0 && !utf8_continues(d.held[0], d.count, byte)) {
    out[made++] = kReplacementChar;  // the cut start; the byte begins anew below
    d.count = 0;
  }
  d.held[d.count++] = byte;
  const Utf8Char c = utf8_char(d.held, d.count, true);
  if (c.len == 0) return made;
  d.count = 0;
  return made + put_code_point(c.value, out + made);
}

std::size_t utf8_finish(Utf8Decoder& d, std::uint16_t* out) {
  if (d.count == 0) return 0;
  d.count = 0;
  out[0] = kReplacementChar;
  return 1;
}

}  // namespace dorvex
