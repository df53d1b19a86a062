// Where a Word document in a compound file keeps its text, as the document itself says: the
// story lengths of its file information block, its piece table (in the table stream for Word
// 97-2003, in the WordDocument stream for Word 6/95), and the code page of Word 6/95 8-bit
// text from its font table. Also reads the text through the pieces, run by run.
#ifndef DORVEX_WORDPIECES_H
#define DORVEX_WORDPIECES_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "listlabels.h"
#include "ole.h"

namespace dorvex {

// A stretch of text stored in one piece: character positions [cp_begin, cp_end) lie at byte
// offset in the WordDocument stream, one byte (8-bit) or two (16-bit little-endian) each.
struct TextRun {
  std::uint32_t cp_begin, cp_end;
  std::uint32_t offset;
  bool eight_bit;
  bool ends_story;  // the run ends a story (main text, footnotes, headers...)
};

struct WordPieces {
  std::vector<TextRun> runs;  // in character-position order, within the story lengths
  std::size_t pieces = 0;     // pieces the table holds
};

// Word 97 and later: nFib (header offset 2) of 0x00C1 or more.
bool is_word97_header(const unsigned char* header);
// Word 6.0 and Word 95: nFib 101 to 105.
bool is_word6_header(const unsigned char* header);

// The piece table of the WordDocument stream doc (opened, entry doc_index of the directory)
// whose first 128 bytes are header, validated and cut to the story lengths. False when the
// document has none that can be used: it is then read by its header's text range.
bool find_word_pieces(OleStream* doc, std::int32_t doc_index, const unsigned char* header,
                      WordPieces* out);

// The table that decodes 8-bit text of the document: for Word 97 cp1252; for Word 6/95 the
// code page of its character-set field, creation environment and font table; the source
// charset when -s was given to Word 6/95 text, or when the table cannot be loaded.
const std::uint16_t* word_8bit_charset(OleStream* doc, const unsigned char* header);

// The name of the Word 6/95 code page the document states (never null).
const char* word6_codepage(OleStream* doc, const unsigned char* header);

// The table stream beside doc (Word 97-2003), as much of it as can be read; empty when there is
// none.
std::vector<unsigned char> read_table_stream(OleStream* doc, std::int32_t doc_index,
                                             const unsigned char* header);

// Word 6/95 8-bit text by its header's text range, as runs cut at the story lengths: how a
// document without a piece table is read when its paragraphs need positions.
bool word6_range_pieces(const unsigned char* header, std::uint32_t doc_size, WordPieces* out);

// Reads the runs of doc, decoding 8-bit runs with table, into paragraphs under the document
// rules; each label of labels (or none) goes in front of the paragraph it belongs to.
void read_word_pieces(OleStream* doc, const WordPieces& pieces, const std::uint16_t* table,
                      const ParagraphLabels* labels = nullptr);

}  // namespace dorvex

#endif  // DORVEX_WORDPIECES_H
