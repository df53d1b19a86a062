#include "xmltext.h"

#include <expat.h>

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dorvex {

namespace {

struct KnownNs {
  std::string_view uri;
  XmlNs ns;
};

constexpr KnownNs kKnownNs[] = {
    {"http://schemas.openxmlformats.org/wordprocessingml/2006/main", XmlNs::w},
    {"http://purl.oclc.org/ooxml/wordprocessingml/main", XmlNs::w},
    {"http://schemas.microsoft.com/office/word/2003/wordml", XmlNs::w},
    {"http://schemas.openxmlformats.org/markup-compatibility/2006", XmlNs::mc},
    {"http://schemas.openxmlformats.org/officeDocument/2006/relationships", XmlNs::r},
    {"http://purl.oclc.org/ooxml/officeDocument/relationships", XmlNs::r},
    {"http://schemas.openxmlformats.org/package/2006/relationships", XmlNs::rels},
    {"http://schemas.openxmlformats.org/package/2006/content-types", XmlNs::types},
    {"http://schemas.microsoft.com/office/2006/xmlPackage", XmlNs::pkg},
    {"http://schemas.microsoft.com/aml/2001/core", XmlNs::aml},
    {"urn:oasis:names:tc:opendocument:xmlns:office:1.0", XmlNs::office},
    {"urn:oasis:names:tc:opendocument:xmlns:text:1.0", XmlNs::text},
    {"urn:oasis:names:tc:opendocument:xmlns:table:1.0", XmlNs::table},
    {"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0", XmlNs::draw},
    {"urn:oasis:names:tc:opendocument:xmlns:style:1.0", XmlNs::style},
    {"urn:oasis:names:tc:opendocument:xmlns:meta:1.0", XmlNs::meta},
    {"http://purl.org/dc/elements/1.1/", XmlNs::dc},
    {"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0", XmlNs::svg},
    {"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0", XmlNs::manifest},
};

XmlNs find_ns(std::string_view uri) {
  if (uri.empty()) return XmlNs::none;  // an undeclaration
  for (const KnownNs& k : kKnownNs) {
    if (k.uri == uri) return k.ns;
  }
  return XmlNs::other;
}

// The prefix and local part of a qualified name (as expat hands it: ended by a null); no
// prefix: "". One pass: every element's name comes through here.
void split_qname(const char* qname, std::string_view* prefix, std::string_view* local) {
  const char* colon = nullptr;
  const char* p = qname;
  for (; *p != '\0'; ++p) {
    if (*p == ':' && !colon) colon = p;
  }
  if (!colon) {
    *prefix = std::string_view();
    *local = std::string_view(qname, std::size_t(p - qname));
    return;
  }
  *prefix = std::string_view(qname, std::size_t(colon - qname));
  *local = std::string_view(colon + 1, std::size_t(p - colon - 1));
}

// Prefixes are a few letters: a loop beats a call.
bool same_prefix(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Takes up the xmlns attributes of an element at depth.
void declare(XmlScope& scope, const char** attrs, int depth) {
  for (const char** a = attrs; a && a[0]; a += 2) {
    if (std::strncmp(a[0], "xmlns", 5) != 0) continue;
    const std::string_view name(a[0]);
    if (name.size() == 5) {
      scope.bindings.push_back({std::string(), find_ns(a[1]), depth});
    } else if (name[5] == ':') {
      scope.bindings.push_back({std::string(name.substr(6)), find_ns(a[1]), depth});
    } else {
      continue;
    }
    scope.cache_valid = false;
  }
}

void undeclare(XmlScope& scope, int depth) {
  while (!scope.bindings.empty() && scope.bindings.back().depth >= depth) {
    scope.bindings.pop_back();
    scope.cache_valid = false;
  }
}

XmlTag make_tag(XmlScope& scope, const char* name, const char** attrs) {
  std::string_view prefix, local;
  split_qname(name, &prefix, &local);
  return {xml_prefix_ns(scope, prefix), local, attrs, &scope};
}

}  // namespace

XmlNs xml_prefix_ns(XmlScope& scope, std::string_view prefix) {
  if (scope.cache_valid && same_prefix(scope.cached_prefix, prefix)) return scope.cached_ns;
  // A prefix without a declaration ("xml", bound by the standard itself, or an undeclared one)
  // is no namespace these readers know; no prefix is no namespace until a default is declared.
  XmlNs ns = prefix.empty() ? XmlNs::none : XmlNs::other;
  for (auto b = scope.bindings.rbegin(); b != scope.bindings.rend(); ++b) {
    if (b->prefix == prefix) {
      ns = b->ns;
      break;
    }
  }
  scope.cached_prefix.assign(prefix);
  scope.cached_ns = ns;
  scope.cache_valid = true;
  return ns;
}

const char* xml_attr(const XmlTag& tag, XmlNs ns, std::string_view local) {
  for (const char** a = tag.attrs; a && a[0]; a += 2) {
    std::string_view prefix, name;
    split_qname(a[0], &prefix, &name);
    if (name != local) continue;
    if (prefix.empty() ? ns == XmlNs::none
                       : tag.scope && xml_prefix_ns(*tag.scope, prefix) == ns) {
      return a[1];
    }
  }
  return nullptr;
}

// expat's callbacks, with the reading as their user data.
struct XmlParser {
  static XmlReading& of(void* user) { return *static_cast<XmlReading*>(user); }

  static void stop(XmlReading& r, const char* why) {
    auto p = static_cast<XML_Parser>(r.parser_);
    r.limit_ = true;
    r.error_ = "line " + std::to_string(XML_GetCurrentLineNumber(p)) + ": " + why;
    XML_StopParser(p, XML_FALSE);
  }

  static void start(void* user, const XML_Char* name, const XML_Char** attrs) {
    XmlReading& r = of(user);
    if (++r.depth_ > kMaxXmlDepth) {
      stop(r, "elements nested deeper than this reader's limit");
      return;
    }
    if (r.skip_from_ != 0) return;
    declare(r.scope_, attrs, r.depth_);
    if (!r.events_.start(r.events_.user, make_tag(r.scope_, name, attrs))) {
      r.skip_from_ = r.depth_;
    }
  }

  static void end(void* user, const XML_Char* name) {
    XmlReading& r = of(user);
    const int depth = r.depth_--;
    if (r.skip_from_ != 0) {
      if (depth != r.skip_from_) return;
      r.skip_from_ = 0;  // its start was reported, its end is not
    } else {
      r.events_.end(r.events_.user, make_tag(r.scope_, name, nullptr));
    }
    undeclare(r.scope_, depth);
  }

  static void text(void* user, const XML_Char* s, int len) {
    XmlReading& r = of(user);
    if (r.skip_from_ == 0 && len > 0) r.events_.text(r.events_.user, s, std::size_t(len));
  }

  // No document of these formats declares a document type; one that does is refused before
  // any of its declarations (entities above all) can take effect.
  static void doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    stop(of(user), "document type declarations are not read");
  }
};

XmlReading::XmlReading(const XmlEvents& events) : events_(events) {
  XML_Parser p = XML_ParserCreate(nullptr);
  parser_ = p;
  if (!p) return;
  XML_SetUserData(p, this);
  XML_SetElementHandler(p, XmlParser::start, XmlParser::end);
  XML_SetCharacterDataHandler(p, XmlParser::text);
  XML_SetStartDoctypeDeclHandler(p, XmlParser::doctype);
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlReading::~XmlReading() {
  if (parser_) XML_ParserFree(static_cast<XML_Parser>(parser_));
}

bool XmlReading::feed(const char* data, std::size_t n, bool last) {
  auto p = static_cast<XML_Parser>(parser_);
  if (!p) {
    if (error_.empty()) error_ = "out of memory";
    return false;
  }
  if (!error_.empty()) return false;
  // expat takes an int length: large blocks go in slices.
  constexpr std::size_t kSlice = std::size_t(1) << 30;
  do {
    const std::size_t k = n < kSlice ? n : kSlice;
    const bool final_slice = last && k == n;
    if (XML_Parse(p, data, int(k), final_slice) != XML_STATUS_OK) {
      if (error_.empty()) {
        error_ = "line " + std::to_string(XML_GetCurrentLineNumber(p)) + ": " +
                 XML_ErrorString(XML_GetErrorCode(p));
      }
      return false;
    }
    data += k;
    n -= k;
  } while (n > 0);
  return true;
}

namespace {

constexpr std::uint16_t kParagraphMark = 13, kCellMark = 7, kSpace = 0x20,
                        kZeroWidthNoBreak = 0xFEFF;

void flush_run(StoryWriter& w) {
  if (w.run_len == 0) return;
  if (w.story == kMainStory) {
    w.paragraphs.put_run(w.run.data(), w.run_len);
  } else {
    auto& units = w.held[std::size_t(w.story)].units;
    units.insert(units.end(), w.run.data(), w.run.data() + w.run_len);
  }
  w.run_len = 0;
}

inline void put(StoryWriter& w, std::uint16_t u) {
  if (w.run_len == w.run.size()) flush_run(w);
  w.run[w.run_len++] = u;
}

StoryWriter::Held& current(StoryWriter& w) { return w.held[std::size_t(w.story)]; }

void settle_pending(StoryWriter& w) {
  StoryWriter::Held& h = current(w);
  if (!h.pending_end) return;
  h.pending_end = false;
  h.has_text = false;
  h.open = false;
  h.at_space = true;
  put(w, kParagraphMark);
}

#if defined(__SSE2__)
// Widens the 16 bytes at p into out when each is printable ASCII or a space that stays as it is
// (where spaces collapse: none after a space); otherwise writes nothing and returns false.
inline bool widen_plain16(const unsigned char* p, std::uint16_t* out, bool collapse, bool& at_space) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // A signed compare catches controls and, as negative bytes, everything from 0x80.
  if (_mm_movemask_epi8(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20))) != 0) return false;
  if (collapse) {
    const unsigned spaces = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))));
    if (spaces & ((spaces << 1) | (at_space ? 1u : 0u))) return false;
    at_space = (spaces >> 15) != 0;
  } else {
    at_space = false;
  }
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
  return true;
}
#endif

}  // namespace

