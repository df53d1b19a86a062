#include "xmllists.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace dorvex {

// Limits of the list tables of XML documents, all counts from the file:
// - at most kMaxXmlLists list definitions, list instances, list styles and paragraph styles
//   each (Word allows a few thousand lists; a part that declares more is hostile);
// - a style based on a style based on ... is followed kMaxStyleChain deep (a loop ends there);
// - at most kMaxOpenLists text:list elements nest, and kMaxOdfCounters lists are counted.
constexpr std::size_t kMaxXmlLists = 32768;
constexpr int kMaxStyleChain = 16;
constexpr std::size_t kMaxOpenLists = 64;
constexpr std::size_t kMaxOdfCounters = 65536;

namespace {

// A decimal attribute, or fallback when it is missing or not a number.
std::int64_t number_attr(const XmlTag& tag, XmlNs ns, std::string_view name,
                         std::int64_t fallback) {
  const char* v = xml_attr(tag, ns, name);
  if (!v) return fallback;
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(v, &end, 10);
  if (end == v || errno == ERANGE) return fallback;
  return std::clamp<long long>(n, -kMaxCounter, kMaxCounter);
}

// UTF-8 text to units, at most kMaxLevelText; in a Word level's text "%1" to "%9" stand for
// the level numbers (units 0 to 8).
std::vector<std::uint16_t> level_text(const char* s, bool placeholders) {
  std::vector<std::uint16_t> out;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p && out.size() < kMaxLevelText) {
    if (placeholders && p[0] == '%' && p[1] >= '1' && p[1] <= '9') {
      out.push_back(std::uint16_t(p[1] - '1'));
      p += 2;
      continue;
    }
    unsigned c = *p++;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) c &= 0x3F >> extra;
    for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) c = c << 6 | (*p++ & 0x3F);
    if (extra > 0 || c > 0xFFFF) c = 0xFFFD;
    // Control characters would pass for level numbers.
    if (c >= 0x20) out.push_back(std::uint16_t(c));
  }
  return out;
}

int level_attr(const XmlTag& tag, XmlNs ns, std::string_view name) {
  const std::int64_t n = number_attr(tag, ns, name, -1);
  return n >= 0 && n < kListLevels ? int(n) : -1;
}

// A list whose levels are not defined numbers in decimal: "1." at every level.
ListDefinition decimal_list() {
  ListDefinition d;
  for (int k = 0; k < kListLevels; ++k) d.levels[std::size_t(k)].text = {std::uint16_t(k), '.'};
  return d;
}

// ---- numbering.xml and styles.xml ----

ListLevel* open_level(DocxNumbering* n) {
  if (n->at_level < 0) return nullptr;
  if (n->at_override >= 0 && n->at_num >= 0) {
    DocxNumbering::Num& num = n->nums[std::size_t(n->at_num)];
    num.has_level[std::size_t(n->at_level)] = true;
    return &num.override_level[std::size_t(n->at_level)];
  }
  if (n->at_abstract >= 0) {
    return &n->abstracts[std::size_t(n->at_abstract)].list.levels[std::size_t(n->at_level)];
  }
  return nullptr;
}

