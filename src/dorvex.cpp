// dorvex: extracts the readable text of word-processor documents and writes it to standard
// output in the chosen charset.
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
#include "ole.h"
#include "reader.h"
#include "rtfread.h"
#include "substmap.h"
#include "writer.h"

namespace {

constexpr const char* kVersion = "0.94.2";
constexpr const char* kOptions = "Vls:d:f:taubxv8wm:";

void help() {
  std::puts("Usage:\n dorvex [-vu8btawxlV] [-m number] [-s charset] [-d charset] [ -f format] files");
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
  if (const char* home = std::getenv("HOME")) {
    if (char* path = dorvex::find_file(dorvex::strdup("dorvex.rc"), home)) {
      dorvex::read_config_file(path);
      std::free(path);
    }
  }
}

void parse_options(int argc, char** argv) {
  int opt;
  while ((opt = getopt(argc, argv, kOptions)) != -1) {
    switch (opt) {
      case 'V':
        std::printf("Dorvex Version %s\n", kVersion);
        dorvex::end_program(0);
      case 'l':
        dorvex::list_charsets();
        dorvex::end_program(0);
      case 's':
        dorvex::check_charset(&dorvex::source_csname, optarg);
        dorvex::forced_charset = 1;
        break;
      case 'd':
        dorvex::check_charset(&dorvex::dest_csname, optarg);
        break;
      case 'f':
        dorvex::format_name = dorvex::strdup(optarg);
        break;
      case 't':
        dorvex::format_name = dorvex::strdup("tex");
        break;
      case 'a':
        dorvex::format_name = dorvex::strdup("ascii");
        break;
      case 'u':
        dorvex::get_unicode_char = dorvex::get_word8_char;
        break;
      case '8':
        dorvex::get_unicode_char = dorvex::get_8bit_char;
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

void load_tables() {
  dorvex::input_buffer = static_cast<char*>(std::malloc(dorvex::kIoBufferSize));
  if (!dorvex::input_buffer) std::fputs("Input buffer not allocated\n", stderr);
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
  char* block = static_cast<char*>(std::malloc(dorvex::kIoBufferSize));
  if (!block) {
    std::fputs("output buffer not allocated\n", stderr);
    return;
  }
  if (std::setvbuf(stdout, block, _IOFBF, dorvex::kIoBufferSize) != 0) std::perror("stdout");
}

void give_input_buffer(std::FILE* f, const char* name) {
  if (!dorvex::input_buffer) return;
  if (std::setvbuf(f, dorvex::input_buffer, _IOFBF, dorvex::kIoBufferSize) != 0 && name) {
    std::perror(name);
  }
}

int process_stdin() {
  give_input_buffer(stdin, nullptr);
  return dorvex::analyze_format(stdin);
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
      process_stdin();
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
    status = dorvex::analyze_format(f);
    std::fclose(f);
  }
  return status;
}

// Lost output is never reported as success.
int check_output(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::perror("stdout");
    return 1;
  }
  return status;
}

int run(int argc, char** argv) {
  dorvex::set_program_path(argv[0]);
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
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory!", stderr);
    return 1;
  }
}
