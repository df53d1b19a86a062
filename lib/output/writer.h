// The paragraph writer: converts paragraphs of Unicode units and wraps them into lines.
#ifndef DORVEX_WRITER_H
#define DORVEX_WRITER_H

#include <array>
#include <cstdint>
#include <cstdio>

namespace dorvex {

constexpr std::size_t kParagraphUnits = 262144;
constexpr std::size_t kLineBufferSize = 512;

// Units with a meaning of their own in a paragraph, shared by every reader: the end of a line
// (and of the paragraph), a table cell and the end of a table row. The output format's maps
// decide how cells and rows look.
constexpr std::uint16_t kLineEnd = 10;
constexpr std::uint16_t kCellSeparator = 0x1C;
constexpr std::uint16_t kRowEnd = 0x1E;

// The paragraph buffer shared by the readers, ended by a 0 unit. The plain-text copy borrows it
// as a byte buffer.
extern std::array<std::uint16_t, kParagraphUnits> buffer;

extern int wrap_margin;  // greatest line width in bytes; 0: no wrapping

// Where all text goes; stdout unless a test redirects it.
extern std::FILE* out_file;

// Converts and writes the units of par up to its first 0 unit.
void output_paragraph(const std::uint16_t* par);
// The same for a paragraph whose length the caller already knows: its n units, none of them 0.
void output_paragraph_units(const std::uint16_t* par, std::size_t n);

// Appends one converted character (zero-terminated bytes) to the line, wrapping at wrap_margin.
void out_char(const char* seq);

// Converts units and writes them unwrapped (the plain-text copy). A surrogate pair is one character, also when a block ends between its
// units: a high surrogate at the end waits for the next call, or for flush_line.
void write_units(const std::uint16_t* units, std::size_t n);

// For UTF-8 text [text, text + n): writes its leading characters that convert to their own
// bytes (as most do for a UTF-8 target) as they are, and returns how many bytes that is. Stops
// before the first character that is not so, not well formed, or cut by the end; that one is
// for write_units, as a character of the text, to convert.
std::size_t write_utf8_as_is(const unsigned char* text, std::size_t n);

// The widest vector instructions the copies of text use: SSE2 alone (or none, off x86-64), with
// a byte shuffle (SSSE3), or 32-byte vectors (AVX2). The widest the processor has is chosen
// when the program starts, so that one build runs anywhere.
enum class VectorWidth { kPlain, kShuffle, kWide };
VectorWidth vector_width();

// Lets the copies go no wider than widest (for comparing the ways); returns whether they now
// go that wide, which the processor may not allow.
bool limit_vector_width(VectorWidth widest);

// write_units of one unit; values outside 0..0xFFFF are ignored.
void write_char(int u);

// Takes up changed conversion settings (the writer notices changed tables and maps itself).
void refresh_conversions();

// Writes the text still held in the line buffer, followed by a newline, and a high surrogate
// still waiting for its pair (end of an input).
void flush_line();

// Empties the line buffer without writing, and forgets the conversions looked up so far (the
// writer assumes the conversion settings stay as start-up left them until this is called).
void reset_writer();

// Writes n bytes to out_file; the one place output goes through. A failed write reports
// "stdout: <error>" and ends the program with status 1.
void write_out(const char* bytes, std::size_t n);

}  // namespace dorvex

#endif  // DORVEX_WRITER_H
