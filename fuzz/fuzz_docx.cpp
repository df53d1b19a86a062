// The Office Open XML text reader on one XML part: any bytes as WordprocessingML (a document
// part, Word 2003 XML or Word's flat package), through the stories into the Word reader's
// paragraphs. The first byte picks the run's options: bit 0 -v, bits 1-4 the wrap margin.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "context.h"
#include "analyze.h"
#include "docx.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_common::setup_readers();
  if (size == 0) return 0;
  dorvex::set_std_func();
  dorvex::reset_writer();
  dorvex::ctx().verbose = data[0] & 1;
  dorvex::ctx().wrap_margin = fuzz_common::pick_margin(std::uint8_t(data[0] >> 1));
  std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb");
  if (!f) return 0;
  const int status = dorvex::read_word_xml(f, nullptr, 0, "fuzz");
  dorvex::flush_line();
  dorvex::ctx().verbose = 0;
  std::fclose(f);
  if (status != 0 && status != 1) std::abort();
  return 0;
}
