// Double-byte code pages (Japanese, Chinese, Korean): tables loaded on first need from
// "<name>.dbcs" files along charset_path, and the decoding of lead and trail byte pairs.
#ifndef DORVEX_DBCS_H
#define DORVEX_DBCS_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace dorvex {

using DbcsRow = std::array<std::uint16_t, 256>;  // Unicode value by trail byte; 0: no character

struct DbcsTable {
  std::array<std::uint16_t, 256> single{};    // bytes that stand alone; 0: no character
  std::array<std::unique_ptr<DbcsRow>, 256> rows;  // by lead byte; null: not a lead byte
};

// The double-byte code page a Windows code page number stands for: 932, 936, 949 or 950
// (Mac Japanese, 10001, is read as 932); 0 for every other code page.
int dbcs_codepage(std::int32_t codepage);

// The table of a double-byte code page (a value dbcs_codepage gives), loaded the first time it
// is asked for and kept for the run. Null when it cannot be loaded; the failure is remembered,
// so a missing table is searched for once along a given charset_path.
const DbcsTable* dbcs_table(int codepage);

// Reads a table from the text of a ".dbcs" file: one "code value" pair of hexadecimal numbers
// per line, a code up to 0xFF being a single byte and a larger one a lead byte (0x80 or more)
// and a trail byte. Lines that do not hold such a pair ("#" comments) are skipped.
std::unique_ptr<DbcsTable> parse_dbcs_table(const char* text, std::size_t size);

inline bool dbcs_is_lead(const DbcsTable& t, unsigned char byte) { return t.rows[byte] != nullptr; }

// The character of a lead and a trail byte; 0 when the pair has none.
inline int dbcs_pair(const DbcsTable& t, unsigned char lead, unsigned char trail) {
  return t.rows[lead] ? (*t.rows[lead])[trail] : 0;
}

// The tables of the four double-byte code pages, by kDbcsCodepages order, in one extraction.
// A table is looked for once along the charset_path in force; a new path looks again.
constexpr std::size_t kDbcsTables = 4;
struct LoadedDbcsTable {
  bool tried = false;
  std::string path_list;
  std::unique_ptr<DbcsTable> table;
};

}  // namespace dorvex

#endif  // DORVEX_DBCS_H
