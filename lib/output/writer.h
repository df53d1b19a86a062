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

// The paragraph buffer shared by the readers (ended by a 0 unit; the plain-text copy borrows it
// as a byte buffer) is the extraction's buffer, the wrap margin its wrap_margin, and its text
// goes to its out_file or output (context.h).

struct SubstMap;
struct ReverseMap;

namespace detail {
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
  // Every printable ASCII unit (0x20..0x7E) converts to its own byte, as in every shipped
  // charset and format: runs of them are copied without looking anything up.
  bool ascii_is_identity = false;
  std::array<std::uint32_t, 65536> entry;
};

// UTF-8 characters known to be written as their own bytes, by their first two bytes in memory
// order: kOwnAscii for an ASCII byte (whatever byte follows), kOwnTwoBytes for a two-byte
// character, kOwnThreeByteRow when the 64 three-byte characters that begin so all are,
// kMixedRow when not all of them are, and 0 when not known (yet).
constexpr std::uint8_t kOwnAscii = 1, kOwnTwoBytes = 2, kOwnThreeByteRow = 3, kMixedRow = 4;

// Output is gathered in a block and handed on in blocks; every public call of the writer leaves
// it empty, so its output is out when the call returns.
constexpr std::size_t kBlockSize = 16384;
// The slack behind the 512 bytes the margin check counts on lets a short conversion be stored
// with one unconditional 4-byte write; text is moved in pieces of 16 bytes, which may reach
// this far past its end.
constexpr std::size_t kLineSlack = 8;
constexpr std::size_t kPieceSlack = 16;
}  // namespace detail

// The writer's state in one extraction.
struct WriterState {
  // The line being filled; bufpos is its length.
  char outputbuffer[kLineBufferSize + detail::kLineSlack + detail::kPieceSlack];
  std::size_t bufpos = 0;
  // The columns of the held text, which the margin counts, and the one converted character of
  // several bytes last appended to it, which a forced break must not divide (its end 0: none).
  std::size_t bufcols = 0;
  std::size_t held_unit_begin = 0, held_unit_end = 0;
  char out_block[detail::kBlockSize + detail::kPieceSlack];
  detail::ConversionCache cache;
  // Filled as characters are met, emptied with the cache.
  std::array<std::uint8_t, 65536> own_utf8;
  bool own_utf8_dirty = false;
  // For the two-byte leads C0..DF: 0x80 when all 64 characters of the lead are known to be
  // written as their own bytes, else 0. A lead's row is looked at when its first character is
  // met (lead_row_known), and forgotten with own_utf8.
  alignas(16) std::array<std::uint8_t, 32> own_lead_row;
  std::uint32_t lead_row_known = 0;
  // A high surrogate at the end of a block of the plain-text copy waits for the next block.
  int held_high_surrogate = -1;
};

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

// Empties the line buffer without writing (a reading that ended early: the program's exit left
// it unwritten too).
void drop_line();

// Empties the line buffer without writing, and forgets the conversions looked up so far (the
// writer assumes the conversion settings stay as start-up left them until this is called).
void reset_writer();

// Thrown by write_out when the extraction's max_chars are written: the reading stops there.
struct ReadingLimit {};

// Writes n bytes to out_file (or the extraction's output); the one place output goes through.
// A failed write reports "stdout: <error>" and ends the reading with status 1 (ProgramEnd); with
// max_chars set, the characters past the limit are dropped and ReadingLimit thrown.
void write_out(const char* bytes, std::size_t n);

}  // namespace dorvex

#endif  // DORVEX_WRITER_H
