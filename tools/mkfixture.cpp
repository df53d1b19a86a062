// Writes test inputs: mkfixture <kind> <output file> [args]. Kinds are listed by running it bare.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfb.h"

namespace {

const char kUsage[] =
    "usage: mkfixture <kind> <output file> [args]\n"
    "kinds:\n"
    "  ole <out> [container options] NAME=FILE ... [--storage=NAME ...]\n"
    "      a compound file holding each FILE as stream NAME (in order; storages are added\n"
    "      where they stand on the command line)\n"
    "  word97 <out> <textfile> [--16bit] [header options] [container options]\n"
    "      a minimal Word 97 document: a compound file whose WordDocument stream is a\n"
    "      128-byte header (magic 0xA5EC, text start at offset 24, text end at offset 28)\n"
    "      and the text, plus a small 1Table stream. The text file's newlines become\n"
    "      paragraph marks (13); its bytes are stored as they are, or with --16bit decoded\n"
    "      as UTF-8 and stored as UTF-16LE units with flag 0x1000\n"
    "  wordplain <out> <textfile> [--16bit] [header options]\n"
    "      the same document as a plain-header Word file: bytes DB A5, the header, the text\n"
    "header options (numbers in C notation):\n"
    "  --flags=N       flags at offset 10 (default 0, or 0x1000 with --16bit)\n"
    "  --key=N         encryption key at offset 14\n"
    "  --mac           creation environment byte 18 set to 1\n"
    "  --charset=N     character set at offset 20\n"
    "  --version=N     file information block version at offset 2 (default 193)\n"
    "  --product=N     product version at offset 4; --lang=N language at offset 6\n"
    "  --gap=N         N zero bytes between the header and the text (moves the text start)\n"
    "  --textstart=N   text start written at offset 24 (default: where the text is)\n"
    "  --textend=N     text end written at offset 28 (default: text start + text bytes)\n"
    "container options:\n"
    "  --sector=N      N-byte sectors, 128 to 65536 (default 512; real files: 512, 4096)\n"
    "  --short=N       short-sector shift (default 6: 64 bytes)\n"
    "  --shift=N       sector shift written in the header (the layout keeps its own)\n"
    "  --short-shift=N short-sector shift written in the header\n"
    "  --bbd-count=N   number of BBD sectors written in the header\n"
    "  --prop-start=N  first directory sector written in the header\n"
    "  --min-bbd=N     at least N BBD sectors (over 109 adds MSAT sectors)\n"
    "  --pad-sectors=N N unused sectors ahead of the data\n"
    "  --no-root       the root entry is written as a storage (type 1)\n"
    "  --empty-before-root  an empty entry (type 0) ahead of the root entry\n"
    "  --loop-sbd, --loop-dir, --loop-msat  the chain's last link points to its first sector\n"
    "  --truncate=N    the file is cut to N bytes\n"
    "  --name=S        the document stream's name (word97; default WordDocument)\n"
    "  --name-len=N    stored name length of the document stream (word97: its entry; ole: all)\n"
    "  --size=N        stored size of the document stream\n"
    "  --first=N       stored first block of the document stream\n"
    "  --bad-link=N    the document stream's second chain link is N\n"
    "  --big           the document stream in ordinary sectors even when short\n";

bool read_file(const char* path, std::string* out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::perror(path);
    return false;
  }
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->append(chunk, n);
  std::fclose(f);
  return true;
}

bool write_out(const char* path, const std::string& bytes) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::perror(path);
    if (f) std::fclose(f);
    return false;
  }
  return std::fclose(f) == 0;
}

// Value of "--key=N" when arg starts with key, else false.
bool opt_num(const char* arg, const char* key, std::int64_t* v) {
  std::size_t k = std::strlen(key);
  if (std::strncmp(arg, key, k) != 0 || arg[k] != '=') return false;
  *v = std::strtoll(arg + k + 1, nullptr, 0);
  return true;
}

struct Header {
  std::int64_t flags = -1, key = 0, charset = 0, version = 193, product = 0x6A62, lang = 0x0409;
  std::int64_t gap = 0, textstart = -1, textend = -1;
  bool mac = false, wide = false;
};

struct DocEntry {
  std::string name = "WordDocument";
  cfb::Entry e;
};

