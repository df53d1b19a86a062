// Format detection, and the Word file header.
#ifndef DORVEX_ANALYZE_H
#define DORVEX_ANALYZE_H

#include <cstdint>
#include <cstdio>

#include "metadata.h"
#include "ole.h"

namespace dorvex {

// -b (signature_check 0: every input is raw Word text) and -v (verbose: report the Word
// header) are settings of the extraction.

// Recognises the input by its first bytes and hands it to its reader. Returns the input's exit
// status (0, 1, 69). Hooks are in standard mode on entry and on return. metadata: where what the
// document states about itself goes (null: not looked for); decode reads summary strings; name:
// the input as the user named it, for messages.
int analyze_format(std::FILE* f, Metadata* metadata = nullptr, CodePageDecoder decode = {},
                   const char* name = "stdin");

// header: the first 128 bytes of a Word document; stream positioned after the consumed bytes;
// adjustment: minus the bytes consumed; position: the bytes consumed. 69 when encrypted, else 0.
int parse_word_header(const unsigned char* header, StreamHandle stream, std::int32_t adjustment,
                      std::int32_t position);

}  // namespace dorvex

#endif  // DORVEX_ANALYZE_H
