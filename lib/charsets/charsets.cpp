#include "charsets.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "confutil.h"
#include "context.h"
#include "fileutil.h"
#include "numutils.h"
#include "substmap.h"

namespace dorvex {

namespace {

constexpr int kTableSize = 256;
// Shipped tables take 9 to 10 KB; one up to this size is read into a block on the stack.
constexpr std::size_t kSmallTable = 16384;
constexpr int kRowSize = 256;
constexpr long long kMaxCharsetValue = 0xFEFE;  // 0xFEFF..0xFFFD and 0xFFFF are refused
constexpr long long kNonCharValue = 0xFFFE;     // the one value above kMaxCharsetValue that is accepted

// Numbers in a charset file only ever need to reach past 0xFFFE to be refused, so the scanner
// stops growing them here instead of wrapping like an int conversion of a huge literal would.
constexpr unsigned long long kScanCap = 0x100000000ULL;

struct CodepageName {
  std::int32_t codepage;
  const char* name;
};

constexpr CodepageName cp_to_charset[] = {
    {10000, "mac-roman"},
    {10001, "mac-japanese"},
    {10002, "mac-tchinese"},
    {10003, "mac-korean"},
    {10004, "mac-arabic"},
    {10005, "mac-hebrew"},
    {10006, "mac-greek1"},
    {10007, "mac-cyrillic"},
    {10008, "mac-schinese"},
    {10010, "mac-romania"},
    {10017, "mac-ukraine"},
    {10021, "mac-thai"},
    {10029, "mac-centeuro"},
    {10079, "mac-iselandic"},
    {10081, "mac-turkish"},
    {10082, "mac-croatia"},
    {20866, "koi8-r"},
    {28591, "8859-1"},
    {28592, "8859-2"},
    {28593, "8859-3"},
    {28594, "8859-4"},
    {28595, "8859-5"},
    {28596, "8859-6"},
    {28597, "8859-7"},
    {28598, "8859-8"},
    {28599, "8859-9"},
    {28605, "8859-15"},
    {65001, "utf-8"},
    {0, nullptr},
};

[[noreturn]] void charset_memory_exhausted() {
  report("Insufficient memory for  charset\n");
  end_program(1);
}

// White space of the "C" locale, whatever locale the process runs in.
bool is_scan_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int digit_value(int c, int base) {
  if (c < 0) return -1;  // EOF
  int d = kDigitValue[static_cast<unsigned>(c) & 0xFF];
  return d < base ? d : -1;
}

int hex_value(char c) { return kDigitValue[static_cast<unsigned char>(c)]; }

// A charset file read whole, taken a byte at a time as getc would give it.
struct TextCursor {
  const char* p;
  const char* end;
  int get() { return p < end ? static_cast<unsigned char>(*p++) : EOF; }
  void unget() { --p; }
};

// One "%i" conversion as the C library's formatted scan does it: white space (line ends
// included) skipped, optional sign, 0x/0X for hexadecimal, a leading 0 for octal. As with the
// C library, "0x" without hexadecimal digits reads as 0. The first character that does not fit
// is pushed back. Returns 1 with *out set, 0 when no number is there, EOF at the end of input.
int scan_number(TextCursor& in, long long* out) {
  int c;
  do c = in.get();
  while (c != EOF && is_scan_space(c));
  if (c == EOF) return EOF;
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = in.get();
  }
  int base = 10;
  bool any_digit = false;
  if (c == '0') {
    any_digit = true;
    base = 8;
    c = in.get();
    if (c == 'x' || c == 'X') {
      base = 16;
      c = in.get();
    }
  }
  unsigned long long value = 0;
  for (int d; (d = digit_value(c, base)) >= 0; c = in.get()) {
    any_digit = true;
    value = value * unsigned(base) + unsigned(d);
    if (value > kScanCap) value = kScanCap;
  }
  if (c != EOF) in.unget();
  if (!any_digit) return 0;
  *out = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
  return 1;
}

void skip_line(TextCursor& in) {
  const void* nl = std::memchr(in.p, '\n', static_cast<std::size_t>(in.end - in.p));
  in.p = nl ? static_cast<const char*>(nl) + 1 : in.end;
}

// The pair of the shape every line of a generated table has, `0xHH 0xHHHH`, read as the two
// number scans would read it but without their cost: two tables are read at every start. The
// cursor is left behind the pair. False, with the cursor untouched, for any other shape.
bool read_common_pair(TextCursor& in, long long* index, long long* value) {
  const char* p = in.p;
  if (in.end - p < 12 || p[0] != '0' || p[1] != 'x' || p[4] != ' ' || p[5] != '0' || p[6] != 'x')
    return false;
  int digits[6] = {hex_value(p[2]), hex_value(p[3]), hex_value(p[7]),
                   hex_value(p[8]), hex_value(p[9]), hex_value(p[10])};
  for (int d : digits)
    if (d > 15) return false;
  if (hex_value(p[11]) <= 15) return false;  // the value goes on
  *index = digits[0] << 4 | digits[1];
  *value = digits[2] << 12 | digits[3] << 8 | digits[4] << 4 | digits[5];
  in.p = p + 11;
  return true;
}

// A file whose first *size bytes are in head, whole in one allocation of *size bytes and one
// more (std::free it); null when a read fails.
char* read_rest_of(std::FILE* f, const char* head, std::size_t* size) {
  std::size_t rest_size = 0;
  char* rest = read_whole_file(f, &rest_size);
  if (!rest) return nullptr;
  auto* whole = static_cast<char*>(std::malloc(*size + rest_size + 1));
  if (!whole) charset_memory_exhausted();
  std::memcpy(whole, head, *size);
  std::memcpy(whole + *size, rest, rest_size);
  std::free(rest);
  *size += rest_size;
  return whole;
}

bool valid_entry(long long index, long long value) {
  return index >= 0 && index < kTableSize && value >= 0 &&
         (value <= kMaxCharsetValue || value == kNonCharValue);
}

std::int16_t* new_reverse_row() {
  auto* row = static_cast<std::int16_t*>(std::malloc(kRowSize * sizeof(std::int16_t)));
  if (!row) charset_memory_exhausted();
  for (int i = 0; i < kRowSize; ++i) row[i] = -1;
  return row;
}

char* put_hex4(char* p, unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) *p++ = kDigits[(v >> shift) & 0xF];
  return p;
}

}  // namespace

