#include "metadata.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "numutils.h"

namespace dorvex {

namespace {

// ---- limits ----
// Bytes of a summary information stream read. Real ones hold a few hundred bytes of properties,
// and a thumbnail image of up to some hundred kilobytes that may come before them; properties
// further in are left out.
constexpr std::size_t kMaxSummaryBytes = std::size_t(1) << 20;
// Property sets the stream's header may list before the summary's own is found (the format has
// one or two).
constexpr std::uint32_t kMaxPropertySets = 16;
// Properties of one set looked at; real sets hold about twenty.
constexpr std::uint32_t kMaxProperties = 1024;
// Bytes of one string property read: no title needs more, and a hostile length costs no more.
constexpr std::size_t kMaxPropertyText = 65536;
// Directory entries walked to find the root storage's children.
constexpr std::size_t kMaxDirectoryEntries = std::size_t(1) << 22;

// ---- the property set stream ----
constexpr std::size_t kPsByteOrder = 0, kPsSetCount = 24, kPsSets = 28, kPsSetEntry = 20,
                      kPsSetOffset = 16;  // in a set's entry: FMTID, then its offset
constexpr std::size_t kSetProperties = 4, kSetPairs = 8, kPairSize = 8, kPairOffset = 4;
constexpr std::size_t kValueType = 0, kValueData = 4;
constexpr int kByteOrderMark = 0xFFFE;

// F29F85E0-4FF9-1068-AB91-08002B27B3D9 as stored: the first three fields little-endian.
constexpr std::array<unsigned char, 16> kSummaryFormat = {
    0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

constexpr std::uint32_t kPidCodePage = 1, kPidTitle = 2, kPidSubject = 3, kPidAuthor = 4,
                        kPidKeywords = 5, kPidCreated = 12, kPidSaved = 13;
constexpr std::uint16_t kVtI2 = 2, kVtI4 = 3, kVtLpstr = 0x1E, kVtLpwstr = 0x1F, kVtFiletime = 0x40;

constexpr std::uint32_t kUtf16Le = 1200, kUtf16Be = 1201, kUtf8 = 65001, kAscii = 20127,
                        kLatin1 = 28591, kWindows1252 = 1252;

// ---- the compound file's directory ----
constexpr std::size_t kEntrySize = 128, kEntNameLen = 0x40, kEntType = 0x42, kEntLeft = 0x44,
                      kEntRight = 0x48, kEntChild = 0x4C;
constexpr std::size_t kEntNameUnits = 32;
constexpr int kRootType = 5;
constexpr std::string_view kSummaryName = "\005SummaryInformation";

// Whether a directory entry's name is name, ASCII letters compared without regard to case
// (compound-file names compare so, and real files differ in case).
bool entry_named(const unsigned char* e, std::string_view name) {
  if (name.size() >= kEntNameUnits || getshort(e, kEntNameLen) != int(name.size() + 1) * 2)
    return false;
  auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned unit = unsigned(getshort(e, 2 * i));
    if (lower(unit) != lower(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

struct EntryCloser {
  void operator()(OleStream* s) const { ole_close(s); }
};

// 0x80..0x9F of cp1252; 0: undefined there.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// A view whose ok stays false after the first read outside it.
struct ByteView {
  const unsigned char* data;
  std::size_t size;
  bool ok = true;
  bool has(std::size_t off, std::size_t n) const { return off <= size && n <= size - off; }
  std::uint16_t u16(std::size_t off) {
    if (!has(off, 2)) return fail();
    return static_cast<std::uint16_t>(getshort(data, off));
  }
  std::uint32_t u32(std::size_t off) {
    if (!has(off, 4)) return fail();
    return getulong(data, off);
  }
  std::uint16_t fail() {
    ok = false;
    return 0;
  }
};

// Code pages in which ASCII bytes stand for themselves: ASCII-only text reads the same in them
// as in cp1252. The EBCDIC pages, UTF-7 and the ISO 2022 and HZ encodings are not among them.
// 0, a set that states no code page, is taken as one of them: the writers of these files all
// keep ASCII.
bool keeps_ascii(std::uint32_t cp) {
  return cp == 0 || (cp >= 1250 && cp <= 1258) || cp == 874 || cp == 932 || cp == 936 ||
         cp == 949 || cp == 950 || cp == 1361 || cp == 437 || (cp >= 737 && cp <= 775) ||
         (cp >= 850 && cp <= 869) || (cp >= 10000 && cp <= 10082) || cp == 20866 || cp == 21866 ||
         (cp >= 28591 && cp <= 28606) || cp == 51932 || cp == 51949 || cp == 54936 || cp == kAscii;
}

void decode_utf16(const unsigned char* b, std::size_t size, bool big_endian, std::string& out) {
  auto unit = [&](std::size_t i) -> std::uint32_t {
    return big_endian ? std::uint32_t(b[i] << 8 | b[i + 1]) : std::uint32_t(b[i] | b[i + 1] << 8);
  };
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < size) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    append_utf8(out, u);  // a lone surrogate becomes U+FFFD there
  }
}

// UTF-8 as it is where well-formed; one U+FFFD for each maximal ill-formed subpart.
void decode_utf8(const unsigned char* p, std::size_t size, std::string& out) {
  const unsigned char* const end = p + size;
  while (p < end) {
    const unsigned char b = *p;
    if (b < 0x80) {
      out += char(b);
      ++p;
      continue;
    }
    // The trail bytes a lead byte takes, and the range of the first (no overlong forms, no
    // surrogates, nothing beyond U+10FFFF).
    const int trail = b < 0xC2 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : 0;
    unsigned char lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    int i = 1;
    for (; i <= trail && end - p > i && p[i] >= lo && p[i] <= hi; ++i) {
      lo = 0x80;
      hi = 0xBF;
    }
    if (trail != 0 && i == trail + 1) {
      out.append(reinterpret_cast<const char*>(p), std::size_t(i));
    } else {
      append_utf8(out, 0xFFFD);
    }
    p += i;
  }
}

// The bytes of a string property up to its first 0 (in units of two bytes for UTF-16).
std::size_t text_length(const unsigned char* b, std::size_t size, bool wide) {
  if (!wide) {
    const void* nul = std::memchr(b, 0, size);
    return nul ? std::size_t(static_cast<const unsigned char*>(nul) - b) : size;
  }
  std::size_t n = 0;
  while (n + 1 < size && (b[n] | b[n + 1]) != 0) n += 2;
  return n;
}

void set_text(std::optional<std::string>& field, std::string&& text) {
  if (!field && trim_field(text)) field = std::move(text);
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's days_from_civil, reversed).
void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = std::int64_t(yoe) + era * 400 + (m <= 2);
}

// A FILETIME (100-nanosecond steps since 1601-01-01 UTC) as ISO 8601. Absent for a time on the
// era's first day, which is no date: 0 is "never set", and Word 6 writes a few minutes there
// (an editing time, it seems); absent too for years ISO 8601's four digits cannot write.
std::optional<std::string> filetime_text(std::uint64_t ticks) {
  constexpr std::uint64_t kTicksPerDay = 864000000000;
  if (ticks < kTicksPerDay) return std::nullopt;
  constexpr std::int64_t kDays1601To1970 = 134774;
  const std::uint64_t seconds = ticks / 10000000;
  const auto days = static_cast<std::int64_t>(seconds / 86400);
  const auto in_day = static_cast<unsigned>(seconds % 86400);
  std::int64_t year;
  unsigned month, day;
  civil_from_days(days - kDays1601To1970, year, month, day);
  if (year > 9999) return std::nullopt;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02uZ", int(year), month, day,
                in_day / 3600, in_day / 60 % 60, in_day % 60);
  return std::string(text);
}

std::optional<std::string>* text_field(Metadata& m, std::uint32_t pid) {
  switch (pid) {
    case kPidTitle:
      return &m.title;
    case kPidSubject:
      return &m.subject;
    case kPidAuthor:
      return &m.author;
    case kPidKeywords:
      return &m.keywords;
    case kPidCreated:
      return &m.created;
    case kPidSaved:
      return &m.modified;
    default:
      return nullptr;
  }
}

// One property's value at off (inside the view), by its type.
void read_property(ByteView& v, std::size_t off, std::uint32_t pid, std::uint32_t code_page,
                   const CodePageDecoder& decode, Metadata& out) {
  std::optional<std::string>* field = text_field(out, pid);
  if (!field || *field) return;
  const std::uint16_t type = v.u16(off + kValueType);
  const std::uint32_t count = v.u32(off + kValueData);  // a FILETIME's low half
  if (!v.ok) return;
  const std::size_t data = off + kValueData + 4;
  if (pid == kPidCreated || pid == kPidSaved) {
    const std::uint32_t high = v.u32(data);
    if (v.ok && type == kVtFiletime) *field = filetime_text(std::uint64_t(high) << 32 | count);
    return;
  }
  // Strings: VT_LPSTR counts bytes (UTF-16 when the set's code page is 1200), VT_LPWSTR counts
  // UTF-16 units. A count beyond the stream reads what there is.
  std::size_t bytes;
  bool wide;
  if (type == kVtLpstr) {
    bytes = count;
    wide = code_page == kUtf16Le;
  } else if (type == kVtLpwstr) {
    bytes = std::size_t(count) * 2;
    wide = true;
  } else {
    return;
  }
  if (!v.has(data, 0)) return;
  const std::size_t available = v.size - data;
  const std::size_t taken = std::min({bytes, available, kMaxPropertyText});
  const unsigned char* text = v.data + data;
  const std::size_t length = text_length(text, taken, wide);
  // A count beyond the stream is believed up to the string's 0; without one, the string was
  // cut by the end of a damaged stream and is left out.
  if (bytes > available && length + (wide ? 1 : 0) >= taken) return;
  bytes = length;
  std::string utf8;
  if (wide) {
    decode_utf16(text, bytes, false, utf8);
  } else {
    std::string decoded;
    if (!decode.decode || !decode.decode(decode.context, code_page, text, bytes, decoded)) return;
    // Held to what a field promises whatever the caller's reading gave: valid UTF-8, and no 0
    // byte (a byte its table leaves undefined), which would cut the field where it is handed
    // over as a C string.
    decode_utf8(reinterpret_cast<const unsigned char*>(decoded.data()), decoded.size(), utf8);
    for (std::size_t at = utf8.find('\0'); at != std::string::npos; at = utf8.find('\0', at)) {
      utf8.replace(at, 1, "\xEF\xBF\xBD");
    }
  }
  set_text(*field, std::move(utf8));
}

}  // namespace

bool has_any(const Metadata& m) {
  return m.title || m.subject || m.author || m.keywords || m.created || m.modified;
}

void append_utf8(std::string& out, std::uint32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    const char s[] = {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
    out.append(s, 2);
  } else if (c < 0x10000) {
    const char s[] = {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    out.append(s, 3);
  } else {
    const char s[] = {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)),
                      char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    out.append(s, 4);
  }
}

bool trim_field(std::string& s) {
  // Control characters count as blank (a title of one field mark is no title), and so do the
  // Unicode spaces writers pad fields with: no-break, ideographic, the typographic ones, and the
  // byte order mark.
  static constexpr std::string_view kBlanks[] = {
      "\xC2\x85",     "\xC2\xA0",     "\xE3\x80\x80", "\xE2\x80\x80", "\xE2\x80\x81",
      "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
      "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\x8B",
      "\xE2\x80\xAF", "\xE2\x81\x9F", "\xEF\xBB\xBF"};
  auto blank_at = [](std::string_view v, bool front) -> std::size_t {
    if (v.empty()) return 0;
    const unsigned char edge = static_cast<unsigned char>(front ? v.front() : v.back());
    if (edge <= ' ') return 1;
    for (std::string_view b : kBlanks) {
      if (front ? v.starts_with(b) : v.ends_with(b)) return b.size();
    }
    return 0;
  };
  std::string_view v = s;
  while (std::size_t n = blank_at(v, true)) v.remove_prefix(n);
  while (std::size_t n = blank_at(v, false)) v.remove_suffix(n);
  s = std::string(v);
  return !s.empty();
}

bool decode_code_page(const void*, std::uint32_t code_page, const unsigned char* bytes,
                      std::size_t size, std::string& out) {
  switch (code_page) {
    case kUtf8:
      decode_utf8(bytes, size, out);
      return true;
    case kUtf16Le:
    case kUtf16Be:
      decode_utf16(bytes, size, code_page == kUtf16Be, out);
      return true;
    case kWindows1252:
    case kLatin1:
      for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        std::uint32_t u = b;
        if (code_page == kWindows1252 && b >= 0x80 && b < 0xA0) {
          u = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : 0xFFFD;
        }
        append_utf8(out, u);
      }
      return true;
    default:
      if (!keeps_ascii(code_page)) return false;
      for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] >= 0x80) return false;
      }
      out.append(reinterpret_cast<const char*>(bytes), size);
      return true;
  }
}

