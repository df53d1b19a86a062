// dorvex: extracts the readable text of word-processor documents and writes it to standard
// output in the chosen charset.
#include <getopt.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "batch.h"
#include "charsets.h"
#include "confutil.h"
#include "context.h"
#include "dorvex.h"
#include "extract.h"
#include "fileutil.h"
#include "localecp.h"
#include "ole.h"
#include "platform.h"
#include "reader.h"

namespace {

constexpr const char* kVersion = DORVEX_VERSION_STRING;
constexpr const char* kOptions = "Vls:d:f:taubxv8wm:j:0";
// getopt_long's values for the long options that have no short one.
constexpr int kHelpOption = 256, kJsonOption = 257, kFilesFromOption = 258, kMaxCharsOption = 259;
constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, kHelpOption},
    {"version", no_argument, nullptr, 'V'},
    {"json", no_argument, nullptr, kJsonOption},
    {"files-from", required_argument, nullptr, kFilesFromOption},
    {"null", no_argument, nullptr, '0'},
    {"max-chars", required_argument, nullptr, kMaxCharsOption},
    {nullptr, 0, nullptr, 0},
};

// How the inputs of a run are taken: the design's way (one after another, the decoder carried
// from one to the next), or as a batch (each input on its own, in order, maybe on threads).
struct BatchOptions {
  bool json = false;                  // --json: one JSON record per input
  const char* files_from = nullptr;   // --files-from: names read from this file ("-": stdin)
  bool null_separated = false;        // --null, -0: those names end with NUL bytes
  bool jobs_given = false;            // -j
  unsigned jobs = 1;                  // -j N: documents at once (0: one per core)
  bool target_given = false;          // -d
  bool max_chars_given = false;       // --max-chars
  bool batch() const { return json || files_from || jobs_given; }
};
BatchOptions batch_options;

void help() {
  std::puts("Usage:\n dorvex [-vu8btawxlV] [-m number] [-s charset] [-d charset] [ -f format] files");
}

void long_help() {
  help();
  std::fputs(
      "Writes the text of Word, Windows Write, RTF, Office Open XML, OpenDocument text and plain\n"
      "text files to standard output; refuses other binary formats (status 69).\n"
      "  -s charset  charset of 8-bit input text (default: the ANSI code page of the locale's\n"
      "              language, else cp1251)\n"
      "  -d charset  charset of the output (default: the locale's, else cp866)\n"
      "  -f format   output format: the maps <format>.spc and <format>.rpl (default ascii)\n"
      "  -t          format tex\n"
      "  -a          format ascii\n"
      "  -m number   wrap lines at this many columns (0: no wrapping; default 72)\n"
      "  -w          no wrapping\n"
      "  -x          write characters the output lacks as hexadecimal, not ?\n"
      "  -u          Unicode input: Word text 8- or 16-bit, plain text as UTF-8 or UTF-16\n"
      "              (-s, -u and -8 do not apply to XML documents, which state their encoding)\n"
      "  -8          8-bit input through the source charset\n"
      "  -b          no format detection: read every input as Word text\n"
      "  -v          report what the Word file header says, or an XML document's format and parts\n"
      "  -l          list the available charsets and exit\n"
      "  --json      one JSON object per input on a line: text (UTF-8), status, messages...\n"
      "  --files-from FILE  read the input names from FILE, one per line (-: standard input)\n"
      "  -0, --null  the names of --files-from end with a NUL byte, not a line end\n"
      "  -j N        read N documents at once, written in input order (0: one per core)\n"
      "  --max-chars N  stop each document after N characters of text\n"
      "  -V, --version  print the version and exit\n"
      "  --help      print this text and exit\n"
      "A file name of - is standard input.\n",
      stdout);
}

// The status of a run whose output is all written: 1 with a message when any of it was lost, so
// "dorvex -V > /dev/full" fails like a conversion would.
int check_output(int status) {
  if (dorvex::ctx().output_failed) return 1;  // said once, when the write failed
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    errno = dorvex::write_error(errno);
    std::perror("stdout");
    return 1;
  }
  return status;
}