bool numbering_start(void* user, const XmlTag& tag) {
  auto* n = static_cast<DocxNumbering*>(user);
  if (tag.ns != XmlNs::w) return true;
  const std::string_view e = tag.local;
  const char* val = xml_attr(tag, XmlNs::w, "val");
  if (e == "abstractNum") {
    if (n->abstracts.size() >= kMaxXmlLists) return false;
    const char* id = xml_attr(tag, XmlNs::w, "abstractNumId");
    n->abstracts.push_back({decimal_list(), id ? id : "", {}});
    n->at_abstract = int(n->abstracts.size() - 1);
    return true;
  }
  if (e == "num") {
    const char* id = xml_attr(tag, XmlNs::w, "numId");
    if (n->nums.size() >= kMaxXmlLists || !id) return false;
    n->nums.emplace_back();
    n->nums.back().id = id;
    n->at_num = int(n->nums.size() - 1);
    return true;
  }
  if (e == "lvl") {
    n->at_level = level_attr(tag, XmlNs::w, "ilvl");
    if (n->at_level < 0) return false;
    if (ListLevel* l = open_level(n)) *l = ListLevel{};
    return true;
  }
  if (e == "lvlOverride") {
    n->at_override = level_attr(tag, XmlNs::w, "ilvl");
    return n->at_override >= 0 && n->at_num >= 0;
  }
  if (e == "style") {
    const char* type = xml_attr(tag, XmlNs::w, "type");
    const char* id = xml_attr(tag, XmlNs::w, "styleId");
    if (!type || std::string_view(type) != "paragraph" || !id || n->styles.size() >= kMaxXmlLists) {
      return false;
    }
    n->at_style = id;
    n->styles[n->at_style];
    return true;
  }
  if (e == "rPr" || e == "tblPr" || e == "tblStylePr") return false;
  if (!n->at_style.empty()) {
    DocxNumbering::Style& s = n->styles[n->at_style];
    if (e == "basedOn" && val) s.based_on = val;
    if (e == "numPr") n->in_style_numpr = true;
    if (n->in_style_numpr && e == "numId" && val) {
      s.num.num_id = val;
      s.num.has_num = true;
    }
    if (n->in_style_numpr && e == "ilvl") s.num.ilvl = level_attr(tag, XmlNs::w, "val");
    return true;
  }
  if (e == "abstractNumId" && n->at_num >= 0 && val) {
    n->nums[std::size_t(n->at_num)].abstract_id = val;
    return true;
  }
  if (e == "startOverride" && n->at_num >= 0 && n->at_override >= 0 && n->at_level < 0) {
    DocxNumbering::Num& num = n->nums[std::size_t(n->at_num)];
    num.start_override[std::size_t(n->at_override)] = number_attr(tag, XmlNs::w, "val", 0);
    num.has_start[std::size_t(n->at_override)] = true;
    return true;
  }
  if (e == "pStyle" && val && n->at_abstract >= 0 && n->at_level >= 0 && n->at_override < 0) {
    n->abstracts[std::size_t(n->at_abstract)].level_style[std::size_t(n->at_level)] = val;
    return true;
  }
  ListLevel* l = open_level(n);
  if (!l) return true;
  if (e == "start") l->start = number_attr(tag, XmlNs::w, "val", 0);
  if (e == "numFmt" && val) l->format = word_number_format_name(val, std::strlen(val));
  if (e == "lvlText" && val) l->text = level_text(val, true);
  if (e == "lvlRestart")
    l->restart_below =
        int(std::clamp<std::int64_t>(number_attr(tag, XmlNs::w, "val", -1), -1, kListLevels));
  if (e == "isLgl") {
    const char* v = val ? val : "true";
    l->legal =
        std::strcmp(v, "0") != 0 && std::strcmp(v, "false") != 0 && std::strcmp(v, "off") != 0;
  }
  if (e == "suff" && val) {
    const std::string_view v(val);
    l->follow = v == "space"     ? LabelFollow::space
                : v == "nothing" ? LabelFollow::nothing
                                 : LabelFollow::tab;
  }
  return true;
}

void numbering_end(void* user, const XmlTag& tag) {
  auto* n = static_cast<DocxNumbering*>(user);
  if (tag.ns != XmlNs::w) return;
  const std::string_view e = tag.local;
  if (e == "abstractNum") n->at_abstract = -1;
  if (e == "num") n->at_num = -1;
  if (e == "lvl") n->at_level = -1;
  if (e == "lvlOverride") n->at_override = -1;
  if (e == "style") n->at_style.clear();
  if (e == "numPr") n->in_style_numpr = false;
}

void no_text(void*, const char*, std::size_t) {}

// The numbering of a paragraph style over its bases: the nearest one that says it.
DocxNumPr style_numbering(const DocxNumbering& n, const std::string& style) {
  DocxNumPr r;
  std::string at = style;
  for (int depth = 0; depth < kMaxStyleChain && !at.empty(); ++depth) {
    const auto it = n.styles.find(at);
    if (it == n.styles.end()) break;
    if (!r.has_num && it->second.num.has_num) {
      r.num_id = it->second.num.num_id;
      r.has_num = true;
    }
    if (r.ilvl < 0) r.ilvl = it->second.num.ilvl;
    at = it->second.based_on;
  }
  return r;
}

}  // namespace

