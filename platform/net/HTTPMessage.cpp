#include "platform/net/HTTPMessage.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace glowsnap {

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool isTokenChar(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return ::strcasecmp(a.c_str(), b.c_str()) < 0;
}

bool HTTPMessage::isValidHeaderName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), isTokenChar);
}

bool HTTPMessage::isValidHeaderValue(const std::string& value) {
  return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::optional<HTTPMessage> HTTPMessage::createRequest(const std::string& method, const URL& url,
                                                      HTTPVersion version) {
  if (!isValidHeaderName(method)) return std::nullopt;
  if (url.scheme() != "http" && url.scheme() != "https") return std::nullopt;
  HTTPMessage m;
  m.request_ = true;
  m.method_ = method;
  m.url_ = url;
  m.version_ = version;
  m.complete_ = true;
  return m;
}

HTTPMessage HTTPMessage::createEmptyResponse() { return HTTPMessage(); }

bool HTTPMessage::setHeaderFieldValue(const std::string& name,
                                      const std::optional<std::string>& value) {
  if (!isValidHeaderName(name)) return false;
  if (value && !isValidHeaderValue(*value)) return false;
  auto it = std::find_if(fields_.begin(), fields_.end(),
                         [&](const auto& f) { return equalsIgnoringCase(f.first, name); });
  if (!value) {
    if (it != fields_.end()) fields_.erase(it);
    return true;
  }
  if (it != fields_.end()) {
    it->first = name;
    it->second = *value;
  } else {
    fields_.emplace_back(name, *value);
  }
  return true;
}

void HTTPMessage::addReceivedHeaderField(std::string name, std::string value) {
  fields_.emplace_back(std::move(name), std::move(value));
}

void HTTPMessage::continueLastReceivedField(const std::string& text) {
  if (!fields_.empty()) fields_.back().second += " " + text;
}

std::optional<std::string> HTTPMessage::headerFieldValue(const std::string& name) const {
  auto all = allHeaderFields();
  auto it = all.find(name);
  if (it == all.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> HTTPMessage::headerFieldValues(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& [n, v] : fields_)
    if (equalsIgnoringCase(n, name)) out.push_back(v);
  return out;
}

HTTPHeaderFields HTTPMessage::allHeaderFields() const {
  HTTPHeaderFields all;
  for (const auto& [name, value] : fields_) {
    auto [it, inserted] = all.emplace(name, value);
    if (!inserted) it->second += ", " + value;
  }
  return all;
}

void HTTPMessage::resetResponse() {
  fields_.clear();
  complete_ = false;
  status_ = 0;
  statusLine_.clear();
}

void HTTPMessage::setEngineAuthentication(bool proxy,
                                          std::optional<EngineAuthentication> authentication) {
  (proxy ? proxyEngineAuthentication_ : engineAuthentication_) = std::move(authentication);
}

}  // namespace glowsnap
