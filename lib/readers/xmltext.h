// XML documents: expat with namespaces, hardened (no document type declaration, no entities, a
// nesting limit), and the stories of a document (main text, footnotes, headers and footers,
// comments, endnotes) handed to the Word reader's paragraphs in the Word reader's order.
#ifndef DORVEX_XMLTEXT_H
#define DORVEX_XMLTEXT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wordtext.h"

namespace dorvex {

// Limits of the XML reading. Real documents nest elements a few dozen deep; expat keeps every
// open element, so deeper nesting is refused rather than followed.
constexpr int kMaxXmlDepth = 512;

// The namespaces the readers look at; every other one is XmlNs::other.
enum class XmlNs : std::uint8_t {
  none, other,
  w,        // WordprocessingML (transitional, strict) and Word 2003 XML
  mc,       // markup compatibility (AlternateContent)
  r,        // relationship references of OOXML parts
  rels,     // package relationships
  types,    // [Content_Types].xml
  pkg,      // Word's flat XML package
  aml,      // Word 2003 annotations (comments, revisions)
  office, text, table, draw, style, meta, dc, svg, manifest
};

// The namespace prefixes in scope: expat's namespace processing (expanded names, a hash per
// prefixed attribute) took half the parse time, and these formats need only a prefix's URI.
struct XmlScope {
  struct Binding {
    std::string prefix;  // "" for the default namespace
    XmlNs ns;
    int depth;  // of the element that declared it
  };
  std::vector<Binding> bindings;
  // The last prefix looked up, while the bindings stay as they were.
  std::string cached_prefix;
  XmlNs cached_ns = XmlNs::none;
  bool cache_valid = false;
};

// The namespace a prefix stands for; the default namespace for "" (none when undeclared); other
// for "xml" and undeclared prefixes.
XmlNs xml_prefix_ns(XmlScope& scope, std::string_view prefix);

// One element: its namespace, local name, and expat's attribute list (name, value, ..., null)
// with the qualified names as written, resolved through scope.
struct XmlTag {
  XmlNs ns;
  std::string_view local;
  const char** attrs;
  XmlScope* scope;
};

// Whether an element's name is the literal: its length first, then its bytes, all inline. The
// readers compare names by the million, where the library's comparison is a call.
inline bool name_is(std::string_view name, std::string_view literal) {
  return name.size() == literal.size() &&
         __builtin_memcmp(name.data(), literal.data(), literal.size()) == 0;
}

// The value of the attribute ns:local of tag, or null. An attribute without a prefix is in no
// namespace (XmlNs::none).
const char* xml_attr(const XmlTag& tag, XmlNs ns, std::string_view local);

// What a reader does with the elements of one part. start returns false to skip the element's
// content (its end is then not reported either). text receives character data (UTF-8) outside
// skipped elements, in pieces of any size.
struct XmlEvents {
  void* user;
  bool (*start)(void* user, const XmlTag& tag);
  void (*end)(void* user, const XmlTag& tag);
  void (*text)(void* user, const char* s, std::size_t n);
};

struct XmlParser;

// An XML part being parsed; fed in blocks. Owns its expat parser.
class XmlReading {
 public:
  explicit XmlReading(const XmlEvents& events);
  ~XmlReading();
  XmlReading(const XmlReading&) = delete;
  XmlReading& operator=(const XmlReading&) = delete;

  // Parses the next block; last says it is the final one. False once the part is found broken
  // or beyond a limit; error() then says why.
  bool feed(const char* data, std::size_t n, bool last);
  // Empty while the part reads well; else "line N: why".
  const std::string& error() const { return error_; }
  // True when the failure was a limit (depth, declarations) rather than broken XML.
  bool limit_reached() const { return limit_; }

 private:
  friend struct XmlParser;
  XmlEvents events_;
  XmlScope scope_;
  void* parser_;  // XML_Parser
  int depth_ = 0;
  int skip_from_ = 0;  // while non-zero: the depth of the element whose content is skipped
  bool limit_ = false;
  std::string error_;
};

// Where the units of a document go, story by story.
enum Story : int { kMainStory, kFootnoteStory, kHeaderStory, kCommentStory, kEndnoteStory,
                   kStoryCount };

// Characters: as they stand (OOXML) or with runs of white space collapsed to one space and none
// at a paragraph's start (OpenDocument).
enum class Spaces { keep, collapse };

// Units are gathered in a run and handed on whole: the main story straight to the Word reader's
// paragraphs, the others held until the main story has ended, as the Word reader writes them.
struct StoryWriter {
  static constexpr std::size_t kRunUnits = 16384;
  struct Held {
    std::vector<std::uint16_t> units;
    bool pending_end = false;  // a paragraph ended: its mark goes out before anything more
    bool has_text = false;     // units since the last paragraph, cell or row mark
    bool open = false;         // units since the last paragraph mark: the story owes one
    bool at_space = true;      // collapsing: the last unit was a space, or none came yet
  };
  WordParagraphs paragraphs{WordRules::document};
  std::array<Held, kStoryCount> held;
  int story = kMainStory;
  std::size_t run_len = 0;
  std::array<std::uint16_t, kRunUnits> run;
};

// Makes story the current one; returns the one it replaces.
int story_switch(StoryWriter& w, int story);
// UTF-8 character data of the current story.
void story_text(StoryWriter& w, const char* s, std::size_t n, Spaces spaces);
// One unit: a character or a Word control code (9 tab, 11 line end, 12 page break, 19-21 field
// marks, 30 and 31 hyphens).
void story_unit(StoryWriter& w, std::uint16_t unit);
// A paragraph starts; one starting inside another (a text box, a frame) ends the text before it.
void story_paragraph_start(StoryWriter& w);
void story_paragraph_end(StoryWriter& w);
// Before a table cell's content; the cell's end; a row's end (the Word reader's marks).
void story_cell_start(StoryWriter& w);
void story_cell_end(StoryWriter& w);
void story_row_end(StoryWriter& w);
// Hands over the main story, then each held story in the Word reader's order.
void story_finish(StoryWriter& w);

}  // namespace dorvex

#endif  // DORVEX_XMLTEXT_H
