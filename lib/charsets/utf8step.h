// UTF-8 read as Unicode recommends for ill-formed text: a sequence that breaks off gives one
// U+FFFD for its longest valid start, and reading goes on at the first byte that did not
// continue it, so a bad byte never takes good text with it.
#ifndef DORVEX_UTF8STEP_H
#define DORVEX_UTF8STEP_H

#include <cstddef>
#include <cstdint>

namespace dorvex {

constexpr std::uint16_t kReplacementChar = 0xFFFD;

// The length of a character by its first byte; 0 for a byte that begins none (a continuation
// byte, C0 and C1, which begin only overlong forms, F5 to FF, beyond Unicode).
std::size_t utf8_length(unsigned lead);

// Whether byte may stand at index i (1 to 3) of a character led by lead: the second byte's range
// excludes overlong forms, surrogates and code points beyond U+10FFFF.
bool utf8_continues(unsigned lead, std::size_t i, unsigned byte);

// The character at p, of which n bytes (at least 1) are there. len 0: the bytes begin a
// character that is cut by the end of what is there (only when more may follow: read again
// with more bytes). Otherwise len bytes are taken: value is the code point (up to U+10FFFF),
// or kReplacementChar for an ill-formed start of len bytes.
struct Utf8Char {
  std::uint32_t value;
  std::size_t len;
};
Utf8Char utf8_char(const unsigned char* p, std::size_t n, bool more_may_follow);

// Writes the units of a code point (a surrogate pair beyond U+FFFF) to out; returns 1 or 2.
inline std::size_t put_code_point(std::uint32_t value, std::uint16_t* out) {
  if (value < 0x10000) {
    out[0] = static_cast<std::uint16_t>(value);
    return 1;
  }
  out[0] = static_cast<std::uint16_t>(0xD800 | ((value - 0x10000) >> 10));
  out[1] = static_cast<std::uint16_t>(0xDC00 | (value & 0x3FF));
  return 2;
}

// The same reading one byte at a time, for text whose bytes come apart (RTF's literal bytes and
// hex escapes).
struct Utf8Decoder {
  unsigned char held[4] = {};
  std::size_t count = 0;  // bytes of an unfinished character in held
};

// Takes one byte; writes the units it completes to out (room for 4) and returns their number.
std::size_t utf8_feed(Utf8Decoder& d, unsigned char byte, std::uint16_t* out);

// Ends the text: an unfinished character gives one U+FFFD (returns 1), else nothing (0).
std::size_t utf8_finish(Utf8Decoder& d, std::uint16_t* out);

inline bool utf8_pending(const Utf8Decoder& d) { return d.count != 0; }

}  // namespace dorvex

#endif  // DORVEX_UTF8STEP_H
