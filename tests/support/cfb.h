// A compound-file writer for tests and fixtures: builds a container from named streams and
// storages, with 512- or 4096-byte sectors, short streams in the root's short-sector container,
// MSAT sectors once the BBD outgrows the header's 109 entries, and switches that damage the
// result in the ways a hostile file would. Header-only, no dependencies beyond the library.
#ifndef DORVEX_TESTS_CFB_H
#define DORVEX_TESTS_CFB_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace cfb {

constexpr std::int32_t kFree = -1, kEndOfChain = -2, kBbdSector = -3, kMsatSector = -4;
constexpr std::uint32_t kShortLimit = 4096;  // smaller streams go to short sectors

struct Entry {
  std::string name;
  std::string data;
  int type = 2;             // 1 storage, 2 stream (the root entry is added by build)
  bool big = false;         // ordinary sectors even below 4096 bytes
  int name_len = -1;        // stored name length in bytes; -1: (chars + 1) * 2
  std::int64_t size = -1;   // stored size; -1: data.size()
  std::int64_t first = -3;  // stored first block; -3: where the data was put
  std::int64_t bad_link = 0;  // nonzero: the link after the first block is set to this
};

struct Options {
  int sector_shift = 9;       // 9: 512-byte sectors, 12: 4096-byte sectors
  int short_shift = 6;        // 64-byte short sectors
  int header_shift = -1;      // >= 0: written in place of sector_shift (layout unchanged)
  int header_short_shift = -1;
  std::int64_t bbd_count = -1;    // >= 0: written in place of the number of BBD sectors
  std::int64_t prop_start = -3;   // != -3: written in place of the directory start
  std::int32_t min_bbd_sectors = 0;  // at least this many BBD sectors (> 109: MSAT sectors)
  std::int32_t pad_sectors = 0;      // unused sectors ahead of the data (high sector numbers)
  bool no_root = false;              // the root entry gets type 1
  bool empty_before_root = false;    // entry 0 is empty (type 0), the root is entry 1
  bool loop_sbd = false;             // the SBD chain's last link points to its first sector
  bool loop_dir = false;             // the directory chain's last link points to its first
  bool loop_msat = false;            // the last MSAT sector points to the first
  std::int64_t truncate = -1;        // >= 0: the file is cut to this many bytes
};

// Where build put things, for tests that patch the result.
struct Layout {
  std::int32_t sector_size = 0;
  std::int32_t first_sector = 0;  // offset of sector 0
  std::vector<std::int32_t> bbd, msat, dir, sbd, root;
  std::vector<std::int32_t> first;  // first block of each entry given to build (-2: none)
  long offset(std::int32_t sector) const { return first_sector + long(sector) * sector_size; }
  // Offset of the directory entry of entries[i] (the root is entry 0, or 1 after an empty one).
  std::size_t entry_offset(std::size_t index) const {
    std::size_t per = std::size_t(sector_size) / 128;
    return std::size_t(offset(dir[index / per])) + (index % per) * 128;
  }
};

inline void put16(std::string& f, std::size_t off, std::uint32_t v) {
  f[off] = char(v & 0xFF);
  f[off + 1] = char((v >> 8) & 0xFF);
}
inline void put32(std::string& f, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) f[off + i] = char((v >> (8 * i)) & 0xFF);
}
inline std::uint32_t get32(const std::string& f, std::size_t off) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | std::uint8_t(f[off + i]);
  return v;
}

namespace detail {

inline std::int32_t ceil_div(std::int64_t a, std::int64_t b) { return std::int32_t((a + b - 1) / b); }

// Appends a chain of n sectors (or short sectors) starting at *next to table, returns its first.
inline std::int32_t chain(std::vector<std::int32_t>& table, std::int32_t* next, std::int32_t n) {
  if (n == 0) return kEndOfChain;
  std::int32_t first = *next;
  for (std::int32_t i = 0; i < n; ++i) {
    if (table.size() <= std::size_t(first + i)) table.resize(std::size_t(first + i) + 1, kFree);
    table[std::size_t(first + i)] = i + 1 < n ? first + i + 1 : kEndOfChain;
  }
  *next += n;
  return first;
}

inline void dir_entry(std::string& d, std::size_t at, const std::string& name, int type,
                      int name_len, std::int32_t first, std::uint32_t size, std::int32_t child,
                      std::int32_t right) {
  std::size_t units = std::min<std::size_t>(name.size(), 32);
  for (std::size_t i = 0; i < units; ++i) put16(d, at + 2 * i, std::uint8_t(name[i]));
  put16(d, at + 0x40, name_len >= 0 ? std::uint32_t(name_len) : std::uint32_t((units + 1) * 2));
  d[at + 0x42] = char(type);
  d[at + 0x43] = 1;  // black
  put32(d, at + 0x44, std::uint32_t(kFree));
  put32(d, at + 0x48, std::uint32_t(right));
  put32(d, at + 0x4C, std::uint32_t(child));
  put32(d, at + 0x74, std::uint32_t(first));
  put32(d, at + 0x78, size);
}

}  // namespace detail

