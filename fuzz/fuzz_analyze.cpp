// Any input through format detection, as the driver hands a file over: every reader is reachable
// (Write, RTF, plain-header Word, OLE2, plain and Unicode text). The first byte picks the options
// a run might have (raw mode, decoder, wrapping), so option-dependent paths are fuzzed too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "analyze.h"
#include "charsets.h"
#include "fileutil.h"
#include "reader.h"
#include "rtfread.h"
#include "substmap.h"
#include "writer.h"

namespace {

dorvex::CharsetTable latin1_table() {
  auto* t = static_cast<std::uint16_t*>(std::malloc(256 * sizeof(std::uint16_t)));
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i);
  return t;
}

bool fuzz_setup() {
  dorvex::out_file = std::fopen("/dev/null", "w");
  dorvex::charset_path = DORVEX_CHARSETS_DIR;
  dorvex::map_path = DORVEX_CHARSETS_DIR;
  dorvex::source_charset = dorvex::read_charset("cp1252");
  if (!dorvex::source_charset) dorvex::source_charset = latin1_table();
  dorvex::spec_chars = dorvex::read_substmap(dorvex::stradd("ascii", ".spc"));
  dorvex::replacements = dorvex::read_substmap(dorvex::stradd("ascii", ".rpl"));
  auto* none = static_cast<dorvex::SubstMap*>(std::calloc(1, sizeof(dorvex::SubstMap)));
  if (!dorvex::spec_chars) dorvex::spec_chars = none;
  if (!dorvex::replacements) dorvex::replacements = none;
  if (dorvex::CharsetTable target = dorvex::read_charset("cp866")) {
    dorvex::target_charset = dorvex::make_reverse_map(target);
    std::free(target);
  }
  return true;
}

void fuzz_reset(std::uint8_t options) {
  static const dorvex::Decoder decoders[] = {nullptr, dorvex::get_word8_char,
                                             dorvex::get_8bit_char, dorvex::get_utf8};
  dorvex::set_std_func();
  dorvex::reset_writer();
  dorvex::get_unicode_char = decoders[options & 3];
  dorvex::signature_check = (options & 4) ? 0 : 1;
  dorvex::wrap_margin = (options & 8) ? 0 : static_cast<int>(options >> 4) * 7;
  dorvex::forced_charset = 1;  // code pages in documents would load tables per input
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_setup();
  if (size == 0) return 0;
  fuzz_reset(data[0]);
  std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb");
  if (!f) return 0;
  int status = 0;
  try {
    status = dorvex::analyze_format(f);
  } catch (const dorvex::ProgramEnd& end) {
    status = end.status;
  }
  std::fclose(f);
  if (status != 0 && status != 1 && status != 69) std::abort();
  return 0;
}
