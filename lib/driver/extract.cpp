#include "extract.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "analyze.h"
#include "charsets.h"
#include "confutil.h"
#include "fileutil.h"
#include "ole.h"
#include "substmap.h"
#include "writer.h"

namespace dorvex {

namespace {

// fopen gives a directory like a file, and a failing read looks like an end of file to the
// readers: both would pass for an empty document. Checked before and after reading instead.
bool is_directory_input(std::FILE* f, const char* name) {
  if (!stream_is_directory(f)) return false;
  report_input_failure(name, EISDIR);
  return true;
}

// After a reading that stopped half-way: the container and hooks are given back, and the line
// in hand is dropped, as the program's exit dropped it.
void clean_up_after_end() {
  ole_finish();
  set_std_func();
  drop_line();
}

// Summary strings in a code page dorvex has a table for go through that table; the rest as the
// metadata reader reads them alone. No message: a missing table is not the document's fault.
bool decode_with_tables(const void*, std::uint32_t code_page, const unsigned char* bytes,
                        std::size_t size, std::string& out) {
  switch (code_page) {
    case 1252: case 28591: case 20127: case 65001: case 1200: case 1201:
      return decode_code_page(nullptr, code_page, bytes, size, out);
    default:
      break;
  }
  const char* name = charset_from_codepage(code_page);
  char* path = name && *name ? find_file(stradd(name, ".txt"), ctx().charset_path) : nullptr;
  if (!path) return decode_code_page(nullptr, code_page, bytes, size, out);
  std::free(path);
  const MessageSink quiet = ctx().messages;
  ctx().messages = {};
  CharsetTable table = read_charset(name);
  ctx().messages = quiet;
  if (!table) return decode_code_page(nullptr, code_page, bytes, size, out);
  for (std::size_t i = 0; i < size; ++i) append_utf8(out, table[bytes[i]]);
  std::free(table);
  return true;
}

}  // namespace

void report_input_failure(const char* name, int error) {
  report("dorvex: %s: %s\n", name, std::strerror(error));
}

int extract_file(std::FILE* f, const char* name) {
  Extraction& c = ctx();
  c.input_name = name;
  if (is_directory_input(f, name)) {
    c.error = ErrorClass::read;
    return 1;
  }
  errno = 0;
  int status = 0;
  try {
    status = c.collect_metadata
                 ? analyze_format(f, &c.metadata, CodePageDecoder{decode_with_tables, nullptr}, name)
                 : analyze_format(f, nullptr, {}, name);
  } catch (const ProgramEnd& end) {
    c.ended = true;
    status = end.status;
    clean_up_after_end();
  } catch (const ReadingLimit&) {
    status = 0;
    clean_up_after_end();
  } catch (const std::bad_alloc&) {
    c.ended = true;
    report("Out of memory!");
    status = 1;
    clean_up_after_end();
  }
  if (!std::ferror(f) || c.output_failed) return status;
  report_input_failure(name, errno != 0 ? errno : EIO);  // EIO: something after the read cleared it
  c.error = ErrorClass::read;
  return 1;
}

std::FILE* open_memory(const void* data, std::size_t size) {
  return open_memory_stream(data, size);
}

bool append_to_string(void* opaque, const char* bytes, std::size_t n) {
  try {
    static_cast<std::string*>(opaque)->append(bytes, n);
    return true;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
}

void MessageLines::add(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (text[i] == '\n') {
      lines.push_back(std::move(partial));
      partial.clear();
    } else {
      partial.push_back(text[i]);
    }
  }
}

void MessageLines::finish() {
  if (partial.empty()) return;
  lines.push_back(std::move(partial));
  partial.clear();
}

void append_message(void* opaque, const char* text, std::size_t n) {
  static_cast<MessageLines*>(opaque)->add(text, n);
}

}  // namespace dorvex

namespace dorvex {

namespace {

// The table name behind a charset name as typed; false (after the message) for a name that
// stands for nothing, rather than leaving the default in place unnoticed.
bool resolve_setting(const char** setting) {
  const char* charset = resolve_charset(*setting);
  if (!charset) {
    // A charset dorvex ships whose table is not found (a missing data directory): loading it
    // says so, rather than calling a name the user may never have typed unknown.
    if (const char* shipped = shipped_charset_name(*setting)) {
      if (std::strcmp(shipped, *setting) != 0) set_setting(setting, shipped);
      return true;
    }
    report("Unknown charset %s - dorvex -l lists the charsets\n", *setting);
    return false;
  }
  if (std::strcmp(charset, *setting) != 0) set_setting(setting, charset);
  return true;
}

SubstMap* load_map(const char* suffix) {
  return read_substmap(stradd(ctx().format_name, suffix));
}

// Ends the hold on the tables resolve_charset found, however loading ends.
struct TableHold {
  TableHold() { hold_found_tables(true); }
  ~TableHold() { hold_found_tables(false); }
  TableHold(const TableHold&) = delete;
  TableHold& operator=(const TableHold&) = delete;
};

}  // namespace

LoadResult load_tables(bool share) {
  Extraction& c = ctx();
  {
    TableHold hold;
    if (!resolve_setting(&c.source_csname) || !resolve_setting(&c.dest_csname)) {
      return LoadResult::bad_charset;
    }
    c.source_charset = read_charset(c.source_csname);
    if (!c.source_charset) return LoadResult::cannot_load;
    if (std::strcmp(c.dest_csname, "utf-8") == 0) {
      c.target_charset = nullptr;
    } else {
      CharsetTable target = read_charset(c.dest_csname);
      if (!target) return LoadResult::cannot_load;
      c.target_charset = make_reverse_map(target);
      std::free(target);
    }
  }
  c.spec_chars = load_map(".spc");
  if (!c.spec_chars) {
    report("Cannot read substitution map %s%s\n", c.format_name, ".spc");
    return LoadResult::cannot_load;
  }
  c.replacements = load_map(".rpl");
  if (!c.replacements) {
    report("Cannot read replacement map %s%s\n", c.format_name, ".rpl");
    return LoadResult::cannot_load;
  }
  if (share) {
    load_substmap_now(c.spec_chars);
    load_substmap_now(c.replacements);
  }
  return LoadResult::ok;
}

void free_tables(RunSettings& settings) {
  std::free(settings.source_charset);
  free_reverse_map(settings.target_charset);
  free_substmap(settings.spec_chars);
  free_substmap(settings.replacements);
  settings.source_charset = nullptr;
  settings.target_charset = nullptr;
  settings.spec_chars = settings.replacements = nullptr;
}

}  // namespace dorvex
