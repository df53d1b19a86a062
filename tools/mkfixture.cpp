// Writes test inputs: mkfixture <kind> <output file> [args]. Kinds are listed by running it bare.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <algorithm>
#include <vector>

#include "cfb.h"
#include "propset.h"

namespace {

const char kUsage[] =
    "usage: mkfixture <kind> <output file> [args]\n"
    "kinds:\n"
    "  ole <out> [container options] NAME=FILE ... [--storage=NAME ...]\n"
    "      a compound file holding each FILE as stream NAME (in order; storages are added\n"
    "      where they stand on the command line)\n"
    "  word97 <out> <textfile> [--16bit] [word97 options] [header options] [container options]\n"
    "      a Word 97 document: a compound file whose WordDocument stream holds the file\n"
    "      information block (story lengths, piece table place), then the text, and whose\n"
    "      table stream holds the piece table. The text file's newlines become paragraph\n"
    "      marks (13); its bytes are stored as they are (8-bit pieces), or with --16bit\n"
    "      decoded as UTF-8 and stored as UTF-16LE units with flag 0x1000\n"
    "  word6 <out> <textfile> [word6 options] [header options] [container options]\n"
    "      a Word 6.0 document (nFib 101; --version=104 for Word 95): the WordDocument\n"
    "      stream alone, 8-bit text as the file's bytes, and a font table\n"
    "  wordplain <out> <textfile> [--16bit] [header options]\n"
    "      a plain-header Word file: bytes DB A5, a 128-byte header, the text\n"
    "  metadata <out> <variant>\n"
    "      a summary information stream (variants cp1252, wide, cp1200, utf8, two-sets,\n"
    "      far-offset, huge-counts, odd-types) or an RTF document with an \\info group\n"
    "      (rtf-info, rtf-upr)\n"
    "word97 options:\n"
    "  --pieces=N      the text in N pieces, stored last piece first with deleted text\n"
    "                  (\"DELETED\") between them, as fast saves leave them\n"
    "  --mixed         (with --16bit) every other piece 8-bit where its text allows\n"
    "  --footnotes=F, --headers=F, --annotations=F, --endnotes=F, --textboxes=F\n"
    "                  the stories after the main text, each from a text file\n"
    "  --table=NAME    the table stream's name (default 1Table; flag 0x0200 says 1Table)\n"
    "  --no-clx        no piece table (its length 0)\n"
    "  --clx-byte=N    the piece table starts with byte N instead of 2\n"
    "  --prc           a property entry ahead of the piece table\n"
    "  --first-fc=N    the first piece's stored place is N\n"
    "  --backwards     the second piece's start is stored after its end\n"
    "  --second-fc-add=N  the second piece's text is stored as N bytes further on\n"
    "  --clx-len=N     the piece table's length in the file information block is N\n"
    "  --csw=N         the count of 16-bit values at offset 32 is N\n"
    "  --ccp-text=N    the main text's length is N\n"
    "  --storage=NAME  a storage of that name beside the streams\n"
    "  --repeat-piece=N  the piece table lists the (one) piece N times over, each time for\n"
    "                  the next stretch of text, all at the same bytes\n"
    "  --lists         (word97, word6) paragraph properties: a text line may begin with\n"
    "                  #[S<style>][:<override>.<level>]| (word97: style 1 numbers from\n"
    "                  override 3; overrides 1-5 over three lists, see list_tables) or\n"
    "                  #W<outline level>,<format>,<start>,<before>,<after>[,p]| (word6: an\n"
    "                  autonumber; p: showing the levels above); the mark is taken off\n"
    "  --fuzz-seed     (word97, word6) instead of a compound file, an input of fuzz_worddoc:\n"
    "                  an options byte (1: \"1Table\"), the WordDocument stream's length\n"
    "                  (32-bit), the WordDocument stream, the table stream\n"
    "word6 options:\n"
    "  --complex       flag 0x0004 and a piece table in the WordDocument stream; with\n"
    "                  --pieces=N as for word97\n"
    "  --fonts=A,B,... the charsets of the font table's entries (default 0)\n"
"header options (numbers in C notation):\n"
    "  --flags=N       flags at offset 10 (default 0, or 0x1000 with --16bit)\n"
    "  --key=N         encryption key at offset 14\n"
    "  --mac           creation environment byte 18 set to 1\n"
    "  --charset=N     character set at offset 20\n"
    "  --version=N     file information block version at offset 2 (default 193)\n"
    "  --product=N     product version at offset 4; --lang=N language at offset 6\n"
    "  --gap=N         N zero bytes between the file information block and the text\n"
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
  std::int64_t flags = -1, key = 0, charset = 0, version = -1, product = 0x6A62, lang = 0x0409;
  std::int64_t gap = 0, textstart = -1, textend = -1;
  bool mac = false, wide = false;
  // Word 97 and Word 6 documents.
  std::int64_t pieces = 1, clx_byte = 2;
  std::int64_t first_fc = -1, clx_len = -1, csw = 14, ccp_text = -1, repeat = 0, second_fc_add = 0;
  bool backwards = false;
  std::vector<std::string> storages;  // word97: storages added beside the streams
  bool mixed = false, no_clx = false, prc = false, complex = false, fuzz_seed = false;
  bool lists = false;
  std::string table = "1Table";
  std::vector<std::string> story_files = std::vector<std::string>(5);  // ftn hdd atn edn txbx
  std::vector<int> fonts = {0};
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
  if (!std::strcmp(a, "--mixed")) return h->mixed = true;
  if (!std::strcmp(a, "--no-clx")) return h->no_clx = true;
  if (!std::strcmp(a, "--prc")) return h->prc = true;
  if (!std::strcmp(a, "--complex")) return h->complex = true;
  if (!std::strcmp(a, "--fuzz-seed")) return h->fuzz_seed = true;
  if (!std::strcmp(a, "--lists")) return h->lists = true;
  if (!std::strncmp(a, "--table=", 8)) return h->table = a + 8, true;
  static const char* const kStories[] = {"--footnotes=", "--headers=", "--annotations=",
                                         "--endnotes=", "--textboxes="};
  for (std::size_t k = 0; k < 5; ++k) {
    std::size_t n = std::strlen(kStories[k]);
    if (!std::strncmp(a, kStories[k], n)) return h->story_files[k] = a + n, true;
  }
  if (!std::strncmp(a, "--fonts=", 8)) {
    h->fonts.clear();
    for (const char* p = a + 8; *p;) {
      char* end;
      h->fonts.push_back(int(std::strtol(p, &end, 0)));
      p = *end == ',' ? end + 1 : end;
      if (end == p && *p) return false;
    }
    return true;
  }
  if (!std::strcmp(a, "--backwards")) return h->backwards = true;
  if (!std::strncmp(a, "--storage=", 10)) return h->storages.push_back(a + 10), true;
  if (opt_num(a, "--pieces", &h->pieces) || opt_num(a, "--clx-byte", &h->clx_byte) ||
      opt_num(a, "--first-fc", &h->first_fc) || opt_num(a, "--second-fc-add", &h->second_fc_add) ||
      opt_num(a, "--clx-len", &h->clx_len) ||
      opt_num(a, "--csw", &h->csw) || opt_num(a, "--ccp-text", &h->ccp_text) ||
      opt_num(a, "--repeat-piece", &h->repeat))
    return true;
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

// UTF-8 to 16-bit units (no surrogates needed for test texts; larger values are cut).
std::vector<std::uint16_t> utf8_units(const std::string& s) {
  std::vector<std::uint16_t> out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned c = std::uint8_t(s[i]);
    unsigned u = c, extra = 0;
    if (c >= 0xF0) u = c & 7, extra = 3;
    else if (c >= 0xE0) u = c & 15, extra = 2;
    else if (c >= 0xC0) u = c & 31, extra = 1;
    ++i;
    for (; extra && i < s.size(); --extra, ++i) u = u << 6 | (std::uint8_t(s[i]) & 63);
    out.push_back(std::uint16_t(u));
  }
  return out;
}

