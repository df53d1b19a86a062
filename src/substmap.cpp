#include "substmap.h"

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

// Parses one line (or piece of a line) and stores its entry; reports a faulty line.
void parse_map_line(SubstMap* map, const char* line, const char* path, int line_no) {
  const char* p = skip_white(line);
  if (*p == '\0' || *p == '#') return;
  char* end;
  long code = std::strtol(p, &end, 16);
  if (end == p || !is_white(*end) || code < 0 || code > kMaxCode) {
    std::fprintf(stderr, "Error parsing %s(%d)\n", path, line_no);
    return;
  }
  p = skip_white(end);
  int closing = closing_for(*p);
  if (closing != '\n') ++p;  // the opening quote or bracket is not part of the text
  const char* stop = find_stop(p, closing);
  if (*stop == '\0') {
    std::fprintf(stderr, "Error parsing %s(%d): unterminated sequence\n", path, line_no);
    return;
  }
  char text[kSequenceLimit + 1];
  int len = translate(p, stop, text);
  if (len > longest_sequence) longest_sequence = len;
  map_insert(map, static_cast<int>(code), text);
}

}  // namespace

void load_substmap_lines(SubstMap* map, std::FILE* f, const char* path) {
  char line[kLineLimit];
  int line_no = 0;
  while (std::fgets(line, sizeof line, f)) parse_map_line(map, line, path, ++line_no);
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
  if (input_buffer) std::setvbuf(f, input_buffer, _IOFBF, kIoBufferSize);
  load_substmap_lines(map, f, path);
  std::fclose(f);
  std::free(path);
  return map;
}

void free_substmap(SubstMap* map) {
  if (!map) return;
  for (char** row : map->rows) {
    if (!row) continue;
    for (int i = 0; i < kRowSize; ++i) std::free(row[i]);
    std::free(row);
  }
  std::free(map);
}

const char* map_subst(const SubstMap* map, int u) {
  if (!map || static_cast<unsigned>(u) > 0xFFFF) return nullptr;
  char* const* row = map->rows[static_cast<unsigned>(u) >> 8];
  return row ? row[u & 0xFF] : nullptr;
}

const char* map_insert(SubstMap* map, int u, const char* text) {
  if (!map || static_cast<unsigned>(u) > 0xFFFF) return nullptr;
  char**& row = map->rows[static_cast<unsigned>(u) >> 8];
  if (!row) {
    row = static_cast<char**>(std::calloc(kRowSize, sizeof(char*)));
    if (!row) map_memory_exhausted();
  }
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (!copy) map_memory_exhausted();
  std::memcpy(copy, text, size);
  std::free(row[u & 0xFF]);  // nothing else holds an entry while a map is being built
  row[u & 0xFF] = copy;
  return copy;
}

int isstop(int c, int closing) { return closing == '\n' ? is_white(c) : c == closing; }

}  // namespace dorvex
