#include "rtfread.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "confutil.h"
#include "dbcs.h"
#include "fileutil.h"
#include "rtfcodepage.h"
#include "rtfinfo.h"
#include "unlocked_io.h"
#include "utf8step.h"
#include "writer.h"
#include "context.h"

namespace dorvex {


// Kinds of the control words beyond the first 32 rows.
namespace {
constexpr int kCodePage = 0, kFallbackCount = 2, kUnicode = 3, kParagraph = 5, kRow = 8,
              kCell = 9, kFont = 13, kFontTable = 15, kTab = 26;
constexpr int kBinary = 38, kLineBreak = 39, kPcCodePage = 40, kPcaCodePage = 41,
              kMacCodePage = 42, kHiddenDestination = 43, kTextDestination = 44,
              kFontCharset = 45, kFontCodePage = 46, kDefaultFont = 47, kPlain = 48;
}  // namespace

constexpr RtfKeyword rtf_types[kRtfKeywordCount] = {
    {"uc", 2},        {"ansicpg", 0},    {"pard", 25},      {"par", 5},
    {"cell", 9},      {"row", 8},        {"overlay", 11},   {"pict", 12},
    {"author", 14},   {"f", 13},         {"fonttbl", 15},   {"info", 16},
    {"stylesheet", 17}, {"colortbl", 18}, {"listtable", 20}, {"listoverridetable", 19},
    {"rsidtbl", 21},  {"generator", 22}, {"datafield", 23}, {"lang", 24},
    {"tab", 26},      {"emdash", 28},    {"endash", 29},    {"emspace", 30},
    {"enspace", 31},  {"bullet", 32},    {"lquote", 33},    {"rquote", 34},
    {"ldblquote", 35}, {"rdblquote", 36}, {"zwnj", 37},     {"u", 3},
    {"bin", kBinary}, {"line", kLineBreak}, {"nestcell", kCell}, {"nestrow", kRow},
    {"pc", kPcCodePage}, {"pca", kPcaCodePage}, {"mac", kMacCodePage},
    {"tc", kHiddenDestination}, {"tcn", kHiddenDestination}, {"fldinst", kHiddenDestination},
    {"footnote", kTextDestination}, {"fldrslt", kTextDestination},
    {"nesttableprops", kTextDestination},
    {"fcharset", kFontCharset}, {"cpg", kFontCodePage}, {"deff", kDefaultFont},
    {"plain", kPlain},
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

// Fonts a document may define. Real font tables hold a few hundred at most; past this, further
// fonts are read through the document's code page, so a hostile table costs bounded memory and
// time (each definition is a sorted insertion).
constexpr std::size_t kMaxFonts = 4096;

constexpr std::int32_t kNoFont = INT32_MIN;  // a group with no \f of its own: the default font

// The unit for undecodable double-byte text (cells, rows and line ends use the writer's units).
constexpr std::uint16_t kBadChar = 0xFFFD;

// Units of the special-character words, kinds 28 to 37.
constexpr std::uint16_t kSpecialUnits[] = {0x2014, 0x2013, 0x0020, 0x0020, 0x2022,
                                           0x2018, 0x2019, 0x201C, 0x201D, 0xFEFF};


// What bytes of text are decoded through: an 8-bit table, and for a double-byte code page the
// pairs of its lead bytes.
struct Codec {
  const std::uint16_t* single = nullptr;
  const DbcsTable* pairs = nullptr;
  bool ascii = false;  // printable ASCII stands for itself and leads no pair
  bool utf8 = false;   // bytes from 0x80 on are UTF-8 (single then reads ASCII only)
};

Codec make_codec(const std::uint16_t* single, const DbcsTable* pairs) {
  Codec codec{single, pairs, single != nullptr, false};
  for (int b = 0x20; b < 0x7F && codec.ascii; ++b) {
    codec.ascii = single[b] == b && !(pairs && dbcs_is_lead(*pairs, static_cast<unsigned char>(b)));
  }
  return codec;
}

// One entry of the font table. codepage 0: the document's code page. The codec is looked up on
// first use.
struct FontEntry {
  std::int32_t number = 0;
  std::int32_t codepage = 0;
  bool codepage_from_cpg = false;  // \cpg wins over \fcharset
  bool resolved = false;
  Codec codec;
};

// The settings a group carries: its Unicode fallback count and its font. A group starts with
// its parent's and gives them back when it closes.
struct GroupRecord {
  std::int32_t fallback = 1;
  std::int32_t font = kNoFont;
};

struct GroupStack {
  GroupRecord* records = nullptr;
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
  std::size_t unrecorded = 0;  // groups open beyond kMaxGroupDepth
  GroupStack groups;
  bool group_start = false;    // nothing read yet in the group just opened
  bool star_pending = false;   // the last command was \* and began suppression
  int lead = -1;               // a double-byte lead byte waiting for its trail byte, or (UTF-8)
                               // any byte: a character is unfinished in utf8_text
  bool utf8 = false;           // the codec in force reads UTF-8
  Utf8Decoder utf8_text;
  bool codepage_warned = false;  // one warning per document for code pages without a table
  Codec document;              // the document's code page
  const DbcsTable* dbcs = nullptr;  // pairs of the codec in force (current_charset its bytes)
  bool ascii = false;               // the codec in force reads printable ASCII as itself
  std::vector<FontEntry> fonts;     // sorted by number
  std::size_t fonttbl_level = 0;    // level of the font table group; 0 outside it
  std::int32_t defining = kNoFont;  // the font the font table is describing
  std::int32_t default_font = kNoFont;
  // The font whose codec is in force, so that a font change back to it costs nothing. Changes
  // to the font table or the document's code page make it stale.
  std::int32_t applied_font = kNoFont;
  bool applied = false;
  RtfInfo info;  // the \info group's fields, when the caller asked for them
};

// Bytes that end a run of plain text: structure, escapes and line ends.
constexpr std::array<bool, 256> make_run_ends() {
  std::array<bool, 256> ends{};
  for (unsigned char c : {'{', '}', '\\', '\r', '\n'}) ends[c] = true;
  return ends;
}
constexpr std::array<bool, 256> kEndsRun = make_run_ends();

// Control words are found by a perfect hash of their first 8 letters (fewer: the rest are 0),
// read as a little-endian number: each row of rtf_types has a slot of its own, so a word is
// compared with one row at most.
constexpr std::uint64_t kNameHashFactor = 0x80b0c08bc7702421;
constexpr int kNameHashBits = 8;
constexpr std::size_t kLongestKeyword = 17;

constexpr std::size_t name_length(const char* name) {
  std::size_t n = 0;
  while (name[n] != '\0') ++n;
  return n;
}

constexpr std::uint64_t first_letters_of(const char* name) {
  std::uint64_t w = 0;
  for (std::size_t i = 0; i < 8 && name[i] != '\0'; ++i) {
    w |= std::uint64_t{static_cast<unsigned char>(name[i])} << (8 * i);
  }
  return w;
}

constexpr std::size_t name_slot(std::uint64_t first_letters) {
  return static_cast<std::size_t>((first_letters * kNameHashFactor) >> (64 - kNameHashBits));
}

// The first letters and the length of each row.
struct KeywordKey {
  std::uint64_t first_letters;
  std::size_t length;
};
constexpr std::array<KeywordKey, kRtfKeywordCount> make_keyword_keys() {
  std::array<KeywordKey, kRtfKeywordCount> keys{};
  for (std::size_t i = 0; i < kRtfKeywordCount; ++i) {
    keys[i] = {first_letters_of(rtf_types[i].name), name_length(rtf_types[i].name)};
  }
  return keys;
}
constexpr auto kKeywordKeys = make_keyword_keys();

// Row index + 1 by slot; 0: no row.
constexpr std::array<std::uint8_t, std::size_t{1} << kNameHashBits> make_name_slots() {
  std::array<std::uint8_t, std::size_t{1} << kNameHashBits> slots{};
  for (std::size_t i = 0; i < kRtfKeywordCount; ++i) {
    slots[name_slot(first_letters_of(rtf_types[i].name))] = static_cast<std::uint8_t>(i + 1);
  }
  return slots;
}
constexpr auto kNameSlots = make_name_slots();

constexpr bool every_row_has_its_slot() {
  for (std::size_t i = 0; i < kRtfKeywordCount; ++i) {
    if (kNameSlots[name_slot(first_letters_of(rtf_types[i].name))] != i + 1) return false;
    if (name_length(rtf_types[i].name) > kLongestKeyword) return false;
  }
  return true;
}
static_assert(every_row_has_its_slot(), "the hash factor must give each keyword a slot of its own");

// Control words of up to 16 letters, whole: the keywords' kinds by the slot of their first
// letters, with all their letters, so that equal letters are the whole match. A longer keyword
// leaves its slot empty (letters 0, which no word has): a word of 16 letters may share its first 16.
constexpr std::size_t kWholeWordLimit = 16;
struct WholeKeyword {
  std::uint64_t first = 0;  // letters 1 to 8, as first_letters_of gives them
  std::uint64_t rest = 0;   // letters 9 to 16 likewise, 0 for a shorter word
  int type = kRtfUnlisted;
};
constexpr std::array<WholeKeyword, std::size_t{1} << kNameHashBits> make_whole_keywords() {
  std::array<WholeKeyword, std::size_t{1} << kNameHashBits> slots{};
  for (const RtfKeyword& row : rtf_types) {
    const std::size_t n = name_length(row.name);
    if (n > kWholeWordLimit) continue;
    slots[name_slot(first_letters_of(row.name))] = {
        first_letters_of(row.name), n > 8 ? first_letters_of(row.name + 8) : 0, row.type};
  }
  return slots;
}
constexpr auto kWholeKeywords = make_whole_keywords();

// The first 8 letters of a name of n letters, the rest 0. 8 bytes from name on are readable.
std::uint64_t first_letters(const unsigned char* name, std::size_t n) {
  std::uint64_t w;
  std::memcpy(&w, name, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return n < 8 ? w & ((std::uint64_t{1} << (8 * n)) - 1) : w;
}

// The kind of a control word of n letters; 8 bytes from name on are readable.
int command_type(const unsigned char* name, std::size_t n) {
  if (n == 0 || n > kLongestKeyword) return kRtfUnlisted;
  const std::uint64_t w = first_letters(name, n);
  const std::size_t row = kNameSlots[name_slot(w)];
  if (row == 0) return kRtfUnlisted;
  const KeywordKey& key = kKeywordKeys[row - 1];
  if (key.first_letters != w || key.length != n) return kRtfUnlisted;
  const char* const keyword = rtf_types[row - 1].name;
  for (std::size_t k = 8; k < n; ++k) {
    if (static_cast<unsigned char>(keyword[k]) != name[k]) return kRtfUnlisted;
  }
  return rtf_types[row - 1].type;
}

// Read through when no source table is set (tests of the tokenizer alone).
constexpr std::array<std::uint16_t, 256> make_latin1() {
  std::array<std::uint16_t, 256> t{};
  for (std::size_t i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i);
  return t;
}
constexpr std::array<std::uint16_t, 256> latin1_table = make_latin1();

constexpr std::array<bool, 256> make_letters() {
  std::array<bool, 256> letters{};
  for (int c = 'a'; c <= 'z'; ++c) letters[c] = letters[c - 'a' + 'A'] = true;
  return letters;
}
constexpr std::array<bool, 256> kLetters = make_letters();

bool is_letter(int c) { return c >= 0 && c < 256 && kLetters[c]; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

int hex_value(int c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text units go through here: a 0 unit would end the paragraph early in the writer.
// Nothing of a destination that is not text reaches the paragraph, controls included.
void store(RtfState& st, int unit) {
  if (st.skip_level != 0) {
    rtf_info_unit(st.info, static_cast<std::uint16_t>(unit));
    return;
  }
  if (unit != 0) add_to_buffer(st.last, static_cast<std::uint16_t>(unit));
}

// A paragraph or line end that is text, not part of a suppressed destination.
void end_text_paragraph(RtfState& st) {
  if (st.skip_level == 0) end_paragraph(st.last);
}

// Decoded text: the paragraph's, or, while the reader passes over an \info field, the field's
// alone.
void text_unit(RtfState& st, int unit) {
  if (st.skip_level != 0) {
    rtf_info_unit(st.info, static_cast<std::uint16_t>(unit));
  } else {
    store(st, unit);
  }
}

// ---- charsets of code pages and fonts ----

CharsetTable cached_charset(const char* name, bool* known) {
  for (const CachedCharset& entry : ctx().rtf.charset_cache) {
    if (entry.name == name) {
      *known = true;
      return entry.table.get();
    }
  }
  *known = false;
  return nullptr;
}

// Loads a charset table with the shared input buffer withheld: the document's stream uses it.
CharsetTable load_charset(const char* name) {
  char* saved = ctx().input_buffer;
  ctx().input_buffer = nullptr;
  CharsetTable table = read_charset(name);
  ctx().input_buffer = saved;
  return table;
}

// The table of a font's charset name, or null when there is none. A font whose code page has
// no table is read through the document's code page without a message: fonts name code pages
// the charsets directory may well lack.
CharsetTable font_charset(const char* name) {
  bool known = false;
  CharsetTable table = cached_charset(name, &known);
  if (known) return table;
  char* path = find_file(stradd(name, ".txt"), ctx().charset_path);
  if (path) table = load_charset(name);
  std::free(path);
  ctx().rtf.charset_cache.push_back({name, std::unique_ptr<std::uint16_t, FreeTable>(table)});
  return table;
}

Codec codec_of_codepage(std::int32_t codepage) {
  if (codepage == kUtf8CodePage) return Codec{latin1_table.data(), nullptr, true, true};
  if (int double_byte = dbcs_codepage(codepage)) {
    const DbcsTable* t = dbcs_table(double_byte);
    return t ? make_codec(t->single.data(), t) : Codec{};
  }
  const char* name = charset_from_codepage(static_cast<unsigned>(codepage));
  if (!name || !*name) return {};
  return make_codec(font_charset(name), nullptr);
}

FontEntry* find_font(RtfState& st, std::int32_t number) {
  auto it = std::lower_bound(st.fonts.begin(), st.fonts.end(), number,
                             [](const FontEntry& f, std::int32_t n) { return f.number < n; });
  return it != st.fonts.end() && it->number == number ? &*it : nullptr;
}

// Puts current_charset and the pairs in force to the codec of font number (kNoFont: the
// document's code page).
void use_font_codec(RtfState& st, std::int32_t number) {
  st.applied = true;
  st.applied_font = number;
  Codec codec = st.document;
  FontEntry* font = number == kNoFont || ctx().forced_charset ? nullptr : find_font(st, number);
  if (font && font->codepage != 0) {
    if (!font->resolved) {
      font->codec = codec_of_codepage(font->codepage);
      font->resolved = true;
    }
    if (font->codec.single) codec = font->codec;
  }
  ctx().rtf.current_charset = codec.single;
  st.dbcs = codec.pairs;
  st.ascii = codec.ascii;
  st.utf8 = codec.utf8;
}

// Puts the codec in force to that of the group's font.
inline void apply_font(RtfState& st) {
  const GroupRecord& group = st.groups.records[st.level];
  const std::int32_t number = group.font == kNoFont ? st.default_font : group.font;
  if (!st.applied || number != st.applied_font) use_font_codec(st, number);
}

// \ansicpg, \pc, \pca, \mac: the document's code page, for text in fonts of its charset.
void set_document_codepage(RtfState& st, std::int32_t codepage) {
  if (ctx().forced_charset) return;
  if (codepage == kUtf8CodePage) {
    st.document = codec_of_codepage(codepage);
  } else if (int double_byte = dbcs_codepage(codepage)) {
    if (const DbcsTable* t = dbcs_table(double_byte)) {
      st.document = make_codec(t->single.data(), t);
    } else if (!st.codepage_warned) {
      st.codepage_warned = true;
      warn_codepage_without_table(codepage);
    }
  } else if (!codepage_has_table(codepage)) {
    // The table in force stays, as for a font whose code page has none.
    if (!st.codepage_warned) warn_codepage_without_table(codepage);
    st.codepage_warned = true;
  } else {
    CharsetTable table = nullptr;
    rtfSetCharset(table, codepage);
    if (table) st.document = make_codec(table, nullptr);
  }
  st.applied = false;
  apply_font(st);
}

// \fN inside the font table: the entry the following \fcharset and \cpg describe.
void define_font(RtfState& st, std::int32_t number) {
  st.defining = number;
  st.applied = false;
  auto it = std::lower_bound(st.fonts.begin(), st.fonts.end(), number,
                             [](const FontEntry& f, std::int32_t n) { return f.number < n; });
  if (it != st.fonts.end() && it->number == number) {
    *it = FontEntry{number, 0, false, false, Codec{}};
  } else if (st.fonts.size() < kMaxFonts) {
    st.fonts.insert(it, FontEntry{number, 0, false, false, Codec{}});
  }
}

void describe_font(RtfState& st, std::int32_t codepage, bool from_cpg) {
  FontEntry* font = st.defining == kNoFont ? nullptr : find_font(st, st.defining);
  if (!font || (font->codepage_from_cpg && !from_cpg)) return;
  st.applied = false;
  font->codepage = codepage;
  font->codepage_from_cpg = from_cpg;
}

// ---- text ----

// A lead byte that gets no trail byte (a brace, a control word or the end of the input comes
// first) stands for a bad character.
void drop_lead(RtfState& st) {
  if (st.lead < 0) return;
  st.lead = -1;
  st.utf8_text = Utf8Decoder{};
  text_unit(st, kBadChar);
}

// A byte of UTF-8 text; a character may run on through escapes and literal bytes alike.
void utf8_byte(RtfState& st, unsigned char b) {
  std::uint16_t units[4];
  const std::size_t n = utf8_feed(st.utf8_text, b, units);
  for (std::size_t i = 0; i < n; ++i) store(st, units[i]);
  st.lead = utf8_pending(st.utf8_text) ? b : -1;
}

// One byte of text, literal or escaped, through the codec in force.
void text_byte(RtfState& st, int byte) {
  if (st.skip_level != 0 && !rtf_info_wants_text(st.info)) return;
  const auto b = static_cast<unsigned char>(byte);
  if (st.utf8) {
    utf8_byte(st, b);
    return;
  }
  if (st.lead >= 0) {
    const auto lead = static_cast<unsigned char>(st.lead);
    st.lead = -1;
    if (int u = dbcs_pair(*st.dbcs, lead, b)) {
      text_unit(st, u);
      return;
    }
    text_unit(st, kBadChar);
    // Trail bytes start at 0x40 in every double-byte code page: a lower byte was never meant
    // as one and is read on its own.
    if (b >= 0x40) return;
  }
  if (st.dbcs && dbcs_is_lead(*st.dbcs, b)) {
    st.lead = b;
    return;
  }
  text_unit(st, ctx().rtf.current_charset[b]);
}

// \uN as the text run meets it: when the number and a fallback of at most one plain character
// lie in the block (16 bytes from p on are), the bytes it takes, with its unit in *unit; 0 for
// anything else (a long or unusual number, an escaped or missing fallback), which the command
// path reads.
int unicode_in_place(const unsigned char* p, std::int32_t fallback, std::uint16_t* unit) {
  const unsigned char* q = p + 2;  // past "\u"
  const bool negative = *q == '-';
  if (negative) ++q;
  if (!is_digit(*q)) return 0;
  std::int32_t n = 0;
  for (int digits = 0; is_digit(*q); ++q) {
    if (++digits > 6) return 0;
    n = n * 10 + (*q - '0');
  }
  if (*q == '-' || (negative && n > 32768)) return 0;
  if (*q == ' ' || *q == '\t') ++q;
  if (fallback == 1) {
    if (kEndsRun[*q]) return 0;
    ++q;
  } else if (fallback > 1) {
    return 0;
  }
  *unit = static_cast<std::uint16_t>(negative ? 65536 - n : n & 0xFFFF);
  return static_cast<int>(q - p);
}

// Hands over a paragraph that fills the buffer. A high surrogate at its end waits for its low
// half in the next piece.
void hand_over_full_paragraph(std::int32_t& last) {
  const std::uint16_t unit = ctx().buffer[kFlushIndex];
  const bool high_surrogate = unit >= 0xD800 && unit <= 0xDBFF;
  const std::size_t units = high_surrogate ? kFlushIndex : kFlushIndex + 1;
  ctx().buffer[units] = 0;
  output_paragraph_units(ctx().buffer.data(), units);
  last = -1;
  if (high_surrogate) ctx().buffer[static_cast<std::size_t>(++last)] = unit;
}

// A text run that filled the paragraph hands it over; where the run goes on writing.
std::uint16_t* hand_over_from_run() {
  std::int32_t last = kFlushIndex;
  hand_over_full_paragraph(last);
  return ctx().buffer.data() + (last + 1);
}

// Printable ASCII that is text: what a codec with the ascii mark reads as itself.
constexpr bool plain_ascii(int b) { return b >= 0x20 && b < 0x7F && b != '\\' && b != '{' && b != '}'; }
constexpr std::array<bool, 256> make_plain_ascii() {
  std::array<bool, 256> plain{};
  for (int b = 0; b < 256; ++b) plain[b] = plain_ascii(b);
  return plain;
}
constexpr std::array<bool, 256> kPlainAscii = make_plain_ascii();

// The number of plain ASCII bytes at p, up to 16, whose units are written to out. Up to 16 units
// may be written whatever the number: the caller has room for them, and 16 bytes from p on.
#if defined(__SSE2__)
inline int copy_plain_ascii(const unsigned char* p, std::uint16_t* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // The comparison is signed: bytes from 0x80 on are below the space too.
  __m128i ends = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
  ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
  ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
  ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_set1_epi8('{')));
  ends = _mm_or_si128(ends, _mm_cmpeq_epi8(v, _mm_set1_epi8('}')));
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
  const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(ends));
  return std::countr_zero(mask | 0x10000u);
}
#else
inline int copy_plain_ascii(const unsigned char* p, std::uint16_t* out) {
  int n = 0;
  for (; n < 16 && kPlainAscii[p[n]]; ++n) out[n] = p[n];
  return n;
}
#endif

// What a text run decodes bytes through: the codec in force, and the fallback count of \u.
struct RunCodec {
  const std::uint16_t* table;
  const DbcsTable* dbcs;
  const bool* plain;  // printable ASCII the codec reads as itself: kPlainAscii, else no byte
  std::int32_t fallback;
  bool utf8;  // bytes from 0x80 on are UTF-8, read by the main loop
};

constexpr std::array<bool, 256> kNoPlainBytes{};

// A hex or Unicode escape at p (16 bytes from p on are readable) that the run takes itself: the
// bytes it takes, with its unit in *unit (0: no text); 0 for any other escape, and for a hex
// escape that leads a double-byte pair, which the main loop reads.
inline int escape_in_run(const unsigned char* p, const RunCodec& codec, std::uint16_t* unit) {
  if (p[1] == 'u') return unicode_in_place(p, codec.fallback, unit);
  if (p[1] != '\'') return 0;
  const int high = hex_value(p[2]), low = hex_value(p[3]);
  if (high < 0 || low < 0) return 0;
  const auto b = static_cast<unsigned char>(high * 16 + low);
  if ((codec.dbcs && dbcs_is_lead(*codec.dbcs, b)) || (codec.utf8 && b >= 0x80)) return 0;
  *unit = codec.table[b];
  return 4;
}

// Copies plain text from the block straight into the paragraph, up to the next byte that is
// structure, a control word, a line end or a double-byte lead byte. Hex escapes and Unicode
// escapes are taken on the way. Printable ASCII goes 16 bytes at a time when the codec reads it
// as itself.
void copy_text_run(RtfState& st) {
  const unsigned char* p = st.in.pos;
  const unsigned char* const end = st.in.end;
  const RunCodec codec{ctx().rtf.current_charset, st.dbcs,
                       st.ascii ? kPlainAscii.data() : kNoPlainBytes.data(),
                       st.groups.records[st.level].fallback, st.utf8};
  std::uint16_t* out = ctx().buffer.data() + (st.last + 1);
  // The unit that would go here hands the paragraph over first.
  std::uint16_t* const full = ctx().buffer.data() + (kFlushIndex + 1);
  // The wide copy and the escapes need room for 16 units, and 16 bytes to read.
  std::uint16_t* const wide_full = full - 16;
  // The wide part ends where fewer than 16 bytes are left, or sooner where the paragraph could
  // lack room: no step writes more units than it reads bytes, so out stays within wide_full
  // while p stays below wide_end.
  const std::ptrdiff_t wide_bytes =
      std::min<std::ptrdiff_t>(end - p - 15, wide_full - out + 1);
  const unsigned char* const wide_end = wide_bytes > 0 ? p + wide_bytes : p;
  bool stopped = false;  // at a byte the run does not take
  while (p < wide_end) {
    const unsigned char b = *p;
    if (codec.plain[b]) {
      const int n = copy_plain_ascii(p, out);
      p += n;
      out += n;
      continue;
    }
    if (b == '\\') {
      const int step = escape_in_run(p, codec, out);
      stopped = step == 0;
      if (stopped) break;
      out += *out != 0;  // 0 is no text: it would end the paragraph early in the writer
      p += step;
      continue;
    }
    stopped = kEndsRun[b] || (codec.dbcs && dbcs_is_lead(*codec.dbcs, b)) ||
              (codec.utf8 && b >= 0x80);
    if (stopped) break;
    *out = codec.table[b];
    out += *out != 0;
    ++p;
  }
  // The narrow part: the last bytes of the block, or the end of the paragraph's room.
  while (!stopped && p < end) {
    if (out == full) out = hand_over_from_run();
    const unsigned char b = *p;
    if (b == '\\' && end - p >= 16) {
      const int step = escape_in_run(p, codec, out);
      if (step == 0) break;
      out += *out != 0;
      p += step;
      continue;
    }
    if (kEndsRun[b] || (codec.dbcs && dbcs_is_lead(*codec.dbcs, b)) || (codec.utf8 && b >= 0x80)) {
      break;
    }
    *out = codec.table[b];
    out += *out != 0;
    ++p;
  }
  if (out == full) out = hand_over_from_run();
  if (p != st.in.pos) st.group_start = false;
  st.in.pos = p;
  st.last = static_cast<std::int32_t>(out - ctx().buffer.data()) - 1;
}

// Suppressed text: passes over everything up to the next structure byte.
void skip_text_run(RtfState& st) {
  const unsigned char* p = st.in.pos;
  if (rtf_info_wants_text(st.info)) {
    for (; p < st.in.end && !kEndsRun[*p]; ++p) text_byte(st, *p);
  }
  while (p < st.in.end && !kEndsRun[*p]) ++p;
  if (p != st.in.pos) st.group_start = false;
  st.in.pos = p;
}

// \binN: N bytes of binary data, neither text nor structure. N comes from the file: a
// negative N, or one larger than what is left, ends the skip at the end of the input.
void skip_binary(RtfStream& in, std::int32_t n) {
  std::uint64_t left = n < 0 ? UINT64_MAX : static_cast<std::uint64_t>(n);
  while (left > 0) {
    if (in.pos == in.end && !rtf_refill(in)) return;
    const auto available = static_cast<std::uint64_t>(in.end - in.pos);
    const std::uint64_t step = available < left ? available : left;
    in.pos += step;
    left -= step;
  }
}

// ---- groups ----

bool grow_groups(GroupStack& g) {
  std::size_t step = g.size / 2 > kGroupStep ? g.size / 2 : kGroupStep;
  void* p = std::realloc(g.records, (g.size + step) * sizeof(GroupRecord));
  if (!p) return false;
  g.records = static_cast<GroupRecord*>(p);
  g.size += step;
  return true;
}

bool open_group(RtfState& st) {
  drop_lead(st);
  st.group_start = true;
  if (st.level >= kMaxGroupDepth) {
    ++st.unrecorded;
    return true;
  }
  ++st.level;
  if (st.level >= st.groups.size && !grow_groups(st.groups)) {
    report_errno("Can't allocate memory: ");
    return false;
  }
  st.groups.records[st.level] = st.groups.records[st.level - 1];
  return true;
}

void close_group(RtfState& st) {
  drop_lead(st);
  st.group_start = false;
  if (st.unrecorded > 0) {
    --st.unrecorded;
    return;
  }
  if (st.level == 0) return;
  const std::int32_t closed_font = st.groups.records[st.level].font;
  --st.level;
  rtf_info_group_closed(st.info, st.level);
  if (st.skip_level > st.level) st.skip_level = 0;
  if (st.fonttbl_level > st.level) {
    st.fonttbl_level = 0;
    apply_font(st);  // the fonts are known now, the default one included
  } else if (closed_font != st.groups.records[st.level].font) {
    apply_font(st);
  }
}

// ---- commands ----

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
      if (getRtfCommand(in, skipped) == 0 && skipped.type == kBinary) {
        skip_binary(in, skipped.param);
      }
    }
    --count;
  }
}