std::vector<std::uint16_t> byte_units(const std::string& s) {
  std::vector<std::uint16_t> out;
  for (char c : s) out.push_back(std::uint8_t(c));
  return out;
}

std::string utf16le(const std::vector<std::uint16_t>& units) {
  std::string out;
  for (std::uint16_t u : units) {
    out += char(u & 0xFF);
    out += char(u >> 8);
  }
  return out;
}

// A text file's content as Word text: newlines become paragraph marks.
std::string word_text(std::string text) {
  for (char& c : text)
    if (c == '\n') c = '\r';
  return text;
}

// The plain Word header: 128 bytes, text start and end at 24 and 28.
std::string plain_document(const std::string& text, const Header& h) {
  std::string body = h.wide ? utf16le(utf8_units(text)) : text;
  std::string d(128, '\0');
  std::int64_t start = 128 + h.gap;
  cfb::put16(d, 0, 0xA5DB);
  cfb::put16(d, 2, std::uint32_t(h.version >= 0 ? h.version : 193));
  cfb::put16(d, 4, std::uint32_t(h.product));
  cfb::put16(d, 6, std::uint32_t(h.lang));
  cfb::put16(d, 10, std::uint32_t(h.flags >= 0 ? h.flags : (h.wide ? 0x1000 : 0)));
  cfb::put32(d, 14, std::uint32_t(h.key));
  d[18] = h.mac ? 1 : 0;
  cfb::put16(d, 20, std::uint32_t(h.charset));
  std::int64_t ts = h.textstart >= 0 ? h.textstart : start;
  cfb::put32(d, 24, std::uint32_t(ts));
  cfb::put32(d, 28, std::uint32_t(h.textend >= 0 ? h.textend : start + std::int64_t(body.size())));
  d.append(std::size_t(h.gap), '\0');
  return d + body;
}

