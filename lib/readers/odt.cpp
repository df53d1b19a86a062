#include "odt.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "context.h"
#include "analyze.h"
#include "signatures.h"
#include "writer.h"
#include "xmllists.h"
#include "xmlmeta.h"
#include "xmltext.h"

namespace dorvex {

// Limits of the OpenDocument reader, beside the package's and the XML reader's own:
// - The mimetype member is a single line: at most kMaxMimetype bytes are read.
// - The manifest is read whole: at most kMaxManifest bytes (real ones hold a few KiB).
// - A text:s element stands for at most kMaxSpaces spaces: twenty bytes of XML must not become
//   gigabytes of text.
constexpr std::size_t kMaxMimetype = 256;
constexpr std::size_t kMaxManifest = std::size_t(16) << 20;
constexpr long kMaxSpaces = 1024;

namespace {

struct OdtReading {
  StoryWriter* out = nullptr;
  int paragraphs = 0;       // open text:p and text:h elements, any story
  std::vector<int> stories;  // the stories to go back to, innermost last
  // Lists: the list styles and outline style, read before the text or where they stand in a
  // flat document (styles_depth: elements open inside office:styles or automatic-styles).
  OdfLists lists;
  OdfListCounting counting;
  int styles_depth = 0;
  XmlMetaScan meta;  // a flat document's office:meta, when metadata is asked for
  bool in_meta = false;
  std::vector<std::uint16_t> label;
};

void push_story(OdtReading* d, int story) { d->stories.push_back(story_switch(*d->out, story)); }
void pop_story(OdtReading* d) {
  if (d->stories.empty()) return;
  story_switch(*d->out, d->stories.back());
  d->stories.pop_back();
}

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool is_header_or_footer(std::string_view n) {
  return name_is(n, "header") || name_is(n, "footer") || name_is(n, "header-left") || name_is(n, "footer-left") ||
         name_is(n, "header-first") || name_is(n, "footer-first");
}

void put_spaces(StoryWriter& w, const XmlTag& tag) {
  long count = 1;
  if (const char* c = xml_attr(tag, XmlNs::text, "c")) {
    char* end = nullptr;
    errno = 0;
    count = std::strtol(c, &end, 10);
    if (errno == ERANGE) count = count > 0 ? kMaxSpaces : 1;
    if (end == c || count < 1) count = 1;
    if (count > kMaxSpaces) count = kMaxSpaces;
  }
  for (long i = 0; i < count; ++i) story_unit(w, 0x20);
}

bool text_start(OdtReading* d, const XmlTag& tag) {
  StoryWriter& w = *d->out;
  const std::string_view n = tag.local;
  if (name_is(n, "span") || name_is(n, "a")) return true;
  if (name_is(n, "p") || name_is(n, "h")) {
    ++d->paragraphs;
    story_paragraph_start(w);
    d->label.clear();
    odf_paragraph_label(d->lists, &d->counting, tag, &d->label);
    for (std::uint16_t u : d->label) story_unit(w, u);
    return true;
  }
  if (name_is(n, "list")) {
    odf_list_start(d->lists, &d->counting, tag);
    return true;
  }
  if (name_is(n, "list-item")) {
    odf_list_item_start(&d->counting, tag);
    return true;
  }
  if (name_is(n, "s")) {
    if (d->paragraphs > 0) put_spaces(w, tag);
    return true;
  }
  if (name_is(n, "tab") || name_is(n, "line-break")) {
    if (d->paragraphs > 0) story_unit(w, name_is(n, "tab") ? 9 : 11);
    return true;
  }
  if (name_is(n, "note")) {
    const char* cls = xml_attr(tag, XmlNs::text, "note-class");
    push_story(d, cls && std::string_view(cls) == "endnote" ? kEndnoteStory : kFootnoteStory);
    return true;
  }
  // Deleted text lies in the tracked changes; an index's source holds templates, not text.
  return !name_is(n, "note-citation") && !name_is(n, "tracked-changes") && !name_is(n, "sequence-decls") &&
         !name_is(n, "variable-decls") && !name_is(n, "user-field-decls") && !name_is(n, "dde-connection-decls") &&
         !ends_with(n, "-source");
}

bool odt_start(void* user, const XmlTag& tag) {
  auto* d = static_cast<OdtReading*>(user);
  const std::string_view n = tag.local;
  if (d->in_meta) return xml_meta_start(d->meta, tag);
  if (tag.ns == XmlNs::office && name_is(n, "meta") && d->meta.out) {
    d->in_meta = true;
    return true;
  }
  if (d->styles_depth > 0) {
    const bool open = odf_list_style_events(&d->lists).start(&d->lists, tag);
    if (open) ++d->styles_depth;
    return open;
  }
  if (tag.ns == XmlNs::office && (name_is(n, "styles") || name_is(n, "automatic-styles"))) {
    d->styles_depth = 1;
    return true;
  }
  switch (tag.ns) {
    case XmlNs::text:
      return text_start(d, tag);
    case XmlNs::table:
      if (name_is(n, "table-cell") || name_is(n, "covered-table-cell")) story_cell_start(*d->out);
      return !name_is(n, "table-columns") && !name_is(n, "table-column") && !name_is(n, "table-header-columns") &&
             !name_is(n, "title") && !name_is(n, "desc");
    case XmlNs::office:
      if (name_is(n, "annotation")) {
        push_story(d, kCommentStory);
        return true;
      }
      return !name_is(n, "meta") && !name_is(n, "settings") && !name_is(n, "scripts") && !name_is(n, "font-face-decls") &&
             !name_is(n, "styles") && !name_is(n, "automatic-styles") && !name_is(n, "forms") &&
             !name_is(n, "event-listeners") && !name_is(n, "binary-data");
    case XmlNs::style:
      // Only the master pages' headers and footers hold text.
      if (is_header_or_footer(n)) {
        const char* display = xml_attr(tag, XmlNs::style, "display");
        if (display && std::string_view(display) == "false") return false;
        push_story(d, kHeaderStory);
        return true;
      }
      return name_is(n, "master-page") || name_is(n, "region-left") || name_is(n, "region-center") ||
             name_is(n, "region-right");
    case XmlNs::draw:
      // Embedded objects (formulas, charts) carry their own source text.
      return !name_is(n, "object") && !name_is(n, "object-ole") && !name_is(n, "plugin") && !name_is(n, "applet");
    case XmlNs::svg:
      return !name_is(n, "title") && !name_is(n, "desc");
    case XmlNs::dc:
    case XmlNs::meta:
      return false;  // a comment's author and date
    default:
      return true;
  }
}

void odt_end(void* user, const XmlTag& tag) {
  auto* d = static_cast<OdtReading*>(user);
  const std::string_view n = tag.local;
  if (d->in_meta) {
    xml_meta_end(d->meta);
    if (tag.ns == XmlNs::office && name_is(n, "meta")) d->in_meta = false;
    return;
  }
  if (d->styles_depth > 0) {
    if (--d->styles_depth > 0) odf_list_style_events(&d->lists).end(&d->lists, tag);
    return;
  }
  switch (tag.ns) {
    case XmlNs::text:
      if (name_is(n, "p") || name_is(n, "h")) {
        --d->paragraphs;
        story_paragraph_end(*d->out);
      } else if (name_is(n, "note")) {
        pop_story(d);
      } else if (name_is(n, "list")) {
        odf_list_end(&d->counting);
      }
      break;
    case XmlNs::table:
      if (name_is(n, "table-cell") || name_is(n, "covered-table-cell")) story_cell_end(*d->out);
      if (name_is(n, "table-row")) story_row_end(*d->out);
      break;
    case XmlNs::office:
      if (name_is(n, "annotation")) pop_story(d);
      break;
    case XmlNs::style:
      if (is_header_or_footer(n)) pop_story(d);
      break;
    default:
      break;
  }
}

void odt_text(void* user, const char* s, std::size_t n) {
  auto* d = static_cast<OdtReading*>(user);
  if (d->in_meta) {
    xml_meta_text(d->meta, s, n);
    return;
  }
  if (d->paragraphs > 0) story_text(*d->out, s, n, Spaces::collapse);
}

XmlEvents odt_events(OdtReading* d) { return {d, odt_start, odt_end, odt_text}; }

struct ManifestScan {
  bool encrypted = false;
};

bool manifest_start(void* user, const XmlTag& tag) {
  if (tag.ns == XmlNs::manifest && name_is(tag.local, "encryption-data")) {
    static_cast<ManifestScan*>(user)->encrypted = true;
  }
  return true;
}
void no_end(void*, const XmlTag&) {}
void no_text(void*, const char*, std::size_t) {}

bool is_encrypted(ZipArchive* zip) {
  const ZipMember* m = zip_find(*zip, "META-INF/manifest.xml");
  std::string data;
  if (!m || !zip_read_small(zip, *m, kMaxManifest, &data)) return false;
  ManifestScan scan;
  XmlReading reading(XmlEvents{&scan, manifest_start, no_end, no_text});
  reading.feed(data.data(), data.size(), true);
  return scan.encrypted;
}

int read_odt_part(ZipArchive* zip, const char* part, OdtReading* d, const char* name) {
  const ZipMember* m = zip_find(*zip, part);
  if (!m) return -1;
  XmlReading reading(odt_events(d));
  const int status = parse_member(zip, *m, reading, name);
  while (!d->stories.empty()) pop_story(d);
  d->paragraphs = 0;
  d->styles_depth = 0;
  d->counting.open.clear();
  return status;
}

}  // namespace

std::string odf_mimetype(ZipArchive* zip) {
  const ZipMember* m = zip_find(*zip, "mimetype");
  std::string type;
  if (!m || !zip_read_small(zip, *m, kMaxMimetype, &type)) return std::string();
  while (!type.empty() && (type.back() == '\n' || type.back() == '\r' || type.back() == ' ')) {
    type.pop_back();
  }
  return type;
}

bool is_odf_text_type(std::string_view mimetype) {
  return mimetype == "application/vnd.oasis.opendocument.text" ||
         mimetype == "application/vnd.oasis.opendocument.text-template";
}

int read_odt(ZipArchive* zip, const char* name, Metadata* metadata) {
  ctx().format = "odt";
  if (is_encrypted(zip)) return encrypted_package();
  read_package_metadata(zip, "meta.xml", metadata);
  if (ctx().verbose) {
    out_printf("OpenDocument text\n");
    for (const char* part : {"content.xml", "styles.xml"}) {
      if (zip_find(*zip, part)) out_printf("Part %s\n", part);
    }
  }
  auto out = std::make_unique<StoryWriter>();
  OdtReading d;
  d.out = out.get();
  // The common list styles and the outline style lie in styles.xml, read after the text for
  // its headers and footers: they are taken first.
  // (Silently: a broken styles.xml is reported once, when its headers are read.)
  std::string styles_xml;
  if (const ZipMember* m = zip_find(*zip, "styles.xml");
      m && zip_read_small(zip, *m, kMaxManifest, &styles_xml)) {
    XmlReading styles(odf_list_style_events(&d.lists));
    styles.feed(styles_xml.data(), styles_xml.size(), true);
  }
  int status = read_odt_part(zip, "content.xml", &d, name);
  if (status < 0) {
    document_message(name, "content.xml: part missing from the package");
    status = 1;
  }
  // Headers and footers: the master pages of styles.xml.
  if (const int s = read_odt_part(zip, "styles.xml", &d, name); s > 0) status = s;
  story_finish(*out);
  return status;
}

int read_flat_odt(std::FILE* f, const unsigned char* prefix, std::size_t n, const char* name,
                  Metadata* metadata) {
  if (ctx().verbose) out_printf("OpenDocument flat XML text\n");
  ctx().format = "odt";
  auto out = std::make_unique<StoryWriter>();
  OdtReading d;
  d.out = out.get();
  d.meta.out = metadata;
  XmlReading reading(odt_events(&d));
  const int status = parse_stream(f, prefix, n, reading, name);
  while (!d.stories.empty()) pop_story(&d);
  story_finish(*out);
  return status;
}

}  // namespace dorvex
