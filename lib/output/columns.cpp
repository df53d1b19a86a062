#include "columns.h"

#include <algorithm>
#include <iterator>

#include "utf8step.h"

namespace dorvex {

namespace {

struct WidthRange {
  std::uint32_t first, last;
};

#include "widths.inc"

bool in_ranges(const WidthRange* begin, const WidthRange* end, std::uint32_t cp) {
  const WidthRange* r = std::upper_bound(
      begin, end, cp, [](std::uint32_t c, const WidthRange& w) { return c < w.first; });
  return r != begin && cp <= (r - 1)->last;
}

bool is_break_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The character at line[i]: its byte length and columns.
struct Glyph {
  std::size_t len;
  int columns;
};

Glyph glyph_at(const char* line, std::size_t i, std::size_t len, bool utf8) {
  const auto* p = reinterpret_cast<const unsigned char*>(line + i);
  if (!utf8 || *p < 0x80) return {1, 1};
  const Utf8Char c = utf8_char(p, len - i, false);  // a bad byte: U+FFFD, one column
  return {c.len, char_columns(c.value)};
}

}  // namespace

int char_columns(std::uint32_t cp) {
  if (cp < 0x0300) return cp == 0 ? 0 : 1;  // Latin: the common case, one column each
  if (in_ranges(std::begin(kZeroWidth), std::end(kZeroWidth), cp)) return 0;
  if (cp < 0x1100) return 1;
  return in_ranges(std::begin(kDoubleWidth), std::end(kDoubleWidth), cp) ? 2 : 1;
}

std::size_t text_columns(const char* bytes, std::size_t n, bool utf8) {
  if (!utf8) return n;
  std::size_t columns = 0;
  for (std::size_t i = 0; i < n;) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++columns;
      ++i;
      continue;
    }
    const Glyph g = glyph_at(bytes, i, n, true);
    columns += static_cast<std::size_t>(g.columns);
    i += g.len;
  }
  return columns;
}

LineBreak find_line_break(const char* line, std::size_t len, std::size_t margin, bool utf8,
                          std::size_t unit_begin, std::size_t unit_end) {
  std::size_t columns = 0;  // of line[0, i)
  std::size_t i = 0;
  LineBreak found{0, 0};
  bool after_wide = false;
  while (i < len) {
    const Glyph g = glyph_at(line, i, len, utf8);
    if (i > 0) {
      if (is_break_space(line[i])) {
        found = {i, i + 1};
      } else if (after_wide && g.columns == 2) {
        found = {i, i};
      }
    }
    if (g.columns > 0 && columns + static_cast<std::size_t>(g.columns) > margin) break;
    columns += static_cast<std::size_t>(g.columns);
    if (g.columns > 0) after_wide = g.columns == 2;
    i += g.len;
  }
  if (found.end > 0) return found;
  // Forced: after what fits, at least the first character and its combining marks.
  if (i == 0) {
    i = glyph_at(line, 0, len, utf8).len;
    while (i < len && glyph_at(line, i, len, utf8).columns == 0)
      i += glyph_at(line, i, len, utf8).len;
  }
  if (unit_begin < i && i < unit_end) i = unit_begin > 0 ? unit_begin : unit_end;
  return {i, i};
}

}  // namespace dorvex