CharsetTable parse_charset_file(std::FILE* f, const char* path) {
  // Read whole and scanned in memory: a stdio call per byte was most of a start-up's work.
  // Every shipped table fits the block on the stack, which costs no allocation.
  char block[kSmallTable];
  std::size_t size = std::fread(block, 1, sizeof block, f);
  char* whole = size == sizeof block ? read_rest_of(f, block, &size) : nullptr;
  if (std::ferror(f)) {
    // A read error: a directory named like a charset file opens, but every read fails.
    report_errno(path);
    std::free(whole);
    return nullptr;
  }
  const char* text = whole ? whole : block;
  auto* table = static_cast<std::uint16_t*>(std::calloc(kTableSize, sizeof(std::uint16_t)));
  if (!table) charset_memory_exhausted();
  for (int i = 0; i < 32; ++i) table[i] = static_cast<std::uint16_t>(i);
  TextCursor in{text, text + size};
  while (in.p < in.end) {
    long long index = 0, value = 0;
    // "%i %li": the blank between the numbers skips line ends too.
    if (read_common_pair(in, &index, &value) ||
        (scan_number(in, &index) == 1 && scan_number(in, &value) == 1)) {
      if (!valid_entry(index, value)) {
        report("Invalid charset file %s\n", path);
        std::free(table);
        std::free(whole);
        return nullptr;
      }
      table[index] = static_cast<std::uint16_t>(value);
    }
    skip_line(in);
  }
  std::free(whole);
  return table;
}

CharsetTable read_charset(const char* name) {
  char* path = nullptr;
  bool refused = false;
  std::FILE* f = open_charset_table(name, &path, &refused);
  if (!path) {
    report("Cannot load charset %s - file not found\n", name);
    return nullptr;
  }
  if (refused) {  // a device, a FIFO or a huge file: no table
    report("Invalid charset file %s\n", path);
    std::free(path);
    return nullptr;
  }
  if (!f) {
    report_errno(path);
    std::free(path);
    return nullptr;
  }
  // Read whole in large reads straight into one block: no stdio buffer in between.
  std::setvbuf(f, nullptr, _IONBF, 0);
  CharsetTable table = parse_charset_file(f, path);
  std::fclose(f);
  std::free(path);
  return table;
}

ReverseMap* make_reverse_map(const std::uint16_t* table) {
  if (!table) return nullptr;
  auto* map = static_cast<ReverseMap*>(std::calloc(1, sizeof(ReverseMap)));
  if (!map) charset_memory_exhausted();
  // Ascending order with overwriting stores: of several bytes for one value the highest wins.
  for (int b = 0; b < kTableSize; ++b) {
    unsigned u = table[b];
    std::int16_t*& row = map->rows[u >> 8];
    if (!row) row = new_reverse_row();
    row[u & 0xFF] = static_cast<std::int16_t>(b);
  }
  return map;
}

