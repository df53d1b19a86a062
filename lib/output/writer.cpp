#include "writer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "charsets.h"
#include "columns.h"
#include "confutil.h"
#include "context.h"
#include "fileutil.h"
#include "substmap.h"
#include "unlocked_io.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>  // beyond SSE2, used only where the processor has it
#endif

namespace dorvex {

namespace {

using detail::ConversionCache;
using detail::kBlockSize;
using detail::kLineSlack;
using detail::kLong;
using detail::kMixedRow;
using detail::kOwnAscii;
using detail::kOwnThreeByteRow;
using detail::kOwnTwoBytes;
using detail::kPieceSlack;
using detail::kUnknown;

std::uint32_t pack_conversion(const char* seq) {
  std::size_t n = std::strlen(seq);
  if (n > 3 || std::memchr(seq, '\n', n)) return kLong;
  std::uint32_t e = std::uint32_t(n + 1) << 24;
  for (std::size_t i = 0; i < n; ++i) e |= std::uint32_t(static_cast<unsigned char>(seq[i])) << (8 * i);
  return e;
}

// The packed conversion of u, or kLong when it needs the general path.
std::uint32_t short_conversion(ConversionCache& cache, std::uint16_t u) {
  std::uint32_t e = cache.entry[u];
  if (e == kUnknown) {
    e = cache.entry[u] = pack_conversion(convert_char(u));
    cache.dirty = true;
  }
  return e;
}

std::uint32_t short_conversion(std::uint16_t u) { return short_conversion(ctx().writer.cache, u); }

void check_cache() {
  Extraction& c = ctx();
  WriterState& w = c.writer;
  if (w.cache.valid && w.cache.special == c.spec_chars && w.cache.repl == c.replacements &&
      w.cache.target == c.target_charset && w.cache.hex == c.unknown_as_hex &&
      w.cache.bad == c.bad_char[0]) {
    return;
  }
  if (w.cache.dirty) w.cache.entry.fill(kUnknown);
  w.cache.dirty = false;
  if (w.own_utf8_dirty) w.own_utf8.fill(0);
  w.own_utf8_dirty = false;
  w.own_lead_row.fill(0);
  w.lead_row_known = 0;
  w.cache.special = c.spec_chars;
  w.cache.repl = c.replacements;
  w.cache.target = c.target_charset;
  w.cache.hex = c.unknown_as_hex;
  w.cache.bad = c.bad_char[0];
  w.cache.valid = true;
  w.cache.ascii_is_identity = true;
  for (std::uint16_t u = 0x20; u < 0x7F; ++u) {
    if (short_conversion(u) != ((2u << 24) | u)) w.cache.ascii_is_identity = false;
  }
}

// Stores the bytes of a packed conversion at dst (four bytes written, room assumed); returns
// their number.
std::size_t put_packed(char* dst, std::uint32_t e) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(dst, &e, 4);  // the bytes lie in order from the low end
  } else {
    const char bytes[4] = {static_cast<char>(e), static_cast<char>(e >> 8),
                           static_cast<char>(e >> 16), 0};
    std::memcpy(dst, bytes, 4);
  }
  return (e >> 24) - 1;
}

bool is_printable_ascii(std::uint16_t u) { return u >= 0x20 && u < 0x7F; }

// Copies the leading printable ASCII units of [p, p + want) to dst as bytes; returns how many.
// Units up to p + avail may be read, and 15 bytes past dst + want written.
inline std::size_t copy_ascii_run(const std::uint16_t* p, std::size_t want, std::size_t avail,
                                  char* dst) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Biased by 0x8000 - 0x20, the printable units are the signed values below -32768 + 0x5F.
  const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000 - 0x20));
  const __m128i limit = _mm_set1_epi16(static_cast<short>(-32768 + 0x5F));
  for (; i < want && i + 16 <= avail; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8));
    __m128i ok = _mm_packs_epi16(_mm_cmplt_epi16(_mm_add_epi16(a, bias), limit),
                                 _mm_cmplt_epi16(_mm_add_epi16(b, bias), limit));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(a, b));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(ok));
    if (mask != 0xFFFF) return std::min(want, i + static_cast<std::size_t>(__builtin_ctz(~mask)));
  }
  if (i >= want) return want;
#else
  (void)avail;
#endif
  for (; i < want && is_printable_ascii(p[i]); ++i) dst[i] = static_cast<char>(p[i]);
  return i;
}

