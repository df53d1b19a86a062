// Code pages an RTF document names: which of them dorvex can read, and the one message for
// those it cannot.
#ifndef DORVEX_RTFCODEPAGE_H
#define DORVEX_RTFCODEPAGE_H

#include <cstdint>

namespace dorvex {

constexpr std::int32_t kUtf8CodePage = 65001;  // read by the UTF-8 decoder, no table

// Whether an 8-bit code page has a charset table along charset_path (UTF-8 and the double-byte
// code pages are not 8-bit and have none). The UTF-16 code pages, which name no table, count as
// having one: the source charset's name is loaded again for them.
bool codepage_has_table(std::int32_t codepage);

// The warning for a code page without a table, whose text is read through the table in force
// ("Code page N has no charset - text read as NAME", NAME the source charset).
void warn_codepage_without_table(std::int32_t codepage);

}  // namespace dorvex

#endif  // DORVEX_RTFCODEPAGE_H