// \uN: the parameter is a signed 16-bit value in RTF, so writers put characters above
// U+7FFF as negative numbers (\u-3913 for U+F0B7). A character beyond U+FFFF comes as two
// escapes, its surrogate pair, stored as the two units.
void unicode_char(RtfState& st, std::int32_t n) {
  if (n < -32768) return;
  int unit = n < 0 ? n + 65536 : n & 0xFFFF;
  text_unit(st, unit);
  skip_fallback(st.in, st.groups.records[st.level].fallback);
}

// \* marks an ignorable destination only as the first control of a group; elsewhere it is a
// control symbol without meaning.
void control_symbol(RtfState& st, int c, bool first_in_group) {
  switch (c) {
    case '*':
      if (first_in_group && st.skip_level == 0) {
        st.skip_level = st.level;
        st.star_pending = true;
      }
      break;
    case '\r':
    case '\n':  // a backslash before a line end is a paragraph mark (TextEdit writes \<LF>)
      end_text_paragraph(st);
      break;
    case '~':
      store(st, 0x00A0);
      break;
    case '-':
      store(st, 0x00AD);
      break;
    default:
      break;
  }
}

// Control words inside the font table describe fonts.
bool font_table_word(RtfState& st, const RtfCommand& cmd) {
  switch (cmd.type) {
    case kFont:
      define_font(st, cmd.param);
      return true;
    case kFontCharset:
      describe_font(st, codepage_of_fcharset(cmd.param), false);
      return true;
    case kFontCodePage:
      describe_font(st, cmd.param, true);
      return true;
    default:
      return false;
  }
}

