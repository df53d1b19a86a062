// The compound-file reader and stream access, on containers built by cfb.h: layouts that real
// files use, and every kind of damage a hostile file can bring.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "context.h"
#include "cfb.h"
#include "fixture.h"
#include "numutils.h"
#include "ole.h"

namespace {

using testing_support::stream_of;

// Sets the length of the file under a stream, as ftruncate does: its position stays.
bool set_length(std::FILE* f, long long length) {
  std::fflush(f);
#ifdef _WIN32
  // Not _chsize_s, which grows a file by writing its zeros.
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  LARGE_INTEGER zero{}, at{}, where{};
  at.QuadPart = length;
  return SetFilePointerEx(h, zero, &where, FILE_CURRENT) && SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
         SetEndOfFile(h) && SetFilePointerEx(h, where, nullptr, FILE_BEGIN);
#else
  return ftruncate(fileno(f), length) == 0;
#endif
}

// Bytes that differ from sector to sector, so a block read from the wrong place shows.
std::string pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = char((i * 7 + seed * 13 + i / 64) & 0xFF);
  return s;
}

cfb::Entry stream(const std::string& name, const std::string& data) {
  cfb::Entry e;
  e.name = name;
  e.data = data;
  return e;
}

// A loaded container; ole_finish and the stream are released at scope exit.
struct Loaded {
  std::FILE* input = nullptr;
  std::FILE* f = nullptr;
  std::string err;
  explicit Loaded(const std::string& bytes) {
    input = stream_of(bytes);
    testing::internal::CaptureStderr();
    f = dorvex::ole_init(input, nullptr, 0);
    err = testing::internal::GetCapturedStderr();
  }
  ~Loaded() {
    dorvex::ole_finish();
    if (f && f != input) std::fclose(f);
    std::fclose(input);
  }
};

// All records of the enumeration, in order; the caller closes them.
std::vector<dorvex::OleStream*> entries(std::FILE* f) {
  std::vector<dorvex::OleStream*> out;
  while (dorvex::OleStream* e = dorvex::ole_readdir(f)) out.push_back(e);
  return out;
}

void close_all(std::vector<dorvex::OleStream*>& v) {
  for (auto* e : v) dorvex::ole_close(e);
  v.clear();
}

std::string read_all(dorvex::OleStream* s, std::size_t chunk = 1000) {
  std::string out;
  std::vector<char> buf(chunk);
  std::size_t n;
  while ((n = dorvex::ole_read(buf.data(), 1, chunk, s)) > 0) out.append(buf.data(), n);
  return out;
}

// The contents of the named stream, or "<missing>".
std::string contents(std::FILE* f, const std::string& name, int* big = nullptr) {
  std::string out = "<missing>";
  while (dorvex::OleStream* e = dorvex::ole_readdir(f)) {
    if (name == e->name && dorvex::ole_open(e) == 0) {
      out = read_all(e);
      if (big) *big = e->inBigBlocks;
    }
    dorvex::ole_close(e);
  }
  return out;
}

TEST(Numutils, LittleEndianReaders) {
  const unsigned char b[] = {0xFE, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 0x00, 0x80};
  EXPECT_EQ(dorvex::getlong(b, 0), -2);
  EXPECT_EQ(dorvex::getulong(b, 0), 0xFFFFFFFEu);
  EXPECT_EQ(dorvex::getshort(b, 4), 0x1234);
  EXPECT_EQ(dorvex::getshort(b, 6), 0x8000);
  EXPECT_EQ(dorvex::getlong(b, 4), std::int32_t(0x80001234u));
}

TEST(OleReader, EnumeratesEntriesAndReadsShortAndOrdinaryStreams) {
  std::string small = pattern(300), big = pattern(5000, 2);
  cfb::Entry storage;
  storage.name = "ObjectPool";
  storage.type = 1;
  Loaded c(cfb::build({stream("WordDocument", small), storage, stream("Data", big)}));
  ASSERT_EQ(c.f, c.input) << "a seekable input is read in place";
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(std::ftell(c.f), 0);
  ASSERT_NE(dorvex::ctx().ole.rootEntry, nullptr);
  EXPECT_EQ(dorvex::ctx().ole.sectorSize, 512);
  EXPECT_EQ(dorvex::ctx().ole.shortSectorSize, 64);
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_STREQ(v[0]->name, "Root Entry");
  EXPECT_EQ(v[0]->entryType, 5);
  EXPECT_NE(v[0], dorvex::ctx().ole.rootEntry);
  EXPECT_EQ(dorvex::ole_open(v[0]), -2);
  EXPECT_STREQ(v[2]->name, "ObjectPool");
  EXPECT_EQ(dorvex::ole_open(v[2]), -2);
  EXPECT_EQ(v[2]->size, 0u);
  ASSERT_EQ(dorvex::ole_open(v[1]), 0);
  EXPECT_EQ(v[1]->inBigBlocks, 0);
  EXPECT_EQ(read_all(v[1], 7), small);
  ASSERT_EQ(dorvex::ole_open(v[3]), 0);
  EXPECT_EQ(v[3]->inBigBlocks, 1);
  EXPECT_EQ(read_all(v[3], 333), big);
  close_all(v);
  EXPECT_EQ(dorvex::ole_readdir(c.f), nullptr) << "the enumeration stays over";
}

