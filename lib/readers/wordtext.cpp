#include "wordtext.h"

#include "context.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "writer.h"

namespace dorvex {

namespace {

// Units stored for control codes, besides the writer's line end, cell and row units.
constexpr std::uint16_t kParagraphEnd = kLineEnd;
constexpr std::uint16_t kSpace = 0x20;
constexpr std::uint16_t kHyphen = 0x2D;
constexpr std::uint16_t kSoftHyphen = 0xAD;

// Word's control codes.
constexpr int kPicture = 1, kAnnotationRef = 5, kCellMark = 7, kDrawnObject = 8;
constexpr int kFieldBegin = 19, kFieldSeparator = 20, kFieldEnd = 21;

// A paragraph is handed over once more than this many units are stored (the last index is
// above 0x3FFFD), which leaves room for the terminating 0 after a one-unit step.
constexpr int kLastIndexLimit = 0x3FFFD;
constexpr int kFullIndex = kLastIndexLimit + 1;
static_assert(kFullIndex + 1 < int(kParagraphUnits), "the terminating 0 fits");

bool is_plain(std::uint16_t u) { return u >= 32 && u != 0xFEFF; }


// Letters and digits, as far as a field mark's space is concerned: ASCII letters and digits,
// and everything beyond ASCII.
bool is_word_unit(std::uint16_t u) {
  return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
         (u >= 0x80 && u != 0xFEFF);
}

}  // namespace

std::size_t plain_prefix(const std::uint16_t* units, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // A unit is a control code when its bits above the low five are all clear.
  const __m128i high_bits = _mm_set1_epi16(static_cast<short>(0xFFE0));
  const __m128i zero = _mm_setzero_si128();
  const __m128i no_break = _mm_set1_epi16(static_cast<short>(0xFEFF));
  auto stops = [&](std::size_t at) {  // 0xFFFF in each lane holding a unit that ends the run
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at));
    return _mm_or_si128(_mm_cmpeq_epi16(_mm_and_si128(v, high_bits), zero),
                        _mm_cmpeq_epi16(v, no_break));
  };
  for (; i + 16 <= n; i += 16) {
    // Packed to one byte per unit, so one mask covers 16 units and counts them directly.
    unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(stops(i), stops(i + 8))));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  if (i + 8 <= n) {
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stops(i)));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask)) / 2;
    i += 8;
  }
#endif
  while (i < n && is_plain(units[i])) ++i;
  return i;
}

std::size_t widen_plain_prefix(const unsigned char* bytes, std::size_t n,
                               const std::uint16_t* table, bool ascii_same, std::uint16_t* units) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (ascii_same) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i space = _mm_set1_epi8(0x20);
    while (i + 16 <= n) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i + 8), _mm_unpackhi_epi8(v, zero));
      // Compared as signed bytes, those above 0x7F are negative: one comparison finds them
      // and the control codes, the bytes that need the table or end the run. The units
      // before the first of them are already right.
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, space)));
      if (mask == 0) {
        i += 16;
        continue;
      }
      i += static_cast<std::size_t>(__builtin_ctz(mask));
      units[i] = table[bytes[i]];
      if (!is_plain(units[i])) return i;
      ++i;
    }
  }
#else
  (void)ascii_same;
#endif
  for (; i < n; ++i) {
    units[i] = table[bytes[i]];
    if (!is_plain(units[i])) break;
  }
  return i;
}

namespace {

// Where scan takes its units from: a run already in place, or 8-bit text widened into place
// as it is scanned. units: where the run's units lie (once widened).
struct UnitRun {
  const std::uint16_t* units;
  std::uint16_t at(std::size_t i) const { return units[i]; }
  std::size_t plain_from(std::size_t i, std::size_t n) const { return plain_prefix(units + i, n - i); }
};

struct ByteRun {
  const unsigned char* bytes;
  const std::uint16_t* table;
  bool ascii_same;
  std::uint16_t* units;
  std::uint16_t at(std::size_t i) const { return table[bytes[i]]; }
  std::size_t plain_from(std::size_t i, std::size_t n) const {
    return widen_plain_prefix(bytes + i, n - i, table, ascii_same, units + i);
  }
};

}  // namespace

WordParagraphs::WordParagraphs(WordRules rules)
    : rules_(rules), storage_(ctx().paragraph_storage.data()), par_(storage_) {}

// A field mark's space goes before the next unit when that one begins a word.
void WordParagraphs::resolve_space(std::uint16_t next) {
  space_pending_ = false;
  if (!is_word_unit(next)) return;
  if (last_ >= kLastIndexLimit) finish_paragraph();  // room for the space and the unit
  par_[++last_] = kSpace;
}

