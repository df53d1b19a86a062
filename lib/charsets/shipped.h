// The 8-bit charsets dorvex ships a table for, known without looking for their files: a name
// among them whose file is missing is a broken installation, not a name the user got wrong.
#ifndef DORVEX_SHIPPED_H
#define DORVEX_SHIPPED_H

#include <cstddef>

namespace dorvex {

// The table names of charsets/ (without ".txt"), sorted.
extern const char* const kShippedCharsets[];
extern const std::size_t kShippedCharsetCount;

// The entry of kShippedCharsets equal to name (exactly, as a table name), or null.
const char* shipped_charset(const char* name);

}  // namespace dorvex

#endif  // DORVEX_SHIPPED_H
