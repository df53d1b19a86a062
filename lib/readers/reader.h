// The Word text stream (control codes, paragraphs) and its 8/16-bit block decoder.
#ifndef DORVEX_READER_H
#define DORVEX_READER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ole.h"
#include "wordtext.h"

namespace dorvex {

constexpr std::int32_t kNoEnd = 0x7FFFFFFF;

// Reads Word text through get_unicode_char (which must be set) from the current position and
// writes it paragraph by paragraph. end: text length, tested between paragraphs. Returns 0.
int process_file(StreamHandle stream, std::int32_t end);

// process_file under the given control-code rules (classic for process_file itself).
int process_word_text(StreamHandle stream, std::int32_t end, WordRules rules);

// Decoder for Word text stored 8-bit or 16-bit per 256-byte block. Never returns -1.
int get_word8_char(StreamHandle stream, std::int32_t* offset, std::int32_t end);

// Forgets the block held by get_word8_char (tests; a new text reloads it anyway).
void reset_word8_block();

// get_word8_char's block size.
constexpr std::size_t kWord8Block = 256;

// The Word text reader's blocks in one extraction: get_word8_char's block (kept between calls,
// and between inputs: a new text starts at offset 0 and so always loads a fresh block) and the
// chunks of text read to its end.
struct ReaderState {
  std::array<unsigned char, kWord8Block> read_buf;
  std::size_t read_len = 0;  // bytes of read_buf that came from the stream
  int buf_is_unicode = 0;
  std::array<unsigned char, kBlockUnits> chunk;
};

}  // namespace dorvex

#endif  // DORVEX_READER_H
