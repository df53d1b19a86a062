#include "xmlmeta.h"

#include <string_view>

namespace dorvex {

// Limits: a properties part is read whole, at most kMaxPropertiesPart bytes (real ones hold
// under 2 KiB); a field keeps at most kMaxMetaField bytes, as the summary reader does.
constexpr std::size_t kMaxPropertiesPart = std::size_t(1) << 20;
constexpr std::size_t kMaxMetaField = std::size_t(64) << 10;

namespace {

// An ISO 8601 time as the formats write it ("2019-06-17T18:51:00Z", OpenDocument's local
// "2019-06-17T20:51:06.123456789"): fractions of a second dropped; anything else states nothing.
bool clean_date(std::string& s) {
  auto digits = [&](std::size_t at, std::size_t n) {
    for (std::size_t i = at; i < at + n; ++i) {
      if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    }
    return true;
  };
  if (!(digits(0, 4) && s[4] == '-' && digits(5, 2) && s[7] == '-' && digits(8, 2) &&
        s.size() >= 19 && s[10] == 'T' && digits(11, 2) && s[13] == ':' && digits(14, 2) &&
        s[16] == ':' && digits(17, 2))) {
    return false;
  }
  std::size_t end = 19;
  if (end < s.size() && s[end] == '.') {
    while (++end < s.size() && s[end] >= '0' && s[end] <= '9') {
    }
  }
  const std::string zone = s.substr(end);
  s.resize(19);
  if (zone == "Z") s += 'Z';
  return zone.empty() || zone == "Z";
}

bool meta_start(void* user, const XmlTag& tag) {
  xml_meta_start(*static_cast<XmlMetaScan*>(user), tag);
  return true;
}
void meta_end(void* user, const XmlTag&) { xml_meta_end(*static_cast<XmlMetaScan*>(user)); }
void meta_text(void* user, const char* s, std::size_t n) {
  xml_meta_text(*static_cast<XmlMetaScan*>(user), s, n);
}

}  // namespace

bool xml_meta_start(XmlMetaScan& scan, const XmlTag& tag) {
  xml_meta_end(scan);
  Metadata& m = *scan.out;
  const std::string_view n = tag.local;
  std::optional<std::string>* field = nullptr;
  bool date = false;
  if (tag.ns == XmlNs::dc) {
    if (n == "title") field = &m.title;
    if (n == "subject") field = &m.subject;
    // OpenDocument's dc:creator is who saved last; its author is meta:initial-creator.
    if (n == "creator") field = &m.author;
    if (n == "date") field = &m.modified, date = true;
  } else if (tag.ns == XmlNs::meta) {
    if (n == "initial-creator") field = &m.author;
    if (n == "keyword") field = &m.keywords;
    if (n == "creation-date") field = &m.created, date = true;
  } else if (tag.ns == XmlNs::other) {
    // OOXML's core properties and dcterms: recognised by their local names.
    if (n == "keywords") field = &m.keywords;
    if (n == "created") field = &m.created, date = true;
    if (n == "modified") field = &m.modified, date = true;
  }
  if (!field || *field) return false;
  scan.field = field;
  scan.date = date;
  scan.text.clear();
  return true;
}

void xml_meta_text(XmlMetaScan& scan, const char* s, std::size_t n) {
  if (!scan.field) return;
  if (n > kMaxMetaField - scan.text.size()) n = kMaxMetaField - scan.text.size();
  scan.text.append(s, n);
}

void xml_meta_end(XmlMetaScan& scan) {
  if (!scan.field) return;
  std::string value = std::move(scan.text);
  scan.text.clear();
  if (trim_field(value) && (!scan.date || clean_date(value))) *scan.field = std::move(value);
  scan.field = nullptr;
}

void read_package_metadata(ZipArchive* zip, const std::string& part, Metadata* out) {
  const ZipMember* m = out ? zip_find(*zip, part) : nullptr;
  std::string data;
  if (!m || !zip_read_small(zip, *m, kMaxPropertiesPart, &data)) return;
  XmlMetaScan scan;
  scan.out = out;
  XmlReading reading(XmlEvents{&scan, meta_start, meta_end, meta_text});
  reading.feed(data.data(), data.size(), true);
  xml_meta_end(scan);
}

}  // namespace dorvex
