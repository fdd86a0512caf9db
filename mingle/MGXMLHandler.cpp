#include "mingle/MGXMLHandler.h"

#include <cstdint>

namespace glowsnap {

namespace {

bool isWhitespaceCodePoint(std::uint32_t c) {
  switch (c) {
    case 0x09:
    case 0x0a:
    case 0x0b:
    case 0x0c:
    case 0x0d:
    case 0x20:
    case 0x85:
    case 0xa0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202f:
    case 0x205f:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200a;
  }
}

}  // namespace

bool MGXMLHandler::hasVisibleCharacters(const std::string& text) {
  // Expat hands over valid UTF-8; anything else counts as visible.
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::uint32_t c = 0;
    std::size_t extra = 0;
    if (byte < 0x80) {
      c = byte;
    } else if (byte >= 0xf0) {
      c = byte & 0x07u;
      extra = 3;
    } else if (byte >= 0xe0) {
      c = byte & 0x0fu;
      extra = 2;
    } else if (byte >= 0xc0) {
      c = byte & 0x1fu;
      extra = 1;
    } else {
      return true;
    }
    if (i + extra >= text.size() && extra > 0) return true;
    for (std::size_t k = 1; k <= extra; ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3fu);
    if (!isWhitespaceCodePoint(c)) return true;
    i += 1 + extra;
  }
  return false;
}

MGValue& MGXMLHandler::topObject(bool makeDictionary) {
  MGValue& top = _stack.back();
  if (makeDictionary && top.isNull()) top = MGDictionary();
  return top;
}

MGValue* MGXMLHandler::topContainer() {
  if (_stack.size() < 2) return nullptr;
  MGValue& parent = _stack[_stack.size() - 2];
  if (parent.isNull()) parent = MGDictionary();
  return &parent;
}

void MGXMLHandler::flushCharacters() {
  if (_chars && !_stack.empty() && hasVisibleCharacters(*_chars)) {
    MGValue* parent = topContainer();
    if (parent && parent->isList()) {
      MGDictionary entry;
      entry.set(topName(), MGValue(std::move(*_chars)));
      _stack.back() = std::move(entry);
    } else {
      _stack.back() = MGValue(std::move(*_chars));
    }
  }
  _chars.reset();
}

void MGXMLHandler::didStartElement(XMLParser&, const std::string& elementName, const std::string&,
                                   const std::string&,
                                   const std::map<std::string, std::string>& attributes) {
  flushCharacters();
  auto list = attributes.find("list");
  if (list != attributes.end() && list->second == "true")
    _stack.emplace_back(MGList());
  else
    _stack.emplace_back();
  _nameStack.push_back(elementName);
}

void MGXMLHandler::didEndElement(XMLParser&, const std::string&, const std::string&,
                                 const std::string&) {
  if (_stack.empty()) return;
  flushCharacters();
  MGValue value = std::move(_stack.back());
  std::string name = std::move(_nameStack.back());
  _stack.pop_back();
  _nameStack.pop_back();
  if (_stack.empty()) {
    _rootObject = std::move(value);
    _rootName = std::move(name);
    return;
  }
  MGValue& parent = topObject(true);
  if (MGList* list = parent.list())
    list->push_back(std::move(value));
  else if (MGDictionary* dictionary = parent.dictionary())
    dictionary->set(std::move(name), std::move(value));
  // A parent that already holds text keeps it.
}

void MGXMLHandler::foundCharacters(XMLParser&, const std::string& text) {
  if (_chars)
    *_chars += text;
  else
    _chars = text;
}

void MGXMLHandler::parseErrorOccurred(XMLParser&, const Error& error) { _parseError = error; }

}  // namespace glowsnap
