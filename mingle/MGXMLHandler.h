// MGXMLHandler: turns the events of a REST answer's XML into plain values:
// dictionaries keyed by element name, lists for elements marked
// list="true", strings for text and the null marker for empty elements.
// Attributes other than "list" are ignored.
//
// Text that is only white space is dropped; other text is kept as it came,
// untrimmed. An element whose parent is a list and that holds text becomes
// {name: text}; children of a list lose their names; a later child of the
// same name replaces an earlier one in a dictionary; and text in an element
// before its first child becomes the element's value, so the children
// that follow are not stored.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mingle/MGValue.h"
#include "platform/foundation/Error.h"
#include "platform/net/XMLParser.h"

namespace glowsnap {

class MGXMLHandler : public XMLParserDelegate {
 public:
  void didStartElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName,
                       const std::map<std::string, std::string>& attributes) override;
  void didEndElement(XMLParser& parser, const std::string& elementName,
                     const std::string& namespaceURI, const std::string& qualifiedName) override;
  void foundCharacters(XMLParser& parser, const std::string& text) override;
  void parseErrorOccurred(XMLParser& parser, const Error& error) override;

  // The root element's finished value, once its end has been read.
  const std::optional<MGValue>& rootObject() const { return _rootObject; }
  const std::optional<std::string>& rootName() const { return _rootName; }
  const std::optional<Error>& parseError() const { return _parseError; }

  // True when text holds something other than white space and line breaks
  // (Unicode's, not only ASCII's).
  static bool hasVisibleCharacters(const std::string& text);

 private:
  void flushCharacters();
  // The top entry; with makeDictionary a null marker there becomes {}.
  MGValue& topObject(bool makeDictionary);
  // The entry below the top (the current element's parent), made a
  // dictionary when it is the null marker; null when there is none.
  MGValue* topContainer();
  const std::string& topName() const { return _nameStack.back(); }

  std::vector<MGValue> _stack;
  std::vector<std::string> _nameStack;
  std::optional<MGValue> _rootObject;
  std::optional<std::string> _rootName;
  std::optional<std::string> _chars;
  std::optional<Error> _parseError;
};

}  // namespace glowsnap
