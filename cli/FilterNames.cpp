#include "cli/FilterNames.h"

#include <algorithm>
#include <cctype>

#include "filters/FilterCatalogue.h"

namespace glowsnap::cli {
namespace {

const FilterCatalogue& catalogue() {
  static FilterCatalogue instance;
  return instance;
}

std::string lower(const std::string& s) {
  std::string out = s;
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<std::string> FilterNames::offered() { return catalogue().offeredNames(); }

std::vector<std::string> FilterNames::library() { return catalogue().libraryFilterNames(); }

std::string FilterNames::defaultFilter() { return "HDR Classic"; }

PostProcess* FilterNames::find(const std::string& name) { return catalogue().findAnyFilter(name); }

std::string FilterNames::closest(const std::string& name) {
  std::string best;
  std::size_t bestDistance = 0;
  auto consider = [&](const std::string& candidate) {
    std::size_t d = editDistance(lower(name), lower(candidate));
    if (best.empty() || d < bestDistance) {
      best = candidate;
      bestDistance = d;
    }
  };
  for (const auto& n : offered()) consider(n);
  for (const auto& n : library()) consider(n);
  return best;
}

}  // namespace glowsnap::cli
