// Document metadata: summary information property sets (built by propset.h, whole and
// damaged), the compound file's root storage, and RTF's \info group as the reader meets it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analyze.h"
#include "cfb.h"
#include "fixture.h"
#include "metadata.h"
#include "propset.h"
#include "rtf_support.h"
#include "rtfinfo.h"
#include "rtfread.h"

namespace {

using testing_support::capture;
using testing_support::plain_setup;
using testing_support::stream_of;

// The stated fields, one "key=value" each, in order: one string to compare.
std::string show(const dorvex::Metadata& m) {
  std::string s;
  const std::pair<const char*, const std::optional<std::string>*> fields[] = {
      {"title", &m.title},       {"subject", &m.subject}, {"author", &m.author},
      {"keywords", &m.keywords}, {"created", &m.created}, {"modified", &m.modified}};
  for (const auto& [key, value] : fields) {
    if (*value) s += std::string(key) + "=" + **value + ";";
  }
  return s;
}

std::string parsed(const std::string& stream, bool* ok = nullptr,
                   dorvex::CodePageDecoder decode = {}) {
  dorvex::Metadata m;
  const bool result = dorvex::parse_summary_information(
      reinterpret_cast<const unsigned char*>(stream.data()), stream.size(), m, decode);
  if (ok) *ok = result;
  return show(m);
}

constexpr std::uint64_t kMarch2006 = 0x1c63d18ff788087;  // 2006-03-01T10:15:00Z and a fraction
constexpr std::uint64_t kLeapDay2000 = 0x1bf831115b08007;
constexpr std::uint64_t kBefore1970 = 0x19db1ded4b8c007;
constexpr std::uint64_t kLastSecond9999 = 0x24c85a5ed13a8007;
constexpr std::uint64_t kYear10000 = 0x24c85a5ed1c04000;

// Stands in for the library's charset tables: cp1251's capital letters only.
bool cyrillic_capitals(const void* context, std::uint32_t cp, const unsigned char* b, std::size_t n,
                       std::string& out) {
  ++*static_cast<int*>(const_cast<void*>(context));
  if (cp != 1251) return dorvex::decode_code_page(nullptr, cp, b, n, out);
  for (std::size_t i = 0; i < n; ++i) {
    dorvex::append_utf8(out, b[i] >= 0xC0 && b[i] <= 0xDF ? 0x0410 + (b[i] - 0xC0) : b[i]);
  }
  return true;
}

TEST(SummaryInformation, FieldsByTypeAndCodePage) {
  using propset::build;
  using propset::code_page;
  using propset::filetime;
  using propset::lpstr;
  using propset::lpwstr;
  const struct {
    std::string stream;
    std::string fields;
  } cases[] = {
      {build({code_page(1252), lpstr(2, "Caf\xE9 \x80 report"), lpstr(3, "Budget"),
              lpwstr(4, u"J\u00F6rg \U0001F600"), lpstr(5, "a; b"), filetime(12, kMarch2006),
              filetime(13, kLeapDay2000)}),
       "title=Caf\xC3\xA9 \xE2\x82\xAC report;subject=Budget;author=J\xC3\xB6rg \xF0\x9F\x98\x80;"
       "keywords=a; b;created=2006-03-01T10:15:00Z;modified=2000-02-29T23:59:59Z;"},
      // The code page after the strings it governs; cp1252's holes as U+FFFD.
      {build({lpstr(2, "\x81\x93q\x94"), code_page(1252)}),
       "title=\xEF\xBF\xBD\xE2\x80\x9Cq\xE2\x80\x9D;"},
      {build({code_page(28591), lpstr(2, "\x80\xFF")}), "title=\xC2\x80\xC3\xBF;"},
      // 65001 is stored as a negative 16-bit number; ill-formed bytes become U+FFFD.
      {build({code_page(65001), lpstr(4, "\xC3\xA9t\xC3\xA9 \xFF")}),
       "author=\xC3\xA9t\xC3\xA9 \xEF\xBF\xBD;"},
      // Code page 1200: a code page string in UTF-16, its count in bytes.
      {build({code_page(1200), propset::Property{2, propset::kLpstr,
                                                 std::string("\x08\0\0\0A\0\x04\x26Z\0\0\0", 12)}}),
       "title=A\xE2\x98\x84Z;"},
      // An unknown code page: ASCII is read, other bytes leave the field out.
      {build({code_page(1251), lpstr(2, "\xC0\xC1"), lpstr(4, "Ivan")}), "author=Ivan;"},
      {build({code_page(37), lpstr(4, "Ivan")}), ""},  // EBCDIC: not even ASCII
      {build({lpstr(4, "Ivan")}), "author=Ivan;"},     // no code page stated
      // Empty, blank and zero values state nothing; blanks around a value go.
      {build({code_page(1252), lpstr(2, ""), lpstr(3, " \t "), lpwstr(4, u""),
              lpstr(5, "  k  \r\n"), filetime(12, 0), filetime(13, kBefore1970)}),
       "keywords=k;modified=1969-12-31T23:59:59Z;"},
      {build({lpstr(2, "\x13"), lpstr(3, "\x01 x\x01y \x7F")}), "subject=x\x01y \x7F;"},
      {build({lpwstr(2, u"\u3000\u00A0T\u00A0i\u200B\uFEFF"), lpwstr(3, u"\u2003\u3000")}),
       "title=T\xC2\xA0i;"},
      {build({filetime(12, kLastSecond9999), filetime(13, kYear10000)}),
       "created=9999-12-31T23:59:59Z;"},
      // The era's first day is "never" (Word 6 writes minutes there); the second is a date.
      {build({filetime(12, 1), filetime(13, 2030000000)}), ""},
      {build({filetime(12, 864000000000)}), "created=1601-01-02T00:00:00Z;"},
      // A string ends at its first 0; the first of two properties with one number counts.
      {build({lpstr(2, std::string("One\0Two", 7)), lpstr(2, "Second"),
              lpwstr(3, std::u16string(u"S\0T", 3))}),
       "title=One;subject=S;"},
      // Odd types for known numbers are left out: a number for a title, a string for a date.
      {build({propset::Property{2, propset::kI4, std::string("\x05\0\0\0", 4)},
              lpstr(12, "2006-03-01"), propset::Property{13, propset::kLpstr, ""}, lpstr(3, "ok")}),
       "subject=ok;"},
      // Our set listed second.
      {build({lpstr(2, "Second set")}, {.other_set_first = true}), "title=Second set;"},
      // Lengths beyond the stream read what there is.
      {build({lpstr(2, "Huge", 0xFFFFFFF0)}), "title=Huge;"},
      {build({lpwstr(2, u"Wide", 0x7FFFFFFF)}), "title=Wide;"},
      // A property whose offset leaves the stream is dropped, the others read.
      {[] {
         propset::Property far = lpstr(2, "Lost");
         far.offset = 0x7FFFFFF0;
         return build({far, lpstr(4, "Kept")});
       }(),
       "author=Kept;"},
      // More properties claimed than the stream holds.
      {build({lpstr(2, "Counted")}, {.property_count = 0xFFFFFFFF}), "title=Counted;"},
  };
  for (const auto& c : cases) {
    bool ok = false;
    EXPECT_EQ(parsed(c.stream, &ok), c.fields) << testing::PrintToString(c.stream);
    EXPECT_TRUE(ok);
  }
  // A caller's decoder reads the code pages the built-in one cannot.
  int calls = 0;
  dorvex::CodePageDecoder tables{cyrillic_capitals, &calls};
  EXPECT_EQ(
      parsed(build({code_page(1251), lpstr(2, "\xC0\xC1"), lpwstr(4, u"x")}), nullptr, tables),
      "title=\xD0\x90\xD0\x91;author=x;");
  EXPECT_EQ(calls, 1);  // UTF-16 needs no decoder
  // What a caller's reading gives is held to valid UTF-8 without 0 bytes (a table's hole).
  auto sloppy = [](const void*, std::uint32_t, const unsigned char*, std::size_t,
                   std::string& out) {
    out.append("a\0b\xFF", 4);
    return true;
  };
  EXPECT_EQ(parsed(build({lpstr(2, "x")}), nullptr, {sloppy, nullptr}),
            "title=a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD;");
  // Fields already stated stay.
  dorvex::Metadata m;
  m.title = "From before";
  const std::string s = build({lpstr(2, "New"), lpstr(3, "Sub")});
  dorvex::parse_summary_information(reinterpret_cast<const unsigned char*>(s.data()), s.size(), m);
  EXPECT_EQ(show(m), "title=From before;subject=Sub;");
}

TEST(SummaryInformation, DamagedStreamsAreRefusedOrCut) {
  using propset::build;
  const std::string good =
      build({propset::code_page(1252), propset::lpstr(2, "Title"), propset::lpwstr(4, u"Author"),
             propset::filetime(12, kMarch2006)});
  const struct {
    std::string stream;
    const char* why;
  } refused[] = {
      {"", "empty"},
      {build({propset::lpstr(2, "x")}, {.byte_order = 0xFEFF}), "byte order"},
      {build({propset::lpstr(2, "x")}, {.wrong_format = true}), "another format"},
      {build({propset::lpstr(2, "x")}, {.set_offset = 0xFFFFFFF0}), "set beyond the end"},
      {build({propset::lpstr(2, "x")}, {.set_count = 0}), "no set"},
      {build({propset::lpstr(2, "x")}, {.other_set_first = true, .set_count = 1}),
       "ours not listed"},
      {good.substr(0, 47), "cut in the set list"},
  };
  for (const auto& c : refused) {
    bool ok = true;
    EXPECT_EQ(parsed(c.stream, &ok), "") << c.why;
    EXPECT_FALSE(ok) << c.why;
  }
  // Every cut of a good stream: no read past the cut, and what is read is what the whole
  // stream says.
  const std::string whole = parsed(good);
  ASSERT_EQ(whole, "title=Title;author=Author;created=2006-03-01T10:15:00Z;");
  for (std::size_t n = 0; n < good.size(); ++n) {
    const std::vector<unsigned char> exact(good.begin(), good.begin() + long(n));
    dorvex::Metadata m;
    dorvex::parse_summary_information(exact.data(), exact.size(), m);
    if (m.title) EXPECT_EQ(*m.title, "Title") << n;
    if (m.author) EXPECT_TRUE(std::string("Author").starts_with(*m.author)) << n;
    if (m.created) EXPECT_EQ(*m.created, "2006-03-01T10:15:00Z") << n;
  }
}

// Directory entries: name, type and the three links of each, the rest zero.
struct DirEntry {
  std::string name;
  int type;
  std::uint32_t left, right, child;
};
std::string directory(const std::vector<DirEntry>& entries) {
  std::string d(entries.size() * 128, '\0');
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DirEntry& e = entries[i];
    for (std::size_t k = 0; k < e.name.size(); ++k)
      cfb::put16(d, i * 128 + 2 * k, std::uint8_t(e.name[k]));
    cfb::put16(d, i * 128 + 0x40, std::uint32_t(e.name.size() + 1) * 2);
    d[i * 128 + 0x42] = char(e.type);
    cfb::put32(d, i * 128 + 0x44, e.left);
    cfb::put32(d, i * 128 + 0x48, e.right);
    cfb::put32(d, i * 128 + 0x4C, e.child);
  }
  return d;
}

