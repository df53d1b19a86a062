// Feeds each input to the three start-up loaders in turn: as a charset file, as a substitution
// map and as a configuration file. The loaders read only named files, so the input is written
// to one temporary file made at setup, whose directory becomes charset_path and map_path.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "context.h"
#include "charsets.h"
#include "confutil.h"
#include "fileutil.h"
#include "fuzz_common.h"
#include "substmap.h"
#include "writer.h"

namespace {

constexpr const char* kDir = "/tmp";
constexpr const char* kSuffix = ".txt";

std::string input_path;  // /tmp/dorvex-fuzz-maps-XXXXXX.txt
std::string base_name;   // the charset name: the file name without ".txt"

void remove_input_file() { std::remove(input_path.c_str()); }

bool fuzz_setup() {
  fuzz_common::quiet_stderr();  // a bad file gets a message per line
  dorvex::ctx().out_file = std::fopen("/dev/null", "w");
  dorvex::ctx().input_buffer = nullptr;  // the sanitizers must see every read of the input
  std::string tmpl = std::string(kDir) + "/dorvex-fuzz-maps-XXXXXX" + kSuffix;
  int fd = mkstemps(tmpl.data(), static_cast<int>(std::strlen(kSuffix)));
  if (fd < 0) {
    std::perror("mkstemps");
    std::abort();
  }
  close(fd);
  input_path = tmpl;
  base_name = input_path.substr(std::strlen(kDir) + 1,
                                input_path.size() - std::strlen(kDir) - 1 - std::strlen(kSuffix));
  std::atexit(remove_input_file);
  return true;
}

bool write_input(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(input_path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// No text convert_char can return may be longer than longest_sequence: the writer's line buffer
// is sized by it.
void check_map(dorvex::SubstMap* map) {
  dorvex::map_subst(map, 0);  // a map read from a file is stored when first consulted
  for (int high = 0; high < 256; ++high) {
    if (!map->rows[high]) continue;
    for (int low = 0; low < 256; ++low) {
      const char* s = dorvex::map_subst(map, high << 8 | low);
      if (s && std::strlen(s) > static_cast<std::size_t>(dorvex::ctx().longest_sequence)) std::abort();
    }
  }
}

void load_as_charset() {
  dorvex::CharsetTable table = dorvex::read_charset(base_name.c_str());
  if (!table) return;
  for (int b = 0; b < 256; ++b)
    if (table[b] > 0xFEFE && table[b] != 0xFFFE) std::abort();  // the accepted value range
  dorvex::ReverseMap* map = dorvex::make_reverse_map(table);
  // Every byte's value leads back to that byte or to a higher one with the same value.
  for (int b = 0; b < 256; ++b) {
    int back = dorvex::from_unicode(map, table[b]);
    if (back < b || table[back] != table[b]) std::abort();
  }
  dorvex::free_reverse_map(map);
  std::free(table);
}

void load_as_map() {
  dorvex::ctx().longest_sequence = 6;
  dorvex::SubstMap* map = dorvex::read_substmap(dorvex::stradd(base_name.c_str(), kSuffix));
  if (!map) return;
  check_map(map);
  dorvex::free_substmap(map);
}

// A setting the configuration file replaced holds a new copy: release it, put the old one back.
void restore(const char*& setting, const char* saved) {
  if (setting != saved) std::free(const_cast<char*>(setting));
  setting = saved;
}

void load_as_config() {
  const char* source = dorvex::ctx().source_csname;
  const char* dest = dorvex::ctx().dest_csname;
  const char* format = dorvex::ctx().format_name;
  const char* cpath = dorvex::ctx().charset_path;
  const char* mpath = dorvex::ctx().map_path;
  char bad = dorvex::ctx().bad_char[0];
  try {
    dorvex::read_config_file(input_path.c_str());
  } catch (const dorvex::ProgramEnd& end) {
    if (end.status != 1) std::abort();
  }
  restore(dorvex::ctx().source_csname, source);
  restore(dorvex::ctx().dest_csname, dest);
  restore(dorvex::ctx().format_name, format);
  restore(dorvex::ctx().charset_path, cpath);
  restore(dorvex::ctx().map_path, mpath);
  dorvex::ctx().bad_char[0] = bad;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_setup();
  if (!write_input(data, size)) return 0;
  dorvex::ctx().input_buffer = nullptr;
  dorvex::ctx().charset_path = kDir;
  dorvex::ctx().map_path = kDir;
  try {
    load_as_charset();
    load_as_map();
  } catch (const dorvex::ProgramEnd&) {
    std::abort();  // these loaders end the program only when memory runs out
  }
  load_as_config();
  return 0;
}