// Copies n bytes from src to dst in pieces of 16: up to 15 bytes past src + n are read and past
// dst + n written (both buffers have kPieceSlack), and dst lies before src or apart from it.
inline void copy_in_pieces(char* dst, const char* src, std::size_t n) {
  for (std::size_t i = 0; i < n; i += 16) {
#if defined(__SSE2__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
#else
    char piece[16];
    std::memcpy(piece, src + i, 16);
    std::memcpy(dst + i, piece, 16);
#endif
  }
}

std::size_t units_up_to_zero(const std::uint16_t* par) {
  std::size_t n = 0;
  while (par[n]) ++n;
  return n;
}

bool is_break_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The index of the last break space in line[1..margin], or 0 when there is none. Lines are
// searched 16 bytes at a time from the margin backwards: the break is mostly a word's length
// away, so one or two loads find it.
std::size_t last_break_space(const char* line, std::size_t margin) {
  std::size_t end = margin + 1;
#if defined(__SSE2__)
  // Biased by 0x80 - '\t', the controls '\t'..'\r' are the signed bytes below -128 + 5.
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80 - '\t'));
  const __m128i limit = _mm_set1_epi8(static_cast<char>(-128 + 5));
  for (; end >= 16; end -= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + end - 16));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmplt_epi8(_mm_add_epi8(v, bias), limit));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask) return end - 16 + static_cast<std::size_t>(31 - __builtin_clz(mask));
  }
#endif
  for (std::size_t s = end; s-- > 1;) {
    if (is_break_space(line[s])) return s;
  }
  return 0;
}

[[noreturn]] void output_failed() {
  ctx().output_failed = true;
  errno = write_error(errno);
  report_errno("stdout");
  end_program(1);
}

// The output block and its fill position, kept in a local while a call of the writer runs.
struct Sink {
  std::size_t used = 0;
  char* const block = ctx().writer.out_block;  // taken once, as Line's buffer
  void flush() {
    if (used) write_out(block, used);
    used = 0;
  }
  // Room for n more bytes, flushing first when they do not fit.
  char* reserve(std::size_t n) {
    if (used + n > kBlockSize) flush();
    return block + used;
  }
  void put(const char* bytes, std::size_t n) {
    if (n > kBlockSize) {
      flush();
      write_out(bytes, n);
      return;
    }
    std::memcpy(reserve(n), bytes, n);
    used += n;
  }
};

// The line buffer with its fill position in a local: stores into the buffer cannot alias it.
// The margin counts columns (cols); for text of one-byte characters they are its bytes.
struct Line {
  std::size_t len;
  Sink& sink;
  std::size_t cols = len;
  std::size_t unit_begin = 0, unit_end = 0;  // see held_unit_begin
  // Taken once: a store through the buffer could change what ctx() returns, as far as the
  // compiler knows, so each use of ctx() in the loops would load it again.
  char* const buf = ctx().writer.outputbuffer;
  const bool utf8 = ctx().target_charset == nullptr;

  // Writes bytes [0, n) and a newline, and keeps the bytes from skip on as the held text.
  void emit(std::size_t n, std::size_t skip) {
    char* dst = sink.reserve(n + 1);
    copy_in_pieces(dst, buf, n);
    dst[n] = '\n';
    sink.used += n + 1;
    copy_in_pieces(buf, buf + skip, len - skip);
    len -= skip;
    cols = text_columns(buf, len, utf8);
    unit_begin = unit_begin > skip ? unit_begin - skip : 0;
    unit_end = unit_end > skip ? unit_end - skip : 0;
  }

  // Breaks the held text until it fits within the margin: at the last space whose text before
  // it fits (index 0 never counts), or between two wide characters; else after the characters
  // that fit, never inside one, nor inside a hexadecimal escape or replacement.
  void break_lines(std::size_t margin) {
    while (cols > margin) {
      std::size_t s = cols == len ? last_break_space(buf, margin) : 0;
      if (s > 0) {
        emit(s, s + 1);
        continue;
      }
      const LineBreak b = find_line_break(buf, len, margin, utf8, unit_begin, unit_end);
      emit(b.end, b.next);
    }
  }

  // Notes the columns of n bytes just appended at the end, one converted character.
  void appended(std::size_t n) {
    if (n == 1) {
      ++cols;
      return;
    }
    cols += text_columns(buf + len - n, n, utf8);
    unit_begin = len - n;
    unit_end = len;
  }

