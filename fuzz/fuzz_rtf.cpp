// Arbitrary bytes straight into the RTF reader, with code pages loading the real charset tables.
// Every input starts from the same state: latin-1 source table, UTF-8 output, empty maps, no
// wrapping, no table left over from the previous input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "context.h"
#include "charsets.h"
#include "fileutil.h"
#include "rtfread.h"
#include "substmap.h"
#include "writer.h"

namespace {

// A stream that cannot be repositioned, like a pipe.
struct PipeCookie {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
};

ssize_t pipe_read(void* cookie, char* buf, std::size_t n) {
  auto* p = static_cast<PipeCookie*>(cookie);
  std::size_t left = p->size - p->pos;
  if (n > left) n = left;
  std::memcpy(buf, p->data + p->pos, n);
  p->pos += n;
  return static_cast<ssize_t>(n);
}

std::FILE* open_pipe(PipeCookie& cookie) {
  cookie_io_functions_t io = {pipe_read, nullptr, nullptr, nullptr};
  return fopencookie(&cookie, "rb", io);
}

dorvex::CharsetTable latin1_table() {
  auto* t = static_cast<std::uint16_t*>(std::malloc(256 * sizeof(std::uint16_t)));
  if (!t) std::abort();
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i);
  return t;
}

bool fuzz_setup() {
  dorvex::ctx().out_file = std::fopen("/dev/null", "w");
  if (!dorvex::ctx().out_file) std::abort();
  dorvex::ctx().charset_path = DORVEX_CHARSETS_DIR;
  dorvex::ctx().input_buffer = nullptr;
  dorvex::ctx().source_charset = latin1_table();
  dorvex::ctx().target_charset = nullptr;
  auto* none = static_cast<dorvex::SubstMap*>(std::calloc(1, sizeof(dorvex::SubstMap)));
  dorvex::ctx().spec_chars = none;
  dorvex::ctx().replacements = none;
  return true;
}

void fuzz_reset() {
  dorvex::release_rtf_charsets();
  dorvex::ctx().forced_charset = 0;
  dorvex::ctx().unknown_as_hex = 0;
  dorvex::ctx().wrap_margin = 0;
  dorvex::reset_writer();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_setup();
  fuzz_reset();
  // Inputs with an odd first byte come through a pipe and hand their first bytes back; a last
  // byte of 0x80 or more reads them as -s does, code pages and fonts ignored.
  const bool as_pipe = size >= 4 && (data[0] & 1);
  dorvex::ctx().forced_charset = size > 0 && (data[size - 1] & 0x80) ? 1 : 0;
  PipeCookie cookie = {data, size, 0};
  std::FILE* f = as_pipe ? open_pipe(cookie) : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (!f) return 0;
  int status = 0;
  try {
    if (as_pipe) {
      unsigned char prefix[4];
      std::size_t got = std::fread(prefix, 1, sizeof prefix, f);
      status = dorvex::parse_rtf(f, prefix, got);
    } else {
      status = dorvex::parse_rtf(f, nullptr, 0);
    }
  } catch (const dorvex::ProgramEnd&) {
  }
  std::fclose(f);
  if (status != 0 && status != 1) std::abort();
  return 0;
}
