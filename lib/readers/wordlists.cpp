#include "wordlists.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "numutils.h"

namespace dorvex {

namespace {

// ---- limits: every count below comes from the file ----

// A property page is 512 bytes of the WordDocument stream; a page table naming more pages
// than the stream holds names some twice, which adds nothing.
constexpr std::size_t kPageSize = 512;
// A style based on a style based on ... : Word keeps chains short; a looped chain stops here.
constexpr int kMaxStyleDepth = 16;
// The file information block of Word 97-2003 is read this far at most.
constexpr std::size_t kMaxFib = 4096;
// Stories of a document: main text, footnotes, headers, macros, annotations, endnotes, text
// boxes, header text boxes.
constexpr std::size_t kMaxStories = 8;

// Word 97-2003 file information block: counted arrays after the fixed part (see wordpieces);
// pairs of offset and length in the table stream.
constexpr std::size_t kFibCsw = 32;
constexpr std::size_t kPairStyles = 1, kPairParagraphPages = 13, kPairLists = 73,
                      kPairListOverrides = 74;
// Word 6/95: one fixed layout; the tables lie in the WordDocument stream itself.
constexpr std::size_t kW6Styles = 0x60, kW6ParagraphPages = 0xC0;

// Property pages: n + 1 text offsets, then n entries of one byte (the properties' place in
// words) and the paragraph's height (12 bytes in Word 97, 6 in Word 6), the count in the last
// byte.
constexpr std::size_t kEntry97 = 13, kEntry6 = 7;

// Style sheet: its header's size, then the header (count of styles at 2, size of a style's
// fixed part at 4), then the styles, each after its size.
constexpr std::size_t kStyleCount = 2, kStyleBaseSize = 4;
constexpr std::uint16_t kNoStyle = 0x0FFF;
constexpr int kParagraphStyle = 1;

// List definitions: a count, then 28 bytes each (id at 0, the flag byte at 26 says a list of
// one level); their levels follow the table, 28 bytes each with a property list, a character
// property list and the number text after them.
constexpr std::size_t kListEntry = 28, kListId = 0, kListFlags = 26;
constexpr unsigned kSimpleList = 0x01;
constexpr std::size_t kLevelFixed = 28, kLevelStart = 0, kLevelFormat = 4, kLevelFlags = 5,
                      kLevelFollow = 15, kLevelChpx = 24, kLevelPapx = 25, kLevelRestart = 26;
constexpr unsigned kLevelLegal = 0x04, kLevelNoRestart = 0x08;
// List overrides: a 32-bit count, 16 bytes each (list id at 0, level overrides count at 12),
// then for each override its data: a 32-bit position and 8 bytes per level override (start at
// 0, level in the low 4 bits at 4, start-at and formatting flags), each a level when it says.
constexpr std::size_t kOverrideEntry = 16, kOverrideLevels = 12, kOverrideLevel = 8;
constexpr unsigned kOverrideStartAt = 0x10, kOverrideFormatting = 0x20;

// Paragraph properties (Word 97 codes; Word 6 one-byte codes).
constexpr int kSprmPIstd = 0x4600, kSprmPIlvl = 0x260A, kSprmPIlfo = 0x460B;
constexpr int kSprmTDefTable = 0xD608, kSprmPChgTabs = 0xC615;
constexpr int kW6Istd = 2, kW6Anld = 12, kW6LevelAnm = 13, kW6ChgTabs = 23;

// Word 6 autonumbering: the number format, the two text lengths, a flag byte (bit 2: show the
// numbers of higher outline levels), the start at 10 and the text at 20.
constexpr std::size_t kAnldFormat = 0, kAnldBefore = 1, kAnldAfter = 2, kAnldFlags = 3,
                      kAnldStart = 10, kAnldText = 20, kAnldTextMax = 32;
constexpr unsigned kAnldPrevious = 0x04;
// Word 6 autonumber levels: 1 to 9 outline levels, 10 numbered paragraphs, 11 bullets.
constexpr int kW6Outline = 9, kW6Numbered = 10, kW6Bulleted = 11;

struct ByteView {
  const unsigned char* data;
  std::size_t size;
  bool ok = true;
  bool has(std::size_t off, std::size_t n) const { return off <= size && n <= size - off; }
  unsigned u8(std::size_t off) {
    if (!has(off, 1)) return ok = false, 0;
    return data[off];
  }
  unsigned u16(std::size_t off) {
    if (!has(off, 2)) return ok = false, 0;
    return unsigned(getshort(data, off));
  }
  std::uint32_t u32(std::size_t off) {
    if (!has(off, 4)) return ok = false, 0;
    return getulong(data, off);
  }
};

// A paragraph's list, as its own properties or its style's say.
struct ParaList {
  int istd = 0;
  int ilfo = -1;  // -1: not said
  int ilvl = -1;
  int anm_level = -1;  // Word 6
  int anld = -1;       // Word 6: index of its autonumber among WordListState::anlds
};

// Operand sizes of the Word 6 one-byte property codes: -1 a count byte first, -2 a 16-bit
// count first, -3 unknown (the list ends there: what follows cannot be found).
constexpr std::array<std::int8_t, 256> kW6SprmSize = [] {
  std::array<std::int8_t, 256> s{};
  s.fill(-3);
  const std::int8_t para[] = {2, -1, 1, 1, 1,  1, 1, 1, 1, 1, -1, 1, 1, -1, 2, 2, 2,
                              2, 4,  2, 2, -1, 1, 1, 2, 2, 2, 1,  2, 2, 2,  2, 2, 2,
                              2, 1,  2, 2, 2,  2, 2, 2, 1, 2, 2,  2, 2, 2,  1, 1, -1};
  for (std::size_t k = 0; k < std::size(para); ++k) s[2 + k] = para[k];
  const std::int8_t chars[] = {1, 1, 1, -1, 2, 4, 1, 2, 3, -1, 1};
  for (std::size_t k = 0; k < std::size(chars); ++k) s[65 + k] = chars[k];
  const std::int8_t chars2[] = {2, -1, 0, 0, -3, 1, 1, 1,  1, 1,  1,  1, 1,  2, 1, 3,
                                2, 2,  1, 1, 1,  1, 1, -1, 1, -1, -1, 2, -1, 2, 2};
  for (std::size_t k = 0; k < std::size(chars2); ++k) s[80 + k] = chars2[k];
  s[117] = s[118] = 1;
  const std::int8_t table[] = {2, 2, 2, 1, 1, 12, -2, 2, -2, -1, 4, 5, 4, 2, 4, 2, 2, 5, 4};
  for (std::size_t k = 0; k < std::size(table); ++k) s[182 + k] = table[k];
  return s;
}();

// Calls take(code, operand, size) for each property of grpprl; stops at the first one whose
// size cannot be known or that leaves the list.
template <class Take>
void each_sprm(const unsigned char* p, std::size_t n, bool word97, Take take) {
  std::size_t pos = 0;
  while (pos < n) {
    int code;
    std::size_t size, at;
    if (word97) {
      if (n - pos < 2) return;
      code = getshort(p, pos);
      at = pos + 2;
      static constexpr std::size_t kBySpra[] = {1, 1, 2, 4, 2, 2, 0, 3};
      size = kBySpra[unsigned(code) >> 13];
      if (size == 0) {  // variable
        if (code == kSprmTDefTable) {
          if (n - at < 2) return;
          size = std::size_t(getshort(p, at)) + 1;  // the count, then one byte less than it says
        } else {
          if (n - at < 1) return;
          size = std::size_t(p[at]) + 1;
          if (code == kSprmPChgTabs && p[at] == 255) return;  // a long form; nothing follows it
        }
      }
    } else {
      code = p[pos];
      at = pos + 1;
      const int s = kW6SprmSize[std::size_t(code)];
      if (s == -3) return;
      if (s >= 0) {
        size = std::size_t(s);
      } else if (s == -1) {
        if (n - at < 1 || (code == kW6ChgTabs && p[at] == 255)) return;
        size = std::size_t(p[at]) + 1;
      } else {
        if (n - at < 2) return;
        size = std::size_t(getshort(p, at)) + 2;
      }
    }
    if (size > n - at) return;
    take(code, p + at, size);
    pos = at + size;
  }
}

// What a run of properties says about lists. Word 6 autonumbers are kept in anlds.
struct WordListState {
  bool word97 = true;
  const std::uint16_t* charset = nullptr;
  std::vector<ListLevel> anlds;
  std::vector<bool> anld_shows_higher;  // an outline level shows the numbers of those above
};

void apply_sprms(WordListState* st, const unsigned char* p, std::size_t n, ParaList* para) {
  each_sprm(p, n, st->word97, [&](int code, const unsigned char* op, std::size_t size) {
    if (st->word97) {
      if (code == kSprmPIstd && size >= 2) para->istd = getshort(op, 0);
      if (code == kSprmPIlvl && size >= 1) para->ilvl = op[0];
      if (code == kSprmPIlfo && size >= 2) para->ilfo = getshort(op, 0);
      return;
    }
    if (code == kW6Istd && size >= 2) para->istd = getshort(op, 0);
    if (code == kW6LevelAnm && size >= 1) para->anm_level = op[0];
    if (code == kW6Anld && size >= 1) {
      ListLevel level;
      bool higher = false;
      if (parse_word6_anld(op + 1, std::min<std::size_t>(op[0], size - 1), st->charset, &level,
                           &higher)) {
        para->anld = int(st->anlds.size());
        st->anlds.push_back(std::move(level));
        st->anld_shows_higher.push_back(higher);
      }
    }
  });
}

// The styles' list properties, each with what its base styles give it.
std::vector<ParaList> read_styles(WordListState* st, ByteView v) {
  std::vector<ParaList> own;
  std::vector<int> base;
  const std::size_t header = v.u16(0);
  const std::size_t count = v.u16(kStyleCount);
  const std::size_t base_size = v.u16(kStyleBaseSize);
  if (!v.ok || base_size < 8) return {};
  std::size_t pos = 2 + header;
  for (std::size_t i = 0; i < count && v.has(pos, 2); ++i) {
    const std::size_t size = v.u16(pos);
    const std::size_t at = pos + 2;
    pos = at + size;
    own.emplace_back();
    base.push_back(kNoStyle);
    if (size == 0 || !v.has(at, size) || size < base_size) continue;
    ByteView s{v.data + at, size};
    const unsigned kind = s.u16(2) & 0x0F;
    base.back() = int(s.u16(2) >> 4);
    if (int(kind) != kParagraphStyle) continue;
    std::size_t off = base_size;
    if (st->word97) {
      off += 2 + 2 * std::size_t(s.u16(off)) + 2;
    } else {
      off += 1 + std::size_t(s.u8(off)) + 1;
    }
    off += off & 1;
    const std::size_t upx = s.u16(off);
    if (!s.ok || !s.has(off + 2, upx) || upx < 2) continue;
    apply_sprms(st, s.data + off + 4, upx - 2, &own.back());
  }
  // Each style over its bases, nearest last; a chain longer than the limit (a loop) stops.
  std::vector<ParaList> styles(own.size());
  for (std::size_t i = 0; i < own.size(); ++i) {
    std::array<std::size_t, kMaxStyleDepth> chain;
    std::size_t depth = 0;
    for (std::size_t s = i; s < own.size() && depth < chain.size(); s = std::size_t(base[s])) {
      chain[depth++] = s;
      if (base[s] == kNoStyle) break;
    }
    ParaList& r = styles[i];
    while (depth > 0) {
      const ParaList& o = own[chain[--depth]];
      if (o.ilfo >= 0) r.ilfo = o.ilfo;
      if (o.ilvl >= 0) r.ilvl = o.ilvl;
      if (o.anm_level >= 0) r.anm_level = o.anm_level;
      if (o.anld >= 0) r.anld = o.anld;
    }
    r.istd = int(i);
  }
  return styles;
}

// A paragraph's properties over its style's.
ParaList resolve(const ParaList& para, const std::vector<ParaList>& styles) {
  ParaList r = para;
  if (para.istd >= 0 && std::size_t(para.istd) < styles.size()) {
    const ParaList& s = styles[std::size_t(para.istd)];
    if (r.ilfo < 0) r.ilfo = s.ilfo;
    if (r.ilvl < 0) r.ilvl = s.ilvl;
    if (r.anm_level < 0) r.anm_level = s.anm_level;
    if (r.anld < 0) r.anld = s.anld;
  }
  return r;
}

// A paragraph mark: the properties of the paragraph that ends with the text unit at fc_end - 1
// (or - 2).
struct PageRun {
  std::uint32_t fc_begin, fc_end;
  ParaList para;
};

void read_page(WordListState* st, const unsigned char* page, std::vector<PageRun>* out) {
  const std::size_t runs = page[kPageSize - 1];
  const std::size_t entry = st->word97 ? kEntry97 : kEntry6;
  if (4 * (runs + 1) + entry * runs > kPageSize - 1) return;
  for (std::size_t k = 0; k < runs; ++k) {
    PageRun r{getulong(page, 4 * k), getulong(page, 4 * (k + 1)), {}};
    const std::size_t at = 2 * std::size_t(page[4 * (runs + 1) + entry * k]);
    if (at != 0 && at < kPageSize - 1) {
      std::size_t data = at + 1, len = 2 * std::size_t(page[at]);
      if (st->word97) {
        if (len != 0) {
          len -= 1;
        } else {
          data = at + 2;
          len = 2 * std::size_t(page[at + 1]);
        }
      }
      len = std::min(len, kPageSize - 1 - std::min(data, kPageSize - 1));
      if (len >= 2) {
        r.para.istd = getshort(page, data);
        apply_sprms(st, page + data + 2, len - 2, &r.para);
      }
    }
    if (r.fc_end > r.fc_begin && (out->empty() || r.fc_begin >= out->back().fc_end))
      out->push_back(r);
  }
}

// The property pages the table at [offset, offset + length) of v names, their runs in order.
std::vector<PageRun> read_pages(WordListState* st, ByteView v, const WordListInput& in) {
  std::vector<PageRun> runs;
  const std::size_t entry = st->word97 ? 4 : 2;
  if (v.size < 4 + entry) return runs;
  std::size_t count = (v.size - 4) / (4 + entry);
  count = std::min<std::size_t>(count, in.doc_size / kPageSize + 1);
  std::array<unsigned char, kPageSize> page;
  std::uint64_t last_page = ~std::uint64_t(0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 4 * (count + 1) + entry * i;
    std::uint64_t pn = st->word97 ? (v.u32(at) & 0x3FFFFF) : v.u16(at);
    if (!v.ok || pn == last_page) continue;
    last_page = pn;
    if (!in.read_doc(pn * kPageSize, kPageSize, page.data())) continue;
    read_page(st, page.data(), &runs);
  }
  return runs;
}

ByteView range_of(const unsigned char* bytes, std::size_t size, std::uint32_t off,
                  std::uint32_t len) {
  if (off > size || len > size - off) return {bytes, 0};
  return {bytes + off, len};
}

// One level of a list definition at v[pos]; pos moves past it. False when it leaves v.
bool read_level(ByteView& v, std::size_t* pos, ListLevel* level) {
  const std::size_t at = *pos;
  if (!v.has(at, kLevelFixed)) return false;
  level->start = std::int32_t(v.u32(at + kLevelStart));
  level->format = word_number_format(int(v.u8(at + kLevelFormat)));
  const unsigned flags = v.u8(at + kLevelFlags);
  level->legal = (flags & kLevelLegal) != 0;
  const unsigned follow = v.u8(at + kLevelFollow);
  level->follow = follow == 0   ? LabelFollow::tab
                  : follow == 1 ? LabelFollow::space
                                : LabelFollow::nothing;
  level->restart_below = (flags & kLevelNoRestart) ? int(v.u8(at + kLevelRestart)) : -1;
  const std::size_t text_at =
      at + kLevelFixed + v.u8(at + kLevelPapx) + std::size_t(v.u8(at + kLevelChpx));
  const std::size_t len = v.u16(text_at);
  if (!v.ok || !v.has(text_at + 2, 2 * len)) return false;
  level->text.clear();
  for (std::size_t k = 0; k < len && k < kMaxLevelText; ++k) {
    level->text.push_back(std::uint16_t(getshort(v.data, text_at + 2 + 2 * k)));
  }
  *pos = text_at + 2 + 2 * len;
  return true;
}

// A list whose levels are not in the file numbers in decimal: "1." at every level.
ListDefinition default_list() {
  ListDefinition d;
  for (int k = 0; k < kListLevels; ++k) {
    d.levels[std::size_t(k)].text = {std::uint16_t(k), '.'};
  }
  return d;
}

// The Word 6 autonumbers and outline levels of a story: one counter set for outline levels,
// one for numbered paragraphs and bullets, which a paragraph outside them ends.
struct Word6Counting {
  ListDefinition outline, sequence;
  ListCounters outline_counts, sequence_counts;
  bool in_sequence = false;
  std::uint16_t outline_seen = 0;  // outline levels (bit k: level k) an autonumber has defined
};

bool word6_label(const WordListState& st, const ParaList& p, Word6Counting* c,
                 std::vector<std::uint16_t>* out) {
  const bool sequence = p.anm_level == kW6Numbered || p.anm_level == kW6Bulleted;
  const bool outline = p.anm_level >= 1 && p.anm_level <= kW6Outline;
  if (!sequence) c->in_sequence = false;
  // Paragraphs with outline levels and an autonumber of their own form a list of many levels,
  // which any other paragraph ends: the next one starts it again.
  if (!outline || p.anld < 0) c->outline_counts = {};
  if ((!sequence && !outline) || p.anld < 0) return false;
  const ListLevel& anld = st.anlds[std::size_t(p.anld)];
  if (sequence) {
    // A new sequence, or one in another form, starts again.
    if (!c->in_sequence || c->sequence.levels[0].text != anld.text ||
        c->sequence.levels[0].format != anld.format) {
      c->sequence_counts = {};
    }
    c->in_sequence = true;
    c->sequence.levels[0] = anld;
    next_label(c->sequence, &c->sequence_counts, 0, out);
    return true;
  }
  const int level = p.anm_level - 1;
  ListLevel& own = c->outline.levels[std::size_t(level)];
  // A level starts where the first autonumber of the story at that level says, each time the
  // list starts again; levels above that none has defined yet start there too (a list entered
  // below its top shows that start for them).
  const std::int64_t start = (c->outline_seen & (1u << level)) ? own.start : anld.start;
  own = anld;
  own.start = start;
  c->outline_seen = std::uint16_t(c->outline_seen | 1u << level);
  for (int k = 0; k < level; ++k) {
    if (!(c->outline_seen & (1u << k))) c->outline.levels[std::size_t(k)].start = start;
  }
  // An autonumber's text numbers its own level.
  for (std::uint16_t& u : own.text) {
    if (u == 0) u = std::uint16_t(level);
  }
  // The numbers of the levels above go in front, joined by full stops; the level's own text
  // before its number (a full stop, as Word writes it) joins them to its number.
  if (st.anld_shows_higher[std::size_t(p.anld)] && level > 0) {
    std::vector<std::uint16_t> text = {0};
    for (int k = 1; k < level; ++k) text.insert(text.end(), {'.', std::uint16_t(k)});
    own.text.insert(own.text.begin(), text.begin(), text.end());
  }
  next_label(c->outline, &c->outline_counts, level, out);
  return true;
}

struct FibTables {
  std::uint32_t styles_at = 0, styles_len = 0, pages_at = 0, pages_len = 0;
  std::uint32_t lists_at = 0, lists_len = 0, overrides_at = 0, overrides_len = 0;
};

bool read_fib97(const WordListInput& in, FibTables* t) {
  std::array<unsigned char, kMaxFib> fib{};
  const std::size_t n = std::size_t(std::min<std::uint64_t>(in.doc_size, kMaxFib));
  if (!in.read_doc(0, n, fib.data())) return false;
  ByteView v{fib.data(), n};
  const std::size_t lw_count_at = kFibCsw + 2 + 2 * std::size_t(v.u16(kFibCsw));
  const std::size_t pair_count_at = lw_count_at + 2 + 4 * std::size_t(v.u16(lw_count_at));
  const std::size_t pairs = v.u16(pair_count_at);
  if (!v.ok || pairs <= kPairListOverrides) return false;
  auto pair = [&](std::size_t k, std::uint32_t* at, std::uint32_t* len) {
    *at = v.u32(pair_count_at + 2 + 8 * k);
    *len = v.u32(pair_count_at + 2 + 8 * k + 4);
  };
  pair(kPairStyles, &t->styles_at, &t->styles_len);
  pair(kPairParagraphPages, &t->pages_at, &t->pages_len);
  pair(kPairLists, &t->lists_at, &t->lists_len);
  pair(kPairListOverrides, &t->overrides_at, &t->overrides_len);
  return v.ok;
}

// Bytes [at, at + len) of the WordDocument stream; empty when they are not all there.
std::vector<unsigned char> doc_range(const WordListInput& in, std::uint32_t at, std::uint32_t len) {
  std::vector<unsigned char> bytes;
  if (at > in.doc_size || len > in.doc_size - at) return bytes;
  bytes.resize(len);
  if (!in.read_doc(at, len, bytes.data())) bytes.clear();
  return bytes;
}

}  // namespace

bool parse_word6_anld(const unsigned char* operand, std::size_t n, const std::uint16_t* table,
                      ListLevel* level, bool* shows_higher) {
  if (n < kAnldText) return false;
  const std::size_t before = operand[kAnldBefore];
  const std::size_t after = std::max<std::size_t>(operand[kAnldAfter], before);
  if (after > kAnldTextMax || kAnldText + after > n) return false;
  level->format = word_number_format(operand[kAnldFormat]);
  level->start = getshort(operand, kAnldStart);
  level->follow = LabelFollow::tab;
  level->legal = false;
  level->restart_below = -1;
  level->text.clear();
  auto unit = [&](std::size_t k) {
    const unsigned char b = operand[kAnldText + k];
    // Bullets are drawn from a symbol font, whose bytes above 0x7F are no letters.
    if (level->format == NumberFormat::bullet && b >= 0x80)
      return bullet_unit(std::uint16_t(0xF000 | b));
    return table ? table[b] : std::uint16_t(b);
  };
  // Control bytes in the text are no characters (and must not pass for level numbers).
  auto add = [&](std::size_t k) {
    const std::uint16_t u = unit(k);
    if (u >= 0x20) level->text.push_back(u);
  };
  for (std::size_t k = 0; k < before; ++k) add(k);
  // The bullet, or the number text of a level without a number, is all in the text.
  if (level->format != NumberFormat::bullet) level->text.push_back(0);
  for (std::size_t k = before; k < after; ++k) add(k);
  *shows_higher = (operand[kAnldFlags] & kAnldPrevious) != 0;
  return true;
}

WordLists parse_word_lists(const unsigned char* table, std::size_t table_size,
                           std::uint32_t lst_offset, std::uint32_t lst_length,
                           std::uint32_t lfo_offset, std::uint32_t lfo_length) {
  WordLists out;
  std::vector<ListDefinition> lists;
  std::vector<std::uint32_t> ids;
  ByteView lst = range_of(table, table_size, lst_offset, lst_length);
  if (lst.size >= 2) {
    // The levels follow the definitions, beyond the length the file information block gives.
    ByteView v{table + lst_offset, table_size - lst_offset};
    const std::size_t count = std::min<std::size_t>(
        std::size_t(std::int16_t(v.u16(0)) < 0 ? 0 : v.u16(0)), (lst.size - 2) / kListEntry);
    std::size_t pos = 2 + count * kListEntry;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = 2 + i * kListEntry;
      const std::size_t levels = (v.u8(at + kListFlags) & kSimpleList) ? 1 : kListLevels;
      ListDefinition d = default_list();
      for (std::size_t k = 0; k < levels; ++k) {
        if (!read_level(v, &pos, &d.levels[k])) break;
      }
      lists.push_back(std::move(d));
      ids.push_back(v.u32(at + kListId));
    }
  }
  ByteView lfo = range_of(table, table_size, lfo_offset, lfo_length);
  if (lfo.size < 4) return out;
  ByteView v{table + lfo_offset, table_size - lfo_offset};
  const std::size_t count = std::min<std::size_t>(v.u32(0), (lfo.size - 4) / kOverrideEntry);
  std::size_t data = 4 + count * kOverrideEntry;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 4 + i * kOverrideEntry;
    const std::uint32_t id = v.u32(at);
    const auto found = std::find(ids.begin(), ids.end(), id);
    const std::size_t list = std::size_t(found - ids.begin());
    ListDefinition d = found != ids.end() ? lists[list] : default_list();
    const std::size_t key = found != ids.end() ? list : lists.size() + i;
    std::uint16_t restarts = 0;
    // Each override's data: a position, then its level overrides.
    const std::size_t levels = v.u8(at + kOverrideLevels);
    data += 4;
    for (std::size_t k = 0; k < levels && v.has(data, kOverrideLevel); ++k) {
      const std::int32_t start = std::int32_t(v.u32(data));
      const unsigned flags = v.u8(data + 4);
      const std::size_t level = flags & 0x0F;
      data += kOverrideLevel;
      ListLevel replaced;
      const bool formatted = (flags & kOverrideFormatting) && read_level(v, &data, &replaced);
      if (level >= std::size_t(kListLevels)) continue;
      if (formatted) d.levels[level] = std::move(replaced);
      if (flags & kOverrideStartAt) {
        d.levels[level].start = start;
        restarts |= std::uint16_t(1u << level);
      }
    }
    out.overrides.push_back(std::move(d));
    out.counter.push_back(key);
    out.restarts.push_back(restarts);
  }
  return out;
}