  // Appends one converted character of any length, as out_char describes.
  void append(const char* seq, std::size_t n, std::size_t margin) {
    if (margin == 0) {
      sink.put(seq, n);
      return;
    }
    // The buffer bounds a line: held text that would not fit goes out first, broken at its last
    // space (many-byte characters can fill it before the margin in columns is reached).
    if (len + n >= kLineBufferSize) {
      break_lines(margin);
      if (len + n >= kLineBufferSize && cols > 1) break_lines(cols - 1);
      if (len + n >= kLineBufferSize) emit(len, len);
      if (n >= kLineBufferSize) {
        sink.put(seq, n);
        return;
      }
    }
    std::memcpy(buf + len, seq, n);
    len += n;
    if (std::memchr(seq, '\n', n)) {
      const char* after_newline = map_subst(ctx().spec_chars, '\n');
      sink.put(buf, len);
      len = 0;
      cols = 0;
      unit_begin = unit_end = 0;
      if (after_newline) {
        sink.put(after_newline, std::strlen(after_newline));
      } else {
        sink.put("\n", 1);
      }
      return;
    }
    appended(n);
    if (cols > margin) break_lines(margin);
  }
};

// Keeps what a call left in the line for the next one.
void keep_held_line(const Line& line) {
  WriterState& w = ctx().writer;
  w.bufpos = line.len;
  w.bufcols = line.cols;
  w.held_unit_begin = line.unit_begin;
  w.held_unit_end = line.unit_end;
}

// The conversion of the character at p (one unit, or two for a surrogate pair) through the
// general path; returns the units it took.
std::size_t append_general(const std::uint16_t* p, const std::uint16_t* end, Line& line,
                           std::size_t margin) {
  if (is_high_surrogate(p[0]) && p + 1 < end && is_low_surrogate(p[1])) {
    const char* seq = convert_pair(p[0], p[1]);
    line.append(seq, std::strlen(seq), margin);
    return 2;
  }
  const char* seq = convert_char(p[0]);
  line.append(seq, std::strlen(seq), margin);
  return 1;
}

// Units [p, end) without wrapping, straight into the output block.
void write_unwrapped(const std::uint16_t* p, const std::uint16_t* end, Sink& sink) {
  ConversionCache& cache = ctx().writer.cache;
  const bool ascii_is_identity = cache.ascii_is_identity;
  char* const block = sink.block;
  Line line{0, sink};
  while (p < end) {
    std::size_t room = kBlockSize - sink.used;
    if (room < 8) {
      sink.flush();
      room = kBlockSize;
    }
    if (ascii_is_identity && is_printable_ascii(*p)) {
      std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(end - p), room - 4);
      std::size_t run = copy_ascii_run(p, want, static_cast<std::size_t>(end - p), block + sink.used);
      sink.used += run;
      p += run;
      if (p == end || run == want) continue;
    }
    std::uint32_t e = is_surrogate(*p) ? kLong : short_conversion(cache, *p);
    if (e != kLong) {
      sink.used += put_packed(block + sink.used, e);
      ++p;
    } else {
      p += append_general(p, end, line, 0);
    }
  }
}

// Units [p, end) wrapped at margin (at most kLineBufferSize - kLineSlack, so a short
// conversion always fits behind a line of margin bytes).
void write_wrapped(const std::uint16_t* p, const std::uint16_t* end, Sink& sink,
                   std::size_t margin) {
  WriterState& w = ctx().writer;
  ConversionCache& cache = w.cache;
  Line line{w.bufpos, sink, w.bufcols, w.held_unit_begin, w.held_unit_end};
  const bool ascii_is_identity = cache.ascii_is_identity;
  while (p < end) {
    if (ascii_is_identity && is_printable_ascii(*p) && line.cols <= margin &&
        line.len + 1 < kLineBufferSize) {
      // Fill the line to one column past the margin, then search the break backwards.
      std::size_t want = std::min<std::size_t>({static_cast<std::size_t>(end - p),
                                                margin + 1 - line.cols,
                                                kLineBufferSize - 1 - line.len});
      std::size_t run = copy_ascii_run(p, want, static_cast<std::size_t>(end - p), line.buf + line.len);
      line.len += run;
      line.cols += run;
      p += run;
      if (line.cols > margin) line.break_lines(margin);
      if (p == end || run == want) continue;
    }
    std::uint32_t e = is_surrogate(*p) ? kLong : short_conversion(cache, *p);
    if (e != kLong && line.len + 4 < kLineBufferSize) {
      const std::size_t n = put_packed(line.buf + line.len, e);
      line.len += n;
      line.appended(n);
      ++p;
      if (line.cols > margin) line.break_lines(margin);
    } else {
      p += append_general(p, end, line, margin);
    }
  }
  keep_held_line(line);
}


