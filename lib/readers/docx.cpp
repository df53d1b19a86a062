#include "docx.h"

#include <cstdlib>
#include <memory>
#include <string>
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

// Limits of the Office Open XML reader, beside the package's and the XML reader's own:
// - [Content_Types].xml and relationship parts are read whole: at most kMaxSmallPart bytes each
//   (real ones hold a few KiB).
// - Headers and footers: at most kMaxHeaderParts distinct parts are read (Word writes up to
//   six per section, and sections share them).
constexpr std::size_t kMaxSmallPart = std::size_t(16) << 20;
constexpr std::size_t kMaxHeaderParts = 256;

namespace {

bool contains(std::string_view s, std::string_view part) { return s.find(part) != s.npos; }

bool is_word_main_type(std::string_view type) {
  return contains(type, "wordprocessingml.document.main+xml") ||
         contains(type, "wordprocessingml.template.main+xml") ||
         contains(type, "ms-word.document.macroEnabled.main+xml") ||
         contains(type, "ms-word.template.macroEnabledTemplate.main+xml");
}

// Text parts of a WordprocessingML document, by content type (Word's flat XML package names
// its parts' types and nothing else).
bool is_word_text_type(std::string_view type) {
  return is_word_main_type(type) || contains(type, "wordprocessingml.footnotes+xml") ||
         contains(type, "wordprocessingml.endnotes+xml") ||
         contains(type, "wordprocessingml.comments+xml") ||
         contains(type, "wordprocessingml.header+xml") ||
         contains(type, "wordprocessingml.footer+xml");
}

// ---- Small parts: content types and relationships.

struct TypesScan {
  std::string main_part;  // the main document's part name, from an Override
  OoxmlKind kind = OoxmlKind::none;
};

void note_type(TypesScan* scan, std::string_view type, const char* part) {
  if (is_word_main_type(type)) {
    scan->kind = OoxmlKind::word;
    if (part && scan->main_part.empty()) scan->main_part = part;
    return;
  }
  if (scan->kind != OoxmlKind::none && scan->kind != OoxmlKind::other) return;
  if (contains(type, "spreadsheetml.") || contains(type, "ms-excel.")) {
    scan->kind = OoxmlKind::workbook;
  } else if (contains(type, "presentationml.") || contains(type, "ms-powerpoint.")) {
    scan->kind = OoxmlKind::presentation;
  } else if (contains(type, "ms-visio.")) {
    scan->kind = OoxmlKind::visio;
  } else {
    scan->kind = OoxmlKind::other;
  }
}

bool types_start(void* user, const XmlTag& tag) {
  auto* scan = static_cast<TypesScan*>(user);
  if (tag.ns != XmlNs::types) return true;
  const char* type = xml_attr(tag, XmlNs::none, "ContentType");
  if (!type) return true;
  // Every part has a type; the main document's names the package's kind.
  if (name_is(tag.local, "Override") || name_is(tag.local, "Default")) {
    const std::string_view t(type);
    if (contains(t, ".main+xml") || contains(t, "main+xml")) {
      note_type(scan, t, name_is(tag.local, "Override") ? xml_attr(tag, XmlNs::none, "PartName")
                                                 : nullptr);
    }
  }
  return true;
}
void no_end(void*, const XmlTag&) {}
void no_text(void*, const char*, std::size_t) {}

// A small member parsed whole; false when it is missing or broken (no message: the caller
// decides what its absence means).
bool parse_small(ZipArchive* zip, std::string_view part, const XmlEvents& events) {
  const ZipMember* m = zip_find(*zip, part);
  std::string data;
  if (!m || !zip_read_small(zip, *m, kMaxSmallPart, &data)) return false;
  XmlReading reading(events);
  return reading.feed(data.data(), data.size(), true);
}

struct Relationship {
  std::string id, type, target;  // type: the last segment of the type URI
};

bool rels_start(void* user, const XmlTag& tag) {
  auto* rels = static_cast<std::vector<Relationship>*>(user);
  if (tag.ns != XmlNs::rels || !name_is(tag.local, "Relationship")) return true;
  const char* mode = xml_attr(tag, XmlNs::none, "TargetMode");
  if (mode && std::string_view(mode) == "External") return true;
  const char* id = xml_attr(tag, XmlNs::none, "Id");
  const char* type = xml_attr(tag, XmlNs::none, "Type");
  const char* target = xml_attr(tag, XmlNs::none, "Target");
  if (!type || !target || rels->size() >= kMaxZipMembers) return true;
  std::string_view t(type);
  if (const std::size_t slash = t.rfind('/'); slash != t.npos) t.remove_prefix(slash + 1);
  rels->push_back({id ? id : "", std::string(t), target});
  return true;
}

// The part a relationship's target names, from the directory of the part that holds it:
// percent escapes decoded, "." and ".." resolved, no leading "/".
std::string resolve_target(std::string_view source_dir, std::string_view target) {
  std::string decoded;
  for (std::size_t i = 0; i < target.size(); ++i) {
    auto hex = [](char c) {
      return c >= '0' && c <= '9' ? c - '0'
             : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                      : -1;
    };
    if (target[i] == '%' && i + 2 < target.size() && hex(target[i + 1]) >= 0 &&
        hex(target[i + 2]) >= 0) {
      decoded += static_cast<char>(hex(target[i + 1]) * 16 + hex(target[i + 2]));
      i += 2;
    } else {
      decoded += target[i];
    }
  }
  std::string path = !decoded.empty() && decoded[0] == '/' ? decoded.substr(1)
                                                           : std::string(source_dir) + decoded;
  std::vector<std::string_view> parts;
  std::string_view rest(path);
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    std::string_view seg = rest.substr(0, slash);
    rest = slash == rest.npos ? std::string_view() : rest.substr(slash + 1);
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(seg);
  }
  std::string out;
  for (std::string_view seg : parts) {
    if (!out.empty()) out += '/';
    out += seg;
  }
  return out;
}

