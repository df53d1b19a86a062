// The paragraph writer: converts paragraphs of Unicode units and wraps them into lines.
#ifndef DORVEX_WRITER_H
#define DORVEX_WRITER_H

#include <array>
#include <cstdint>
#include <cstdio>

namespace dorvex {

constexpr std::size_t kParagraphUnits = 262144;
constexpr std::size_t kLineBufferSize = 512;

// The paragraph buffer shared by the readers, ended by a 0 unit. The plain-text copy borrows it
// as a byte buffer.
extern std::array<std::uint16_t, kParagraphUnits> buffer;

extern int wrap_margin;  // greatest line width in bytes; 0: no wrapping

// Where all text goes; stdout unless a test redirects it.
extern std::FILE* out_file;

// Converts and writes the units of par up to its first 0 unit.
void output_paragraph(const std::uint16_t* par);

// Appends one converted character (zero-terminated bytes) to the line, wrapping at wrap_margin.
void out_char(const char* seq);

// Converts u and writes it unwrapped (the plain-text copy). Call refresh_conversions() once
// before a run of write_char calls, after any change of the conversion settings.
void write_char(int u);
void refresh_conversions();

// Writes the text still held in the line buffer, followed by a newline (end of an input).
void flush_line();

// Empties the line buffer without writing, and forgets the conversions looked up so far (the
// writer assumes the conversion settings stay as start-up left them until this is called).
void reset_writer();

// Writes n bytes to out_file; the one place output goes through.
void write_out(const char* bytes, std::size_t n);

}  // namespace dorvex

#endif  // DORVEX_WRITER_H
