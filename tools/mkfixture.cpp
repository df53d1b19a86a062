// Writes test inputs: mkfixture <kind> <output file> [args]. Kinds are listed by running it bare.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: mkfixture <kind> <output file>\n");
    return 2;
  }
  std::fprintf(stderr, "mkfixture: unknown kind %s\n", argv[1]);
  return 2;
}
