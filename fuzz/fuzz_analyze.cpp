// Any input through format detection, as the driver hands a file over: every reader is reachable
// (Write, RTF, plain-header Word, OLE2, plain and Unicode text). The first byte picks what a run's
// options might be, so option-dependent paths are fuzzed too: bits 0-1 the decoder (-u, -8),
// bit 2 raw mode (-b), bit 3 a pipe for the input, bit 4 -v, bits 5-7 the wrap margin.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "context.h"
#include "analyze.h"
#include "fuzz_common.h"
#include "reader.h"
#include "rtfread.h"

namespace {

// No wrapping, the default, the narrowest, a few others, and the widest the maps allow.
int pick_margin(unsigned choice) {
  const int margins[] = {0, 72, 1, 7, 33, 105, 0, 511 - dorvex::ctx().longest_sequence};
  return margins[choice % 8];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_common::setup_readers();
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  dorvex::set_std_func();
  dorvex::reset_writer();
  dorvex::ctx().get_unicode_char = fuzz_common::pick_decoder(options & 3);
  dorvex::ctx().signature_check = (options & 4) ? 0 : 1;
  dorvex::ctx().wrap_margin = pick_margin(options >> 5);
  dorvex::ctx().forced_charset = 1;  // code pages named by documents would load a table per input
  fuzz_common::analyze_checked(const_cast<std::uint8_t*>(data + 1), size - 1,
                               fuzz_common::pick_options(std::uint8_t(options >> 3)));
  return 0;
}