std::uint16_t two_bytes(const unsigned char* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// Whether unit u converts to exactly the n bytes at p (the cache keeps no newline: ask).
bool conversion_is(std::uint16_t u, const unsigned char* p, std::size_t n) {
  const std::uint32_t e = short_conversion(u);
  if (e == kLong) {
    const char* seq = convert_char(u);
    return std::strlen(seq) == n && std::memcmp(seq, p, n) == 0;
  }
  if ((e >> 24) != n + 1) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(e >> (8 * i)) != p[i]) return false;
  }
  return true;
}

// The unit of the well-formed UTF-8 character of len bytes at p, or -1 when it is no such
// character or a surrogate (an overlong form is left to the comparison of bytes).
int unit_of_utf8(const unsigned char* p, std::size_t len) {
  unsigned u = len == 1 ? p[0] : len == 2 ? p[0] & 0x1Fu : p[0] & 0x0Fu;
  for (std::size_t k = 1; k < len; ++k) {
    if ((p[k] & 0xC0) != 0x80) return -1;
    u = (u << 6) | (p[k] & 0x3Fu);
  }
  return is_surrogate(static_cast<int>(u)) ? -1 : static_cast<int>(u);
}

// Whether the character of len bytes at p is written as those bytes.
bool is_own_utf8(const unsigned char* p, std::size_t len) {
  const int u = unit_of_utf8(p, len);
  return u >= 0 && conversion_is(static_cast<std::uint16_t>(u), p, len);
}

// Whether all 64 three-byte characters that begin with the two bytes at p are written as their
// own bytes.
bool is_own_three_byte_row(const unsigned char* p) {
  for (unsigned last = 0x80; last < 0xC0; ++last) {
    const unsigned char c[3] = {p[0], p[1], static_cast<unsigned char>(last)};
    if (!is_own_utf8(c, 3)) return false;
  }
  return true;
}

// Whether all 64 two-byte characters with this lead are written as their own bytes.
bool is_own_two_byte_row(unsigned lead) {
  for (unsigned last = 0x80; last < 0xC0; ++last) {
    const unsigned char c[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(last)};
    if (!is_own_utf8(c, 2)) return false;
  }
  return true;
}

void learn_lead_row(unsigned lead) {
  WriterState& w = ctx().writer;
  const std::uint32_t bit = 1u << (lead & 31);
  if (w.lead_row_known & bit) return;
  w.lead_row_known |= bit;
  w.own_lead_row[lead & 31] = is_own_two_byte_row(lead) ? 0x80 : 0;
}

void note_own_utf8(const unsigned char* p, std::uint8_t what) {
  WriterState& w = ctx().writer;
  w.own_utf8[two_bytes(p)] = what;
  w.own_utf8_dirty = true;
}

// The length of the character at p (avail bytes there) when it is well-formed UTF-8 written as
// its own bytes, else 0; notes what it learns in own_utf8.
std::size_t learn_own_utf8(const unsigned char* p, std::size_t avail) {
  const unsigned lead = p[0];
  const std::size_t len = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : 0;
  if (len == 0 || len > avail || !is_own_utf8(p, len)) return 0;
  if (len == 1) {
    for (unsigned next = 0; next < 256; ++next) {
      const unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(next)};
      note_own_utf8(pair, kOwnAscii);
    }
  } else if (len == 2) {
    note_own_utf8(p, kOwnTwoBytes);
    learn_lead_row(lead);
  } else if (ctx().writer.own_utf8[two_bytes(p)] == 0) {
    note_own_utf8(p, is_own_three_byte_row(p) ? kOwnThreeByteRow : kMixedRow);
  }
  return len;
}

// Steps over one character at p[i] known to be written as its own one or two bytes (p[i + 1]
// must be readable); false when it is not known so.
inline bool skip_known_own(const unsigned char* p, std::size_t& i) {
  const unsigned len = ctx().writer.own_utf8[two_bytes(p + i)];
  if (len - 1 > 1) return false;  // 0: not known; a three-byte row: see the caller
  i += len;
  return true;
}

