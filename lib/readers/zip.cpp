#include "zip.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "numutils.h"

namespace dorvex {

namespace {

// End of central directory record: signature, entry count, directory size and offset.
constexpr std::size_t kEocdSize = 22, kEocdEntries = 10, kEocdDirSize = 12, kEocdDirOffset = 16;
constexpr std::size_t kEocdCommentLen = 20, kMaxComment = 65535;
// ZIP64 locator (just before the record above) and the ZIP64 end record it points to.
constexpr std::size_t kLocatorSize = 20, kLocatorOffset = 8;
constexpr std::size_t kEocd64Size = 56, kEocd64Entries = 32, kEocd64DirSize = 40,
                      kEocd64DirOffset = 48;
// Central directory entry.
constexpr std::size_t kCdSize = 46, kCdFlags = 8, kCdMethod = 10, kCdCrc = 16, kCdCompressed = 20,
                      kCdSizeField = 24, kCdNameLen = 28, kCdExtraLen = 30, kCdCommentLen = 32,
                      kCdLocalOffset = 42;
static_assert(kCdLocalOffset + 4 <= kCdSize, "entry fields lie inside the fixed part");
// Local header.
constexpr std::size_t kLocalSize = 30, kLocalNameLen = 26, kLocalExtraLen = 28;

constexpr std::uint32_t kSigLocal = 0x04034B50, kSigCentral = 0x02014B50, kSigEnd = 0x06054B50,
                        kSigLocator = 0x07064B50, kSigEnd64 = 0x06064B50;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kStored = 0, kDeflated = 8;

constexpr std::size_t kInBlock = 65536, kOutBlock = 262144;

std::uint64_t getu64(const unsigned char* b, std::size_t off) {
  return std::uint64_t(getulong(b, off)) | std::uint64_t(getulong(b, off + 4)) << 32;
}
std::uint16_t getu16(const unsigned char* b, std::size_t off) {
  return static_cast<std::uint16_t>(getshort(b, off));
}

bool read_at(std::FILE* f, std::uint64_t offset, unsigned char* dest, std::size_t n) {
  if (offset > std::uint64_t(INT64_MAX)) return false;
  if (fseeko(f, off_t(offset), SEEK_SET) != 0) return false;
  return std::fread(dest, 1, n, f) == n;
}

ZipStatus fail(ZipArchive* zip, ZipStatus status, const char* why) {
  zip->error = why;
  return status;
}

// Where the central directory lies, from the end records.
struct DirectoryPlace {
  std::uint64_t entries, size, offset;
};

ZipStatus find_directory(ZipArchive* zip, DirectoryPlace* place) {
  const std::uint64_t tail_len = std::min<std::uint64_t>(zip->file_size, kEocdSize + kMaxComment);
  if (tail_len < kEocdSize) return fail(zip, ZipStatus::damaged, "no end of central directory");
  std::vector<unsigned char> tail(tail_len);
  const std::uint64_t tail_start = zip->file_size - tail_len;
  if (!read_at(zip->file, tail_start, tail.data(), tail.size())) {
    return fail(zip, ZipStatus::damaged, "cannot read the end of the package");
  }
  // The record nearest the end whose comment reaches no further than the file: a comment may
  // itself hold the signature's bytes.
  std::size_t at = tail.size() - kEocdSize + 1;
  bool found = false;
  while (at-- > 0) {
    if (getulong(tail.data(), at) == kSigEnd &&
        at + kEocdSize + getu16(tail.data(), at + kEocdCommentLen) <= tail.size()) {
      found = true;
      break;
    }
  }
  if (!found) return fail(zip, ZipStatus::damaged, "no end of central directory");
  const unsigned char* e = tail.data() + at;
  place->entries = getu16(e, kEocdEntries);
  place->size = getulong(e, kEocdDirSize);
  place->offset = getulong(e, kEocdDirOffset);
  const std::uint64_t eocd_at = tail_start + at;
  const bool wide = place->entries == 0xFFFF || place->size == 0xFFFFFFFF ||
                    place->offset == 0xFFFFFFFF;
  if (wide && eocd_at >= kLocatorSize) {
    std::array<unsigned char, kLocatorSize> loc{};
    std::array<unsigned char, kEocd64Size> rec{};
    if (read_at(zip->file, eocd_at - kLocatorSize, loc.data(), loc.size()) &&
        getulong(loc.data(), 0) == kSigLocator &&
        read_at(zip->file, getu64(loc.data(), kLocatorOffset), rec.data(), rec.size()) &&
        getulong(rec.data(), 0) == kSigEnd64) {
      place->entries = getu64(rec.data(), kEocd64Entries);
      place->size = getu64(rec.data(), kEocd64DirSize);
      place->offset = getu64(rec.data(), kEocd64DirOffset);
    }
  }
  // The directory lies before its end record (and before a ZIP64 end record, which lies before
  // that one too).
  if (place->offset > eocd_at || place->size > eocd_at - place->offset) {
    return fail(zip, ZipStatus::damaged, "central directory outside the file");
  }
  if (place->size > kMaxZipDirectory || place->entries > kMaxZipMembers) {
    return fail(zip, ZipStatus::limit, "central directory larger than this reader's limit");
  }
  return ZipStatus::ok;
}

// The ZIP64 extra field replaces, in this order, each of the three fields that hold all ones.
void apply_zip64(const unsigned char* extra, std::size_t len, ZipMember* m, bool wide_size,
                 bool wide_compressed, bool wide_offset) {
  std::size_t at = 0;
  while (at + 4 <= len) {
    const std::uint16_t id = getu16(extra, at);
    const std::size_t n = getu16(extra, at + 2);
    at += 4;
    if (n > len - at) return;
    if (id == kZip64Extra) {
      std::size_t f = at;
      const std::size_t end = at + n;
      if (wide_size && f + 8 <= end) m->size = getu64(extra, f), f += 8;
      if (wide_compressed && f + 8 <= end) m->compressed_size = getu64(extra, f), f += 8;
      if (wide_offset && f + 8 <= end) m->local_offset = getu64(extra, f);
      return;
    }
    at += n;
  }
}

}  // namespace

ZipStatus zip_open(std::FILE* f, ZipArchive* zip) {
  zip->file = f;
  zip->members.clear();
  zip->inflated_total = 0;
  if (fseeko(f, 0, SEEK_END) != 0) return fail(zip, ZipStatus::damaged, "cannot seek in the file");
  const off_t end = ftello(f);
  if (end < 0) return fail(zip, ZipStatus::damaged, "cannot seek in the file");
  zip->file_size = std::uint64_t(end);
  DirectoryPlace place{};
  if (ZipStatus s = find_directory(zip, &place); s != ZipStatus::ok) return s;
  std::vector<unsigned char> dir(place.size);
  if (!read_at(f, place.offset, dir.data(), dir.size())) {
    return fail(zip, ZipStatus::damaged, "cannot read the central directory");
  }
  // Every entry stands on its own: the count in the end record only bounds the walk, as a
  // directory cut short still lists the members before the cut.
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < place.entries && at + kCdSize <= dir.size(); ++i) {
    const unsigned char* e = dir.data() + at;
    if (getulong(e, 0) != kSigCentral) break;
    const std::size_t name_len = getu16(e, kCdNameLen), extra_len = getu16(e, kCdExtraLen),
                      comment_len = getu16(e, kCdCommentLen);
    const std::size_t total = kCdSize + name_len + extra_len + comment_len;
    if (total > dir.size() - at) break;
    ZipMember m;
    m.flags = getu16(e, kCdFlags);
    m.method = getu16(e, kCdMethod);
    m.crc = getulong(e, kCdCrc);
    m.compressed_size = getulong(e, kCdCompressed);
    m.size = getulong(e, kCdSizeField);
    m.local_offset = getulong(e, kCdLocalOffset);
    m.name.assign(reinterpret_cast<const char*>(e + kCdSize), name_len);
    apply_zip64(e + kCdSize + name_len, extra_len, &m, m.size == 0xFFFFFFFF,
                m.compressed_size == 0xFFFFFFFF, m.local_offset == 0xFFFFFFFF);
    zip->members.push_back(std::move(m));
    at += total;
  }
  if (zip->members.empty() && place.entries != 0) {
    return fail(zip, ZipStatus::damaged, "broken central directory");
  }
  return ZipStatus::ok;
}

