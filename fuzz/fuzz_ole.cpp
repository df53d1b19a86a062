// Arbitrary bytes as a compound file: the OLE road of format detection (every WordDocument
// stream through the Word header and text readers), then the reader's own interface driven
// directly: every entry opened, read in odd-sized pieces, sought and read again. Byte 8, the
// first of the class identifier the reader ignores, picks the run options: bit 0 a pipe for the
// input (the temporary copy), bit 1 -v.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "context.h"
#include "analyze.h"
#include "charsets.h"
#include "fileutil.h"
#include "fuzz_common.h"
#include "ole.h"
#include "reader.h"
#include "substmap.h"
#include "writer.h"

namespace {

constexpr std::uint8_t kOleSign[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

bool fuzz_setup() {
  fuzz_common::quiet_stderr();
  dorvex::ctx().out_file = std::fopen("/dev/null", "w");
  dorvex::ctx().charset_path = DORVEX_CHARSETS_DIR;
  dorvex::ctx().source_charset = dorvex::read_charset("cp1252");
  if (!dorvex::ctx().source_charset) dorvex::ctx().source_charset = fuzz_common::latin1_table();
  auto* none = static_cast<dorvex::SubstMap*>(std::calloc(1, sizeof(dorvex::SubstMap)));
  dorvex::ctx().spec_chars = none;
  dorvex::ctx().replacements = none;
  dorvex::ctx().target_charset = nullptr;  // UTF-8
  return true;
}

void fuzz_reset() {
  dorvex::set_std_func();
  dorvex::ctx().get_unicode_char = nullptr;
  dorvex::reset_writer();
}

// Reads the entry to its end in pieces of 1 to 600 bytes, checking the stream's own promises:
// no read returns more than asked or more than the stream holds, and the end, once reported,
// stays. Then a seek somewhere and reads from there and from the start.
void read_entry(dorvex::OleStream* s, std::uint8_t salt) {
  static std::uint8_t buf[600];
  const std::size_t piece = 1 + salt % sizeof buf;
  const std::uint64_t stated = s->size;
  std::uint64_t total = 0;
  while (!dorvex::ole_eof(s)) {
    std::size_t n = dorvex::ole_read(buf, 1, piece, s);
    if (n > piece) std::abort();
    total += n;
    if (n == 0) break;
  }
  if (total > stated || std::uint32_t(dorvex::ole_tell(s)) > s->size) std::abort();
  if (dorvex::ole_eof(s) && dorvex::ole_read(buf, 1, piece, s) != 0) std::abort();
  dorvex::ole_seek(s, std::int32_t(salt) * 37 - 100, salt % 4);
  if (std::uint32_t(dorvex::ole_tell(s)) > s->size) std::abort();
  dorvex::ole_read(buf, 1, sizeof buf, s);
  dorvex::ole_seek(s, 0, SEEK_SET);
  dorvex::ole_read(buf, 1, piece, s);
}

void drive_reader(std::uint8_t* data, std::size_t size, bool as_pipe) {
  fuzz_common::PipeBytes pipe;
  std::FILE* f = fuzz_common::open_input(data, size, as_pipe, &pipe);
  if (!f) return;
  // A pipe hands over what detection consumed as the prefix; a seekable input is read again.
  std::uint8_t prefix[8];
  std::size_t prefix_len = as_pipe ? std::fread(prefix, 1, sizeof prefix, f) : 0;
  std::FILE* c = dorvex::ole_init(f, prefix, prefix_len);
  if (c) {
    std::uint8_t salt = size > 9 ? data[9] : 0;
    while (dorvex::OleStream* e = dorvex::ole_readdir(c)) {
      if (dorvex::ole_open(e) == 0) read_entry(e, salt++);
      dorvex::ole_close(e);
    }
    dorvex::ole_finish();
    if (c != f) std::fclose(c);
  }
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_setup();
  // An exact-size copy that always carries the signature, so that every input takes the OLE road.
  if (size == 0) return 0;
  std::vector<std::uint8_t> bytes(data, data + size);
  std::memcpy(bytes.data(), kOleSign, size < 8 ? size : 8);
  const fuzz_common::RunOptions run = fuzz_common::pick_options(size > 8 ? data[8] : 0);
  fuzz_reset();
  fuzz_common::analyze_checked(bytes.data(), bytes.size(), run);
  fuzz_reset();
  dorvex::ole_finish();  // a fatal end inside the OLE road leaves the container loaded
  drive_reader(bytes.data(), bytes.size(), run.pipe);
  return 0;
}
