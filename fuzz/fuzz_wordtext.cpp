// Arbitrary bytes as a raw Word text stream, with each decoder and a text length taken from the
// input: control codes, cell and field marks, 8/16-bit block detection, the paragraph limit.
#include <cstdint>
#include <cstdio>

#include "context.h"
#include "fuzz_common.h"
#include "reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_common::setup_readers();
  if (size < 3) return 0;
  dorvex::set_std_func();
  dorvex::reset_writer();
  dorvex::ctx().get_unicode_char = fuzz_common::pick_decoder(data[0]);
  if (!dorvex::ctx().get_unicode_char) dorvex::ctx().get_unicode_char = dorvex::get_word8_char;
  dorvex::ctx().wrap_margin = fuzz_common::pick_margin(data[1]);
  // Half the inputs read to the end, the others stop after a length from 0 to 254.
  const std::int32_t end = (data[2] & 1) ? dorvex::kNoEnd : data[2];
  std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data + 3), size - 3, "rb");
  if (!f) return 0;
  dorvex::process_file(f, end);
  dorvex::flush_line();
  std::fclose(f);
  return 0;
}