bool parse_summary_information(const unsigned char* data, std::size_t size, Metadata& out,
                               CodePageDecoder decode) {
  ByteView v{data, size};
  const std::uint16_t order = v.u16(kPsByteOrder);
  const std::uint32_t sets = std::min(v.u32(kPsSetCount), kMaxPropertySets);
  if (!v.ok || order != kByteOrderMark) return false;
  std::size_t set = 0;
  bool found = false;
  for (std::uint32_t i = 0; i < sets && !found; ++i) {
    const std::size_t entry = kPsSets + std::size_t(i) * kPsSetEntry;
    if (!v.has(entry, kPsSetEntry)) return false;
    if (std::memcmp(data + entry, kSummaryFormat.data(), kSummaryFormat.size()) == 0) {
      set = v.u32(entry + kPsSetOffset);
      found = true;
    }
  }
  if (!found) return false;
  // The set's own size is not trusted: writers get it wrong, and the stream's end bounds every
  // read anyway.
  const std::uint32_t stated = v.u32(set + kSetProperties);
  if (!v.ok) return false;
  const std::size_t room = (size - set - kSetPairs) / kPairSize;
  const std::size_t pairs = std::min<std::size_t>({stated, room, kMaxProperties});
  if (!v.has(set + kSetPairs, 0)) return false;
  // The code page first: the strings may come before it.
  std::uint32_t code_page = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t pair = set + kSetPairs + i * kPairSize;
    if (v.u32(pair) != kPidCodePage) continue;
    const std::size_t off = set + std::size_t(v.u32(pair + kPairOffset));
    const std::uint16_t type = v.u16(off + kValueType);
    const std::uint16_t value = v.u16(off + kValueData);
    if (v.ok && (type == kVtI2 || type == kVtI4)) code_page = value;  // stored signed: 65001 too
    v.ok = true;
    break;
  }
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t pair = set + kSetPairs + i * kPairSize;
    const std::uint32_t pid = v.u32(pair);
    const std::uint32_t off = v.u32(pair + kPairOffset);
    // Offsets are from the set's start; one past the stream is dropped with its property.
    if (v.ok && off <= size - set) read_property(v, set + off, pid, code_page, decode, out);
    v.ok = true;
  }
  return true;
}

