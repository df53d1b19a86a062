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
#include "fileutil.h"
#include "localecp.h"
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
      "  -V, --version  print the version and exit\n"
      "  --help      print this text and exit\n"
      "A file name of - is standard input.\n",
      stdout);
}

// The status of a run whose output is all written: 1 with a message when any of it was lost, so
// "dorvex -V > /dev/full" fails like a conversion would.
int check_output(int status) {
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
  const char* home = std::getenv("HOME");
  if (home && *home) {
    if (char* path = dorvex::find_file(dorvex::strdup("dorvex.rc"), home)) {
      dorvex::read_config_file(path);
      std::free(path);
    }
  }
}

void parse_options(int argc, char** argv) {
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
        dorvex::set_setting(&dorvex::source_csname, optarg);
        dorvex::forced_charset = 1;
        break;
      case 'd':
        dorvex::set_setting(&dorvex::dest_csname, optarg);
        dorvex::target_named = true;
        break;
      case 'f':
        dorvex::set_setting(&dorvex::format_name, optarg);
        break;
      case 't':
        dorvex::set_setting(&dorvex::format_name, "tex");
        break;
      case 'a':
        dorvex::set_setting(&dorvex::format_name, "ascii");
        break;
      case 'u':
        dorvex::get_unicode_char = dorvex::get_word8_char;
        break;
      case '8':
        dorvex::get_unicode_char = dorvex::get_8bit_char;
        dorvex::utf8_detection = 0;
        break;
      case 'b':
        dorvex::signature_check = 0;
        break;
      case 'x':
        dorvex::unknown_as_hex = 1;
        break;
      case 'v':
        dorvex::verbose = 1;
        break;
      case 'w':
        dorvex::wrap_margin = 0;
        break;
      case 'm':
        dorvex::wrap_margin = parse_margin(optarg);
        break;
      default:
        help();
        dorvex::end_program(1);
    }
  }
}

dorvex::SubstMap* load_map(const char* suffix) {
  return dorvex::read_substmap(dorvex::stradd(dorvex::format_name, suffix));
}

// The table name behind a charset name as typed; a name that stands for nothing ends the run
// rather than leaving the default in place unnoticed.
void resolve_or_end(const char** setting) {
  const char* charset = dorvex::resolve_charset(*setting);
  if (!charset) {
    // A charset dorvex ships whose table is not found (a missing data directory): loading it
    // says so, rather than calling a name the user may never have typed unknown.
    if (const char* shipped = dorvex::shipped_charset_name(*setting)) {
      if (std::strcmp(shipped, *setting) != 0) dorvex::set_setting(setting, shipped);
      return;
    }
    std::fprintf(stderr, "Unknown charset %s - dorvex -l lists the charsets\n", *setting);
    dorvex::end_program(1);
  }
  if (std::strcmp(charset, *setting) != 0) dorvex::set_setting(setting, charset);
}

// Unless something named the target, a terminal set up for UTF-8 (or a charset dorvex has)
// gets its own charset; under the C locale the built-in default stays. Likewise the source: unless
// a file or -s named it, a locale with a language reads 8-bit text in Windows' ANSI code page for
// it, as Windows does.
void choose_charsets(bool source_named) {
  if (!dorvex::target_named && dorvex::use_locale) {
    if (const char* charset = dorvex::locale_charset()) dorvex::set_setting(&dorvex::dest_csname, charset);
  }
  if (!source_named && dorvex::use_locale) {
    if (const char* charset = dorvex::locale_ansi_charset()) dorvex::set_setting(&dorvex::source_csname, charset);
  }
  resolve_or_end(&dorvex::source_csname);
  resolve_or_end(&dorvex::dest_csname);
}

// The stdio buffers of the inputs and of standard output. Arrays of the program, not allocations:
// a block this large is mapped apart by malloc, a system call each at every start, and an
// array's pages, like a mapping's, cost nothing until used.
char input_block[dorvex::kIoBufferSize];
char output_block[dorvex::kIoBufferSize];

void load_tables(bool source_named) {
  dorvex::input_buffer = input_block;
  dorvex::hold_found_tables(true);
  choose_charsets(source_named);
  dorvex::source_charset = dorvex::read_charset(dorvex::source_csname);
  if (!dorvex::source_charset) dorvex::end_program(1);
  if (std::strcmp(dorvex::dest_csname, "utf-8") == 0) {
    dorvex::target_charset = nullptr;
  } else {
    dorvex::CharsetTable target = dorvex::read_charset(dorvex::dest_csname);
    if (!target) dorvex::end_program(1);
    dorvex::target_charset = dorvex::make_reverse_map(target);
    std::free(target);
  }
  dorvex::hold_found_tables(false);
  dorvex::spec_chars = load_map(".spc");
  if (!dorvex::spec_chars) {
    std::fprintf(stderr, "Cannot read substitution map %s%s\n", dorvex::format_name, ".spc");
    dorvex::end_program(1);
  }
  dorvex::replacements = load_map(".rpl");
  if (!dorvex::replacements) {
    std::fprintf(stderr, "Cannot read replacement map %s%s\n", dorvex::format_name, ".rpl");
    dorvex::end_program(1);
  }
  if (dorvex::wrap_margin >= 512 - dorvex::longest_sequence) {
    std::fputs("wrap margin is too large. cannot proceed\n", stderr);
    dorvex::end_program(1);
  }
}

void setup_output() {
  if (isatty(fileno(stdout))) return;
  if (std::setvbuf(stdout, output_block, _IOFBF, sizeof output_block) != 0) std::perror("stdout");
}

void give_input_buffer(std::FILE* f, const char* name) {
  if (!dorvex::input_buffer) return;
  if (std::setvbuf(f, dorvex::input_buffer, _IOFBF, dorvex::kIoBufferSize) != 0 && name) {
    std::perror(name);
  }
}

// An input that cannot be opened or read, named, so that a run over many files says which:
// "dorvex: NAME: reason".
void report_input_failure(const char* name, int error) {
  std::fprintf(stderr, "dorvex: %s: %s\n", name, std::strerror(error));
}

// fopen gives a directory like a file, and a failing read looks like an end of file to the
// readers: both would pass for an empty document. Checked before and after reading instead.
bool is_directory_input(std::FILE* f, const char* name) {
  struct stat st;
  if (::fstat(fileno(f), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  report_input_failure(name, EISDIR);
  return true;
}

int read_input(std::FILE* f, const char* name) {
  if (is_directory_input(f, name)) return 1;
  errno = 0;
  int status = dorvex::analyze_format(f, nullptr, {}, name);
  if (!std::ferror(f)) return status;
  report_input_failure(name, errno != 0 ? errno : EIO);  // EIO: something after the read cleared it
  return 1;
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
      stdin_done = true;
      continue;
    }
    std::FILE* f = std::fopen(argv[i], "rb");
    if (!f) {
      report_input_failure(argv[i], errno);
      status = 1;
      continue;
    }
    give_input_buffer(f, argv[i]);
    status = read_input(f, argv[i]);
    std::fclose(f);
  }
  return status;
}

int run(int argc, char** argv) {
  fill_standard_descriptors();
  dorvex::set_program_path(argv[0]);
  dorvex::init_default_paths();
  // The source charset is named when a configuration file or -s replaced the built-in one.
  const char* const built_in_source = dorvex::source_csname;
  read_configuration();
  parse_options(argc, argv);
  load_tables(dorvex::source_csname != built_in_source);
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
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory!", stderr);
    return 1;
  }
}
