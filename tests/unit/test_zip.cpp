#include "zip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "fixture.h"

namespace {

using testing_support::stream_of;

void put16(std::string& b, std::size_t off, unsigned v) {
  b[off] = static_cast<char>(v & 0xFF);
  b[off + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::string le16(unsigned v) {
  std::string s(2, '\0');
  put16(s, 0, v);
  return s;
}
std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  put32(s, 0, v);
  return s;
}

std::string deflate_raw(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Member {
  std::string name, data;
  bool deflated = true;
};

// A package as writers make it, and where its parts lie, for the cases to break.
struct Package {
  std::string bytes;
  std::vector<std::size_t> local_at, central_at;
  std::size_t directory_at = 0, end_at = 0;
};

Package build(const std::vector<Member>& members, const std::string& comment = "") {
  Package p;
  std::string directory;
  for (const Member& m : members) {
    const std::string stored = m.deflated ? deflate_raw(m.data) : m.data;
    const auto crc = std::uint32_t(
        crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), uInt(m.data.size())));
    std::string fixed = le16(20) + le16(0) + le16(m.deflated ? 8 : 0) + le32(0) + le32(crc) +
                        le32(std::uint32_t(stored.size())) + le32(std::uint32_t(m.data.size())) +
                        le16(unsigned(m.name.size()));
    p.local_at.push_back(p.bytes.size());
    p.bytes += "PK\x03\x04" + fixed + le16(0) + m.name + stored;
    p.central_at.push_back(directory.size());
    directory += "PK\x01\x02" + le16(20) + fixed + le16(0) + le16(0) + le16(0) + le16(0) +
                 le32(0) + le32(std::uint32_t(p.local_at.back())) + m.name;
  }
  p.directory_at = p.bytes.size();
  for (std::size_t& at : p.central_at) at += p.directory_at;
  p.bytes += directory;
  p.end_at = p.bytes.size();
  p.bytes += "PK\x05\x06" + le16(0) + le16(0) + le16(unsigned(members.size())) +
             le16(unsigned(members.size())) + le32(std::uint32_t(directory.size())) +
             le32(std::uint32_t(p.directory_at)) + le16(unsigned(comment.size())) + comment;
  return p;
}

struct Read {
  dorvex::ZipStatus open, read = dorvex::ZipStatus::ok;
  std::string error, data;
  std::size_t members = 0;
};

bool append(void* user, const unsigned char* data, std::size_t n) {
  static_cast<std::string*>(user)->append(reinterpret_cast<const char*>(data), n);
  return true;
}

// How a member is read: inflated on the consumer's thread, or on a second one beside it.
enum class Inflate { here, beside };
const Inflate kBothWays[] = {Inflate::here, Inflate::beside};
const char* name_of(Inflate how) { return how == Inflate::here ? "here" : "beside"; }

// Opens the package and reads the member called name (when the directory opened).
Read read_member(const std::string& bytes, const std::string& name,
                 Inflate how = Inflate::here) {
  std::FILE* f = stream_of(bytes);
  dorvex::ZipArchive zip;
  if (how == Inflate::beside) zip.inflate_beside_from = 0;
  Read r;
  r.open = dorvex::zip_open(f, &zip);
  r.members = zip.members.size();
  if (r.open == dorvex::ZipStatus::ok) {
    if (const dorvex::ZipMember* m = dorvex::zip_find(zip, name)) {
      r.read = dorvex::zip_read(&zip, *m, append, &r.data);
    } else {
      r.read = dorvex::ZipStatus::stopped;
    }
  }
  r.error = zip.error;
  std::fclose(f);
  return r;
}

const std::string kText = std::string(5000, 'x') + "<w:t>text</w:t>" + std::string(3000, 'y');

TEST(Zip, ReadsStoredAndDeflatedMembersByNameWithoutRegardToCase) {
  Package p = build({{"mimetype", "application/vnd.oasis.opendocument.text", false},
                     {"[Content_Types].xml", kText}},
                    "a comment PK\x05\x06 holding the signature");
  Read r = read_member(p.bytes, "[content_types].XML");
  EXPECT_EQ(r.open, dorvex::ZipStatus::ok);
  EXPECT_EQ(r.members, 2u);
  EXPECT_EQ(r.read, dorvex::ZipStatus::ok) << r.error;
  EXPECT_EQ(r.data, kText);
  EXPECT_EQ(read_member(p.bytes, "mimetype").data, "application/vnd.oasis.opendocument.text");
  EXPECT_EQ(read_member(p.bytes, "mimetype2").read, dorvex::ZipStatus::stopped);
}

TEST(Zip, PaddingAfterThePackageIsIgnored) {
  // Transfers pad files; the end record is searched for from the end, past the padding.
  Package p = build({{"a.xml", kText}});
  Read r = read_member(p.bytes + std::string(100, '\0'), "a.xml");
  EXPECT_EQ(r.open, dorvex::ZipStatus::ok) << r.error;
  EXPECT_EQ(r.data, kText);
}

// Each damage, what the reader says, and that nothing is read past the file.
struct Damage {
  const char* what;
  std::function<void(Package&)> apply;
  dorvex::ZipStatus open, read;
  const char* error;
};

TEST(Zip, DamagedDirectoriesAndMembers) {
  using S = dorvex::ZipStatus;
  const std::vector<Damage> cases = {
      {"no end record", [](Package& p) { p.bytes.resize(p.end_at); }, S::damaged, S::ok,
       "no end of central directory"},
      {"cut inside the directory", [](Package& p) { p.bytes.erase(p.directory_at + 10, 20); },
       S::damaged, S::ok, "central directory outside the file"},
      {"directory offset past the end",
       [](Package& p) { put32(p.bytes, p.end_at + 16, 0x7FFFFFF0); }, S::damaged, S::ok,
       "central directory outside the file"},
      {"directory size past the end",
       [](Package& p) { put32(p.bytes, p.end_at + 12, 0xFFFFFF00); }, S::damaged, S::ok,
       "central directory outside the file"},
      {"entry signature broken", [](Package& p) { p.bytes[p.central_at[0]] = 'Q'; },
       S::damaged, S::ok, "broken central directory"},
      {"count claims more entries than there are",
       [](Package& p) { put16(p.bytes, p.end_at + 10, 60000); }, S::ok, S::ok, ""},
      {"name longer than the directory",
       [](Package& p) { put16(p.bytes, p.central_at[0] + 28, 0xFFFF); }, S::damaged, S::ok,
       "broken central directory"},
      {"local header elsewhere",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 42, 3); }, S::ok, S::damaged,
       "member's local header missing"},
      {"local header past the end",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 42, 0xFFFFFFF0); }, S::ok, S::damaged,
       "member's local header missing"},
      {"compressed size past the end",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 20, 0x00FFFFFF); }, S::ok, S::damaged,
       "member extends past the end of the file"},
      {"checksum wrong", [](Package& p) { p.bytes[p.central_at[0] + 16] ^= 1; }, S::ok,
       S::damaged, "member's checksum is wrong"},
      {"declared size too small",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 24, 100); }, S::ok, S::damaged,
       "member inflates past its declared size"},
      {"declared size too large",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 24, 9000); }, S::ok, S::damaged,
       "member shorter than declared"},
      {"compressed data broken",
       [](Package& p) {
         for (std::size_t i = 0; i < 8; ++i) p.bytes[p.local_at[0] + 35 + i] = '\xFF';
       },
       S::ok, S::damaged, "member's compressed data is broken"},
      {"compressed data cut short",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 20, 10); }, S::ok, S::damaged,
       "member cut short"},
      {"a thousand times its compressed size",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 24, 0x40000000); }, S::ok, S::limit,
       "member inflates more than any document does (zip bomb)"},
      {"larger than a member may be",
       [](Package& p) { put32(p.bytes, p.central_at[0] + 24, 0xFFFFFFF0); }, S::ok, S::limit,
       "member larger than this reader's limit"},
      {"another compression method",
       [](Package& p) { put16(p.bytes, p.central_at[0] + 10, 12); }, S::ok, S::unsupported,
       "member compressed by a method other than deflate"},
      {"encrypted", [](Package& p) { put16(p.bytes, p.central_at[0] + 8, 1); }, S::ok,
       S::encrypted, "encrypted member"},
  };
  for (const Inflate how : kBothWays) {
    for (const Damage& d : cases) {
      Package p = build({{"a.xml", kText}, {"b.xml", "second"}});
      d.apply(p);
      Read r = read_member(p.bytes, "a.xml", how);
      EXPECT_EQ(r.open, d.open) << d.what << ": " << r.error;
      if (r.open == dorvex::ZipStatus::ok) {
        EXPECT_EQ(r.read, d.read) << d.what << ", " << name_of(how) << ": " << r.error;
      }
      EXPECT_EQ(r.error, d.error) << d.what << ", " << name_of(how);
    }
  }
}

