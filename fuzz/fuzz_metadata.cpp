// What documents state about themselves. Arbitrary bytes as a summary information property set,
// read with the built-in code pages and with a caller's reading that takes every byte; bytes that
// start as RTF does go through the RTF reader collecting its \info group instead (the reader's
// own limits and the collector's), and bytes that start as a compound file through format
// detection collecting its summary information (the directory's tree, the stream's chain). Every
// field stated must be non-empty UTF-8 without blank ends, every date ISO 8601's
// "YYYY-MM-DDTHH:MM:SS" with or without the Z.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "context.h"
#include "analyze.h"
#include "fileutil.h"
#include "fuzz_common.h"
#include "metadata.h"
#include "rtfread.h"

namespace {

bool valid_utf8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* const end = p + s.size();
  while (p < end) {
    const unsigned char b = *p++;
    if (b < 0x80) continue;
    int trail = b >= 0xC2 && b <= 0xDF   ? 1
                : b >= 0xE0 && b <= 0xEF ? 2
                : b >= 0xF0 && b <= 0xF4 ? 3
                                         : -1;
    if (trail < 0 || end - p < trail) return false;
    std::uint32_t c = b & (0x3F >> trail);
    for (int i = 0; i < trail; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      c = c << 6 | (*p & 0x3F);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[trail] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  }
  return true;
}

void check_text(const std::optional<std::string>& field) {
  if (!field) return;
  const std::string& s = *field;
  if (s.empty() || !valid_utf8(s)) std::abort();
  if (static_cast<unsigned char>(s.front()) <= ' ' || static_cast<unsigned char>(s.back()) <= ' ')
    std::abort();
}

void check_date(const std::optional<std::string>& field) {
  if (!field) return;
  const std::string& s = *field;
  static const char kShape[] = "dddd-dd-ddTdd:dd:dd";
  if (s.size() != 19 && !(s.size() == 20 && s.back() == 'Z')) std::abort();
  for (std::size_t i = 0; i < 19; ++i) {
    const bool digit = s[i] >= '0' && s[i] <= '9';
    if (kShape[i] == 'd' ? !digit : s[i] != kShape[i]) std::abort();
  }
}

void check(const dorvex::Metadata& m) {
  check_text(m.title);
  check_text(m.subject);
  check_text(m.author);
  check_text(m.keywords);
  check_date(m.created);
  check_date(m.modified);
}

// A caller's code page reading that takes every code page: the parser's bounds, not the
// decoder's refusals, are what is exercised. Printable ASCII stays itself; every other byte
// becomes a letter (U+0100..U+01FF), never a blank: a built-in code page may make a character
// of bytes that, as their own values, are blanks (UTF-8's U+FFFD for "\x85\xA0", cp1252's
// ellipsis for 0x85, UTF-16's U+2020 for two spaces), and this reading must find at least the
// fields that one finds.
bool every_code_page(const void*, std::uint32_t, const unsigned char* b, std::size_t n,
                     std::string& out) {
  for (std::size_t i = 0; i < n; ++i) {
    const bool printable = b[i] > ' ' && b[i] < 0x7F;
    dorvex::append_utf8(out, printable ? b[i] : 0x100u + b[i]);
  }
  return true;
}

void read_rtf(std::uint8_t* data, std::size_t size) {
  std::FILE* f = fmemopen(data, size, "rb");
  if (!f) return;
  dorvex::Metadata m;
  try {
    dorvex::parse_rtf(f, nullptr, 0, &m);
  } catch (const dorvex::ProgramEnd&) {
  }
  std::fclose(f);
  dorvex::release_rtf_charsets();
  check(m);
}

void read_compound_file(std::uint8_t* data, std::size_t size) {
  std::FILE* f = fmemopen(data, size, "rb");
  if (!f) return;
  dorvex::Metadata m;
  dorvex::set_std_func();  // detection reads through the hooks
  try {
    dorvex::analyze_format(f, &m);
  } catch (const dorvex::ProgramEnd&) {
  }
  std::fclose(f);
  dorvex::ole_finish();  // a fatal end inside the container leaves it loaded
  dorvex::set_std_func();
  dorvex::ctx().get_unicode_char = nullptr;
  check(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_common::setup_readers();
  // An exact-size copy: the sanitizers see any read past its end.
  std::vector<std::uint8_t> bytes(data, data + size);
  if (size >= 4 && std::memcmp(data, "{\\rt", 4) == 0) {
    dorvex::reset_writer();
    read_rtf(bytes.data(), bytes.size());
    return 0;
  }
  if (size >= 8 && std::memcmp(data, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0) {
    dorvex::reset_writer();
    read_compound_file(bytes.data(), bytes.size());
    return 0;
  }
  dorvex::Metadata builtin, taking_all;
  dorvex::parse_summary_information(bytes.data(), bytes.size(), builtin);
  const bool read = dorvex::parse_summary_information(bytes.data(), bytes.size(), taking_all,
                                                      {every_code_page, nullptr});
  check(builtin);
  check(taking_all);
  // The built-in reading refuses more: it never finds a field the other does not.
  if (!read && dorvex::has_any(builtin)) std::abort();
  if ((builtin.title && !taking_all.title) || (builtin.subject && !taking_all.subject) ||
      (builtin.author && !taking_all.author) || (builtin.keywords && !taking_all.keywords) ||
      builtin.created != taking_all.created || builtin.modified != taking_all.modified)
    std::abort();
  return 0;
}