// One piece of the text as stored: its units and whether it is stored 8-bit.
struct Piece {
  std::uint32_t cp;
  std::vector<std::uint16_t> units;
  bool eight_bit;
  std::uint32_t fc = 0;  // byte offset in the WordDocument stream
};

bool fits_8bit(const std::vector<std::uint16_t>& units) {
  for (std::uint16_t u : units)
    if (u > 0xFF || (u >= 0x80 && u <= 0x9F)) return false;
  return true;
}

// Cuts the text into n pieces of about equal length; with mixed, every other piece is 8-bit
// where its text allows.
std::vector<Piece> cut_pieces(const std::vector<std::uint16_t>& units, const Header& h) {
  std::vector<Piece> pieces;
  std::size_t n = std::size_t(std::max<std::int64_t>(1, h.pieces));
  n = std::max<std::size_t>(1, std::min(n, units.size()));
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t from = units.size() * k / n, to = units.size() * (k + 1) / n;
    Piece p{std::uint32_t(from), {units.begin() + long(from), units.begin() + long(to)}, true};
    p.eight_bit = !h.wide || (h.mixed && k % 2 == 0 && fits_8bit(p.units));
    pieces.push_back(p);
  }
  return pieces;
}

// Stores the pieces after the file information block, last first, with deleted text between
// them; returns the text area [begin, end) of the stream.
std::pair<std::size_t, std::size_t> store_pieces(std::string& d, std::vector<Piece>& pieces) {
  std::size_t begin = d.size();
  for (std::size_t k = pieces.size(); k-- > 0;) {
    Piece& p = pieces[k];
    if (!p.eight_bit && d.size() % 2) d += '\0';
    p.fc = std::uint32_t(d.size());
    if (p.eight_bit) {
      for (std::uint16_t u : p.units) d += char(u);
    } else {
      d += utf16le(p.units);
    }
    if (k > 0) d += "DELETED\r";
  }
  return {begin, d.size()};
}

// The piece table (Clx): an optional property entry, then the positions and descriptors.
std::string piece_table(const std::vector<Piece>& pieces, std::uint32_t cp_end, bool word97,
                        const Header& h) {
  std::string clx;
  if (h.prc) clx += std::string("\x01\x03\x00\x00\x00\x00", 6);
  std::string plc;
  auto add32 = [](std::string& s, std::uint32_t v) {
    s.append(4, '\0');
    cfb::put32(s, s.size() - 4, v);
  };
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    std::uint32_t cp = pieces[k].cp;
    if (h.backwards && k == 1) cp = cp_end + 1;  // piece 0 ends after piece 1 does
    add32(plc, cp);
  }
  add32(plc, cp_end);
  for (const Piece& p : pieces) {
    std::string pcd(8, '\0');
    std::uint32_t place = p.fc;
    if (&p == &pieces[std::min<std::size_t>(1, pieces.size() - 1)] && pieces.size() > 1) {
      place += std::uint32_t(h.second_fc_add);
    }
    if (word97 && p.eight_bit) place = place * 2 | 0x40000000;
    if (&p == &pieces.front() && h.first_fc >= 0) place = std::uint32_t(h.first_fc);
    cfb::put32(pcd, 2, place);
    plc += pcd;
  }
  clx += char(h.clx_byte);
  add32(clx, std::uint32_t(plc.size()));
  return clx + plc;
}

// The file information block fields that every version shares.
void common_header(std::string& d, const Header& h, unsigned sign, unsigned version,
                   unsigned flags) {
  cfb::put16(d, 0, sign);
  cfb::put16(d, 2, version);
  cfb::put16(d, 4, std::uint32_t(h.product));
  cfb::put16(d, 6, std::uint32_t(h.lang));
  cfb::put16(d, 10, flags);
  cfb::put32(d, 14, std::uint32_t(h.key));
  d[18] = h.mac ? 1 : 0;
  cfb::put16(d, 20, std::uint32_t(h.charset));
}

void text_range(std::string& d, const Header& h, std::size_t begin, std::size_t end) {
  cfb::put32(d, 24, std::uint32_t(h.textstart >= 0 ? h.textstart : std::int64_t(begin)));
  cfb::put32(d, 28, std::uint32_t(h.textend >= 0 ? h.textend : std::int64_t(end)));
}


// ---- paragraph properties and lists (--lists) ----

// Each paragraph's property list (sprms), by paragraph of the main text; and its style.
struct ParaProps {
  int istd = 0;
  std::string grpprl;
};