[[noreturn]] void end_after_output(int status) { dorvex::end_program(check_output(status)); }

// The standard streams as the run needs them (a closed one filled with /dev/null; on Windows,
// output in text mode and input in binary mode); where that fails there is no safe way on, and
// maybe no stderr to say so.
void fill_standard_descriptors() {
  if (!dorvex::prepare_standard_streams()) dorvex::end_program(1);
}

// Base-0 integer with nothing after it. Values beyond int are clamped, so the margin check
// still reports them as too large.
int parse_margin(const char* arg) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(arg, &end, 0);
  if (*end != '\0' || value < 0) {
    std::fprintf(stderr, "Invalid wrap margin value `%s'\n", arg);
    dorvex::end_program(1);
  }
  if (errno == ERANGE || value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

// A count for -j and --max-chars: decimal, 0x hex or leading-0 octal, nothing after it.
unsigned long long parse_count(const char* option, const char* arg, unsigned long long limit) {
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(arg, &end, 0);
  if (*arg == '\0' || *arg == '-' || *end != '\0' || errno == ERANGE || value > limit) {
    std::fprintf(stderr, "Invalid %s value `%s'\n", option, arg);
    dorvex::end_program(1);
  }
  return value;
}

void read_configuration() {
  dorvex::read_config_file(dorvex::kSystemConfigFile);
  // An empty HOME would be searched as the current directory, whose dorvex.rc is not the user's.
  const char* home = dorvex::ctx().home;
  if (*home) {
    // Held until the end of the reading, which an error in the file ends by an exception.
    const std::unique_ptr<char, decltype(&std::free)> path(
        dorvex::find_file(dorvex::strdup("dorvex.rc"), home), &std::free);
    if (path) dorvex::read_config_file(path.get());
  }
}

void parse_options(int argc, char** argv) {
  dorvex::Extraction& c = dorvex::ctx();
  int opt;
  while ((opt = getopt_long(argc, argv, kOptions, kLongOptions, nullptr)) != -1) {
    switch (opt) {
      case 'V':
        std::printf("Dorvex Version %s\n", kVersion);
        end_after_output(0);
      case 'l':
        dorvex::list_charsets();
        end_after_output(0);
      case kHelpOption:
        long_help();
        end_after_output(0);
      case 's':  // names are checked once all options are read, like those of the configuration
        dorvex::set_setting(&c.source_csname, optarg);
        c.forced_charset = 1;
        break;
      case 'd':
        dorvex::set_setting(&c.dest_csname, optarg);
        c.target_named = true;
        batch_options.target_given = true;
        break;
      case kJsonOption:
        batch_options.json = true;
        break;
      case kFilesFromOption:
        batch_options.files_from = optarg;
        break;
      case '0':
        batch_options.null_separated = true;
        break;
      case 'j':
        batch_options.jobs_given = true;
        batch_options.jobs = static_cast<unsigned>(parse_count("-j", optarg, dorvex_cli::kMaxThreads));
        break;
      case kMaxCharsOption:
        batch_options.max_chars_given = true;
        c.max_chars = parse_count("--max-chars", optarg, ULLONG_MAX);
        break;
      case 'f':
        dorvex::set_setting(&c.format_name, optarg);
        break;
      case 't':
        dorvex::set_setting(&c.format_name, "tex");
        break;
      case 'a':
        dorvex::set_setting(&c.format_name, "ascii");
        break;
      case 'u':
        c.get_unicode_char = dorvex::get_word8_char;
        break;
      case '8':
        c.get_unicode_char = dorvex::get_8bit_char;
        c.utf8_detection = 0;
        break;
      case 'b':
        c.signature_check = 0;
        break;
      case 'x':
        c.unknown_as_hex = 1;
        break;
      case 'v':
        c.verbose = 1;
        break;
      case 'w':
        c.wrap_margin = 0;
        break;
      case 'm':
        c.wrap_margin = parse_margin(optarg);
        break;
      default:
        help();
        dorvex::end_program(1);
    }
  }
}

// Unless something named the target, a terminal set up for UTF-8 (or a charset dorvex has)
// gets its own charset; under the C locale the built-in default stays. Likewise the source: unless
// a file or -s named it, a locale with a language reads 8-bit text in Windows' ANSI code page for
// it, as Windows does.
void choose_charsets(bool source_named) {
  dorvex::Extraction& c = dorvex::ctx();
  if (!c.target_named && c.use_locale) {
    if (const char* charset = dorvex::locale_charset()) dorvex::set_setting(&c.dest_csname, charset);
  }
  if (!source_named && c.use_locale) {
    if (const char* charset = dorvex::locale_ansi_charset()) dorvex::set_setting(&c.source_csname, charset);
  }
}

// The stdio buffers of the inputs and of standard output. Arrays of the program, not allocations:
// a block this large is mapped apart by malloc, a system call each at every start, and an
// array's pages, like a mapping's, cost nothing until used.
char input_block[dorvex::kIoBufferSize];
char output_block[dorvex::kIoBufferSize];

void load_tables(bool source_named) {
  dorvex::Extraction& c = dorvex::ctx();
  c.input_buffer = input_block;
  dorvex::hold_found_tables(true);  // the locale's table, once found, is read without a search
  choose_charsets(source_named);
  if (dorvex::load_tables(false) != dorvex::LoadResult::ok) dorvex::end_program(1);
  if (c.wrap_margin >= 512 - c.longest_sequence) {
    std::fputs("wrap margin is too large. cannot proceed\n", stderr);
    dorvex::end_program(1);
  }
}

void setup_output() {
  if (dorvex::is_terminal(stdout)) return;
  if (std::setvbuf(stdout, output_block, _IOFBF, sizeof output_block) != 0) std::perror("stdout");
}

void give_input_buffer(std::FILE* f, const char* name) {
  char* block = dorvex::ctx().input_buffer;
  if (!block) return;
  if (std::setvbuf(f, block, _IOFBF, dorvex::kIoBufferSize) != 0 && name) {
    std::perror(name);
  }
}

// An input that cannot be opened, named, so that a run over many files says which:
// "dorvex: NAME: reason".
void report_input_failure(const char* name, int error) {
  std::fprintf(stderr, "dorvex: %s: %s\n", name, std::strerror(error));
}

// Set when an input's reading ended in a way that ends the run (the design's fatal errors: a
// write error, a document that ends before its text); a broken container ends its input alone.
bool run_ended = false;

int read_input(std::FILE* f, const char* name) {
  dorvex::Extraction& c = dorvex::ctx();
  c.begin_document();
  int status = dorvex::extract_file(f, name);
  run_ended = c.output_failed || (c.ended && !c.one_input);
  return status;
}

int process_stdin() {
  give_input_buffer(stdin, nullptr);
  return read_input(stdin, "stdin");
}

int process_inputs(int first, int argc, char** argv) {
  int status = 0;
  bool stdin_done = false;
  for (int i = first; i < argc; ++i) {
    if (std::strcmp(argv[i], "-") == 0) {
      if (stdin_done) {
        std::fputs("Cannot process stdin twice\n", stderr);
        dorvex::end_program(1);
      }
      // Standard input counts as any named input: "dorvex - < x" gives what "dorvex < x" does.
      status = process_stdin();
      if (run_ended) return status;
      stdin_done = true;
      continue;
    }
    std::FILE* f = dorvex::open_path(argv[i], "rb");
    if (!f) {
      report_input_failure(argv[i], errno);
      status = 1;
      continue;
    }
    give_input_buffer(f, argv[i]);
    status = read_input(f, argv[i]);
    std::fclose(f);
    if (run_ended) return status;
  }
  return status;
}

void write_message(void*, const char* text, std::size_t n) { std::fwrite(text, 1, n, stderr); }

// ---- batches: each input on its own, through the library's interface ----

struct ResultFree {
  void operator()(dorvex_result* r) const { dorvex_result_free(r); }
};

// One input's outcome, waiting for its turn to be written.
struct Record {
  std::unique_ptr<dorvex_result, ResultFree> result;
  std::string refusal;  // why the input was not read at all (a result could not be made)
  std::string json;     // with --json: the record's line, in place of the result
  std::uint64_t bytes = 0;
  double ms = 0;
};

std::string read_all(std::FILE* f) {
  std::string data;
  char block[65536];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) data.append(block, n);
  return data;
}