TEST(SummaryInformation, OnlyTheRootStoragesStreamCounts) {
  constexpr std::uint32_t kNone = 0xFFFFFFFF;
  const std::string summary = "\005SummaryInformation";
  // 0 the root (child 2); 2's siblings 1 and 3; 3 a storage holding 4 (an embedded object's);
  // 5 below 3 in the root's tree, its name in other capitals.
  const std::string tree = directory({{"Root Entry", 5, kNone, kNone, 2},
                                      {"One", 2, kNone, kNone, kNone},
                                      {"Two", 2, 1, 3, kNone},
                                      {"Obj", 1, kNone, 5, 4},
                                      {summary, 2, kNone, kNone, kNone},
                                      {"\005summaryINFORMATION", 2, kNone, kNone, kNone}});
  const auto* d = reinterpret_cast<const unsigned char*>(tree.data());
  const struct {
    std::string name;
    std::size_t entries, index;
  } cases[] = {
      {summary, 6, 5},
      {summary, 5, dorvex::kNoEntry},  // only the object's is left
      {"One", 6, 1},
      {"obj", 6, 3},
      {"On", 6, dorvex::kNoEntry},
      {"Root Entry", 6, dorvex::kNoEntry},  // the root is no child
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dorvex::find_in_root_storage(d, c.entries, c.name), c.index) << c.name;
  }
  // A looped tree ends; a directory without a root has no root storage.
  const std::string looped = directory({{"R", 5, kNone, kNone, 1},
                                        {"A", 2, 2, kNone, kNone},
                                        {"B", 2, 1, 1, kNone},
                                        {"C", 2, kNone, kNone, kNone}});
  const auto* l = reinterpret_cast<const unsigned char*>(looped.data());
  EXPECT_EQ(dorvex::find_in_root_storage(l, 4, "B"), 2u);
  EXPECT_EQ(dorvex::find_in_root_storage(l, 4, "C"), dorvex::kNoEntry);
  const std::string rootless =
      directory({{"R", 1, kNone, kNone, 1}, {"A", 2, kNone, kNone, kNone}});
  EXPECT_EQ(
      dorvex::find_in_root_storage(reinterpret_cast<const unsigned char*>(rootless.data()), 2, "A"),
      dorvex::kNoEntry);
  EXPECT_EQ(dorvex::find_in_root_storage(nullptr, 0, "A"), dorvex::kNoEntry);
}