std::string directory_of(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  return slash == part.npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::vector<Relationship> read_rels(ZipArchive* zip, std::string_view part) {
  std::vector<Relationship> rels;
  const std::string dir = directory_of(part);
  const std::string rels_part = dir + "_rels/" + std::string(part.substr(dir.size())) + ".rels";
  parse_small(zip, rels_part, XmlEvents{&rels, rels_start, no_end, no_text});
  return rels;
}

// ---- The text of WordprocessingML parts.

struct DocxReading {
  StoryWriter* out = nullptr;
  int run_depth = 0;  // open w:r elements of the innermost paragraph
  bool in_text = false;
  std::vector<int> outer_runs;  // run_depth of the paragraphs a text box lies in
  std::vector<int> stories;            // the stories to go back to, innermost last
  std::vector<std::uint8_t> branches;  // per open AlternateContent: a branch was taken
  std::vector<std::uint8_t> comments;  // per open aml:annotation: it is a comment
  const char* name = "";
  // Lists: the document's numbering, the counters, and the paragraph whose label is due (its
  // properties come first in it; the label goes out before its first content).
  const DocxNumbering* numbering = nullptr;
  DocxListCounting counting;
  DocxNumPr para_num;
  std::string para_style;
  bool in_para_props = false;
  bool label_due = false;
  std::vector<std::uint16_t> label;
};

// The label of the paragraph in hand, once its properties are read.
void put_label(DocxReading* d) {
  if (!d->label_due) return;
  d->label_due = false;
  if (!d->numbering) return;
  d->label.clear();
  docx_paragraph_label(*d->numbering, &d->counting, d->out->story, d->para_num, d->para_style,
                       &d->label);
  for (std::uint16_t u : d->label) story_unit(*d->out, u);
}

// Paragraph properties that say which list a paragraph is in.
void paragraph_property(DocxReading* d, const XmlTag& tag) {
  const char* val = xml_attr(tag, XmlNs::w, "val");
  if (name_is(tag.local, "pStyle") && val) d->para_style = val;
  if (name_is(tag.local, "numId") && val) {
    d->para_num.num_id = val;
    d->para_num.has_num = true;
  }
  if (name_is(tag.local, "ilvl") && val) {
    const long v = std::strtol(val, nullptr, 10);
    d->para_num.ilvl = v >= 0 && v < kListLevels ? int(v) : 0;
  }
}

void push_story(DocxReading* d, int story) { d->stories.push_back(story_switch(*d->out, story)); }
void pop_story(DocxReading* d) {
  if (d->stories.empty()) return;
  story_switch(*d->out, d->stories.back());
  d->stories.pop_back();
}

std::uint16_t sym_char(const XmlTag& tag) {
  const char* c = xml_attr(tag, XmlNs::w, "char");
  if (!c) return 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(c, &end, 16);
  return end != c && *end == '\0' && v >= 0x20 && v <= 0xFFFF ? std::uint16_t(v) : 0;
}

bool is_separator_note(const XmlTag& tag) {
  const char* type = xml_attr(tag, XmlNs::w, "type");
  if (!type) return false;
  const std::string_view t(type);
  return t == "separator" || t == "continuationSeparator" || t == "continuationNotice" ||
         t == "continuation-separator" || t == "continuation-notice";
}

bool word_start(DocxReading* d, const XmlTag& tag) {
  StoryWriter& w = *d->out;
  const std::string_view n = tag.local;
  if (d->in_para_props) {
    paragraph_property(d, tag);
    return !name_is(n, "rPr") && !name_is(n, "pPrChange") && !name_is(n, "sectPr") && !name_is(n, "tabs");
  }
  if (d->label_due && !name_is(n, "pPr")) put_label(d);
  // The most frequent elements first.
  if (name_is(n, "t")) {
    d->in_text = true;
    return true;
  }
  if (name_is(n, "r")) {
    ++d->run_depth;
    return true;
  }
  if (name_is(n, "rPr") || name_is(n, "del")) return false;
  if (name_is(n, "pPr")) {
    d->in_para_props = d->label_due;
    return true;
  }
  if (name_is(n, "p")) {
    story_paragraph_start(w);
    d->para_num = DocxNumPr{};
    d->para_style.clear();
    d->label_due = true;
    // A text box's paragraphs lie inside a run of the paragraph it is anchored in.
    d->outer_runs.push_back(d->run_depth);
    d->run_depth = 0;
    return true;
  }
  if (name_is(n, "tc")) {
    story_cell_start(w);
    return true;
  }
  if (d->run_depth > 0) {
    if (name_is(n, "tab") || name_is(n, "ptab")) {
      story_unit(w, 9);
      return true;
    }
    if (name_is(n, "br")) {
      const char* type = xml_attr(tag, XmlNs::w, "type");
      const std::string_view t = type ? type : "";
      story_unit(w, t == "page" || t == "column" ? 12 : 11);
      return true;
    }
    if (name_is(n, "cr")) {
      story_unit(w, 11);
      return true;
    }
    if (name_is(n, "sym")) {
      if (const std::uint16_t c = sym_char(tag)) story_unit(w, c);
      return true;
    }
  }
  if (name_is(n, "hdr") || name_is(n, "ftr")) {
    push_story(d, kHeaderStory);
    return true;
  }
  if (name_is(n, "fldChar")) {
    const char* type = xml_attr(tag, XmlNs::w, "fldCharType");
    const std::string_view t = type ? type : "";
    if (t == "begin") story_unit(w, 19);
    if (t == "separate") story_unit(w, 20);
    if (t == "end") story_unit(w, 21);
    return true;
  }
  if (name_is(n, "instrText") || name_is(n, "delText") || name_is(n, "delInstrText") || name_is(n, "moveFrom")) return false;
  if (name_is(n, "fldSimple")) {
    story_unit(w, 19);
    story_unit(w, 20);
    return true;
  }
  if (name_is(n, "noBreakHyphen")) story_unit(w, 30);
  if (name_is(n, "softHyphen")) story_unit(w, 31);
  if (name_is(n, "footnote") || name_is(n, "endnote")) {
    if (is_separator_note(tag)) return false;
    push_story(d, name_is(n, "footnote") ? kFootnoteStory : kEndnoteStory);
    return true;
  }
  if (name_is(n, "comment")) {
    push_story(d, kCommentStory);
    return true;
  }
  // Properties hold no text (a deleted paragraph mark lies in rPr); Word 2003's document
  // properties, fonts, lists and styles neither, though footnote separators hide there.
  return !name_is(n, "tabs") && !name_is(n, "tblPr") && !name_is(n, "tcPr") && !name_is(n, "trPr") && !name_is(n, "sdtPr") && !name_is(n, "sdtEndPr") &&
         !name_is(n, "tblGrid") && !name_is(n, "docPr") && !name_is(n, "fonts") && !name_is(n, "lists") && !name_is(n, "styles") &&
         !name_is(n, "rPrChange") && !name_is(n, "pPrChange") && !name_is(n, "sectPrChange") && !name_is(n, "tblPrChange") &&
         !name_is(n, "binData");
}

void word_end(DocxReading* d, const XmlTag& tag) {
  StoryWriter& w = *d->out;
  const std::string_view n = tag.local;
  if (name_is(n, "pPr") && d->in_para_props) {
    d->in_para_props = false;
    put_label(d);
    return;
  }
  if (name_is(n, "t")) {
    d->in_text = false;
  } else if (name_is(n, "r")) {
    --d->run_depth;
  } else if (name_is(n, "p")) {
    put_label(d);  // an empty paragraph in a list shows its label
    story_paragraph_end(w);
    if (!d->outer_runs.empty()) {
      d->run_depth = d->outer_runs.back();
      d->outer_runs.pop_back();
    }
  } else if (name_is(n, "tc")) {
    story_cell_end(w);
  } else if (name_is(n, "tr")) {
    story_row_end(w);
  } else if (name_is(n, "fldSimple")) {
    story_unit(w, 21);
  } else if (name_is(n, "footnote") || name_is(n, "endnote") || name_is(n, "comment") || name_is(n, "hdr") || name_is(n, "ftr")) {
    pop_story(d);
  }
}

bool docx_start(void* user, const XmlTag& tag) {
  auto* d = static_cast<DocxReading*>(user);
  switch (tag.ns) {
    case XmlNs::w:
      return word_start(d, tag);
    case XmlNs::mc:
      // One branch of each alternative: the first choice, else the fallback. Word writes a
      // text box in both.
      if (name_is(tag.local, "AlternateContent")) {
        d->branches.push_back(0);
        return true;
      }
      if ((name_is(tag.local, "Choice") || name_is(tag.local, "Fallback")) && !d->branches.empty()) {
        if (d->branches.back()) return false;
        d->branches.back() = 1;
      }
      return true;
    case XmlNs::aml:
      if (name_is(tag.local, "annotation")) {
        const char* type = xml_attr(tag, XmlNs::w, "type");
        const std::string_view t = type ? type : "";
        if (t == "Word.Deletion") return false;
        d->comments.push_back(t == "Word.Comment");
        if (d->comments.back()) push_story(d, kCommentStory);
      }
      return true;
    case XmlNs::pkg:
      if (name_is(tag.local, "part")) {
        const char* type = xml_attr(tag, XmlNs::pkg, "contentType");
        if (!type || !is_word_text_type(type)) return false;
      }
      return true;
    default:
      return true;
  }
}

void docx_end(void* user, const XmlTag& tag) {
  auto* d = static_cast<DocxReading*>(user);
  if (tag.ns == XmlNs::w) {
    word_end(d, tag);
  } else if (tag.ns == XmlNs::mc && name_is(tag.local, "AlternateContent")) {
    if (!d->branches.empty()) d->branches.pop_back();
  } else if (tag.ns == XmlNs::aml && name_is(tag.local, "annotation") && !d->comments.empty()) {
    if (d->comments.back()) pop_story(d);
    d->comments.pop_back();
  }
}

void docx_text(void* user, const char* s, std::size_t n) {
  auto* d = static_cast<DocxReading*>(user);
  if (d->in_text) story_text(*d->out, s, n, Spaces::keep);
}

XmlEvents docx_events(DocxReading* d) { return {d, docx_start, docx_end, docx_text}; }

// A part read into the stories; its own stories (footnote, header...) come from its elements.
int read_part(ZipArchive* zip, const std::string& part, DocxReading* d, const char* name) {
  const ZipMember* m = zip_find(*zip, part);
  if (!m) {
    document_message(name, part + ": part missing from the package");
    return 1;
  }
  XmlReading reading(docx_events(d));
  const int status = parse_member(zip, *m, reading, name);
  // A broken part leaves no story open for the next.
  while (!d->stories.empty()) pop_story(d);
  d->branches.clear();
  d->outer_runs.clear();
  d->run_depth = 0;
  d->in_text = false;
  d->in_para_props = d->label_due = false;
  return status;
}

}  // namespace