XmlEvents docx_numbering_events(DocxNumbering* numbering) {
  return {numbering, numbering_start, numbering_end, no_text};
}

void docx_numbering_resolve(DocxNumbering* n) {
  std::map<std::string, std::size_t> abstract_index;
  for (std::size_t i = 0; i < n->abstracts.size(); ++i)
    abstract_index.emplace(n->abstracts[i].id, i);
  n->num_index.clear();
  for (std::size_t i = 0; i < n->nums.size(); ++i) {
    DocxNumbering::Num& num = n->nums[i];
    const auto a = abstract_index.find(num.abstract_id);
    // An instance of no definition numbers in decimal on a counter of its own.
    num.list = a != abstract_index.end() ? n->abstracts[a->second].list : decimal_list();
    num.abstract = a != abstract_index.end() ? a->second : n->abstracts.size();
    num.counter = a != abstract_index.end() ? a->second : n->abstracts.size() + i;
    num.restarts = 0;
    for (std::size_t k = 0; k < std::size_t(kListLevels); ++k) {
      if (num.has_level[k]) num.list.levels[k] = num.override_level[k];
      if (num.has_start[k]) {
        num.list.levels[k].start = num.start_override[k];
        num.restarts = std::uint16_t(num.restarts | 1u << k);
      }
    }
    n->num_index.emplace(num.id, i);
  }
}

void docx_paragraph_label(const DocxNumbering& numbering, DocxListCounting* counting, int story,
                          const DocxNumPr& para, const std::string& style,
                          std::vector<std::uint16_t>* out) {
  if (story < 0 || story >= kStoryCount) return;
  DocxNumPr r = para;
  if (!r.has_num || r.ilvl < 0) {
    const DocxNumPr s = style_numbering(numbering, style);
    if (!r.has_num) {
      r.num_id = s.num_id;
      r.has_num = s.has_num;
    }
    if (r.ilvl < 0) r.ilvl = s.ilvl;
  }
  if (!r.has_num) return;
  const auto it = numbering.num_index.find(r.num_id);
  if (it == numbering.num_index.end()) return;  // numId 0 and unknown instances: no list
  const DocxNumbering::Num& num = numbering.nums[it->second];
  std::vector<ListCounters>& counters = counting->counters[std::size_t(story)];
  std::vector<std::uint16_t>& restarts = counting->restarts[std::size_t(story)];
  if (counters.size() <= num.counter) counters.resize(num.counter + 1);
  if (restarts.size() < numbering.nums.size()) restarts.resize(numbering.nums.size(), 0xFFFF);
  int level = r.ilvl >= 0 && r.ilvl < kListLevels ? r.ilvl : 0;
  if (r.ilvl < 0 && num.abstract < numbering.abstracts.size() && !style.empty()) {
    // A style that numbers without a level: the level that names the style.
    const auto& styles = numbering.abstracts[num.abstract].level_style;
    for (int k = 0; k < kListLevels; ++k) {
      if (styles[std::size_t(k)] == style) level = k;
    }
  }
  ListCounters& c = counters[num.counter];
  // A start override starts its level again the first time the instance numbers it.
  std::uint16_t& pending = restarts[it->second];
  if (pending == 0xFFFF) pending = num.restarts;
  if (pending & (1u << level)) {
    pending = std::uint16_t(pending & ~(1u << level));
    c.used[std::size_t(level)] = false;
  }
  next_label(num.list, &c, level, out);
}

// ---- OpenDocument ----

