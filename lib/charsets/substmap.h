// Substitution maps: Unicode value -> replacement text, read from a format's .spc and .rpl files.
#ifndef DORVEX_SUBSTMAP_H
#define DORVEX_SUBSTMAP_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace dorvex {

// Rows by high byte, made on demand; an entry is the map's own zero-terminated copy, or null.
// All zero is an empty map. A map from read_substmap keeps the path of its file until first
// consulted (map_subst, map_insert), which reads the file again into the rows.
struct SubstMap {
  char** rows[256];
  void* text_chunks = nullptr;  // the entries' storage for maps read from files
  char* pending_path = nullptr;
};

// The format's maps (spec_chars: .spc, replacements: .rpl) and longest_sequence, the length of
// the longest text convert_char may return (6, the hex form, raised by read_substmap), are
// settings of the extraction (context.h).

// Reads a map file found along map_path and checks its lines at once ("Error parsing"
// messages, longest_sequence); the entries are stored when the map is first consulted, from
// the file read again (a file that is not a regular one is stored at once). Takes
// ownership of file_name (malloc'd). Null when the file is not found (no message) or cannot be
// opened ("dorvex: ..." via perror).
SubstMap* read_substmap(char* file_name);

// Parses the lines of an open map file into map; path names the file in "Error parsing"
// messages. The caller closes f.
void load_substmap_lines(SubstMap* map, std::FILE* f, const char* path);

// Releases a map with its rows and texts (null is fine). The program keeps its maps for the
// whole run; tests and fuzz targets release theirs.
void free_substmap(SubstMap* map);

// Stores the entries of a map that waits to be read again, so that it is never written while
// it is consulted: maps shared between threads are loaded so before the first extraction.
void load_substmap_now(SubstMap* map);

// The text for u, or null.
const char* map_subst(const SubstMap* map, int u);

// Stores a copy of text under u, replacing an earlier entry; returns the copy.
// "Insufficient memory" and exit 1 when memory runs out.
const char* map_insert(SubstMap* map, int u, const char* text);

// The rest of an open file in one allocation of *size bytes and one more (std::free it); null
// when a read fails. "Insufficient memory" and exit 1 when memory runs out.
char* read_whole_file(std::FILE* f, std::size_t* size);

// The map check finds line ends a group of this many bytes at a time.
constexpr std::size_t kLineEndGroup = 64;

// Bit i set when text[i] is '\n', for the kLineEndGroup bytes at text: the map check's line ends,
// 16 bytes at a time where the processor allows.
std::uint64_t line_end_bits(const char* text);

// Nonzero when c ends a sequence whose closing character is closing ('\n': any white space).
int isstop(int c, int closing);

}  // namespace dorvex

#endif  // DORVEX_SUBSTMAP_H