TEST(Zip, Zip64ExtraFieldGivesTheSizesAndOffset) {
  Package p = build({{"a.xml", kText}});
  // The directory entry's sizes and offset become all ones, their values move to a ZIP64 extra
  // field, as writers of large packages store them.
  const std::size_t e = p.central_at[0];
  const std::string compressed = p.bytes.substr(e + 20, 4), size = p.bytes.substr(e + 24, 4);
  std::string extra = le16(1) + le16(24) + size + le32(0) + compressed + le32(0) + le32(0) +
                      le32(0);
  put32(p.bytes, e + 20, 0xFFFFFFFF);
  put32(p.bytes, e + 24, 0xFFFFFFFF);
  put32(p.bytes, e + 42, 0xFFFFFFFF);
  put16(p.bytes, e + 30, unsigned(extra.size()));
  const std::size_t name_end = e + 46 + 5;
  p.bytes.insert(name_end, extra);
  put32(p.bytes, p.end_at + extra.size() + 12, std::uint32_t(p.end_at + extra.size() -
                                                             p.directory_at));
  Read r = read_member(p.bytes, "a.xml");
  EXPECT_EQ(r.open, dorvex::ZipStatus::ok) << r.error;
  EXPECT_EQ(r.read, dorvex::ZipStatus::ok) << r.error;
  EXPECT_EQ(r.data, kText);
}