void set_font(RtfState& st, std::int32_t font) {
  st.groups.records[st.level].font = font;
  apply_font(st);
}

void handle_command(RtfState& st, const RtfCommand& cmd, bool first_in_group) {
  const bool after_star = st.star_pending;
  st.star_pending = false;
  if (st.info.out) rtf_info_command(st.info, cmd.type, cmd.name, cmd.param, st.level);
  if (st.fonttbl_level != 0 && font_table_word(st, cmd)) return;
  switch (cmd.type) {
    case kCodePage:
      set_document_codepage(st, cmd.param);
      break;
    case kPcCodePage:
      set_document_codepage(st, 437);
      break;
    case kPcaCodePage:
      set_document_codepage(st, 850);
      break;
    case kMacCodePage:
      set_document_codepage(st, 10000);
      break;
    case kFallbackCount:
      st.groups.records[st.level].fallback = cmd.param;
      break;
    case kUnicode:
      unicode_char(st, cmd.param);
      break;
    case kParagraph:
      end_text_paragraph(st);
      break;
    case kFontTable:
      if (st.fonttbl_level == 0) st.fonttbl_level = st.level;
      if (st.skip_level == 0) st.skip_level = st.level;
      break;
    case 12:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 23:
    case kHiddenDestination:
      if (st.skip_level == 0) st.skip_level = st.level;
      break;
    // Footnotes and field results are text, also when marked with \*. So is a nested table's
    // row: it ends with \nestrow, and some writers put the cells' text inside it.
    case kTextDestination:
      if (after_star && st.skip_level == st.level) st.skip_level = 0;
      break;
    case kFont:
      set_font(st, cmd.param);
      break;
    case kPlain:
      set_font(st, kNoFont);
      break;
    case kDefaultFont:
      st.default_font = cmd.param;
      apply_font(st);
      break;
    case kBinary:
      skip_binary(st.in, cmd.param);
      break;
    case kTab:
      store(st, '\t');
      break;
    case kCell:
      if (st.skip_level == 0) store(st, kCellSeparator);
      break;
    case kRow:
      if (st.skip_level == 0) store(st, kRowEnd);
      break;
    case kLineBreak:
      if (st.skip_level == 0) store(st, kLineEnd);
      break;
    case kRtfControlSymbol:
      control_symbol(st, cmd.param, first_in_group);
      break;
    default:
      if (cmd.type >= 28 && cmd.type <= 37) store(st, kSpecialUnits[cmd.type - 28]);
      break;
  }
}

