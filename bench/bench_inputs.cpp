// Writes benchmark inputs: bench_inputs <kind> <output file> <megabytes>
//   text8      8-bit text (cp1251 Cyrillic and Latin words, line ends)
//   utf8       UTF-8 text (Latin with accents, Cyrillic, Greek, line ends)
//   wordtext8  Word-like 8-bit text: paragraph marks, tabs, table cells, fields
//   wordtext16 the same text as 16-bit little-endian units
// The content is deterministic, so runs compare.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kLatin[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog",
                              "document", "archive", "legacy", "text", "paragraph", "filter"};
const char* const kCyrillic1251[] = {"\xcf\xf0\xe8\xe2\xe5\xf2", "\xec\xe8\xf0",
                                     "\xe4\xee\xea\xf3\xec\xe5\xed\xf2", "\xf2\xe5\xea\xf1\xf2"};
const char* const kUtf8Words[] = {"caf\xc3\xa9", "na\xc3\xafve", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",
                                  "\xce\xba\xce\xb1\xce\xbb\xce\xb7\xce\xbc\xce\xad\xcf\x81\xce\xb1",
                                  "text", "archive", "\xe2\x80\x9cquoted\xe2\x80\x9d", "r\xc3\xa9sum\xc3\xa9"};

unsigned next_random(unsigned& state) {
  state = state * 1103515245u + 12345u;
  return state >> 16;
}

std::string text8_block(unsigned& rnd) {
  std::string s;
  for (int line = 0; line < 64; ++line) {
    for (int w = 0; w < 10; ++w) {
      unsigned r = next_random(rnd);
      s += (r & 3) == 0 ? kCyrillic1251[r % 4] : kLatin[r % 14];
      s += w == 9 ? "\r\n" : " ";
    }
  }
  return s;
}

std::string utf8_block(unsigned& rnd) {
  std::string s;
  for (int line = 0; line < 64; ++line) {
    for (int w = 0; w < 10; ++w) {
      s += kUtf8Words[next_random(rnd) % 8];
      s += w == 9 ? "\n" : " ";
    }
  }
  return s;
}

// Paragraphs of words, now and then a table row (cells end in code 7, the row in 7 7) or a
// field (19 instruction 20 result 21).
std::string word_block(unsigned& rnd) {
  std::string s;
  for (int par = 0; par < 16; ++par) {
    unsigned kind = next_random(rnd) % 8;
    if (kind == 0) {
      s += "cell one\x07" "cell two\x07" "cell three\x07\x07";
    } else if (kind == 1) {
      s += "See \x13 HYPERLINK \"x\" \x14" "link text\x15 here.";
    }
    for (int w = 0; w < 60; ++w) {
      unsigned r = next_random(rnd);
      s += kLatin[r % 14];
      s += (r & 15) == 0 ? "\t" : " ";
    }
    s += "\r";
  }
  return s;
}

std::string widen(const std::string& s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char c : s) {
    out += c;
    out += '\0';
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_inputs text8|utf8|wordtext8|wordtext16 <out> <MB>\n");
    return 2;
  }
  std::string kind = argv[1];
  long long target = std::atoll(argv[3]) * 1024LL * 1024LL;
  std::FILE* f = std::fopen(argv[2], "wb");
  if (!f) {
    std::perror(argv[2]);
    return 1;
  }
  unsigned rnd = 12345;
  long long written = 0;
  while (written < target) {
    std::string block;
    if (kind == "text8") {
      block = text8_block(rnd);
    } else if (kind == "utf8") {
      block = utf8_block(rnd);
    } else if (kind == "wordtext8") {
      block = word_block(rnd);
    } else if (kind == "wordtext16") {
      block = widen(word_block(rnd));
    } else {
      std::fprintf(stderr, "bench_inputs: unknown kind %s\n", kind.c_str());
      return 2;
    }
    written += static_cast<long long>(std::fwrite(block.data(), 1, block.size(), f));
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
