// Line widths as a reader sees them: in columns, not bytes. A character takes one column, an East
// Asian wide or fullwidth character two, a combining mark or format character none.
#ifndef DORVEX_COLUMNS_H
#define DORVEX_COLUMNS_H

#include <cstddef>
#include <cstdint>

namespace dorvex {

// Columns of one code point: 0, 1 or 2.
int char_columns(std::uint32_t cp);

// Columns of converted output bytes: decoded as UTF-8 when utf8 (a byte that begins no
// well-formed character counts one), else one per byte (an 8-bit target).
std::size_t text_columns(const char* bytes, std::size_t n, bool utf8);

// Where a held line is broken: bytes [0, end) are written as a line, the text from next on is
// kept (next is end + 1 when the break space is dropped).
struct LineBreak {
  std::size_t end;
  std::size_t next;
};

// Breaks line[0, len), whose columns exceed margin (at least 1): at the last break space (space,
// tab, 0x0A to 0x0D) whose text before it fits the margin, or between two wide characters,
// whichever comes last; without either, after the characters that fit (at least one, with the
// combining marks after it). [unit_begin, unit_end) is one converted character of several bytes
// in an 8-bit target (a hexadecimal escape, a replacement), which a forced break never divides;
// unit_end 0 when there is none.
LineBreak find_line_break(const char* line, std::size_t len, std::size_t margin, bool utf8,
                          std::size_t unit_begin, std::size_t unit_end);

}  // namespace dorvex

#endif  // DORVEX_COLUMNS_H