TEST(OleReader, StreamsOf4096BytesAndMoreLieInOrdinarySectors) {
  std::string a = pattern(4095, 3), b = pattern(4096, 4);
  for (int shift : {9, 12}) {
    cfb::Options o;
    o.sector_shift = shift;
    std::string file = cfb::build({stream("A", a), stream("B", b)}, o);
    int big = -1;
    {
      Loaded c(file);
      ASSERT_NE(c.f, nullptr) << shift;
      EXPECT_EQ(dorvex::ctx().ole.sectorSize, 1 << shift);
      EXPECT_EQ(contents(c.f, "A", &big), a) << shift;
      EXPECT_EQ(big, 0);
    }
    Loaded c(file);
    EXPECT_EQ(contents(c.f, "B", &big), b) << shift;
    EXPECT_EQ(big, 1);
  }
}

// Feeds bytes through a pipe, as standard input fed by another program; read_end() is the
// reading side after the first prefix_len bytes, which are in prefix.
class Piped {
 public:
  Piped(const std::string& bytes, std::size_t prefix_len) : bytes_(bytes) {
    int fds[2];
    if (testing_support::make_pipe(fds) != 0) return;
    writer_ = std::thread([this, fd = fds[1]] {
      std::size_t done = 0;
      while (done < bytes_.size()) {
        const auto n = write(fd, bytes_.data() + done, static_cast<unsigned>(bytes_.size() - done));
        if (n <= 0) break;
        done += std::size_t(n);
      }
      close(fd);
    });
    in_ = fdopen(fds[0], "rb");
    if (in_) prefix.resize(std::fread(prefix.data(), 1, std::min(prefix_len, prefix.size()), in_));
  }
  ~Piped() {
    if (in_) std::fclose(in_);  // a writer blocked on a full pipe sees it closed
    if (writer_.joinable()) writer_.join();
  }
  std::FILE* read_end() const { return in_; }
  std::vector<unsigned char> prefix = std::vector<unsigned char>(8);

 private:
  std::string bytes_;
  std::thread writer_;
  std::FILE* in_ = nullptr;
};

// Sets the temporary directory for the scope: TMPDIR; on Windows TMP, the first the system reads.
struct TmpdirSetting {
#ifdef _WIN32
  static constexpr const char* kVariable = "TMP";
#else
  static constexpr const char* kVariable = "TMPDIR";
#endif
  explicit TmpdirSetting(const std::string& dir) {
    if (const char* old = std::getenv(kVariable)) saved = old, had = true;
    testing_support::set_env(kVariable, dir.c_str());
  }
  ~TmpdirSetting() { testing_support::set_env(kVariable, had ? saved.c_str() : nullptr); }
  std::string saved;
  bool had = false;
};

#ifndef _WIN32
std::string path_of(std::FILE* f) {
  char buf[PATH_MAX] = {};
  std::string link = "/proc/self/fd/" + std::to_string(fileno(f));
  ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
}
#endif

