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

}  // namespace dorvex

#endif  // DORVEX_RTFREAD_H
