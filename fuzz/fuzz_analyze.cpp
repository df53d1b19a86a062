// Any input through format detection, as the driver hands a file over: every reader is reachable
// (Write, RTF, plain-header Word, OLE2, plain and Unicode text). The first byte picks what a run's
// options might be (raw mode, decoder, wrapping), so option-dependent paths are fuzzed too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "analyze.h"
#include "fuzz_common.h"
#include "reader.h"
#include "rtfread.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_common::setup_readers();
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  dorvex::set_std_func();
  dorvex::reset_writer();
  dorvex::get_unicode_char = fuzz_common::pick_decoder(options & 3);
  dorvex::signature_check = (options & 4) ? 0 : 1;
  dorvex::wrap_margin = fuzz_common::pick_margin(options >> 3);
  dorvex::forced_charset = 1;  // code pages named by documents would load a table per input
  fuzz_common::analyze_checked(const_cast<std::uint8_t*>(data + 1), size - 1);
  return 0;
}