// A result for an input the library never saw.
dorvex_result refused_result(const std::string& message, const char** line) {
  *line = message.c_str();
  dorvex_result r{};
  r.text = "";
  r.format = "";
  r.status = 1;
  r.error = DORVEX_ERROR_READ;
  r.message_count = 1;
  r.messages = line;
  return r;
}

// The JSON line of a record, made on the thread that read the document, so that formatting
// runs in parallel too and the result's text is released at once.
void format_json(const std::string& name, Record& record) {
  const char* line = nullptr;
  const dorvex_result refused = refused_result(record.refusal, &line);
  const dorvex_result& r = record.result ? *record.result : refused;
  record.json = dorvex_cli::json_record(name, r, record.bytes, record.ms, batch_options.max_chars_given);
  record.result.reset();
}

Record extract_one(const dorvex_extractor* x, const std::string& name) {
  Record record;
  const auto start = std::chrono::steady_clock::now();
  if (dorvex_cli::has_nul_byte(name)) {
    record.refusal = "dorvex: " + std::string(name.c_str()) + ": a file name holds a NUL byte";
  } else if (name == "-") {
    // Standard input is read whole: its size is the record's, and a pipe cannot be reread.
    const std::string data = read_all(stdin);
    record.bytes = data.size();
    record.result.reset(dorvex_extract_memory(x, data.data(), data.size(), "stdin"));
  } else {
    if (!dorvex::path_file_size(name.c_str(), &record.bytes)) record.bytes = 0;
    record.result.reset(dorvex_extract_path(x, name.c_str()));
  }
  if (!record.result && record.refusal.empty()) record.refusal = "Out of memory!";
  record.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (batch_options.json) format_json(name, record);
  return record;
}