// What format detection finds in a compound file, and that the text is not changed by looking.
struct Detected {
  std::string out, fields;
  int status;
};
Detected detect(const std::string& file, bool with_metadata = true) {
  plain_setup();
  dorvex::Metadata m;
  std::FILE* f = stream_of(file);
  Detected r;
  testing::internal::CaptureStderr();
  r.out = capture([&] { r.status = dorvex::analyze_format(f, with_metadata ? &m : nullptr); });
  testing::internal::GetCapturedStderr();
  std::fclose(f);
  r.fields = show(m);
  return r;
}

TEST(SummaryInformation, ReadFromTheCompoundFile) {
  const std::string summary = propset::build(
      {propset::code_page(1252), propset::lpstr(2, "Minutes"), propset::lpstr(4, "Ann")});
  cfb::Entry stream{"\005SummaryInformation", summary};
  cfb::Entry other{"\005DocumentSummaryInformation", summary};
  cfb::Entry named_alike{"SummaryInformation", summary};
  cfb::Entry big = stream;
  big.big = true;
  big.data.resize(5000, '\0');  // in ordinary sectors
  Detected r = detect(cfb::build({other, named_alike, stream}));
  EXPECT_EQ(r.fields, "title=Minutes;author=Ann;");
  EXPECT_EQ(r.status, 69);  // no Word document: nothing else changes
  EXPECT_EQ(detect(cfb::build({big})).fields, "title=Minutes;author=Ann;");
  EXPECT_EQ(detect(cfb::build({other, named_alike})).fields, "");
  Detected without = detect(cfb::build({stream}), false);
  EXPECT_EQ(without.fields, "");
  EXPECT_EQ(without.status, 69);
  // A stream whose chain breaks after its first sector: a string cut there is left out.
  cfb::Entry broken{
      "\005SummaryInformation",
      propset::build({propset::lpstr(4, "Ann"), propset::lpstr(2, std::string(600, 'T'))})};
  broken.big = true;
  broken.data.resize(5000, '\0');
  EXPECT_EQ(detect(cfb::build({broken})).fields, "title=" + std::string(600, 'T') + ";author=Ann;");
  broken.bad_link = 0x7FFFFF00;
  EXPECT_EQ(detect(cfb::build({broken})).fields, "author=Ann;");
}

