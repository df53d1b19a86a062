// The C interface (include/dorvex.h) over the extraction context. Every function catches at
// its edge: no C++ exception reaches a C caller, and running out of memory is a code or a null.
#include "dorvex.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyze.h"
#include "charsets.h"
#include "confutil.h"
#include "context.h"
#include "extract.h"
#include "fileutil.h"
#include "ole.h"
#include "reader.h"
#include "substmap.h"

namespace {

using dorvex::Extraction;
using dorvex::ExtractionScope;
using dorvex::RunSettings;

// An extraction made for settings alone, released with its owner.
struct ExtractionDeleter {
  void operator()(Extraction* e) const { dorvex::delete_extraction(e); }
};
using ExtractionPtr = std::unique_ptr<Extraction, ExtractionDeleter>;

ExtractionPtr make_extraction() {
  ExtractionPtr e(dorvex::new_extraction());
  if (!e) throw std::bad_alloc();
  return e;
}

// Messages of set-up calls, gathered as the program would print them.
void append_to_message(void* opaque, const char* text, std::size_t n) {
  static_cast<std::string*>(opaque)->append(text, n);
}

// A message without its last line end, as the header promises one line per message.
void trim_line_end(std::string& message) {
  while (!message.empty() && message.back() == '\n') message.pop_back();
}

// The strings of settings copied from one extraction belong to the other: each is set again,
// so that the copy is owned where it now lives.
void own_strings(RunSettings& s) {
  for (const char** field : {&s.source_csname, &s.dest_csname, &s.format_name, &s.charset_path,
                             &s.map_path, &s.program_path, &s.home}) {
    if (*field) dorvex::set_setting(field, *field);
  }
}

bool yes_no(const char* value, bool* out) {
  const char c = value[0];
  if (c == 'y' || c == 'Y') {
    *out = true;
  } else if (c == 'n' || c == 'N') {
    *out = false;
  } else {
    return false;
  }
  return true;
}

// A whole non-negative number: decimal, 0x hex or leading-0 octal, as the program's -m.
bool parse_count(const char* value, unsigned long long limit, unsigned long long* out) {
  if (!*value || *value == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(value, &end, 0);
  if (*end != '\0' || errno == ERANGE || n > limit) return false;
  *out = n;
  return true;
}

// The character for "unknown_char": x, "x" and 'x' all mean x; otherwise the first character.
char unknown_char_of(const char* v) {
  if (v[0] == '"' && v[1] != '\0' && v[2] == '"') ++v;
  if (v[0] == '\'' && v[1] != '\0' && v[2] == '\'') ++v;
  return v[0];
}

// The executable that links the library, for "%s" in paths: never the current directory.
std::string running_program() {
  std::string path = dorvex::running_program_path();
  if (path.empty() || path.size() >= dorvex::kPathLimit)
    return std::string(DORVEX_BINDIR) + dorvex::kDirSep + "dorvex";
  return path;
}

}  // namespace

struct dorvex_options {
  ExtractionPtr settings;  // its RunSettings; it owns the strings they point to
  std::string message;
  std::string value;  // what dorvex_options_get returned last
};

struct dorvex_extractor {
  ExtractionPtr base;  // the settings with their loaded tables
  int code = DORVEX_OK;
  std::string message;
  std::mutex pool_mutex;
  std::vector<Extraction*> pool;  // extractions done with, kept warm for the next document