bool write_record(Record& record, int* status) {
  if (batch_options.json) {
    std::fwrite(record.json.data(), 1, record.json.size(), stdout);
    record.json = std::string();
    return !std::ferror(stdout);
  }
  const char* line = nullptr;
  const dorvex_result refused = refused_result(record.refusal, &line);
  const dorvex_result& r = record.result ? *record.result : refused;
  *status = r.status;
  std::fwrite(r.text, 1, r.text_size, stdout);
  for (std::size_t i = 0; i < r.message_count; ++i) {
    std::fflush(stdout);  // the messages follow the text they concern
    std::fprintf(stderr, "%s\n", r.messages[i]);
  }
  record.result.reset();
  return !std::ferror(stdout);
}

// The inputs of a batch: the names on the command line, then those of --files-from; standard
// input alone when there are none.
std::vector<std::string> batch_inputs(int first, int argc, char** argv) {
  std::vector<std::string> names(argv + first, argv + argc);
  if (const char* list = batch_options.files_from) {
    std::FILE* f = std::strcmp(list, "-") == 0 ? stdin : dorvex::open_path(list, "rb");
    if (!f) {
      std::fprintf(stderr, "dorvex: %s: %s\n", list, std::strerror(errno));
      dorvex::end_program(1);
    }
    const bool read = dorvex_cli::read_input_names(f, batch_options.null_separated, names);
    const int error = errno;
    if (f != stdin) std::fclose(f);
    if (!read) {
      std::fprintf(stderr, "dorvex: %s: %s\n", list, std::strerror(error ? error : EIO));
      dorvex::end_program(1);
    }
  } else if (names.empty()) {
    names.emplace_back("-");
  }
  std::size_t stdin_count = 0;
  for (const std::string& name : names) stdin_count += name == "-";
  if (batch_options.files_from && std::strcmp(batch_options.files_from, "-") == 0) ++stdin_count;
  if (stdin_count > 1) {
    std::fputs("Cannot process stdin twice\n", stderr);
    dorvex::end_program(1);
  }
  return names;
}