const ZipMember* zip_find(const ZipArchive& zip, std::string_view name) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : int(c); };
  for (const ZipMember& m : zip.members) {
    if (m.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < name.size(); ++i) {
      same = lower(static_cast<unsigned char>(m.name[i])) ==
             lower(static_cast<unsigned char>(name[i]));
    }
    if (same) return &m;
  }
  return nullptr;
}

namespace {

// One member's bytes in order, inflated (or copied) from the file, counted against its
// declared size and checksummed. Used by one thread at a time.
class MemberSource {
 public:
  MemberSource(ZipArchive* zip, const ZipMember& m)
      : zip_(zip), m_(m), left_in_(m.compressed_size), crc_(crc32(0, nullptr, 0)) {}
  MemberSource(const MemberSource&) = delete;
  MemberSource& operator=(const MemberSource&) = delete;
  ~MemberSource() {
    if (inflating_) inflateEnd(&z_);
  }

  ZipStatus open() {
    zip_->in_block.resize(kInBlock);
    if (m_.method != kDeflated) return ZipStatus::ok;
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) {
      return fail(zip_, ZipStatus::limit, "out of memory for inflate");
    }
    inflating_ = true;
    return ZipStatus::ok;
  }

  // Puts up to cap bytes of the member at out; *got is 0 only at its end.
  ZipStatus fill(unsigned char* out, std::size_t cap, std::size_t* got) {
    *got = 0;
    const ZipStatus s = m_.method == kStored ? copy(out, cap, got) : inflate_into(out, cap, got);
    if (s != ZipStatus::ok) return s;
    out_total_ += *got;
    crc_ = crc32(crc_, out, uInt(*got));
    return ZipStatus::ok;
  }

