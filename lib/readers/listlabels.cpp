#include "listlabels.h"

#include <algorithm>
#include <cstring>

namespace dorvex {

namespace {

// Roman numerals as Word writes them stop at 3999; letters beyond 32 repeats are no longer a
// label anyone reads (and a hostile start would make them megabytes long).
constexpr std::int64_t kMaxRoman = 3999;
constexpr std::int64_t kMaxLetterRepeat = 32;

// Word's number format codes that the model shows as themselves.
constexpr int kNfcDecimal = 0, kNfcUpperRoman = 1, kNfcLowerRoman = 2, kNfcUpperLetter = 3,
              kNfcLowerLetter = 4, kNfcOrdinal = 5, kNfcWide = 14, kNfcCircled = 18,
              kNfcDecimalZero = 22, kNfcBullet = 23, kNfcNone = 255;

// Circled numbers exist for 1 to 20.
constexpr std::int64_t kMaxCircled = 20;
constexpr std::uint16_t kCircledOne = 0x2460, kWideZero = 0xFF10, kHollowBullet = 0x25E6;

constexpr std::uint16_t kBullet = 0x2022;

// Characters the Symbol and Wingdings fonts draw at their private-use positions, for the
// bullets lists use; any other private-use bullet is shown as U+2022.
struct PrivateBullet {
  std::uint8_t low;
  std::uint16_t unit;
};
constexpr PrivateBullet kPrivateBullets[] = {
    {0xB7, 0x2022},  // Symbol: bullet
    {0x2D, 0x2212},  // Symbol: minus sign
    {0xA7, 0x25AA},  // Wingdings: small black square
    {0xA8, 0x25FB},  // Wingdings: white square
    {0x6C, 0x25CF},  // Wingdings: black circle
    {0x6E, 0x25A0},  // Wingdings: black square
    {0x71, 0x2751},  // Wingdings: shadowed white square
    {0x75, 0x25C6},  // Wingdings: black diamond
    {0x76, 0x2756},  // Wingdings: black diamond minus white X
    {0xD8, 0x27A2},  // Wingdings: arrowhead
    {0xE0, 0x2192},  // Symbol: rightwards arrow
    {0xFC, 0x2713},  // Wingdings: check mark
};

void append_decimal(std::vector<std::uint16_t>* out, std::int64_t n) {
  char digits[24];
  std::size_t len = 0;
  const bool negative = n < 0;
  std::uint64_t v = negative ? 0 - std::uint64_t(n) : std::uint64_t(n);
  do {
    digits[len++] = char('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) out->push_back('-');
  while (len > 0) out->push_back(std::uint16_t(digits[--len]));
}

void append_roman(std::vector<std::uint16_t>* out, std::int64_t n, bool upper) {
  static constexpr struct {
    int value;
    const char* text;
  } kParts[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                {90, "xc"},  {50, "l"},   {40, "xl"}, {10, "x"},   {9, "ix"},
                {5, "v"},    {4, "iv"},   {1, "i"}};
  for (const auto& part : kParts) {
    for (; n >= part.value; n -= part.value) {
      for (const char* c = part.text; *c; ++c) {
        out->push_back(std::uint16_t(upper ? *c - 'a' + 'A' : *c));
      }
    }
  }
}

// Word's letters: a .. z, then aa .. zz, aaa ..: the letter repeated once more each round.
void append_letters(std::vector<std::uint16_t>* out, std::int64_t n, bool upper) {
  const std::int64_t repeat = (n - 1) / 26 + 1;
  const auto letter = std::uint16_t((upper ? 'A' : 'a') + (n - 1) % 26);
  out->insert(out->end(), std::size_t(repeat), letter);
}

void append_ordinal(std::vector<std::uint16_t>* out, std::int64_t n) {
  append_decimal(out, n);
  const std::int64_t last_two = (n < 0 ? -n : n) % 100, last = last_two % 10;
  const char* suffix = "th";
  if (last_two < 11 || last_two > 13) {
    if (last == 1) suffix = "st";
    if (last == 2) suffix = "nd";
    if (last == 3) suffix = "rd";
  }
  out->push_back(std::uint16_t(suffix[0]));
  out->push_back(std::uint16_t(suffix[1]));
}

// The text units below this stand for level numbers.
constexpr std::uint16_t kPlaceholderLimit = kListLevels;

int restart_limit(const ListLevel& level, int index) {
  return level.restart_below < 0 ? index : std::min(level.restart_below, index);
}

}  // namespace

NumberFormat word_number_format(int nfc) {
  switch (nfc) {
    case kNfcDecimal:
      return NumberFormat::decimal;
    case kNfcUpperRoman:
      return NumberFormat::upper_roman;
    case kNfcLowerRoman:
      return NumberFormat::lower_roman;
    case kNfcUpperLetter:
      return NumberFormat::upper_letter;
    case kNfcLowerLetter:
      return NumberFormat::lower_letter;
    case kNfcOrdinal:
      return NumberFormat::ordinal;
    case kNfcDecimalZero:
      return NumberFormat::decimal_zero;
    case kNfcWide:
      return NumberFormat::decimal_wide;
    case kNfcCircled:
      return NumberFormat::decimal_circled;
    case kNfcBullet:
      return NumberFormat::bullet;
    case kNfcNone:
      return NumberFormat::none;
    default:
      return NumberFormat::decimal;
  }
}

NumberFormat word_number_format_name(const char* name, std::size_t len) {
  static constexpr struct {
    const char* name;
    NumberFormat format;
  } kNames[] = {{"decimal", NumberFormat::decimal},
                {"decimalZero", NumberFormat::decimal_zero},
                {"upperRoman", NumberFormat::upper_roman},
                {"lowerRoman", NumberFormat::lower_roman},
                {"upperLetter", NumberFormat::upper_letter},
                {"lowerLetter", NumberFormat::lower_letter},
                {"ordinal", NumberFormat::ordinal},
                {"decimalEnclosedCircle", NumberFormat::decimal_circled},
                {"decimalFullWidth", NumberFormat::decimal_wide},
                {"bullet", NumberFormat::bullet},
                {"none", NumberFormat::none}};
  for (const auto& n : kNames) {
    if (std::strlen(n.name) == len && std::memcmp(n.name, name, len) == 0) return n.format;
  }
  return NumberFormat::decimal;
}

void append_number(std::vector<std::uint16_t>* out, std::int64_t n, NumberFormat format) {
  switch (format) {
    case NumberFormat::bullet:
    case NumberFormat::none:
      return;
    case NumberFormat::decimal_zero:
      if (n >= 0 && n < 10) out->push_back('0');
      break;
    case NumberFormat::upper_roman:
    case NumberFormat::lower_roman:
      if (n > 0 && n <= kMaxRoman) {
        append_roman(out, n, format == NumberFormat::upper_roman);
        return;
      }
      break;
    case NumberFormat::upper_letter:
    case NumberFormat::lower_letter:
      if (n > 0 && n <= 26 * kMaxLetterRepeat) {
        append_letters(out, n, format == NumberFormat::upper_letter);
        return;
      }
      break;
    case NumberFormat::ordinal:
      append_ordinal(out, n);
      return;
    case NumberFormat::decimal_circled:
      if (n > 0 && n <= kMaxCircled) {
        out->push_back(std::uint16_t(kCircledOne + n - 1));
        return;
      }
      break;
    case NumberFormat::decimal_wide: {
      const std::size_t from = out->size();
      append_decimal(out, n);
      for (std::size_t i = from; i < out->size(); ++i) {
        if ((*out)[i] >= '0' && (*out)[i] <= '9') (*out)[i] = std::uint16_t(kWideZero + (*out)[i] - '0');
      }
      return;
    }
    case NumberFormat::decimal:
      break;
  }
  append_decimal(out, n);
}

std::uint16_t bullet_unit(std::uint16_t unit) {
  if (unit == 'o') return kHollowBullet;
  if (unit < 0xF000 || unit > 0xF0FF) return unit;
  for (const PrivateBullet& b : kPrivateBullets) {
    if (b.low == (unit & 0xFF)) return b.unit;
  }
  return kBullet;
}

void next_label(const ListDefinition& list, ListCounters* counters, int level,
                std::vector<std::uint16_t>* out) {
  if (level < 0 || level >= kListLevels) level = 0;
  // Deeper levels start again after a higher one, unless their own restart says otherwise.
  for (int k = level + 1; k < kListLevels; ++k) {
    if (level < restart_limit(list.levels[std::size_t(k)], k))
      counters->used[std::size_t(k)] = false;
  }
  // Levels above that were skipped count as used at their start.
  for (int k = 0; k < level; ++k) {
    if (counters->used[std::size_t(k)]) continue;
    counters->used[std::size_t(k)] = true;
    counters->value[std::size_t(k)] =
        std::clamp<std::int64_t>(list.levels[std::size_t(k)].start, 0, kMaxCounter);
  }
  const ListLevel& own = list.levels[std::size_t(level)];
  std::int64_t& value = counters->value[std::size_t(level)];
  if (counters->used[std::size_t(level)]) {
    value = std::min(value + 1, kMaxCounter);
  } else {
    value = std::clamp<std::int64_t>(own.start, 0, kMaxCounter);
    counters->used[std::size_t(level)] = true;
  }
  const std::size_t text_end = std::min(own.text.size(), kMaxLevelText);
  for (std::size_t i = 0; i < text_end; ++i) {
    const std::uint16_t u = own.text[i];
    if (u >= kPlaceholderLimit) {
      out->push_back(own.format == NumberFormat::bullet ? bullet_unit(u) : u);
      continue;
    }
    const ListLevel& shown = list.levels[u];
    // A level not counted since its last restart shows the number it would start with.
    const std::int64_t n = counters->used[u]
                               ? counters->value[u]
                               : std::clamp<std::int64_t>(shown.start, 0, kMaxCounter);
    NumberFormat format = shown.format;
    if (own.legal && u != level) format = NumberFormat::decimal;
    append_number(out, n, format);
  }
  if (own.follow == LabelFollow::tab) out->push_back('\t');
  if (own.follow == LabelFollow::space) out->push_back(' ');
}

}  // namespace dorvex
