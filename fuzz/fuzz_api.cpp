// Any input through the public interface, from memory, as a library user hands a document over:
// format detection and every reader, with the options a byte of the input picks (bits 0-1 the
// decoder: auto, -u, -8; bit 2 raw mode; bit 3 -v; bits 4-5 the margin; bit 6 a character
// limit; bit 7 the target: utf-8 or cp866). Extractors for the options are made once. Each
// result must be a known status with its text terminated and its messages whole.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dorvex.h"

namespace {

constexpr int kExtractors = 256;

dorvex_extractor* make_extractor(unsigned choice) {
  dorvex_options* o = dorvex_options_new();
  if (!o) std::abort();
  const char* unicode[] = {"auto", "yes", "no", "auto"};
  const char* margin[] = {"0", "72", "7", "400"};
  bool ok = dorvex_options_set(o, "charset_path", DORVEX_CHARSETS_DIR) == DORVEX_OK &&
            dorvex_options_set(o, "map_path", DORVEX_CHARSETS_DIR) == DORVEX_OK &&
            dorvex_options_set(o, "unicode", unicode[choice & 3]) == DORVEX_OK &&
            dorvex_options_set(o, "raw", (choice & 4) ? "yes" : "no") == DORVEX_OK &&
            dorvex_options_set(o, "verbose", (choice & 8) ? "yes" : "no") == DORVEX_OK &&
            dorvex_options_set(o, "wrap_margin", margin[(choice >> 4) & 3]) == DORVEX_OK &&
            dorvex_options_set(o, "max_chars", (choice & 64) ? "100" : "0") == DORVEX_OK &&
            dorvex_options_set(o, "target_charset", (choice & 128) ? "cp866" : "utf-8") ==
                DORVEX_OK;
  if (!ok) std::abort();
  dorvex_extractor* x = dorvex_extractor_new(o);
  dorvex_options_free(o);
  if (!x || dorvex_extractor_code(x) != DORVEX_OK) std::abort();
  return x;
}

dorvex_extractor* extractor_for(unsigned choice) {
  static dorvex_extractor* made[kExtractors] = {};
  if (!made[choice]) made[choice] = make_extractor(choice);
  return made[choice];
}

void check(const dorvex_result* r) {
  if (!r) std::abort();
  if (r->status != 0 && r->status != 1 && r->status != 69) std::abort();
  if (r->error < DORVEX_ERROR_NONE || r->error > DORVEX_ERROR_LIMIT) std::abort();
  if ((r->status == 0) != (r->error == DORVEX_ERROR_NONE)) std::abort();
  if (r->text[r->text_size] != '\0' || !r->format) std::abort();
  for (std::size_t i = 0; i < r->message_count; ++i) {
    if (std::strchr(r->messages[i], '\n')) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  dorvex_result* r = dorvex_extract_memory(extractor_for(data[0]), data + 1, size - 1, "fuzz");
  check(r);
  dorvex_result_free(r);
  return 0;
}