std::size_t files_in(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(OleReader, PipedInputIsCopiedWithItsPrefixIntoTmpdir) {
  std::string data = pattern(9000, 5);
  // A megabyte of zeros after the container becomes a hole in the copy, not disk.
  std::string file = cfb::build({stream("WordDocument", data), stream("T", "xyz")});
  std::string padded = file + std::string(1 << 20, '\0');
  testing_support::TempDir dir;
  TmpdirSetting tmpdir(dir.path());
  Piped p(padded, 8);
  std::FILE* f = dorvex::ole_init(p.read_end(), p.prefix.data(), p.prefix.size());
  ASSERT_NE(f, nullptr);
  EXPECT_NE(f, p.read_end()) << "a temporary copy stands for the pipe";
#ifdef _WIN32
  // The copy is a file of the temporary directory, deleted when it is closed.
  EXPECT_EQ(files_in(dir.path()), 1u);
#else
  EXPECT_EQ(path_of(f).rfind(dir.path() + "/", 0), 0u) << path_of(f);
  EXPECT_NE(path_of(f).find("(deleted)"), std::string::npos) << "no name is left behind";
  EXPECT_EQ(files_in(dir.path()), 0u);
  struct stat st;
  ASSERT_EQ(fstat(fileno(f), &st), 0);
  EXPECT_EQ(st.st_size, off_t(padded.size()));
  EXPECT_LT(st.st_blocks * 512, off_t(file.size()) + 65536);
#endif
  EXPECT_EQ(dorvex::ctx().ole.fileLength, std::int32_t(padded.size()));
  EXPECT_EQ(testing_support::read_stream(f), padded);
  std::rewind(f);
  EXPECT_EQ(contents(f, "WordDocument"), data);
  dorvex::ole_finish();
  std::fclose(f);
  EXPECT_EQ(files_in(dir.path()), 0u) << "no name is left behind";
}

#ifndef _WIN32
// A stream that reads nothing and cannot be positioned, for a reason other than being a pipe.
std::FILE* unpositionable_stream() {
  cookie_io_functions_t io = {};
  io.read = [](void*, char*, std::size_t) -> ssize_t { return 0; };
  io.seek = [](void*, off64_t*, int) -> int {
    errno = EINVAL;
    return -1;
  };
  return fopencookie(nullptr, "rb", io);
}
#endif

TEST(OleReader, InputsThatCannotBeReadAgainAreRefusedWithTheReason) {
  {
    Piped p(cfb::build({stream("S", "abc")}), 8);
    // The capture keeps its text in a temporary file of its own, made before the setting.
    testing::internal::CaptureStderr();
    std::FILE* copy = nullptr;
    {
      TmpdirSetting tmpdir("/nonexistent-dorvex-dir");
      copy = dorvex::ole_init(p.read_end(), p.prefix.data(), p.prefix.size());
    }
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Can't create tmp file: No such file or directory\n");
  }
#ifndef _WIN32
  // Windows has no limit of a process's file size to make the copy fail part way, and no
  // fopencookie to make a stream that cannot be positioned.
  {
    // A TMPDIR that fills up: the copy stops at the first failed write.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 65536;
    auto old_xfsz = std::signal(SIGXFSZ, SIG_IGN);
    auto old_pipe = std::signal(SIGPIPE, SIG_IGN);  // the rest of the pipe goes unread
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string err;
    {
      Piped p(cfb::build({stream("S", pattern(300000, 21))}), 8);
      testing::internal::CaptureStderr();
      EXPECT_EQ(dorvex::ole_init(p.read_end(), p.prefix.data(), p.prefix.size()), nullptr);
      err = testing::internal::GetCapturedStderr();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_xfsz);
    std::signal(SIGPIPE, old_pipe);
    EXPECT_EQ(err, "Can't write to tmp file: File too large\n");
  }
  std::FILE* f = unpositionable_stream();
  ASSERT_NE(f, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(dorvex::ole_init(f, nullptr, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't seek in file: Invalid argument\n");
  std::fclose(f);
#endif
}

TEST(OleStreamAccess, ReadsAcrossBlocksAndStopsAtTheEnd) {
  std::string data = pattern(1300, 6);
  Loaded c(cfb::build({stream("S", data)}));  // 64-byte short sectors
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 2u);
  dorvex::OleStream* s = v[1];
  ASSERT_EQ(s->inBigBlocks, 0);
  ASSERT_EQ(dorvex::ole_open(s), 0);
  char buf[2000];
  ASSERT_EQ(dorvex::ole_seek(s, 500, SEEK_SET), 0);
  EXPECT_EQ(dorvex::ole_read(buf, 1, 128, s), 128u);
  EXPECT_EQ(std::string(buf, 128), data.substr(500, 128));
  EXPECT_EQ(dorvex::ole_tell(s), 628);
  EXPECT_EQ(dorvex::ole_read(buf, 1, 12, s), 12u) << "a read of exactly the rest of block 9";
  EXPECT_EQ(std::string(buf, 12), data.substr(628, 12));
  EXPECT_EQ(dorvex::ole_read(buf, 1, 2000, s), 1300u - 640u);
  EXPECT_EQ(std::string(buf, 1300 - 640), data.substr(640));
  EXPECT_EQ(dorvex::ole_eof(s), 1);
  EXPECT_EQ(dorvex::ole_read(buf, 1, 10, s), 0u);
  close_all(v);
}

TEST(OleStreamAccess, BigBlockReadsAndEofAtTheLastByte) {
  std::string data = pattern(6000, 7);
  Loaded c(cfb::build({stream("S", data)}));
  auto v = entries(c.f);
  dorvex::OleStream* s = v[1];
  ASSERT_EQ(dorvex::ole_open(s), 0);
  char buf[8000];
  ASSERT_EQ(dorvex::ole_seek(s, 500, SEEK_SET), 0);
  ASSERT_EQ(dorvex::ole_read(buf, 1, 128, s), 128u);
  EXPECT_EQ(std::string(buf, 128), data.substr(500, 128)) << "12 bytes of block 0, 116 of block 1";
  EXPECT_EQ(dorvex::ole_tell(s), 628);
  ASSERT_EQ(dorvex::ole_seek(s, -10, SEEK_END), 0);
  EXPECT_EQ(dorvex::ole_eof(s), 0);
  EXPECT_EQ(dorvex::ole_read(buf, 1, 10, s), 10u);
  EXPECT_EQ(dorvex::ole_eof(s), 1) << "the end shows as soon as the last byte is read";
  close_all(v);
}

TEST(OleStreamAccess, SeekClampsAndRejectsUnknownOrigins) {
  std::string data = pattern(8192, 8);  // a whole number of 512-byte blocks
  Loaded c(cfb::build({stream("S", data), stream("E", "")}));
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 3u);
  dorvex::OleStream* s = v[1];
  ASSERT_EQ(dorvex::ole_open(s), 0);
  char buf[16];
  EXPECT_EQ(dorvex::ole_seek(s, 100000, SEEK_SET), 0);
  EXPECT_EQ(dorvex::ole_tell(s), 8192);
  EXPECT_EQ(dorvex::ole_read(buf, 1, 16, s), 0u);
  EXPECT_EQ(dorvex::ole_seek(s, -100000, SEEK_CUR), 0);
  EXPECT_EQ(dorvex::ole_tell(s), 0);
  EXPECT_EQ(dorvex::ole_seek(s, 4000, SEEK_SET), 0);
  errno = 0;
  EXPECT_EQ(dorvex::ole_seek(s, 1, 3), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(dorvex::ole_tell(s), 4000);
  ASSERT_EQ(dorvex::ole_read(buf, 1, 16, s), 16u);
  EXPECT_EQ(std::string(buf, 16), data.substr(4000, 16));
  EXPECT_EQ(dorvex::ole_seek(s, 0, SEEK_END), 0);
  EXPECT_EQ(dorvex::ole_read(buf, 1, 16, s), 0u);
  dorvex::OleStream* e = v[2];
  ASSERT_EQ(dorvex::ole_open(e), 0);
  EXPECT_EQ(e->size, 0u);
  EXPECT_EQ(e->blockCount, 0) << "first block -2: no blocks";
  EXPECT_EQ(dorvex::ole_eof(e), 1);
  EXPECT_EQ(dorvex::ole_seek(e, 0, SEEK_END), 0);
  EXPECT_EQ(dorvex::ole_read(buf, 1, 16, e), 0u);
  close_all(v);
}

TEST(OleReader, RejectsHeadersItCannotUse) {
  std::string good = cfb::build({stream("S", "abc")});
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"shorter than a header", good.substr(0, 511)});
  std::string sign = good;
  sign[7] = 0;
  cases.push_back({"other signature", sign});
  for (int shift : {0, 6, 17, 31}) {
    std::string b = good;
    cfb::put16(b, 0x1E, std::uint32_t(shift));
    cases.push_back({"sector shift", b});
  }
  for (int shift : {0, 1, 10}) {  // 1, 2 and 1024 bytes
    std::string b = good;
    cfb::put16(b, 0x20, std::uint32_t(shift));
    cases.push_back({"short-sector shift", b});
  }
  for (const Case& k : cases) {
    Loaded c(k.bytes);
    EXPECT_EQ(c.f, nullptr) << k.what;
    EXPECT_EQ(c.err, "") << k.what;
  }
}

TEST(OleReader, BbdCountsAndMsatEntriesTheFileCannotBackAreBroken) {
  {
    cfb::Options o;
    o.bbd_count = 0xFFFFFFF0;  // would size the BBD at gigabytes
    Loaded c(cfb::build({stream("S", "abc")}, o));
    EXPECT_EQ(c.f, nullptr);
    EXPECT_EQ(c.err, "Bad BBD entry!\n");
  }
  {
    cfb::Options o;  // the file holds 200 sectors, but only 109 MSAT entries exist
    o.pad_sectors = 200;
    o.bbd_count = 110;
    Loaded c(cfb::build({stream("S", "abc")}, o));
    EXPECT_EQ(c.f, nullptr);
    EXPECT_EQ(c.err, "Bad BBD entry!\n");
  }
  {
    cfb::Layout L;
    std::string b = cfb::build({stream("S", "abc")}, {}, &L);
    cfb::put32(b, 0x4C, std::uint32_t(-5));
    Loaded c(b);
    EXPECT_EQ(c.f, nullptr);
    EXPECT_EQ(c.err, "Bad BBD entry!\n");
  }
}

TEST(OleReader, MsatSectorsListBbdSectorsBeyond109) {
  // Data at sector 14200 has its links in BBD sector 110, named by the first MSAT sector.
  std::string data = pattern(20000, 9);
  cfb::Options o;
  o.pad_sectors = 14200;
  cfb::Layout L;
  std::string file = cfb::build({stream("S", data)}, o, &L);
  ASSERT_GT(L.bbd.size(), 110u);
  ASSERT_EQ(L.msat.size(), 1u);
  {
    Loaded c(file);
    ASSERT_NE(c.f, nullptr) << c.err;
    EXPECT_EQ(contents(c.f, "S"), data);
  }
  // 240 BBD sectors: entries 109 to 235 in the first MSAT sector, 236 on in the second.
  cfb::Options m;
  m.min_bbd_sectors = 240;
  std::string two = cfb::build({stream("S", data)}, m, &L);
  ASSERT_EQ(L.msat.size(), 2u);
  {
    Loaded c(two);
    ASSERT_NE(c.f, nullptr) << c.err;
    EXPECT_EQ(dorvex::ctx().ole.bbdNumBlocks, 240);
    EXPECT_EQ(contents(c.f, "S"), data);
  }
  std::string bad = two;
  cfb::put32(bad, std::size_t(L.offset(L.msat[1])), std::uint32_t(-7));  // entry 236
  {
    Loaded c(bad);
    EXPECT_EQ(c.f, nullptr);
    EXPECT_EQ(c.err, "Bad BBD entry!\n");
  }
  std::string cut = two;
  cfb::put32(cut, std::size_t(L.offset(L.msat[0])) + 508, 0x7FFFFF00u);  // next MSAT sector
  {
    Loaded c(cut);
    EXPECT_EQ(c.f, nullptr);
    EXPECT_EQ(c.err, "Error read MSAT!\n");
  }
}

TEST(OleReader, LoopedChainsEnd) {
  std::string data = pattern(700, 10);
  cfb::Options o;
  o.loop_sbd = true;
  o.loop_dir = true;
  o.loop_msat = true;
  o.min_bbd_sectors = 112;
  std::string file = cfb::build({stream("S", data)}, o);
  cfb::put32(file, 0x48, 0x7FFFFFFF);  // MSAT sector count
  cfb::Layout L;
  cfb::build({stream("S", data)}, o, &L);
  Loaded c(file);
  ASSERT_NE(c.f, nullptr) << c.err;
  EXPECT_EQ(dorvex::ctx().ole.sbdLen, std::int32_t(L.sbd.size())) << "each sector once";
  EXPECT_EQ(dorvex::ctx().ole.propLen, std::int32_t(L.dir.size()));
  auto v = entries(c.f);
  EXPECT_EQ(v.size(), 2u) << "the directory is enumerated once, not once per turn of the loop";
  close_all(v);
  dorvex::ctx().ole.propCurNumber = 0;
  EXPECT_EQ(contents(c.f, "S"), data);
}

// A container whose tables claim what a sparse file of 2.1 GB can claim in four sectors: the
// directory and the SBD loop on one sector each, and 4,000,000 BBD sectors, all the same one,
// are listed by one MSAT sector that links to itself.
std::string sparse_tables_head() {
  std::string f(512 + 4 * 512, '\0');
  const unsigned char sign[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (int i = 0; i < 8; ++i) f[std::size_t(i)] = char(sign[i]);
  cfb::put16(f, 0x1E, 9);
  cfb::put16(f, 0x20, 6);
  cfb::put32(f, 0x2C, 4000000);  // BBD sectors
  cfb::put32(f, 0x30, 1);        // directory
  cfb::put32(f, 0x3C, 2);        // SBD
  cfb::put32(f, 0x44, 3);        // MSAT sector
  cfb::put32(f, 0x48, 0x7FFFFFFF);
  auto sector = [](int k) { return std::size_t(512 + 512 * k); };
  cfb::put32(f, sector(0), std::uint32_t(cfb::kBbdSector));
  cfb::put32(f, sector(0) + 4, 1);
  cfb::put32(f, sector(0) + 8, 2);
  cfb::put32(f, sector(0) + 12, std::uint32_t(cfb::kMsatSector));
  const std::string root = "Root Entry";
  for (std::size_t i = 0; i < root.size(); ++i) f[sector(1) + 2 * i] = root[i];
  cfb::put16(f, sector(1) + 0x40, std::uint32_t(2 * root.size() + 2));
  for (int e = 0; e < 4; ++e) f[sector(1) + 128 * std::size_t(e) + 0x42] = e ? 1 : 5;
  cfb::put32(f, sector(1) + 0x74, std::uint32_t(cfb::kEndOfChain));
  cfb::put32(f, sector(3) + 508, 3);
  return f;
}

long peak_rss_kb() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS m{};
  m.cb = sizeof m;
  GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
  return static_cast<long>(m.PeakWorkingSetSize / 1024);
#else
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
#endif
}

TEST(OleReader, TablesOfASparseContainerStayInProportion) {
  std::FILE* input = stream_of(sparse_tables_head());
  ASSERT_TRUE(set_length(input, 2100000000));
  const long before = peak_rss_kb();
  std::FILE* f = dorvex::ole_init(input, nullptr, 0);
  ASSERT_EQ(f, input);
  EXPECT_EQ(dorvex::ctx().ole.propLen, 1);
  EXPECT_EQ(dorvex::ctx().ole.sbdLen, 1) << "an empty root's container needs one SBD sector";
  EXPECT_EQ(dorvex::ctx().ole.bbdNumBlocks, 4000000);
  // Those that describe the file's sectors: 2100000000 / 512 / 128, rounded up.
  EXPECT_LT(peak_rss_kb() - before, 100 * 1024)
      << "without the bounds, each table grows to gigabytes";
  auto v = entries(f);
  EXPECT_EQ(v.size(), 4u);
  close_all(v);
  dorvex::ole_finish();
  std::fclose(input);
}

TEST(OleReader, DirectoryAndSbdEndWhereTheContainerStopsUsingThem) {
  // 19 entries and the root: 5 directory sectors. Three short streams of 63 short sectors each:
  // 189 SBD entries, 2 SBD sectors.
  std::vector<cfb::Entry> v;
  for (int i = 0; i < 3; ++i) v.push_back(stream("S" + std::to_string(i), pattern(4000, 30 + i)));
  for (int i = 3; i < 19; ++i) v.push_back(stream("E" + std::to_string(i), "e"));
  cfb::Layout L;
  const std::string sound = cfb::build(v, {}, &L);
  ASSERT_EQ(L.dir.size(), 5u);
  ASSERT_EQ(L.sbd.size(), 2u);
  struct Case {
    const char* what;
    std::size_t empty_entry;     // directory entry given type 0 (0: none)
    std::int64_t root_size;      // -1: as built
    std::int32_t dir_sectors, sbd_sectors;
    std::size_t entries;
    std::string s0;              // what stream S0 reads, when it is enumerated
  };
  const std::string s0 = v[0].data;
  const Case cases[] = {
      {"sound", 0, -1, 5, 2, 20, s0},
      {"entry 9 empty", 9, -1, 3, 2, 9, s0},
      {"entry 4 empty", 4, -1, 2, 2, 4, s0},
      {"root of 0 bytes", 0, 0, 5, 1, 20, s0.substr(0, 512)},
      {"root of 4096 bytes", 0, 4096, 5, 1, 20, s0},
  };
  for (const Case& k : cases) {
    std::string file = sound;
    if (k.empty_entry) file[L.entry_offset(k.empty_entry) + 0x42] = 0;
    if (k.root_size >= 0) cfb::put32(file, L.entry_offset(0) + 0x78, std::uint32_t(k.root_size));
    Loaded c(file);
    ASSERT_NE(c.f, nullptr) << k.what << c.err;
    EXPECT_EQ(dorvex::ctx().ole.propLen, k.dir_sectors) << k.what;
    EXPECT_EQ(dorvex::ctx().ole.sbdLen, k.sbd_sectors) << k.what;
    auto all = entries(c.f);
    EXPECT_EQ(all.size(), k.entries) << k.what;
    close_all(all);
    dorvex::ctx().ole.propCurNumber = 0;
    EXPECT_EQ(contents(c.f, "S0"), k.s0) << k.what;
  }
}

TEST(OleReader, EntryChainsEndAtLinksOutsideTheTableOrFile) {
  cfb::Entry big = stream("Big", pattern(5000, 11));
  big.bad_link = 0x40000000;
  cfb::Entry small = stream("Small", pattern(300, 12));
  small.bad_link = 0x40000000;
  cfb::Entry zero = stream("Zero", pattern(5000, 13));
  cfb::Layout L;
  std::string file = cfb::build({big, small, zero}, {}, &L);
  // The Zero stream's first link points to sector 0: that ends an entry's chain.
  std::size_t bbd0 = std::size_t(L.offset(L.bbd[0]));
  cfb::put32(file, bbd0 + 4 * std::size_t(L.first[2]), 0);
  Loaded c(file);
  ASSERT_NE(c.f, nullptr) << c.err;
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[1]->blockCount, 1);
  EXPECT_EQ(v[1]->size, 512u);
  EXPECT_EQ(v[2]->blockCount, 1);
  EXPECT_EQ(v[2]->size, 64u);
  EXPECT_EQ(v[3]->blockCount, 1);
  ASSERT_EQ(dorvex::ole_open(v[1]), 0);
  EXPECT_EQ(read_all(v[1]), big.data.substr(0, 512));
  close_all(v);
}

