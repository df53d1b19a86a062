// The plain-text copy: text files that are no document format, converted without wrapping.
#ifndef DORVEX_PLAINTEXT_H
#define DORVEX_PLAINTEXT_H

#include <cstddef>
#include <cstdio>

namespace dorvex {

// Copies the rest of a plain-text input to the output; prefix: the bytes detection consumed.
void copy_out(std::FILE* stream, const unsigned char* prefix, std::size_t prefix_len);

}  // namespace dorvex

#endif  // DORVEX_PLAINTEXT_H
