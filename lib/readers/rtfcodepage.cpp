#include "rtfcodepage.h"

#include <cstdio>
#include <cstring>

#include "charsets.h"
#include "confutil.h"
#include "fileutil.h"

namespace dorvex {

bool codepage_has_table(std::int32_t codepage) {
  const char* name = charset_from_codepage(static_cast<unsigned>(codepage));
  if (!name) return false;
  if (!*name) return true;  // 1200, 1201: the charset in force is loaded again by its name
  const char* charset = resolve_charset(name);
  return charset && std::strcmp(charset, "utf-8") != 0;
}

void warn_codepage_without_table(std::int32_t codepage) {
  std::fprintf(stderr, "Code page %d has no charset - text read as %s\n",
               static_cast<int>(codepage), source_csname);
}

}  // namespace dorvex
