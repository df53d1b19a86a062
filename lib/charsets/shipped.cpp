#include "shipped.h"

#include <algorithm>
#include <cstring>

namespace dorvex {

const char* const kShippedCharsets[] = {
    "8859-1",     "8859-10",      "8859-11",     "8859-13",      "8859-14",    "8859-15",
    "8859-16",    "8859-2",       "8859-3",      "8859-4",       "8859-5",     "8859-6",
    "8859-7",     "8859-8",       "8859-9",      "cp1250",       "cp1251",     "cp1252",
    "cp1253",     "cp1254",       "cp1255",      "cp1256",       "cp1257",     "cp1258",
    "cp437",      "cp737",        "cp775",       "cp850",        "cp852",      "cp855",
    "cp857",      "cp860",        "cp861",       "cp862",        "cp863",      "cp864",
    "cp865",      "cp866",        "cp869",       "cp874",        "koi8-r",     "koi8-u",
    "mac-arabic", "mac-centeuro", "mac-croatia", "mac-cyrillic", "mac-greek1", "mac-iselandic",
    "mac-roman",  "mac-romania",  "mac-turkish",
};
const std::size_t kShippedCharsetCount = sizeof kShippedCharsets / sizeof kShippedCharsets[0];

const char* shipped_charset(const char* name) {
  const char* const* end = kShippedCharsets + kShippedCharsetCount;
  const char* const* it =
      std::lower_bound(kShippedCharsets, end, name,
                       [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
  return it != end && std::strcmp(*it, name) == 0 ? *it : nullptr;
}

}  // namespace dorvex
