// One document through format detection and its reader, as the program and the library both
// run it: the text and messages go to the current extraction's sinks, and a reading that cannot
// go on ends the document, never the process.
#ifndef DORVEX_EXTRACT_H
#define DORVEX_EXTRACT_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "context.h"

struct dorvex_extractor;

namespace dorvex {

// An extractor of the C interface for settings already made (the program's): the tables are
// loaded anew, to be shared between threads. Null only when memory runs out.
dorvex_extractor* extractor_from_settings(const RunSettings& settings);

// Reads the document on f (positioned at its start; name is its name in messages) and returns
// its status: 0, 1 or 69. A directory, or a read that fails, is a read error ("NAME: reason").
// Hooks are in standard mode on entry and on return; the writer holds no line on return.
int extract_file(std::FILE* f, const char* name);

// "dorvex: NAME: reason", for an input that cannot be opened or read.
void report_input_failure(const char* name, int error);

// Opens data for reading in place; null when it cannot be (errno says why).
std::FILE* open_memory(const void* data, std::size_t size);

// A sink that appends text to a std::string (its opaque).
bool append_to_string(void* opaque, const char* bytes, std::size_t n);

// Messages as lines: complete lines without their line end, and a last part without one.
struct MessageLines {
  std::vector<std::string> lines;
  std::string partial;
  void add(const char* text, std::size_t n);
  void finish();  // the partial line, if any, becomes a line
};
void append_message(void* opaque, const char* text, std::size_t n);  // opaque: MessageLines

}  // namespace dorvex

namespace dorvex {

// What load_tables found wrong (the C interface's codes).
enum class LoadResult { ok = 0, bad_charset = 2, cannot_load = 3 };

// Resolves the charset names of the current extraction's settings and loads its tables and
// maps, with the program's messages. share: the maps will be read by many threads, so none may
// wait to be read on first use.
LoadResult load_tables(bool share);

// Releases what load_tables loaded into settings.
void free_tables(RunSettings& settings);

}  // namespace dorvex

#endif  // DORVEX_EXTRACT_H