// Builds the container. Entries are written in order after the root entry, as siblings under it.
inline std::string build(const std::vector<Entry>& entries, const Options& opt = {},
                         Layout* layout_out = nullptr) {
  using detail::ceil_div;
  const std::int32_t S = std::int32_t(1) << opt.sector_shift;
  const std::int32_t s = std::int32_t(1) << opt.short_shift;
  Layout L;
  L.sector_size = S;
  L.first_sector = std::max<std::int32_t>(512, S);

  // Short sectors: the short streams, one after another, in the root's container.
  std::vector<std::int32_t> sbd;
  std::int32_t next_short = 0;
  std::vector<std::int32_t> first(entries.size(), kEndOfChain);
  std::vector<bool> in_short(entries.size(), false);
  std::string mini;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.type != 2 || e.big || e.data.size() >= kShortLimit) continue;
    in_short[i] = true;
    std::int32_t n = ceil_div(std::int64_t(e.data.size()), s);
    first[i] = detail::chain(sbd, &next_short, n);
    mini += e.data;
    mini.resize(std::size_t(next_short) * std::size_t(s), '\0');
  }

  // Ordinary sectors: padding, big streams, the short-sector container, SBD, directory.
  std::vector<std::int32_t> bbd(std::size_t(opt.pad_sectors), kFree);
  std::int32_t next = opt.pad_sectors;
  std::vector<std::string> sector_data;  // contents of sectors from pad_sectors on
  auto place = [&](const std::string& bytes, std::int32_t n) {
    std::int32_t f = detail::chain(bbd, &next, n);
    for (std::int32_t k = 0; k < n; ++k) {
      std::string one = bytes.substr(std::min(bytes.size(), std::size_t(k) * S), std::size_t(S));
      one.resize(std::size_t(S), '\0');
      sector_data.push_back(one);
    }
    return f;
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.type != 2 || in_short[i]) continue;
    first[i] = place(e.data, ceil_div(std::int64_t(e.data.size()), S));
  }
  std::int32_t root_first = place(mini, ceil_div(std::int64_t(mini.size()), S));
  for (std::int32_t k = 0; root_first >= 0 && k < ceil_div(std::int64_t(mini.size()), S); ++k)
    L.root.push_back(root_first + k);

  std::string sbd_bytes;
  for (std::int32_t v : sbd) sbd_bytes.append(4, '\0'), put32(sbd_bytes, sbd_bytes.size() - 4, std::uint32_t(v));
  std::int32_t sbd_n = ceil_div(std::int64_t(sbd_bytes.size()), S);
  sbd_bytes.resize(std::size_t(sbd_n) * S, char(0xFF));
  std::int32_t sbd_first = place(sbd_bytes, sbd_n);
  for (std::int32_t k = 0; k < sbd_n; ++k) L.sbd.push_back(sbd_first + k);

  // Directory: [empty], root, entries; padded with empty entries to whole sectors.
  std::size_t count = entries.size() + 1 + (opt.empty_before_root ? 1 : 0);
  std::int32_t dir_n = ceil_div(std::int64_t(count) * 128, S);
  std::string dir(std::size_t(dir_n) * S, '\0');
  std::size_t base = opt.empty_before_root ? 1 : 0;
  detail::dir_entry(dir, base * 128, "Root Entry", opt.no_root ? 1 : 5, -1, root_first,
                    std::uint32_t(mini.size()), entries.empty() ? kFree : std::int32_t(base + 1),
                    kFree);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    std::int32_t f = e.first != -3 ? std::int32_t(e.first) : first[i];
    std::uint32_t size = e.size >= 0 ? std::uint32_t(e.size) : std::uint32_t(e.data.size());
    std::int32_t right = i + 1 < entries.size() ? std::int32_t(base + 2 + i) : kFree;
    detail::dir_entry(dir, (base + 1 + i) * 128, e.name, e.type, e.name_len, f,
                      e.type == 2 ? size : 0, kFree, right);
  }
  std::int32_t dir_first = place(dir, dir_n);
  for (std::int32_t k = 0; k < dir_n; ++k) L.dir.push_back(dir_first + k);

  // BBD and MSAT sectors follow; their number depends on the total.
  const std::int32_t per_bbd = S / 4, per_msat = S / 4 - 1;
  std::int32_t nb = 1, nm = 0;
  for (;;) {
    std::int32_t total = next + nb + nm;
    std::int32_t want_b = std::max(opt.min_bbd_sectors, ceil_div(total, per_bbd));
    std::int32_t want_m = want_b > 109 ? ceil_div(want_b - 109, per_msat) : 0;
    if (want_b == nb && want_m == nm) break;
    nb = std::max(nb, want_b);
    nm = want_m;
  }
  for (std::int32_t k = 0; k < nb; ++k) L.bbd.push_back(next + k);
  for (std::int32_t k = 0; k < nm; ++k) L.msat.push_back(next + nb + k);
  bbd.resize(std::size_t(nb) * per_bbd, kFree);
  for (std::int32_t v : L.bbd) bbd[std::size_t(v)] = kBbdSector;
  for (std::int32_t v : L.msat) bbd[std::size_t(v)] = kMsatSector;
  if (opt.loop_sbd && !L.sbd.empty()) bbd[std::size_t(L.sbd.back())] = L.sbd.front();
  if (opt.loop_dir) bbd[std::size_t(L.dir.back())] = L.dir.front();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].bad_link || first[i] < 0) continue;
    std::vector<std::int32_t>& t = in_short[i] ? sbd : bbd;
    t[std::size_t(first[i])] = std::int32_t(entries[i].bad_link);
  }
  if (!sbd.empty()) {  // bad links of short streams go into the SBD's sectors
    for (std::size_t k = 0; k < sbd.size(); ++k) {
      std::int32_t sec = L.sbd[k * 4 / std::size_t(S)];
      put32(sector_data[std::size_t(sec - opt.pad_sectors)], (k * 4) % std::size_t(S),
            std::uint32_t(sbd[k]));
    }
  }

  // Header.
  std::string f(std::size_t(L.first_sector), '\0');
  const unsigned char sign[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (int i = 0; i < 8; ++i) f[std::size_t(i)] = char(sign[i]);
  put16(f, 0x18, 0x3E);
  put16(f, 0x1A, S == 4096 ? 4 : 3);
  put16(f, 0x1C, 0xFFFE);
  put16(f, 0x1E, std::uint32_t(opt.header_shift >= 0 ? opt.header_shift : opt.sector_shift));
  put16(f, 0x20,
        std::uint32_t(opt.header_short_shift >= 0 ? opt.header_short_shift : opt.short_shift));
  if (S == 4096) put32(f, 0x28, std::uint32_t(dir_n));
  put32(f, 0x2C, std::uint32_t(opt.bbd_count >= 0 ? opt.bbd_count : nb));
  put32(f, 0x30, std::uint32_t(opt.prop_start != -3 ? opt.prop_start : dir_first));
  put32(f, 0x38, kShortLimit);
  put32(f, 0x3C, std::uint32_t(sbd_n ? sbd_first : kEndOfChain));
  put32(f, 0x40, std::uint32_t(sbd_n));
  put32(f, 0x44, std::uint32_t(nm ? L.msat.front() : kEndOfChain));
  put32(f, 0x48, std::uint32_t(nm));
  for (int i = 0; i < 109; ++i)
    put32(f, 0x4C + 4 * std::size_t(i), std::uint32_t(i < nb ? L.bbd[std::size_t(i)] : kFree));

  // Sectors: padding, data, BBD, MSAT.
  f.resize(std::size_t(L.first_sector) + std::size_t(opt.pad_sectors) * S, '\0');
  for (const std::string& one : sector_data) f += one;
  for (std::int32_t k = 0; k < nb; ++k) {
    std::string one(std::size_t(S), '\0');
    for (std::int32_t j = 0; j < per_bbd; ++j)
      put32(one, std::size_t(j) * 4, std::uint32_t(bbd[std::size_t(k * per_bbd + j)]));
    f += one;
  }
  for (std::int32_t k = 0; k < nm; ++k) {
    std::string one(std::size_t(S), char(0xFF));
    for (std::int32_t j = 0; j < per_msat; ++j) {
      std::int32_t idx = 109 + k * per_msat + j;
      if (idx < nb) put32(one, std::size_t(j) * 4, std::uint32_t(L.bbd[std::size_t(idx)]));
    }
    std::int32_t link = k + 1 < nm ? L.msat[std::size_t(k + 1)]
                                   : (opt.loop_msat ? L.msat.front() : kEndOfChain);
    put32(one, std::size_t(S) - 4, std::uint32_t(link));
    f += one;
  }
  if (opt.truncate >= 0 && std::size_t(opt.truncate) < f.size()) f.resize(std::size_t(opt.truncate));
  L.first = first;
  if (layout_out) *layout_out = L;
  return f;
}

}  // namespace cfb

#endif  // DORVEX_TESTS_CFB_H