// A run of digits and minus signs read as strtol reads it with base 10: an optional minus,
// then the digits up to the first other character; clamped to the signed 32-bit range.
std::int32_t clamp_to_int32(std::int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

constexpr std::ptrdiff_t kNumberKept = kRtfNameLimit;  // characters of a number's run read

std::int32_t number_value(const unsigned char* text, std::size_t n) {
  const bool negative = n > 0 && text[0] == '-';
  std::int64_t v = 0;
  for (std::size_t i = negative ? 1 : 0; i < n && is_digit(text[i]); ++i) {
    if (v <= INT64_C(0x100000000)) v = v * 10 + (text[i] - '0');
  }
  return clamp_to_int32(negative ? -v : v);
}

// The number of letters at p, up to 16; 16 bytes from p on are readable.
#if defined(__SSE2__)
std::size_t letters_at(const unsigned char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Small letters and capitals alike, moved to 0..25; every other byte lands above 25.
  const __m128i offset = _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i letters = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(25)), offset);
  const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(letters));
  return static_cast<std::size_t>(std::countr_one(mask));
}
#else
std::size_t letters_at(const unsigned char* p) {
  std::size_t n = 0;
  while (n < 16 && kLetters[p[n]]) ++n;
  return n;
}
#endif

// Bytes a control word, its number and its delimiter take at most before its number runs on:
// the backslash is read, then 32 letters, 32 digits and a delimiter.
constexpr std::ptrdiff_t kInPlaceSpan = 2 * kRtfNameLimit + 2;