ParagraphLabels word_list_labels(const WordListInput& in, const std::vector<TextRun>& runs,
                                 const std::uint16_t* table) {
  ParagraphLabels labels;
  if (!in.header) return labels;
  WordListState st;
  st.word97 = is_word97_header(in.header);
  st.charset = table;
  std::vector<ParaList> styles;
  std::vector<PageRun> pages;
  WordLists lists;
  if (st.word97) {
    FibTables t;
    if (!read_fib97(in, &t)) return labels;
    // Without list overrides nothing in a Word 97 document is numbered.
    if (range_of(in.table, in.table_size, t.overrides_at, t.overrides_len).size < 4) return labels;
    lists = parse_word_lists(in.table, in.table_size, t.lists_at, t.lists_len, t.overrides_at,
                             t.overrides_len);
    if (lists.overrides.empty()) return labels;
    styles = read_styles(&st, range_of(in.table, in.table_size, t.styles_at, t.styles_len));
    pages = read_pages(&st, range_of(in.table, in.table_size, t.pages_at, t.pages_len), in);
  } else if (is_word6_header(in.header)) {
    std::array<unsigned char, kW6ParagraphPages + 8> fib;
    if (!in.read_doc(0, fib.size(), fib.data())) return labels;
    const std::uint32_t styles_at = getulong(fib.data(), kW6Styles);
    const std::uint32_t styles_len = getulong(fib.data(), kW6Styles + 4);
    const std::uint32_t pages_at = getulong(fib.data(), kW6ParagraphPages);
    const std::uint32_t pages_len = getulong(fib.data(), kW6ParagraphPages + 4);
    std::vector<unsigned char> s = doc_range(in, styles_at, styles_len);
    std::vector<unsigned char> p = doc_range(in, pages_at, pages_len);
    styles = read_styles(&st, {s.data(), s.size()});
    pages = read_pages(&st, {p.data(), p.size()}, in);
  } else {
    return labels;
  }
  if (pages.empty()) return labels;

  std::size_t counter_sets = 0;
  for (std::size_t key : lists.counter) counter_sets = std::max(counter_sets, key + 1);
  std::vector<ListCounters> counters(counter_sets);
  Word6Counting word6;
  std::size_t stories = 0;
  std::vector<std::uint16_t> label;
  std::vector<std::uint16_t> restarts = lists.restarts;
  auto end_story = [&] {
    std::fill(counters.begin(), counters.end(), ListCounters{});
    restarts = lists.restarts;
    word6 = {};
    ++stories;
  };
  // Paragraph marks in text order: each run of the text holds the marks of the property runs
  // that end inside its bytes.
  std::uint64_t begin_cp = 0;  // where the next paragraph begins
  for (const TextRun& run : runs) {
    if (stories >= kMaxStories) break;
    const std::uint64_t width = run.eight_bit ? 1 : 2;
    const std::uint64_t fc_lo = run.offset,
                        fc_hi = fc_lo + std::uint64_t(run.cp_end - run.cp_begin) * width;
    auto it = std::upper_bound(pages.begin(), pages.end(), fc_lo,
                               [](std::uint64_t fc, const PageRun& r) { return fc < r.fc_end; });
    for (; it != pages.end() && it->fc_end <= fc_hi; ++it) {
      const std::uint64_t mark_cp = run.cp_begin + (it->fc_end - fc_lo) / width - 1;
      if (mark_cp + 1 <= begin_cp) continue;  // the paragraph began before: a table out of order
      const ParaList p = resolve(it->para, styles);
      label.clear();
      if (st.word97) {
        if (p.ilfo > 0 && std::size_t(p.ilfo) <= lists.overrides.size()) {
          const std::size_t o = std::size_t(p.ilfo) - 1;
          const int level = p.ilvl >= 0 && p.ilvl < kListLevels ? p.ilvl : 0;
          ListCounters& c = counters[lists.counter[o]];
          if (restarts[o] & (1u << level)) {
            restarts[o] = std::uint16_t(restarts[o] & ~(1u << level));
            c.used[std::size_t(level)] = false;
          }
          next_label(lists.overrides[o], &c, level, &label);
        }
      } else {
        word6_label(st, p, &word6, &label);
      }
      if (!label.empty() && begin_cp <= 0xFFFFFFFF) {
        labels.cp.push_back(std::uint32_t(begin_cp));
        labels.begin.push_back(std::uint32_t(labels.units.size()));
        labels.units.insert(labels.units.end(), label.begin(), label.end());
      }
      begin_cp = mark_cp + 1;
    }
    if (run.ends_story) {
      end_story();
      begin_cp = std::max<std::uint64_t>(begin_cp, run.cp_end);
    }
  }
  return labels;
}

ParagraphLabels word_document_labels(OleStream* doc, std::int32_t doc_index,
                                     const unsigned char* header, const std::vector<TextRun>& runs,
                                     const std::uint16_t* table) {
  WordListInput in;
  in.header = header;
  in.doc_size = doc->size;
  in.read_doc = [doc](std::uint64_t offset, std::size_t n, unsigned char* dest) {
    if (offset > doc->size || n > doc->size - offset) return false;
    if (ole_seek(doc, static_cast<std::int32_t>(offset), SEEK_SET) != 0) return false;
    return ole_read(dest, 1, n, doc) == n;
  };
  std::vector<unsigned char> table_stream;
  if (is_word97_header(header)) {
    // Most documents have no list overrides: their table stream need not be read for lists.
    FibTables t;
    if (!read_fib97(in, &t) || t.overrides_len < 4) return {};
    table_stream = read_table_stream(doc, doc_index, header);
    if (table_stream.empty()) return {};
  }
  in.table = table_stream.data();
  in.table_size = table_stream.size();
  return word_list_labels(in, runs, table);
}

}  // namespace dorvex
