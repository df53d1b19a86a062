// What a document states about itself: title, subject, author, keywords and its dates, from a
// compound file's summary information (RTF's \info group is collected by rtfinfo.h).
#ifndef DORVEX_METADATA_H
#define DORVEX_METADATA_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ole.h"

namespace dorvex {

// Fields in UTF-8. A field the document does not state is absent, never empty: an empty string
// and a time on 1601-01-01 (the zero of Windows times, which writers put for "never") state
// nothing. Dates are ISO 8601: "2006-03-01T10:15:00Z" where the document
// gives UTC (summary information), "2006-03-01T10:15:00" where it gives a local time without
// saying which zone (RTF).
struct Metadata {
  std::optional<std::string> title;
  std::optional<std::string> subject;
  std::optional<std::string> author;
  std::optional<std::string> keywords;
  std::optional<std::string> created;
  std::optional<std::string> modified;
};

bool has_any(const Metadata& m);

// Appends to out the UTF-8 of size bytes of text in a Windows code page (1252, 65001, 1200...);
// false, out as it was, when it cannot read that code page. context: what the caller gave.
using CodePageFn = bool (*)(const void* context, std::uint32_t code_page,
                            const unsigned char* bytes, std::size_t size, std::string& out);

// The built-in reading: cp1252, ISO 8859-1, US-ASCII, UTF-8 (ill-formed bytes as U+FFFD) and
// UTF-16 (1200 little-endian, 1201 big-endian); for any other code page that keeps ASCII as it
// is (the Windows, DOS, Mac and ISO 8859 pages, the East Asian double-byte ones), text made only
// of ASCII. Everything else is refused: text read through a guessed code page would be invented.
bool decode_code_page(const void* context, std::uint32_t code_page, const unsigned char* bytes,
                      std::size_t size, std::string& out);

// How text in a code page becomes UTF-8: the built-in reading unless the caller has its charset
// tables to offer (a function that may fall back on decode_code_page).
struct CodePageDecoder {
  CodePageFn decode = decode_code_page;
  const void* context = nullptr;
};

// Reads a "\005SummaryInformation" property set: title (PID 2), subject (3), author (4),
// keywords (5), created (12) and last saved (13), strings in the set's code page (PID 1) or
// UTF-16. Fields out already holds are kept. True when data is such a property set (whatever it
// states), false when it is not one or is damaged before its property table; a damaged property
// is left out and the others read.
bool parse_summary_information(const unsigned char* data, std::size_t size, Metadata& out,
                               CodePageDecoder decode = {});

constexpr std::size_t kNoEntry = SIZE_MAX;

// The index of the directory entry of the root storage named name (ASCII, compared without
// regard to case), by the directory's tree: an embedded object's storage has entries of the same
// names, which describe the object. dir holds entries of 128 bytes (entries of them). kNoEntry
// when there is none, or the tree is broken before it.
std::size_t find_in_root_storage(const unsigned char* dir, std::size_t entries,
                                 std::string_view name);

// The summary information of the compound file loaded on container (ole_init), read whole up
// to a limit and parsed into out. Called before the documents are read, so that a document that
// ends the reading early keeps its metadata. The enumeration of entries is left where it stood.
void read_summary_information(std::FILE* container, Metadata& out, CodePageDecoder decode = {});

// Appends the UTF-8 of a Unicode value; a surrogate or a value beyond U+10FFFF as U+FFFD.
void append_utf8(std::string& out, std::uint32_t code);

// Removes spaces (Unicode's too) and control characters at both ends; true when anything is
// left.
bool trim_field(std::string& s);

}  // namespace dorvex

#endif  // DORVEX_METADATA_H
