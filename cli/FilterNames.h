// FilterNames: the filters the command line offers, found by display name,
// and the closest name to a misspelt one.
#pragma once

#include <string>
#include <vector>

#include "engine/PostProcess.h"

namespace glowsnap::cli {

class FilterNames {
 public:
  // The eight offered filters in catalogue order.
  static std::vector<std::string> offered();
  // The library filters the application never offers.
  static std::vector<std::string> library();
  // What `apply` uses when no filter is named.
  static std::string defaultFilter();
  // The filter object for an exact, case-sensitive display name of either
  // list, owned by the command line's catalogue; null for any other name.
  static PostProcess* find(const std::string& name);
  // The known name nearest to name (case-insensitive edit distance).
  static std::string closest(const std::string& name);
};

}  // namespace glowsnap::cli
