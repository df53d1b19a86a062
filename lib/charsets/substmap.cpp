#include "substmap.h"


#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "context.h"
#include "fileutil.h"
#include "numutils.h"

namespace dorvex {


namespace {

constexpr int kRowSize = 256;
// One fgets piece: 1023 bytes and the terminating zero; longer lines come in pieces.
constexpr int kLineLimit = 1024;
// A replacement keeps at most this many bytes, so a map line cannot outgrow the writer's
// 512-byte line buffer by more than the margin check allows for.
constexpr int kSequenceLimit = 256;
constexpr long kMaxCode = 0xFFFD;
// Map files are read through a block of this size on the stack.
constexpr std::size_t kMapBlock = 16384;

[[noreturn]] void map_memory_exhausted() {
  report("Insufficient memory\n");
  end_program(1);
}

// The "C" locale's white space; a byte of 0x80 or more (negative as char) is never white.
bool is_white(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char* skip_white(const char* p) {
  while (is_white(*p)) ++p;
  return p;
}

int closing_for(char opening) {
  switch (opening) {
    case '"':
      return '"';
    case '\'':
      return '\'';
    case '(':
      return ')';
    case '[':
      return ']';
    case '{':
      return '}';
    default:
      return '\n';
  }
}

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// A hexadecimal digit's value, or -1.
int hex_digit(char c) {
  const int d = kDigitValue[static_cast<unsigned char>(c)];
  return d < 16 ? d : -1;
}

// A hexadecimal number as strtol reads it with base 16 (sign, optional 0x, digits), without
// its locale handling: the map files are read on every start. Values above the code range
// stop growing. *end is p when there is no number.
long parse_hex(const char* p, const char** end) {
  const char* start = p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit(p[2]) >= 0) p += 2;
  if (hex_digit(*p) < 0) {
    *end = start;
    return 0;
  }
  long value = 0;
  for (int d; (d = hex_digit(*p)) >= 0; ++p) {
    if (value <= kMaxCode) value = value * 16 + d;
  }
  *end = p;
  return negative ? -value : value;
}

// The first unescaped character that ends the sequence, or the line's terminating zero.
const char* find_stop(const char* p, int closing) {
  for (;; ++p) {
    if (*p == '\\') {
      if (!*++p) return p;
      continue;
    }
    if (*p == '\0' || isstop(*p, closing)) return p;
  }
}

// Translates [p, stop) with its backslash escapes into out (kSequenceLimit bytes + zero).
// Returns the bytes produced, an octal \0 included.
int translate(const char* p, const char* stop, char* out) {
  int len = 0;
  while (p < stop && len < kSequenceLimit) {
    char c = *p++;
    if (c == '\\' && p < stop) {
      c = *p++;
      switch (c) {
        case 'b':
          c = '\b';
          break;
        case 'n':
          c = '\n';
          break;
        case 'r':
          c = '\r';
          break;
        case 't':
          c = '\t';
          break;
        case '0': {
          unsigned v = 0;
          while (p < stop && is_octal(*p)) v = (v * 8 + unsigned(*p++ - '0')) & 0xFF;
          c = static_cast<char>(v);
          break;
        }
        default:
          break;  // \" \' \\ and any other character stand for themselves
      }
    }
    out[len++] = c;
  }
  out[len] = '\0';
  return len;
}

// Texts of a map read from a file live in chunks, not in an allocation each.
struct TextChunk {
  TextChunk* next;
  std::size_t used;
  static constexpr std::size_t kBytes = 16384 - 2 * sizeof(void*);
  char bytes[kBytes];
};

bool in_chunks(const SubstMap* map, const char* text) {
  for (const TextChunk* c = static_cast<const TextChunk*>(map->text_chunks); c; c = c->next) {
    auto at = reinterpret_cast<std::uintptr_t>(text), begin = reinterpret_cast<std::uintptr_t>(c->bytes);
    if (at >= begin && at < begin + TextChunk::kBytes) return true;
  }
  return false;
}

char* chunk_copy(SubstMap* map, const char* text, std::size_t size) {
  auto* chunk = static_cast<TextChunk*>(map->text_chunks);
  if (!chunk || TextChunk::kBytes - chunk->used < size) {
    auto* fresh = static_cast<TextChunk*>(std::malloc(sizeof(TextChunk)));
    if (!fresh) map_memory_exhausted();
    fresh->next = chunk;
    fresh->used = 0;
    map->text_chunks = chunk = fresh;
  }
  char* copy = chunk->bytes + chunk->used;
  std::memcpy(copy, text, size);
  chunk->used += size;
  return copy;
}

char**& row_for(SubstMap* map, int u) {
  char**& row = map->rows[static_cast<unsigned>(u) >> 8];
  if (!row) {
    row = static_cast<char**>(std::calloc(kRowSize, sizeof(char*)));
    if (!row) map_memory_exhausted();
  }
  return row;
}

// Stores text as u's entry, in the map's chunks (text is at most kSequenceLimit bytes).
void chunk_insert(SubstMap* map, int u, const char* text) {
  char*& slot = row_for(map, u)[u & 0xFF];
  if (slot && !in_chunks(map, slot)) std::free(slot);
  slot = chunk_copy(map, text, std::strlen(text) + 1);
}

// The head of the shape nearly every line has, `XXXX "text"`: four hexadecimal digits of a
// valid code, one blank and a double quote, read as the general parser would read them but at a
// fraction of its cost, the check of the replacement map being most of a start-up's work.
// Sets *code and *text (the first byte inside the quotes); false for any other shape. Each
// byte is looked at only when the bytes before it were no zero, which ends a line.
bool read_common_head(const char* line, long* code, const char** text) {
  int d0, d1, d2, d3;
  if ((d0 = hex_digit(line[0])) < 0 || (d1 = hex_digit(line[1])) < 0 ||
      (d2 = hex_digit(line[2])) < 0 || (d3 = hex_digit(line[3])) < 0 || line[4] != ' ' ||
      line[5] != '"')
    return false;
  *code = d0 << 12 | d1 << 8 | d2 << 4 | d3;
  *text = line + 6;
  return *code <= kMaxCode;
}

// How one pass over a map file treats its lines: a check (no map) reports faulty lines and
// notes the longest text; a load (a map) stores the entries, and reports faulty lines when it
// has a path. A load no check went before stores texts of any length; the load that follows a
// check stores none longer than the check found, so a file changed in between cannot outgrow
// the margin check.
struct MapPass {
  SubstMap* map;
  const char* path;
  int store_limit;
};

// Parses one line (or piece of a line) as the pass says.
void parse_map_line(const MapPass& pass, const char* line, int line_no) {
  SubstMap* const map = pass.map;
  const char* const path = pass.path;
  long code;
  const char* p;
  int closing = '"';
  if (!read_common_head(line, &code, &p)) {
    p = skip_white(line);
    if (*p == '\0' || *p == '#') return;
    const char* end;
    code = parse_hex(p, &end);
    if (end == p || !is_white(*end) || code < 0 || code > kMaxCode) {
      if (path) report("Error parsing %s(%d)\n", path, line_no);
      return;
    }
    p = skip_white(end);
    closing = closing_for(*p);
    if (closing != '\n') ++p;  // the opening quote or bracket is not part of the text
  }
  const char* stop = find_stop(p, closing);
  if (*stop == '\0') {
    if (path) report("Error parsing %s(%d): unterminated sequence\n", path, line_no);
    return;
  }
  // Escapes only shorten a text: a check need not translate one that cannot be the longest.
  int& longest_sequence = ctx().longest_sequence;
  if (!map && stop - p <= longest_sequence) return;
  char text[kSequenceLimit + 1];
  int len = translate(p, stop, text);
  if (len > pass.store_limit) return;
  if (len > longest_sequence) longest_sequence = len;
  if (map) chunk_insert(map, static_cast<int>(code), text);
}

// What a byte of a text in double quotes is to the check's shortcut: the closing quote, a
// byte the general parser must see (an escape, or a zero, which ends a piece's text), or any
// other.
constexpr unsigned char kPlainByte = 0, kClosingQuote = 1, kGeneralByte = 2;
constexpr std::array<unsigned char, 256> kTextByte = [] {
  std::array<unsigned char, 256> kind{};
  kind['"'] = kClosingQuote;
  kind['\\'] = kGeneralByte;
  kind[0] = kGeneralByte;
  return kind;
}();

// True when the bytes of line before its end (len of them) have the common shape
// `XXXX "text"...` with a text free of escapes and no longer than longest: such a line can be
// neither faulty nor raise longest_sequence.
bool passes_unread(const char* line, std::size_t len, std::size_t longest) {
  constexpr std::size_t kTextStart = 6;
  if (len <= kTextStart) return false;
  const unsigned d0 = kDigitValue[static_cast<unsigned char>(line[0])],
                 d1 = kDigitValue[static_cast<unsigned char>(line[1])],
                 d2 = kDigitValue[static_cast<unsigned char>(line[2])],
                 d3 = kDigitValue[static_cast<unsigned char>(line[3])];
  if ((d0 | d1 | d2 | d3) > 15 || line[4] != ' ' || line[5] != '"') return false;
  if (d0 == 15 && d1 == 15 && d2 == 15 && d3 > 13) return false;  // above kMaxCode
  // Most texts are one byte, settled by two loads (line[7] is at most the line end): never
  // longer than longest_sequence, which starts at 6.
  if (line[7] == '"' && kTextByte[static_cast<unsigned char>(line[6])] == kPlainByte) return true;
  // The closing quote may stand at most longest bytes after the opening one.
  const std::size_t limit = std::min(len, kTextStart + longest + 1);
  for (std::size_t i = kTextStart; i < limit; ++i) {
    const unsigned char kind = kTextByte[static_cast<unsigned char>(line[i])];
    if (kind != kPlainByte) return kind == kClosingQuote;
  }
  return false;
}

// The check of the replacement map at every start passes over the lines passes_unread accepts,
// which are nearly all, looking at their heads and line ends only; the line ends come from
// line_end_bits, 64 bytes at a time. Skims lines from text on, adding them to *line_no, and
// returns the bytes they take: up to the first line the general parser must read, or one whose
// end (as next_piece cuts it) is not within the 64-byte groups of [text, text + size).
std::size_t skim_common_lines(const char* text, std::size_t size, int* line_no) {
  static_assert(kLineEndGroup == 64, "a group's line ends fill one 64-bit word");
  const std::size_t longest = static_cast<std::size_t>(ctx().longest_sequence);
  if (size < kLineEndGroup) return 0;
  const std::size_t groups_end = size - size % kLineEndGroup;
  std::size_t at = 0, group = 0;
  std::uint64_t ends = line_end_bits(text);
  for (;;) {
    while (ends == 0) {
      group += kLineEndGroup;
      if (group == groups_end) return at;
      ends = line_end_bits(text + group);
    }
    const std::size_t nl = group + static_cast<std::size_t>(__builtin_ctzll(ends));
    ends &= ends - 1;
    if (nl - at >= kLineLimit - 1 || !passes_unread(text + at, nl - at, longest)) return at;
    at = nl + 1;
    ++*line_no;
  }
}

// Cuts the next piece off [text, text + size) as fgets would deliver it: at most 1023 bytes,
// ending at its line end. 0 when the piece may go on past size and at_end is false.
std::size_t next_piece(const char* text, std::size_t size, bool at_end) {
  std::size_t n = std::min<std::size_t>(size, kLineLimit - 1);
  if (const void* nl = std::memchr(text, '\n', n))
    return static_cast<std::size_t>(static_cast<const char*>(nl) - text) + 1;
  return n == kLineLimit - 1 || at_end ? n : 0;
}

// Parses the rest of an open map file piece by piece, a zero byte ending the text a piece is
// parsed as. The file passes through a block on the stack, so a map of any size costs a few
// pages; a piece cut by the end of the block is moved to its start. False when a read fails.
bool parse_map_file(const MapPass& pass, std::FILE* f) {
  char block[kMapBlock];
  static_assert(sizeof block > kLineLimit, "a whole piece and its zero fit in the block");
  std::size_t kept = 0;  // the start of a piece whose end is not read yet
  int line_no = 0;
  for (bool at_end = false; !at_end;) {
    std::size_t got = std::fread(block + kept, 1, sizeof block - 1 - kept, f);
    if (std::ferror(f)) return false;
    at_end = got < sizeof block - 1 - kept;
    std::size_t size = kept + got, at = 0;
    for (;;) {
      if (!pass.map) at += skim_common_lines(block + at, size - at, &line_no);
      const std::size_t n = next_piece(block + at, size - at, at_end);
      if (!n) break;
      const char after = block[at + n];
      block[at + n] = '\0';
      parse_map_line(pass, block + at, ++line_no);
      block[at + n] = after;
      at += n;
    }
    kept = size - at;
    std::memmove(block, block + at, kept);
  }
  return true;
}

}  // namespace

std::uint64_t line_end_bits(const char* text) {
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  std::uint64_t bits = 0;
  for (unsigned at = 0; at < kLineEndGroup; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    bits |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)))) << at;
  }
  return bits;