int story_switch(StoryWriter& w, int story) {
  const int previous = w.story;
  if (story != previous) {
    flush_run(w);
    w.story = story;
  }
  return previous;
}

void story_unit(StoryWriter& w, std::uint16_t unit) {
  settle_pending(w);
  StoryWriter::Held& h = current(w);
  h.has_text = h.open = true;
  h.at_space = false;
  put(w, unit);
}

void story_text(StoryWriter& w, const char* s, std::size_t n, Spaces spaces) {
  if (n == 0) return;
  settle_pending(w);
  StoryWriter::Held& h = current(w);
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  const unsigned char* end = p + n;
  const bool collapse = spaces == Spaces::collapse;
  bool at_space = h.at_space;
  while (p < end) {
    // Room for a surrogate pair at every step: one test per character, no call.
    if (w.run.size() - w.run_len < 2) flush_run(w);
    std::uint16_t* out = w.run.data() + w.run_len;
    std::uint16_t* const out_end = w.run.data() + w.run.size() - 1;
    // Text is read 16 bytes at a time while they are plain; after a block that is not, the
    // next 16 bytes go one by one, so text of other scripts pays little for the attempts.
#if defined(__SSE2__)
    std::size_t one_by_one = 0;
#endif
    while (p < end && out < out_end) {
#if defined(__SSE2__)
      if (one_by_one == 0) {
        if (end - p >= 16 && out_end - out >= 16 && widen_plain16(p, out, collapse, at_space)) {
          p += 16;
          out += 16;
          continue;
        }
        one_by_one = 16;
      }
      --one_by_one;
#endif
      unsigned c = *p;
      if (c >= 0x80) break;
      if (c <= kSpace) {
        // expat passes only tab, line feed and carriage return below the space.
        if (collapse) {
          ++p;
          if (at_space) continue;
          at_space = true;
          *out++ = kSpace;
          continue;
        }
        if (c != 9) c = kSpace;
      }
      at_space = false;
      *out++ = static_cast<std::uint16_t>(c);
      ++p;
    }
    w.run_len = static_cast<std::size_t>(out - w.run.data());
    if (p == end || *p < 0x80) continue;
    // expat hands over well-formed UTF-8 only.
    unsigned c = *p;
    unsigned value;
    std::size_t len;
    if (c < 0xE0) {
      value = c & 0x1F, len = 2;
    } else if (c < 0xF0) {
      value = c & 0x0F, len = 3;
    } else {
      value = c & 0x07, len = 4;
    }
    if (std::size_t(end - p) < len) break;
    for (std::size_t i = 1; i < len; ++i) value = (value << 6) | (p[i] & 0x3F);
    p += len;
    at_space = false;
    if (w.run.size() - w.run_len < 2) flush_run(w);
    if (value >= 0x10000) {
      w.run[w.run_len++] = static_cast<std::uint16_t>(0xD800 | ((value - 0x10000) >> 10));
      w.run[w.run_len++] = static_cast<std::uint16_t>(0xDC00 | (value & 0x3FF));
    } else {
      w.run[w.run_len++] = static_cast<std::uint16_t>(value);
    }
  }
  h.at_space = at_space;
  h.has_text = h.open = true;
}

