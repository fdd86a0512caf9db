#include "services/MingleQuery.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>

namespace glowsnap::services {

namespace {

Error queryError(std::string description) {
  Error e;
  e.domain = "GlowsnapServicesQuery";
  e.code = 1;
  e.description = std::move(description);
  return e;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Words, numbers and the punctuation "," "=" "==".
std::vector<std::string> tokens(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (std::isalnum(c) || c == '_' || c == '-') {
      std::size_t j = i;
      while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) ||
                                 text[j] == '_' || text[j] == '-'))
        ++j;
      out.push_back(text.substr(i, j - i));
      i = j;
    } else if (c == '=') {
      bool twice = i + 1 < text.size() && text[i + 1] == '=';
      out.push_back(twice ? "==" : "=");
      i += twice ? 2 : 1;
    } else {
      out.push_back(std::string(1, static_cast<char>(c)));
      ++i;
    }
  }
  return out;
}

const std::map<std::string, std::vector<std::string>>& tableFields() {
  static const std::map<std::string, std::vector<std::string>> fields = {
      {"user", {"uid", "name", "photo_count", "profile_url"}},
      {"photo", {"pid", "aid", "owner", "src", "caption", "created"}},
  };
  return fields;
}

}  // namespace

const std::vector<std::string>& MingleQuery::fieldsOf(const std::string& table) {
  static const std::vector<std::string> none;
  auto it = tableFields().find(table);
  return it == tableFields().end() ? none : it->second;
}

const std::vector<std::string>& MingleQuery::keysOf(const std::string& table) {
  static const std::vector<std::string> user = {"uid"};
  static const std::vector<std::string> photo = {"owner", "pid"};
  static const std::vector<std::string> none;
  return table == "user" ? user : table == "photo" ? photo : none;
}

Result<MingleQuery> MingleQuery::parse(const std::string& text) {
  if (text.size() > 1000) return queryError("the query is longer than 1000 characters");
  auto t = tokens(text);
  std::size_t i = 0;
  auto word = [&](const char* expected) {
    return i < t.size() && lower(t[i]) == expected ? (++i, true) : false;
  };
  MingleQuery q;
  if (!word("select")) return queryError("a query starts with \"select\"");
  do {
    if (i >= t.size()) return queryError("the query ends where a field name should be");
    q.fields.push_back(lower(t[i++]));
  } while (i < t.size() && t[i] == "," && ++i);
  if (!word("from")) return queryError("\"from\" must follow the field names");
  if (i >= t.size()) return queryError("the query names no table");
  q.table = lower(t[i++]);
  const auto& fields = fieldsOf(q.table);
  if (fields.empty()) return queryError("there is no table \"" + q.table + "\"");
  for (const auto& f : q.fields)
    if (f != "*" && std::find(fields.begin(), fields.end(), f) == fields.end())
      return queryError("the table \"" + q.table + "\" has no field \"" + f + "\"");
  if (!word("where")) return queryError("a query needs a \"where\" part");
  if (i >= t.size()) return queryError("\"where\" must name a field");
  q.whereField = lower(t[i++]);
  const auto& keys = keysOf(q.table);
  if (std::find(keys.begin(), keys.end(), q.whereField) == keys.end())
    return queryError("\"" + q.table + "\" cannot be selected by \"" + q.whereField + "\"");
  if (i >= t.size() || (t[i] != "==" && t[i] != "="))
    return queryError("\"==\" must follow \"" + q.whereField + "\"");
  ++i;
  if (i >= t.size()) return queryError("the query ends where a number should be");
  const std::string& number = t[i++];
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(number.c_str(), &end, 10);
  if (errno != 0 || !end || *end != '\0' || number.empty())
    return queryError("\"" + number + "\" is not a number");
  q.whereValue = value;
  if (i != t.size()) return queryError("the query goes on after its end: \"" + t[i] + "\"");
  if (std::find(q.fields.begin(), q.fields.end(), "*") != q.fields.end()) q.fields = fields;
  return q;
}

}  // namespace glowsnap::services