// getRtfCommand on the block itself, for a control word or a hex escape that lies wholly in
// it. False (nothing consumed) when the command might reach past the block, or is a control
// symbol: the byte-by-byte path reads those.
bool command_in_place(RtfStream& in, RtfCommand& cmd) {
  const unsigned char* p = in.pos;
  const unsigned char* const end = in.end;
  if (end - p < kInPlaceSpan) return false;
  if (p[0] == '\'' ) {
    const int high = hex_value(p[1]), low = hex_value(p[2]);
    if (high < 0 || low < 0) return false;
    cmd.type = kRtfHexEscape;
    cmd.param = high * 16 + low;
    in.pos = p + 3;
    return true;
  }
  std::size_t n = letters_at(p);
  while (n < kRtfNameLimit && kLetters[p[n]]) ++n;
  if (n == 0) return false;
  cmd.type = command_type(p, n);  // the name stays in the block
  p += n;
  cmd.param = 0;
  if (is_digit(*p) || *p == '-') {
    // As number_value reads the first 32 characters of the run, in the same pass.
    const unsigned char* const run = p;
    const bool negative = *p == '-';
    std::int64_t v = 0;
    for (p += negative ? 1 : 0; p < end && is_digit(*p) && p - run < kNumberKept; ++p) {
      if (v <= INT64_C(0x100000000)) v = v * 10 + (*p - '0');
    }
    while (p < end && (is_digit(*p) || *p == '-')) ++p;  // the rest of the run is consumed
    if (p == end) return false;  // the number may go on in the next block
    cmd.param = clamp_to_int32(negative ? -v : v);
  }
  if (*p == ' ' || *p == '\t') ++p;
  in.pos = p;
  return true;
}

