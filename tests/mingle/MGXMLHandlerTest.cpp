// XML answers into values: the mapping rules (lists, dictionaries, text,
// the null marker, white space) and error answers as errors.
#include <gtest/gtest.h>

#include "mingle/MGRequest.h"
#include "mingle/MGXMLHandler.h"

namespace glowsnap {
namespace {

struct Parsed {
  std::optional<MGValue> root;
  std::optional<std::string> name;
  std::optional<Error> error;
};

Parsed read(const std::string& xml) {
  XMLParser parser(xml);
  MGXMLHandler handler;
  parser.setDelegate(&handler);
  parser.parse();
  return {handler.rootObject(), handler.rootName(), handler.parseError()};
}

std::string valueOf(const std::string& xml) {
  auto p = read(xml);
  if (p.error) return "error: " + p.error->description;
  return p.root ? p.root->description() : "none";
}

TEST(MGXMLHandler, TheMappingOfElementsToValues) {
  EXPECT_EQ(valueOf("<a>12</a>"), "\"12\"");
  EXPECT_EQ(valueOf("<a/>"), "null");
  EXPECT_EQ(valueOf("<a><a1>1</a1><b>2</b></a>"), "{a1: \"1\", b: \"2\"}");
  EXPECT_EQ(valueOf("<r list=\"true\"><x>1</x><x>2</x></r>"), "[{x: \"1\"}, {x: \"2\"}]");
  EXPECT_EQ(valueOf("<r list=\"true\"><u><id>1</id></u><u><id>2</id><n/></u></r>"),
            "[{id: \"1\"}, {id: \"2\", n: null}]")
      << "a list of dictionaries, the child names dropped";
  EXPECT_EQ(valueOf("<r list=\"true\"/>"), "[]");
  EXPECT_EQ(valueOf("<r list=\"false\"><x>1</x></r>"), "{x: \"1\"}");
  EXPECT_EQ(valueOf("<r list=\"true\"><e/><f></f></r>"), "[null, null]");
  // Nested lists and dictionaries.
  EXPECT_EQ(valueOf("<r><l list=\"true\"><i><l2 list=\"true\"><j>x</j></l2></i></l></r>"),
            "{l: [{l2: [{j: \"x\"}]}]}");
}

TEST(MGXMLHandler, WhiteSpaceAndTextRules) {
  EXPECT_EQ(valueOf("<a>\n  \t\r\n </a>"), "null") << "white space only is the null marker";
  // Unicode's white space too (no-break space, ideographic space, line separator).
  EXPECT_EQ(valueOf("<a>\xC2\xA0\xE3\x80\x80\xE2\x80\xA8</a>"), "null");
  EXPECT_EQ(valueOf("<a>  padded text \n</a>"), "\"  padded text \n\"") << "kept untrimmed";
  EXPECT_EQ(valueOf("<a>x &amp; y</a>"), "\"x & y\"") << "pieces joined";
  EXPECT_EQ(valueOf("<a><b>1</b>\n  <c>2</c>\n</a>"), "{b: \"1\", c: \"2\"}");
  EXPECT_EQ(valueOf("<a><b>1</b><b>2</b></a>"), "{b: \"2\"}") << "the last of a name wins";
  EXPECT_EQ(valueOf("<a>lead<b>1</b></a>"), "\"lead\"") << "text before a child wins";
  EXPECT_EQ(valueOf("<a><b>1</b>tail</a>"), "\"tail\"") << "text after children replaces them";
}

TEST(MGXMLHandler, BrokenAndHostileDocumentsGiveTheParsersError) {
  for (const char* xml : {"<a><b></a>", "", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"}) {
    auto p = read(xml);
    ASSERT_TRUE(p.error) << xml;
    EXPECT_EQ(p.error->domain, XMLParser::kErrorDomain);
  }
}

TEST(MGRequestParse, ErrorAnswersBecomeErrorsOfTheServersHost) {
  auto result = MGRequest::parseXMLResponse(
      bytesFromString("<?xml version=\"1.0\"?><error_response><error_code>104</error_code>"
                      "<error_msg>incorrect signature</error_msg><request_args list=\"true\">"
                      "<arg><key>method</key><value>photos.upload</value></arg>"
                      "<arg><key>v</key><value>1.0</value></arg></request_args>"
                      "</error_response>"),
      "mingle.example.org");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().domain, "mingle.example.org");
  EXPECT_EQ(result.error().code, 104);
  EXPECT_EQ(result.error().description, "incorrect signature");
  EXPECT_EQ(result.error().userInfo.at("request_args"), "method=photos.upload&v=1.0");

  auto bare = MGRequest::parseXMLResponse(bytesFromString("<error_response/>"), "h");
  ASSERT_FALSE(bare.ok()) << "an error answer without children is still an error";
  EXPECT_EQ(bare.error().code, 0);

  auto fine = MGRequest::parseXMLResponse(bytesFromString("<ok><pid>7</pid></ok>"), "h");
  ASSERT_TRUE(fine.ok());
  EXPECT_EQ(fine->stringForKey("pid"), "7");
  auto text = MGRequest::parseXMLResponse(
      bytesFromString("<photos_upload_response>1</photos_upload_response>"), "h");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text->string(), "1");
}

}  // namespace
}  // namespace glowsnap