namespace {

NumberFormat odf_format(const char* f) {
  if (!f) return NumberFormat::decimal;
  const std::string_view v(f);
  if (v.empty()) return NumberFormat::none;
  if (v == "a") return NumberFormat::lower_letter;
  if (v == "A") return NumberFormat::upper_letter;
  if (v == "i") return NumberFormat::lower_roman;
  if (v == "I") return NumberFormat::upper_roman;
  return NumberFormat::decimal;  // "1", and the formats outside the model
}

// A list style numbers only the levels it defines.
ListDefinition unnumbered_list() {
  ListDefinition d;
  for (ListLevel& level : d.levels) level.format = NumberFormat::none;
  return d;
}

ListLevel* odf_open_level(OdfLists* l) {
  if (l->at_level < 0) return nullptr;
  if (l->in_outline) return &l->outline.levels[std::size_t(l->at_level)];
  if (l->at_style.empty()) return nullptr;
  return &l->styles[l->at_style].levels[std::size_t(l->at_level)];
}

bool odf_style_start(void* user, const XmlTag& tag) {
  auto* l = static_cast<OdfLists*>(user);
  const std::string_view e = tag.local;
  if (tag.ns == XmlNs::office) {
    // The styles only: the body is read by the text reader.
    return e != "body" && e != "master-styles" && e != "meta" && e != "settings" &&
           e != "scripts" && e != "font-face-decls";
  }
  if (tag.ns == XmlNs::style && e == "style") {
    const char* name = xml_attr(tag, XmlNs::style, "name");
    const char* list = xml_attr(tag, XmlNs::style, "list-style-name");
    if (name && list && l->paragraph_lists.size() < kMaxXmlLists) l->paragraph_lists[name] = list;
    return false;
  }
  if (tag.ns == XmlNs::text && (e == "list-style" || e == "outline-style")) {
    const char* name = xml_attr(tag, XmlNs::style, "name");
    if (e == "outline-style") {
      l->in_outline = true;
      l->has_outline = true;
      l->outline = unnumbered_list();
      return true;
    }
    if (!name || l->styles.size() >= kMaxXmlLists) return false;
    l->at_style = name;
    l->styles[l->at_style] = unnumbered_list();
    return true;
  }
  if (tag.ns == XmlNs::text && (e == "list-level-style-number" || e == "outline-level-style" ||
                                e == "list-level-style-bullet" || e == "list-level-style-image")) {
    const std::int64_t level = number_attr(tag, XmlNs::text, "level", 0) - 1;
    l->at_level = level >= 0 && level < kListLevels ? int(level) : -1;
    ListLevel* lv = odf_open_level(l);
    if (!lv) return false;
    *lv = ListLevel{};
    if (e == "list-level-style-bullet" || e == "list-level-style-image") {
      lv->format = NumberFormat::bullet;
      const char* c = xml_attr(tag, XmlNs::text, "bullet-char");
      lv->text = e == "list-level-style-image" ? std::vector<std::uint16_t>{0x2022}
                                               : level_text(c ? c : "\xE2\x80\xA2", false);
      return true;
    }
    lv->format = odf_format(xml_attr(tag, XmlNs::style, "num-format"));
    lv->start = number_attr(tag, XmlNs::text, "start-value", 1);
    const int shown = int(std::clamp<std::int64_t>(
        number_attr(tag, XmlNs::text, "display-levels", 1), 1, l->at_level + 1));
    const char* prefix = xml_attr(tag, XmlNs::style, "num-prefix");
    const char* suffix = xml_attr(tag, XmlNs::style, "num-suffix");
    lv->text = level_text(prefix ? prefix : "", false);
    // A level without a number shows its prefix and suffix alone.
    for (int k = l->at_level + 1 - shown; k <= l->at_level && lv->format != NumberFormat::none;
         ++k) {
      if (k > l->at_level + 1 - shown) lv->text.push_back('.');
      lv->text.push_back(std::uint16_t(k));
    }
    const std::vector<std::uint16_t> after = level_text(suffix ? suffix : "", false);
    lv->text.insert(lv->text.end(), after.begin(), after.end());
    if (lv->text.size() > kMaxLevelText) lv->text.resize(kMaxLevelText);
    return true;
  }
  if (tag.ns == XmlNs::style && e == "list-level-label-alignment") {
    if (ListLevel* lv = odf_open_level(l)) {
      const char* f = xml_attr(tag, XmlNs::text, "label-followed-by");
      const std::string_view v = f ? f : "listtab";
      lv->follow = v == "space"     ? LabelFollow::space
                   : v == "nothing" ? LabelFollow::nothing
                                    : LabelFollow::tab;
    }
  }
  return true;
}

void odf_style_end(void* user, const XmlTag& tag) {
  auto* l = static_cast<OdfLists*>(user);
  if (tag.ns != XmlNs::text) return;
  const std::string_view e = tag.local;
  if (e == "list-style") l->at_style.clear();
  if (e == "outline-style") l->in_outline = false;
  if (e == "list-level-style-number" || e == "outline-level-style" ||
      e == "list-level-style-bullet" || e == "list-level-style-image") {
    l->at_level = -1;
  }
}

// A level that shows nothing at all: no label, and nothing after it either.
bool unnumbered(const ListLevel& l) { return l.format == NumberFormat::none && l.text.empty(); }

const ListDefinition* odf_style(const OdfLists& lists, const std::string& name) {
  const auto it = lists.styles.find(name);
  return it == lists.styles.end() ? nullptr : &it->second;
}

}  // namespace

