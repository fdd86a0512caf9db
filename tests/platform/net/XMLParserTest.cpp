// The expat reader: events in document order, text in pieces joined back,
// and every way a hostile or broken document is refused with one error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/net/XMLParser.h"

namespace glowsnap {
namespace {

struct Recorder : XMLParserDelegate {
  std::vector<std::string> events;
  std::string text;
  int errors = 0;
  bool abortOnStart = false;
  void didStartElement(XMLParser& parser, const std::string& name, const std::string&,
                       const std::string& qualified,
                       const std::map<std::string, std::string>& attributes) override {
    flush();
    std::string e = "start " + name + (qualified == name ? "" : " qname?");
    for (const auto& [k, v] : attributes) e += " " + k + "=" + v;
    events.push_back(e);
    if (abortOnStart) parser.abortParsing();
  }
  void didEndElement(XMLParser&, const std::string& name, const std::string&,
                     const std::string&) override {
    flush();
    events.push_back("end " + name);
  }
  void foundCharacters(XMLParser&, const std::string& t) override { text += t; }
  void parseErrorOccurred(XMLParser&, const Error&) override { ++errors; }
  void flush() {
    if (!text.empty()) events.push_back("text " + text);
    text.clear();
  }
};

std::vector<std::string> parse(const std::string& xml, bool& ok, Recorder& r,
                               std::optional<Error>* error = nullptr) {
  XMLParser parser(xml);
  parser.setDelegate(&r);
  ok = parser.parse();
  if (error) *error = parser.parserError();
  return r.events;
}

TEST(XMLParser, EventsInOrderWithEntitiesAndCharacterReferencesExpanded) {
  Recorder r;
  bool ok = false;
  auto events = parse(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<a list=\"true\" x:y='1'><b>1 &amp; 2 &lt;&#233;&#x20AC;</b><c/></a>",
      ok, r);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.errors, 0);
  EXPECT_EQ(events, (std::vector<std::string>{"start a list=true x:y=1", "start b",
                                              "text 1 & 2 <\xC3\xA9\xE2\x82\xAC", "end b",
                                              "start c", "end c", "end a"}));
}

TEST(XMLParser, OtherEncodingsArriveAsUTF8) {
  Recorder r;
  bool ok = false;
  auto events = parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>", ok, r);
  EXPECT_TRUE(ok);
  EXPECT_EQ(events[1], "text caf\xC3\xA9");
}

TEST(XMLParser, DocumentTypesAndEntityDeclarationsAreRefused) {
  const char* hostile[] = {
      // Exponential entity expansion.
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]><lolz>&lol2;</lolz>",
      // An external entity reading a local file.
      "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>",
      // A DTD fetched from elsewhere.
      "<!DOCTYPE r SYSTEM \"http://127.0.0.1:1/evil.dtd\"><r/>",
  };
  for (const char* xml : hostile) {
    Recorder r;
    bool ok = true;
    std::optional<Error> error;
    auto events = parse(xml, ok, r, &error);
    EXPECT_FALSE(ok) << xml;
    EXPECT_EQ(r.errors, 1) << xml;
    ASSERT_TRUE(error) << xml;
    EXPECT_EQ(error->domain, XMLParser::kErrorDomain);
    EXPECT_EQ(error->code, XMLParser::kDocumentTypeRefused) << xml;
    EXPECT_TRUE(events.empty()) << "nothing of the document is reported";
  }
}

TEST(XMLParser, MalformedDocumentsFailOnceWithAPosition) {
  const std::pair<const char*, int> broken[] = {
      {"", 3},                  // no element found
      {"<a><b></a>", 7},        // mismatched tag
      {"<a>&nosuch;</a>", 11},  // undefined entity
      {"<a></a><b/>", 9},       // junk after the document element
      {"<a>\xff\xfe</a>", 4},   // not UTF-8
      {"<a", 5},                // unclosed token
  };
  for (const auto& [xml, code] : broken) {
    Recorder r;
    bool ok = true;
    std::optional<Error> error;
    parse(xml, ok, r, &error);
    EXPECT_FALSE(ok) << xml;
    EXPECT_EQ(r.errors, 1) << xml;
    ASSERT_TRUE(error) << xml;
    EXPECT_EQ(error->code, code) << xml << ": " << error->description;
    EXPECT_NE(error->description.find("line 1"), std::string::npos) << error->description;
  }
}

TEST(XMLParser, AbortStopsAtOnceAndParsesOnlyOnce) {
  Recorder r;
  r.abortOnStart = true;
  XMLParser parser(std::string("<a><b/></a>"));
  parser.setDelegate(&r);
  EXPECT_FALSE(parser.parse());
  EXPECT_EQ(r.events, std::vector<std::string>{"start a"});
  ASSERT_TRUE(parser.parserError());
  EXPECT_EQ(parser.parserError()->code, XMLParser::kAborted);
  EXPECT_FALSE(parser.parse()) << "a parser parses once";
}

TEST(XMLParser, LongDocumentsAreReadInPieces) {
  std::string xml = "<a>" + std::string(3 << 20, 'x') + "</a>";
  Recorder r;
  bool ok = false;
  auto events = parse(xml, ok, r);
  EXPECT_TRUE(ok);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].size(), 5 + (3u << 20));
}

}  // namespace
}  // namespace glowsnap