#else
  std::uint64_t bits = 0;
  for (unsigned at = 0; at < kLineEndGroup; ++at)
    if (text[at] == '\n') bits |= std::uint64_t(1) << at;
  return bits;
#endif
}

char* read_whole_file(std::FILE* f, std::size_t* size) {
  // Sized by the file when it says its size, so that one read takes it all.
  std::uint64_t file_size = 0;
  std::size_t cap = 65536, used = 0;
  if (regular_file_size(f, &file_size) && file_size < (1ull << 30)) {
    cap = static_cast<std::size_t>(file_size) + 2;
  }
  auto* data = static_cast<char*>(std::malloc(cap));
  if (!data) map_memory_exhausted();
  for (;;) {
    used += std::fread(data + used, 1, cap - 1 - used, f);  // one byte of room stays
    if (used < cap - 1) break;
    cap *= 2;
    auto* bigger = static_cast<char*>(std::realloc(data, cap));
    if (!bigger) map_memory_exhausted();
    data = bigger;
  }
  if (std::ferror(f)) {
    std::free(data);
    return nullptr;
  }
  *size = used;
  return data;
}

namespace {

// A map whose file was checked at start-up is stored when first consulted, from the file read
// again: the replacement map, the largest of them, is needed only for characters the target
// charset lacks, and holding its text until then cost 22 pages at every start. The file is not
// kept open in between, where an input's reader may count on the descriptors it opens. Only a
// regular file is read again (without waiting for a writer, should a pipe have taken its
// place); one that cannot be leaves the map empty.
void load_pending(const SubstMap* consulted) {
  auto* map = const_cast<SubstMap*>(consulted);  // the maps are never const objects
  char* path = map->pending_path;
  map->pending_path = nullptr;
  bool refused = false;
  std::FILE* f = open_data_file(path, UINT64_MAX, &refused);
  std::free(path);
  if (!f) return;
  std::setvbuf(f, nullptr, _IONBF, 0);
  parse_map_file({map, nullptr, ctx().longest_sequence}, f);
  std::fclose(f);
}

}  // namespace

