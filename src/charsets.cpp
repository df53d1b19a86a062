#include "charsets.h"

#include <cstdlib>

#include "substmap.h"

namespace dorvex {

CharsetTable source_charset = nullptr;
ReverseMap* target_charset = nullptr;
int unknown_as_hex = 0;
Decoder get_unicode_char = nullptr;

CharsetTable read_charset(const char*) { return nullptr; }
ReverseMap* make_reverse_map(const std::uint16_t*) { return nullptr; }
int from_unicode(const ReverseMap*, int) { return -1; }
const char* charset_from_codepage(unsigned) { return nullptr; }
const char* convert_char(int) { return "?"; }
const char* to_utf8(int) { return ""; }
int get_8bit_char(StreamHandle, std::int32_t*, std::int32_t) { return -1; }
int get_utf16lsb(StreamHandle, std::int32_t*, std::int32_t) { return -1; }
int get_utf16msb(StreamHandle, std::int32_t*, std::int32_t) { return -1; }
int get_utf8(StreamHandle, std::int32_t*, std::int32_t) { return -1; }

}  // namespace dorvex
