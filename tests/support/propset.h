// A writer of property set streams ("\005SummaryInformation") for tests and fixtures: typed
// values, and switches that damage the result in the ways a hostile file would. Header-only.
#ifndef DORVEX_TESTS_PROPSET_H
#define DORVEX_TESTS_PROPSET_H

#include <cstdint>
#include <string>
#include <vector>

namespace propset {

constexpr std::uint16_t kI2 = 2, kI4 = 3, kLpstr = 0x1E, kLpwstr = 0x1F, kFiletime = 0x40;

inline void add16(std::string& s, std::uint32_t v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
inline void add32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF);
}
inline void pad4(std::string& s) {
  while (s.size() % 4) s += '\0';
}

struct Property {
  std::uint32_t pid;
  std::uint16_t type;
  std::string value;         // the bytes after the type and its padding
  std::int64_t offset = -1;  // >= 0: stored in place of where the value was put
};

// A code page string: its byte count (the 0 included), the bytes, a 0. count >= 0 replaces the
// stored count.
inline Property lpstr(std::uint32_t pid, const std::string& bytes, std::int64_t count = -1) {
  std::string v;
  add32(v, count >= 0 ? std::uint32_t(count) : std::uint32_t(bytes.size() + 1));
  v += bytes;
  v += '\0';
  pad4(v);
  return {pid, kLpstr, v};
}

// A UTF-16 string from its units: the unit count (the 0 included), the units, a 0 unit.
inline Property lpwstr(std::uint32_t pid, const std::u16string& units, std::int64_t count = -1) {
  std::string v;
  add32(v, count >= 0 ? std::uint32_t(count) : std::uint32_t(units.size() + 1));
  for (char16_t u : units) add16(v, u);
  add16(v, 0);
  pad4(v);
  return {pid, kLpwstr, v};
}

inline Property filetime(std::uint32_t pid, std::uint64_t ticks) {
  std::string v;
  add32(v, std::uint32_t(ticks));
  add32(v, std::uint32_t(ticks >> 32));
  return {pid, kFiletime, v};
}

inline Property code_page(std::uint16_t cp) {
  std::string v;
  add16(v, cp);
  add16(v, 0);
  return {1, kI2, v};
}

struct Options {
  std::uint16_t byte_order = 0xFFFE;
  bool other_set_first = false;      // a second set (another format) listed before this one
  bool wrong_format = false;         // the set's format identifier is not the summary's
  std::int64_t set_offset = -1;      // >= 0: stored in place of the set's offset
  std::int64_t property_count = -1;  // >= 0: stored in place of the number of properties
  std::int64_t set_count = -1;       // >= 0: stored in place of the number of sets
};

// The summary information's format identifier, as stored.
inline std::string summary_format() {
  return std::string("\xE0\x85\x9F\xF2\xF9\x4F\x68\x10\xAB\x91\x08\x00\x2B\x27\xB3\xD9", 16);
}

inline std::string build(const std::vector<Property>& props, const Options& opt = {}) {
  const std::uint32_t sets = opt.other_set_first ? 2 : 1;
  std::string s;
  add16(s, opt.byte_order);
  add16(s, 0);           // version
  add32(s, 0x00020005);  // system identifier
  s.append(16, '\0');    // class identifier
  add32(s, opt.set_count >= 0 ? std::uint32_t(opt.set_count) : sets);
  const std::size_t header = 28 + 20 * std::size_t(sets);
  // The other set: an empty one, placed after ours.
  std::string set;
  add32(set, 0);  // size, patched below
  add32(set,
        opt.property_count >= 0 ? std::uint32_t(opt.property_count) : std::uint32_t(props.size()));
  std::string values;
  const std::size_t table = 8 + 8 * props.size();
  for (const Property& p : props) {
    add32(set, p.pid);
    add32(set, p.offset >= 0 ? std::uint32_t(p.offset) : std::uint32_t(table + values.size()));
    add16(values, p.type);
    add16(values, 0);
    values += p.value;
    pad4(values);
  }
  set += values;
  const std::uint32_t set_size = std::uint32_t(set.size());
  for (int i = 0; i < 4; ++i) set[std::size_t(i)] = char((set_size >> (8 * i)) & 0xFF);
  const std::string other_format(16, '\x11');
  const std::uint32_t ours =
      opt.set_offset >= 0 ? std::uint32_t(opt.set_offset) : std::uint32_t(header);
  if (opt.other_set_first) {
    s += other_format;
    add32(s, std::uint32_t(header + set.size()));
  }
  s += opt.wrong_format ? other_format : summary_format();
  add32(s, ours);
  s += set;
  if (opt.other_set_first) {
    add32(s, 8);
    add32(s, 0);
  }
  return s;
}

}  // namespace propset

#endif  // DORVEX_TESTS_PROPSET_H
