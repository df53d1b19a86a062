// What an Office Open XML or OpenDocument document states about itself: docProps/core.xml,
// meta.xml, or the same elements inside a flat document.
#ifndef DORVEX_XMLMETA_H
#define DORVEX_XMLMETA_H

#include <string>

#include "metadata.h"
#include "xmltext.h"
#include "zip.h"

namespace dorvex {

// Collects the fields of the elements it is shown: start, text and end of each element inside
// a properties part (or a flat document's meta element). Fields out already holds are kept.
struct XmlMetaScan {
  Metadata* out = nullptr;
  std::optional<std::string>* field = nullptr;  // the field whose element is open
  std::string text;
  bool date = false;
};

// Starts collecting when tag is one of the properties' elements; true when it is.
bool xml_meta_start(XmlMetaScan& scan, const XmlTag& tag);
void xml_meta_text(XmlMetaScan& scan, const char* s, std::size_t n);
void xml_meta_end(XmlMetaScan& scan);

// Reads a properties part of a package (core.xml or meta.xml) into *out; a missing or broken
// part states nothing.
void read_package_metadata(ZipArchive* zip, const std::string& part, Metadata* out);

}  // namespace dorvex

#endif  // DORVEX_XMLMETA_H
