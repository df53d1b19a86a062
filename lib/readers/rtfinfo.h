// The metadata of an RTF document's \info group: \title, \subject, \author and \keywords as
// text, \creatim and \revtim as dates (\yr \mo \dy \hr \min \sec). The RTF reader decodes the
// text as it decodes the document's, and hands the collector the units, the control words met
// inside the group, and the group ends.
#ifndef DORVEX_RTFINFO_H
#define DORVEX_RTFINFO_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "metadata.h"

namespace dorvex {

// The kind the RTF reader's keyword table gives \info.
constexpr int kRtfInfoKind = 16;

enum class RtfInfoField : std::uint8_t { none, title, subject, author, keywords, created, revised };

struct RtfInfoDate {
  std::int32_t year = -1, month = -1, day = -1, hour = 0, minute = 0, second = 0;
};

// The collector's state for one document. Levels are the reader's group levels (1: the
// document's group).
struct RtfInfo {
  Metadata* out = nullptr;  // null: nothing collected, and the reader takes no slower path
  std::size_t level = 0;    // the \info group's level; 0 outside it
  RtfInfoField field = RtfInfoField::none;
  std::size_t field_level = 0;    // the level of the group the field word opened
  std::size_t ignored_level = 0;  // a \* group inside the field: its text is not the field's
  std::size_t unicode_level = 0;  // a {\*\ud} group: the Unicode form of the {\upr} before it
  std::string text;               // UTF-8 of the text field so far
  std::uint16_t high = 0;         // a high surrogate waiting for its low half
  RtfInfoDate date;
};

// True inside the \info group, where the reader hands over control words with their names.
inline bool rtf_info_open(const RtfInfo& info) { return info.level != 0; }

// True while text belongs to a text field: the reader hands over the units it decodes.
inline bool rtf_info_wants_text(const RtfInfo& info) {
  return info.field >= RtfInfoField::title && info.field <= RtfInfoField::keywords &&
         info.ignored_level == 0;
}

// A control word or symbol at group level, read inside the \info group (name: its letters; a
// symbol has an empty name and its character as param), or \info itself (kind kRtfInfoKind).
void rtf_info_command(RtfInfo& info, int kind, const char* name, std::int32_t param,
                      std::size_t level);

// One unit of text decoded inside a text field.
void rtf_info_unit(RtfInfo& info, std::uint16_t unit);

// The group at level + 1 closed; level is the level now.
void rtf_info_group_closed(RtfInfo& info, std::size_t level);

// The input ended: a field it cut keeps what was read.
void rtf_info_finish(RtfInfo& info);

}  // namespace dorvex

#endif  // DORVEX_RTFINFO_H