// Bytes short_control_word may look at past the backslash: 16 letters, a minus sign, 10 digits
// and the byte after them.
constexpr std::ptrdiff_t kShortWordSpan = 28;

// Sets of kinds, a bit for each.
constexpr std::uint64_t kinds(std::initializer_list<int> members) {
  std::uint64_t set = 0;
  for (int kind : members) set |= std::uint64_t{1} << kind;
  return set;
}
constexpr std::uint64_t kWordsWithoutEffect = kinds({kRtfUnlisted, 24, 25});  // \lang, \pard
constexpr std::uint64_t kFontWords = kinds({kFont, kPlain});
constexpr std::uint64_t kParagraphWords = kinds({kParagraph});
constexpr std::uint64_t kTabWords = kinds({kTab});

constexpr bool every_kind_below_64() {
  for (const RtfKeyword& row : rtf_types) {
    if (row.type < 0 || row.type >= 64) return false;
  }
  return kRtfUnlisted < 64;
}
static_assert(every_kind_below_64(), "a set of kinds has a bit for each kind");

// Whether a kind is in a set.
inline bool is_kind_of(int type, std::uint64_t set) { return (set >> type) & 1; }

// What handle_command does for the words of every paragraph, outside the font table: formatting
// that does nothing here (unlisted words, \pard, \lang), font changes, paragraph ends, tabs and
// special characters. False, nothing done, for the other kinds.
[[gnu::always_inline]] inline bool simple_word(RtfState& st, int type, std::int32_t param) {
  // Set tests in the order of how common the words are, not the jump table that a switch (or a
  // chain of equalities) becomes: fewer instructions, and branches that mostly go one way, where
  // the table's one jump follows the kinds in the document's order.
  if (is_kind_of(type, kWordsWithoutEffect)) {
    // nothing to do
  } else if (is_kind_of(type, kFontWords)) {
    set_font(st, type == kFont ? param : kNoFont);
  } else if (type >= 28 && type <= 37) {
    store(st, kSpecialUnits[type - 28]);
  } else if (is_kind_of(type, kParagraphWords)) {
    end_text_paragraph(st);
  } else if (is_kind_of(type, kTabWords)) {
    store(st, '\t');
  } else {
    return false;
  }
  st.star_pending = false;
  return true;
}

