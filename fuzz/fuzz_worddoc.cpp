// Arbitrary bytes as the two streams of a Word document in a compound file: the file
// information block, the text and the piece table's stream are all hostile. Byte 0 picks the
// options: bit 0 names the table stream "1Table" (else "0Table"), bit 1 makes that entry a
// storage, bits 2-4 the decoder of a run's options, bit 5 -s. Bytes 1-4 give the length of the
// WordDocument stream (little-endian, cut to what there is); the rest is the table stream.
#include <cstdint>
#include <cstdio>
#include <string>

#include "context.h"
#include "../tests/support/cfb.h"
#include "fuzz_common.h"
#include "numutils.h"
#include "rtfread.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_common::setup_readers();
  if (size < 5) return 0;
  const std::uint8_t options = data[0];
  const std::size_t rest = size - 5;
  const std::size_t doc_len = std::min<std::size_t>(dorvex::getulong(data, 1), rest);
  const char* bytes = reinterpret_cast<const char*>(data + 5);
  cfb::Entry doc, table;
  doc.name = "WordDocument";
  doc.data.assign(bytes, doc_len);
  table.name = (options & 1) ? "1Table" : "0Table";
  table.data.assign(bytes + doc_len, rest - doc_len);
  if (options & 2) table.type = 1;
  std::string file = cfb::build({doc, table});

  dorvex::set_std_func();
  dorvex::reset_writer();
  dorvex::ctx().signature_check = 1;
  dorvex::ctx().get_unicode_char = fuzz_common::pick_decoder((options >> 2) & 7);
  dorvex::ctx().forced_charset = (options & 0x20) ? 1 : 0;
  dorvex::ctx().wrap_margin = fuzz_common::pick_margin(options >> 6);
  fuzz_common::analyze_checked(reinterpret_cast<std::uint8_t*>(file.data()), file.size());
  return 0;
}
