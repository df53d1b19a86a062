#include "rtfread.h"

#include <array>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "confutil.h"
#include "fileutil.h"
#include "writer.h"

namespace dorvex {

int forced_charset = 0;
CharsetTable current_charset = nullptr;

constexpr RtfKeyword rtf_types[32] = {
    {"uc", 2},        {"ansicpg", 0},    {"pard", 25},      {"par", 5},
    {"cell", 9},      {"row", 8},        {"overlay", 11},   {"pict", 12},
    {"author", 14},   {"f", 13},         {"fonttbl", 15},   {"info", 16},
    {"stylesheet", 17}, {"colortbl", 18}, {"listtable", 20}, {"listoverridetable", 19},
    {"rsidtbl", 21},  {"generator", 22}, {"datafield", 23}, {"lang", 24},
    {"tab", 26},      {"emdash", 28},    {"endash", 29},    {"emspace", 30},
    {"enspace", 31},  {"bullet", 32},    {"lquote", 33},    {"rquote", 34},
    {"ldblquote", 35}, {"rdblquote", 36}, {"zwnj", 37},     {"u", 3},
};

namespace {

// The group stack starts with room for 20 groups. It then grows by half its size (at least
// 10 records), so that a document nested a million deep costs a few dozen reallocations
// rather than a hundred thousand copies of an ever larger block.
constexpr std::size_t kInitialGroups = 20;
constexpr std::size_t kGroupStep = 10;

// Groups nested deeper than this open no record of their own: their text is read with the
// deepest record's settings and their braces are only counted. Real documents nest a few dozen
// levels; without a ceiling an endless stream of "{" would take memory without bound.
constexpr std::size_t kMaxGroupDepth = 100000;

// A paragraph that reaches 262,143 units is written as it stands, leaving room for the 0.
constexpr std::int32_t kFlushIndex = 0x3FFFE;

// Code pages named by documents are few; a document that switches back and forth between
// them must not reload a charset file (or leak a table) at every switch.
constexpr std::size_t kCharsetCacheSize = 8;

// Units of the special-character words, kinds 28 to 37.
constexpr std::uint16_t kSpecialUnits[] = {0x2014, 0x2013, 0x0020, 0x0020, 0x2022,
                                           0x2018, 0x2019, 0x201C, 0x201D, 0xFEFF};

struct CachedCharset {
  std::string name;
  CharsetTable table = nullptr;
};
std::array<CachedCharset, kCharsetCacheSize> charset_cache;
std::size_t next_victim = 0;

// source_csname as rtfSetCharset last set it (a copy check_charset made, which no one else
// holds), and the value it replaced, which belongs to whoever set it.
char* owned_csname = nullptr;
const char* outside_csname = nullptr;

// The fallback count of each open group, indexed by level.
struct GroupStack {
  std::int32_t* records = nullptr;
  std::size_t size = 0;
  GroupStack() = default;
  GroupStack(const GroupStack&) = delete;
  GroupStack& operator=(const GroupStack&) = delete;
  ~GroupStack() { std::free(records); }
};

struct RtfState {
  RtfStream in;
  std::int32_t last = -1;
  std::size_t level = 0;
  std::size_t skip_level = 0;  // 0: text is stored; else the level where suppression began
  std::size_t par_level = 0;   // level of the last paragraph word
  std::size_t unrecorded = 0;  // groups open beyond kMaxGroupDepth
  GroupStack groups;
};

// For each first letter, the rows of rtf_types that begin with it, as a bit set: a word is
// compared only with those, still in table order.
constexpr std::array<std::uint32_t, 128> make_rows_by_letter() {
  std::array<std::uint32_t, 128> rows{};
  for (std::uint32_t i = 0; i < 32; ++i) {
    rows[static_cast<unsigned char>(rtf_types[i].name[0]) & 0x7F] |= std::uint32_t{1} << i;
  }
  return rows;
}
constexpr std::array<std::uint32_t, 128> kRowsByLetter = make_rows_by_letter();

bool same_word(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

int hex_value(int c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text units go through here: a 0 unit would end the paragraph early in the writer.
void store(RtfState& st, int unit) {
  if (unit != 0) add_to_buffer(st.last, static_cast<std::uint16_t>(unit));
}

bool grow_groups(GroupStack& g) {
  std::size_t step = g.size / 2 > kGroupStep ? g.size / 2 : kGroupStep;
  void* p = std::realloc(g.records, (g.size + step) * sizeof(std::int32_t));
  if (!p) return false;
  g.records = static_cast<std::int32_t*>(p);
  g.size += step;
  return true;
}

bool open_group(RtfState& st) {
  if (st.level >= kMaxGroupDepth) {
    ++st.unrecorded;
    if (st.par_level != 0) add_to_buffer(st.last, ' ');
    return true;
  }
  ++st.level;
  if (st.level >= st.groups.size && !grow_groups(st.groups)) {
    std::perror("Can't allocate memory: ");
    return false;
  }
  if (st.par_level != 0) add_to_buffer(st.last, ' ');
  st.groups.records[st.level] = st.groups.records[st.level - 1];
  return true;
}

void close_group(RtfState& st) {
  if (st.unrecorded > 0) {
    --st.unrecorded;
    return;
  }
  if (st.level > 0) --st.level;
  if (st.par_level > st.level) st.par_level = 0;
  if (st.skip_level > st.level) st.skip_level = 0;
}

// Discards the fallback text of a Unicode escape: count characters, where an escape or any
// other control word or symbol counts as one. Line ends are not text and do not count. A brace
// ends the fallback early and is left to be read as structure.
void skip_fallback(RtfStream& in, std::int32_t count) {
  while (count > 0) {
    int c = rtf_getc(in);
    if (c == EOF) return;
    if (c == '{' || c == '}') {
      rtf_ungetc(in, c);
      return;
    }
    if (c == '\n' || c == '\r') continue;
    if (c == '\\') {
      RtfCommand skipped;
      getRtfCommand(in, skipped);
    }
    --count;
  }
}

// \uN: the parameter is a signed 16-bit value in RTF, so writers put characters above
// U+7FFF as negative numbers (\u-3913 for U+F0B7).
void unicode_char(RtfState& st, std::int32_t n) {
  if (n < -32768) return;
  int unit = n < 0 ? n + 65536 : n & 0xFFFF;
  if (st.skip_level == 0) store(st, unit);
  skip_fallback(st.in, st.groups.records[st.level]);
}

void control_symbol(RtfState& st, int c) {
  switch (c) {
    case '*':
      if (st.skip_level == 0) st.skip_level = st.level;
      break;
    case '\r':
    case '\n':  // a backslash before a line end is a paragraph mark (TextEdit writes \<LF>)
      end_paragraph(st.last);
      break;
    case '~':
      store(st, 0x00A0);
      break;
    case '-':
      store(st, 0x00AD);
      break;
    case '{':
    case '}':
    case '\\':  // the escaped characters themselves are text
      if (st.skip_level == 0) store(st, c);
      break;
    default:
      break;
  }
}

void handle_command(RtfState& st, const RtfCommand& cmd) {
  switch (cmd.type) {
    case 0:
      rtfSetCharset(current_charset, cmd.param);
      break;
    case 2:
      st.groups.records[st.level] = cmd.param;
      break;
    case 3:
      unicode_char(st, cmd.param);
      break;
    case kRtfHexEscape:
      if (st.skip_level == 0) store(st, rtf_to_unicode(cmd.param));
      break;
    case 5:
      end_paragraph(st.last);
      st.par_level = st.level;
      break;
    case 12:
    case 15:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 23:
      if (st.skip_level == 0) st.skip_level = st.level;
      break;
    case 26:
      store(st, '\t');
      break;
    case kRtfControlSymbol:
      control_symbol(st, cmd.param);
      break;
    default:
      if (cmd.type >= 28 && cmd.type <= 37) store(st, kSpecialUnits[cmd.type - 28]);
      break;
  }
}

// Starts the document at offset 0. A seekable stream is rewound; otherwise (a pipe) the bytes
// detection consumed are read first. Without a prefix there is nothing to hand back.
void start_input(RtfStream& in, std::FILE* f, const unsigned char* prefix,
                 std::size_t prefix_len) {
  in.file = f;
  if (prefix_len == 0 || prefix == nullptr) {
    std::fseek(f, 0, SEEK_SET);
    return;
  }
  if (std::ftell(f) >= 0 && std::fseek(f, 0, SEEK_SET) == 0) return;
  in.prefix = prefix;
  in.prefix_len = prefix_len;
}

CharsetTable cached_charset(const char* name) {
  for (const CachedCharset& entry : charset_cache) {
    if (entry.table && entry.name == name) return entry.table;
  }
  return nullptr;
}

// Keeps a loaded table; when the cache is full, frees one that no variable holds.
void remember_charset(const char* name, CharsetTable table, CharsetTable in_use) {
  for (CachedCharset& entry : charset_cache) {
    if (!entry.table) {
      entry.name = name;
      entry.table = table;
      return;
    }
  }
  for (std::size_t tries = 0; tries < kCharsetCacheSize; ++tries) {
    CachedCharset& entry = charset_cache[next_victim];
    next_victim = (next_victim + 1) % kCharsetCacheSize;
    if (entry.table != in_use && entry.table != current_charset) {
      std::free(entry.table);
      entry.name = name;
      entry.table = table;
      return;
    }
  }
}

}  // namespace

int getCommandType(const char* name) {
  std::uint32_t rows = kRowsByLetter[static_cast<unsigned char>(name[0]) & 0x7F];
  while (rows != 0) {
    int i = std::countr_zero(rows);
    rows &= rows - 1;
    if (same_word(rtf_types[i].name, name)) return rtf_types[i].type;
  }
  return kRtfUnlisted;
}

std::int32_t getNumber(RtfStream& in) {
  char text[kRtfNameLimit + 1];
  std::size_t n = 0;
  int c;
  while ((c = rtf_getc(in)) != EOF && (is_digit(c) || c == '-')) {
    if (n < kRtfNameLimit) text[n++] = static_cast<char>(c);
  }
  rtf_ungetc(in, c);
  // Read as strtol would: an optional minus, then the digits up to the first other character.
  const bool negative = n > 0 && text[0] == '-';
  std::int64_t v = 0;
  for (std::size_t i = negative ? 1 : 0; i < n && is_digit(text[i]); ++i) {
    if (v <= INT64_C(0x100000000)) v = v * 10 + (text[i] - '0');
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

int getCharCode(RtfStream& in) {
  int value = 0;
  for (int i = 0; i < 2; ++i) {
    int c = rtf_getc(in);
    if (c == EOF) return -1;
    int d = hex_value(c);
    if (d < 0) {
      rtf_ungetc(in, c);
      break;
    }
    value = value * 16 + d;
  }
  return value;
}

int getRtfCommand(RtfStream& in, RtfCommand& cmd) {
  int c = rtf_getc(in);
  cmd.name[0] = '\0';
  cmd.param = 0;
  if (!is_letter(c)) {
    if (c == '\'') {
      cmd.type = kRtfHexEscape;
      cmd.param = getCharCode(in);
      return in.eof ? -1 : 0;
    }
    cmd.type = kRtfControlSymbol;
    cmd.param = c;
    return 0;
  }
  // A word cut at the input's end is still acted on with the letters read.
  std::size_t n = 0;
  cmd.name[n++] = static_cast<char>(c);
  while ((c = rtf_getc(in)) != EOF && is_letter(c) && n < kRtfNameLimit) {
    cmd.name[n++] = static_cast<char>(c);
  }
  rtf_ungetc(in, c);
  cmd.name[n] = '\0';
  cmd.type = getCommandType(cmd.name);
  if (is_digit(c) || c == '-') cmd.param = getNumber(in);
  c = rtf_getc(in);
  if (c != ' ' && c != '\t') rtf_ungetc(in, c);
  return 0;
}

int rtf_to_unicode(int code) {
  if (code < 0) return 0xFEFF;
  if (!current_charset) return code & 0xFF;
  return to_unicode(current_charset, code);
}

void rtfSetCharset(CharsetTable& charset, std::int32_t codepage) {
  if (forced_charset) return;
  const char* name = charset_from_codepage(static_cast<unsigned>(codepage));
  if (!name) return;
  const char* before = source_csname;
  if (!source_csname || std::strcmp(source_csname, name) != 0) {
    check_charset(&source_csname, name);
  }
  if (source_csname != before) {
    if (before == owned_csname) {
      std::free(owned_csname);
    } else {
      outside_csname = before;
    }
    owned_csname = const_cast<char*>(source_csname);
  }
  if (!source_csname) return;
  CharsetTable table = cached_charset(source_csname);
  if (!table) {
    // The document's stream is using the shared buffer.
    char* saved = input_buffer;
    input_buffer = nullptr;
    table = read_charset(source_csname);
    input_buffer = saved;
    if (!table) return;
    remember_charset(source_csname, table, charset);
  }
  charset = table;
}

void release_rtf_charsets() {
  current_charset = source_charset;
  for (CachedCharset& entry : charset_cache) {
    std::free(entry.table);
    entry.table = nullptr;
    entry.name.clear();
  }
  next_victim = 0;
  if (owned_csname && source_csname == owned_csname) {
    source_csname = outside_csname;
    std::free(owned_csname);
  }
  owned_csname = nullptr;
  outside_csname = nullptr;
}

void add_to_buffer(std::int32_t& last, std::uint16_t unit) {
  buffer[static_cast<std::size_t>(++last)] = unit;
  if (last == kFlushIndex) {
    buffer[kFlushIndex + 1] = 0;
    output_paragraph(buffer.data());
    last = -1;
  }
}

void end_paragraph(std::int32_t& last) {
  add_to_buffer(last, '\n');
  buffer[static_cast<std::size_t>(last + 1)] = 0;
  output_paragraph(buffer.data());
  last = -1;
}

int parse_rtf(std::FILE* f, const unsigned char* prefix, std::size_t prefix_len) {
  current_charset = source_charset;
  RtfState st;
  start_input(st.in, f, prefix, prefix_len);
  st.groups.records = static_cast<std::int32_t*>(std::calloc(kInitialGroups, sizeof(std::int32_t)));
  if (!st.groups.records) {
    std::perror("Can't allocate memory: ");
    return 1;
  }
  st.groups.size = kInitialGroups;
  st.groups.records[0] = 1;  // one fallback character until \uc says otherwise
  RtfCommand cmd;
  for (int c; (c = rtf_getc(st.in)) != EOF;) {
    switch (c) {
      case '{':
        if (!open_group(st)) return 1;
        break;
      case '}':
        close_group(st);
        break;
      case '\\':
        if (getRtfCommand(st.in, cmd) == 0) handle_command(st, cmd);
        break;
      case '\n':
      case '\r':
        break;
      default:
        if (st.skip_level == 0) store(st, rtf_to_unicode(c));
        break;
    }
  }
  if (st.last >= 0) end_paragraph(st.last);
  return 0;
}

}  // namespace dorvex