void add16(std::string& s, std::uint32_t v) {
  s.append(2, '\0');
  cfb::put16(s, s.size() - 2, v);
}
void add32(std::string& s, std::uint32_t v) {
  s.append(4, '\0');
  cfb::put32(s, s.size() - 4, v);
}

// Takes the list marks off the lines of text; props gets one entry per line.
std::string take_list_marks(const std::string& text, bool word97, std::vector<ParaProps>* props) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\r', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(pos, end - pos);
    pos = end;
    ParaProps p;
    std::size_t bar = line.find('|');
    if (line.size() > 1 && line[0] == '#' && bar != std::string::npos) {
      std::string mark = line.substr(1, bar - 1);
      line.erase(0, bar + 1);
      if (!mark.empty() && mark[0] == 'S') p.istd = std::atoi(mark.c_str() + 1);
      if (word97) {
        std::size_t colon = mark[0] == 'S' ? mark.find(':') : std::string::npos;
        std::string list = mark[0] == 'S' ? (colon == std::string::npos ? "" : mark.substr(colon + 1)) : mark;
        if (!list.empty()) {
          int ilfo = std::atoi(list.c_str());
          std::size_t dot = list.find('.');
          int ilvl = dot == std::string::npos ? 0 : std::atoi(list.c_str() + dot + 1);
          add16(p.grpprl, 0x260A);  // sprmPIlvl
          p.grpprl += char(ilvl);
          add16(p.grpprl, 0x460B);  // sprmPIlfo
          add16(p.grpprl, std::uint32_t(ilfo));
        }
      } else if (mark[0] == 'W') {
        // #W<outline level>,<format>,<start>,<before>,<after>
        std::vector<std::string> f;
        std::size_t at = 1;
        for (;;) {
          std::size_t comma = mark.find(',', at);
          f.push_back(mark.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
          if (comma == std::string::npos) break;
          at = comma + 1;
        }
        f.resize(6);
        std::string anld(52, '\0');
        anld[0] = char(std::atoi(f[1].c_str()));
        anld[1] = char(f[3].size());
        anld[2] = char(f[3].size() + f[4].size());
        anld[3] = f[5] == "p" ? 0x0C : 0x08;  // p: the numbers of the levels above in front
        cfb::put16(anld, 10, std::uint32_t(std::atoi(f[2].c_str())));
        std::string chars = f[3] + f[4];
        for (std::size_t k = 0; k < chars.size() && k < 32; ++k) {
          // A bullet from the symbol font is written as that font's byte.
          anld[20 + k] = chars[k] == '*' ? char(0xB7) : chars[k];
        }
        p.grpprl += char(13);  // sprmPNLvlAnm
        p.grpprl += char(std::atoi(f[0].c_str()));
        p.grpprl += char(12);  // sprmPAnld
        p.grpprl += char(anld.size());
        p.grpprl += anld;
      }
    }
    props->push_back(p);
    out += line;
  }
  return out;
}

// A list level: start, format, flags, what follows, the restart limit and the number text
// (units below 9 stand for level numbers).
std::string list_level(std::int32_t start, int nfc, int flags, int follow, int restart_limit,
                       const std::vector<std::uint16_t>& text) {
  std::string l(28, '\0');
  cfb::put32(l, 0, std::uint32_t(start));
  l[4] = char(nfc);
  l[5] = char(flags);
  std::size_t n = 0;
  for (std::size_t k = 0; k < text.size() && n < 9; ++k)
    if (text[k] < 9) l[6 + n++] = char(k + 1);
  l[15] = char(follow);
  l[26] = char(restart_limit);
  add16(l, std::uint32_t(text.size()));
  for (std::uint16_t u : text) add16(l, u);
  return l;
}

std::string list_entry(std::uint32_t id, bool simple) {
  std::string e(28, '\0');
  cfb::put32(e, 0, id);
  for (int k = 0; k < 9; ++k) cfb::put16(e, 8 + 2 * std::size_t(k), 0x0FFF);
  e[26] = simple ? 1 : 0;
  return e;
}