XmlEvents odf_list_style_events(OdfLists* lists) {
  return {lists, odf_style_start, odf_style_end, no_text};
}

void odf_list_start(const OdfLists& lists, OdfListCounting* c, const XmlTag& tag) {
  (void)lists;
  OdfListCounting::Open o{std::string(), 0, 0};
  const char* style = xml_attr(tag, XmlNs::text, "style-name");
  if (!c->open.empty()) {
    // A list inside a list item is the next level of the same list.
    const OdfListCounting::Open& outer = c->open.back();
    o = {style ? std::string(style) : outer.style, std::min(outer.level + 1, kListLevels - 1),
         outer.counters};
  } else {
    o.style = style ? style : "";
    const char* id = xml_attr(tag, XmlNs::other, "id");
    const char* continued = xml_attr(tag, XmlNs::text, "continue-list");
    const char* numbering = xml_attr(tag, XmlNs::text, "continue-numbering");
    std::size_t found = c->counters.size();
    if (continued) {
      const auto it = c->by_id.find(continued);
      if (it != c->by_id.end()) found = it->second;
    } else if (numbering && std::string_view(numbering) == "true") {
      const auto it = c->by_style.find(o.style);
      if (it != c->by_style.end()) found = it->second;
    }
    if (found == c->counters.size()) {
      if (c->counters.size() >= kMaxOdfCounters)
        found = c->counters.size() - 1;
      else
        c->counters.emplace_back();
    }
    o.counters = found;
    if (id && c->by_id.size() < kMaxOdfCounters) c->by_id[id] = found;
    if (c->by_style.size() < kMaxOdfCounters) c->by_style[o.style] = found;
  }
  if (c->open.size() < kMaxOpenLists)
    c->open.push_back(std::move(o));
  else
    c->open.push_back(c->open.back());
  c->label_due = false;
}

void odf_list_end(OdfListCounting* c) {
  if (!c->open.empty()) c->open.pop_back();
  c->label_due = false;
}

void odf_list_item_start(OdfListCounting* c, const XmlTag& tag) {
  c->item_start = number_attr(tag, XmlNs::text, "start-value", -1);
  c->label_due = !c->open.empty();
}

void odf_paragraph_label(const OdfLists& lists, OdfListCounting* c, const XmlTag& tag,
                         std::vector<std::uint16_t>* out) {
  if (tag.local == "h" && c->open.empty()) {
    // A heading is numbered by the outline style, at its outline level.
    const std::int64_t level = number_attr(tag, XmlNs::text, "outline-level", 1) - 1;
    if (level < 0 || level >= kListLevels) return;
    if (!lists.has_outline || unnumbered(lists.outline.levels[std::size_t(level)])) return;
    next_label(lists.outline, &c->outline, int(level), out);
    return;
  }
  if (!c->label_due || c->open.empty() || c->counters.empty()) return;
  c->label_due = false;
  const OdfListCounting::Open& o = c->open.back();
  const ListDefinition* def = odf_style(lists, o.style);
  if (!def) {
    // A list without a style of its own takes the paragraph style's.
    const char* pstyle = xml_attr(tag, XmlNs::text, "style-name");
    const auto it = pstyle ? lists.paragraph_lists.find(pstyle) : lists.paragraph_lists.end();
    if (it != lists.paragraph_lists.end()) def = odf_style(lists, it->second);
  }
  if (!def || unnumbered(def->levels[std::size_t(o.level)])) return;
  ListCounters& counters = c->counters[std::min(o.counters, c->counters.size() - 1)];
  if (c->item_start >= 0) {
    // The item's own start: the level counts on from it.
    counters.used[std::size_t(o.level)] = true;
    counters.value[std::size_t(o.level)] = c->item_start - 1;
    c->item_start = -1;
  }
  next_label(*def, &counters, o.level, out);
}

}  // namespace dorvex
