// The batch mode's building blocks: JSON strings and records, --files-from lists, and ordered
// output from many threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#endif
#include "fixture.h"

namespace {

std::string json(std::string_view s) {
  std::string out;
  dorvex_cli::append_json_string(out, s);
  return out;
}

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += char(c);
  return s;
}

TEST(Batch, JsonStringEscapesAndReplaces) {
  // Line ends, tabs, backspace and form feed in JSON's short forms; every other C0 control as
  // \u00xx.
  for (int c = 0; c < 0x20; ++c) {
    char expected[16];
    const char* shorts = "btn fr";  // 8 to 13, but 11 (a vertical tab) has no short form
    if (c >= 8 && c <= 13 && c != 11) {
      std::snprintf(expected, sizeof expected, "\"\\%c\"", shorts[c - 8]);
    } else {
      std::snprintf(expected, sizeof expected, "\"\\u%04x\"", c);
    }
    EXPECT_EQ(json(std::string(1, char(c))), expected) << "control " << c;
  }
  const struct {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {"plain text", "\"plain text\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir\\", "\"C:\\\\dir\\\\\""},
      {bytes({0x7F}), "\"\\u007f\""},
      {bytes({'a', 0xC2, 0x80, 'b', 0xC2, 0x9F}), "\"a\\u0080b\\u009f\""},  // C1 controls
      {bytes({0xC2, 0xA0, 0xC3, 0xA9}), bytes({'"', 0xC2, 0xA0, 0xC3, 0xA9, '"'})},
      {bytes({0xE2, 0x80, 0xA8, 0xE2, 0x80, 0xA9}), "\"\\u2028\\u2029\""},
      {bytes({0xE2, 0x80, 0xA6}), bytes({'"', 0xE2, 0x80, 0xA6, '"'})},  // an ellipsis stays
      {bytes({0xF0, 0x9F, 0x98, 0x80, 0xF4, 0x8F, 0xBF, 0xBF}),
       bytes({'"', 0xF0, 0x9F, 0x98, 0x80, 0xF4, 0x8F, 0xBF, 0xBF, '"'})},  // 4-byte characters
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      // Ill-formed: one U+FFFD per maximal subpart.
      {bytes({0x80}), "\"\xEF\xBF\xBD\""},
      {bytes({0xC0, 0x80}), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},  // overlong lead
      {bytes({0xE0, 0x80, 0x80}), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {bytes({0xED, 0xA0, 0x80}), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {bytes({0xF4, 0x90, 0x80, 0x80}),
       "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // beyond U+10FFFF
      {bytes({0xE2, 0x82, 'A'}),
       "\"\xEF\xBF\xBD"
       "A\""},                                                // a cut sequence
      {bytes({'x', 0xF0, 0x9F, 0x98}), "\"x\xEF\xBF\xBD\""},  // cut by the end
      {bytes({0xF5, 0xFE, 0xFF}), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {bytes({0xC2, '"'}), "\"\xEF\xBF\xBD\\\"\""},  // the quote still escaped
      // The standard's own example: 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
      {bytes({0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2, 0x62, 0x80, 0x63, 0x80, 0xBF, 0x64}),
       "\"a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"
       "c\xEF\xBF\xBD\xEF\xBF\xBD"
       "d\""},
  };
  for (const auto& c : cases) EXPECT_EQ(json(c.in), c.out) << testing::PrintToString(c.in);

  // Plain text is passed over eight bytes at a time: each byte that needs a look is found at
  // every place in such a word, and the bytes either side of it are kept.
  const struct {
    std::string in, out;
  } specials[] = {{"\"", "\\\""}, {"\\", "\\\\"}, {bytes({0x7F}), "\\u007f"}, {"\n", "\\n"},
                  {bytes({0x1F}), "\\u001f"}, {std::string(1, '\0'), "\\u0000"},
                  {bytes({0xC3, 0xA9}), bytes({0xC3, 0xA9})}, {bytes({0xFF}), "\xEF\xBF\xBD"},
                  {bytes({0x20}), " "}, {bytes({0x7E}), "~"}};
  for (const auto& sp : specials) {
    for (std::size_t k = 0; k <= 17; ++k) {
      const std::string before(k, 'a'), after(17 - k, 'b');
      EXPECT_EQ(json(before + sp.in + after), "\"" + before + sp.out + after + "\"")
          << testing::PrintToString(sp.in) << " at " << k;
    }
  }

  // Appends: what was there stays.
  std::string out = "[";
  dorvex_cli::append_json_string(out, "x");
  EXPECT_EQ(out, "[\"x\"");
}

// Whatever the bytes, the result is valid: fed back, it gains no replacement character and
// holds no raw control byte. A long plain run around an escape comes out whole.
TEST(Batch, JsonStringAlwaysValid) {
  std::mt19937 rng(17);
  for (int round = 0; round < 300; ++round) {
    std::string in(std::size_t(rng() % 64), '\0');
    for (char& c : in) c = char(rng() % 4 == 0 ? 0x80 | rng() % 0x80 : rng() % 0x100);
    const std::string once = json(in);
    ASSERT_GE(once.size(), 2u);
    const std::string body = once.substr(1, once.size() - 2);
    for (unsigned char c : body) ASSERT_GE(c, 0x20) << testing::PrintToString(in);
    const std::string twice = json(body);
    auto replacements = [](const std::string& s) {
      std::size_t n = 0;
      for (std::size_t at = s.find("\xEF\xBF\xBD"); at != std::string::npos;
           at = s.find("\xEF\xBF\xBD", at + 1))
        ++n;
      return n;
    };
    ASSERT_EQ(replacements(twice), replacements(once)) << testing::PrintToString(in);
  }
  const std::string half(1 << 20, 'a');
  EXPECT_EQ(json(half + "\"" + half), "\"" + half + "\\\"" + half + "\"");
}

dorvex_result result_of(const char* text, std::size_t size, const char* format, int status,
                        int error) {
  dorvex_result r{};
  r.text = text;
  r.text_size = size;
  r.format = format;
  r.status = status;
  r.error = error;
  return r;
}

TEST(Batch, RecordKeysInOrder) {
  const char* messages[] = {"[This was fast-saved  2 times. Some information is lost]", "b\tc"};
  dorvex_result full = result_of("Dear \"Sir\"\n\0x", 13, "word", 0, DORVEX_ERROR_NONE);
  full.message_count = 2;
  full.messages = messages;
  full.metadata.title = "Letter";
  full.metadata.created = "2006-03-01T10:15:00Z";
  full.truncated = 1;

  dorvex_result encrypted = result_of(nullptr, 0, "word", 69, DORVEX_ERROR_ENCRYPTED);
  dorvex_result unknown = result_of("", 0, nullptr, 1, 99);
  dorvex_result all_meta = result_of("t", 1, "rtf", 0, DORVEX_ERROR_NONE);
  all_meta.metadata = {"T", "S", "A", "K", "C", "M"};

  const struct {
    std::string path;
    const dorvex_result* r;
    std::uint64_t bytes;
    double ms;
    bool truncated;
    std::string line;
  } cases[] = {
      {"dir/a.doc", &full, 24576, 1.5, false,
       "{\"path\":\"dir/a.doc\",\"format\":\"word\",\"status\":0,\"error\":null,"
       "\"text\":\"Dear \\\"Sir\\\"\\n\\u0000x\",\"messages\":[\"[This was fast-saved  2 "
       "times. Some information is lost]\",\"b\\tc\"],\"bytes\":24576,\"ms\":1.500,"
       "\"metadata\":{\"title\":\"Letter\",\"created\":\"2006-03-01T10:15:00Z\"}}\n"},
      {"dir/a.doc", &full, 24576, 0.0004, true,
       "{\"path\":\"dir/a.doc\",\"format\":\"word\",\"status\":0,\"error\":null,"
       "\"text\":\"Dear \\\"Sir\\\"\\n\\u0000x\",\"messages\":[\"[This was fast-saved  2 "
       "times. Some information is lost]\",\"b\\tc\"],\"bytes\":24576,\"ms\":0.000,"
       "\"truncated\":true,"
       "\"metadata\":{\"title\":\"Letter\",\"created\":\"2006-03-01T10:15:00Z\"}}\n"},
      {"s.doc", &encrypted, 0, -3, true,
       "{\"path\":\"s.doc\",\"format\":\"word\",\"status\":69,\"error\":\"encrypted\","
       "\"text\":\"\",\"messages\":[],\"bytes\":0,\"ms\":0.000,\"truncated\":false}\n"},
      {"e", &encrypted, 1, 2.9996, false,
       "{\"path\":\"e\",\"format\":\"word\",\"status\":69,\"error\":\"encrypted\","
       "\"text\":\"\",\"messages\":[],\"bytes\":1,\"ms\":3.000}\n"},
      {"e", &encrypted, 1, 1e300, false,
       "{\"path\":\"e\",\"format\":\"word\",\"status\":69,\"error\":\"encrypted\","
       "\"text\":\"\",\"messages\":[],\"bytes\":1,\"ms\":1000000000000000.000}\n"},
      {bytes({'b', 0xFF, '.', 'r', 't', 'f'}), &unknown, 7, std::numeric_limits<double>::infinity(),
       false,
       "{\"path\":\"b\xEF\xBF\xBD.rtf\",\"format\":\"\",\"status\":1,\"error\":\"damaged\","
       "\"text\":\"\",\"messages\":[],\"bytes\":7,\"ms\":0.000}\n"},
      {"m.rtf", &all_meta, 18446744073709551615u, 12345.6789, false,
       "{\"path\":\"m.rtf\",\"format\":\"rtf\",\"status\":0,\"error\":null,\"text\":\"t\","
       "\"messages\":[],\"bytes\":18446744073709551615,\"ms\":12345.679,"
       "\"metadata\":{\"title\":\"T\",\"subject\":\"S\",\"author\":\"A\",\"keywords\":\"K\","
       "\"created\":\"C\",\"modified\":\"M\"}}\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dorvex_cli::json_record(c.path, *c.r, c.bytes, c.ms, c.truncated), c.line);
  }
  const struct {
    int error;
    const char* name;
  } classes[] = {{DORVEX_ERROR_NONE, nullptr},
                 {DORVEX_ERROR_ENCRYPTED, "encrypted"},
                 {DORVEX_ERROR_UNSUPPORTED, "unsupported"},
                 {DORVEX_ERROR_DAMAGED, "damaged"},
                 {DORVEX_ERROR_READ, "read"},
                 {DORVEX_ERROR_LIMIT, "limit"},
                 {-1, "damaged"}};
  for (const auto& c : classes) {
    const char* name = dorvex_cli::error_class_name(c.error);
    EXPECT_EQ(name ? std::string(name) : "null", c.name ? std::string(c.name) : "null");
  }
}

std::vector<std::string> names_of(const std::string& input, bool null_separated) {
  std::FILE* f = testing_support::temp_stream();
  std::fwrite(input.data(), 1, input.size(), f);
  std::rewind(f);
  std::vector<std::string> names;
  EXPECT_TRUE(dorvex_cli::read_input_names(f, null_separated, names));
  std::fclose(f);
  return names;
}

TEST(Batch, InputNamesSplitAsListed) {
  using V = std::vector<std::string>;
  const std::string nul(1, '\0');
  const struct {
    std::string in;
    bool null_separated;
    V names;
  } cases[] = {
      {"", false, {}},
      {"a.doc\nb.rtf\n", false, {"a.doc", "b.rtf"}},
      {"a.doc\nlast", false, {"a.doc", "last"}},  // no line end after the last
      {"a\r\nb c\r\n\r\n", false, {"a", "b c"}},  // CRLF, an empty line
      {"\n\n\n", false, {}},
      {"x\r\r\n", false, {"x\r"}},                    // only the CR of the line end goes
      {"a" + nul + "b\n", false, {"a" + nul + "b"}},  // kept whole, for the caller to refuse
      {"a" + nul + "b\nc" + nul, true, {"a", "b\nc"}},
      {nul + nul + "x\r" + nul, true, {"x\r"}},
      {"tail", true, {"tail"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(names_of(c.in, c.null_separated), c.names) << testing::PrintToString(c.in);
  }
  EXPECT_TRUE(dorvex_cli::has_nul_byte("a" + nul));
  EXPECT_FALSE(dorvex_cli::has_nul_byte("a"));
  // Names longer than a read block, and a separator at the block's edge.
  const std::string longer(200000, 'n'), edge(65535, 'e');
  EXPECT_EQ(names_of(longer + "\n" + edge + "\nz", false), (V{longer, edge, "z"}));
  // A read error is reported: a directory read as a stream; on Windows, which opens no
  // directory as one, a stream over a file the system lets it write but not read.
#ifdef _WIN32
  testing_support::TempDir t;
  const HANDLE write_only = CreateFileA(t.file("names").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(write_only, INVALID_HANDLE_VALUE);
  std::FILE* dir = _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(write_only), _O_RDONLY), "rb");
#else
  std::FILE* dir = std::fopen("/", "rb");
#endif
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> names;
  EXPECT_FALSE(dorvex_cli::read_input_names(dir, false, names));
  std::fclose(dir);
}

TEST(Batch, ThreadCounts) {
  const unsigned cores = std::thread::hardware_concurrency();
  EXPECT_EQ(dorvex_cli::ordered_threads(0, 1000), cores ? std::min(cores, 256u) : 1u);
  EXPECT_EQ(dorvex_cli::ordered_threads(1000, 5000), 256u);
  EXPECT_EQ(dorvex_cli::ordered_threads(8, 3), 3u);
  EXPECT_EQ(dorvex_cli::ordered_threads(8, 0), 1u);
}

// Results come out in input order under random delays, never more pending than the window
// allows; output that fails stops the work; an exception in work reaches the caller after the
// results before it.
TEST(Batch, OrderedRunsInOrderBoundedAndStops) {
  for (unsigned threads : {1u, 3u, 16u}) {
    const std::size_t count = 1500;
    const std::size_t window = dorvex_cli::kPendingPerThread * threads;
    std::atomic<std::size_t> pending{0}, most{0}, started{0};
    std::function<std::string(std::size_t)> work = [&](std::size_t i) {
      ++started;
      const std::size_t now = ++pending;
      std::size_t seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      thread_local std::mt19937 rng{static_cast<unsigned>(i)};
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
      if (i == 1400) throw std::runtime_error("work 1400");
      return std::to_string(i * 7);
    };
    std::size_t expected = 0;
    std::function<bool(std::size_t, std::string&)> emit = [&](std::size_t i, std::string& r) {
      EXPECT_EQ(i, expected);
      EXPECT_EQ(r, std::to_string(i * 7));
      ++expected;
      --pending;
      return true;
    };
    EXPECT_THROW(dorvex_cli::run_ordered<std::string>(count, threads, work, emit),
                 std::runtime_error);
    EXPECT_EQ(expected, 1400u) << threads;
    // The result being emitted counts too: a worker may start as soon as its turn is taken.
    EXPECT_LE(most.load(), window + 1) << threads;

    // Output fails at the 100th result: nothing more is emitted, little more is worked.
    started = 0;
    expected = 0;
    pending = 0;
    std::function<bool(std::size_t, std::string&)> failing = [&](std::size_t i, std::string& r) {
      emit(i, r);
      return i < 99;
    };
    EXPECT_FALSE(dorvex_cli::run_ordered<std::string>(count, threads, work, failing));
    EXPECT_EQ(expected, 100u) << threads;
    EXPECT_LE(started.load(), 100 + window) << threads;

    std::size_t emitted = 0;
    std::function<bool(std::size_t, std::string&)> all = [&](std::size_t, std::string&) {
      ++emitted;
      return true;
    };
    std::function<std::string(std::size_t)> quick = [](std::size_t i) { return std::to_string(i); };
    EXPECT_TRUE(dorvex_cli::run_ordered<std::string>(300, threads, quick, all));
    EXPECT_EQ(emitted, 300u);
    EXPECT_TRUE(dorvex_cli::run_ordered<std::string>(0, threads, quick, all));
  }
}

}  // namespace
