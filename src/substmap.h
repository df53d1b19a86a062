// Substitution maps: Unicode value -> replacement text, read from a format's .spc and .rpl files.
#ifndef DORVEX_SUBSTMAP_H
#define DORVEX_SUBSTMAP_H

#include <cstdio>

namespace dorvex {

// Rows by high byte, made on demand; an entry is the map's own zero-terminated copy, or null.
struct SubstMap {
  char** rows[256];
};

extern SubstMap* spec_chars;    // the format's special-character map (.spc)
extern SubstMap* replacements;  // the format's replacement map (.rpl)

// Length of the longest text convert_char may return: 6 (the hex form), raised by read_substmap.
extern int longest_sequence;

// Reads a map file found along map_path. Takes ownership of file_name (malloc'd). Null when
// the file is not found (no message) or cannot be opened ("dorvex: ..." via perror).
SubstMap* read_substmap(char* file_name);

// Parses the lines of an open map file into map; path names the file in "Error parsing"
// messages. The caller closes f.
void load_substmap_lines(SubstMap* map, std::FILE* f, const char* path);

// Releases a map with its rows and texts (null is fine). The program keeps its maps for the
// whole run; tests and fuzz targets release theirs.
void free_substmap(SubstMap* map);

// The text for u, or null.
const char* map_subst(const SubstMap* map, int u);

// Stores a copy of text under u, replacing an earlier entry; returns the copy.
// "Insufficient memory" and exit 1 when memory runs out.
const char* map_insert(SubstMap* map, int u, const char* text);

// Nonzero when c ends a sequence whose closing character is closing ('\n': any white space).
int isstop(int c, int closing);

}  // namespace dorvex

#endif  // DORVEX_SUBSTMAP_H
