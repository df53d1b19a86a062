// Word text to paragraphs: the control codes of Word text (paragraph and cell marks, fields,
// hyphens, anchors) turn units into the paragraphs that the writer wraps and writes.
#ifndef DORVEX_WORDTEXT_H
#define DORVEX_WORDTEXT_H

#include <cstddef>
#include <cstdint>

#include "writer.h"

namespace dorvex {

// Classic: the control-code table of raw mode, Windows Write and plain-header Word files (field
// instructions kept, codes 1, 5 and 8 discard the paragraph). Document: the text of a Word
// document in a compound file, where field instructions are skipped (nested fields too) and
// picture, annotation and drawing anchors are dropped.
enum class WordRules { classic, document };

// How many leading units of [units, units + n) are plain text (32 or above, not U+FEFF): the
// ones a paragraph takes as they are. Scans several units at a time where the machine allows.
std::size_t plain_prefix(const std::uint16_t* units, std::size_t n);

// Widens bytes to units through table (256 entries) up to the first unit that is not plain,
// and returns its index (n when there is none); units after it, up to 15, may be written too.
// ascii_same says that table maps every byte below 0x80 to itself, which lets runs of such
// bytes be widened several at a time.
std::size_t widen_plain_prefix(const unsigned char* bytes, std::size_t n,
                               const std::uint16_t* table, bool ascii_same, std::uint16_t* units);

// Units a block read may hand to WordParagraphs::take_block at once.
constexpr std::size_t kBlockUnits = 65536;

// Collects the paragraph in hand and hands each finished one to output_paragraph_units. One
// object at a time: all of them keep their paragraph in the same storage.
class WordParagraphs {
 public:
  explicit WordParagraphs(WordRules rules);
  WordParagraphs(const WordParagraphs&) = delete;
  WordParagraphs& operator=(const WordParagraphs&) = delete;

  // One unit (0..0xFFFF). True when it ended a paragraph (a paragraph mark, or a full buffer).
  bool put(int unit) {
    if (par_ != storage_) to_front();
    return put_unit(unit);
  }

  // A run of units: plain text up to the next control unit is copied whole.
  void put_run(const std::uint16_t* units, std::size_t n);

  // Where the next block of units is to be written (room for kBlockUnits): right after the
  // paragraph in hand, so that take_block assembles paragraphs where the units lie and plain
  // text is never copied. Valid until the next call on this object.
  std::uint16_t* block_space();
  // The first n units (at most kBlockUnits) written at block_space().
  void take_block(std::size_t n);
  // n bytes (at most kBlockUnits) of 8-bit text, widened through table (256 entries; ascii_same
  // as for widen_plain_prefix) into the block space as they are scanned.
  void take_bytes(const unsigned char* bytes, std::size_t n, const std::uint16_t* table,
                  bool ascii_same);

  // Hands over the paragraph in hand (if it holds text) and starts an empty one.
  void finish_paragraph();

  // A story (main text, footnotes, headers...) ended: its last paragraph is handed over, and
  // neither a field nor a cell mark reaches into the next story.
  void end_story();

 private:
  static constexpr int kZeroWidthNoBreak = 0xFEFF;
  static constexpr int kMaxFieldDepth = 64;

  bool skipping() const { return instruction_levels_ != 0 || deep_fields_ != 0; }
  bool put_unit(int unit) {
    if (unit >= 32 && unit != kZeroWidthNoBreak && !cell_ && !skipping()) {
      store(static_cast<std::uint16_t>(unit));  // plain text, by far the most common
    } else {
      put_special(unit);
    }
    return end_if_complete();
  }
  void store(std::uint16_t unit) {
    if (space_pending_) resolve_space(unit);
    par_[++last_] = unit;
  }
  void resolve_space(std::uint16_t next);
  void to_front();
  void restart_at(const std::uint16_t* next);
  template <class Run>
  void scan(const Run& run, std::size_t n);
  void store_run(const std::uint16_t* units, std::size_t n);
  void store_field_space();
  void put_special(int unit);
  void control(int code);
  void field_mark(int code);
  void decide_field(int unit);
  void discard() {
    last_ = -1;
    space_pending_ = false;
  }
  bool end_if_complete();

  WordRules rules_;
  // The paragraph in hand starts at par_, inside storage_. Units of a block lie after it: each
  // unit taken from a block stores at most one unit (a control code's space or cell mark
  // stands where an earlier unit that stored nothing stood), so stores never overtake the
  // units still to be read.
  std::uint16_t* storage_;
  std::uint16_t* par_;
  bool in_place_ = false;  // a block is being read where it lies
  int last_ = -1;       // index from par_ of the paragraph's last unit; -1 while it is empty
  bool cell_ = false;   // a cell mark was read; the next unit decides its meaning
  bool field_ = false;  // classic rules: inside a field instruction (affects code 1 only)
  bool space_pending_ = false;  // document rules: a field mark's space, if a word follows
  // Document rules: the open fields, innermost last; bit i set while field i is in its
  // instruction. Fields nested deeper than the bit set are skipped whole.
  std::uint64_t in_instruction_ = 0;
  int depth_ = 0;
  int instruction_levels_ = 0;
  int deep_fields_ = 0;
  // The first word of the innermost field's instruction, while it is being read: a formula
  // (EQ) shows its instruction, which holds the formula's text.
  bool deciding_ = false;
  std::size_t keyword_len_ = 0;
  std::uint16_t keyword_[4] = {};
};

// Units a block leaves between the paragraph in hand and itself. What was read of an earlier
// block may still owe stores to the first units of the next: a field mark's space, a cell
// mark's separator, and a formula's name (at most 4 units) held back until its end is seen.
constexpr std::size_t kOwedStores = 8;

// The paragraph in hand, and after it the block being read: a full paragraph and one block,
// with room for the terminating 0 of the longest paragraph.
using ParagraphStorage = std::array<std::uint16_t, kParagraphUnits + kOwedStores + kBlockUnits>;

}  // namespace dorvex

#endif  // DORVEX_WORDTEXT_H