// RTF: the reader's output with and without collecting, and the fields collected.
struct RtfRun {
  std::string out, fields;
};
RtfRun rtf_run(const std::string& doc) {
  plain_setup();
  dorvex::Metadata m;
  std::FILE* f = stream_of(doc);
  RtfRun r;
  r.out = capture([&] { dorvex::parse_rtf(f, nullptr, 0, &m); });
  std::fclose(f);
  r.fields = show(m);
  return r;
}

TEST(RtfInfo, FieldsOfTheInfoGroup) {
  testing_support::CodePageDir code_pages;
  const std::string big(70000, 'x');
  const struct {
    std::string doc, fields;
  } cases[] = {
      {"{\\rtf1\\ansi{\\info{\\title Annual report}{\\subject Money}{\\author J\\'f6rg "
       "M\\u252?ller}{\\keywords a, b}{\\creatim\\yr2006\\mo3\\dy1\\hr10\\min15}"
       "{\\revtim\\yr2000\\mo2\\dy29\\hr23\\min59\\sec30}{\\operator Op}}Body\\par}",
       "title=Annual report;subject=Money;author=J\xC3\xB6rg M\xC3\xBCller;keywords=a, b;"
       "created=2006-03-01T10:15:00;modified=2000-02-29T23:59:30;"},
      // The document's code page, as its text is read.
      {"{\\rtf1\\ansi\\ansicpg1251{\\info{\\title \\'c0\\'c1}}\\'c0}", "title=\xD0\x90\xD0\x91;"},
      // A surrogate pair; the \uc fallback skipped; a tab and a line as spaces.
      {"{\\rtf1{\\info{\\title \\uc2\\u-10179xx\\u-8704xx!}{\\subject a\\tab b\\emdash c}}}",
       "title=\xF0\x9F\x98\x80!;subject=a b\xE2\x80\x94"
       "c;"},
      {"{\\rtf1{\\info{\\title \\u-10179?x}}}", "title=\xEF\xBF\xBDx;"},  // a lone half
      // Blank fields, impossible or partial dates state nothing.
      {"{\\rtf1{\\info{\\title  }{\\author}{\\creatim\\yr2001\\mo2\\dy29}"
       "{\\revtim\\yr2006\\mo3}}}",
       ""},
      {"{\\rtf1{\\info{\\creatim\\yr2006\\mo13\\dy1}{\\revtim\\yr2006\\mo1\\dy1\\hr24}}}", ""},
      {"{\\rtf1{\\info{\\creatim\\yr0\\mo0\\dy0}{\\revtim\\yr1\\mo1\\dy1}}}",
       "modified=0001-01-01T00:00:00;"},
      {"{\\rtf1{\\info{\\creatim\\yr1601\\mo1\\dy1}{\\revtim\\yr1601\\mo1\\dy2}}}",
       "modified=1601-01-02T00:00:00;"},
      // {\upr} gives a field twice, the Unicode form last in {\*\ud}: that one counts.
      {"{\\rtf1{\\info{\\upr{\\title ??}{\\*\\ud{\\title \\u12478\\'3f\\u12523\\'3f}}}"
       "{\\author A}{\\*\\ud{\\author B}}{\\author C}}}",
       "title=\xE3\x82\xBE\xE3\x83\xAB;author=B;"},
      // An ignorable destination inside a field is not its text; escaped braces are.
      {"{\\rtf1{\\info{\\title A{\\*\\bkmkstart x}B\\{C\\}}}}", "title=AB{C};"},
      // The first of two titles counts; a title outside \info is text of the document.
      {"{\\rtf1{\\info{\\title First}{\\title Second}}{\\title Body}}", "title=First;"},
      // Cut by the end of the input.
      {"{\\rtf1{\\info{\\title Cut sh", "title=Cut sh;"},
      // A field without a group of its own ends with \info.
      {"{\\rtf1{\\info\\author Plain}Text}", "author=Plain;"},
      // Long fields are cut; no \info, no fields.
      {"{\\rtf1{\\info{\\title " + big + "}}}", "title=" + big.substr(0, 65536) + ";"},
      {"{\\rtf1{\\title T}{\\author A}Text}", ""},
  };
  for (const auto& c : cases) {
    const RtfRun r = rtf_run(c.doc);
    EXPECT_EQ(r.fields, c.fields) << c.doc.substr(0, 200);
    EXPECT_EQ(r.out, testing_support::rtf_text(c.doc)) << c.doc.substr(0, 200);
  }
}