int run_batch(int first, int argc, char** argv) {
  const std::vector<std::string> names = batch_inputs(first, argc, argv);
  std::unique_ptr<dorvex_extractor, void (*)(dorvex_extractor*)> x(
      dorvex::extractor_from_settings(dorvex::ctx()), dorvex_extractor_free);
  if (!x) throw std::bad_alloc();
  if (dorvex_extractor_code(x.get()) != DORVEX_OK) {
    std::fprintf(stderr, "%s\n", dorvex_extractor_message(x.get()));
    return 1;
  }
  int status = 0;
  const bool written = dorvex_cli::run_ordered<Record>(
      names.size(), batch_options.jobs,
      [&](std::size_t i) { return extract_one(x.get(), names[i]); },
      [&](std::size_t, Record& record) { return write_record(record, &status); });
  if (!written || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    errno = dorvex::write_error(errno);
    std::perror("stdout");
    dorvex::ctx().output_failed = true;
    return 1;
  }
  // A record says how its document went; the run succeeded when every record was written.
  return batch_options.json ? 0 : status;
}

// --json writes UTF-8: another -d is a contradiction, and the configuration's target gives way.
void take_json_target() {
  dorvex::Extraction& c = dorvex::ctx();
  if (batch_options.target_given) {
    const char* table = dorvex::resolve_charset(c.dest_csname);
    if (!table || std::strcmp(table, "utf-8") != 0) {
      std::fprintf(stderr, "--json writes UTF-8: -d %s cannot go with it\n", c.dest_csname);
      dorvex::end_program(1);
    }
  }
  c.dest_csname = "utf-8";
  c.target_named = true;
}

int run(int argc, char** argv) {
  fill_standard_descriptors();
  dorvex::Extraction& c = dorvex::ctx();
  // The design's defaults, where the library's own are utf-8 and cp1252.
  c.source_csname = "cp1251";
  c.dest_csname = "cp866";
  c.out_file = stdout;
  c.messages = {nullptr, write_message};
  const std::string program = dorvex::find_program_path(argv[0]);
  c.program_path = program.c_str();
  if (const char* home = dorvex::home_directory()) c.home = home;
  dorvex::init_default_paths();
  // The source charset is named when a configuration file or -s replaced the built-in one.
  const char* const built_in_source = c.source_csname;
  read_configuration();
  parse_options(argc, argv);
  if (batch_options.json) take_json_target();
  load_tables(c.source_csname != built_in_source);
  setup_output();
  dorvex::set_std_func();
  if (batch_options.batch()) return run_batch(optind, argc, argv);
  if (optind >= argc) {
    if (dorvex::is_terminal(stdin)) {
      help();
      return check_output(0);
    }
    return check_output(process_stdin());
  }
  return check_output(process_inputs(optind, argc, argv));
}

}  // namespace

namespace {

// The run's state and the tables it loaded, released however the run ends, so that a leak
// checker sees only what a reading itself forgot. Elsewhere the system takes the memory back at
// exit: releasing the maps entry by entry would cost a tiny file's run 4% of its instructions.
struct RunStateDeleter {
  void operator()(dorvex::Extraction* e) const {
#ifdef DORVEX_LEAK_CHECKED
    dorvex::free_tables(*e);
    dorvex::delete_extraction(e);
#else
    (void)e;
#endif
  }
};

}  // namespace

int main(int argc, char** argv) {
  dorvex::utf8_command_line(&argc, &argv);
  const std::unique_ptr<dorvex::Extraction, RunStateDeleter> run_state(dorvex::new_extraction());
  if (!run_state) {
    std::fputs("Out of memory!", stderr);
    return 1;
  }
  dorvex::ExtractionScope scope(*run_state);
  try {
    return run(argc, argv);
  } catch (const dorvex::ProgramEnd& end) {
    // Start-up and the run's fatal errors, after their message: the design's exit. Output
    // written so far goes out, as exit would have flushed it.
    std::fflush(stdout);
    return end.status;
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory!", stderr);
    return 1;
  }
}
