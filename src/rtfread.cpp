#include "rtfread.h"

namespace dorvex {

int forced_charset = 0;
CharsetTable current_charset = nullptr;

int parse_rtf(std::FILE*, const unsigned char*, std::size_t) { return 0; }

}  // namespace dorvex