// The common control word, read past its backslash without the general tokenizer: at most 15
// letters, a number of at most 9 digits, all in the block, outside the font table and with no
// lead byte waiting. Anything else is left (false, nothing consumed) to read_command, which reads
// the same bytes the same way.
[[gnu::always_inline]] inline bool short_control_word(RtfState& st) {
  const unsigned char* p = st.in.pos;
  if (st.in.end - p < kShortWordSpan || st.lead >= 0 || st.fonttbl_level != 0 ||
      rtf_info_open(st.info))
    return false;
  const std::size_t n = letters_at(p);
  if (n == 0 || n >= kWholeWordLimit) return false;  // 16: the word may go on
  const std::uint64_t first = first_letters(p, n);
  const std::uint64_t rest = n > 8 ? first_letters(p + 8, n - 8) : 0;
  const WholeKeyword& key = kWholeKeywords[name_slot(first)];
  const int type = key.first == first && key.rest == rest ? key.type : kRtfUnlisted;
  p += n;
  std::int32_t param = 0;
  const bool negative = *p == '-';
  if (negative || is_digit(*p)) {
    p += negative ? 1 : 0;
    for (int digits = 0; is_digit(*p); ++p) {
      if (++digits > 9) return false;
      param = param * 10 + (*p - '0');
    }
    if (*p == '-') return false;  // a run of digits and minus signs: the tokenizer's rule
    if (negative) param = -param;
  }
  if (*p == ' ' || *p == '\t') ++p;
  st.in.pos = p;
  st.group_start = false;
  if (!simple_word(st, type, param)) {
    RtfCommand cmd;
    cmd.type = type;
    cmd.param = param;
    handle_command(st, cmd, false);
  }
  return true;
}

// What follows a backslash in the text.
void read_command(RtfState& st) {
  const bool first_in_group = st.group_start;
  st.group_start = false;
  RtfCommand cmd;
  // The \info group's words are known by their names, which only the tokenizer keeps.
  const bool named = rtf_info_open(st.info);
  if ((named || !command_in_place(st.in, cmd)) && getRtfCommand(st.in, cmd) != 0) return;
  if (cmd.type == kRtfHexEscape) {
    text_byte(st, cmd.param);
    return;
  }
  if (cmd.type == kRtfControlSymbol &&
      (cmd.param == '\\' || cmd.param == '{' || cmd.param == '}')) {
    text_byte(st, cmd.param);  // the escaped characters are text, and may be a trail byte
    return;
  }
  drop_lead(st);
  handle_command(st, cmd, first_in_group);
}

// A brace, or a control word other than \u: no text run starts here, so none is looked for.
bool at_structure(const RtfStream& in) {
  const unsigned char b = *in.pos;
  if (b == '{' || b == '}') return true;
  return b == '\\' && in.end - in.pos >= 2 && kLetters[in.pos[1]] && in.pos[1] != 'u';
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
  in.pos = prefix;
  in.end = prefix + prefix_len;
}

}  // namespace

bool rtf_refill(RtfStream& in) {
  if (in.eof || !in.file) {
    in.eof = true;
    return false;
  }
  const std::size_t got = io_fread(in.block.data(), 1, in.block.size(), in.file);
  if (got == 0) {
    in.eof = true;
    return false;
  }
  in.pos = in.block.data();
  in.end = in.pos + got;
  return true;
}

