// Start-up shared by the fuzz targets that run readers: the program's data files (or a Latin-1
// table and empty maps when they cannot be loaded), output to /dev/null, the program's messages
// dropped; and the run options an input may choose (read through a pipe, -v).
#ifndef DORVEX_FUZZ_COMMON_H
#define DORVEX_FUZZ_COMMON_H

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "context.h"
#include "analyze.h"
#include "charsets.h"
#include "reader.h"
#include "fileutil.h"
#include "substmap.h"
#include "writer.h"

namespace fuzz_common {

inline dorvex::CharsetTable latin1_table() {
  auto* t = static_cast<std::uint16_t*>(std::malloc(256 * sizeof(std::uint16_t)));
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint16_t>(i);
  return t;
}

// The program's messages would flood the fuzzer's log and slow it down: the standard error
// stream the program writes to becomes /dev/null. libFuzzer keeps the stream it took at start-up
// and the sanitizers write to descriptor 2, so their reports still show. DORVEX_FUZZ_STDERR=1
// keeps the messages (for looking at one input).
inline void quiet_stderr() {
  if (std::getenv("DORVEX_FUZZ_STDERR")) return;
  if (std::FILE* null = std::fopen("/dev/null", "w")) stderr = null;
}

// cp1252 in, cp866 out through the ascii maps: every step of the conversion is exercised.
inline bool setup_readers() {
  quiet_stderr();
  dorvex::ctx().out_file = std::fopen("/dev/null", "w");
  dorvex::ctx().charset_path = DORVEX_CHARSETS_DIR;
  dorvex::ctx().map_path = DORVEX_CHARSETS_DIR;
  dorvex::ctx().source_charset = dorvex::read_charset("cp1252");
  if (!dorvex::ctx().source_charset) dorvex::ctx().source_charset = latin1_table();
  dorvex::ctx().spec_chars = dorvex::read_substmap(dorvex::stradd("ascii", ".spc"));
  dorvex::ctx().replacements = dorvex::read_substmap(dorvex::stradd("ascii", ".rpl"));
  static dorvex::SubstMap none{};
  if (!dorvex::ctx().spec_chars) dorvex::ctx().spec_chars = &none;
  if (!dorvex::ctx().replacements) dorvex::ctx().replacements = &none;
  if (dorvex::CharsetTable target = dorvex::read_charset("cp866")) {
    dorvex::ctx().target_charset = dorvex::make_reverse_map(target);
    std::free(target);
  }
  return true;
}

// The decoders an input may be read with, picked by a byte of the fuzz input.
inline dorvex::Decoder pick_decoder(std::uint8_t choice) {
  static const dorvex::Decoder decoders[] = {nullptr, dorvex::get_word8_char, dorvex::get_8bit_char,
                                             dorvex::get_utf8, dorvex::get_utf16lsb,
                                             dorvex::get_utf16msb};
  return decoders[choice % 6];
}

// Wrapping off, or a margin from 7 to 105.
inline int pick_margin(std::uint8_t choice) { return (choice & 1) ? 0 : 7 * ((choice >> 1) % 16) + 7; }

// What the driver may put around a reader, chosen by bits of the input.
struct RunOptions {
  bool pipe = false;     // the input cannot be positioned, as standard input fed by a pipe
  bool verbose = false;  // -v
};

inline RunOptions pick_options(std::uint8_t bits) {
  RunOptions run;
  run.pipe = bits & 1;
  run.verbose = bits & 2;
  return run;
}

// Bytes read like a pipe: no positioning (ESPIPE), the end after the last byte.
struct PipeBytes {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
};

inline ssize_t pipe_read(void* cookie, char* buf, std::size_t n) {
  auto* p = static_cast<PipeBytes*>(cookie);
  if (n > p->size - p->pos) n = p->size - p->pos;
  std::memcpy(buf, p->data + p->pos, n);
  p->pos += n;
  return static_cast<ssize_t>(n);
}

inline int pipe_seek(void*, off64_t*, int) {
  errno = ESPIPE;
  return -1;
}

// The input as the reader sees it: a memory stream, or one that behaves like a pipe.
inline std::FILE* open_input(std::uint8_t* data, std::size_t size, bool as_pipe, PipeBytes* pipe) {
  if (!as_pipe) return fmemopen(data, size, "rb");
  *pipe = {data, size, 0};
  cookie_io_functions_t io = {pipe_read, nullptr, pipe_seek, nullptr};
  return fopencookie(pipe, "rb", io);
}

// The descriptor the next open gets: it moves up when a run leaves a descriptor open (the
// temporary copy of a piped compound file, say).
inline int lowest_free_descriptor() {
  int fd = open("/dev/null", O_RDONLY);
  if (fd >= 0) close(fd);
  return fd;
}

// Runs the bytes through format detection as the driver would; a fatal end counts as status 1,
// and any status but 0, 1 and 69 is a failure, as is a descriptor left open.
inline void analyze_checked(std::uint8_t* data, std::size_t size, const RunOptions& run = {}) {
  const int free_fd = lowest_free_descriptor();
  PipeBytes pipe;
  std::FILE* f = open_input(data, size, run.pipe, &pipe);
  if (!f) return;
  dorvex::ctx().verbose = run.verbose;
  int status = 0;
  try {
    status = dorvex::analyze_format(f);
  } catch (const dorvex::ProgramEnd& end) {
    status = end.status;
  }
  dorvex::ctx().verbose = 0;
  std::fclose(f);
  if (status != 0 && status != 1 && status != 69) std::abort();
  if (lowest_free_descriptor() != free_fd) std::abort();
}

}  // namespace fuzz_common

#endif  // DORVEX_FUZZ_COMMON_H