  // After the last fill: whether the member held what its directory entry says.
  ZipStatus finish() {
    zip_->inflated_total += out_total_;
    if (out_total_ != m_.size) return fail(zip_, ZipStatus::damaged, "member shorter than declared");
    if (std::uint32_t(crc_) != m_.crc) {
      return fail(zip_, ZipStatus::damaged, "member's checksum is wrong");
    }
    return ZipStatus::ok;
  }

 private:
  ZipStatus copy(unsigned char* out, std::size_t cap, std::size_t* got) {
    const std::size_t want = std::size_t(std::min<std::uint64_t>(left_in_, cap));
    if (want > 0 && std::fread(out, 1, want, zip_->file) != want) {
      return fail(zip_, ZipStatus::damaged, "member cut short");
    }
    left_in_ -= want;
    *got = want;
    return ZipStatus::ok;
  }

  ZipStatus inflate_into(unsigned char* out, std::size_t cap, std::size_t* got) {
    while (*got < cap && !ended_) {
      if (z_.avail_in == 0 && left_in_ > 0) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(left_in_, kInBlock));
        if (std::fread(zip_->in_block.data(), 1, want, zip_->file) != want) {
          return fail(zip_, ZipStatus::damaged, "member cut short");
        }
        left_in_ -= want;
        z_.next_in = zip_->in_block.data();
        z_.avail_in = uInt(want);
      }
      const uInt in_before = z_.avail_in;
      z_.next_out = out + *got;
      z_.avail_out = uInt(cap - *got);
      const int r = inflate(&z_, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
        return fail(zip_, ZipStatus::damaged, "member's compressed data is broken");
      }
      const std::size_t produced = cap - *got - z_.avail_out;
      *got += produced;
      if (out_total_ + *got > m_.size) {
        return fail(zip_, ZipStatus::damaged, "member inflates past its declared size");
      }
      ended_ = r == Z_STREAM_END;
      if (!ended_ && produced == 0 && z_.avail_in == in_before) {
        // No progress: all input is spent (a stream cut short), or zlib takes no more.
        return fail(zip_, ZipStatus::damaged,
                    left_in_ == 0 && z_.avail_in == 0 ? "member cut short"
                                                      : "member's compressed data is broken");
      }
    }
    return ZipStatus::ok;
  }

  ZipArchive* zip_;
  const ZipMember& m_;
  z_stream z_{};
  bool inflating_ = false, ended_ = false;
  std::uint64_t left_in_, out_total_ = 0;
  uLong crc_;
};