OoxmlKind ooxml_kind(ZipArchive* zip) {
  TypesScan scan;
  if (!parse_small(zip, "[Content_Types].xml", XmlEvents{&scan, types_start, no_end, no_text})) {
    return OoxmlKind::none;
  }
  return scan.kind == OoxmlKind::none ? OoxmlKind::other : scan.kind;
}

int read_docx(ZipArchive* zip, const char* name, Metadata* metadata) {
  ctx().format = "docx";
  TypesScan scan;
  parse_small(zip, "[Content_Types].xml", XmlEvents{&scan, types_start, no_end, no_text});
  std::string main_part;
  for (const Relationship& r : read_rels(zip, "")) {
    if (r.type == "officeDocument" && main_part.empty()) main_part = resolve_target("", r.target);
    if (r.type == "core-properties") {
      read_package_metadata(zip, resolve_target("", r.target), metadata);
    }
  }
  if (main_part.empty() || !zip_find(*zip, main_part)) main_part = resolve_target("", scan.main_part);
  if (main_part.empty() || !zip_find(*zip, main_part)) {
    document_message(name, "no main document in the package");
    return 1;
  }
  const std::vector<Relationship> rels = read_rels(zip, main_part);
  const std::string dir = directory_of(main_part);
  // The stories in the Word reader's order. Each part goes to the stories its elements name,
  // so the order of reading only orders the headers and footers among themselves.
  std::vector<std::string> parts{main_part};
  auto add_of_type = [&](std::string_view type, std::string_view other, std::size_t limit) {
    std::size_t added = 0;
    for (const Relationship& r : rels) {
      if ((r.type != type && r.type != other) || added == limit) continue;
      std::string part = resolve_target(dir, r.target);
      bool seen = false;
      for (const std::string& p : parts) seen = seen || p == part;
      if (!seen) parts.push_back(std::move(part)), ++added;
    }
  };
  add_of_type("footnotes", "footnotes", 1);
  add_of_type("header", "footer", kMaxHeaderParts);
  add_of_type("comments", "comments", 1);
  add_of_type("endnotes", "endnotes", 1);
  // The numbering and the paragraph styles' numbering, for the labels of list paragraphs.
  DocxNumbering numbering;
  for (const Relationship& r : rels) {
    if (r.type == "numbering" || r.type == "styles") {
      parse_small(zip, resolve_target(dir, r.target), docx_numbering_events(&numbering));
    }
  }
  docx_numbering_resolve(&numbering);
  if (ctx().verbose) {
    out_printf("Office Open XML document\n");
    for (const std::string& part : parts) out_printf("Part %s\n", part.c_str());
  }
  auto out = std::make_unique<StoryWriter>();
  DocxReading d;
  d.out = out.get();
  d.name = name;
  d.numbering = &numbering;
  int status = 0;
  for (const std::string& part : parts) {
    if (int s = read_part(zip, part, &d, name); s != 0) status = s;
  }
  story_finish(*out);
  return status;
}

int read_word_xml(std::FILE* f, const unsigned char* prefix, std::size_t n, const char* name) {
  ctx().format = "docx";
  if (ctx().verbose) out_printf("Word XML document\n");
  auto out = std::make_unique<StoryWriter>();
  DocxReading d;
  d.out = out.get();
  d.name = name;
  XmlReading reading(docx_events(&d));
  const int status = parse_stream(f, prefix, n, reading, name);
  while (!d.stories.empty()) pop_story(&d);
  story_finish(*out);
  return status;
}

}  // namespace dorvex
