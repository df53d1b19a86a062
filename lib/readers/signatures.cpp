#include "signatures.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "context.h"
#include "docx.h"
#include "ole.h"
#include "odt.h"
#include "plaintext.h"
#include "writer.h"
#include "xmltext.h"
#include "zip.h"

namespace dorvex {

// Limits of detection: a flat XML document's root element must lie within its first
// kSniffBytes bytes (after any declaration, comments and document type), and an executable's
// PE header pointer must point inside them too.

void document_message(const char* name, std::string_view text) {
  report("dorvex: %s: %.*s\n", name, int(text.size()), text.data());
}

int encrypted_package() {
  ctx().error = ErrorClass::encrypted;
  report("[File is encrypted]\n");
  return kNotADocument;
}

namespace {

struct Signature {
  std::string_view bytes;
  const char* kind;
};

using namespace std::string_view_literals;

// Exact signatures at offset 0, long enough that no text in any encoding starts with them.
constexpr Signature kSignatures[] = {
    {"%PDF-"sv, "a PDF file"},
    {"\x89PNG\r\n\x1a\n"sv, "a PNG image"},
    {"\xFF\xD8\xFF"sv, "a JPEG image"},
    {"GIF87a"sv, "a GIF image"},
    {"GIF89a"sv, "a GIF image"},
    {"\x1F\x8B\x08"sv, "a gzip file"},
    {"\xFD" "7zXZ\0"sv, "an xz file"},
    {"7z\xBC\xAF\x27\x1C"sv, "a 7z archive"},
    {"\xFFWPC"sv, "a WordPerfect document"},
    {"\x7F" "ELF"sv, "an ELF executable"},
    {"PK\x05\x06"sv, "a ZIP archive"},
    {"Rar!\x1A\x07"sv, "a RAR archive"},
};

bool starts(const unsigned char* p, std::size_t n, std::string_view sig) {
  return n >= sig.size() && std::memcmp(p, sig.data(), sig.size()) == 0;
}

// bzip2: "BZh", a block size digit, then the magic of a first block or of the end of stream.
constexpr std::size_t kBzipHead = 10;
bool is_bzip2(const unsigned char* p, std::size_t n) {
  return n >= kBzipHead && starts(p, n, "BZh") && p[3] >= '1' && p[3] <= '9' &&
         (std::memcmp(p + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0 ||
          std::memcmp(p + 4, "\x17\x72\x45\x38\x50\x90", 6) == 0);
}

// A PE executable: "MZ", and at the offset stored at 0x3C the bytes "PE\0\0".
constexpr std::size_t kPePointer = 0x3C;
bool is_pe(const unsigned char* p, std::size_t n) {
  if (n < kPePointer + 4 || !starts(p, n, "MZ")) return false;
  const std::uint32_t at = std::uint32_t(p[kPePointer]) | std::uint32_t(p[kPePointer + 1]) << 8 |
                           std::uint32_t(p[kPePointer + 2]) << 16 |
                           std::uint32_t(p[kPePointer + 3]) << 24;
  return at <= n - 4 && std::memcmp(p + at, "PE\0\0", 4) == 0;
}

bool iequal(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

int refuse(const char* name, const char* kind) {
  ctx().format = "";
  ctx().error = ErrorClass::unsupported;
  document_message(name, std::string("not a word-processor document (") + kind + ")");
  return kNotADocument;
}

// ---- Flat XML: the root element's name, after the declaration, comments and doctype.

enum class FlatXml { none, odt, word };

std::size_t skip_past(const unsigned char* p, std::size_t n, std::size_t at, std::string_view end) {
  for (std::size_t i = at; i + end.size() <= n; ++i) {
    if (std::memcmp(p + i, end.data(), end.size()) == 0) return i + end.size();
  }
  return n;
}

bool is_xml_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::size_t xml_start(const unsigned char* p, std::size_t n) {
  std::size_t i = starts(p, n, "\xEF\xBB\xBF") ? 3 : 0;
  while (i < n && is_xml_space(p[i])) ++i;
  return i;
}

FlatXml flat_xml_kind(const unsigned char* p, std::size_t n) {
  std::size_t i = xml_start(p, n);
  while (i < n && p[i] == '<') {
    if (starts(p + i, n - i, "<?")) {
      i = skip_past(p, n, i, "?>");
    } else if (starts(p + i, n - i, "<!--")) {
      i = skip_past(p, n, i + 4, "-->");
    } else if (starts(p + i, n - i, "<!DOCTYPE")) {
      std::size_t j = i;
      while (j < n && p[j] != '>' && p[j] != '[') ++j;
      if (j < n && p[j] == '[') j = skip_past(p, n, j, "]");
      i = skip_past(p, n, j, ">");
    } else {
      std::size_t end = i + 1;
      while (end < n && !is_xml_space(p[end]) && p[end] != '>' && p[end] != '/') ++end;
      const std::string_view root(reinterpret_cast<const char*>(p + i + 1), end - i - 1);
      if (root == "w:wordDocument" || root == "pkg:package") return FlatXml::word;
      if (root != "office:document") return FlatXml::none;
      // Only a text document: flat spreadsheets and drawings stay text, as other XML does.
      const std::size_t tag_end = skip_past(p, n, end, ">");
      const std::string_view tag(reinterpret_cast<const char*>(p + end), tag_end - end);
      for (std::string_view type : {"\"application/vnd.oasis.opendocument.text\""sv,
                                    "\"application/vnd.oasis.opendocument.text-template\""sv}) {
        const std::size_t at = tag.find(type);
        if (at != tag.npos && tag.substr(0, at).ends_with("office:mimetype=")) {
          return FlatXml::odt;
        }
      }
      return FlatXml::none;
    }
    while (i < n && is_xml_space(p[i])) ++i;
  }
  return FlatXml::none;
}

// Whether more than the first bytes are needed to tell what the input is.
bool needs_longer_look(const unsigned char* p, std::size_t n) {
  if (starts(p, n, "BZh") || starts(p, n, "MZ")) return true;
  const std::size_t i = xml_start(p, n);
  return i == n || p[i] == '<';  // the first bytes may all be white space
}

// ---- ZIP packages.

const char* odf_kind(std::string_view mimetype) {
  if (mimetype.ends_with("spreadsheet") || mimetype.ends_with("spreadsheet-template")) {
    return "an OpenDocument spreadsheet";
  }
  if (mimetype.ends_with("presentation") || mimetype.ends_with("presentation-template")) {
    return "an OpenDocument presentation";
  }
  if (mimetype.ends_with("graphics") || mimetype.ends_with("graphics-template")) {
    return "an OpenDocument drawing";
  }
  return "an OpenDocument file other than text";
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

int read_package(std::FILE* f, const unsigned char* prefix, std::size_t n, const char* name,
                 Metadata* metadata) {
  std::unique_ptr<std::FILE, FileCloser> copy;
  std::FILE* source = f;
  // The directory lies at the end: a pipe is copied (capped) as for a compound file.
  if (const Rewind r = rewind_input(f); r != Rewind::done) {
    if (r == Rewind::failed) {
      document_message(name, std::strerror(errno));
      return 1;
    }
    copy.reset(ole_copy_input(f, prefix, n));
    if (!copy) return 1;
    source = copy.get();
  }
  ZipArchive zip;
  if (const ZipStatus s = zip_open(source, &zip); s != ZipStatus::ok) {
    document_message(name, std::string(s == ZipStatus::limit ? "ZIP package beyond limits: "
                                                             : "damaged ZIP package: ") +
                               zip.error);
    if (s == ZipStatus::limit) ctx().error = ErrorClass::limit;
    return 1;
  }
  const std::string mimetype = odf_mimetype(&zip);
  if (mimetype.starts_with("application/vnd.oasis.opendocument.")) {
    if (is_odf_text_type(mimetype)) return read_odt(&zip, name, metadata);
    return refuse(name, odf_kind(mimetype));
  }
  if (mimetype == "application/epub+zip") return refuse(name, "an EPUB book");
  switch (ooxml_kind(&zip)) {
    case OoxmlKind::word:
      return read_docx(&zip, name, metadata);
    case OoxmlKind::workbook:
      return refuse(name, "an Excel workbook");
    case OoxmlKind::presentation:
      return refuse(name, "a PowerPoint presentation");
    case OoxmlKind::visio:
      return refuse(name, "a Visio drawing");
    case OoxmlKind::other:
      return refuse(name, "an Office Open XML package other than a document");
    case OoxmlKind::none:
      break;
  }
  if (zip_find(zip, "META-INF/MANIFEST.MF")) return refuse(name, "a Java archive");
  return refuse(name, "a ZIP archive");
}

struct MemberFeed {
  XmlReading* reading;
};

bool feed_reading(void* user, const unsigned char* data, std::size_t n) {
  return static_cast<MemberFeed*>(user)->reading->feed(reinterpret_cast<const char*>(data), n,
                                                       false);
}

}  // namespace

const char* binary_kind(const unsigned char* p, std::size_t n) {
  for (const Signature& s : kSignatures) {
    if (starts(p, n, s.bytes)) return s.kind;
  }
  if (is_bzip2(p, n)) return "a bzip2 file";
  if (is_pe(p, n)) return "a Windows executable";
  return nullptr;
}

void note_compound_entry(CompoundContents* c, const char* entry) {
  if (iequal(entry, "Workbook") || iequal(entry, "Book")) c->workbook = true;
  if (iequal(entry, "PowerPoint Document")) c->presentation = true;
  if (iequal(entry, "__properties_version1.0") || std::strncmp(entry, "__substg1.0_", 12) == 0) {
    c->message = true;
  }
  if (iequal(entry, "VisioDocument")) c->visio = true;
  if (iequal(entry, "Quill")) c->publisher = true;
  if (iequal(entry, "EncryptionInfo")) c->encryption_info = true;
  if (iequal(entry, "EncryptedPackage")) c->encrypted_package = true;
}

int refuse_compound(const CompoundContents& c, const char* name) {
  if (c.encryption_info && c.encrypted_package) return encrypted_package();
  if (c.workbook) return refuse(name, "an Excel workbook");
  if (c.presentation) return refuse(name, "a PowerPoint presentation");
  if (c.message) return refuse(name, "an Outlook message");
  if (c.visio) return refuse(name, "a Visio drawing");
  if (c.publisher) return refuse(name, "a Publisher document");
  return refuse(name, "a compound file without a Word document");
}

int read_other_format(std::FILE* f, const unsigned char* prefix, std::size_t n, const char* name,
                      Metadata* metadata) {
  if (starts(prefix, n, "PK\x03\x04")) return read_package(f, prefix, n, name, metadata);
  if (const char* kind = binary_kind(prefix, n)) return refuse(name, kind);
  if (!needs_longer_look(prefix, n)) return -1;
  std::array<unsigned char, kSniffBytes> head;
  std::memcpy(head.data(), prefix, n);
  const std::size_t got = n + std::fread(head.data() + n, 1, head.size() - n, f);
  if (const char* kind = binary_kind(head.data(), got)) return refuse(name, kind);
  switch (flat_xml_kind(head.data(), got)) {
    case FlatXml::odt:
      return read_flat_odt(f, head.data(), got, name, metadata);
    case FlatXml::word:
      return read_word_xml(f, head.data(), got, name);
    case FlatXml::none:
      break;
  }
  copy_out(f, head.data(), got);
  return 0;
}

int parse_member(ZipArchive* zip, const ZipMember& m, XmlReading& reading, const char* name) {
  MemberFeed feed{&reading};
  const ZipStatus s = zip_read(zip, m, feed_reading, &feed);
  if (s == ZipStatus::ok && reading.feed(nullptr, 0, true)) return 0;
  if (s == ZipStatus::ok || s == ZipStatus::stopped) {
    document_message(name, m.name + ": " + reading.error());
    if (reading.limit_reached()) ctx().error = ErrorClass::limit;
  } else {
    document_message(name, m.name + ": " + zip->error);
    if (s == ZipStatus::limit) ctx().error = ErrorClass::limit;
  }
  return 1;
}

int parse_stream(std::FILE* f, const unsigned char* prefix, std::size_t n, XmlReading& reading,
                 const char* name) {
  constexpr std::size_t kBlock = 65536;
  std::vector<char> block(kBlock);
  bool ok = reading.feed(reinterpret_cast<const char*>(prefix), n, false);
  std::size_t got;
  while (ok && (got = std::fread(block.data(), 1, block.size(), f)) > 0) {
    ok = reading.feed(block.data(), got, false);
  }
  if (ok && reading.feed(nullptr, 0, true)) return 0;
  document_message(name, reading.error());
  if (reading.limit_reached()) ctx().error = ErrorClass::limit;
  return 1;
}

}  // namespace dorvex
