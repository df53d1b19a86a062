#include "batch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace dorvex_cli {

namespace {

// Bytes read from a --files-from list at a time.
constexpr std::size_t kNameBlock = 65536;

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kHex[] = "0123456789abcdef";

// Bytes a JSON string cannot take as they are, or that start a sequence to check: controls,
// quote, backslash, DEL, and every byte of a multi-byte sequence's start or an ill-formed one.
constexpr std::array<bool, 256> make_attention() {
  std::array<bool, 256> a{};
  for (int b = 0; b < 256; ++b) a[b] = b < 0x20 || b == '"' || b == '\\' || b >= 0x7F;
  return a;
}
constexpr std::array<bool, 256> kAttention = make_attention();

// The high bit of each byte of x that is zero (exact up to the lowest such byte: a borrow
// only marks bytes above it).
constexpr std::uint64_t zero_bytes(std::uint64_t x) {
  constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
  return (x - ones) & ~x & highs;
}

// How many of the 8 bytes at p, from the first, need no attention: text is mostly such runs.
unsigned plain_prefix(const unsigned char* p) {
  if constexpr (std::endian::native != std::endian::little) return 0;
  constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  const std::uint64_t marks = (x & highs) | ((x - ones * 0x20) & ~x & highs) |
                              zero_bytes(x ^ (ones * '"')) | zero_bytes(x ^ (ones * '\\')) |
                              zero_bytes(x ^ (ones * 0x7F));
  return marks ? static_cast<unsigned>(std::countr_zero(marks)) / 8 : 8;
}

// JSON's own short escapes for the controls text holds most: line ends and tabs.
char short_escape(unsigned b) {
  switch (b) {
    case '\n': return 'n';
    case '\t': return 't';
    case '\r': return 'r';
    case '\b': return 'b';
    case '\f': return 'f';
    default: return 0;
  }
}

void append_unicode_escape(std::string& out, unsigned code) {
  const char e[6] = {'\\',
                     'u',
                     kHex[(code >> 12) & 0xF],
                     kHex[(code >> 8) & 0xF],
                     kHex[(code >> 4) & 0xF],
                     kHex[code & 0xF]};
  out.append(e, sizeof e);
}

// The UTF-8 sequence at p (p < end): its length when it is well-formed, else minus the length of
// its maximal ill-formed subpart (at least 1), which one U+FFFD replaces.
int utf8_sequence(const unsigned char* p, const unsigned char* end) {
  const unsigned char b = *p;
  int trail;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the first trail byte
  if (b >= 0xC2 && b <= 0xDF) {
    trail = 1;
  } else if (b == 0xE0) {
    trail = 2;
    lo = 0xA0;  // no overlong forms
  } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
    trail = 2;
  } else if (b == 0xED) {
    trail = 2;
    hi = 0x9F;  // no surrogates
  } else if (b == 0xF0) {
    trail = 3;
    lo = 0x90;
  } else if (b >= 0xF1 && b <= 0xF3) {
    trail = 3;
  } else if (b == 0xF4) {
    trail = 3;
    hi = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i <= trail; ++i) {
    if (end - p <= i || p[i] < lo || p[i] > hi) return -i;
    lo = 0x80;
    hi = 0xBF;
  }
  return trail + 1;
}

void append_key(std::string& out, const char* key) {
  out += '"';
  out += key;
  out += "\":";
}

void append_c_string(std::string& out, const char* s) {
  append_json_string(out, s ? std::string_view(s) : std::string_view());
}

}  // namespace

void append_json_string(std::string& out, std::string_view utf8) {
  out.reserve(out.size() + utf8.size() + 2);
  out += '"';
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* const end = p + utf8.size();
  const unsigned char* run = p;  // bytes from run to p go out as they are
  auto flush = [&] { out.append(reinterpret_cast<const char*>(run), std::size_t(p - run)); };
  while (p < end) {
    const unsigned char b = *p;
    if (!kAttention[b]) {
      p += end - p >= 8 ? std::max(1u, plain_prefix(p)) : 1;
      continue;
    }
    if (b < 0x80) {
      flush();
      if (b == '"' || b == '\\') {
        out += '\\';
        out += char(b);
      } else if (const char short_form = short_escape(b)) {
        out += '\\';  // the common controls of text: two bytes where \u00xx takes six
        out += short_form;
      } else {
        append_unicode_escape(out, b);
      }
      run = ++p;
      continue;
    }
    const int n = utf8_sequence(p, end);
    if (n < 0) {
      flush();
      out += kReplacement;
      p += -n;
      run = p;
      continue;
    }
    // C1 controls (U+0080..U+009F) and the two line separators JavaScript ends lines at.
    const bool c1 = b == 0xC2 && p[1] < 0xA0;
    const bool separator = b == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9);
    if (c1 || separator) {
      flush();
      append_unicode_escape(out, c1 ? p[1] : 0x2000u + (p[2] - 0x80));
      p += n;
      run = p;
      continue;
    }
    p += n;
  }
  flush();
  out += '"';
}

