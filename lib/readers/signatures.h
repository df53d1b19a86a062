// Formats found by content beside the classic ones: ZIP packages (Office Open XML, OpenDocument
// text), flat XML documents, and the binary formats dorvex refuses by name instead of copying
// their bytes as text.
#ifndef DORVEX_SIGNATURES_H
#define DORVEX_SIGNATURES_H

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "metadata.h"

namespace dorvex {

class XmlReading;
struct ZipArchive;
struct ZipMember;

// The status of a refused input: what a compound file without a Word document has always given.
constexpr int kNotADocument = 69;

// Reads more of the input than the classic signatures when one of them may begin there.
constexpr std::size_t kSniffBytes = 4096;

// The one way the package and XML readers report: "dorvex: NAME: TEXT" and a newline on
// standard error. name: the input as the user gave it ("stdin" for standard input).
void document_message(const char* name, std::string_view text);

// An encrypted package: the encrypted-file notice, and kNotADocument.
int encrypted_package();

// What a binary signature at the start of [p, p + n) says the input is ("a PDF file"), or
// null. Only exact signatures count: text in any encoding never matches.
const char* binary_kind(const unsigned char* p, std::size_t n);

// The streams of a compound file that name what it is when it holds no Word document.
struct CompoundContents {
  bool workbook = false, presentation = false, message = false, visio = false,
       publisher = false, encryption_info = false, encrypted_package = false;
};
void note_compound_entry(CompoundContents* contents, const char* entry_name);
// A compound file without a Word document: the encrypted notice for an encrypted package, else
// the refusal naming its kind. Returns kNotADocument.
int refuse_compound(const CompoundContents& contents, const char* name);

// Reads the input when it is a package, a flat XML document or a refused binary format, given
// the n bytes detection read (prefix). Returns its status, or -1 when it is none of these and
// the input stands right after the prefix. Plain text that needed a longer look is copied here.
// metadata (null: not looked for) receives what a package or flat document states about itself.
int read_other_format(std::FILE* f, const unsigned char* prefix, std::size_t n, const char* name,
                      Metadata* metadata = nullptr);

// Parses a package member, or the rest of a stream after its first n bytes (prefix), as XML
// through reading. 0, or 1 after a message naming the input (and the part) and why.
int parse_member(ZipArchive* zip, const ZipMember& m, XmlReading& reading, const char* name);
int parse_stream(std::FILE* f, const unsigned char* prefix, std::size_t n, XmlReading& reading,
                 const char* name);

}  // namespace dorvex

#endif  // DORVEX_SIGNATURES_H
