#include "reader.h"

namespace dorvex {

int process_file(StreamHandle, std::int32_t) { return 0; }
int get_word8_char(StreamHandle, std::int32_t*, std::int32_t) { return 0; }
void reset_word8_block() {}
void copy_out(std::FILE*, const unsigned char*, std::size_t) {}

}  // namespace dorvex