// The fixture's lists. List 0x100 has nine levels, one per format: decimal "1.", lower letter
// "a)" followed by a space, lower roman "(i)", upper letter from 4 "D. " followed by nothing,
// upper roman "I.", decimal with leading zero shown with the higher levels in decimal
// ("1.1.1.4.1.01", legal), ordinal "1st" never restarted, a Symbol bullet and no number
// ("->"). List 0x200 is a Wingdings bullet followed by a space; list 0x300 is Japanese
// counting from 7 (shown in decimal) "7:". Overrides: 1 list 0x100; 2 list 0x100 starting
// level 0 at 10; 3 list 0x200; 4 list 0x100 with level 0 as upper roman "(I)"; 5 list 0x300.
std::string list_tables(std::uint32_t* lst_len, std::uint32_t* lfo_offset, std::uint32_t* lfo_len) {
  using U = std::vector<std::uint16_t>;
  std::string lst;
  add16(lst, 3);
  lst += list_entry(0x100, false) + list_entry(0x200, true) + list_entry(0x300, true);
  *lst_len = std::uint32_t(lst.size());
  lst += list_level(1, 0, 0, 0, 0, U{0, '.'});
  lst += list_level(1, 4, 0, 1, 0, U{1, ')'});
  lst += list_level(1, 2, 0, 0, 0, U{'(', 2, ')'});
  lst += list_level(4, 3, 0, 2, 0, U{3, '.', ' '});
  lst += list_level(1, 1, 0, 0, 0, U{4, '.'});
  lst += list_level(1, 22, 0x04, 0, 0, U{0, '.', 1, '.', 2, '.', 3, '.', 4, '.', 5});
  lst += list_level(1, 5, 0x08, 0, 0, U{6});
  lst += list_level(1, 23, 0, 0, 0, U{0xF0B7});
  lst += list_level(1, 255, 0, 0, 0, U{8, '-', '>'});
  lst += list_level(1, 23, 0, 1, 0, U{0xF0A7});
  lst += list_level(7, 10, 0, 0, 0, U{0, ':'});
  std::string lfo;
  add32(lfo, 5);
  const std::uint32_t ids[] = {0x100, 0x100, 0x200, 0x100, 0x300};
  const int levels[] = {0, 1, 0, 1, 0};
  for (int k = 0; k < 5; ++k) {
    std::string e(16, '\0');
    cfb::put32(e, 0, ids[k]);
    e[12] = char(levels[k]);
    lfo += e;
  }
  for (int k = 0; k < 5; ++k) {
    add32(lfo, 0xFFFFFFFF);
    if (k == 1) {  // level 0 starts at 10
      add32(lfo, 10);
      add32(lfo, 0x10);
    }
    if (k == 3) {  // level 0 formatted anew
      add32(lfo, 0);
      add32(lfo, 0x20);
      lfo += list_level(1, 1, 0, 0, 0, U{'(', 0, ')'});
    }
  }
  *lfo_offset = std::uint32_t(lst.size());
  *lfo_len = std::uint32_t(lfo.size());
  return lst + lfo;
}

// A style sheet of two paragraph styles: 0 plain, 1 numbered from list override 3.
std::string style_sheet(bool word97) {
  std::string s;
  const std::size_t base = word97 ? 10 : 8;
  add16(s, 4);  // the header: count of styles, size of a style's fixed part
  add16(s, 2);
  add16(s, std::uint32_t(base));
  for (int k = 0; k < 2; ++k) {
    std::string st(base, '\0');
    cfb::put16(st, 2, 0x0FFF << 4 | 1);  // a paragraph style, based on none
    cfb::put16(st, 4, 2);                // two property lists
    if (word97) {
      add16(st, 1);
      add16(st, 'S');
      add16(st, 0);
    } else {
      st += char(1);
      st += 'S';
      st += '\0';
    }
    if (st.size() % 2) st += '\0';
    std::string upx;
    add16(upx, std::uint32_t(k));
    if (k == 1 && word97) {
      add16(upx, 0x460B);
      add16(upx, 3);
    }
    if (k == 1 && !word97) {  // an autonumber: bullets from the symbol font
      upx += char(13);
      upx += char(11);
      upx += char(12);
      upx += char(52);
      std::string anld(52, '\0');
      anld[0] = char(23);
      anld[1] = 1;
      anld[2] = 1;
      cfb::put16(anld, 10, 1);
      anld[20] = char(0xB7);
      upx += anld;
    }
    add16(st, std::uint32_t(upx.size()));
    st += upx;
    if (st.size() % 2) st += '\0';
    add16(st, 0);  // no character properties
    add16(s, std::uint32_t(st.size()));
    s += st;
  }
  return s;
}