const char* error_class_name(int error) {
  switch (error) {
    case DORVEX_ERROR_NONE:
      return nullptr;
    case DORVEX_ERROR_ENCRYPTED:
      return "encrypted";
    case DORVEX_ERROR_UNSUPPORTED:
      return "unsupported";
    case DORVEX_ERROR_READ:
      return "read";
    case DORVEX_ERROR_LIMIT:
      return "limit";
    default:
      return "damaged";
  }
}

std::string json_record(std::string_view path, const dorvex_result& result, std::uint64_t bytes,
                        double ms, bool with_truncated) {
  std::string out;
  out.reserve(result.text_size + path.size() + 256);
  out += '{';
  append_key(out, "path");
  append_json_string(out, path);
  out += ',';
  append_key(out, "format");
  append_c_string(out, result.format);
  out += ',';
  append_key(out, "status");
  out += std::to_string(result.status);
  out += ',';
  append_key(out, "error");
  if (const char* name = error_class_name(result.error)) {
    append_json_string(out, name);
  } else {
    out += "null";
  }
  out += ',';
  append_key(out, "text");
  append_json_string(
      out, result.text ? std::string_view(result.text, result.text_size) : std::string_view());
  out += ',';
  append_key(out, "messages");
  out += '[';
  const std::size_t messages = result.messages ? result.message_count : 0;
  for (std::size_t i = 0; i < messages; ++i) {
    if (i) out += ',';
    append_c_string(out, result.messages[i]);
  }
  out += "],";
  append_key(out, "bytes");
  out += std::to_string(bytes);
  out += ',';
  append_key(out, "ms");
  // Thousandths counted as an integer: printf's %f writes the locale's decimal comma.
  const double clamped = std::isfinite(ms) && ms > 0 ? std::min(ms, 1e15) : 0.0;
  const auto thousandths = static_cast<std::uint64_t>(std::llround(clamped * 1000));
  out += std::to_string(thousandths / 1000);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03u", unsigned(thousandths % 1000));
  out += fraction;
  if (with_truncated) {
    out += ',';
    append_key(out, "truncated");
    out += result.truncated ? "true" : "false";
  }
  const dorvex_metadata& m = result.metadata;
  const std::pair<const char*, const char*> fields[] = {
      {"title", m.title},       {"subject", m.subject}, {"author", m.author},
      {"keywords", m.keywords}, {"created", m.created}, {"modified", m.modified}};
  bool opened = false;
  for (const auto& [key, value] : fields) {
    if (!value) continue;
    out += opened ? "," : ",\"metadata\":{";
    opened = true;
    append_key(out, key);
    append_json_string(out, value);
  }
  if (opened) out += '}';
  out += "}\n";
  return out;
}

bool read_input_names(std::FILE* in, bool null_separated, std::vector<std::string>& names) {
  const char separator = null_separated ? '\0' : '\n';
  auto finish = [&](std::string& name) {
    if (!null_separated && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names.push_back(std::move(name));
    name.clear();
  };
  std::vector<char> block(kNameBlock);
  std::string name;
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), in);
    const char* p = block.data();
    const char* const end = p + got;
    while (p < end) {
      const auto* sep = static_cast<const char*>(std::memchr(p, separator, std::size_t(end - p)));
      if (!sep) {
        name.append(p, end);
        break;
      }
      name.append(p, sep);
      finish(name);
      p = sep + 1;
    }
    if (got < block.size()) break;
  }
  // A read error may have cut the last name short: it is no name.
  if (std::ferror(in)) return false;
  finish(name);
  return true;
}

unsigned ordered_threads(unsigned requested, std::size_t count) {
  unsigned n = requested ? requested : std::thread::hardware_concurrency();
  if (n == 0) n = 1;
  if (n > kMaxThreads) n = kMaxThreads;
  if (count < n) n = count == 0 ? 1 : static_cast<unsigned>(count);
  return n;
}

}  // namespace dorvex_cli
