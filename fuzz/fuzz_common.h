// Start-up shared by the fuzz targets that run readers: the program's data files (or a Latin-1
// table and empty maps when they cannot be loaded), output to /dev/null.
#ifndef DORVEX_FUZZ_COMMON_H
#define DORVEX_FUZZ_COMMON_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "analyze.h"
#include "charsets.h"
#include "reader.h"
#include "fileutil.h"
#include "substmap.h"
#include "writer.h"

namespace fuzz_common {

inline dorvex::CharsetTable latin1_table() {
  auto* t = static_cast<std::uint16_t*>(std::malloc(256 * sizeof(std::uint16_t)));
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i);
  return t;
}

// cp1252 in, cp866 out through the ascii maps: every step of the conversion is exercised.
inline bool setup_readers() {
  dorvex::out_file = std::fopen("/dev/null", "w");
  dorvex::charset_path = DORVEX_CHARSETS_DIR;
  dorvex::map_path = DORVEX_CHARSETS_DIR;
  dorvex::source_charset = dorvex::read_charset("cp1252");
  if (!dorvex::source_charset) dorvex::source_charset = latin1_table();
  dorvex::spec_chars = dorvex::read_substmap(dorvex::stradd("ascii", ".spc"));
  dorvex::replacements = dorvex::read_substmap(dorvex::stradd("ascii", ".rpl"));
  static dorvex::SubstMap none{};
  if (!dorvex::spec_chars) dorvex::spec_chars = &none;
  if (!dorvex::replacements) dorvex::replacements = &none;
  if (dorvex::CharsetTable target = dorvex::read_charset("cp866")) {
    dorvex::target_charset = dorvex::make_reverse_map(target);
    std::free(target);
  }
  return true;
}

// The decoders an input may be read with, picked by a byte of the fuzz input.
inline dorvex::Decoder pick_decoder(std::uint8_t choice) {
  static const dorvex::Decoder decoders[] = {nullptr, dorvex::get_word8_char, dorvex::get_8bit_char,
                                             dorvex::get_utf8, dorvex::get_utf16lsb,
                                             dorvex::get_utf16msb};
  return decoders[choice % 6];
}

// Wrapping off, or a margin from 7 to 105.
inline int pick_margin(std::uint8_t choice) { return (choice & 1) ? 0 : 7 * ((choice >> 1) % 16) + 7; }

// Runs the bytes through format detection as the driver would; a fatal end counts as status 1,
// and any status but 0, 1 and 69 is a failure.
inline void analyze_checked(std::uint8_t* data, std::size_t size) {
  std::FILE* f = fmemopen(data, size, "rb");
  if (!f) return;
  int status = 0;
  try {
    status = dorvex::analyze_format(f);
  } catch (const dorvex::ProgramEnd& end) {
    status = end.status;
  }
  std::fclose(f);
  if (status != 0 && status != 1 && status != 69) std::abort();
}

}  // namespace fuzz_common

#endif  // DORVEX_FUZZ_COMMON_H
