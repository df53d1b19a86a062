// dorvex: extracts the readable text of word-processor documents and writes it to standard
// output in the chosen charset.
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "analyze.h"
#include "charsets.h"
#include "confutil.h"
#include "context.h"
#include "extract.h"
#include "fileutil.h"
#include "plaintext.h"
#include "ole.h"
#include "reader.h"
#include "rtfread.h"
#include "substmap.h"
#include "writer.h"

namespace {

constexpr const char* kVersion = "0.94.2";
constexpr const char* kOptions = "Vls:d:f:taubxv8wm:";
// getopt_long's value for --help: no short option has it.
constexpr int kHelpOption = 256;
constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, kHelpOption},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

void help() {
  std::puts("Usage:\n dorvex [-vu8btawxlV] [-m number] [-s charset] [-d charset] [ -f format] files");
}

void long_help() {
  help();
  std::fputs(
      "Writes the text of Word, Windows Write, RTF and plain text files to standard output.\n"
      "  -s charset  charset of 8-bit input text (default cp1251)\n"
      "  -d charset  charset of the output (default: the locale's, else cp866)\n"
      "  -f format   output format: the maps <format>.spc and <format>.rpl (default ascii)\n"
      "  -t          format tex\n"
      "  -a          format ascii\n"
      "  -m number   wrap lines at this many bytes (0: no wrapping; default 72)\n"
      "  -w          no wrapping\n"
      "  -x          write characters the output lacks as hexadecimal, not ?\n"
      "  -u          Unicode input: Word text 8- or 16-bit, plain text as UTF-8 or UTF-16\n"
      "  -8          8-bit input through the source charset\n"
      "  -b          no format detection: read every input as Word text\n"
      "  -v          report what the Word file header says\n"
      "  -l          list the available charsets and exit\n"
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
    std::perror("stdout");
    return 1;
  }
  return status;
}

[[noreturn]] void end_after_output(int status) { dorvex::end_program(check_output(status)); }

// A closed 0, 1 or 2 would be handed out by the next open: an input, a charset table or the
// temporary copy of a piped file would then be written to as standard output, or read as
// standard input. /dev/null takes the place first.
void fill_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int null_fd = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null_fd != fd) dorvex::end_program(1);  // no safe way on, and no stderr to say so
  }
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

void read_configuration() {
  dorvex::read_config_file("%s/dorvex.rc");
  // An empty HOME would be searched as the current directory, whose dorvex.rc is not the user's.
  const char* home = dorvex::ctx().home;
  if (*home) {
    if (char* path = dorvex::find_file(dorvex::strdup("dorvex.rc"), home)) {
      dorvex::read_config_file(path);
      std::free(path);
    }
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
// gets its own charset; under the C locale the built-in default stays.
void choose_target() {
  dorvex::Extraction& c = dorvex::ctx();
  if (!c.target_named && c.use_locale) {
    if (const char* charset = dorvex::locale_charset()) dorvex::set_setting(&c.dest_csname, charset);
  }
}

// The stdio buffers of the inputs and of standard output. Arrays of the program, not allocations:
// a block this large is mapped apart by malloc, a system call each at every start, and an
// array's pages, like a mapping's, cost nothing until used.
char input_block[dorvex::kIoBufferSize];
char output_block[dorvex::kIoBufferSize];

void load_tables() {
  dorvex::Extraction& c = dorvex::ctx();
  c.input_buffer = input_block;
  dorvex::hold_found_tables(true);  // the locale's table, once found, is read without a search
  choose_target();
  if (dorvex::load_tables(false) != dorvex::LoadResult::ok) dorvex::end_program(1);
  if (c.wrap_margin >= 512 - c.longest_sequence) {
    std::fputs("wrap margin is too large. cannot proceed\n", stderr);
    dorvex::end_program(1);
  }
}

void setup_output() {
  if (isatty(fileno(stdout))) return;
  if (std::setvbuf(stdout, output_block, _IOFBF, sizeof output_block) != 0) std::perror("stdout");
}

void give_input_buffer(std::FILE* f, const char* name) {
  char* block = dorvex::ctx().input_buffer;
  if (!block) return;
  if (std::setvbuf(f, block, _IOFBF, dorvex::kIoBufferSize) != 0 && name) {
    std::perror(name);
  }
}

// Set by read_input when the input could not be read at all or to its end.
bool input_unreadable = false;
// Set when an input's reading ended in a way that ends the run (the design's fatal errors: a
// write error, a document that ends before its text); a broken container ends its input alone.
bool run_ended = false;

int read_input(std::FILE* f, const char* name) {
  dorvex::Extraction& c = dorvex::ctx();
  c.begin_document();
  int status = dorvex::extract_file(f, name);
  input_unreadable = c.error == dorvex::ErrorClass::read;
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
      int stdin_status = process_stdin();
      // Its result leaves the status alone, but a read that failed is a failure, and so is a
      // broken container (which used to end the run).
      if (input_unreadable || dorvex::ctx().one_input) status = 1;
      if (run_ended) return stdin_status;
      stdin_done = true;
      continue;
    }
    std::FILE* f = std::fopen(argv[i], "rb");
    if (!f) {
      std::perror("dorvex");
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
  if (const char* home = std::getenv("HOME")) c.home = home;
  dorvex::init_default_paths();
  read_configuration();
  parse_options(argc, argv);
  load_tables();
  setup_output();
  dorvex::set_std_func();
  if (optind >= argc) {
    if (isatty(fileno(stdin))) {
      help();
      return check_output(0);
    }
    return check_output(process_stdin());
  }
  return check_output(process_inputs(optind, argc, argv));
}

}  // namespace

int main(int argc, char** argv) {
  dorvex::Extraction* run_state = dorvex::new_extraction();
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
