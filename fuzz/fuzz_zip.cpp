// The ZIP package reader: any bytes as a package, every member read (as a package's parts are)
// into a consumer that checks what it is given. The first byte picks a member to read twice,
// as the readers read small parts before the large ones, and its top bit has every member
// inflated on a second thread, as large members are.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "zip.h"

namespace {

struct Count {
  std::uint64_t bytes = 0;
};

bool count(void* user, const unsigned char*, std::size_t n) {
  static_cast<Count*>(user)->bytes += n;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t again = data[0];
  std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb");
  if (!f) return 0;
  dorvex::ZipArchive zip;
  if (again & 0x80) zip.inflate_beside_from = 0;
  if (dorvex::zip_open(f, &zip) == dorvex::ZipStatus::ok) {
    if (zip.members.size() > dorvex::kMaxZipMembers) std::abort();
    for (std::size_t i = 0; i < zip.members.size() && i < 64; ++i) {
      const dorvex::ZipMember& m = zip.members[i];
      Count c;
      const dorvex::ZipStatus s = dorvex::zip_read(&zip, m, count, &c);
      // Nothing past the declared size, whatever the data says.
      if (c.bytes > m.size || (s == dorvex::ZipStatus::ok && c.bytes != m.size)) std::abort();
      if (dorvex::zip_find(zip, m.name) == nullptr) std::abort();
    }
    if (!zip.members.empty()) {
      std::string small;
      dorvex::zip_read_small(&zip, zip.members[again % zip.members.size()], 4096, &small);
      if (small.size() > 4096) std::abort();
    }
    if (zip.inflated_total > dorvex::kMaxPackageBytes) std::abort();
  }
  std::fclose(f);
  return 0;
}
