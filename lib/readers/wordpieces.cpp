#include "wordpieces.h"

#include "context.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "charsets.h"
#include "fileutil.h"
#include "numutils.h"
#include "rtfread.h"
#include "wordtext.h"

namespace dorvex {

namespace {

// Header (file information block) fields common to all versions.
constexpr std::size_t kFibVersion = 2, kFibFlags = 10, kFibEnvironment = 18, kFibCharset = 20,
                      kFibTextStart = 24, kFibTextEnd = 28;
constexpr unsigned kFlagComplex = 0x0004, kFlagTableOne = 0x0200, kFlagExtendedCharset = 0x1000;
constexpr int kWord97MinVersion = 0xC1, kWord6MinVersion = 101, kWord6MaxVersion = 105;
constexpr int kMacCharset = 256;

// Word 97 and later: after the fixed part, counted arrays of 16-bit values (count at 32), of
// 32-bit values (the story lengths are entries 3 to 10) and of offset/length pairs (pair 33
// locates the piece table in the table stream).
constexpr std::size_t kFibCsw = 32;
constexpr std::size_t kFirstStoryLength = 3, kStoryCount = 8;
constexpr std::size_t kClxPair = 33;

// Word 6/95: one fixed layout. Story lengths, the font table and the piece table, which lies
// in the WordDocument stream itself.
constexpr std::size_t kW6StoryLengths = 0x34, kW6FontTable = 0xD0, kW6Clx = 0x160;
static_assert(kW6StoryLengths + 4 * kStoryCount <= 128, "Word 6 story lengths lie in the header");

// The piece table: property entries (1, 16-bit size, data) ahead of the table (2, 32-bit size,
// n + 1 character positions, n descriptors of 8 bytes whose 32-bit value at 2 places the piece).
constexpr unsigned char kClxProperties = 1, kClxPieces = 2;
constexpr std::size_t kPieceDescriptor = 8, kPieceOffset = 2;
constexpr std::uint32_t kCompressedBit = 0x40000000;

// Font table entries: a byte holding the entry's size minus one; the charset is byte 4.
constexpr std::size_t kFontCharset = 4;

// Text is read and decoded in blocks of this many bytes.
constexpr std::size_t kReadBlock = kWordReadBlock;
static_assert(kReadBlock <= kBlockUnits, "a block read fits the paragraph's block space");

bool read_at(OleStream* s, std::uint64_t off, void* dest, std::size_t n) {
  if (off > s->size || n > s->size - off || off > 0x7FFFFFFF) return false;
  if (ole_seek(s, static_cast<std::int32_t>(off), SEEK_SET) != 0) return false;
  return ole_read(dest, 1, n, s) == n;
}

bool read_u16(OleStream* s, std::uint64_t off, std::uint32_t* v) {
  unsigned char b[2];
  if (!read_at(s, off, b, 2)) return false;
  *v = static_cast<std::uint32_t>(getshort(b, 0));
  return true;
}

bool read_u32(OleStream* s, std::uint64_t off, std::uint32_t* v) {
  unsigned char b[4];
  if (!read_at(s, off, b, 4)) return false;
  *v = getulong(b, 0);
  return true;
}

// Bytes [off, off + len) of a stream; empty when they are not all there.
std::vector<unsigned char> read_range(OleStream* s, std::uint32_t off, std::uint32_t len) {
  std::vector<unsigned char> bytes;
  if (off > s->size || len > s->size - off) return bytes;
  bytes.resize(len);
  if (!read_at(s, off, bytes.data(), len)) bytes.clear();
  return bytes;
}

// What the file information block says about the text: story lengths and the piece table.
struct FibFacts {
  bool has_lengths = false;
  std::array<std::uint32_t, kStoryCount> lengths{};
  std::uint32_t clx_offset = 0, clx_length = 0;
};

bool read_word97_fib(OleStream* doc, FibFacts* f) {
  std::uint32_t csw, cslw, pairs;
  if (!read_u16(doc, kFibCsw, &csw)) return false;
  const std::uint64_t lw_count_at = kFibCsw + 2 + 2 * std::uint64_t(csw);
  if (!read_u16(doc, lw_count_at, &cslw)) return false;
  const std::uint64_t lw_at = lw_count_at + 2;
  if (cslw >= kFirstStoryLength + kStoryCount) {
    f->has_lengths = true;
    for (std::size_t k = 0; k < kStoryCount; ++k) {
      if (!read_u32(doc, lw_at + 4 * (kFirstStoryLength + k), &f->lengths[k])) return false;
    }
  }
  const std::uint64_t pair_count_at = lw_at + 4 * std::uint64_t(cslw);
  if (!read_u16(doc, pair_count_at, &pairs) || pairs <= kClxPair) return false;
  const std::uint64_t clx_at = pair_count_at + 2 + 8 * kClxPair;
  return read_u32(doc, clx_at, &f->clx_offset) && read_u32(doc, clx_at + 4, &f->clx_length);
}

void read_word6_fib(OleStream* doc, const unsigned char* header, FibFacts* f) {
  f->has_lengths = true;
  for (std::size_t k = 0; k < kStoryCount; ++k) {
    f->lengths[k] = getulong(header, kW6StoryLengths + 4 * k);
  }
  if (!read_u32(doc, kW6Clx, &f->clx_offset) || !read_u32(doc, kW6Clx + 4, &f->clx_length)) {
    f->clx_length = 0;
  }
}

// ---- the table stream, beside the WordDocument stream in the same storage ----

constexpr std::size_t kDirEntrySize = 128, kDirNameBytes = 64, kDirType = 0x42, kDirLeft = 0x44,
                      kDirRight = 0x48, kDirChild = 0x4C;
constexpr int kTypeStorage = 1, kTypeRoot = 5;

const unsigned char* dir_entry(std::int32_t i) {
  return ctx().ole.properties + std::size_t(i) * kDirEntrySize;
}

bool valid_index(std::int32_t i) { return ctx().ole.properties && i >= 0 && i < ctx().ole.propNumber; }

// Compound-file names compare without regard to ASCII case, as the WordDocument name does.
bool entry_named(std::int32_t i, const char* name) {
  const unsigned char* e = dir_entry(i);
  std::size_t n = std::strlen(name);
  if (2 * (n + 1) > kDirNameBytes) return false;
  for (std::size_t k = 0; k <= n; ++k) {
    int unit = getshort(e, 2 * k);
    int want = static_cast<unsigned char>(name[k]);
    if (unit >= 'A' && unit <= 'Z') unit += 'a' - 'A';
    if (want >= 'A' && want <= 'Z') want += 'a' - 'A';
    if (unit != want) return false;
  }
  return true;
}

// The entry named name among the children of the storage that holds entry doc; when the
// directory's tree does not place doc, the first entry of that name. -1 when there is none.
std::int32_t find_sibling(std::int32_t doc, const char* name) {
  if (!valid_index(doc)) return -1;
  std::vector<std::uint8_t> seen(std::size_t(ctx().ole.propNumber), 0);
  std::vector<std::int32_t> members, pending;
  for (std::int32_t s = 0; s < ctx().ole.propNumber; ++s) {
    int type = dir_entry(s)[kDirType];
    if (type != kTypeStorage && type != kTypeRoot) continue;
    members.clear();
    pending.assign(1, getlong(dir_entry(s), kDirChild));
    // Every entry is visited once over all storages, so a looped tree still ends.
    while (!pending.empty()) {
      std::int32_t x = pending.back();
      pending.pop_back();
      if (!valid_index(x) || seen[std::size_t(x)]) continue;
      seen[std::size_t(x)] = 1;
      members.push_back(x);
      pending.push_back(getlong(dir_entry(x), kDirLeft));
      pending.push_back(getlong(dir_entry(x), kDirRight));
    }
    if (std::find(members.begin(), members.end(), doc) == members.end()) continue;
    for (std::int32_t m : members) {
      if (m != doc && entry_named(m, name)) return m;
    }
    return -1;
  }
  for (std::int32_t i = 0; i < ctx().ole.propNumber; ++i) {
    if (i != doc && entry_named(i, name)) return i;
  }
  return -1;
}

struct OleEntryCloser {
  void operator()(OleStream* s) const { ole_close(s); }
};
using OleEntryPtr = std::unique_ptr<OleStream, OleEntryCloser>;

// Directory entry index as a stream record, through the directory cursor of ole_readdir.
OleEntryPtr open_entry(std::FILE* container, std::int32_t index) {
  const std::int32_t saved = ctx().ole.propCurNumber;
  ctx().ole.propCurNumber = index;
  OleEntryPtr entry{ole_readdir(container)};
  ctx().ole.propCurNumber = saved;
  if (entry && ole_open(entry.get()) < 0) entry.reset();
  return entry;
}

std::vector<unsigned char> read_table_clx(OleStream* doc, std::int32_t doc_index, unsigned flags,
                                          const FibFacts& f) {
  std::int32_t table = find_sibling(doc_index, (flags & kFlagTableOne) ? "1Table" : "0Table");
  if (table < 0) return {};
  OleEntryPtr entry = open_entry(doc->file, table);
  if (!entry) return {};
  return read_range(entry.get(), f.clx_offset, f.clx_length);
}

// ---- the piece table ----

struct PieceTable {
  const unsigned char* cps;          // n + 1 character positions
  const unsigned char* descriptors;  // n descriptors
  std::size_t count;
};

// Skips the property entries to the piece table; false when the bytes hold none.
bool locate_pieces(const std::vector<unsigned char>& clx, PieceTable* t) {
  std::size_t pos = 0;
  while (pos < clx.size()) {
    unsigned char kind = clx[pos];
    if (kind == kClxProperties) {
      if (clx.size() - pos < 3) return false;
      pos += 3 + std::size_t(getshort(clx.data(), pos + 1));
      continue;
    }
    if (kind != kClxPieces || clx.size() - pos < 5) return false;
    std::uint32_t len = getulong(clx.data(), pos + 1);
    pos += 5;
    if (len > clx.size() - pos || len < 4 + 4 + kPieceDescriptor) return false;
    t->count = (len - 4) / (4 + kPieceDescriptor);
    t->cps = clx.data() + pos;
    t->descriptors = t->cps + 4 * (t->count + 1);
    return true;
  }
  return false;
}

// Character positions where stories end, in order; the last is the end of all text.
std::vector<std::uint64_t> story_ends(const FibFacts& f, std::uint32_t table_end) {
  std::vector<std::uint64_t> ends;
  if (!f.has_lengths) {
    ends.push_back(table_end);
    return ends;
  }
  std::uint64_t at = 0;
  for (std::uint32_t len : f.lengths) {
    if (len == 0) continue;
    at += len;
    ends.push_back(at);
  }
  return ends;
}

// Turns the pieces into runs cut at the story ends.
// Whether every piece can be trusted: positions in order, and text wholly inside the stream. A
// table that fails is damaged as a whole; the pieces that look valid would give part of the text
// where the header's text range gives all of it.
bool pieces_fit_stream(const PieceTable& t, bool word97_layout, std::uint32_t doc_size) {
  for (std::size_t i = 0; i < t.count; ++i) {
    const std::uint64_t begin = getulong(t.cps, 4 * i), end = getulong(t.cps, 4 * (i + 1));
    if (end < begin) return false;
    const std::uint32_t place = getulong(t.descriptors, kPieceDescriptor * i + kPieceOffset);
    const bool eight_bit = !word97_layout || (place & kCompressedBit);
    const std::uint64_t offset = word97_layout && eight_bit ? (place & ~kCompressedBit) / 2 : place;
    const std::uint64_t bytes = (end - begin) * (eight_bit ? 1 : 2);
    if (offset > doc_size || bytes > doc_size - offset) return false;
  }
  return true;
}

void pieces_to_runs(const PieceTable& t, bool word97_layout, const FibFacts& f,
                    std::uint32_t doc_size, std::vector<TextRun>* runs) {
  const std::vector<std::uint64_t> ends = story_ends(f, getulong(t.cps, 4 * t.count));
  if (ends.empty()) return;  // every story is empty
  std::size_t story = 0;
  // Pieces of a real document never share bytes, so their text is no longer than the stream;
  // a table whose pieces all point at the same bytes must not multiply the output.
  std::uint64_t budget = doc_size;
  for (std::size_t i = 0; i < t.count; ++i) {
    std::uint64_t begin = getulong(t.cps, 4 * i), end = getulong(t.cps, 4 * (i + 1));
    if (end < begin) continue;  // a piece that runs backwards (a damaged table) holds nothing
    std::uint32_t place = getulong(t.descriptors, kPieceDescriptor * i + kPieceOffset);
    bool eight_bit = !word97_layout || (place & kCompressedBit);
    std::uint64_t offset = word97_layout && eight_bit ? (place & ~kCompressedBit) / 2 : place;
    std::uint64_t width = eight_bit ? 1 : 2;
    const std::uint64_t piece_begin = begin;
    end = std::min(end, ends.back());
    // A piece that leaves the stream (a damaged file) gives what the stream holds of it.
    if (offset >= doc_size) continue;
    end = std::min(end, begin + (doc_size - offset) / width);
    end = std::min(end, begin + budget / width);
    if (end > begin) budget -= (end - begin) * width;
    while (begin < end) {
      while (ends[story] <= begin) ++story;
      std::uint64_t cut = std::min(end, ends[story]);
      runs->push_back({std::uint32_t(begin), std::uint32_t(cut),
                       std::uint32_t(offset + (begin - piece_begin) * width), eight_bit,
                       cut == ends[story]});
      begin = cut;
    }
  }
}

// ---- code pages ----

struct CodePage {
  int charset;  // the font table's charset number
  const char* name;
};
constexpr CodePage kFontCharsets[] = {
    {204, "cp1251"}, {238, "cp1250"}, {161, "cp1253"}, {162, "cp1254"}, {177, "cp1255"},
    {178, "cp1256"}, {186, "cp1257"}, {163, "cp1258"}, {222, "cp874"},  {77, "mac-roman"}};

static_assert(std::size(kFontCharsets) + 1 <= kLoadedWordCharsets, "a slot for every table");

// The table of a charset file along charset_path, or null (silently) when there is none.
CharsetTable load_charset(const char* name) {
  PiecesState& st = ctx().pieces;
  for (const LoadedCharset& c : st.loaded) {
    if (c.name && std::strcmp(c.name, name) == 0) return c.table;
  }
  char* path = find_file(stradd(name, ".txt"), ctx().charset_path);
  if (!path) return nullptr;
  std::free(path);
  // The document's stream is using the shared input buffer.
  char* saved = ctx().input_buffer;
  ctx().input_buffer = nullptr;
  CharsetTable table = read_charset(name);
  ctx().input_buffer = saved;
  if (!table) return nullptr;
  for (LoadedCharset& c : st.loaded) {
    if (!c.name) {
      c = {name, table};
      return table;
    }
  }
  return table;  // cannot happen: one slot per name
}

}  // namespace

bool is_word97_header(const unsigned char* header) {
  return getshort(header, kFibVersion) >= kWord97MinVersion;
}

bool is_word6_header(const unsigned char* header) {
  int version = getshort(header, kFibVersion);
  return version >= kWord6MinVersion && version <= kWord6MaxVersion;
}

bool find_word_pieces(OleStream* doc, std::int32_t doc_index, const unsigned char* header,
                      WordPieces* out) {
  const unsigned flags = static_cast<unsigned>(getshort(header, kFibFlags));
  const bool word97 = is_word97_header(header);
  FibFacts f;
  std::vector<unsigned char> clx;
  if (word97) {
    if (!read_word97_fib(doc, &f)) return false;
    clx = read_table_clx(doc, doc_index, flags, f);
  } else if (is_word6_header(header) && (flags & kFlagComplex)) {
    read_word6_fib(doc, header, &f);
    clx = read_range(doc, f.clx_offset, f.clx_length);
  } else {
    return false;
  }
  PieceTable t{};
  if (!locate_pieces(clx, &t)) return false;
  // Word 6/95 text with the extended character set is stored as Word 97 stores it.
  const bool word97_layout = word97 || (flags & kFlagExtendedCharset);
  // Measured against the size the stream states: a stream the container cannot deliver whole is
  // the container's failure (reported as such), not a damaged table, and gives what it holds.
  if (!pieces_fit_stream(t, word97_layout, std::max(doc->statedSize, doc->size))) return false;
  std::vector<TextRun> runs;
  pieces_to_runs(t, word97_layout, f, doc->size, &runs);
  // A table whose pieces all lie outside the stream says nothing the text range would not.
  if (runs.empty() && getulong(t.cps, 4 * t.count) > getulong(t.cps, 0)) return false;
  out->runs = std::move(runs);
  out->pieces = t.count;
  return true;
}

const char* word6_codepage(OleStream* doc, const unsigned char* header) {
  if (getshort(header, kFibCharset) == kMacCharset || header[kFibEnvironment] != 0) {
    return "mac-roman";
  }
  std::uint32_t fc = 0, lcb = 0;
  if (!read_u32(doc, kW6FontTable, &fc) || !read_u32(doc, kW6FontTable + 4, &lcb)) return "cp1252";
  std::vector<unsigned char> fonts = read_range(doc, fc, lcb);
  if (fonts.size() < 2) return "cp1252";
  const std::size_t limit = std::min<std::size_t>(fonts.size(), getshort(fonts.data(), 0));
  std::array<std::size_t, std::size(kFontCharsets)> votes{};
  for (std::size_t pos = 2; pos < limit; pos += std::size_t(fonts[pos]) + 1) {
    if (pos + kFontCharset >= limit || fonts[pos] < kFontCharset) continue;
    int charset = fonts[pos + kFontCharset];
    for (std::size_t k = 0; k < votes.size(); ++k) {
      if (kFontCharsets[k].charset == charset) ++votes[k];
    }
  }
  std::size_t best = 0;
  for (std::size_t k = 1; k < votes.size(); ++k) {
    if (votes[k] > votes[best]) best = k;
  }
  return votes[best] ? kFontCharsets[best].name : "cp1252";
}

const std::uint16_t* word_8bit_charset(OleStream* doc, const unsigned char* header) {
  const char* name = "cp1252";
  if (!is_word97_header(header)) {
    if (ctx().forced_charset) return ctx().source_charset;
    name = word6_codepage(doc, header);
  }
  CharsetTable table = load_charset(name);
  return table ? table : ctx().source_charset;
}

std::vector<unsigned char> read_table_stream(OleStream* doc, std::int32_t doc_index,
                                             const unsigned char* header) {
  const unsigned flags = static_cast<unsigned>(getshort(header, kFibFlags));
  std::vector<unsigned char> bytes;
  std::int32_t table = find_sibling(doc_index, (flags & kFlagTableOne) ? "1Table" : "0Table");
  if (table < 0) return bytes;
  OleEntryPtr entry = open_entry(doc->file, table);
  if (!entry || ole_seek(entry.get(), 0, SEEK_SET) != 0) return bytes;
  // Grown by what is read, not by the size the directory states.
  while (bytes.size() < entry->size) {
    const std::size_t at = bytes.size();
    const std::size_t want = std::min<std::size_t>(kReadBlock, entry->size - at);
    bytes.resize(at + want);
    const std::size_t got = ole_read(bytes.data() + at, 1, want, entry.get());
    bytes.resize(at + std::min(got, want));
    if (got != want) break;
  }
  return bytes;
}

bool word6_range_pieces(const unsigned char* header, std::uint32_t doc_size, WordPieces* out) {
  const std::uint32_t start = getulong(header, kFibTextStart), end = getulong(header, kFibTextEnd);
  if (!is_word6_header(header) || start >= end || end > doc_size) return false;
  FibFacts f;
  f.has_lengths = true;
  for (std::size_t k = 0; k < kStoryCount; ++k) {
    f.lengths[k] = getulong(header, kW6StoryLengths + 4 * k);
  }
  // One piece over the whole range: the text as it lies.
  std::array<unsigned char, 4 * 2 + kPieceDescriptor> one{};
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) one[at + k] = static_cast<unsigned char>(v >> (8 * k));
  };
  put32(4, end - start);
  put32(8 + kPieceOffset, start);
  const PieceTable t{one.data(), one.data() + 8, 1};
  out->runs.clear();
  pieces_to_runs(t, false, f, doc_size, &out->runs);
  out->pieces = 1;
  return !out->runs.empty();
}