// Moves the paragraph in hand to the start of the storage, which leaves room behind it for a
// full paragraph or a block.
void WordParagraphs::to_front() {
  if (last_ >= 0) std::memmove(storage_, par_, (static_cast<std::size_t>(last_) + 1) * sizeof *par_);
  par_ = storage_;
}

std::uint16_t* WordParagraphs::block_space() {
  to_front();
  return par_ + (last_ + 1) + kOwedStores;
}

// Units dropped from a block (field marks and instructions, anchors) leave the stores behind
// the units still to be read, and each plain run would be moved up to them. An empty paragraph
// in a block read in place starts at the next unit to be read instead.
void WordParagraphs::restart_at(const std::uint16_t* next) {
  if (in_place_ && last_ < 0) par_ = storage_ + (next - storage_);
}

void WordParagraphs::take_block(std::size_t n) {
  in_place_ = true;
  scan(UnitRun{par_ + (last_ + 1) + kOwedStores}, std::min(n, kBlockUnits));
  in_place_ = false;
}

void WordParagraphs::take_bytes(const unsigned char* bytes, std::size_t n,
                                const std::uint16_t* table, bool ascii_same) {
  std::uint16_t* units = block_space();
  in_place_ = true;
  scan(ByteRun{bytes, table, ascii_same, units}, std::min(n, kBlockUnits));
  in_place_ = false;
}

// Stores plain units, handing the paragraph over each time the buffer is full. Units that
// already stand where they belong (a block read in place) are not copied.
void WordParagraphs::store_run(const std::uint16_t* units, std::size_t n) {
  if (space_pending_ && n > 0) {
    store(*units++);
    --n;
    if (last_ > kLastIndexLimit) finish_paragraph();
  }
  while (n > 0) {
    std::size_t room = static_cast<std::size_t>(kFullIndex - last_);
    std::size_t k = std::min(n, room);
    std::uint16_t* to = par_ + (last_ + 1);
    if (to != units) std::memmove(to, units, k * sizeof *units);
    last_ += static_cast<int>(k);
    units += k;
    n -= k;
    if (last_ > kLastIndexLimit) {
      finish_paragraph();
      restart_at(units);
    }
  }
}

// Hands over the paragraph. An empty paragraph (nothing but its newline) produces no line; any
// other text does, even a single character, so that a last character before the end of the
// input or a paragraph split is never lost. In a block read in place the next paragraph
// starts after this one, where the next units are stored.
void WordParagraphs::finish_paragraph() {
  bool only_newline = last_ == 0 && par_[0] == kParagraphEnd;
  if (last_ >= 0 && !only_newline) {
    // Terminated for the writer, over the next unit of a block, which is put back after.
    const std::size_t n = static_cast<std::size_t>(last_) + 1;
    const std::uint16_t next = par_[n];
    par_[n] = 0;
    output_paragraph_units(par_, n);
    par_[n] = next;
  }
  par_ = in_place_ ? par_ + (last_ + 1) : storage_;
  last_ = -1;
  space_pending_ = false;
}

bool WordParagraphs::end_if_complete() {
  if (last_ > kLastIndexLimit ||
      (last_ >= 0 && par_[static_cast<std::size_t>(last_)] == kParagraphEnd)) {
    finish_paragraph();
    return true;
  }
  return false;
}

void WordParagraphs::end_story() {
  finish_paragraph();
  cell_ = field_ = deciding_ = false;
  in_instruction_ = 0;
  depth_ = instruction_levels_ = deep_fields_ = 0;
}

void WordParagraphs::put_run(const std::uint16_t* units, std::size_t n) {
  if (par_ != storage_) to_front();
  scan(UnitRun{units}, n);
}

template <class Run>
void WordParagraphs::scan(const Run& run, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (deciding_) {
      decide_field(run.at(i++));
      continue;
    }
    if (skipping()) {
      // Inside a field instruction only the field marks count.
      for (; i < n; ++i) {
        const std::uint16_t u = run.at(i);
        if (u == kFieldBegin || u == kFieldSeparator || u == kFieldEnd) break;
      }
    } else if (!cell_) {
      const std::size_t k = run.plain_from(i, n);
      // Plain units that already stand where they belong only lengthen the paragraph.
      if (par_ + (last_ + 1) == run.units + i && !space_pending_ &&
          k <= static_cast<std::size_t>(kLastIndexLimit - last_)) {
        last_ += static_cast<int>(k);
      } else {
        store_run(run.units + i, k);
      }
      i += k;
    }
    if (i == n) break;
    put_special(run.at(i++));
    if (end_if_complete()) restart_at(run.units + i);
  }
}

