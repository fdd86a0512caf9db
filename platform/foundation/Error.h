// An error value as the libraries report it: a domain, a code, a readable
// description, an optional underlying error and extra information.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace glowsnap {

struct Error {
  std::string domain;
  int code = 0;
  std::string description;
  std::shared_ptr<const Error> underlying;
  std::map<std::string, std::string> userInfo;

  const std::string& localizedDescription() const { return description; }
};

}  // namespace glowsnap
