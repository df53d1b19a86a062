#include "analyze.h"

#include <array>
#include <cstring>
#include <memory>

#include "charsets.h"
#include "numutils.h"
#include "plaintext.h"
#include "reader.h"
#include "rtfread.h"
#include "signatures.h"
#include "wordlists.h"
#include "wordpieces.h"
#include "wordtext.h"
#include "writer.h"
#include "fileutil.h"
#include "inputfail.h"

namespace dorvex {

int signature_check = 1;
int verbose = 0;

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::array<unsigned char, 2> write_sign = {0x31, 0xBE};
constexpr std::array<unsigned char, 4> rtf_sign = {'{', '\\', 'r', 't'};
constexpr std::array<unsigned char, 2> old_word_sign = {0xDB, 0xA5};
constexpr std::array<unsigned char, 8> ole_sign = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Word header (file information block) fields.
constexpr std::size_t kFibVersion = 2, kFibProduct = 4, kFibLanguage = 6, kFibFlags = 10,
                      kFibKey = 14, kFibEnvironment = 18, kFibCharset = 20, kFibTextStart = 24,
                      kFibTextEnd = 28;
static_assert(kFibTextEnd + 4 <= kHeaderSize, "header fields lie inside the header");

constexpr unsigned kFlagTemplate = 0x0001, kFlagGlossary = 0x0002, kFlagFastSaved = 0x0004,
                   kFlagFastSaveCount = 0x00F0, kFlagEncrypted = 0x0100, kFlagReadOnly = 0x0400,
                   kFlagWriteReserved = 0x0800, kFlagExtendedCharset = 0x1000;

constexpr int kNoWordDocument = 69;
constexpr int kEncrypted = 69;

template <std::size_t N>
bool starts_with(const unsigned char* data, std::size_t len, const std::array<unsigned char, N>& sig) {
  return len >= N && std::memcmp(data, sig.data(), N) == 0;
}

// Compound-file names compare without regard to ASCII case: real files store "WordDocument",
// "worddocument" and "WORDDOCUMENT" alike.
bool is_word_document(const char* name) {
  static constexpr char kName[] = "worddocument";
  for (std::size_t i = 0; i < sizeof kName; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

struct OleEntryCloser {
  void operator()(OleStream* s) const { ole_close(s); }
};
using OleEntryPtr = std::unique_ptr<OleStream, OleEntryCloser>;

struct TmpCopyCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

void report_line(const char* text) { std::fprintf(out_file, "%s\n", text); }

void report_header_start(const unsigned char* header, std::int32_t position) {
  std::fprintf(out_file, "File Info block version %d\n", getshort(header, kFibVersion));
  std::fprintf(out_file, "Found at file offset %ld (hex %lx)\n", long(position),
               static_cast<unsigned long>(std::uint32_t(position)));
  std::fprintf(out_file, "Written by product version %d\n", getshort(header, kFibProduct));
  std::fprintf(out_file, "Language %d\n", getshort(header, kFibLanguage));
}

// Skips to the text start one byte at a time; a document that ends first is broken.
void skip_to_text(StreamHandle stream, std::int32_t count) {
  unsigned char byte;
  for (std::int32_t i = 0; i < count; ++i) {
    dorvex_read(&byte, 1, 1, stream);
    if (dorvex_eof(stream)) {
      std::fputs("File ended before textstart. Probably it is broken. Try -b switch\n", stderr);
      end_program(1);
    }
  }
}

int read_compound_document(const unsigned char* header, OleStream* doc, std::int32_t consumed,
                           std::int32_t doc_index);

int read_ole_documents(std::FILE* f, const unsigned char* prefix, Metadata* metadata,
                       const CodePageDecoder& decode, const char* name) {
  std::FILE* container = ole_init(f, prefix, ole_sign.size());
  if (!container) {
    std::fputs("Broken OLE file. Try using -b switch", stderr);
    end_program(1);
  }
  // A pipe was copied to a temporary file; the copy is ours to close, also when a reader ends
  // the program (in fuzzing builds that unwinds through here).
  std::unique_ptr<std::FILE, TmpCopyCloser> copy(container != f ? container : nullptr);
  set_ole_func();
  if (metadata) read_summary_information(container, *metadata, decode);
  int result = kNoWordDocument;
  bool word_found = false;
  CompoundContents contents;
  // Each entry is released before the next is asked for, also when a reader ends the program
  // (in fuzzing builds that unwinds through here).
  while (OleEntryPtr entry{ole_readdir(container)}) {
    const std::int32_t index = propCurNumber - 1;  // ole_readdir moved past the entry
    note_compound_entry(&contents, entry->name);
    if (ole_open(entry.get()) >= 0 && is_word_document(entry->name)) {
      word_found = true;
      std::array<unsigned char, kHeaderSize> header{};
      std::size_t n = dorvex_read(header.data(), 1, kHeaderSize, entry.get());
      if (n > kHeaderSize) n = 0;
      result = read_compound_document(header.data(), entry.get(), static_cast<std::int32_t>(n),
                                      index);
      // The text read so far stays written; the input has failed all the same.
      if (entry->cut) {
        report_input_failure(name, "the WordDocument stream is cut short (a damaged or truncated file)");
        result = 1;
      }
    }
  }
  set_std_func();
  ole_finish();
  return word_found ? result : refuse_compound(contents, name);
}

int detect_and_read(std::FILE* f, Metadata* metadata, const CodePageDecoder& decode,
                    const char* name) {
  if (!signature_check) {
    if (!get_unicode_char) get_unicode_char = get_8bit_char;
    return process_file(f, kNoEnd);
  }
  std::array<unsigned char, kHeaderSize> header{};
  std::size_t got = dorvex_read(header.data(), 1, 4, f);
  if (starts_with(header.data(), got, write_sign)) {
    report_line("[Windows Write file. Some garbage expected]");
    get_unicode_char = get_8bit_char;
    return process_file(f, kNoEnd);
  }
  if (starts_with(header.data(), got, rtf_sign)) return parse_rtf(f, header.data(), got, metadata);
  if (starts_with(header.data(), got, old_word_sign)) {
    got += dorvex_read(header.data() + got, 1, kHeaderSize - got, f);
    auto consumed = static_cast<std::int32_t>(got);
    return parse_word_header(header.data(), f, -consumed, consumed);
  }
  if (got == 4) got += dorvex_read(header.data() + got, 1, 4, f);
  if (starts_with(header.data(), got, ole_sign)) {
    return read_ole_documents(f, header.data(), metadata, decode, name);
  }
  set_std_func();
  if (const int status = read_other_format(f, header.data(), got, name, metadata); status >= 0) {
    return status;
  }
  copy_out(f, header.data(), got);
  return 0;
}

}  // namespace

int analyze_format(std::FILE* f, Metadata* metadata, CodePageDecoder decode, const char* name) {
  int result = detect_and_read(f, metadata, decode, name);
  // Text still held by the writer belongs to this input: it never joins the next one.
  flush_line();
  return result;
}

namespace {

// Where the text of a Word document lies by its header: its length, and the bytes to skip from
// the stream's position to its start.
struct TextRange {
  std::int32_t length;
  std::int32_t skip;
};

// The header's report, warnings and decoder choice; false for an encrypted document (after its
// message).
bool check_word_header(const unsigned char* header, std::int32_t adjustment, std::int32_t position,
                       TextRange* range) {
  if (verbose) report_header_start(header, position);
  unsigned flags = static_cast<unsigned>(getshort(header, kFibFlags));
  if (verbose) {
    report_line(flags & kFlagTemplate ? "This is template (DOT) file" : "This is document (DOC) file");
    if (flags & kFlagGlossary) report_line("This is glossary file");
  }
  if (flags & kFlagFastSaved) {
    std::fprintf(stderr, "[This was fast-saved %2d times. Some information is lost]\n",
                 int((flags & kFlagFastSaveCount) >> 4));
  }
  if (verbose) {
    if (flags & kFlagReadOnly) report_line("File is meant to be read-only");
    if (flags & kFlagWriteReserved) report_line("File is write-reserved");
  }
  if (flags & kFlagExtendedCharset) {
    if (verbose) report_line("File uses extended character set");
    if (!get_unicode_char) get_unicode_char = get_word8_char;
  } else if (!get_unicode_char) {
    get_unicode_char = get_8bit_char;
  }
  if (verbose) {
    report_line(header[kFibEnvironment] ? "File created on Macintosh" : "File created on Windows");
  }
  if (flags & kFlagEncrypted) {
    std::fflush(out_file);
    std::fprintf(stderr, "[File is encrypted. Encryption key = %08lx]\n",
                 static_cast<unsigned long>(getulong(header, kFibKey)));
    return false;
  }
  int charset = getshort(header, kFibCharset);
  if (verbose) {
    if (charset != 0 && charset != 256) {
      std::fprintf(out_file, "Using character set %d\n", charset);
    } else {
      report_line("Using default character set");
    }
  }
  std::int32_t text_start = getlong(header, kFibTextStart);
  std::int32_t text_end = getlong(header, kFibTextEnd);
  // Wrapping arithmetic: hostile fields must not overflow a signed int.
  range->length = static_cast<std::int32_t>(std::uint32_t(text_end) - std::uint32_t(text_start));
  range->skip = static_cast<std::int32_t>(std::uint32_t(text_start) + std::uint32_t(adjustment));
  if (verbose) {
    auto shown = static_cast<std::int32_t>(std::uint32_t(range->skip) + std::uint32_t(position));
    std::fprintf(out_file, "Textstart = %ld (hex %lx)\n", long(shown),
                 static_cast<unsigned long>(std::uint32_t(shown)));
    std::fprintf(out_file, "Textlen =   %ld (hex %lx)\n", long(range->length),
                 static_cast<unsigned long>(std::uint32_t(range->length)));
  }
  return true;
}

// Source charset in force while one document is read.
struct SourceCharsetSwitch {
  const std::uint16_t* saved = source_charset;
  explicit SourceCharsetSwitch(const std::uint16_t* table) {
    source_charset = const_cast<CharsetTable>(table);
  }
  ~SourceCharsetSwitch() { source_charset = const_cast<CharsetTable>(saved); }
  SourceCharsetSwitch(const SourceCharsetSwitch&) = delete;
  SourceCharsetSwitch& operator=(const SourceCharsetSwitch&) = delete;
};

// A WordDocument stream of a compound file: read through its piece table when it has a usable
// one, else by its header's text range; Word 6/95 8-bit text through its own code page.
int read_compound_document(const unsigned char* header, OleStream* doc, std::int32_t consumed,
                           std::int32_t doc_index) {
  TextRange range;
  if (!check_word_header(header, -consumed, consumed, &range)) return kEncrypted;
  WordPieces pieces;
  if (std::size_t(consumed) == kHeaderSize &&
      find_word_pieces(doc, doc_index, header, &pieces)) {
    if (verbose) {
      std::fprintf(out_file, "Text read through the piece table: %lu pieces\n",
                   static_cast<unsigned long>(pieces.pieces));
    }
    const std::uint16_t* table = word_8bit_charset(doc, header);
    const ParagraphLabels labels = word_document_labels(doc, doc_index, header, pieces.runs, table);
    read_word_pieces(doc, pieces, table, &labels);
    return 0;
  }
  // By the text range: the stream stands after the header again.
  ole_seek(doc, consumed, SEEK_SET);
  const std::uint16_t* table = source_charset;
  if (std::size_t(consumed) == kHeaderSize && is_word6_header(header)) {
    table = word_8bit_charset(doc, header);
    // Numbered paragraphs are found by position, so their text is read as one piece.
    if (!(getshort(header, kFibFlags) & kFlagExtendedCharset) &&
        word6_range_pieces(header, doc->size, &pieces)) {
      const ParagraphLabels labels = word_document_labels(doc, doc_index, header, pieces.runs, table);
      if (labels.size() > 0) {
        read_word_pieces(doc, pieces, table, &labels);
        return 0;
      }
    }
    ole_seek(doc, consumed, SEEK_SET);
  }
  SourceCharsetSwitch code_page(table);
  skip_to_text(doc, range.skip);
  return process_word_text(doc, range.length, WordRules::document) ? 1 : 0;
}

}  // namespace

int parse_word_header(const unsigned char* header, StreamHandle stream, std::int32_t adjustment,
                      std::int32_t position) {
  TextRange range;
  if (!check_word_header(header, adjustment, position, &range)) return kEncrypted;
  skip_to_text(stream, range.skip);
  return process_file(stream, range.length) ? 1 : 0;
}

}  // namespace dorvex
