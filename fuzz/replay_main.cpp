// Feeds every file of the directories (or files) named on the command line to the fuzz target,
// so the corpus is replayed by ctest in builds without libFuzzer.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Standard error as it was at start-up: the targets send the program's messages elsewhere.
std::FILE* const report = stderr;

int replay_file(const std::filesystem::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(report, "%s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  std::vector<std::uint8_t> data;
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);
  // An exact-size copy, so that the sanitizers see any read past its end.
  std::vector<std::uint8_t> exact(data.begin(), data.end());
  LLVMFuzzerTestOneInput(exact.data(), exact.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0, count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
        if (!entry.is_regular_file()) continue;
        failures += replay_file(entry.path());
        ++count;
      }
    } else {
      failures += replay_file(arg);
      ++count;
    }
  }
  std::fprintf(report, "replayed %d inputs\n", count);
  return failures ? 1 : 0;
}
