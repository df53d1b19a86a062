// The RTF reader.
#ifndef DORVEX_RTFREAD_H
#define DORVEX_RTFREAD_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "charsets.h"

namespace dorvex {

extern int forced_charset;             // -s given: code pages in documents are ignored
extern CharsetTable current_charset;   // the table bytes of the document are read through

// Reads an RTF document and writes its paragraphs. prefix/prefix_len: the bytes format
// detection consumed, handed back when the stream cannot be repositioned (a pipe).
// Returns 0, or 1 when memory for the group stack ran out.
int parse_rtf(std::FILE* f, const unsigned char* prefix, std::size_t prefix_len);

// The bytes of one document: first the handed-back prefix (when the stream could not be
// rewound), then the stream. One character of push-back. eof is set by the first read that
// finds no more input and stays set.
struct RtfStream {
  std::FILE* file = nullptr;
  const unsigned char* prefix = nullptr;
  std::size_t prefix_len = 0;
  std::size_t prefix_pos = 0;
  int pushed = EOF;
  bool eof = false;
};

inline int rtf_getc(RtfStream& in) {
  if (in.pushed != EOF) {
    int c = in.pushed;
    in.pushed = EOF;
    return c;
  }
  if (in.prefix_pos < in.prefix_len) return in.prefix[in.prefix_pos++];
  if (in.eof) return EOF;
  int c = getc_unlocked(in.file);
  if (c == EOF) in.eof = true;
  return c;
}

// Pushing back EOF does nothing, as with ungetc.
inline void rtf_ungetc(RtfStream& in, int c) { in.pushed = c; }

constexpr std::size_t kRtfNameLimit = 32;  // letters of a control word kept as its name

// Kinds given by the tokenizer rather than by rtf_types.
constexpr int kRtfHexEscape = 4;
constexpr int kRtfControlSymbol = 27;
constexpr int kRtfUnlisted = 10;

struct RtfCommand {
  int type = 0;
  char name[kRtfNameLimit + 1] = {};
  std::int32_t param = 0;
};

struct RtfKeyword {
  const char* name;
  int type;
};

// The control words the reader knows, searched in order.
extern const RtfKeyword rtf_types[32];

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
// small cache owned by this module.
void rtfSetCharset(CharsetTable& charset, std::int32_t codepage);

// Appends one unit to the paragraph; a paragraph that fills the buffer is written as it is.
void add_to_buffer(std::int32_t& last, std::uint16_t unit);

// Ends the paragraph with a newline and writes it.
void end_paragraph(std::int32_t& last);

// Releases the tables rtfSetCharset loaded and undoes its change of source_csname;
// current_charset goes back to source_charset (tests, fuzzing).
void release_rtf_charsets();

}  // namespace dorvex

#endif  // DORVEX_RTFREAD_H
