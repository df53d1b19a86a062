// Arbitrary bytes as a plain text file copied with -u: byte-order marks, the UTF-8 prefix decoded
// across the end of the detection prefix, UTF-8 and UTF-16 decoding to the end of the input.
#include <cstdint>
#include <cstdio>

#include "context.h"
#include "fuzz_common.h"
#include "plaintext.h"
#include "reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_common::setup_readers();
  dorvex::set_std_func();
  dorvex::ctx().get_unicode_char = dorvex::get_word8_char;
  const std::size_t prefix_len = size < 8 ? size : 8;
  std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data + prefix_len), size - prefix_len, "rb");
  if (!f) return 0;
  dorvex::copy_out(f, data, prefix_len);
  std::fclose(f);
  return 0;
}