TEST(OleReader, LoopedEntryChainWithHugeSizeStaysInProportion) {
  cfb::Entry s = stream("S", pattern(5000, 14));
  s.size = 0xFFFFFFFF;
  cfb::Layout L;
  std::string file = cfb::build({s}, {}, &L);
  std::size_t bbd0 = std::size_t(L.offset(L.bbd[0]));
  cfb::put32(file, bbd0 + 4 * std::size_t(L.first[0]) + 4 * 9, std::uint32_t(L.first[0]));
  Loaded c(file);
  ASSERT_NE(c.f, nullptr);
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_LE(v[1]->blockCount, dorvex::ctx().ole.fileLength / 512 + 1);
  EXPECT_LE(v[1]->size, std::uint32_t(v[1]->blockCount) * 512u);
  ASSERT_EQ(dorvex::ole_open(v[1]), 0);
  std::string got = read_all(v[1], 4096);
  EXPECT_EQ(got.size(), v[1]->size);
  EXPECT_EQ(got.substr(0, 5000), s.data);
  close_all(v);
}

TEST(OleReader, EntriesSharingALoopedChainCostNoMoreThanTheFileHolds) {
  std::vector<cfb::Entry> v{stream("Ring", pattern(200 * 512, 20))};
  for (int i = 0; i < 1000; ++i) {
    cfb::Entry e = stream("E" + std::to_string(i), "");
    e.first = 1;
    e.size = 0xFFFFFFFF;
    v.push_back(e);
  }
  cfb::Layout L;
  std::string file = cfb::build(v, {}, &L);
  ASSERT_EQ(L.first[0], 0);
  cfb::put32(file, std::size_t(L.offset(L.bbd[0])) + 4 * 199, 1);  // last sector -> sector 1
  Loaded c(file);
  ASSERT_NE(c.f, nullptr);
  std::int64_t listed = 0, entries_seen = 0;
  while (dorvex::OleStream* e = dorvex::ole_readdir(c.f)) {
    listed += e->blockCount;
    ++entries_seen;
    EXPECT_LE(e->size, std::uint32_t(e->blockCount) * 512u);
    dorvex::ole_close(e);
  }
  EXPECT_EQ(entries_seen, 1002);
  // Once the budget is spent each entry keeps only its first block.
  EXPECT_LE(listed, 2 * (dorvex::ctx().ole.fileLength / 512 + dorvex::ctx().ole.propNumber) + 64 + entries_seen);
  EXPECT_GE(listed, 200) << "the sound stream keeps its whole chain";
}

