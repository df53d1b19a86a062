#include "rtfinfo.h"

#include <cstdio>
#include <cstring>

namespace dorvex {

namespace {

// Bytes of UTF-8 kept for one field: a title longer than this is cut there, so that a hostile
// document cannot grow the field without bound.
constexpr std::size_t kMaxInfoText = 65536;

struct FieldWord {
  const char* name;
  RtfInfoField field;
};
constexpr FieldWord kFieldWords[] = {
    {"title", RtfInfoField::title},     {"subject", RtfInfoField::subject},
    {"author", RtfInfoField::author},   {"keywords", RtfInfoField::keywords},
    {"creatim", RtfInfoField::created}, {"revtim", RtfInfoField::revised},
};

bool is_date(RtfInfoField f) { return f == RtfInfoField::created || f == RtfInfoField::revised; }

std::optional<std::string>* destination(Metadata& m, RtfInfoField f) {
  switch (f) {
    case RtfInfoField::title:
      return &m.title;
    case RtfInfoField::subject:
      return &m.subject;
    case RtfInfoField::author:
      return &m.author;
    case RtfInfoField::keywords:
      return &m.keywords;
    case RtfInfoField::created:
      return &m.created;
    case RtfInfoField::revised:
      return &m.modified;
    default:
      return nullptr;
  }
}

bool leap(std::int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// The date as ISO 8601 local time (RTF names no zone), or nothing when a part is missing or
// out of its range. 1601-01-01 is a zero Windows time converted: "never".
std::optional<std::string> date_text(const RtfInfoDate& d) {
  static constexpr std::int32_t kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if ((d.year == 1601 && d.month == 1 && d.day == 1) || d.year < 1 || d.year > 9999 ||
      d.month < 1 || d.month > 12 || d.day < 1 || d.day > kMonthDays[d.month - 1] ||
      (d.month == 2 && d.day == 29 && !leap(d.year)) || d.hour < 0 || d.hour > 23 || d.minute < 0 ||
      d.minute > 59 || d.second < 0 || d.second > 59)
    return std::nullopt;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", int(d.year), int(d.month),
                int(d.day), int(d.hour), int(d.minute), int(d.second));
  return std::string(text);
}

void flush_surrogate(RtfInfo& info) {
  if (info.high == 0) return;
  info.high = 0;
  if (info.text.size() < kMaxInfoText) append_utf8(info.text, 0xFFFD);
}

void end_field(RtfInfo& info) {
  if (info.field == RtfInfoField::none) return;
  std::optional<std::string>* to = destination(*info.out, info.field);
  // The first statement of a field counts, but for the Unicode form of an {\upr} pair, which
  // comes second and replaces the 8-bit one.
  const bool replaces = info.unicode_level != 0;
  if (is_date(info.field)) {
    if (!*to) *to = date_text(info.date);
  } else {
    flush_surrogate(info);
    if ((!*to || replaces) && trim_field(info.text)) *to = std::move(info.text);
  }
  info.field = RtfInfoField::none;
  info.field_level = 0;
  info.ignored_level = 0;
  info.text.clear();
  info.date = RtfInfoDate{};
}

void date_word(RtfInfoDate& d, const char* name, std::int32_t param) {
  if (std::strcmp(name, "yr") == 0)
    d.year = param;
  else if (std::strcmp(name, "mo") == 0)
    d.month = param;
  else if (std::strcmp(name, "dy") == 0)
    d.day = param;
  else if (std::strcmp(name, "hr") == 0)
    d.hour = param;
  else if (std::strcmp(name, "min") == 0)
    d.minute = param;
  else if (std::strcmp(name, "sec") == 0)
    d.second = param;
}

}  // namespace

void rtf_info_command(RtfInfo& info, int kind, const char* name, std::int32_t param,
                      std::size_t level) {
  if (!info.out) return;
  if (!rtf_info_open(info)) {
    if (kind == kRtfInfoKind) info.level = level;
    return;
  }
  if (name[0] == '\0') {
    // {\*\destination} inside a field: text the field does not hold (a bookmark's name).
    if (param == '*' && info.field != RtfInfoField::none && level > info.field_level &&
        info.ignored_level == 0)
      info.ignored_level = level;
    return;
  }
  if (std::strcmp(name, "ud") == 0) {
    if (info.unicode_level == 0) info.unicode_level = level;
    return;
  }
  for (const FieldWord& w : kFieldWords) {
    if (std::strcmp(name, w.name) == 0) {
      end_field(info);
      info.field = w.field;
      info.field_level = level;
      return;
    }
  }
  if (is_date(info.field)) date_word(info.date, name, param);
}

void rtf_info_unit(RtfInfo& info, std::uint16_t unit) {
  if (!rtf_info_wants_text(info) || unit == 0 || unit == 0xFEFF) return;
  if (unit >= 0xDC00 && unit <= 0xDFFF && info.high != 0) {
    const std::uint32_t code = 0x10000 + ((info.high - 0xD800u) << 10) + (unit - 0xDC00u);
    info.high = 0;
    if (info.text.size() < kMaxInfoText) append_utf8(info.text, code);
    return;
  }
  flush_surrogate(info);
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    info.high = unit;
    return;
  }
  // Tabs, line breaks, cell and row ends separate words in a one-line field.
  if (info.text.size() < kMaxInfoText) append_utf8(info.text, unit < 0x20 ? ' ' : unit);
}

void rtf_info_group_closed(RtfInfo& info, std::size_t level) {
  if (!rtf_info_open(info)) return;
  if (info.ignored_level > level) info.ignored_level = 0;
  if (info.field != RtfInfoField::none && info.field_level > level) end_field(info);
  if (info.unicode_level > level) info.unicode_level = 0;
  if (info.level > level) {
    end_field(info);
    info.level = 0;
    info.unicode_level = 0;
  }
}

void rtf_info_finish(RtfInfo& info) {
  if (!info.out) return;
  end_field(info);
  info.level = 0;
}

}  // namespace dorvex