// The length of the leading characters of [p, p + n) that are written as their own bytes.
std::size_t own_utf8_prefix(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
  for (;;) {
    // Four characters of at most two bytes take at most eight: the bounds hold for all four.
    while (i + 9 <= n && skip_known_own(p, i) && skip_known_own(p, i) && skip_known_own(p, i) &&
           skip_known_own(p, i)) {
    }
    while (i + 1 < n && skip_known_own(p, i)) {
    }
    if (i == n) return i;
    if (i + 2 < n && ctx().writer.own_utf8[two_bytes(p + i)] == kOwnThreeByteRow && (p[i + 2] & 0xC0) == 0x80) {
      i += 3;
      continue;
    }
    const std::size_t len = learn_own_utf8(p + i, n - i);
    if (len == 0) return i;
    i += len;
  }
}

void write_units_to(const std::uint16_t* p, std::size_t n, Sink& sink, std::size_t margin) {
  WriterState& w = ctx().writer;
  if (margin == 0) {
    write_unwrapped(p, p + n, sink);
  } else if (margin <= kLineBufferSize - kLineSlack) {
    write_wrapped(p, p + n, sink, margin);
  } else {
    // A margin the start-up check would refuse: the general path keeps the buffer safe.
    Line line{w.bufpos, sink, w.bufcols, w.held_unit_begin, w.held_unit_end};
    for (const std::uint16_t* end = p + n; p < end;) p += append_general(p, end, line, margin);
    keep_held_line(line);
  }
}

}  // namespace

