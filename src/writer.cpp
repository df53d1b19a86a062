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

// The output byte of each Unicode unit whose conversion is one byte, looked up once: the
// conversion settings are fixed after start-up, so most characters then cost one load. The
// settings it was filled under are noted, and reset_writer() forgets it.
constexpr std::int16_t kUnknown = -2, kNotSingle = -1;
struct SingleByteCache {
  const SubstMap* spec = nullptr;
  const SubstMap* repl = nullptr;
  const ReverseMap* target = nullptr;
  int hex = 0;
  char bad = 0;
  bool valid = false;
  std::array<std::int16_t, 65536> byte;
};
SingleByteCache cache;

void check_cache() {
  if (cache.valid && cache.spec == spec_chars && cache.repl == replacements &&
      cache.target == target_charset && cache.hex == unknown_as_hex && cache.bad == bad_char[0]) {
    return;
  }
  cache.byte.fill(kUnknown);
  cache.spec = spec_chars;
  cache.repl = replacements;
  cache.target = target_charset;
  cache.hex = unknown_as_hex;
  cache.bad = bad_char[0];
  cache.valid = true;
}

// The byte for u, or kNotSingle when its conversion is empty, longer, or a newline.
int single_byte(std::uint16_t u) {
  int v = cache.byte[u];
  if (v != kUnknown) return v;
  const char* seq = convert_char(u);
  v = seq[0] != '\0' && seq[1] == '\0' && seq[0] != '\n' ? static_cast<unsigned char>(seq[0])
                                                           : kNotSingle;
  cache.byte[u] = static_cast<std::int16_t>(v);
  return v;
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

void write_out(const char* bytes, std::size_t n) {
  if (n == 1) {
    putc_unlocked(*bytes, out_file);
  } else if (n > 0) {
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

// Most characters convert to one byte: append it without the string handling of out_char.
void output_paragraph(const std::uint16_t* par) {
  check_cache();
  const std::size_t margin = wrap_margin > 0 ? static_cast<std::size_t>(wrap_margin) : 0;
  for (; *par; ++par) {
    int byte = single_byte(*par);
    if (byte >= 0 && margin == 0) {
      putc_unlocked(byte, out_file);
    } else if (byte < 0 || bufpos + 1 >= kLineBufferSize) {
      out_char(convert_char(*par));
    } else {
      outputbuffer[bufpos++] = static_cast<char>(byte);
      outputbuffer[bufpos] = '\0';
      if (bufpos > margin) break_lines();
    }
  }
}

void write_char(int u) {
  check_cache();
  int byte = u >= 0 && u <= 0xFFFF ? single_byte(static_cast<std::uint16_t>(u)) : kNotSingle;
  if (byte >= 0) {
    putc_unlocked(byte, out_file);
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