// Paragraph property pages for the marks of the main text, which lie at the given stream
// offsets (each just past its paragraph mark), appended to d at a page boundary; returns the
// page table (text offsets, then page numbers of width bytes).
std::string property_pages(std::string& d, std::vector<std::pair<std::uint32_t, ParaProps>> marks,
                           std::uint32_t text_begin, bool word97) {
  std::sort(marks.begin(), marks.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  const std::size_t entry = word97 ? 13 : 7;
  std::vector<std::uint32_t> fcs;
  std::vector<std::uint32_t> pns;
  std::uint32_t from = text_begin;
  std::size_t k = 0;
  while (k < marks.size()) {
    d.append((512 - d.size() % 512) % 512, '\0');
    std::string page(512, '\0');
    std::size_t top = 511, runs = 0;
    std::vector<std::uint32_t> ends;
    std::vector<std::size_t> places;
    while (k < marks.size()) {
      const ParaProps& p = marks[k].second;
      std::string papx;
      if (word97) {
        std::string data;
        add16(data, std::uint32_t(p.istd));
        data += p.grpprl;
        if (data.size() % 2 == 0) data += '\0';
        papx += char((data.size() + 1) / 2);
        papx += data;
      } else {
        std::string data;
        add16(data, std::uint32_t(p.istd));
        data += p.grpprl;
        if (data.size() % 2) data += '\0';
        papx += char(data.size() / 2);
        papx += data;
      }
      std::size_t need = 4 * (runs + 2) + entry * (runs + 1);
      std::size_t at = (top - papx.size()) & ~std::size_t(1);
      if (at < need || top < papx.size()) break;
      page.replace(at, papx.size(), papx);
      top = at;
      ends.push_back(marks[k].first);
      places.push_back(at);
      ++runs;
      ++k;
    }
    fcs.push_back(from);
    cfb::put32(page, 0, from);
    for (std::size_t r = 0; r < runs; ++r) {
      cfb::put32(page, 4 * (r + 1), ends[r]);
      page[4 * (runs + 1) + entry * r] = char(places[r] / 2);
    }
    page[511] = char(runs);
    from = ends.back();
    pns.push_back(std::uint32_t(d.size() / 512));
    d += page;
  }
  fcs.push_back(from);
  std::string plc;
  for (std::uint32_t fc : fcs) add32(plc, fc);
  for (std::uint32_t pn : pns) {
    if (word97) add32(plc, pn); else add16(plc, pn);
  }
  return plc;
}

// The stream offsets just past each paragraph mark of the pieces' text, with their properties.
std::vector<std::pair<std::uint32_t, ParaProps>> mark_places(const std::vector<Piece>& pieces,
                                                              const std::vector<ParaProps>& props) {
  std::vector<std::pair<std::uint32_t, ParaProps>> marks;
  std::size_t para = 0;
  for (const Piece& p : pieces) {
    const std::uint32_t width = p.eight_bit ? 1 : 2;
    for (std::size_t i = 0; i < p.units.size(); ++i) {
      if (p.units[i] != '\r') continue;
      ParaProps pp = para < props.size() ? props[para] : ParaProps{};
      marks.push_back({p.fc + std::uint32_t(i + 1) * width, pp});
      ++para;
    }
  }
  return marks;
}

// Word 97: csw 14, cslw 22 (story lengths at entries 3 to 10), 93 offset/length pairs (the
// piece table's at pair 33), then the text from 1024 on. Returns the WordDocument stream and
// sets the table stream.
std::string word97_document(const std::vector<std::string>& stories, const Header& h,
                            std::string* table, const std::vector<ParaProps>& props) {
  constexpr std::size_t kLw = 64, kPairs = 154, kClx = kPairs + 33 * 8, kFibEnd = 1024;
  std::vector<std::uint16_t> units;
  for (const std::string& story : stories) {
    std::vector<std::uint16_t> u = h.wide ? utf8_units(story) : byte_units(story);
    units.insert(units.end(), u.begin(), u.end());
  }
  std::string d(kFibEnd + std::size_t(h.gap), '\0');
  unsigned flags = unsigned(h.flags >= 0 ? h.flags : (h.wide ? 0x1000 : 0));
  if (h.table == "1Table") flags |= 0x0200;
  common_header(d, h, 0xA5EC, unsigned(h.version >= 0 ? h.version : 193), flags);
  cfb::put16(d, 32, std::uint32_t(h.csw));
  cfb::put16(d, kLw - 2, 22);
  // Story lengths: main text, footnotes, headers, macros (none), annotations, endnotes, text
  // boxes, header text boxes (none).
  static const int kLengthEntry[] = {3, 4, 5, 7, 8, 9};
  for (std::size_t k = 0; k < stories.size(); ++k) {
    std::uint32_t n = std::uint32_t(h.wide ? utf8_units(stories[k]).size() : stories[k].size());
    cfb::put32(d, kLw + 4 * std::size_t(kLengthEntry[k]), n);
  }
  if (h.ccp_text >= 0) cfb::put32(d, kLw + 12, std::uint32_t(h.ccp_text));
  cfb::put16(d, kPairs - 2, 93);
  std::vector<Piece> pieces = cut_pieces(units, h);
  auto [begin, end] = store_pieces(d, pieces);
  text_range(d, h, begin, end);
  cfb::put32(d, kLw, std::uint32_t(d.size()));  // cbMac
  std::uint32_t cp_end = std::uint32_t(units.size());
  if (h.repeat > 0 && !pieces.empty()) {
    std::uint32_t len = std::uint32_t(pieces[0].units.size());
    Piece once = pieces[0];
    pieces.clear();
    for (std::int64_t k = 0; k < h.repeat; ++k) {
      once.cp = std::uint32_t(k) * len;
      pieces.push_back(once);
    }
    cp_end = std::uint32_t(h.repeat) * len;  // the length the table claims
    cfb::put32(d, kLw + 12, cp_end);
  }
  *table = std::string(64, '\0');  // the table stream holds more than the piece table
  std::string clx = piece_table(pieces, cp_end, true, h);
  cfb::put32(d, kClx, std::uint32_t(table->size()));
  cfb::put32(d, kClx + 4, h.no_clx ? 0 : std::uint32_t(h.clx_len >= 0 ? h.clx_len : clx.size()));
  *table += clx;
  if (h.lists) {
    // Pages for the main text's paragraphs: the pieces that hold it.
    std::vector<Piece> main;
    for (const Piece& p : pieces)
      if (p.cp < stories[0].size()) main.push_back(p);
    std::string plc = property_pages(d, mark_places(main, props), std::uint32_t(begin), true);
    auto pair = [&](std::size_t k, const std::string& bytes) {
      cfb::put32(d, kPairs + 8 * k, std::uint32_t(table->size()));
      cfb::put32(d, kPairs + 8 * k + 4, std::uint32_t(bytes.size()));
      *table += bytes;
    };
    pair(1, style_sheet(true));
    pair(13, plc);
    std::uint32_t lst_len, lfo_offset, lfo_len;
    const std::uint32_t lists_at = std::uint32_t(table->size());
    *table += list_tables(&lst_len, &lfo_offset, &lfo_len);
    cfb::put32(d, kPairs + 8 * 73, lists_at);
    cfb::put32(d, kPairs + 8 * 73 + 4, lst_len);
    cfb::put32(d, kPairs + 8 * 74, lists_at + lfo_offset);
    cfb::put32(d, kPairs + 8 * 74 + 4, lfo_len);
  }
  return d;
}

// A font table entry: its size minus one, flags, weight, charset at 4, then the name.
std::string font_entry(int charset, const std::string& name) {
  std::string e(5, '\0');
  e += name;
  e += '\0';
  e[0] = char(e.size() - 1);
  e[4] = char(charset);
  return e;
}

// Word 6/95: a fixed layout of 0x200 bytes (story lengths at 0x34, font table at 0xD0, piece
// table at 0x160), the text, the font table and the piece table in the same stream.
std::string word6_document(const std::string& text, const Header& h,
                           const std::vector<ParaProps>& props) {
  constexpr std::size_t kCcp = 0x34, kFonts = 0xD0, kClx = 0x160, kFibEnd = 0x200;
  std::string d(kFibEnd + std::size_t(h.gap), '\0');
  unsigned flags = unsigned(h.flags >= 0 ? h.flags : 0) | (h.complex ? 0x0004 : 0);
  common_header(d, h, 0xA5DC, unsigned(h.version >= 0 ? h.version : 101), flags);
  cfb::put32(d, kCcp, std::uint32_t(text.size()));
  std::vector<Piece> pieces = cut_pieces(byte_units(text), h);
  std::size_t begin, end;
  if (h.complex) {
    std::tie(begin, end) = store_pieces(d, pieces);
  } else {
    begin = d.size();
    d += text;
    end = d.size();
    for (Piece& p : pieces) p.fc = std::uint32_t(begin + p.cp);
  }
  text_range(d, h, begin, end);
  cfb::put32(d, 0x20, std::uint32_t(end));  // cbMac
  std::string fonts(2, '\0');
  for (std::size_t k = 0; k < h.fonts.size(); ++k)
    fonts += font_entry(h.fonts[k], "Font" + std::to_string(k));
  cfb::put16(fonts, 0, std::uint32_t(fonts.size()));
  cfb::put32(d, kFonts, std::uint32_t(d.size()));
  cfb::put32(d, kFonts + 4, std::uint32_t(fonts.size()));
  d += fonts;
  if (h.complex && !h.no_clx) {
    std::string clx = piece_table(pieces, std::uint32_t(text.size()), false, h);
    cfb::put32(d, kClx, std::uint32_t(d.size()));
    cfb::put32(d, kClx + 4, std::uint32_t(clx.size()));
    d += clx;
  }
  if (h.lists) {
    std::string plc = property_pages(d, mark_places(pieces, props), std::uint32_t(begin), false);
    std::string styles = style_sheet(false);
    cfb::put32(d, 0x60, std::uint32_t(d.size()));
    cfb::put32(d, 0x64, std::uint32_t(styles.size()));
    d += styles;
    cfb::put32(d, 0xC0, std::uint32_t(d.size()));
    cfb::put32(d, 0xC4, std::uint32_t(plc.size()));
    d += plc;
  }
  return d;
}

// The input fuzz_worddoc turns into a compound file: options, document length, the streams.
std::string fuzz_seed(const std::string& doc, const std::string& table, const Header& h) {
  std::string seed(5, '\0');
  seed[0] = char(h.table == "1Table" ? 1 : 0);
  cfb::put32(seed, 1, std::uint32_t(doc.size()));
  return seed + doc + table;
}

enum class Kind { word97, word6, plain };

int make_word(int argc, char** argv, Kind kind) {
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
  text = word_text(text);
  std::vector<ParaProps> props;
  if (h.lists) text = take_list_marks(text, kind == Kind::word97, &props);
  if (kind == Kind::plain) return write_out(argv[2], plain_document(text, h)) ? 0 : 1;
  d.e.name = d.name;
  if (kind == Kind::word6) {
    d.e.data = word6_document(text, h, props);
    if (h.fuzz_seed) return write_out(argv[2], fuzz_seed(d.e.data, "", h)) ? 0 : 1;
    return write_out(argv[2], cfb::build({d.e}, o)) ? 0 : 1;
  }
  std::vector<std::string> stories = {text};
  for (const std::string& path : h.story_files) {
    std::string story;
    if (!path.empty() && !read_file(path.c_str(), &story)) return 1;
    stories.push_back(word_text(story));
  }
  cfb::Entry table;
  table.name = h.table;
  d.e.data = word97_document(stories, h, &table.data, props);
  if (h.fuzz_seed) return write_out(argv[2], fuzz_seed(d.e.data, table.data, h)) ? 0 : 1;
  std::vector<cfb::Entry> entries = {d.e, table};
  for (const std::string& name : h.storages) {
    cfb::Entry storage;
    storage.name = name;
    storage.type = 1;
    entries.push_back(storage);
  }
  return write_out(argv[2], cfb::build(entries, o)) ? 0 : 1;
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

// Inputs of the metadata readers, by name.
int make_metadata(int argc, char** argv) {
  using namespace propset;
  if (argc != 4) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string v = argv[3];
  constexpr std::uint64_t kMarch2006 = 0x1c63d18ff788087;
  std::string out;
  if (v == "cp1252") {
    out = build({code_page(1252), lpstr(2, "Caf\xE9 report"), lpstr(3, "Budget"),
                 lpstr(4, "Ann"), lpstr(5, "a; b"), filetime(12, kMarch2006),
                 filetime(13, kMarch2006 + 600000000)});
  } else if (v == "wide") {
    out = build({code_page(1252), lpwstr(2, u"Wide \u00E9"), lpwstr(4, u"\U0001F600")});
  } else if (v == "cp1200") {
    out = build({code_page(1200), Property{2, kLpstr, std::string("\x06\0\0\0A\0B\0\0\0", 10)}});
  } else if (v == "utf8") {
    out = build({code_page(65001), lpstr(2, "\xC3\xA9t\xC3\xA9"), lpstr(4, "\xFF\xFE")});
  } else if (v == "two-sets") {
    Options o;
    o.other_set_first = true;
    out = build({lpstr(2, "Second")}, o);
  } else if (v == "far-offset") {
    Property far = lpstr(2, "Lost");
    far.offset = 0x7FFFFFF0;
    out = build({far, lpstr(4, "Kept")});
  } else if (v == "huge-counts") {
    Options o;
    o.property_count = 0xFFFFFFFF;
    out = build({lpstr(2, "Huge", 0xFFFFFFF0), lpwstr(3, u"W", 0x7FFFFFFF)}, o);
  } else if (v == "odd-types") {
    out = build({Property{2, kI4, std::string("\x05\0\0\0", 4)}, lpstr(12, "2006"),
                 Property{1, kLpstr, ""}, filetime(13, 1)});
  } else if (v == "rtf-info") {
    out = "{\\rtf1\\ansi\\ansicpg1252{\\info{\\title Caf\\'e9 \\u8364?}{\\author A{\\*\\bkmkstart x}B}"
          "{\\creatim\\yr2006\\mo3\\dy1\\hr10\\min15}{\\revtim\\yr2000\\mo2\\dy29}}Text\\par}";
  } else if (v == "rtf-upr") {
    out = "{\\rtf1{\\info{\\upr{\\title ??}{\\*\\ud{\\title \\u12478\\'3f\\u-10179?\\u-8704?}}}"
          "{\\keywords k\\tab l}{\\subject";
  } else {
    std::fprintf(stderr, "mkfixture: unknown metadata variant %s\n", v.c_str());
    return 2;
  }
  return write_out(argv[2], out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "ole")) return make_ole(argc, argv);
  if (!std::strcmp(argv[1], "word97")) return make_word(argc, argv, Kind::word97);
  if (!std::strcmp(argv[1], "word6")) return make_word(argc, argv, Kind::word6);
  if (!std::strcmp(argv[1], "wordplain")) return make_word(argc, argv, Kind::plain);
  if (!std::strcmp(argv[1], "metadata")) return make_metadata(argc, argv);
  std::fprintf(stderr, "mkfixture: unknown kind %s\n", argv[1]);
  return 2;
}