namespace {

// Blocks this long go to the file descriptor straight from where they lie: copying them into
// stdio's buffer first would cost as much as the conversion of text that is copied as it is.
constexpr std::size_t kDirectWrite = 65536;

// Writes all n bytes to fd; false on a failed write (errno tells why).
bool write_fully(int fd, const char* bytes, std::size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd, bytes, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

namespace {

// The bytes of [bytes, bytes + n) that hold no more characters than the limit has left, which
// they use up: each byte is a character of an 8-bit target, each byte that begins one of UTF-8.
bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t bytes_within_limit(Extraction& c, const char* bytes, std::size_t n) {
  if (c.target_charset) {
    const std::size_t taken = n < c.chars_left ? n : static_cast<std::size_t>(c.chars_left);
    c.chars_left -= taken;
    return taken;
  }
  std::uint64_t left = c.chars_left;
  std::size_t i = 0;
  for (; i < n; ++i) {
    if (is_continuation_byte(bytes[i])) continue;
    if (left == 0) break;
    --left;
  }
  c.chars_left = left;
  return i;
}

void write_bytes(Extraction& c, const char* bytes, std::size_t n) {
  // A write that fails (a closed pipe, a full disk) ends the run at once, whatever SIGPIPE
  // does: going on would only convert input nobody reads.
  std::FILE* out_file = c.out_file;
  if (!out_file) {
    if (n && !c.output.write(c.output.opaque, bytes, n)) output_failed();
    return;
  }
  if (n >= kDirectWrite) {
    const int fd = fileno(out_file);
    if (fd >= 0) {
      // What stdio holds goes first, to keep the order.
      if (std::fflush(out_file) != 0 || !write_fully(fd, bytes, n)) output_failed();
      return;
    }
  }
  if (n && io_fwrite(bytes, 1, n, out_file) != n) output_failed();
}

}  // namespace

void write_out(const char* bytes, std::size_t n) {
  Extraction& c = ctx();
  if (c.max_chars == 0) {
    write_bytes(c, bytes, n);
    return;
  }
  // With a character limit the text stops at it, and so does the reading.
  const std::size_t within = bytes_within_limit(c, bytes, n);
  write_bytes(c, bytes, within);
  if (within < n) {
    c.truncated = true;
    throw ReadingLimit{};
  }
}

void out_char(const char* seq) {
  WriterState& w = ctx().writer;
  Sink sink;
  Line line{w.bufpos, sink, w.bufcols, w.held_unit_begin, w.held_unit_end};
  line.append(seq, std::strlen(seq), ctx().wrap_margin > 0 ? static_cast<std::size_t>(ctx().wrap_margin) : 0);
  keep_held_line(line);
  sink.flush();
}

void output_paragraph(const std::uint16_t* par) { output_paragraph_units(par, units_up_to_zero(par)); }

void output_paragraph_units(const std::uint16_t* par, std::size_t n) {
  check_cache();
  Sink sink;
  write_units_to(par, n, sink, ctx().wrap_margin > 0 ? static_cast<std::size_t>(ctx().wrap_margin) : 0);
  sink.flush();
}

void refresh_conversions() { check_cache(); }

void write_units(const std::uint16_t* units, std::size_t n) {
  WriterState& w = ctx().writer;
  if (n == 0) return;
  check_cache();
  Sink sink;
  if (w.held_high_surrogate >= 0) {
    const std::uint16_t pair[2] = {static_cast<std::uint16_t>(w.held_high_surrogate), units[0]};
    w.held_high_surrogate = -1;
    bool joined = is_low_surrogate(units[0]);
    write_unwrapped(pair, pair + (joined ? 2 : 1), sink);
    units += joined;
    n -= joined;
  }
  if (n > 0 && is_high_surrogate(units[n - 1])) {
    w.held_high_surrogate = units[n - 1];
    --n;
  }
  write_unwrapped(units, units + n, sink);
  sink.flush();
}

namespace {

// The kinds of the bytes of a window, one bit per byte; own_row marks the two-byte leads whose
// 64 characters are all known to be written as their own bytes.
template <class Mask>
struct WindowBytes {
  Mask ascii = 0, odd_ascii = 0, continuation = 0, lead2 = 0, lead3 = 0, own_row = 0;
};

// The kinds of the 32 bytes at p. Inlined also where wider instructions are allowed.
[[gnu::always_inline]] inline WindowBytes<std::uint32_t> classify_window(const unsigned char* p) {
  WindowBytes<std::uint32_t> w;
#if defined(__SSE2__)
  // As signed bytes: ASCII is 0..127, continuations -128..-65, leads C2..DF -62..-33, leads
  // E0..EF -32..-17.
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  auto bits = [](__m128i a, __m128i b) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(a)) |
           static_cast<std::uint32_t>(_mm_movemask_epi8(b)) << 16;
  };
  auto below = [&](int limit) {
    const __m128i l = _mm_set1_epi8(static_cast<char>(limit));
    return bits(_mm_cmplt_epi8(lo, l), _mm_cmplt_epi8(hi, l));
  };
  const __m128i del = _mm_set1_epi8(0x7F);
  w.ascii = ~bits(lo, hi);
  w.odd_ascii = w.ascii & (below(0x20) | bits(_mm_cmpeq_epi8(lo, del), _mm_cmpeq_epi8(hi, del)));
  w.continuation = below(-64);
  const std::uint32_t below_lead2 = below(-62), below_lead3 = below(-32);
  w.lead2 = below_lead3 & ~below_lead2;
  w.lead3 = below(-16) & ~below_lead3;
#else
  for (unsigned k = 0; k < 32; ++k) {
    const unsigned b = p[k];
    const std::uint32_t bit = std::uint32_t{1} << k;
    if (b < 0x80) w.ascii |= bit;
    if (b < 0x20 || b == 0x7F) w.odd_ascii |= bit;
    if (b >= 0x80 && b < 0xC0) w.continuation |= bit;
    if (b >= 0xC2 && b < 0xE0) w.lead2 |= bit;
    if (b >= 0xE0 && b < 0xF0) w.lead3 |= bit;
  }
#endif
  return w;
}

// The bytes of the window w at p (one byte more readable) that are whole characters already
// known to be written as their own bytes: all of them, or up to where the character cut by the
// window's end begins; 0 when any of them is not known so (or not well formed). A two-byte
// character of an own row needs no look; the others are looked up apart from each other, so
// that the lookups overlap instead of each waiting for the previous one.
template <class Mask>
[[gnu::always_inline]] inline std::size_t known_own_length(const WriterState& state,
                                                           const WindowBytes<Mask>& w,
                                                           const unsigned char* p) {
  constexpr std::size_t kBits = sizeof(Mask) * 8;
  const Mask starts = w.ascii | w.lead2 | w.lead3;
  if ((starts | w.continuation) != static_cast<Mask>(~Mask{0})) return 0;  // C0, C1, F0..FF
  const Mask leads = w.lead2 | w.lead3;
  if (static_cast<Mask>((leads << 1) | (w.lead3 << 2)) != w.continuation) return 0;
  const bool cut = ((leads >> (kBits - 1)) | (w.lead3 >> (kBits - 2))) != 0;
  const std::size_t whole = cut ? kBits - 1 - static_cast<std::size_t>(std::countl_zero(starts)) : kBits;
  if (whole == 0) return 0;
  Mask look = (w.lead2 & ~w.own_row) | w.lead3 | (state.cache.ascii_is_identity ? w.odd_ascii : w.ascii);
  if (whole < kBits) look &= static_cast<Mask>((Mask{1} << whole) - 1);
  unsigned unknown = 0;
  for (; look != 0; look &= look - 1) {
    // An ASCII byte's entry is kOwnAscii, a two-byte lead's kOwnTwoBytes and a three-byte
    // lead's kOwnThreeByteRow when they are known to be written as they are.
    const unsigned e = state.own_utf8[two_bytes(p + std::countr_zero(look))];
    unknown |= e - 1 > 2;
  }
  return unknown ? 0 : whole;
}

// How far windows of known characters reach from p (n bytes there), before a window with
// some that are not known.
std::size_t known_own_windows(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
  const WriterState& state = ctx().writer;
  for (std::size_t step; i + 33 <= n && (step = known_own_length(state, classify_window(p + i), p + i)) > 0;) i += step;
  return i;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DORVEX_WIDER_UTF8_SCAN 1

// The own_row bits of the 16 bytes at p: each byte's flag in own_lead_row, by a shuffle.
__attribute__((target("ssse3"))) inline std::uint32_t own_rows_of_half(const WriterState& w,
                                                                       const unsigned char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i rows_c = _mm_load_si128(reinterpret_cast<const __m128i*>(w.own_lead_row.data()));
  const __m128i rows_d = _mm_load_si128(reinterpret_cast<const __m128i*>(w.own_lead_row.data() + 16));
  const __m128i index = _mm_and_si128(v, _mm_set1_epi8(0x0F));
  const __m128i high_half = _mm_set1_epi8(0x10);
  const __m128i in_d = _mm_cmpeq_epi8(_mm_and_si128(v, high_half), high_half);
  const __m128i flags = _mm_or_si128(_mm_and_si128(in_d, _mm_shuffle_epi8(rows_d, index)),
                                     _mm_andnot_si128(in_d, _mm_shuffle_epi8(rows_c, index)));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(flags));
}

// known_own_windows, with the two-byte characters of own rows taken without a look each.
__attribute__((target("ssse3"))) std::size_t known_own_windows_by_rows(const unsigned char* p,
                                                                       std::size_t n) {
  std::size_t i = 0;
  const WriterState& state = ctx().writer;
  for (std::size_t step;; i += step) {
    if (i + 33 > n) break;
    WindowBytes<std::uint32_t> w = classify_window(p + i);
    w.own_row = w.lead2 & (own_rows_of_half(state, p + i) | own_rows_of_half(state, p + i + 16) << 16);
    step = known_own_length(state, w, p + i);
    if (step == 0) break;
  }
  return i;
}

// The same for 64 bytes at once, 32 to an instruction.
__attribute__((target("avx2"))) inline std::uint64_t wide_bits(__m256i a, __m256i b) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(a)) |
         std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(b))} << 32;
}