void load_substmap_lines(SubstMap* map, std::FILE* f, const char* path) {
  parse_map_file({map, path, kSequenceLimit}, f);
}

SubstMap* read_substmap(char* file_name) {
  auto* map = static_cast<SubstMap*>(std::calloc(1, sizeof(SubstMap)));
  char* path = nullptr;
  bool refused = false;
  std::FILE* f = open_along_path(file_name, add_exe_path(ctx().map_path), &path, kMaxMapFile, &refused);
  if (!path) {
    std::free(map);
    return nullptr;
  }
  if (!map) map_memory_exhausted();
  if (!f) {
    // A device, a FIFO or a huge file is no map: the caller reports it as one it cannot read.
    if (!refused) report_errno("dorvex");
    std::free(path);
    std::free(map);
    return nullptr;
  }
  // Read in large reads straight into the parser's block: no stdio buffer in between.
  std::setvbuf(f, nullptr, _IONBF, 0);
  // A regular file larger than the parser's block is checked now, so that faulty lines are
  // reported and the margin check knows the longest text at start-up, and read again when first
  // consulted. A smaller one (the special characters, needed by every conversion) is stored at
  // once, as is anything else (a pipe), which cannot be read twice.
  std::uint64_t file_size = 0;
  if (regular_file_size(f, &file_size) && file_size >= kMapBlock - 1) {
    if (parse_map_file({nullptr, path, kSequenceLimit}, f)) {
      map->pending_path = path;
      path = nullptr;
    }
  } else {
    parse_map_file({map, path, kSequenceLimit}, f);
  }
  std::fclose(f);
  std::free(path);
  return map;
}

