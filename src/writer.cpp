#include "writer.h"

#include <cstring>

#include "charsets.h"
#include "confutil.h"
#include "substmap.h"

namespace dorvex {

std::array<std::uint16_t, kParagraphUnits> buffer;
int wrap_margin = 72;
std::FILE* out_file = stdout;

namespace {

// The line being filled, zero-terminated; bufpos is its length.
char outputbuffer[kLineBufferSize];
std::size_t bufpos = 0;

// The conversion of each Unicode unit, looked up once when it is up to three bytes without a
// newline: the conversion settings are fixed after start-up, so most characters then cost one
// load. An entry holds the length plus one in its top byte and the bytes below, 0 when not
// looked up yet (so the table starts out as zero pages); the settings it was filled under are
// noted, and reset_writer() forgets it.
constexpr std::uint32_t kUnknown = 0, kLong = 0xFE000000;
struct ConversionCache {
  const SubstMap* special = nullptr;
  const SubstMap* repl = nullptr;
  const ReverseMap* target = nullptr;
  int hex = 0;
  char bad = 0;
  bool valid = false;
  bool dirty = false;  // some entry is filled
  std::array<std::uint32_t, 65536> entry;
};
ConversionCache cache;

void check_cache() {
  if (cache.valid && cache.special == spec_chars && cache.repl == replacements &&
      cache.target == target_charset && cache.hex == unknown_as_hex && cache.bad == bad_char[0]) {
    return;
  }
  if (cache.dirty) cache.entry.fill(kUnknown);
  cache.dirty = false;
  cache.special = spec_chars;
  cache.repl = replacements;
  cache.target = target_charset;
  cache.hex = unknown_as_hex;
  cache.bad = bad_char[0];
  cache.valid = true;
}

std::uint32_t pack_conversion(const char* seq) {
  std::size_t n = std::strlen(seq);
  if (n > 3 || std::memchr(seq, '\n', n)) return kLong;
  std::uint32_t e = std::uint32_t(n + 1) << 24;
  for (std::size_t i = 0; i < n; ++i) e |= std::uint32_t(static_cast<unsigned char>(seq[i])) << (8 * i);
  return e;
}

// The packed conversion of u, or kLong when it must go through out_char.
std::uint32_t short_conversion(std::uint16_t u) {
  std::uint32_t e = cache.entry[u];
  if (e == kUnknown) {
    e = cache.entry[u] = pack_conversion(convert_char(u));
    cache.dirty = true;
  }
  return e;
}

void put_packed(std::uint32_t e) {
  for (std::uint32_t n = (e >> 24) - 1; n > 0; --n, e >>= 8) putc_unlocked(static_cast<char>(e & 0xFF), out_file);
}

bool is_break_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Writes held bytes [0, n) and a newline, and keeps the bytes from skip on as the held text.
void emit_line(std::size_t n, std::size_t skip) {
  write_out(outputbuffer, n);
  write_out("\n", 1);
  std::memmove(outputbuffer, outputbuffer + skip, bufpos - skip);
  bufpos -= skip;
  outputbuffer[bufpos] = '\0';
}

// Breaks the held text until it fits within the margin: at the last space at or before the
// margin (index 0 never counts), else after exactly wrap_margin bytes.
void break_lines() {
  const std::size_t margin = static_cast<std::size_t>(wrap_margin);
  while (bufpos > margin) {
    std::size_t s = margin;
    while (s > 0 && !is_break_space(outputbuffer[s])) --s;
    if (s > 0) {
      emit_line(s, s + 1);
    } else {
      emit_line(margin, margin);
    }
  }
}

}  // namespace

// Short sequences (a UTF-8 character, a replacement) go byte by byte: cheaper than fwrite's
// set-up for two or three bytes.
void write_out(const char* bytes, std::size_t n) {
  if (n <= 8) {
    for (std::size_t i = 0; i < n; ++i) putc_unlocked(bytes[i], out_file);
  } else {
    fwrite_unlocked(bytes, 1, n, out_file);
  }
}

void out_char(const char* seq) {
  std::size_t n = std::strlen(seq);
  if (wrap_margin <= 0) {
    write_out(seq, n);
    return;
  }
  // The start-up check keeps margin + longest sequence inside the buffer; callers that set a
  // margin themselves still cannot overrun it: held text that would not fit goes out first.
  if (bufpos + n >= kLineBufferSize) {
    break_lines();
    if (bufpos + n >= kLineBufferSize) emit_line(bufpos, bufpos);
    if (n >= kLineBufferSize) {
      write_out(seq, n);
      return;
    }
  }
  std::memcpy(outputbuffer + bufpos, seq, n + 1);
  bufpos += n;
  if (std::memchr(seq, '\n', n)) {
    const char* after_newline = map_subst(spec_chars, '\n');
    write_out(outputbuffer, bufpos);
    bufpos = 0;
    outputbuffer[0] = '\0';
    if (after_newline) {
      write_out(after_newline, std::strlen(after_newline));
    } else {
      write_out("\n", 1);
    }
    return;
  }
  if (bufpos > static_cast<std::size_t>(wrap_margin)) break_lines();
}

// Most characters convert to a few bytes without a newline: append them without the string
// handling of out_char.
void output_paragraph(const std::uint16_t* par) {
  check_cache();
  const std::size_t margin = wrap_margin > 0 ? static_cast<std::size_t>(wrap_margin) : 0;
  for (; *par; ++par) {
    std::uint32_t e = short_conversion(*par);
    if (e == kLong || (margin > 0 && bufpos + 4 >= kLineBufferSize)) {
      out_char(convert_char(*par));
    } else if (margin == 0) {
      put_packed(e);
    } else {
      for (std::uint32_t n = (e >> 24) - 1; n > 0; --n, e >>= 8) outputbuffer[bufpos++] = static_cast<char>(e & 0xFF);
      if (bufpos > margin) break_lines();
    }
  }
}

void refresh_conversions() { check_cache(); }

void write_char(int u) {
  std::uint32_t e = u >= 0 && u <= 0xFFFF ? short_conversion(static_cast<std::uint16_t>(u)) : kLong;
  if (e != kLong) {
    put_packed(e);
    return;
  }
  const char* seq = convert_char(u);
  write_out(seq, std::strlen(seq));
}

void flush_line() {
  if (bufpos == 0) return;
  write_out(outputbuffer, bufpos);
  write_out("\n", 1);
  bufpos = 0;
  outputbuffer[0] = '\0';
}

void reset_writer() {
  cache.valid = false;
  bufpos = 0;
  outputbuffer[0] = '\0';
}

}  // namespace dorvex
