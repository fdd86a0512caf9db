// XMLParser: a streaming XML reader over expat that tells a delegate about
// element starts and ends, text and errors as it goes through a document.
//
// Answers from a network peer are read, so the parser is strict about what
// a peer could use against it: a document type declaration (and with it
// every entity declaration, internal or external) is refused as an error,
// only the five predefined entities and character references are expanded,
// and expat's amplification guard stays on. Namespaces are not processed:
// names arrive as written ("a:b").
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/net/Bytes.h"

namespace glowsnap {

class XMLParser;

// Every operation is optional; a delegate overrides the ones it wants.
class XMLParserDelegate {
 public:
  virtual ~XMLParserDelegate() = default;
  virtual void didStartElement(XMLParser& /*parser*/, const std::string& /*elementName*/,
                               const std::string& /*namespaceURI*/,
                               const std::string& /*qualifiedName*/,
                               const std::map<std::string, std::string>& /*attributes*/) {}
  virtual void didEndElement(XMLParser& /*parser*/, const std::string& /*elementName*/,
                             const std::string& /*namespaceURI*/,
                             const std::string& /*qualifiedName*/) {}
  // Text as UTF-8; one run of text may arrive in several pieces.
  virtual void foundCharacters(XMLParser& /*parser*/, const std::string& /*text*/) {}
  virtual void parseErrorOccurred(XMLParser& /*parser*/, const Error& /*error*/) {}
};

class XMLParser {
 public:
  static constexpr const char* kErrorDomain = "NSXMLParserErrorDomain";
  // Codes below 1000 are expat's own error numbers (XML_Error), for
  // documents that are not well-formed.
  enum ErrorCode : int {
    kDocumentTypeRefused = 1001,  // the document has a DOCTYPE
    kAborted = 1002,              // abortParsing() stopped it
    kOutOfMemory = 1003,
  };

  // A parser over a copy of the bytes.
  explicit XMLParser(std::span<const std::uint8_t> data);
  explicit XMLParser(const std::string& text);
  ~XMLParser();
  XMLParser(const XMLParser&) = delete;
  XMLParser& operator=(const XMLParser&) = delete;

  // Not owned.
  void setDelegate(XMLParserDelegate* delegate) { delegate_ = delegate; }
  XMLParserDelegate* delegate() const { return delegate_; }

  // Reads the whole document, calling the delegate on the way. True when
  // the document was well-formed and allowed; otherwise the delegate has
  // heard parseErrorOccurred once and parserError() says why. A parser
  // parses once.
  bool parse();
  // From a delegate callback: stops with the error kAborted.
  void abortParsing();

  const std::optional<Error>& parserError() const { return error_; }
  // Position of the last event (or of the error), from 1.
  std::uint64_t lineNumber() const { return line_; }
  std::uint64_t columnNumber() const { return column_; }

 private:
  struct Callbacks;
  void note();
  void fail(int code, const std::string& what);

  Bytes data_;
  XMLParserDelegate* delegate_ = nullptr;
  void* parser_ = nullptr;
  bool parsed_ = false;
  bool stopped_ = false;
  std::optional<Error> error_;
  std::uint64_t line_ = 0;
  std::uint64_t column_ = 0;
};

}  // namespace glowsnap
