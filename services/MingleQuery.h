// MingleQuery: the small query language of "mingle.query":
//
//   select FIELD[,FIELD...] from TABLE where FIELD == NUMBER
//
// ("=" works as well as "=="; words are not case-sensitive). Tables: "user"
// (uid, name, photo_count, profile_url) keyed by uid, and "photo" (pid,
// aid, owner, src, caption, created) keyed by owner or pid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"

namespace glowsnap::services {

struct MingleQuery {
  std::vector<std::string> fields;
  std::string table;
  std::string whereField;
  std::int64_t whereValue = 0;

  // The fields a table offers and those it may be selected by.
  static const std::vector<std::string>& fieldsOf(const std::string& table);
  static const std::vector<std::string>& keysOf(const std::string& table);

  // The query, or an error saying what is wrong with the text.
  static Result<MingleQuery> parse(const std::string& text);
};

}  // namespace glowsnap::services