TEST(OleReader, NamesAreCutToTheNameArea) {
  cfb::Entry longlen = stream("WordDocument", "a");
  longlen.name_len = 200;
  cfb::Entry odd = stream("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "b");
  odd.name_len = 25;
  cfb::Entry none = stream("Gone", "c");
  none.name_len = 0;
  cfb::Entry full = stream(std::string(40, 'N'), "d");
  full.name_len = 64;
  Loaded c(cfb::build({longlen, odd, none, full}));
  ASSERT_NE(c.f, nullptr);
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 5u);
  EXPECT_STREQ(v[1]->name, "WordDocument") << "the stored zero unit still ends it";
  EXPECT_STREQ(v[2]->name, "ABCDEFGHIJKL");
  EXPECT_STREQ(v[3]->name, "");
  EXPECT_EQ(std::string(v[4]->name), std::string(32, 'N'));
  close_all(v);
}

TEST(OleReader, MissingRootEntryIsBroken) {
  const char* msg = "Broken OLE structure. Cannot find root entry in this file!\n";
  for (int variant = 0; variant < 2; ++variant) {
    cfb::Options o;
    (variant ? o.empty_before_root : o.no_root) = true;
    Loaded c(cfb::build({stream("S", "abc")}, o));
    EXPECT_EQ(c.f, nullptr) << variant;
    EXPECT_EQ(c.err, msg) << variant;
    EXPECT_EQ(dorvex::ole_readdir(c.input), nullptr) << "state released";
  }
  cfb::Options o;
  o.prop_start = -1;
  Loaded c(cfb::build({stream("S", "abc")}, o));
  EXPECT_EQ(c.f, nullptr);
  EXPECT_EQ(c.err, "");
}

