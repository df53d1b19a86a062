// The lists of a Word document (.doc): which paragraphs are numbered or bulleted and with what
// label, from the paragraphs' properties (the paragraph property pages and the style sheet),
// the list tables of Word 97-2003 (list definitions and overrides) and the autonumbering of
// Word 6/95 paragraphs.
#ifndef DORVEX_WORDLISTS_H
#define DORVEX_WORDLISTS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "listlabels.h"
#include "ole.h"
#include "wordpieces.h"

namespace dorvex {

// Reads n bytes at offset of the WordDocument stream into dest; false when they are not all
// there.
using ReadDocBytes = std::function<bool(std::uint64_t offset, std::size_t n, unsigned char* dest)>;

// What the list model reads of a document.
struct WordListInput {
  const unsigned char* header = nullptr;  // the first 128 bytes of the WordDocument stream
  ReadDocBytes read_doc;
  std::uint64_t doc_size = 0;
  // Word 97-2003: the table stream (style sheet, property page table, list tables).
  const unsigned char* table = nullptr;
  std::size_t table_size = 0;
};

// The list tables of Word 97-2003, each override resolved into the levels it numbers with.
struct WordLists {
  std::vector<ListDefinition> overrides;  // by list override index - 1
  // The counter set each override numbers with: the overrides of one list share the list's.
  std::vector<std::size_t> counter;
  // Levels (bit k: level k) whose count an override starts again, at its own start, the
  // first time a paragraph of it is numbered at that level.
  std::vector<std::uint16_t> restarts;
};

// Parses the list definitions (PlfLst, with the levels that follow it) and overrides (PlfLfo)
// of a table stream. Tables that leave the stream or claim more than it holds are cut to what
// it holds; an override naming no list numbers in decimal.
WordLists parse_word_lists(const unsigned char* table, std::size_t table_size,
                           std::uint32_t lst_offset, std::uint32_t lst_length,
                           std::uint32_t lfo_offset, std::uint32_t lfo_length);

// One Word 6/95 autonumber (sprmPAnld) as a list level: its format, start, and the text
// before and after the number (8-bit text through table); shows_higher: an outline level
// that shows the numbers of the levels above it.
bool parse_word6_anld(const unsigned char* operand, std::size_t n, const std::uint16_t* table,
                      ListLevel* level, bool* shows_higher);

// The labels of the paragraphs of runs (the document's text in character-position order, cut
// at story ends), with the text's 8-bit code page table for Word 6/95 number text. Empty when
// the document numbers nothing or its tables cannot be read.
ParagraphLabels word_list_labels(const WordListInput& in, const std::vector<TextRun>& runs,
                                 const std::uint16_t* table);

// The same for a WordDocument stream of a compound file: its table stream is found beside it
// (doc_index: its directory entry).
ParagraphLabels word_document_labels(OleStream* doc, std::int32_t doc_index,
                                     const unsigned char* header, const std::vector<TextRun>& runs,
                                     const std::uint16_t* table);

}  // namespace dorvex

#endif  // DORVEX_WORDLISTS_H
