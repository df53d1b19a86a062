// The RTF reader.
#ifndef DORVEX_RTFREAD_H
#define DORVEX_RTFREAD_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "charsets.h"
#include "metadata.h"

namespace dorvex {

extern int forced_charset;             // -s given: code pages in documents are ignored
// The table bytes of the document are read through: the code page of the font in force, else
// the document's.
extern const std::uint16_t* current_charset;

// Reads an RTF document and writes its paragraphs. prefix/prefix_len: the bytes format
// detection consumed, handed back when the stream cannot be repositioned (a pipe).
// Returns 0, or 1 when memory for the group stack ran out. metadata: where the \info group's
// fields go (null: not collected).
int parse_rtf(std::FILE* f, const unsigned char* prefix, std::size_t prefix_len,
              Metadata* metadata = nullptr);

constexpr std::size_t kRtfBlockSize = 32768;

// The bytes of one document, read in blocks: first the handed-back prefix (when the stream could
// not be rewound), then the stream. [pos, end) is what is left of the current block. eof is set
// by the first read that finds no more input and stays set.
struct RtfStream {
  std::FILE* file = nullptr;
  const unsigned char* pos = nullptr;
  const unsigned char* end = nullptr;
  bool eof = false;
  std::array<unsigned char, kRtfBlockSize> block;
};

// Reads the next block; false (and eof set) at the end of the input.
bool rtf_refill(RtfStream& in);

inline int rtf_getc(RtfStream& in) {
  if (in.pos == in.end && !rtf_refill(in)) return EOF;
  return *in.pos++;
}

// Pushes back the character rtf_getc just returned (EOF: nothing). Only that one: the block
// still holds it, so pushing back is a step back.
inline void rtf_ungetc(RtfStream& in, int c) {
  if (c != EOF) --in.pos;
}

constexpr std::size_t kRtfNameLimit = 32;  // letters of a control word kept as its name

// Kinds given by the tokenizer rather than by rtf_types.
constexpr int kRtfHexEscape = 4;
constexpr int kRtfControlSymbol = 27;
constexpr int kRtfUnlisted = 10;

struct RtfCommand {
  int type = 0;
  char name[kRtfNameLimit + 1];  // set by getRtfCommand; the in-place reading leaves it alone
  std::int32_t param = 0;
};

struct RtfKeyword {
  const char* name;
  int type;
};

// The control words the reader knows, searched in order.
constexpr std::size_t kRtfKeywordCount = 49;
extern const RtfKeyword rtf_types[kRtfKeywordCount];

// Reads what follows a backslash. 0 when a command was read, nonzero when the input ended
// inside an escape (the command is then to be ignored).
int getRtfCommand(RtfStream& in, RtfCommand& cmd);

// Kind of a control word from rtf_types; kRtfUnlisted when no row matches.
int getCommandType(const char* name);

// The numeric parameter: digits and minus signs of one run (at most 32 kept, the rest
// consumed), read as strtol does with base 10, clamped to the signed 32-bit range.
std::int32_t getNumber(RtfStream& in);

// The value of up to two hex digits (0 when there are none), or -1 when the input ended.
int getCharCode(RtfStream& in);

// Unicode value of a document byte through current_charset; U+FEFF for a negative code.
int rtf_to_unicode(int code);

// Switches *charset to the table of a code page (nothing when -s was given). A code page
// that cannot be named or loaded leaves *charset as it is. Tables loaded here are kept in a
// cache owned by this module.
void rtfSetCharset(CharsetTable& charset, std::int32_t codepage);

// The code page a font's \fcharsetN stands for; 0 for the document's own code page.
std::int32_t codepage_of_fcharset(std::int32_t fcharset);

// Appends one unit to the paragraph; a paragraph that fills the buffer is written as it is
// (a surrogate pair is not divided between two pieces).
void add_to_buffer(std::int32_t& last, std::uint16_t unit);

// Ends the paragraph with a newline and writes it.
void end_paragraph(std::int32_t& last);

// Releases the 8-bit tables rtfSetCharset and the fonts loaded (double-byte tables stay) and undoes
// rtfSetCharset's change of source_csname; current_charset goes back to source_charset (tests,
// fuzzing).
void release_rtf_charsets();

}  // namespace dorvex

#endif  // DORVEX_RTFREAD_H