void read_word_pieces(OleStream* doc, const WordPieces& pieces, const std::uint16_t* table,
                      const ParagraphLabels* labels) {
  WordParagraphs text(WordRules::document);
  bool ascii_same = true;
  for (int b = 0; b < 0x80; ++b) ascii_same = ascii_same && table[b] == b;
  std::size_t next_label = 0;
  const std::size_t label_count = labels ? labels->size() : 0;
  for (const TextRun& run : pieces.runs) {
    const std::size_t width = run.eight_bit ? 1 : 2;
    std::uint64_t left = std::uint64_t(run.cp_end - run.cp_begin) * width;
    if (ole_seek(doc, static_cast<std::int32_t>(run.offset), SEEK_SET) != 0) left = 0;
    while (next_label < label_count && labels->cp[next_label] < run.cp_begin) ++next_label;
    std::uint64_t cp = run.cp_begin;
    while (left > 0) {
      // A paragraph's label goes in where its text begins.
      if (next_label < label_count && labels->cp[next_label] == cp) {
        std::size_t n;
        const std::uint16_t* label = labels->label(next_label++, &n);
        text.put_run(label, n);
        continue;
      }
      std::uint64_t until = left;
      if (next_label < label_count && labels->cp[next_label] < run.cp_end) {
        until = std::min<std::uint64_t>(until, (labels->cp[next_label] - cp) * width);
      }
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(until, kReadBlock));
      // The units go where the paragraph takes them. On a little-endian machine 16-bit text is
      // already in the units' layout and is read straight there.
      std::uint16_t* units = text.block_space();
      const bool in_place = !run.eight_bit && std::endian::native == std::endian::little;
      void* dest = in_place ? static_cast<void*>(units) : ctx().pieces.raw_block.data();
      std::size_t got = ole_read(dest, 1, want, doc);
      if (got == 0 || got > want) break;
      std::size_t n = got / width;
      left -= got;
      cp += n;
      if (run.eight_bit) {
        text.take_bytes(ctx().pieces.raw_block.data(), n, table, ascii_same);  // widened as they are scanned
        continue;
      }
      if (!in_place) {
        for (std::size_t i = 0; i < n; ++i) {
          units[i] = static_cast<std::uint16_t>(ctx().pieces.raw_block[2 * i] | ctx().pieces.raw_block[2 * i + 1] << 8);
        }
      }
      text.take_block(n);
    }
    if (run.ends_story) text.end_story();
  }
  text.finish_paragraph();
}

}  // namespace dorvex