TEST(OleReader, TruncatedTablesAreReported) {
  std::string file = cfb::build({stream("S", pattern(3000, 15))});
  // The BBD sector is the last sector; a file ending inside it cannot supply it.
  Loaded c(file.substr(0, file.size() - 100));
  EXPECT_EQ(c.f, nullptr);
  EXPECT_EQ(c.err, "Can't read BBD!\n");
}

TEST(OleStreamAccess, UnreachableBlocksEndTheStream) {
  // A short stream whose short sector lies beyond the root's container.
  cfb::Entry lost = stream("Lost", pattern(100, 16));
  lost.first = 100;
  // An ordinary stream whose first sector starts at the end of the file.
  cfb::Entry past = stream("Past", std::string());
  past.size = 6000;
  std::string probe = cfb::build({lost, past, stream("Keep", pattern(5000, 17))});
  past.first = std::int64_t(probe.size() / 512) - 1;  // sector k begins at 512 + 512 k
  std::string file = cfb::build({lost, past, stream("Keep", pattern(5000, 17))});
  ASSERT_EQ(file.size(), probe.size());
  Loaded c(file);
  ASSERT_NE(c.f, nullptr) << c.err;
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 4u);
  char buf[256];
  for (int i : {1, 2}) {
    ASSERT_EQ(dorvex::ole_open(v[i]), 0);
    EXPECT_EQ(dorvex::calcFileBlockOffset(v[i], 0), -1) << i;
    EXPECT_EQ(dorvex::ole_read(buf, 1, sizeof buf, v[i]), 0u) << i;
    EXPECT_EQ(dorvex::ole_eof(v[i]), 1) << i;
    EXPECT_TRUE(v[i]->cut) << i << ": the container could not deliver the stream";
  }
  ASSERT_EQ(dorvex::ole_open(v[3]), 0);
  EXPECT_EQ(read_all(v[3], 300), pattern(5000, 17));
  EXPECT_FALSE(v[3]->cut);
  EXPECT_EQ(dorvex::calcFileBlockOffset(v[3], -1), -1);
  EXPECT_EQ(dorvex::calcFileBlockOffset(v[3], v[3]->blockCount), -1);
  close_all(v);
}