ZipStatus read_here(ZipArchive* zip, MemberSource& src, ZipConsumer consume, void* user) {
  zip->out_block.resize(kOutBlock);
  for (;;) {
    std::size_t got = 0;
    const ZipStatus s = src.fill(zip->out_block.data(), zip->out_block.size(), &got);
    if (s != ZipStatus::ok) return s;
    if (got == 0) return src.finish();
    if (!consume(user, zip->out_block.data(), got)) return fail(zip, ZipStatus::stopped, "");
  }
}

// A large member inflates on a second thread while this one consumes: inflating is a fifth of
// the reading of a large .docx, and it needs nothing the consumer holds. The threads share
// a ring of blocks: the inflater fills the free ones in order, the consumer takes the full
// ones in order.
class InflateRing {
 public:
  static constexpr std::size_t kBlocks = 4;

  explicit InflateRing(MemberSource& src) : src_(src) {
    for (auto& b : blocks_) b.resize(kOutBlock);
  }
  InflateRing(const InflateRing&) = delete;
  InflateRing& operator=(const InflateRing&) = delete;
  // However the consumer leaves (a false from it, an exception), the inflater ends first.
  ~InflateRing() {
    stop();
    if (inflater_.joinable()) inflater_.join();
  }

  void start() { inflater_ = std::thread([this] { inflate_all(); }); }

  ZipStatus consume_all(ZipArchive* zip, ZipConsumer consume, void* user) {
    for (;;) {
      std::unique_lock lock(mu_);
      ready_.wait(lock, [this] { return taken_ < filled_ || done_; });
      if (taken_ == filled_) {
        lock.unlock();
        inflater_.join();
        return status_ == ZipStatus::ok ? src_.finish() : status_;
      }
      const std::size_t slot = taken_ % kBlocks, n = sizes_[slot];
      lock.unlock();
      const bool more = consume(user, blocks_[slot].data(), n);
      lock.lock();
      ++taken_;
      lock.unlock();
      if (!more) {
        stop();
        inflater_.join();  // before zip->error is written: the inflater may be writing it
        return fail(zip, ZipStatus::stopped, "");
      }
      ready_.notify_all();
    }
  }

 private:
  void stop() {
    {
      std::lock_guard lock(mu_);
      stopped_ = true;
    }
    ready_.notify_all();
  }

  void inflate_all() {
    for (;;) {
      std::unique_lock lock(mu_);
      ready_.wait(lock, [this] { return stopped_ || filled_ - taken_ < kBlocks; });
      if (stopped_) break;
      const std::size_t slot = filled_ % kBlocks;
      lock.unlock();
      std::size_t got = 0;
      const ZipStatus s = src_.fill(blocks_[slot].data(), kOutBlock, &got);
      lock.lock();
      if (s != ZipStatus::ok || got == 0) {
        status_ = s;
        done_ = true;
      } else {
        sizes_[slot] = got;
        ++filled_;
      }
      const bool ended = done_;
      lock.unlock();
      ready_.notify_all();
      if (ended) return;
    }
  }