int getCommandType(const char* name) {
  const std::size_t n = std::strlen(name);
  unsigned char letters[kRtfNameLimit + 8] = {};
  if (n > kRtfNameLimit) return kRtfUnlisted;
  std::memcpy(letters, name, n);
  return command_type(letters, n);
}

std::int32_t getNumber(RtfStream& in) {
  char text[kRtfNameLimit + 1];
  std::size_t n = 0;
  int c;
  while ((c = rtf_getc(in)) != EOF && (is_digit(c) || c == '-')) {
    if (n < kRtfNameLimit) text[n++] = static_cast<char>(c);
  }
  rtf_ungetc(in, c);
  return number_value(reinterpret_cast<const unsigned char*>(text), n);
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
  std::memset(cmd.name, 0, sizeof cmd.name);
  std::size_t n = 0;
  cmd.name[n++] = static_cast<char>(c);
  while ((c = rtf_getc(in)) != EOF && is_letter(c) && n < kRtfNameLimit) {
    cmd.name[n++] = static_cast<char>(c);
  }
  rtf_ungetc(in, c);
  cmd.name[n] = '\0';
  cmd.type = command_type(reinterpret_cast<const unsigned char*>(cmd.name), n);
  if (is_digit(c) || c == '-') cmd.param = getNumber(in);
  c = rtf_getc(in);
  if (c != ' ' && c != '\t') rtf_ungetc(in, c);
  return 0;
}

int rtf_to_unicode(int code) {
  if (code < 0) return 0xFEFF;
  if (!ctx().rtf.current_charset) return code & 0xFF;
  return to_unicode(ctx().rtf.current_charset, code);
}

std::int32_t codepage_of_fcharset(std::int32_t fcharset) {
  switch (fcharset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0;  // 0 (ANSI), 1 (default), 2 (symbol) and the unknown ones
  }
}

void rtfSetCharset(CharsetTable& charset, std::int32_t codepage) {
  if (ctx().forced_charset) return;
  const char* name = charset_from_codepage(static_cast<unsigned>(codepage));
  if (!name) return;
  const char* before = ctx().source_csname;
  if (!ctx().source_csname || std::strcmp(ctx().source_csname, name) != 0) {
    check_charset(&ctx().source_csname, name);
  }
  if (ctx().source_csname != before) {
    // The copy made for the last code page is held by nothing now: this call replaced it, or
    // the next document's settings did before it (an extraction used again).
    if (before != ctx().rtf.owned_csname) ctx().rtf.outside_csname = before;
    std::free(ctx().rtf.owned_csname);
    ctx().rtf.owned_csname = const_cast<char*>(ctx().source_csname);
  }
  if (!ctx().source_csname) return;
  bool known = false;
  CharsetTable table = cached_charset(ctx().source_csname, &known);
  if (!table) {
    table = load_charset(ctx().source_csname);
    if (!table) return;
    if (known) {
      for (CachedCharset& entry : ctx().rtf.charset_cache) {
        if (entry.name == ctx().source_csname) entry.table.reset(table);
      }
    } else {
      ctx().rtf.charset_cache.push_back(
          {ctx().source_csname, std::unique_ptr<std::uint16_t, FreeTable>(table)});
    }
  }
  charset = table;
}

void release_rtf_charsets() {
  ctx().rtf.current_charset = ctx().source_charset;
  ctx().rtf.charset_cache.clear();
  ctx().rtf.charset_cache.shrink_to_fit();
  if (ctx().rtf.owned_csname && ctx().source_csname == ctx().rtf.owned_csname) {
    ctx().source_csname = ctx().rtf.outside_csname;
  }
  std::free(ctx().rtf.owned_csname);
  ctx().rtf.owned_csname = nullptr;
  ctx().rtf.outside_csname = nullptr;
}

void add_to_buffer(std::int32_t& last, std::uint16_t unit) {
  ctx().buffer[static_cast<std::size_t>(++last)] = unit;
  if (last == kFlushIndex) hand_over_full_paragraph(last);
}

void end_paragraph(std::int32_t& last) {
  add_to_buffer(last, '\n');
  const auto units = static_cast<std::size_t>(last + 1);  // 0 when the newline filled a piece
  ctx().buffer[units] = 0;
  output_paragraph_units(ctx().buffer.data(), units);
  last = -1;
}

int parse_rtf(std::FILE* f, const unsigned char* prefix, std::size_t prefix_len,
              Metadata* metadata) {
  ctx().rtf.current_charset = ctx().source_charset ? ctx().source_charset : latin1_table.data();
  RtfState st;
  st.info.out = metadata;
  st.document = make_codec(ctx().rtf.current_charset, nullptr);
  st.ascii = st.document.ascii;
  start_input(st.in, f, prefix, prefix_len);
  st.groups.records = static_cast<GroupRecord*>(std::malloc(kInitialGroups * sizeof(GroupRecord)));
  if (!st.groups.records) {
    report_errno("Can't allocate memory: ");
    return 1;
  }
  st.groups.size = kInitialGroups;
  st.groups.records[0] = GroupRecord{};  // one fallback character until \uc says otherwise
  for (;;) {
    if (st.in.pos == st.in.end && !rtf_refill(st.in)) break;
    if (st.lead < 0 && !at_structure(st.in)) {
      if (st.skip_level == 0) {
        copy_text_run(st);
      } else {
        skip_text_run(st);
      }
      if (st.in.pos == st.in.end) continue;
    }
    const int c = *st.in.pos++;
    switch (c) {
      case '{':
        if (!open_group(st)) return 1;
        break;
      case '}':
        close_group(st);
        break;
      case '\\':
        if (!short_control_word(st)) read_command(st);
        break;
      case '\n':
      case '\r':
        break;
      default:
        st.group_start = false;
        text_byte(st, c);
        break;
    }
  }
  drop_lead(st);
  rtf_info_finish(st.info);
  if (st.last >= 0) end_paragraph(st.last);
  return 0;
}

}  // namespace dorvex
