// FilterCatalogue: the filters a user can choose from and the look-ups the
// rest of the system makes on them. It owns one object per filter for its
// whole life, so every run of a filter reuses the same object.
//
// The eight offered looks are kept in their fixed order. The three library
// filters (Denoise, Normalize, Flash Low) are kept apart: the command line
// can reach them by name, but get_pp_with_name() and get_pp_names() never
// offer them.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/PostProcess.h"

namespace glowsnap {

class FilterCatalogue {
 public:
  // Creates every filter with init(owner); the owner is only remembered.
  explicit FilterCatalogue(void* owner = nullptr);
  ~FilterCatalogue();
  FilterCatalogue(const FilterCatalogue&) = delete;
  FilterCatalogue& operator=(const FilterCatalogue&) = delete;

  // The offered filters, first "HDR Classic", last "More Colors".
  const std::vector<std::unique_ptr<PostProcess>>& filters() const { return m_pp; }

  // The offered filter whose name equals name exactly (case and blanks
  // count), or null.
  PostProcess* get_pp_with_name(const std::string& name) const;
  // The display names of the offered filters.
  std::set<std::string> get_pp_names() const;
  // The same names in catalogue order.
  std::vector<std::string> offeredNames() const;

  // The library filters, never offered: "Denoise", "Normalize", "Flash Low".
  const std::vector<std::unique_ptr<PostProcess>>& libraryFilters() const { return m_library; }
  std::vector<std::string> libraryFilterNames() const;
  // An offered or library filter by exact name, or null.
  PostProcess* findAnyFilter(const std::string& name) const;
  bool isLibraryFilter(const std::string& name) const;

  // Applies the working resolution to every filter, offered or not.
  void set_max_res(int max_res);

 private:
  std::vector<std::unique_ptr<PostProcess>> m_pp;
  std::vector<std::unique_ptr<PostProcess>> m_library;
};

}  // namespace glowsnap