void story_paragraph_start(StoryWriter& w) {
  settle_pending(w);
  StoryWriter::Held& h = current(w);
  if (h.has_text) {
    put(w, kParagraphMark);
    h.has_text = h.open = false;
  }
  h.at_space = true;
}

void story_paragraph_end(StoryWriter& w) { current(w).pending_end = true; }

void story_cell_start(StoryWriter& w) { settle_pending(w); }

void story_cell_end(StoryWriter& w) {
  StoryWriter::Held& h = current(w);
  // An empty cell's mark right after another mark would read as the end of the row: a unit the
  // paragraphs drop keeps them apart.
  if (!h.has_text) put(w, kZeroWidthNoBreak);
  h.pending_end = false;
  h.has_text = false;
  h.open = true;
  h.at_space = true;
  put(w, kCellMark);
}

void story_row_end(StoryWriter& w) {
  settle_pending(w);
  current(w).has_text = false;
  current(w).open = true;
  put(w, kCellMark);
}

void story_finish(StoryWriter& w) {
  story_switch(w, kMainStory);
  // Every story ends with a paragraph mark, as in a Word file: a table's last row mark, or
  // text with no paragraph around it, never runs into the next story's first line.
  if (w.held[kMainStory].open) w.held[kMainStory].pending_end = true;
  settle_pending(w);
  flush_run(w);
  w.paragraphs.end_story();
  for (int s = kMainStory + 1; s < kStoryCount; ++s) {
    StoryWriter::Held& h = w.held[std::size_t(s)];
    if (h.pending_end || h.open) h.units.push_back(kParagraphMark);
    const std::uint16_t* u = h.units.data();
    std::size_t left = h.units.size();
    while (left > 0) {
      const std::size_t k = left < kBlockUnits ? left : kBlockUnits;
      w.paragraphs.put_run(u, k);
      u += k;
      left -= k;
    }
    w.paragraphs.end_story();
    h = StoryWriter::Held{};
  }
}

}  // namespace dorvex