  MemberSource& src_;
  std::array<std::vector<unsigned char>, kBlocks> blocks_;
  std::array<std::size_t, kBlocks> sizes_{};
  std::mutex mu_;
  std::condition_variable ready_;
  std::size_t filled_ = 0, taken_ = 0;  // blocks so far, each side's count
  bool done_ = false, stopped_ = false;
  ZipStatus status_ = ZipStatus::ok;
  std::thread inflater_;
};

ZipStatus read_beside(ZipArchive* zip, MemberSource& src, ZipConsumer consume, void* user) {
  InflateRing ring(src);
  try {
    ring.start();
  } catch (const std::system_error&) {
    return read_here(zip, src, consume, user);  // no thread to be had: read it here
  }
  return ring.consume_all(zip, consume, user);
}

}  // namespace

ZipStatus zip_read(ZipArchive* zip, const ZipMember& m, ZipConsumer consume, void* user) {
  if (m.flags & kFlagEncrypted) return fail(zip, ZipStatus::encrypted, "encrypted member");
  if (m.method != kStored && m.method != kDeflated) {
    return fail(zip, ZipStatus::unsupported, "member compressed by a method other than deflate");
  }
  if (m.size > kMaxMemberBytes || m.size > kMaxPackageBytes - zip->inflated_total) {
    return fail(zip, ZipStatus::limit, "member larger than this reader's limit");
  }
  if (m.size > kRatioFreeBytes && m.size / kMaxInflateRatio > m.compressed_size) {
    return fail(zip, ZipStatus::limit, "member inflates more than any document does (zip bomb)");
  }
  if (m.method == kStored && m.size != m.compressed_size) {
    return fail(zip, ZipStatus::damaged, "stored member with two sizes");
  }
  std::array<unsigned char, kLocalSize> local{};
  if (!read_at(zip->file, m.local_offset, local.data(), local.size()) ||
      getulong(local.data(), 0) != kSigLocal) {
    return fail(zip, ZipStatus::damaged, "member's local header missing");
  }
  const std::uint64_t data_at =
      m.local_offset + kLocalSize + getu16(local.data(), kLocalNameLen) +
      getu16(local.data(), kLocalExtraLen);
  if (data_at > zip->file_size || m.compressed_size > zip->file_size - data_at) {
    return fail(zip, ZipStatus::damaged, "member extends past the end of the file");
  }
  if (fseeko(zip->file, off_t(data_at), SEEK_SET) != 0) {
    return fail(zip, ZipStatus::damaged, "cannot seek in the file");
  }
  MemberSource src(zip, m);
  if (const ZipStatus s = src.open(); s != ZipStatus::ok) return s;
  if (m.method == kDeflated && m.compressed_size >= zip->inflate_beside_from) {
    return read_beside(zip, src, consume, user);
  }
  return read_here(zip, src, consume, user);
}

namespace {

struct SmallSink {
  std::string* out;
  std::size_t limit;
};

bool append_small(void* user, const unsigned char* data, std::size_t n) {
  auto* sink = static_cast<SmallSink*>(user);
  if (n > sink->limit - sink->out->size()) return false;
  sink->out->append(reinterpret_cast<const char*>(data), n);
  return true;
}

}  // namespace

bool zip_read_small(ZipArchive* zip, const ZipMember& m, std::size_t limit, std::string* out) {
  out->clear();
  if (m.size > limit) {
    zip->error = "member larger than expected";
    return false;
  }
  SmallSink sink{out, limit};
  const ZipStatus s = zip_read(zip, m, append_small, &sink);
  if (s == ZipStatus::stopped) zip->error = "member larger than expected";
  return s == ZipStatus::ok;
}

}  // namespace dorvex
