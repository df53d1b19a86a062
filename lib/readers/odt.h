// OpenDocument text: packages (.odt .ott) and flat XML (.fodt).
#ifndef DORVEX_ODT_H
#define DORVEX_ODT_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "metadata.h"
#include "zip.h"

namespace dorvex {

// The package's mimetype member ("application/vnd.oasis.opendocument.text"), empty when it has
// none or it is unreadable.
std::string odf_mimetype(ZipArchive* zip);

// Whether an OpenDocument mimetype is that of a text document or template.
bool is_odf_text_type(std::string_view mimetype);

// An OpenDocument text package whose directory is read. The input's status.
// metadata (null: not looked for) receives what meta.xml states.
int read_odt(ZipArchive* zip, const char* name, Metadata* metadata = nullptr);

// A flat OpenDocument text whose first n bytes (prefix) are read.
// metadata as for read_odt, from its office:meta element.
int read_flat_odt(std::FILE* f, const unsigned char* prefix, std::size_t n, const char* name,
                  Metadata* metadata = nullptr);

}  // namespace dorvex

#endif  // DORVEX_ODT_H