__attribute__((target("avx2"))) inline std::uint64_t wide_below(__m256i a, __m256i b, int limit) {
  const __m256i l = _mm256_set1_epi8(static_cast<char>(limit));
  return wide_bits(_mm256_cmpgt_epi8(l, a), _mm256_cmpgt_epi8(l, b));
}

// The own-row table of lead bytes C0..DF, as two broadcast halves: loaded once per scan.
struct WideRows {
  __m256i c, d;
};

__attribute__((target("avx2"))) inline WideRows load_wide_rows(const WriterState& state) {
  const __m128i* rows = reinterpret_cast<const __m128i*>(state.own_lead_row.data());
  return {_mm256_broadcastsi128_si256(_mm_load_si128(rows)),
          _mm256_broadcastsi128_si256(_mm_load_si128(rows + 1))};
}

__attribute__((target("avx2"))) inline __m256i wide_own_rows(__m256i v, const WideRows& rows) {
  const __m256i rows_c = rows.c;
  const __m256i rows_d = rows.d;
  const __m256i index = _mm256_and_si256(v, _mm256_set1_epi8(0x0F));
  const __m256i high_half = _mm256_set1_epi8(0x10);
  const __m256i in_d = _mm256_cmpeq_epi8(_mm256_and_si256(v, high_half), high_half);
  return _mm256_blendv_epi8(_mm256_shuffle_epi8(rows_c, index), _mm256_shuffle_epi8(rows_d, index), in_d);
}

__attribute__((target("avx2"))) inline WindowBytes<std::uint64_t> classify_wide_window(const unsigned char* p,
                                                                                       const WideRows& rows) {
  const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  const __m256i del = _mm256_set1_epi8(0x7F);
  WindowBytes<std::uint64_t> w;
  w.ascii = ~wide_bits(lo, hi);
  w.odd_ascii = w.ascii & (wide_below(lo, hi, 0x20) |
                           wide_bits(_mm256_cmpeq_epi8(lo, del), _mm256_cmpeq_epi8(hi, del)));
  w.continuation = wide_below(lo, hi, -64);
  const std::uint64_t below_lead2 = wide_below(lo, hi, -62), below_lead3 = wide_below(lo, hi, -32);
  w.lead2 = below_lead3 & ~below_lead2;
  w.lead3 = wide_below(lo, hi, -16) & ~below_lead3;
  w.own_row = w.lead2 & wide_bits(wide_own_rows(lo, rows), wide_own_rows(hi, rows));
  return w;
}

