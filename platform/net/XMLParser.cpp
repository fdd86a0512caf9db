#include "platform/net/XMLParser.h"

// The amplification guard's setters are declared only with XML_DTD, the
// build option Debian's expat is made with.
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <algorithm>

namespace glowsnap {

namespace {

XML_Parser expatOf(void* p) { return static_cast<XML_Parser>(p); }

// Input is handed to expat in pieces of at most this size, so that the
// length fits its int and a long document does not need one huge call.
constexpr std::size_t kChunk = 1 << 20;

}  // namespace

struct XMLParser::Callbacks {
  static XMLParser& self(void* data) { return *static_cast<XMLParser*>(data); }

  static void startElement(void* data, const XML_Char* name, const XML_Char** attrs) {
    XMLParser& p = self(data);
    if (p.stopped_) return;
    std::map<std::string, std::string> attributes;
    for (int i = 0; attrs[i] && attrs[i + 1]; i += 2) attributes[attrs[i]] = attrs[i + 1];
    p.note();
    if (p.delegate_) p.delegate_->didStartElement(p, name, "", name, attributes);
  }

  static void endElement(void* data, const XML_Char* name) {
    XMLParser& p = self(data);
    if (p.stopped_) return;
    p.note();
    if (p.delegate_) p.delegate_->didEndElement(p, name, "", name);
  }

  static void characters(void* data, const XML_Char* text, int length) {
    XMLParser& p = self(data);
    if (p.stopped_ || length <= 0) return;
    if (p.delegate_) p.delegate_->foundCharacters(p, std::string(text, length));
  }

  static void startDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    XMLParser& p = self(data);
    p.note();
    p.fail(kDocumentTypeRefused, "a document type declaration is not accepted");
  }

  // Without a DOCTYPE no entity can be declared; this is a second lock.
  static void entityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                         const XML_Char*, const XML_Char*, const XML_Char*) {
    XMLParser& p = self(data);
    p.note();
    p.fail(kDocumentTypeRefused, "an entity declaration is not accepted");
  }

  static int externalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                            const XML_Char*) {
    return XML_STATUS_ERROR;
  }
};

XMLParser::XMLParser(std::span<const std::uint8_t> data) : data_(data.begin(), data.end()) {}
XMLParser::XMLParser(const std::string& text) : data_(text.begin(), text.end()) {}

XMLParser::~XMLParser() {
  if (parser_) XML_ParserFree(expatOf(parser_));
}

void XMLParser::note() {
  if (!parser_) return;
  line_ = XML_GetCurrentLineNumber(expatOf(parser_));
  column_ = XML_GetCurrentColumnNumber(expatOf(parser_)) + 1;
}

void XMLParser::fail(int code, const std::string& what) {
  if (stopped_) return;
  stopped_ = true;
  Error e;
  e.domain = kErrorDomain;
  e.code = code;
  e.description = "XML error at line " + std::to_string(line_) + ", column " +
                  std::to_string(column_) + ": " + what;
  error_ = e;
  if (parser_) XML_StopParser(expatOf(parser_), XML_FALSE);
  if (delegate_) delegate_->parseErrorOccurred(*this, *error_);
}

void XMLParser::abortParsing() {
  if (!parsed_ || stopped_) return;
  note();
  fail(kAborted, "parsing was aborted");
}

bool XMLParser::parse() {
  if (parsed_) return false;
  parsed_ = true;
  // No forced encoding: the document's declaration (UTF-8 without one) holds.
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) {
    fail(kOutOfMemory, "the parser could not be made");
    return false;
  }
  parser_ = parser;
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, &Callbacks::startElement, &Callbacks::endElement);
  XML_SetCharacterDataHandler(parser, &Callbacks::characters);
  XML_SetStartDoctypeDeclHandler(parser, &Callbacks::startDoctype);
  XML_SetEntityDeclHandler(parser, &Callbacks::entityDecl);
  XML_SetExternalEntityRefHandler(parser, &Callbacks::externalEntity);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, 100.0f);
  XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, 1u << 20);

  std::size_t offset = 0;
  do {
    std::size_t n = std::min(kChunk, data_.size() - offset);
    bool last = offset + n == data_.size();
    XML_Status status = XML_Parse(parser, reinterpret_cast<const char*>(data_.data() + offset),
                                  static_cast<int>(n), last ? XML_TRUE : XML_FALSE);
    offset += n;
    if (stopped_) return false;
    if (status != XML_STATUS_OK) {
      XML_Error code = XML_GetErrorCode(parser);
      note();
      fail(code == XML_ERROR_NO_MEMORY ? kOutOfMemory : static_cast<int>(code),
           XML_ErrorString(code));
      return false;
    }
    if (last) break;
  } while (true);
  return !stopped_;
}

}  // namespace glowsnap
