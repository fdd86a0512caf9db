#include "mingle/MGValue.h"

#include <algorithm>

namespace glowsnap {

const MGValue* MGDictionary::find(std::string_view key) const {
  for (const auto& entry : entries_)
    if (entry.first == key) return &entry.second;
  return nullptr;
}

MGValue* MGDictionary::find(std::string_view key) {
  for (auto& entry : entries_)
    if (entry.first == key) return &entry.second;
  return nullptr;
}

void MGDictionary::set(std::string key, MGValue value) {
  if (MGValue* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

bool MGDictionary::operator==(const MGDictionary& other) const {
  if (size() != other.size()) return false;
  return std::all_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    const MGValue* theirs = other.find(entry.first);
    return theirs && *theirs == entry.second;
  });
}

const MGValue* MGValue::operator[](std::string_view key) const {
  const MGDictionary* d = dictionary();
  return d ? d->find(key) : nullptr;
}

std::optional<std::string> MGValue::stringForKey(std::string_view key) const {
  const MGValue* value = (*this)[key];
  if (!value || !value->string()) return std::nullopt;
  return *value->string();
}

std::string MGValue::description() const {
  switch (kind()) {
    case Kind::Null:
      return "null";
    case Kind::String: {
      std::string out = "\"";
      for (char c : *string()) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
      return out + "\"";
    }
    case Kind::Dictionary: {
      std::string out = "{";
      bool first = true;
      for (const auto& [key, value] : *dictionary()) {
        if (!first) out += ", ";
        first = false;
        out += key + ": " + value.description();
      }
      return out + "}";
    }
    case Kind::List: {
      std::string out = "[";
      bool first = true;
      for (const auto& value : *list()) {
        if (!first) out += ", ";
        first = false;
        out += value.description();
      }
      return out + "]";
    }
  }
  return {};
}

}  // namespace glowsnap
