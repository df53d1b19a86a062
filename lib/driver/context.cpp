#include "context.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

namespace dorvex {

thread_local Extraction* current_extraction = nullptr;

Extraction::~Extraction() {
  for (char* s : owned_strings) std::free(s);
  std::free(rtf.owned_csname);
  for (LoadedCharset& c : pieces.loaded) std::free(c.table);
  for (HeldTable& t : paths.held_tables) {
    if (t.file) std::fclose(t.file);
    std::free(t.path);
  }
}

void Extraction::start(const RunSettings& settings) {
  static_cast<RunSettings&>(*this) = settings;
  begin_document();
}

void Extraction::begin_document() {
  error = ErrorClass::none;
  ended = output_failed = one_input = false;
  truncated = false;
  chars_left = max_chars;
  format = "";
  input_name = "stdin";
  metadata = Metadata{};
}

// The extraction's buffers take well over a megabyte. Zeroed memory from calloc comes as fresh
// pages the system zeroes when first touched, so a short document pays only for what it uses;
// the fields with initialisers are set by the constructor, the arrays keep calloc's zeros.
Extraction* new_extraction() {
  void* memory = std::calloc(1, sizeof(Extraction));
  if (!memory) return nullptr;
  try {
    return new (memory) Extraction;
  } catch (...) {
    std::free(memory);
    return nullptr;
  }
}

void delete_extraction(Extraction* e) {
  if (!e) return;
  e->~Extraction();
  std::free(e);
}

namespace {

void deliver_message(const char* text, std::size_t n) {
  const MessageSink& sink = ctx().messages;
  if (sink.write) sink.write(sink.opaque, text, n);
}

// Formats into text (size bytes) and returns the length kept, cut to fit; 0 on a format error.
std::size_t format_into(char* text, std::size_t size, const char* format, va_list args) {
  const int n = std::vsnprintf(text, size, format, args);
  return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), size - 1);
}

}  // namespace

void report(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  const std::size_t n = format_into(text, sizeof text, format, args);
  va_end(args);
  if (n > 0) deliver_message(text, n);
}

void report_errno(const char* prefix) {
  const char* reason = std::strerror(errno);
  if (prefix && *prefix) {
    report("%s: %s\n", prefix, reason);
  } else {
    report("%s\n", reason);
  }
}

void out_printf(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  const std::size_t n = format_into(text, sizeof text, format, args);
  va_end(args);
  if (n > 0) write_out(text, n);
}

}  // namespace dorvex
