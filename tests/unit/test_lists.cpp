#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "listlabels.h"
#include "wordlists.h"
#include "xmllists.h"

namespace {

std::string ascii(const std::vector<std::uint16_t>& units) {
  std::string s;
  for (std::uint16_t u : units) s += u < 0x80 ? char(u) : '?';
  return s;
}

std::string number(std::int64_t n, dorvex::NumberFormat f) {
  std::vector<std::uint16_t> out;
  dorvex::append_number(&out, n, f);
  return ascii(out);
}

TEST(ListLabels, FormatsAndNumbers) {
  using F = dorvex::NumberFormat;
  struct Case {
    std::int64_t n;
    const char *decimal, *zero, *upper_roman, *lower_roman, *upper_letter, *lower_letter, *ordinal;
  } cases[] = {
      {1, "1", "01", "I", "i", "A", "a", "1st"},
      {2, "2", "02", "II", "ii", "B", "b", "2nd"},
      {3, "3", "03", "III", "iii", "C", "c", "3rd"},
      {4, "4", "04", "IV", "iv", "D", "d", "4th"},
      {9, "9", "09", "IX", "ix", "I", "i", "9th"},
      {10, "10", "10", "X", "x", "J", "j", "10th"},
      {11, "11", "11", "XI", "xi", "K", "k", "11th"},
      {12, "12", "12", "XII", "xii", "L", "l", "12th"},
      {13, "13", "13", "XIII", "xiii", "M", "m", "13th"},
      {21, "21", "21", "XXI", "xxi", "U", "u", "21st"},
      {22, "22", "22", "XXII", "xxii", "V", "v", "22nd"},
      {26, "26", "26", "XXVI", "xxvi", "Z", "z", "26th"},
      {27, "27", "27", "XXVII", "xxvii", "AA", "aa", "27th"},
      {53, "53", "53", "LIII", "liii", "AAA", "aaa", "53rd"},
      {111, "111", "111", "CXI", "cxi", "GGGGG", "ggggg", "111th"},
      {1994, "1994", "1994", "MCMXCIV", "mcmxciv", nullptr, nullptr, "1994th"},
      {3999, "3999", "3999", "MMMCMXCIX", "mmmcmxcix", nullptr, nullptr, "3999th"},
      // Beyond what roman numerals and letters show: decimal, never megabytes of letters.
      {4000, "4000", "4000", "4000", "4000", "4000", "4000", "4000th"},
      {0, "0", "00", "0", "0", "0", "0", "0th"},
      {2147483647, "2147483647", "2147483647", "2147483647", "2147483647", "2147483647",
       "2147483647", "2147483647th"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(number(c.n, F::decimal), c.decimal);
    EXPECT_EQ(number(c.n, F::decimal_zero), c.zero);
    EXPECT_EQ(number(c.n, F::upper_roman), c.upper_roman);
    EXPECT_EQ(number(c.n, F::lower_roman), c.lower_roman);
    if (c.upper_letter) EXPECT_EQ(number(c.n, F::upper_letter), c.upper_letter);
    if (c.lower_letter) EXPECT_EQ(number(c.n, F::lower_letter), c.lower_letter);
    EXPECT_EQ(number(c.n, F::ordinal), c.ordinal);
    EXPECT_EQ(number(c.n, F::bullet), "");
    EXPECT_EQ(number(c.n, F::none), "");
  }
  EXPECT_EQ(number(832, F::lower_letter), std::string(32, 'z'));  // the longest letters
  // Circled numbers up to 20, full-width digits.
  auto units = [](std::int64_t n, F f) {
    std::vector<std::uint16_t> out;
    dorvex::append_number(&out, n, f);
    return out;
  };
  EXPECT_EQ(units(1, F::decimal_circled), std::vector<std::uint16_t>{0x2460});
  EXPECT_EQ(units(20, F::decimal_circled), std::vector<std::uint16_t>{0x2473});
  EXPECT_EQ(number(21, F::decimal_circled), "21");
  EXPECT_EQ(number(0, F::decimal_circled), "0");
  EXPECT_EQ(units(12, F::decimal_wide), (std::vector<std::uint16_t>{0xFF11, 0xFF12}));
  EXPECT_EQ(dorvex::word_number_format(18), F::decimal_circled);
  EXPECT_EQ(dorvex::word_number_format_name("decimalFullWidth", 16), F::decimal_wide);
  EXPECT_EQ(number(833, F::lower_letter), "833");
  // Word's codes and names; formats outside the model are decimal.
  EXPECT_EQ(dorvex::word_number_format(22), F::decimal_zero);
  EXPECT_EQ(dorvex::word_number_format(23), F::bullet);
  EXPECT_EQ(dorvex::word_number_format(255), F::none);
  EXPECT_EQ(dorvex::word_number_format(10), F::decimal);  // Japanese counting
  EXPECT_EQ(dorvex::word_number_format_name("lowerRoman", 10), F::lower_roman);
  EXPECT_EQ(dorvex::word_number_format_name("lowerRomanX", 11), F::decimal);
  EXPECT_EQ(dorvex::word_number_format_name("chineseCounting", 15), F::decimal);
}

TEST(ListLabels, PrivateUseBullets) {
  EXPECT_EQ(dorvex::bullet_unit(0xF0B7), 0x2022);  // Symbol
  EXPECT_EQ(dorvex::bullet_unit(0xF0A7), 0x25AA);  // Wingdings
  EXPECT_EQ(dorvex::bullet_unit(0xF0D8), 0x27A2);
  EXPECT_EQ(dorvex::bullet_unit(0xF02D), 0x2212);
  EXPECT_EQ(dorvex::bullet_unit(0xF020), 0x2022);  // unknown: a plain bullet
  EXPECT_EQ(dorvex::bullet_unit(u'o'), 0x25E6);    // the hollow bullet lists draw with o
  EXPECT_EQ(dorvex::bullet_unit(u'-'), u'-');
  EXPECT_EQ(dorvex::bullet_unit(0xF100), 0xF100);
}

dorvex::ListDefinition outline() {
  dorvex::ListDefinition d;
  const dorvex::NumberFormat formats[] = {
      dorvex::NumberFormat::upper_roman, dorvex::NumberFormat::decimal,
      dorvex::NumberFormat::lower_letter, dorvex::NumberFormat::bullet};
  for (int k = 0; k < 4; ++k) d.levels[std::size_t(k)].format = formats[k];
  d.levels[0].text = {0, '.'};
  d.levels[1].text = {0, '.', 1};
  d.levels[1].follow = dorvex::LabelFollow::space;
  d.levels[2].text = {2, ')'};
  d.levels[2].follow = dorvex::LabelFollow::nothing;
  d.levels[3].text = {0xF0B7};
  return d;
}

std::vector<std::string> labels(const dorvex::ListDefinition& d, std::vector<int> levels) {
  dorvex::ListCounters c;
  std::vector<std::string> out;
  for (int level : levels) {
    std::vector<std::uint16_t> label;
    dorvex::next_label(d, &c, level, &label);
    std::string s;
    for (std::uint16_t u : label) s += u == 0x2022 ? std::string("*") : std::string(1, char(u));
    out.push_back(s);
  }
  return out;
}

using Labels = std::vector<std::string>;

TEST(ListLabels, CountersThroughNestingAndRestarts) {
  dorvex::ListDefinition d = outline();
  EXPECT_EQ(labels(d, {0, 1, 1, 2, 2, 3, 1, 2, 0, 1}),
            (Labels{"I.\t", "I.1 ", "I.2 ", "a)", "b)", "*\t", "I.3 ", "a)", "II.\t", "II.1 "}));
  // A list entered at a deep level shows the starts of the levels above, which count as used.
  d.levels[0].start = 4;
  EXPECT_EQ(labels(d, {1, 0, 1}), (Labels{"IV.1 ", "V.\t", "V.1 "}));
  // Restarts: level 2 restarts only after level 0; it counts on through level 1.
  d.levels[2].restart_below = 1;
  EXPECT_EQ(labels(d, {0, 2, 1, 2, 0, 2}), (Labels{"IV.\t", "a)", "IV.2 ", "b)", "V.\t", "a)"}));
  // Never restarted.
  d.levels[2].restart_below = 0;
  EXPECT_EQ(labels(d, {2, 0, 2}), (Labels{"a)", "V.\t", "b)"}));
  // Legal numbering shows the levels above in decimal; none shows the text without the number.
  d.levels[1].legal = true;
  d.levels[0].start = 1;
  d.levels[3].format = dorvex::NumberFormat::none;
  d.levels[3].text = {3, '-', '-'};
  EXPECT_EQ(labels(d, {0, 1, 3}), (Labels{"I.\t", "1.1 ", "--\t"}));
  // A level outside 0..8 is numbered as level 0.
  EXPECT_EQ(labels(d, {0, 42, -1}), (Labels{"I.\t", "II.\t", "III.\t"}));
}

TEST(ListLabels, HostileStartsAndTextStayBounded) {
  dorvex::ListDefinition d;
  d.levels[0].text = {0};
  d.levels[0].start = dorvex::kMaxCounter;
  EXPECT_EQ(labels(d, {0, 0}), (Labels{"2147483647\t", "2147483647\t"}));
  d.levels[0].start = -5;
  EXPECT_EQ(labels(d, {0}), (Labels{"0\t"}));
  d.levels[0].start = INT64_MAX;
  d.levels[0].format = dorvex::NumberFormat::lower_letter;
  EXPECT_EQ(labels(d, {0}), (Labels{"2147483647\t"}));
  // Number text beyond 255 units is cut there.
  d.levels[0].text.assign(1000, 'x');
  d.levels[0].follow = dorvex::LabelFollow::nothing;
  EXPECT_EQ(labels(d, {0})[0].size(), dorvex::kMaxLevelText);
}

// ---- Word 97 list tables, built as a file holds them ----

void put16(std::string& s, std::uint32_t v) {
  s += char(v & 0xFF);
  s += char(v >> 8 & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

std::string level(std::int32_t start, int nfc, int flags, int follow, int restart,
                  const std::vector<std::uint16_t>& text) {
  std::string l;
  put32(l, std::uint32_t(start));
  l += char(nfc);
  l += char(flags);
  l.append(9, '\0');
  l += char(follow);
  l.append(8, '\0');
  l += char(0);  // no character properties
  l += char(2);  // two bytes of paragraph properties, skipped
  l += char(restart);
  l += char(0);
  l += "\x01\x02";
  put16(l, std::uint32_t(text.size()));
  for (std::uint16_t u : text) put16(l, u);
  return l;
}

std::string list_entry(std::uint32_t id, bool simple) {
  std::string e;
  put32(e, id);
  e.append(4 + 18, '\0');
  e += char(simple ? 1 : 0);
  e += '\0';
  return e;
}

std::vector<std::string> override_labels(const dorvex::WordLists& w, std::size_t o,
                                         std::vector<int> levels) {
  return labels(w.overrides.at(o), std::move(levels));
}

TEST(WordLists, DefinitionsOverridesAndDamage) {
  std::string t = "pad";  // the tables need not start the stream
  const std::uint32_t lst_at = std::uint32_t(t.size());
  put16(t, 2);
  t += list_entry(0x77, true) + list_entry(0x88, false);
  const std::uint32_t lst_len = std::uint32_t(t.size()) - lst_at;
  t += level(3, 4, 0, 1, 0, {0, ')'});
  t += level(1, 0, 0, 0, 0, {0, '.'});
  t += level(1, 1, 0x04, 2, 0, {0, '.', 1});
  for (int k = 2; k < 9; ++k) t += level(1, 0, 0, 0, 0, {0});
  const std::uint32_t lfo_at = std::uint32_t(t.size());
  put32(t, 4);
  const std::uint32_t ids[] = {0x88, 0x77, 0x88, 0x99};
  const int counts[] = {0, 0, 2, 0};
  for (int k = 0; k < 4; ++k) {
    put32(t, ids[k]);
    t.append(8, '\0');
    t += char(counts[k]);
    t.append(3, '\0');
  }
  put32(t, 0xFFFFFFFF);
  put32(t, 0xFFFFFFFF);
  put32(t, 0xFFFFFFFF);
  put32(t, 5);  // level 1 starts at 5
  put32(t, 0x11);
  put32(t, 0);  // level 0 formatted anew
  put32(t, 0x20);
  t += level(1, 23, 0, 0, 0, {0xF0B7});
  put32(t, 0xFFFFFFFF);
  const std::uint32_t lfo_len = std::uint32_t(t.size()) - lfo_at;
  auto data = reinterpret_cast<const unsigned char*>(t.data());

  dorvex::WordLists w = dorvex::parse_word_lists(data, t.size(), lst_at, lst_len, lfo_at, lfo_len);
  ASSERT_EQ(w.overrides.size(), 4u);
  EXPECT_EQ(override_labels(w, 1, {0, 0}), (Labels{"c) ", "d) "}));
  EXPECT_EQ(override_labels(w, 0, {0, 1}), (Labels{"1.\t", "1.I"}));
  EXPECT_EQ(override_labels(w, 2, {0, 1, 1}), (Labels{"*\t", "1.V", "1.VI"}));
  // Overrides of one list count together; only the one with a start-at starts anew.
  EXPECT_EQ(w.counter[0], w.counter[2]);
  EXPECT_NE(w.counter[0], w.counter[1]);
  EXPECT_EQ(w.restarts[0], 0);
  EXPECT_EQ(w.restarts[2], 1 << 1);
  // An override of a list that does not exist numbers in decimal, on its own counter.
  EXPECT_EQ(override_labels(w, 3, {0, 1}), (Labels{"1.\t", "1.\t"}));
  EXPECT_NE(w.counter[3], w.counter[0]);

  // Cut anywhere, the tables give what they hold and never read past the end.
  for (std::size_t cut = 0; cut <= t.size(); ++cut) {
    std::vector<unsigned char> part(data, data + cut);
    dorvex::WordLists p =
        dorvex::parse_word_lists(part.data(), part.size(), lst_at, lst_len, lfo_at, lfo_len);
    ASSERT_EQ(p.overrides.size(), p.counter.size());
    ASSERT_LE(p.overrides.size(), 4u);
    for (const auto& d : p.overrides) {
      for (const auto& l : d.levels) ASSERT_LE(l.text.size(), dorvex::kMaxLevelText);
    }
  }
  // Counts far beyond the tables: only what the bytes hold is read.
  std::string big = t;
  big[lst_at] = char(0xFF);
  big[lst_at + 1] = char(0x7F);
  big[lfo_at + 3] = char(0x7F);
  auto bdata = reinterpret_cast<const unsigned char*>(big.data());
  dorvex::WordLists b =
      dorvex::parse_word_lists(bdata, big.size(), lst_at, lst_len, lfo_at, lfo_len);
  EXPECT_LE(b.overrides.size(), (lfo_len - 4) / 16);
  EXPECT_TRUE(dorvex::parse_word_lists(bdata, big.size(), lst_at, 0xFFFFFFF0u, 0xFFFFFFF0u, 100)
                  .overrides.empty());
}

TEST(WordLists, Word6Autonumbers) {
  auto anld = [](int nfc, const std::string& before, const std::string& after, int start) {
    std::string a(52, '\0');
    a[0] = char(nfc);
    a[1] = char(before.size());
    a[2] = char(before.size() + after.size());
    a[10] = char(start);
    std::string text = before + after;
    for (std::size_t k = 0; k < text.size(); ++k) a[20 + k] = text[k];
    return a;
  };
  auto label = [&](const std::string& a, std::size_t n) {
    dorvex::ListLevel l;
    bool higher = true;
    if (!dorvex::parse_word6_anld(reinterpret_cast<const unsigned char*>(a.data()), n, nullptr, &l,
                                  &higher)) {
      return std::string("(none)");
    }
    EXPECT_FALSE(higher);
    dorvex::ListDefinition d;
    d.levels[0] = l;
    return labels(d, {0})[0];
  };
  EXPECT_EQ(label(anld(0, "", ".", 1), 52), "1.\t");
  EXPECT_EQ(label(anld(4, "(", ")", 3), 52), "(c)\t");
  EXPECT_EQ(label(anld(5, "No. ", "", 2), 52), "No. 2nd\t");
  EXPECT_EQ(label(anld(23, "\xB7", "", 1), 52), "*\t");                 // Symbol's bullet
  EXPECT_EQ(label(anld(0, std::string("\x01", 1), "", 7), 52), "7\t");  // no control in the text
  // Too short for its fixed part, or text beyond the operand.
  EXPECT_EQ(label(anld(0, "", ".", 1), 19), "(none)");
  EXPECT_EQ(label(anld(0, "abc", "", 1), 22), "(none)");
  std::string wild = anld(0, "", "", 1);
  wild[2] = char(200);
  EXPECT_EQ(label(wild, 52), "(none)");
}

}  // namespace

// ---- XML documents ----

namespace xml_lists {

const char kW[] = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";

dorvex::DocxNumbering numbering(const std::string& numbering_xml, const std::string& styles_xml) {
  dorvex::DocxNumbering n;
  for (const std::string& part : {numbering_xml, styles_xml}) {
    dorvex::XmlReading reading(dorvex::docx_numbering_events(&n));
    EXPECT_TRUE(reading.feed(part.data(), part.size(), true)) << reading.error();
  }
  dorvex::docx_numbering_resolve(&n);
  return n;
}

std::string label(const dorvex::DocxNumbering& n, dorvex::DocxListCounting* c, const char* num,
                  int ilvl, const std::string& style = "", int story = 0) {
  dorvex::DocxNumPr p;
  if (num) {
    p.num_id = num;
    p.has_num = true;
  }
  p.ilvl = ilvl;
  std::vector<std::uint16_t> out;
  dorvex::docx_paragraph_label(n, c, story, p, style, &out);
  return ascii(out);
}

TEST(XmlLists, WordprocessingNumberingAndHostileValues) {
  const std::string num =
      std::string("<w:numbering ") + kW + ">" +
      "<w:abstractNum w:abstractNumId=\"7\">"
      "<w:lvl w:ilvl=\"0\"><w:start w:val=\"3\"/><w:numFmt w:val=\"upperLetter\"/>"
      "<w:lvlText w:val=\"%1)\"/><w:suff w:val=\"space\"/><w:pStyle w:val=\"H1\"/></w:lvl>"
      "<w:lvl w:ilvl=\"1\"><w:start w:val=\"99999999999999\"/><w:lvlText w:val=\"%1.%2.%0%\"/>"
      "<w:isLgl w:val=\"false\"/></w:lvl>"
      "<w:lvl w:ilvl=\"9\"><w:lvlText w:val=\"never read\"/></w:lvl>"
      "<w:lvl w:ilvl=\"-1\"><w:lvlText w:val=\"never read\"/></w:lvl>"
      "</w:abstractNum>"
      "<w:num w:numId=\"1\"><w:abstractNumId w:val=\"7\"/></w:num>"
      "<w:num w:numId=\"2\"><w:abstractNumId w:val=\"7\"/><w:lvlOverride w:ilvl=\"0\">"
      "<w:startOverride w:val=\"-40\"/></w:lvlOverride><w:lvlOverride w:ilvl=\"12\">"
      "<w:startOverride w:val=\"5\"/></w:lvlOverride></w:num>"
      "<w:num w:numId=\"3\"><w:abstractNumId w:val=\"nowhere\"/></w:num>"
      "<w:num><w:abstractNumId w:val=\"7\"/></w:num>"
      "</w:numbering>";
  const std::string styles =
      std::string("<w:styles ") + kW + ">" +
      "<w:style w:type=\"paragraph\" w:styleId=\"H1\"><w:pPr><w:numPr><w:numId w:val=\"1\"/>"
      "</w:numPr></w:pPr></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"Loop\"><w:basedOn w:val=\"Loop2\"/></w:style>"
      "<w:style w:type=\"paragraph\" w:styleId=\"Loop2\"><w:basedOn w:val=\"Loop\"/></w:style>"
      "<w:style w:type=\"character\" w:styleId=\"C\"><w:pPr><w:numPr><w:numId w:val=\"1\"/>"
      "</w:numPr></w:pPr></w:style>"
      "</w:styles>";
  const dorvex::DocxNumbering n = numbering(num, styles);
  dorvex::DocxListCounting c;
  // The style numbers at the level that names it; levels outside 0..8 are never read.
  EXPECT_EQ(label(n, &c, nullptr, -1, "H1"), "C) ");
  EXPECT_EQ(label(n, &c, "1", 1), "C.2147483647.%0%\t");  // "%0" and a lone "%" are text
  EXPECT_EQ(label(n, &c, "1", 1), "C.2147483647.%0%\t");  // and the counter stops there
  // An instance's start override starts the shared counter again, once, at no less than 0.
  EXPECT_EQ(label(n, &c, "2", 0), "0) ");
  EXPECT_EQ(label(n, &c, "2", 0), "A) ");
  EXPECT_EQ(label(n, &c, "1", 0), "B) ");
  // An instance of no definition numbers in decimal; unknown instances and 0 number nothing,
  // nor do character styles or looped style chains.
  EXPECT_EQ(label(n, &c, "3", 0), "1.\t");
  EXPECT_EQ(label(n, &c, "0", 0), "");
  EXPECT_EQ(label(n, &c, "4", 0), "");
  EXPECT_EQ(label(n, &c, nullptr, -1, "C"), "");
  EXPECT_EQ(label(n, &c, nullptr, -1, "Loop"), "");
  // Another story counts on its own; stories outside the known ones number nothing.
  EXPECT_EQ(label(n, &c, "1", 0, "", 1), "C) ");
  EXPECT_EQ(label(n, &c, "1", 0, "", 99), "");
}

TEST(XmlLists, OpenDocumentStylesListsAndHeadings) {
  const std::string doc =
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\"><office:styles>"
      "<text:outline-style style:name=\"O\">"
      "<text:outline-level-style text:level=\"1\" style:num-format=\"I\"/>"
      "<text:outline-level-style text:level=\"2\" style:num-format=\"1\" "
      "text:display-levels=\"40\" style:num-suffix=\")\"/>"
      "<text:outline-level-style text:level=\"3\" style:num-format=\"\"/>"
      "</text:outline-style>"
      "<text:list-style style:name=\"L\">"
      "<text:list-level-style-number text:level=\"1\" style:num-format=\"a\" "
      "style:num-prefix=\"(\" style:num-suffix=\")\" text:start-value=\"-3\"/>"
      "<text:list-level-style-bullet text:level=\"2\" text:bullet-char=\"\xEF\x82\xA7\"/>"
      "<text:list-level-style-number text:level=\"0\" style:num-format=\"1\"/>"
      "<text:list-level-style-number text:level=\"99\" style:num-format=\"1\"/>"
      "</text:list-style>"
      "<style:style style:name=\"P\" style:list-style-name=\"L\"/>"
      "</office:styles></office:document>";
  dorvex::OdfLists lists;
  dorvex::XmlReading reading(dorvex::odf_list_style_events(&lists));
  ASSERT_TRUE(reading.feed(doc.data(), doc.size(), true)) << reading.error();

  // Elements as the text reader meets them, built by hand: name and attributes, the prefix
  // "text" bound to its namespace.
  dorvex::XmlScope scope;
  scope.bindings.push_back({"text", dorvex::XmlNs::text, 0});
  auto tag = [&scope](const char* local, std::vector<const char*> attrs) {
    static std::vector<std::vector<const char*>> keep;
    attrs.push_back(nullptr);
    keep.push_back(attrs);
    return dorvex::XmlTag{dorvex::XmlNs::text, local, keep.back().data(), &scope};
  };
  const std::string style_name = "text:style-name";
  const std::string level_name = "text:outline-level";
  const std::string continue_name = "text:continue-numbering";
  const std::string start_name = "text:start-value";
  dorvex::OdfListCounting c;
  std::vector<std::uint16_t> out;
  auto paragraph = [&](const dorvex::XmlTag& t) {
    out.clear();
    dorvex::odf_paragraph_label(lists, &c, t, &out);
    std::string s;
    for (std::uint16_t u : out) s += u == 0x25AA ? std::string("#") : std::string(1, char(u));
    return s;
  };
  const dorvex::XmlTag h1 = tag("h", {level_name.c_str(), "1"});
  const dorvex::XmlTag h2 = tag("h", {level_name.c_str(), "2"});
  const dorvex::XmlTag h3 = tag("h", {level_name.c_str(), "3"});
  EXPECT_EQ(paragraph(h2), "I.1)\t");  // display levels beyond the level's own are cut
  EXPECT_EQ(paragraph(h1), "II\t");
  EXPECT_EQ(paragraph(h3), "");  // no number, no text: nothing at all
  const dorvex::XmlTag p = tag("p", {});
  EXPECT_EQ(paragraph(p), "");  // outside a list
  // A list: its style, its nested level, a Wingdings bullet; a negative start counts from 0.
  dorvex::odf_list_start(lists, &c, tag("list", {style_name.c_str(), "L"}));
  dorvex::odf_list_item_start(&c, tag("list-item", {}));
  EXPECT_EQ(paragraph(p), "(0)\t");
  EXPECT_EQ(paragraph(p), "");  // the item's second paragraph
  dorvex::odf_list_start(lists, &c, tag("list", {}));
  dorvex::odf_list_item_start(&c, tag("list-item", {}));
  EXPECT_EQ(paragraph(p), "#\t");
  dorvex::odf_list_end(&c);
  dorvex::odf_list_item_start(&c, tag("list-item", {start_name.c_str(), "7"}));
  EXPECT_EQ(paragraph(p), "(g)\t");
  dorvex::odf_list_end(&c);
  // A new list starts again, unless it continues the last one of its style.
  dorvex::odf_list_start(lists, &c, tag("list", {style_name.c_str(), "L"}));
  dorvex::odf_list_item_start(&c, tag("list-item", {}));
  EXPECT_EQ(paragraph(p), "(0)\t");
  dorvex::odf_list_end(&c);
  dorvex::odf_list_start(lists, &c,
                         tag("list", {style_name.c_str(), "L", continue_name.c_str(), "true"}));
  dorvex::odf_list_item_start(&c, tag("list-item", {}));
  EXPECT_EQ(paragraph(p), "(a)\t");
  // A list without a style takes its paragraph's; one with neither numbers nothing.
  dorvex::odf_list_end(&c);
  dorvex::odf_list_start(lists, &c, tag("list", {}));
  dorvex::odf_list_item_start(&c, tag("list-item", {}));
  EXPECT_EQ(paragraph(tag("p", {style_name.c_str(), "P"})), "(0)\t");
  dorvex::odf_list_item_start(&c, tag("list-item", {}));
  EXPECT_EQ(paragraph(p), "");
  // Lists nested far deeper than the levels stay at the last level, and close in step.
  for (int k = 0; k < 200; ++k) {
    dorvex::odf_list_start(lists, &c, tag("list", {}));
    dorvex::odf_list_item_start(&c, tag("list-item", {}));
  }
  EXPECT_EQ(paragraph(tag("p", {style_name.c_str(), "P"})), "");  // level 9 has no style
  for (int k = 0; k < 202; ++k) dorvex::odf_list_end(&c);
  EXPECT_TRUE(c.open.empty());
}

}  // namespace xml_lists
