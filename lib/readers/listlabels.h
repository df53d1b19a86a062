// List labels as a reader sees them: the number formats of word-processor lists, the number
// text of a level with the numbers of its own and higher levels put in, and the counters that
// number a list's paragraphs through nesting and restarts. Shared by the Word readers (binary
// and XML) and the OpenDocument reader: each turns its own tables into ListLevel values.
#ifndef DORVEX_LISTLABELS_H
#define DORVEX_LISTLABELS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dorvex {

// Levels of one list, as every format has them.
constexpr int kListLevels = 9;
// A level's number text, in units, as Word's tables can hold it.
constexpr std::size_t kMaxLevelText = 255;
// The greatest value a counter reaches: a hostile start or a long list stops there.
constexpr std::int64_t kMaxCounter = 0x7FFFFFFF;

enum class NumberFormat : std::uint8_t {
  decimal,
  decimal_zero,  // 01 .. 09, then 10
  upper_roman,
  lower_roman,
  upper_letter,  // A .. Z, AA .. ZZ, AAA ..
  lower_letter,
  ordinal,          // 1st, 2nd
  decimal_circled,  // ① .. ⑳, then decimal
  decimal_wide,     // full-width digits: １２
  bullet,   // the level's text alone
  none,     // the level's text without the level's own number
};

// Word's number format codes (the nfc of list levels and of Word 6 autonumbering), in the
// binary and (by name) the XML documents. Formats outside the model are numbered in decimal.
NumberFormat word_number_format(int nfc);
NumberFormat word_number_format_name(const char* name, std::size_t len);

// What follows a label.
enum class LabelFollow : std::uint8_t { tab, space, nothing };

// One level of a list. In text, units 0 to 8 stand for the number of that level (Word's own
// convention, which the other formats are turned into); the rest is shown as it is.
struct ListLevel {
  NumberFormat format = NumberFormat::decimal;
  std::int64_t start = 1;
  // A paragraph at level l restarts this level's counter when l < restart_below; the usual
  // value is the level's own index (any higher level restarts it), 0 never restarts.
  int restart_below = -1;  // -1: the level's own index
  LabelFollow follow = LabelFollow::tab;
  bool legal = false;  // numbers of higher levels shown in decimal
  std::vector<std::uint16_t> text;
};

struct ListDefinition {
  std::array<ListLevel, kListLevels> levels;
};

// The counters of one list, as far as it has been counted.
struct ListCounters {
  std::array<std::int64_t, kListLevels> value{};
  std::array<bool, kListLevels> used{};
};

// Appends n in format (nothing for bullet and none). Numbers a format cannot show (0 or
// negative in letters or roman, roman beyond 3999, letters longer than 32) come in decimal.
void append_number(std::vector<std::uint16_t>* out, std::int64_t n, NumberFormat format);

// Counts a paragraph at level (0..8, others are taken as 0) of list and appends its label and
// what follows it to out. Higher levels not counted yet count as used at their start (the next
// paragraph at such a level counts on from there).
void next_label(const ListDefinition& list, ListCounters* counters, int level,
                std::vector<std::uint16_t>* out);

// A bullet character as the reader shows it: the private-use characters of the Symbol and
// Wingdings fonts (U+F000 to U+F0FF) become the character they draw, or U+2022; the letter o,
// which lists draw as a hollow bullet, becomes U+25E6.
std::uint16_t bullet_unit(std::uint16_t unit);

// Labels of a document's paragraphs, by the character position where each paragraph begins,
// in ascending order; a reader puts each label in front of that paragraph's text.
struct ParagraphLabels {
  std::vector<std::uint32_t> cp;     // where each labelled paragraph begins
  std::vector<std::uint32_t> begin;  // its label: units [begin[i], begin[i + 1]) (or to the end)
  std::vector<std::uint16_t> units;

  std::size_t size() const { return cp.size(); }
  const std::uint16_t* label(std::size_t i, std::size_t* n) const {
    const std::size_t end = i + 1 < begin.size() ? begin[i + 1] : units.size();
    *n = end - begin[i];
    return units.data() + begin[i];
  }
};

}  // namespace dorvex

#endif  // DORVEX_LISTLABELS_H