std::size_t find_in_root_storage(const unsigned char* dir, std::size_t entries,
                                 std::string_view name) {
  if (!dir) return kNoEntry;
  entries = std::min(entries, kMaxDirectoryEntries);
  // The root is the first entry of its type, as the compound-file reader finds it.
  std::size_t root = 0;
  while (root < entries && dir[root * kEntrySize + kEntType] != kRootType) ++root;
  if (root == entries) return kNoEntry;
  // The root's children are a tree of siblings under its child link. Each entry is visited
  // once, so a looped tree ends.
  std::vector<bool> seen(entries);
  std::vector<std::size_t> todo;
  auto visit = [&](std::uint32_t link) {
    if (link < entries && !seen[link]) {
      seen[link] = true;
      todo.push_back(link);
    }
  };
  visit(getulong(dir, root * kEntrySize + kEntChild));
  while (!todo.empty()) {
    const std::size_t e = todo.back();
    todo.pop_back();
    if (entry_named(dir + e * kEntrySize, name)) return e;
    visit(getulong(dir, e * kEntrySize + kEntLeft));
    visit(getulong(dir, e * kEntrySize + kEntRight));
  }
  return kNoEntry;
}

void read_summary_information(std::FILE* container, Metadata& out, CodePageDecoder decode) {
  const std::size_t index =
      find_in_root_storage(properties, std::size_t(std::max(propNumber, 0)), kSummaryName);
  if (index == kNoEntry) return;
  // The entry is made as the enumeration makes it, which then goes on where it stood.
  const std::int32_t resume = propCurNumber;
  propCurNumber = static_cast<std::int32_t>(index);
  std::unique_ptr<OleStream, EntryCloser> entry(ole_readdir(container));
  propCurNumber = resume;
  if (!entry || ole_open(entry.get()) != 0) return;
  // The stated size is bounded by the sectors the entry has, which the file holds.
  std::vector<unsigned char> bytes(std::min<std::size_t>(entry->size, kMaxSummaryBytes));
  if (bytes.empty()) return;
  bytes.resize(ole_read(bytes.data(), 1, bytes.size(), entry.get()));
  parse_summary_information(bytes.data(), bytes.size(), out, decode);
}

}  // namespace dorvex
