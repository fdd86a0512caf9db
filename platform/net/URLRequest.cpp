#include "platform/net/URLRequest.h"

#include <strings.h>

#include <algorithm>

namespace glowsnap {

void URLRequest::setValue(const std::optional<std::string>& value, const std::string& field) {
  auto same = [&](const auto& entry) {
    return ::strcasecmp(entry.first.c_str(), field.c_str()) == 0;
  };
  auto it = std::find_if(headers_.begin(), headers_.end(), same);
  if (!value) {
    if (it != headers_.end()) headers_.erase(it);
    return;
  }
  if (it != headers_.end())
    it->second = *value;
  else
    headers_.emplace_back(field, *value);
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(const std::string& field) const {
  for (const auto& [name, value] : headers_)
    if (::strcasecmp(name.c_str(), field.c_str()) == 0) return value;
  return std::nullopt;
}

}  // namespace glowsnap
