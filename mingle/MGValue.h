// MGValue: the plain values a Mingle answer becomes: a string, a dictionary
// keyed by element name, a list, or the null marker that stands for an
// empty element.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace glowsnap {

class MGValue;

// Keys are unique; setting a key again replaces its value in place. Entries
// keep the order they were first set in.
class MGDictionary {
 public:
  using Entry = std::pair<std::string, MGValue>;

  const MGValue* find(std::string_view key) const;
  MGValue* find(std::string_view key);
  void set(std::string key, MGValue value);
  using const_iterator = std::vector<Entry>::const_iterator;
  std::size_t size() const;
  bool empty() const;
  const_iterator begin() const;
  const_iterator end() const;
  bool operator==(const MGDictionary& other) const;

 private:
  std::vector<Entry> entries_;
};

using MGList = std::vector<MGValue>;

class MGValue {
 public:
  enum class Kind { Null, String, Dictionary, List };

  // The null marker.
  MGValue() = default;
  static MGValue null() { return MGValue(); }
  MGValue(std::string text) : v_(std::move(text)) {}    // NOLINT(google-explicit-constructor)
  MGValue(const char* text) : v_(std::string(text)) {}  // NOLINT(google-explicit-constructor)
  MGValue(MGDictionary dictionary) : v_(std::move(dictionary)) {}  // NOLINT
  MGValue(MGList list) : v_(std::move(list)) {}  // NOLINT(google-explicit-constructor)

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isNull() const { return kind() == Kind::Null; }
  bool isString() const { return kind() == Kind::String; }
  bool isDictionary() const { return kind() == Kind::Dictionary; }
  bool isList() const { return kind() == Kind::List; }

  // The held value, or null when the value is of another kind.
  const std::string* string() const { return std::get_if<std::string>(&v_); }
  const MGDictionary* dictionary() const { return std::get_if<MGDictionary>(&v_); }
  MGDictionary* dictionary() { return std::get_if<MGDictionary>(&v_); }
  const MGList* list() const { return std::get_if<MGList>(&v_); }
  MGList* list() { return std::get_if<MGList>(&v_); }

  // In a dictionary: the entry under key, or null.
  const MGValue* operator[](std::string_view key) const;
  // In a dictionary: the string under key, or nothing.
  std::optional<std::string> stringForKey(std::string_view key) const;

  bool operator==(const MGValue& other) const { return v_ == other.v_; }

  // A compact, readable rendering for messages and tests: strings quoted,
  // {a: "1", b: null}, ["x"].
  std::string description() const;

 private:
  std::variant<std::monostate, std::string, MGDictionary, MGList> v_;
};

// Defined here, where MGValue is complete.
inline std::size_t MGDictionary::size() const { return entries_.size(); }
inline bool MGDictionary::empty() const { return entries_.empty(); }
inline MGDictionary::const_iterator MGDictionary::begin() const { return entries_.begin(); }
inline MGDictionary::const_iterator MGDictionary::end() const { return entries_.end(); }

}  // namespace glowsnap
