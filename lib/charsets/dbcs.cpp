#include "dbcs.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "context.h"
#include "fileutil.h"

namespace dorvex {

namespace {

// The four double-byte code pages and what became of their tables.
// A table is looked for once along the charset_path in force; a new path (the configuration,
// a test) looks again.
constexpr int kDbcsCodepages[] = {932, 936, 949, 950};
static_assert(std::size(kDbcsCodepages) == kDbcsTables, "a slot for each code page");

// A generated table is a few hundred kilobytes; anything far larger is not one of ours.
constexpr long kMaxTableFile = 4 * 1024 * 1024;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads "0x" and up to five hex digits at *p (within end); -1 when there is no such number.
long read_hex(const char*& p, const char* end) {
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  if (end - p < 3 || p[0] != '0' || (p[1] != 'x' && p[1] != 'X') || hex_digit(p[2]) < 0) return -1;
  p += 2;
  long value = 0;
  for (int n = 0; p < end && hex_digit(*p) >= 0; ++p, ++n) {
    if (n == 5) return -1;
    value = value * 16 + hex_digit(*p);
  }
  return value;
}

void add_entry(DbcsTable& t, long code, long value) {
  if (value <= 0 || value > 0xFFFF) return;
  if (code <= 0xFF) {
    t.single[static_cast<std::size_t>(code)] = static_cast<std::uint16_t>(value);
    return;
  }
  const auto lead = static_cast<std::size_t>(code >> 8);
  if (lead < 0x80 || lead > 0xFF) return;
  if (!t.rows[lead]) t.rows[lead] = std::make_unique<DbcsRow>();
  (*t.rows[lead])[static_cast<std::size_t>(code & 0xFF)] = static_cast<std::uint16_t>(value);
}

std::string read_whole_file(const char* path) {
  std::string text;
  // A device or a FIFO (which would hold the open until a writer came) is no table.
  bool refused = false;
  std::FILE* f = open_data_file(path, static_cast<std::uint64_t>(kMaxTableFile), &refused);
  if (!f) return text;
  char block[65536];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, f)) > 0;) {
    text.append(block, got);
    if (text.size() > static_cast<std::size_t>(kMaxTableFile)) break;
  }
  std::fclose(f);
  return text;
}

std::unique_ptr<DbcsTable> load_table(int codepage) {
  char name[16];
  std::snprintf(name, sizeof name, "cp%d.dbcs", codepage);
  char* path = find_file(stradd(name, ""), ctx().charset_path);
  if (!path) return nullptr;
  std::string text = read_whole_file(path);
  std::free(path);
  if (text.empty()) return nullptr;
  return parse_dbcs_table(text.data(), text.size());
}

}  // namespace

int dbcs_codepage(std::int32_t codepage) {
  switch (codepage) {
    case 932:
    case 10001:
      return 932;
    case 936:
    case 949:
    case 950:
      return codepage;
    default:
      return 0;
  }
}

std::unique_ptr<DbcsTable> parse_dbcs_table(const char* text, std::size_t size) {
  auto table = std::make_unique<DbcsTable>();
  const char* p = text;
  const char* end = text + size;
  while (p < end) {
    const char* line_end = p;
    while (line_end < end && *line_end != '\n') ++line_end;
    long code = read_hex(p, line_end);
    long value = code >= 0 ? read_hex(p, line_end) : -1;
    if (code >= 0 && value >= 0) add_entry(*table, code, value);
    p = line_end < end ? line_end + 1 : end;
  }
  return table;
}

const DbcsTable* dbcs_table(int codepage) {
  for (std::size_t i = 0; i < kDbcsTables; ++i) {
    if (kDbcsCodepages[i] != codepage) continue;
    LoadedDbcsTable& entry = ctx().charsets.dbcs[i];
    const char* path_list = ctx().charset_path ? ctx().charset_path : "";
    if (!entry.tried || entry.path_list != path_list) {
      entry.tried = true;
      entry.path_list = path_list;
      entry.table = load_table(codepage);
    }
    return entry.table.get();
  }
  return nullptr;
}

}  // namespace dorvex
