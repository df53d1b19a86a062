// The plain-text copy: text files that are no document format, converted without wrapping.
#ifndef DORVEX_PLAINTEXT_H
#define DORVEX_PLAINTEXT_H

#include <cstddef>
#include <cstdio>

namespace dorvex {

// Plain text without a byte-order mark whose first kUtf8Sample bytes are valid UTF-8 holding at
// least one multi-byte character is read as UTF-8, unless utf8_detection is 0 (-8) or -s named
// the source charset: legacy 8-bit text practically never passes.
constexpr std::size_t kUtf8Sample = 65536;
extern int utf8_detection;

// Whether [p, p + n) is well-formed UTF-8 holding a multi-byte character. A character cut by
// the end counts as well formed when more_follows and its bytes so far are.
bool looks_like_utf8(const unsigned char* p, std::size_t n, bool more_follows);

// Copies the rest of a plain-text input to the output; prefix: the bytes detection consumed.
// With -u: UTF-16 after a byte-order mark, else UTF-8 as get_utf8 reads it; without: UTF-8 when
// it looks like it (a byte that is no part of a character is the unwritable unit 0xDC00 + the
// byte), else 8-bit through the source charset.
void copy_out(std::FILE* stream, const unsigned char* prefix, std::size_t prefix_len);

}  // namespace dorvex

#endif  // DORVEX_PLAINTEXT_H
