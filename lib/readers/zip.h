// ZIP packages (the container of .docx and .odt): the central directory, and members inflated
// block by block into a consumer, never whole in memory.
#ifndef DORVEX_ZIP_H
#define DORVEX_ZIP_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace dorvex {

// Limits of the package reader, whatever the directory claims.
// - Members: real documents hold tens to a few thousand; the directory of a package with more
//   is not read.
// - The central directory is read whole into memory: at most kMaxZipDirectory bytes.
// - A member inflates to at most kMaxMemberBytes and all members read from one package to at
//   most kMaxPackageBytes: XML this large is no document anyone writes by hand or program.
// - A member's declared size may exceed its compressed size kMaxInflateRatio times only within
//   its first kRatioFreeBytes: XML compresses 5 to 50 times, a zip bomb a thousand times.
//   Inflation never yields more than the declared size, so the ratio holds for what is read.
constexpr std::size_t kMaxZipMembers = 100000;
constexpr std::uint64_t kMaxZipDirectory = std::uint64_t(64) << 20;
constexpr std::uint64_t kMaxMemberBytes = std::uint64_t(1) << 30;
constexpr std::uint64_t kMaxPackageBytes = std::uint64_t(2) << 30;
constexpr std::uint64_t kMaxInflateRatio = 200;
constexpr std::uint64_t kRatioFreeBytes = std::uint64_t(16) << 20;
// A member of at least this many compressed bytes inflates on a second thread while the
// caller's consumer takes its blocks (four of them at most in flight): below it, starting
// a thread costs more than it saves.
constexpr std::uint64_t kInflateBesideFrom = std::uint64_t(512) << 10;

struct ZipMember {
  std::string name;  // as stored: bytes, normally UTF-8 with "/" separators
  std::uint64_t compressed_size = 0;
  std::uint64_t size = 0;
  std::uint64_t local_offset = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
};

enum class ZipStatus { ok, damaged, limit, unsupported, encrypted, stopped };

// An open package: the file (not owned: the caller closes it), its size, the members in
// directory order, the running total inflated, and the reader's buffers (made on first use).
struct ZipArchive {
  std::FILE* file = nullptr;
  std::uint64_t file_size = 0;
  std::vector<ZipMember> members;
  std::uint64_t inflated_total = 0;
  std::uint64_t inflate_beside_from = kInflateBesideFrom;  // tests lower it to reach that path
  std::vector<unsigned char> in_block;
  std::vector<unsigned char> out_block;
  const char* error = "";  // why the last call failed; a literal
};

// Reads the central directory of f (positionable). ok, or damaged/limit with zip->error set.
ZipStatus zip_open(std::FILE* f, ZipArchive* zip);

// The member whose name equals name regardless of ASCII case (package part names compare so),
// or null.
const ZipMember* zip_find(const ZipArchive& zip, std::string_view name);

// Receives a member's bytes in order, in blocks; false stops the reading (ZipStatus::stopped).
using ZipConsumer = bool (*)(void* user, const unsigned char* data, std::size_t n);

// Inflates (or copies) member m into consume, checking its size, limits and CRC. On failure
// zip->error says why; bytes handed over before the failure stay handed over. consume runs on
// the calling thread, always; the file is read by another while zip_read runs.
ZipStatus zip_read(ZipArchive* zip, const ZipMember& m, ZipConsumer consume, void* user);

// Reads a small member whole (at most limit bytes) into *out; false (damaged, too large) after
// setting zip->error.
bool zip_read_small(ZipArchive* zip, const ZipMember& m, std::size_t limit, std::string* out);

}  // namespace dorvex

#endif  // DORVEX_ZIP_H