void WordParagraphs::put_special(int unit) {
  if (deciding_) {
    decide_field(unit);
    return;
  }
  if (skipping()) {
    if (unit == kFieldBegin || unit == kFieldSeparator || unit == kFieldEnd) field_mark(unit);
    return;
  }
  if (cell_) {
    cell_ = false;
    if (unit == kCellMark) {
      store(kRowEnd);
      return;
    }
    // A cell separator and the unit after it are stored in one step: hand over a full
    // paragraph first, so the terminating 0 always fits.
    if (last_ >= kLastIndexLimit) finish_paragraph();
    store(kCellSeparator);
  }
  if (unit >= 32) {
    if (unit != kZeroWidthNoBreak) store(static_cast<std::uint16_t>(unit));
  } else {
    control(unit);
  }
}

// A field mark stands for a space between words: after a letter or digit, when one follows.
void WordParagraphs::store_field_space() {
  if (last_ >= 0 && is_word_unit(par_[last_])) space_pending_ = true;
}

// Document rules: a field's instruction (between its begin and its separator, or its end when
// it has no result) is skipped; its result is text.
void WordParagraphs::field_mark(int code) {
  if (code == kFieldBegin) {
    if (!skipping()) store_field_space();
    if (depth_ >= kMaxFieldDepth) {
      ++deep_fields_;
      return;
    }
    in_instruction_ |= std::uint64_t(1) << depth_;
    ++depth_;
    ++instruction_levels_;
    deciding_ = instruction_levels_ == 1;  // inside another instruction, nothing is shown
    keyword_len_ = 0;
    return;
  }
  if (deep_fields_ > 0) {
    if (code == kFieldEnd) --deep_fields_;
    return;
  }
  if (depth_ == 0) {  // a separator or end without its begin
    store_field_space();
    return;
  }
  const std::uint64_t top = std::uint64_t(1) << (depth_ - 1);
  if (in_instruction_ & top) {
    in_instruction_ &= ~top;
    --instruction_levels_;
  }
  if (code == kFieldEnd) --depth_;
  if (!skipping()) store_field_space();
}

// Reads the first word of a field instruction. An EQ field's instruction is shown from its
// first word on; any other instruction is skipped.
void WordParagraphs::decide_field(int unit) {
  const bool letter = (unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z');
  if (letter && keyword_len_ < std::size(keyword_)) {
    keyword_[keyword_len_++] = static_cast<std::uint16_t>(unit);
    return;
  }
  if (!letter && keyword_len_ == 0 && unit == kSpace) return;  // spaces ahead of the word
  deciding_ = false;
  const bool formula =
      keyword_len_ == 2 && (keyword_[0] | 0x20) == 'e' && (keyword_[1] | 0x20) == 'q' && !letter;
  if (formula) {
    in_instruction_ &= ~(std::uint64_t(1) << (depth_ - 1));
    --instruction_levels_;
    for (std::size_t k = 0; k < keyword_len_; ++k) put_unit(keyword_[k]);
  }
  put_unit(unit);  // skipped, or the first unit after the formula's name
}

// Word's control characters (below 32): stored as text, ignored, or discarding the paragraph.
void WordParagraphs::control(int code) {
  const bool document = rules_ == WordRules::document;
  switch (code) {
    case kPicture:
      if (!document && !field_) discard();
      break;
    case kAnnotationRef:
    case kDrawnObject:
      if (!document) discard();
      break;
    case 2:
      break;
    case kCellMark:
      cell_ = true;
      break;
    case 9:
      store(9);
      break;
    case 11:
    case 13:
      store(kParagraphEnd);
      break;
    case 10:  // a line feed in document text ends its line; the classic table discards
      if (document) {
        store(kParagraphEnd);
      } else {
        discard();
      }
      break;
    case 12:
      store(12);
      break;
    case kFieldBegin:
    case kFieldSeparator:
    case kFieldEnd:
      if (document) {
        field_mark(code);
      } else {
        if (code == kFieldBegin) field_ = true;
        if (code == kFieldSeparator) field_ = false;
        store(kSpace);
      }
      break;
    case 30:
      store(kHyphen);
      break;
    case 31:
      store(kSoftHyphen);
      break;
    default:  // 0, 3, 4, 6, 10, 14-18, 22-29
      discard();
      break;
  }
}

}  // namespace dorvex