__attribute__((target("avx2"))) std::size_t known_own_wide_windows(const unsigned char* p,
                                                                   std::size_t n) {
  std::size_t i = 0;
  const WriterState& state = ctx().writer;
  const WideRows rows = load_wide_rows(state);
  for (std::size_t step; i + 65 <= n && (step = known_own_length(state, classify_wide_window(p + i, rows), p + i)) > 0;) i += step;
  // The rest, shorter than a wide window, in narrower ones.
  return i + known_own_windows_by_rows(p + i, n - i);
}

VectorWidth widest_vectors() {
  __builtin_cpu_init();  // asked while static objects are made, maybe before it ran on its own
  if (__builtin_cpu_supports("avx2")) return VectorWidth::kWide;
  if (__builtin_cpu_supports("ssse3")) return VectorWidth::kShuffle;
  return VectorWidth::kPlain;
}
#else
VectorWidth widest_vectors() { return VectorWidth::kPlain; }
#endif

VectorWidth vectors = widest_vectors();

// Where the windows of known characters end, by the widest vectors allowed.
std::size_t known_own_windows_by_scan(const unsigned char* p, std::size_t n) {
#if defined(DORVEX_WIDER_UTF8_SCAN)
  if (vectors == VectorWidth::kWide) return known_own_wide_windows(p, n);
  if (vectors == VectorWidth::kShuffle) return known_own_windows_by_rows(p, n);
#endif
  return known_own_windows(p, n);
}

// Bytes tried the old way, one character after another, when a window is not all known.
constexpr std::size_t kLearnStretch = 64;

// own_utf8_prefix, a window at a time where the characters are known already.
std::size_t own_utf8_prefix_in_windows(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
  for (;;) {
    i += known_own_windows_by_scan(p + i, n - i);
    const std::size_t stretch = std::min(n - i, kLearnStretch);
    const std::size_t run = own_utf8_prefix(p + i, stretch);
    i += run;
    // Done at the end of the text, or at a character that was not cut by the stretch's end.
    if (stretch == n - (i - run) || run + 3 <= stretch) return i;
  }
}

// A high surrogate held for its pair, when none can follow any more, is written as a lone one.
void write_held_surrogate_as_lone() {
  WriterState& w = ctx().writer;
  if (w.held_high_surrogate < 0) return;
  const std::uint16_t lone = static_cast<std::uint16_t>(w.held_high_surrogate);
  w.held_high_surrogate = -1;
  Sink sink;
  write_unwrapped(&lone, &lone + 1, sink);
  sink.flush();
}

}  // namespace

std::size_t write_utf8_as_is(const unsigned char* text, std::size_t n) {
  check_cache();
  const std::size_t run = own_utf8_prefix_in_windows(text, n);
  if (run == 0) return 0;
  write_held_surrogate_as_lone();  // no low surrogate follows
  write_out(reinterpret_cast<const char*>(text), run);
  return run;
}

VectorWidth vector_width() { return vectors; }

bool limit_vector_width(VectorWidth widest) {
  vectors = std::min(widest_vectors(), widest);
  return vectors == widest;
}

void write_char(int u) {
  if (u < 0 || u > 0xFFFF) return;
  const std::uint16_t unit = static_cast<std::uint16_t>(u);
  write_units(&unit, 1);
}

void flush_line() {
  WriterState& w = ctx().writer;
  write_held_surrogate_as_lone();
  if (w.bufpos == 0) return;
  write_out(w.outputbuffer, w.bufpos);
  write_out("\n", 1);
  w.bufpos = w.bufcols = w.held_unit_begin = w.held_unit_end = 0;
}

void drop_line() {
  WriterState& w = ctx().writer;
  w.held_high_surrogate = -1;
  w.bufpos = 0;
  w.bufcols = 0;
  w.held_unit_begin = w.held_unit_end = 0;
}

void reset_writer() {
  WriterState& w = ctx().writer;
  w.cache.valid = false;
  w.held_high_surrogate = -1;
  w.bufpos = w.bufcols = w.held_unit_begin = w.held_unit_end = 0;
}

}  // namespace dorvex