TEST(OleStreamAccess, ContainerCutAfterLoadingEndsTheStream) {
  std::string data = pattern(9000, 18);
  cfb::Layout L;
  std::string file = cfb::build({stream("S", data)}, {}, &L);
  Loaded c(file);
  ASSERT_NE(c.f, nullptr);
  auto v = entries(c.f);
  dorvex::OleStream* s = v[1];
  ASSERT_EQ(dorvex::ole_open(s), 0);
  std::fflush(c.f);
  // Cut the file 1000 bytes into the stream's data.
  ASSERT_TRUE(set_length(c.f, L.offset(L.first[0]) + 1000));
  std::string got = read_all(s, 300);
  EXPECT_EQ(got, data.substr(0, 1000));
  EXPECT_EQ(dorvex::ole_eof(s), 1) << "readers waiting for the end must see it";
  EXPECT_TRUE(s->cut) << "a file that shrank while read is a failure, not an end";
  close_all(v);
}

TEST(OleReader, ShortStreamWithoutSbdKeepsOneBlock) {
  std::string data = pattern(300, 19);
  std::string file = cfb::build({stream("S", data)});
  cfb::put32(file, 0x3C, std::uint32_t(-2));
  Loaded c(file);
  ASSERT_NE(c.f, nullptr);
  auto v = entries(c.f);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[1]->blockCount, 1);
  EXPECT_EQ(v[1]->size, 64u);
  ASSERT_EQ(dorvex::ole_open(v[1]), 0);
  EXPECT_EQ(read_all(v[1]), data.substr(0, 64));
  close_all(v);
}

TEST(OleReader, ReleaseIsSafeToRepeat) {
  EXPECT_EQ(dorvex::ole_close(nullptr), -1);
  {
    Loaded c(cfb::build({stream("S", "abc")}));
    ASSERT_NE(c.f, nullptr);
    dorvex::ole_finish();
    dorvex::ole_finish();
    EXPECT_EQ(dorvex::ctx().ole.rootEntry, nullptr);
    EXPECT_EQ(dorvex::ole_readdir(c.f), nullptr);
  }
  // A second container replaces the first.
  Loaded a(cfb::build({stream("A", "first")}));
  Loaded b(cfb::build({stream("B", "second")}));
  EXPECT_EQ(contents(b.f, "B"), "second");
}

}  // namespace
