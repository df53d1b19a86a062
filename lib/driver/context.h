// The state of one extraction. What the readers, the converter and the writer once kept in
// variables of the process lives here: the settings (copied from the extractor that made the
// extraction, and some of them switched while one document is read, such as the source table)
// and the working state of every area (decoder choice, paragraph buffer, compound-file state,
// the writer's line). Nothing a reading changes is shared, so extractions on different threads
// run side by side through one extractor.
//
// The code of the areas reaches the extraction it works for through ctx(): the extraction a
// thread is running, set by an ExtractionScope for the length of each call into the library.
// The fields keep the names the variables had, so ctx().source_charset is what source_charset
// was.
#ifndef DORVEX_CONTEXT_H
#define DORVEX_CONTEXT_H

#include <cstddef>
#include <cstdint>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "charsets.h"
#include "fileutil.h"
#include "metadata.h"
#include "ole.h"
#include "plaintext.h"
#include "reader.h"
#include "rtfread.h"
#include "substmap.h"
#include "wordpieces.h"
#include "wordtext.h"
#include "writer.h"

namespace dorvex {

// Where converted text goes: write returns false (errno set) when the bytes could not be
// written, which ends the extraction with status 1.
struct OutputSink {
  void* opaque = nullptr;
  bool (*write)(void* opaque, const char* bytes, std::size_t n) = nullptr;
};

// Where messages go, as the program would write them to standard error (line ends included).
struct MessageSink {
  void* opaque = nullptr;
  void (*write)(void* opaque, const char* text, std::size_t n) = nullptr;
};

// The reason an extraction failed, for callers that need more than the status.
enum class ErrorClass { none = 0, encrypted, unsupported, damaged, read, limit };

// Settings: made once (options, configuration files, loaded tables), then copied into each
// extraction. The strings and tables belong to whoever made the settings (the extractor, or the
// program), which outlives the extractions.
struct RunSettings {
  // Configuration keys.
  const char* source_csname = "cp1252";
  const char* dest_csname = "utf-8";
  const char* format_name = "ascii";
  const char* charset_path = kDataBesideProgram;
  const char* map_path = kDataBesideProgram;
  char bad_char[2] = "?";
  bool target_named = false;
  bool use_locale = true;
  // Where "%s" and "~/" point: the program's path and the home directory ("" none).
  const char* program_path = "";
  const char* home = "";

  // Options.
  int wrap_margin = 72;        // greatest line width; 0: no wrapping
  int unknown_as_hex = 0;      // -x
  int signature_check = 1;     // 0 with -b: every input is raw Word text
  int verbose = 0;             // -v
  int utf8_detection = 1;      // 0 with -8: plain text never taken for UTF-8
  int forced_charset = 0;      // -s: code pages named in documents are ignored
  std::uint64_t max_chars = 0; // characters of text after which reading stops; 0: no limit

  // Loaded tables and maps, shared read-only.
  CharsetTable source_charset = nullptr;
  ReverseMap* target_charset = nullptr;  // null when the target is "utf-8"
  SubstMap* spec_chars = nullptr;
  SubstMap* replacements = nullptr;
  int longest_sequence = 6;
  Decoder get_unicode_char = nullptr;  // -u or -8: the decoder; null: each document's own

  // The 256 KiB stdio buffer given to inputs, or null (the program's own block).
  char* input_buffer = nullptr;
};

struct Extraction : RunSettings {
  Extraction() = default;
  Extraction(const Extraction&) = delete;
  Extraction& operator=(const Extraction&) = delete;

  // Takes up new settings for the next document, and forgets what the last one left behind:
  // its outcome and the decoder it chose (the conversions and the loaded tables stay, which
  // check_cache renews when the settings differ).
  void start(const RunSettings& settings);
  // Forgets the outcome of the last document, and nothing else: the program's run keeps its
  // decoder from one input of its command line to the next.
  void begin_document();

  // Where the text and the messages go.
  OutputSink output;
  std::FILE* out_file = nullptr;  // when set, text goes here through stdio, not to output
  MessageSink messages;

  // The outcome of the current document. ended: its reading stopped by ProgramEnd; output_failed:
  // the text could not be written (the program stops there); one_input: the stop concerned
  // this input alone (a broken container), so a run of inputs goes on.
  ErrorClass error = ErrorClass::none;
  bool ended = false;
  bool output_failed = false;
  bool one_input = false;
  bool truncated = false;
  std::uint64_t chars_left = 0;  // of max_chars, while it is set

  const char* input_name = "stdin";  // the document's name in messages
  // What the document states about itself, looked for when collect_metadata is set.
  bool collect_metadata = false;
  Metadata metadata;
  const char* format = "";           // the format detection found

  // The stream hooks in force (ole.h).
  ReadHook dorvex_read = nullptr;
  SeekHook dorvex_seek = nullptr;
  EofHook dorvex_eof = nullptr;
  TellHook dorvex_tell = nullptr;

  // The paragraph buffer shared by the readers, ended by a 0 unit; the plain-text copy borrows
  // it as a byte buffer. The Word readers assemble their paragraphs in paragraph_storage.
  std::array<std::uint16_t, kParagraphUnits> buffer;
  ParagraphStorage paragraph_storage;

  CharsetState charsets;
  PathState paths;
  OleState ole;
  WriterState writer;
  PlainTextState plain;
  ReaderState reader;
  PiecesState pieces;
  RtfCharsets rtf;

  // The strings set_setting copied, released with the extraction.
  std::vector<char*> owned_strings;

  ~Extraction();
};

// The extraction this thread is running.
#if defined(__GNUC__) && !defined(_WIN32)
extern thread_local Extraction* current_extraction __attribute__((tls_model("initial-exec")));
#else
extern thread_local Extraction* current_extraction;
#endif
inline Extraction& ctx() { return *current_extraction; }

// Makes e this thread's extraction for its lifetime, and restores the one before.
class ExtractionScope {
 public:
  explicit ExtractionScope(Extraction& e) : saved_(current_extraction) { current_extraction = &e; }
  ~ExtractionScope() { current_extraction = saved_; }
  ExtractionScope(const ExtractionScope&) = delete;
  ExtractionScope& operator=(const ExtractionScope&) = delete;

 private:
  Extraction* saved_;
};

// A new extraction, its large buffers left as untouched zero pages until used. Null when memory
// runs out.
Extraction* new_extraction();
void delete_extraction(Extraction* e);

// Messages, as the program writes them to standard error: report formats one like printf,
// report_errno writes "prefix: <the system's reason>" as perror does.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void report_errno(const char* prefix);

// Text written outside the paragraphs (the Write notice, the -v facts), formatted like printf.
void out_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace dorvex

#endif  // DORVEX_CONTEXT_H
