// The fuzz targets run their readers in one extraction of the fuzzing thread, made before the
// first input, as the program's run is. Messages go to stderr (which a target may quieten).
#include <cstdio>

#include "context.h"

namespace {

void to_stderr(void*, const char* text, std::size_t n) { std::fwrite(text, 1, n, stderr); }

struct FuzzExtraction {
  FuzzExtraction() {
    dorvex::Extraction* e = dorvex::new_extraction();
    if (!e) std::abort();
    e->source_csname = "cp1251";
    e->dest_csname = "cp866";
    e->out_file = stdout;
    e->messages = {nullptr, to_stderr};
    dorvex::current_extraction = e;
  }
};
const FuzzExtraction fuzz_extraction;

}  // namespace