// The hooks' own rules, on the collector alone.
TEST(RtfInfo, CollectorFollowsGroups) {
  dorvex::Metadata m;
  dorvex::RtfInfo info;
  info.out = &m;
  dorvex::rtf_info_command(info, 0, "title", 0, 2);  // outside \info: nothing
  EXPECT_FALSE(dorvex::rtf_info_wants_text(info));
  dorvex::rtf_info_command(info, dorvex::kRtfInfoKind, "", 0, 2);
  dorvex::rtf_info_command(info, 0, "title", 0, 3);
  for (char16_t u : std::u16string(u"T\x1C\x1E\xFEFFx")) dorvex::rtf_info_unit(info, u);
  dorvex::rtf_info_group_closed(info, 2);
  EXPECT_EQ(show(m), "title=T  x;");
  dorvex::rtf_info_command(info, 0, "author", 0, 3);
  dorvex::rtf_info_unit(info, 'A');
  dorvex::rtf_info_group_closed(info, 1);  // \info closed with its field
  EXPECT_FALSE(dorvex::rtf_info_open(info));
  EXPECT_EQ(show(m), "title=T  x;author=A;");
  dorvex::RtfInfo off;  // no destination: nothing happens
  dorvex::rtf_info_command(off, dorvex::kRtfInfoKind, "", 0, 2);
  EXPECT_FALSE(dorvex::rtf_info_open(off));
}

}  // namespace
