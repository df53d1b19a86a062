#include "substmap.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fileutil.h"

namespace dorvex {

SubstMap* spec_chars = nullptr;
SubstMap* replacements = nullptr;
int longest_sequence = 6;

namespace {

constexpr int kRowSize = 256;
// One fgets piece: 1023 bytes and the terminating zero; longer lines come in pieces.
constexpr int kLineLimit = 1024;
// A replacement keeps at most this many bytes, so a map line cannot outgrow the writer's
// 512-byte line buffer by more than the margin check allows for.
constexpr int kSequenceLimit = 256;
constexpr long kMaxCode = 0xFFFD;

[[noreturn]] void map_memory_exhausted() {
  std::fputs("Insufficient memory\n", stderr);
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

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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
  while (*p) {
    if (*p == '\\') {
      if (!*++p) break;
      ++p;
      continue;
    }
    if (isstop(*p, closing)) break;
    ++p;
  }
  return p;
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

// Parses one line (or piece of a line) and stores its entry in map; without a map it only
// checks the line and notes its length. path: reports a faulty line when not null.
void parse_map_line(SubstMap* map, const char* line, const char* path, int line_no) {
  const char* p = skip_white(line);
  if (*p == '\0' || *p == '#') return;
  const char* end;
  long code = parse_hex(p, &end);
  if (end == p || !is_white(*end) || code < 0 || code > kMaxCode) {
    if (path) std::fprintf(stderr, "Error parsing %s(%d)\n", path, line_no);
    return;
  }
  p = skip_white(end);
  int closing = closing_for(*p);
  if (closing != '\n') ++p;  // the opening quote or bracket is not part of the text
  const char* stop = find_stop(p, closing);
  if (*stop == '\0') {
    if (path) std::fprintf(stderr, "Error parsing %s(%d): unterminated sequence\n", path, line_no);
    return;
  }
  // Escapes only shorten a text: a check need not translate one that cannot be the longest.
  if (!map && stop - p <= longest_sequence) return;
  char text[kSequenceLimit + 1];
  int len = translate(p, stop, text);
  if (len > longest_sequence) longest_sequence = len;
  if (map) chunk_insert(map, static_cast<int>(code), text);
}

// The lines of a map file in memory (size bytes and one byte of room behind them), as fgets
// would deliver them: pieces of at most 1023 bytes, each ending at its line end, a zero byte
// ending the text a piece is parsed as. Each piece is parsed in place, ended by a zero for the
// time being.
void parse_map_text(SubstMap* map, char* text, std::size_t size, const char* path) {
  int line_no = 0;
  for (std::size_t at = 0; at < size;) {
    std::size_t n = std::min<std::size_t>(size - at, kLineLimit - 1);
    if (const void* nl = std::memchr(text + at, '\n', n)) {
      n = static_cast<std::size_t>(static_cast<const char*>(nl) - (text + at)) + 1;
    }
    const char after = text[at + n];
    text[at + n] = '\0';
    parse_map_line(map, text + at, path, ++line_no);
    text[at + n] = after;
    at += n;
  }
}

}  // namespace

char* read_whole_file(std::FILE* f, std::size_t* size) {
  // Sized by the file when it says its size, so that one read takes it all.
  struct stat st;
  std::size_t cap = 65536, used = 0;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      static_cast<unsigned long long>(st.st_size) < (1ull << 30)) {
    cap = static_cast<std::size_t>(st.st_size) + 2;
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

// A map whose file was checked at start-up is parsed when first consulted: the replacement
// map, the largest of them, is needed only for characters the target charset lacks.
void load_pending(const SubstMap* consulted) {
  auto* map = const_cast<SubstMap*>(consulted);  // the maps are never const objects
  char* text = map->pending_text;
  map->pending_text = nullptr;
  const int longest = longest_sequence;  // known since start-up
  parse_map_text(map, text, map->pending_size, nullptr);
  longest_sequence = longest;
  std::free(text);
}

}  // namespace

void load_substmap_lines(SubstMap* map, std::FILE* f, const char* path) {
  std::size_t size = 0;
  char* text = read_whole_file(f, &size);
  if (!text) return;
  parse_map_text(map, text, size, path);
  std::free(text);
}

SubstMap* read_substmap(char* file_name) {
  auto* map = static_cast<SubstMap*>(std::calloc(1, sizeof(SubstMap)));
  char* path = find_file(file_name, add_exe_path(map_path));
  if (!path) {
    std::free(map);
    return nullptr;
  }
  if (!map) map_memory_exhausted();
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::perror("dorvex");
    std::free(path);
    std::free(map);
    return nullptr;
  }
  // Read whole in large reads straight into one block: no stdio buffer in between.
  std::setvbuf(f, nullptr, _IONBF, 0);
  std::size_t size = 0;
  char* text = read_whole_file(f, &size);
  std::fclose(f);
  // Checked now, so that faulty lines are reported and the margin check knows the longest
  // text at start-up; stored when first consulted.
  if (text) parse_map_text(nullptr, text, size, path);
  map->pending_text = text;
  map->pending_size = size;
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
  std::free(map->pending_text);
  std::free(map);
}

const char* map_subst(const SubstMap* map, int u) {
  if (!map || static_cast<unsigned>(u) > 0xFFFF) return nullptr;
  if (map->pending_text) load_pending(map);
  char* const* row = map->rows[static_cast<unsigned>(u) >> 8];
  return row ? row[u & 0xFF] : nullptr;
}

const char* map_insert(SubstMap* map, int u, const char* text) {
  if (!map || static_cast<unsigned>(u) > 0xFFFF) return nullptr;
  if (map->pending_text) load_pending(map);
  char*& slot = row_for(map, u)[u & 0xFF];
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (!copy) map_memory_exhausted();
  std::memcpy(copy, text, size);
  if (!in_chunks(map, slot)) std::free(slot);  // nothing else holds an entry while a map is built
  slot = copy;
  return copy;
}

int isstop(int c, int closing) { return closing == '\n' ? is_white(c) : c == closing; }

}  // namespace dorvex
