// Every test runs in an extraction of its own thread, as a program run does: text to stdout,
// messages to stderr, the program's built-in charset names.
#include <cstdio>

#include "context.h"

namespace {

void to_stderr(void*, const char* text, std::size_t n) { std::fwrite(text, 1, n, stderr); }

struct TestExtraction {
  dorvex::Extraction* extraction = dorvex::new_extraction();
  TestExtraction() {
    dorvex::current_extraction = extraction;
    extraction->source_csname = "cp1251";
    extraction->dest_csname = "cp866";
    extraction->out_file = stdout;
    extraction->messages = {nullptr, to_stderr};
  }
  ~TestExtraction() {
    dorvex::current_extraction = nullptr;
    dorvex::delete_extraction(extraction);
  }
};
const TestExtraction test_extraction;

}  // namespace