// A member of many blocks, read whole and stopped at each point a consumer may stop: the bytes
// arrive in order and complete, and a stop leaves no thread behind (TSan runs this too).
TEST(Zip, LargeMembersReadTheSameOnEitherThread) {
  std::string data;
  for (int i = 0; data.size() < (std::size_t(3) << 20); ++i) {
    data += "<w:p><w:r><w:t>paragraph " + std::to_string(i * 7919 % 100003) + "</w:t></w:r></w:p>";
  }
  const Package p = build({{"word/document.xml", data}});
  for (const Inflate how : kBothWays) {
    Read r = read_member(p.bytes, "word/document.xml", how);
    EXPECT_EQ(r.read, dorvex::ZipStatus::ok) << name_of(how) << ": " << r.error;
    EXPECT_TRUE(r.data == data) << name_of(how) << ": " << r.data.size() << " bytes";
    for (const std::size_t stop_after : {std::size_t(1), std::size_t(4), std::size_t(11)}) {
      struct Counted {
        std::size_t calls = 0, stop_after = 0, bytes = 0;
      } c{0, stop_after, 0};
      std::FILE* f = stream_of(p.bytes);
      dorvex::ZipArchive zip;
      if (how == Inflate::beside) zip.inflate_beside_from = 0;
      ASSERT_EQ(dorvex::zip_open(f, &zip), dorvex::ZipStatus::ok);
      const auto s = dorvex::zip_read(
          &zip, zip.members[0],
          [](void* user, const unsigned char*, std::size_t n) {
            auto* k = static_cast<Counted*>(user);
            k->bytes += n;
            return ++k->calls < k->stop_after;
          },
          &c);
      EXPECT_EQ(s, dorvex::ZipStatus::stopped) << name_of(how) << " after " << stop_after;
      EXPECT_EQ(c.calls, stop_after) << name_of(how);
      EXPECT_LT(c.bytes, data.size()) << name_of(how);
      std::fclose(f);
    }
  }
}

TEST(Zip, SmallReadsStopAtTheirLimit) {
  Package p = build({{"a.xml", kText}});
  std::FILE* f = stream_of(p.bytes);
  dorvex::ZipArchive zip;
  ASSERT_EQ(dorvex::zip_open(f, &zip), dorvex::ZipStatus::ok);
  std::string out;
  EXPECT_FALSE(dorvex::zip_read_small(&zip, zip.members[0], 100, &out));
  EXPECT_STREQ(zip.error, "member larger than expected");
  EXPECT_TRUE(dorvex::zip_read_small(&zip, zip.members[0], kText.size(), &out));
  EXPECT_EQ(out, kText);
  std::fclose(f);
}

}  // namespace