void free_reverse_map(ReverseMap* map) {
  if (!map) return;
  for (std::int16_t* row : map->rows) std::free(row);
  std::free(map);
}

int from_unicode(const ReverseMap* map, int u) {
  if (static_cast<unsigned>(u) > 0xFFFF) return -1;
  const std::int16_t* row = map->rows[static_cast<unsigned>(u) >> 8];
  return row ? row[u & 0xFF] : -1;
}

const char* charset_from_codepage(unsigned cp) {
  if (cp == 1200 || cp == 1201) return "";
  if (cp <= 9999) {
    char* codepage_name = ctx().charsets.codepage_name;
    std::snprintf(codepage_name, sizeof ctx().charsets.codepage_name, "cp%u", cp);
    return codepage_name;
  }
  for (const CodepageName* p = cp_to_charset; p->codepage != 0; ++p)
    if (static_cast<unsigned>(p->codepage) == cp) return p->name;
  return nullptr;
}

const char* to_utf8(int u) {
  auto v = static_cast<unsigned>(u) & 0xFFFF;
  char* const utfbuffer = ctx().charsets.utfbuffer;
  char* p = utfbuffer;
  if (v < 0x80) {
    *p++ = static_cast<char>(v);
  } else if (v < 0x800) {
    *p++ = static_cast<char>(0xC0 | (v >> 6));
    *p++ = static_cast<char>(0x80 | (v & 0x3F));
  } else {
    *p++ = static_cast<char>(0xE0 | (v >> 12));
    *p++ = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (v & 0x3F));
  }
  *p = '\0';
  return utfbuffer;
}

// The hex form of -x, or bad_char: what a character that cannot be written becomes.
const char* unwritable(unsigned code) {
  Extraction& c = ctx();
  if (!c.unknown_as_hex) return c.bad_char;
  char* const hexbuf = c.charsets.hexbuf;
  hexbuf[0] = '\\';
  hexbuf[1] = 'x';
  char* p = hexbuf + 2;
  if (code > 0xFFFFF) *p++ = "0123456789ABCDEF"[code >> 20];
  if (code > 0xFFFF) *p++ = "0123456789ABCDEF"[(code >> 16) & 0xF];
  *put_hex4(p, code & 0xFFFF) = '\0';
  return hexbuf;
}

const char* convert_char(int u) {
  Extraction& c = ctx();
  if (static_cast<unsigned>(u) > 0xFFFF) return c.bad_char;  // callers never pass such values
  if (const char* special = map_subst(c.spec_chars, u)) return special;
  // A surrogate on its own is no character: UTF-8 has no form for it.
  if (!c.target_charset) return is_surrogate(u) ? unwritable(static_cast<unsigned>(u)) : to_utf8(u);
  int byte = from_unicode(c.target_charset, u);
  if (byte >= 0) {
    char* const plain_char = c.charsets.plain_char;
    plain_char[0] = static_cast<char>(byte);
    plain_char[1] = '\0';
    return plain_char;
  }
  if (const char* replacement = map_subst(c.replacements, u)) return replacement;
  return unwritable(static_cast<unsigned>(u));
}

const char* convert_pair(int high, int low) {
  unsigned code = 0x10000 + ((static_cast<unsigned>(high) & 0x3FF) << 10) +
                  (static_cast<unsigned>(low) & 0x3FF);
  // The maps and 8-bit charsets stop at U+FFFF.
  if (ctx().target_charset) return unwritable(code);
  char* const utfbuffer = ctx().charsets.utfbuffer;
  utfbuffer[0] = static_cast<char>(0xF0 | (code >> 18));
  utfbuffer[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  utfbuffer[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  utfbuffer[3] = static_cast<char>(0x80 | (code & 0x3F));
  utfbuffer[4] = '\0';
  return utfbuffer;
}

void decoder_read_failed(const char* prefix) {
  report_errno(prefix);
  end_program(1);
}

int get_8bit_char(StreamHandle stream, std::int32_t* offset, std::int32_t) {
  return decode_8bit(HookBytes{stream, ctx().dorvex_read}, offset, ctx().source_charset);
}

int get_utf16lsb(StreamHandle stream, std::int32_t* offset, std::int32_t) {
  return decode_utf16(HookBytes{stream, ctx().dorvex_read}, offset, true);
}

int get_utf16msb(StreamHandle stream, std::int32_t* offset, std::int32_t) {
  return decode_utf16(HookBytes{stream, ctx().dorvex_read}, offset, false);
}

int get_utf8(StreamHandle stream, std::int32_t* offset, std::int32_t) {
  return decode_utf8(HookBytes{stream, ctx().dorvex_read}, offset,
                     ctx().charsets.pending_low_surrogate);
}

}  // namespace dorvex
