// Office Open XML text (.docx .docm .dotx .dotm), Word's flat XML package and Word 2003 XML.
#ifndef DORVEX_DOCX_H
#define DORVEX_DOCX_H

#include <cstddef>
#include <cstdio>

#include "metadata.h"
#include "zip.h"

namespace dorvex {

// The package's main document type, from [Content_Types].xml.
enum class OoxmlKind { none, word, workbook, presentation, visio, other };
OoxmlKind ooxml_kind(ZipArchive* zip);

// A WordprocessingML package whose directory is read. The input's status. metadata (null: not
// looked for) receives what docProps/core.xml states.
int read_docx(ZipArchive* zip, const char* name, Metadata* metadata = nullptr);

// A flat XML document (pkg:package or w:wordDocument) whose first n bytes (prefix) are read.
int read_word_xml(std::FILE* f, const unsigned char* prefix, std::size_t n, const char* name);

}  // namespace dorvex

#endif  // DORVEX_DOCX_H