// Consumes one option into the header, container or document entry settings.
bool parse_option(const char* a, Header* h, cfb::Options* o, DocEntry* d) {
  std::int64_t v;
  if (!std::strcmp(a, "--16bit")) return h->wide = true;
  if (!std::strcmp(a, "--mac")) return h->mac = true;
  if (!std::strcmp(a, "--no-root")) return o->no_root = true;
  if (!std::strcmp(a, "--empty-before-root")) return o->empty_before_root = true;
  if (!std::strcmp(a, "--loop-sbd")) return o->loop_sbd = true;
  if (!std::strcmp(a, "--loop-dir")) return o->loop_dir = true;
  if (!std::strcmp(a, "--loop-msat")) return o->loop_msat = true;
  if (!std::strcmp(a, "--big")) return d->e.big = true;
  if (!std::strncmp(a, "--name=", 7)) {
    d->name = a + 7;
    return true;
  }
  if (opt_num(a, "--flags", &h->flags) || opt_num(a, "--key", &h->key) ||
      opt_num(a, "--charset", &h->charset) || opt_num(a, "--version", &h->version) ||
      opt_num(a, "--product", &h->product) || opt_num(a, "--lang", &h->lang) ||
      opt_num(a, "--gap", &h->gap) || opt_num(a, "--textstart", &h->textstart) ||
      opt_num(a, "--textend", &h->textend) || opt_num(a, "--bbd-count", &o->bbd_count) ||
      opt_num(a, "--prop-start", &o->prop_start) || opt_num(a, "--truncate", &o->truncate) ||
      opt_num(a, "--size", &d->e.size) || opt_num(a, "--first", &d->e.first) ||
      opt_num(a, "--bad-link", &d->e.bad_link))
    return true;
  if (opt_num(a, "--sector", &v)) {
    o->sector_shift = 7;
    while (o->sector_shift < 16 && (std::int64_t(1) << o->sector_shift) < v) ++o->sector_shift;
    return true;
  }
  if (opt_num(a, "--short", &v)) return o->short_shift = int(v), true;
  if (opt_num(a, "--shift", &v)) return o->header_shift = int(v), true;
  if (opt_num(a, "--short-shift", &v)) return o->header_short_shift = int(v), true;
  if (opt_num(a, "--min-bbd", &v)) return o->min_bbd_sectors = std::int32_t(v), true;
  if (opt_num(a, "--pad-sectors", &v)) return o->pad_sectors = std::int32_t(v), true;
  if (opt_num(a, "--name-len", &v)) return d->e.name_len = int(v), true;
  return false;
}

// UTF-8 to UTF-16LE units (no surrogates needed for test texts; larger values are cut).
std::string utf16le(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned c = std::uint8_t(s[i]);
    unsigned u = c, extra = 0;
    if (c >= 0xF0) u = c & 7, extra = 3;
    else if (c >= 0xE0) u = c & 15, extra = 2;
    else if (c >= 0xC0) u = c & 31, extra = 1;
    ++i;
    for (; extra && i < s.size(); --extra, ++i) u = u << 6 | (std::uint8_t(s[i]) & 63);
    out += char(u & 0xFF);
    out += char((u >> 8) & 0xFF);
  }
  return out;
}

// The Word document: header, gap, text. sign: the two first bytes.
std::string word_document(std::string text, const Header& h, unsigned sign) {
  for (char& c : text)
    if (c == '\n') c = '\r';
  if (h.wide) text = utf16le(text);
  std::string d(128, '\0');
  std::int64_t start = 128 + h.gap;
  std::int64_t flags = h.flags >= 0 ? h.flags : (h.wide ? 0x1000 : 0);
  cfb::put16(d, 0, sign);
  cfb::put16(d, 2, std::uint32_t(h.version));
  cfb::put16(d, 4, std::uint32_t(h.product));
  cfb::put16(d, 6, std::uint32_t(h.lang));
  cfb::put16(d, 10, std::uint32_t(flags));
  cfb::put32(d, 14, std::uint32_t(h.key));
  d[18] = h.mac ? 1 : 0;
  cfb::put16(d, 20, std::uint32_t(h.charset));
  std::int64_t ts = h.textstart >= 0 ? h.textstart : start;
  cfb::put32(d, 24, std::uint32_t(ts));
  cfb::put32(d, 28, std::uint32_t(h.textend >= 0 ? h.textend : start + std::int64_t(text.size())));
  d.append(std::size_t(h.gap), '\0');
  return d + text;
}

int make_word(int argc, char** argv, bool plain) {
  if (argc < 4) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  Header h;
  cfb::Options o;
  DocEntry d;
  for (int i = 4; i < argc; ++i) {
    if (!parse_option(argv[i], &h, &o, &d)) {
      std::fprintf(stderr, "mkfixture: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::string text;
  if (!read_file(argv[3], &text)) return 1;
  if (plain) return write_out(argv[2], word_document(text, h, 0xA5DB)) ? 0 : 1;
  d.e.name = d.name;
  d.e.data = word_document(text, h, 0xA5EC);
  cfb::Entry table;
  table.name = "1Table";
  table.data = std::string(64, '\0');
  return write_out(argv[2], cfb::build({d.e, table}, o)) ? 0 : 1;
}

int make_ole(int argc, char** argv) {
  Header h;
  cfb::Options o;
  DocEntry d;
  std::vector<cfb::Entry> entries;
  for (int i = 3; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strncmp(a, "--storage=", 10)) {
      cfb::Entry e;
      e.name = a + 10;
      e.type = 1;
      entries.push_back(e);
    } else if (!std::strncmp(a, "--", 2)) {
      if (!parse_option(a, &h, &o, &d)) {
        std::fprintf(stderr, "mkfixture: unknown option %s\n", a);
        return 2;
      }
    } else if (const char* eq = std::strchr(a, '=')) {
      cfb::Entry e;
      e.name.assign(a, eq);
      if (!read_file(eq + 1, &e.data)) return 1;
      entries.push_back(e);
    } else {
      std::fprintf(stderr, "mkfixture: expected NAME=FILE, got %s\n", a);
      return 2;
    }
  }
  for (cfb::Entry& e : entries) {
    e.name_len = d.e.name_len;
    e.big = d.e.big;
  }
  return write_out(argv[2], cfb::build(entries, o)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "ole")) return make_ole(argc, argv);
  if (!std::strcmp(argv[1], "word97")) return make_word(argc, argv, false);
  if (!std::strcmp(argv[1], "wordplain")) return make_word(argc, argv, true);
  std::fprintf(stderr, "mkfixture: unknown kind %s\n", argv[1]);
  return 2;
}