void free_substmap(SubstMap* map) {
  if (!map) return;
  for (char** row : map->rows) {
    if (!row) continue;
    for (int i = 0; i < kRowSize; ++i)
      if (!in_chunks(map, row[i])) std::free(row[i]);
    std::free(row);
  }
  for (auto* c = static_cast<TextChunk*>(map->text_chunks); c;) {
    TextChunk* next = c->next;
    std::free(c);
    c = next;
  }
  std::free(map->pending_path);
  std::free(map);
}

const char* map_subst(const SubstMap* map, int u) {
  if (!map || static_cast<unsigned>(u) > 0xFFFF) return nullptr;
  if (map->pending_path) load_pending(map);
  char* const* row = map->rows[static_cast<unsigned>(u) >> 8];
  return row ? row[u & 0xFF] : nullptr;
}

const char* map_insert(SubstMap* map, int u, const char* text) {
  if (!map || static_cast<unsigned>(u) > 0xFFFF) return nullptr;
  if (map->pending_path) load_pending(map);
  char*& slot = row_for(map, u)[u & 0xFF];
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (!copy) map_memory_exhausted();
  std::memcpy(copy, text, size);
  if (!in_chunks(map, slot)) std::free(slot);  // nothing else holds an entry while a map is built
  slot = copy;
  return copy;
}

void load_substmap_now(SubstMap* map) {
  if (map && map->pending_path) load_pending(map);
}

int isstop(int c, int closing) { return closing == '\n' ? is_white(c) : c == closing; }

}  // namespace dorvex