  ~dorvex_extractor() {
    for (Extraction* e : pool) dorvex::delete_extraction(e);
    if (base) dorvex::free_tables(*base);
  }
};

namespace {

// The result handed out, and beside it what its pointers point into.
struct ResultStorage {
  std::string text;
  dorvex::Metadata metadata;
  dorvex::MessageLines messages;
  std::vector<const char*> message_pointers;
};
struct ResultHolder {
  dorvex_result result;  // first: the caller's pointer is the holder's
  ResultStorage* storage;
};

Extraction* take_extraction(dorvex_extractor* x) {
  {
    std::lock_guard<std::mutex> lock(x->pool_mutex);
    if (!x->pool.empty()) {
      Extraction* e = x->pool.back();
      x->pool.pop_back();
      return e;
    }
  }
  Extraction* e = dorvex::new_extraction();
  if (!e) throw std::bad_alloc();
  return e;
}

void give_back(dorvex_extractor* x, Extraction* e) {
  try {
    std::lock_guard<std::mutex> lock(x->pool_mutex);
    x->pool.push_back(e);
  } catch (...) {
    dorvex::delete_extraction(e);
  }
}

// Runs one document through an extraction of the extractor. open gives the stream (null after
// setting errno when it cannot be opened); close takes it back.
template <class Open>
dorvex_result* run_extraction(const dorvex_extractor* extractor, const char* name, Open open) {
  if (!extractor) return nullptr;
  auto* x = const_cast<dorvex_extractor*>(extractor);  // only its pool changes, under its lock
  try {
    auto storage = std::make_unique<ResultStorage>();
    auto holder = std::make_unique<ResultHolder>();
    holder->result = dorvex_result{};
    int status = 1;
    int error = DORVEX_ERROR_NONE;
    const char* format = "";
    bool truncated = false;
    if (x->code != DORVEX_OK) {
      storage->messages.add(x->message.data(), x->message.size());
      error = DORVEX_ERROR_READ;
    } else {
      Extraction* e = take_extraction(x);
      struct GiveBack {
        dorvex_extractor* x;
        Extraction* e;
        ~GiveBack() { give_back(x, e); }
      } give_back_later{x, e};
      e->start(*x->base);
      e->out_file = nullptr;
      e->output = {&storage->text, dorvex::append_to_string};
      e->messages = {&storage->messages, dorvex::append_message};
      e->collect_metadata = true;
      ExtractionScope scope(*e);
      dorvex::set_std_func();
      std::FILE* f = open();
      if (!f) {
        dorvex::report_input_failure(name, errno);
        e->error = dorvex::ErrorClass::read;
      } else {
        status = dorvex::extract_file(f, name);
        std::fclose(f);
      }
      error = static_cast<int>(e->error);
      if (status != 0 && error == DORVEX_ERROR_NONE) error = DORVEX_ERROR_DAMAGED;
      format = e->format;
      truncated = e->truncated;
      storage->metadata = std::move(e->metadata);
      e->output = {};
      e->messages = {};
    }
    storage->messages.finish();
    for (const std::string& line : storage->messages.lines) {
      storage->message_pointers.push_back(line.c_str());
    }
    dorvex_result& r = holder->result;
    r.text = storage->text.c_str();
    r.text_size = storage->text.size();
    r.format = format;
    r.status = status;
    r.error = error;
    r.truncated = truncated ? 1 : 0;
    r.message_count = storage->message_pointers.size();
    r.messages = storage->message_pointers.empty() ? nullptr : storage->message_pointers.data();
    auto field = [](const std::optional<std::string>& f) { return f ? f->c_str() : nullptr; };
    const dorvex::Metadata& m = storage->metadata;
    r.metadata = {field(m.title),    field(m.subject), field(m.author),
                  field(m.keywords), field(m.created), field(m.modified)};
    holder->storage = storage.release();
    return &holder.release()->result;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

namespace dorvex {

dorvex_extractor* extractor_from_settings(const RunSettings& settings) {
  try {
    auto x = std::make_unique<dorvex_extractor>();
    x->base = make_extraction();
    Extraction& s = *x->base;
    static_cast<RunSettings&>(s) = settings;
    s.input_buffer = nullptr;  // every extraction reads through a buffer of its own
    ExtractionScope scope(s);
    own_strings(s);
    s.source_charset = nullptr;
    s.target_charset = nullptr;
    s.spec_chars = s.replacements = nullptr;
    s.messages = {&x->message, append_to_message};
    try {
      LoadResult loaded = load_tables(true);
      if (loaded != LoadResult::ok) {
        x->code = static_cast<int>(loaded);
      } else if (s.wrap_margin >= 512 - s.longest_sequence) {
        report("wrap margin is too large. cannot proceed\n");
        x->code = DORVEX_ERR_OPTION;
      }
    } catch (const ProgramEnd&) {
      x->code = DORVEX_ERR_MEMORY;
    }
    s.messages = {};
    trim_line_end(x->message);
    return x.release();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace dorvex

extern "C" {

const char* dorvex_version(void) { return DORVEX_VERSION_STRING; }

dorvex_options* dorvex_options_new(void) {
  try {
    auto options = std::make_unique<dorvex_options>();
    options->settings = make_extraction();
    Extraction& s = *options->settings;
    ExtractionScope scope(s);
    const std::string program = running_program();
    dorvex::set_setting(&s.program_path, program.c_str());
    dorvex::init_default_paths();
    dorvex::set_setting(&s.charset_path, s.charset_path);
    dorvex::set_setting(&s.map_path, s.map_path);
    return options.release();
  } catch (...) {
    return nullptr;
  }
}

dorvex_options* dorvex_options_copy(const dorvex_options* options) {
  if (!options) return nullptr;
  try {
    auto copy = std::make_unique<dorvex_options>();
    copy->settings = make_extraction();
    Extraction& s = *copy->settings;
    static_cast<RunSettings&>(s) = *options->settings;
    ExtractionScope scope(s);
    own_strings(s);
    return copy.release();
  } catch (...) {
    return nullptr;
  }
}

void dorvex_options_free(dorvex_options* options) { delete options; }

int dorvex_options_set(dorvex_options* options, const char* name, const char* value) {
  if (!options || !name || !value) return DORVEX_ERR_OPTION;
  try {
    options->message.clear();
    Extraction& s = *options->settings;
    ExtractionScope scope(s);
    std::string_view key(name);
    auto bad_value = [&] {
      options->message = std::string("Invalid value for ") + name + ": " + value;
      return DORVEX_ERR_OPTION;
    };
    auto charset = [&](const char** field) {
      s.messages = {&options->message, append_to_message};
      const char* table = dorvex::resolve_charset(value);
      s.messages = {};
      if (!table) {
        options->message = std::string("Unknown charset ") + value;
        return DORVEX_ERR_CHARSET;
      }
      dorvex::set_setting(field, table);
      return DORVEX_OK;
    };
    bool flag = false;
    unsigned long long count = 0;
    if (key == "source_charset" || key == "forced_source_charset") {
      int code = charset(&s.source_csname);
      if (code == DORVEX_OK) s.forced_charset = key == "forced_source_charset";
      return code;
    }
    if (key == "target_charset") {
      int code = charset(&s.dest_csname);
      if (code == DORVEX_OK) s.target_named = true;
      return code;
    }
    if (key == "format") {
      if (!*value) return bad_value();
      dorvex::set_setting(&s.format_name, value);
    } else if (key == "charset_path") {
      dorvex::set_setting(&s.charset_path, value);
    } else if (key == "map_path") {
      dorvex::set_setting(&s.map_path, value);
    } else if (key == "program_dir") {
      const std::string program = std::string(value) + dorvex::kDirSep + "dorvex";
      if (program.size() >= dorvex::kPathLimit) return bad_value();
      dorvex::set_setting(&s.program_path, program.c_str());
    } else if (key == "home") {
      dorvex::set_setting(&s.home, value);
    } else if (key == "unknown_char") {
      if (!*value) return bad_value();
      s.bad_char[0] = unknown_char_of(value);
    } else if (key == "wrap_margin") {
      if (!parse_count(value, INT_MAX, &count)) return bad_value();
      s.wrap_margin = static_cast<int>(count);
    } else if (key == "max_chars") {
      if (!parse_count(value, ULLONG_MAX, &count)) return bad_value();
      s.max_chars = count;
    } else if (key == "hex_unknown") {
      if (!yes_no(value, &flag)) return bad_value();
      s.unknown_as_hex = flag;
    } else if (key == "raw") {
      if (!yes_no(value, &flag)) return bad_value();
      s.signature_check = !flag;
    } else if (key == "verbose") {
      if (!yes_no(value, &flag)) return bad_value();
      s.verbose = flag;
    } else if (key == "use_locale") {
      if (!yes_no(value, &flag)) return bad_value();
      s.use_locale = flag;
    } else if (key == "unicode") {
      std::string_view v(value);
      if (v == "auto") {
        s.get_unicode_char = nullptr;
        s.utf8_detection = 1;
      } else if (yes_no(value, &flag) && flag) {
        s.get_unicode_char = dorvex::get_word8_char;
        s.utf8_detection = 1;
      } else if (yes_no(value, &flag)) {
        s.get_unicode_char = dorvex::get_8bit_char;
        s.utf8_detection = 0;
      } else {
        return bad_value();
      }
    } else {
      options->message = std::string("Unknown option ") + name;
      return DORVEX_ERR_OPTION;
    }
    return DORVEX_OK;
  } catch (const std::bad_alloc&) {
    return DORVEX_ERR_MEMORY;
  } catch (...) {
    return DORVEX_ERR_OPTION;
  }
}

const char* dorvex_options_get(const dorvex_options* options, const char* name) {
  if (!options || !name) return nullptr;
  try {
    auto* o = const_cast<dorvex_options*>(options);
    const Extraction& s = *o->settings;
    std::string_view key(name);
    auto text = [&](const char* v) -> const char* {
      o->value = v ? v : "";
      return o->value.c_str();
    };
    auto number = [&](unsigned long long v) { return text(std::to_string(v).c_str()); };
    auto yes = [&](bool v) { return text(v ? "yes" : "no"); };
    if (key == "source_charset" || key == "forced_source_charset") return text(s.source_csname);
    if (key == "target_charset") return text(s.dest_csname);
    if (key == "format") return text(s.format_name);
    if (key == "charset_path") return text(s.charset_path);
    if (key == "map_path") return text(s.map_path);
    if (key == "home") return text(s.home);
    if (key == "program_dir") {
      std::string dir(s.program_path);
      std::size_t sep = dir.rfind(dorvex::kDirSep);
      return text(sep == std::string::npos ? "." : dir.substr(0, sep).c_str());
    }
    if (key == "unknown_char") return text(s.bad_char);
    if (key == "wrap_margin") return number(static_cast<unsigned long long>(s.wrap_margin));
    if (key == "max_chars") return number(s.max_chars);
    if (key == "hex_unknown") return yes(s.unknown_as_hex);
    if (key == "raw") return yes(!s.signature_check);
    if (key == "verbose") return yes(s.verbose);
    if (key == "use_locale") return yes(s.use_locale);
    if (key == "unicode") {
      if (s.get_unicode_char == dorvex::get_word8_char) return text("yes");
      if (s.get_unicode_char == dorvex::get_8bit_char) return text("no");
      return text("auto");
    }
    return nullptr;
  } catch (...) {
    return nullptr;
  }
}

int dorvex_options_read_config(dorvex_options* options, const char* path) {
  if (!options || !path) return DORVEX_ERR_OPTION;
  try {
    options->message.clear();
    Extraction& s = *options->settings;
    ExtractionScope scope(s);
    s.messages = {&options->message, append_to_message};
    int code = DORVEX_OK;
    try {
      dorvex::read_config_file(path);
    } catch (const dorvex::ProgramEnd&) {
      code = DORVEX_ERR_CONFIG;
    }
    s.messages = {};
    trim_line_end(options->message);
    return code;
  } catch (const std::bad_alloc&) {
    return DORVEX_ERR_MEMORY;
  }
}

int dorvex_options_read_default_config(dorvex_options* options, const char* home) {
  if (!options) return DORVEX_ERR_OPTION;
  int code = dorvex_options_read_config(options, "%s/dorvex.rc");
  if (code != DORVEX_OK || !home || !*home) return code;
  try {
    Extraction& s = *options->settings;
    ExtractionScope scope(s);
    dorvex::set_setting(&s.home, home);
    char* path = dorvex::find_file(dorvex::strdup("dorvex.rc"), home);
    if (!path) return DORVEX_OK;
    std::string found(path);
    std::free(path);
    return dorvex_options_read_config(options, found.c_str());
  } catch (const std::bad_alloc&) {
    return DORVEX_ERR_MEMORY;
  } catch (const dorvex::ProgramEnd&) {
    return DORVEX_ERR_MEMORY;
  }
}

const char* dorvex_options_message(const dorvex_options* options) {
  return options ? options->message.c_str() : "";
}

dorvex_extractor* dorvex_extractor_new(const dorvex_options* options) {
  if (!options) return nullptr;
  return dorvex::extractor_from_settings(*options->settings);
}

void dorvex_extractor_free(dorvex_extractor* extractor) { delete extractor; }

int dorvex_extractor_code(const dorvex_extractor* extractor) {
  return extractor ? extractor->code : DORVEX_ERR_OPTION;
}

const char* dorvex_extractor_message(const dorvex_extractor* extractor) {
  return extractor ? extractor->message.c_str() : "";
}

dorvex_result* dorvex_extract_memory(const dorvex_extractor* extractor, const void* data,
                                     size_t size, const char* name) {
  static const char kEmpty[1] = {0};
  if (!data) {
    if (size != 0) return nullptr;
    data = kEmpty;
  }
  return run_extraction(extractor, name ? name : "stdin", [&]() -> std::FILE* {
    // An empty stream the same way on every C library: a buffer of one byte, none of it read.
    if (size == 0) {
      std::FILE* f = dorvex::open_memory(kEmpty, 1);
      if (f) std::fseek(f, 1, SEEK_SET);
      return f;
    }
    return dorvex::open_memory(data, size);
  });
}

dorvex_result* dorvex_extract_path(const dorvex_extractor* extractor, const char* path) {
  if (!path) return nullptr;
  return run_extraction(extractor, path, [&] { return dorvex::open_path(path, "rb"); });
}

dorvex_result* dorvex_extract_fd(const dorvex_extractor* extractor, int fd, const char* name) {
  return run_extraction(extractor, name ? name : "stdin", [&]() -> std::FILE* {
    int copy = ::dup(fd);
    if (copy < 0) return nullptr;
#ifdef _WIN32
    // A descriptor opened without O_BINARY reads in text mode, which would turn CR LF into LF
    // and stop at the first Ctrl-Z; the copy is read as the bytes it holds, the caller's left as is.
    _setmode(copy, _O_BINARY);
#endif
    std::FILE* f = ::fdopen(copy, "rb");
    if (!f) ::close(copy);
    return f;
  });
}

void dorvex_result_free(dorvex_result* result) {
  if (!result) return;
  auto* holder = reinterpret_cast<ResultHolder*>(result);
  delete holder->storage;
  delete holder;
}

}  // extern "C"
