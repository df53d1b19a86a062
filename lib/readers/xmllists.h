// Lists of the XML documents, in the list model of the Word reader (listlabels): the numbering
// of WordprocessingML (numbering.xml, with the paragraph styles' numbering from styles.xml) and
// the list styles and outline numbering of OpenDocument text.
#ifndef DORVEX_XMLLISTS_H
#define DORVEX_XMLLISTS_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "listlabels.h"
#include "xmltext.h"

namespace dorvex {

// ---- WordprocessingML ----

// A paragraph's numbering as its own properties or its style say: numId ("0" or empty: none)
// and level (-1: not said).
struct DocxNumPr {
  std::string num_id;
  int ilvl = -1;
  bool has_num = false;
};

struct DocxNumbering {
  struct Abstract {
    ListDefinition list = {};
    std::string id;
    std::array<std::string, kListLevels> level_style;  // the paragraph style each level numbers
  };
  struct Num {
    std::string id;
    std::string abstract_id;
    std::size_t abstract = 0;    // its definition (abstracts.size(): none)
    ListDefinition list = {};    // the abstract's levels with this instance's overrides
    std::size_t counter = 0;     // the counter set: the abstract's, shared by its instances
    std::uint16_t restarts = 0;  // levels a start override starts again at first use
    std::array<std::int64_t, kListLevels> start_override{};
    std::array<bool, kListLevels> has_start{}, has_level{};
    std::array<ListLevel, kListLevels> override_level{};
  };
  struct Style {
    std::string based_on;
    DocxNumPr num;
  };
  std::vector<Abstract> abstracts;
  std::vector<Num> nums;
  std::map<std::string, std::size_t> num_index;
  std::map<std::string, Style> styles;  // paragraph styles by id
  // Where the parse stands: the open definition, instance, level or style (-1 or empty: none).
  int at_abstract = -1, at_num = -1, at_level = -1, at_override = -1;
  std::string at_style;
  bool in_style_numpr = false;
};

// Element handlers for numbering.xml and styles.xml (both fill the same tables; the parts need
// not come in any order). Call docx_numbering_resolve once both are read.
XmlEvents docx_numbering_events(DocxNumbering* numbering);
void docx_numbering_resolve(DocxNumbering* numbering);

// The counters of one document, per story (footnotes and headers count on their own).
struct DocxListCounting {
  std::array<std::vector<ListCounters>, kStoryCount> counters;
  std::array<std::vector<std::uint16_t>, kStoryCount> restarts;
};

// Appends the label of a paragraph with numbering para (its own) and style (its style's id,
// may be empty) in story; nothing when it is not numbered.
void docx_paragraph_label(const DocxNumbering& numbering, DocxListCounting* counting, int story,
                          const DocxNumPr& para, const std::string& style,
                          std::vector<std::uint16_t>* out);

// ---- OpenDocument ----

struct OdfLists {
  std::map<std::string, ListDefinition> styles;  // list styles by name
  ListDefinition outline = {};                   // the outline style, for numbered headings
  bool has_outline = false;
  std::map<std::string, std::string> paragraph_lists;  // paragraph style -> its list style
  // Where the parse stands: the list style and level being read.
  std::string at_style;
  int at_level = -1;
  bool in_outline = false;
};

// Element handlers that take the list styles, the outline style and the paragraph styles'
// list styles from office:styles and office:automatic-styles (styles.xml, content.xml).
XmlEvents odf_list_style_events(OdfLists* lists);

// The list state of a reading of OpenDocument text: the open text:list elements, the counters
// of each list (a list continued by text:continue-numbering or text:continue-list counts on),
// and the outline.
struct OdfListCounting {
  struct Open {
    std::string style;  // the list style in force
    int level;          // 0 for the outermost list
    std::size_t counters;
  };
  std::vector<Open> open;
  std::vector<ListCounters> counters;
  std::map<std::string, std::size_t> by_id;     // xml:id of a list -> its counters
  std::map<std::string, std::size_t> by_style;  // the last list of each style -> its counters
  ListCounters outline;
  std::int64_t item_start = -1;  // text:start-value of the open list item
  bool label_due = false;        // the open list item's first paragraph is still to come
};

void odf_list_start(const OdfLists& lists, OdfListCounting* c, const XmlTag& tag);
void odf_list_end(OdfListCounting* c);
void odf_list_item_start(OdfListCounting* c, const XmlTag& tag);
// The label of a paragraph (text:p) or heading (text:h) that starts now.
void odf_paragraph_label(const OdfLists& lists, OdfListCounting* c, const XmlTag& tag,
                         std::vector<std::uint16_t>* out);

}  // namespace dorvex

#endif  // DORVEX_XMLLISTS_H
