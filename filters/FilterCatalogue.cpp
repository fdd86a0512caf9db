#include "filters/FilterCatalogue.h"

#include "engine/PostProcessFilter.h"

#include "filters/PP_Denoise.h"
#include "filters/PP_FlashLow.h"
#include "filters/PP_HDR.h"
#include "filters/PP_HDR2.h"
#include "filters/PP_HDR3.h"
#include "filters/PP_HDR4.h"
#include "filters/PP_HDR5.h"
#include "filters/PP_HDR6.h"
#include "filters/PP_MoreColors.h"
#include "filters/PP_MoreContrast.h"
#include "filters/PP_Normalize.h"

namespace glowsnap {

namespace {

template <typename Filter>
std::unique_ptr<PostProcess> make(void* owner) {
  static_assert(WrittenForFastTraversal<Filter>,
                "a catalogue filter derives from PostProcessFilter (or MaskRecipeFilter), so that "
                "no pass of a fast run is walked plainly");
  auto filter = std::make_unique<Filter>();
  filter->init(owner);
  return filter;
}

PostProcess* findIn(const std::vector<std::unique_ptr<PostProcess>>& list,
                    const std::string& name) {
  for (const auto& filter : list) {
    if (filter->get_name() == name) return filter.get();
  }
  return nullptr;
}

}  // namespace

FilterCatalogue::FilterCatalogue(void* owner) {
  m_pp.push_back(make<PP_HDR4>(owner));
  m_pp.push_back(make<PP_HDR>(owner));
  m_pp.push_back(make<PP_HDR2>(owner));
  m_pp.push_back(make<PP_HDR3>(owner));
  m_pp.push_back(make<PP_HDR5>(owner));
  m_pp.push_back(make<PP_HDR6>(owner));
  m_pp.push_back(make<PP_MoreContrast>(owner));
  m_pp.push_back(make<PP_MoreColors>(owner));

  m_library.push_back(make<PP_Denoise>(owner));
  m_library.push_back(make<PP_Normalize>(owner));
  m_library.push_back(make<PP_FlashLow>(owner));
}

FilterCatalogue::~FilterCatalogue() = default;

PostProcess* FilterCatalogue::get_pp_with_name(const std::string& name) const {
  return findIn(m_pp, name);
}

std::set<std::string> FilterCatalogue::get_pp_names() const {
  std::set<std::string> names;
  for (const auto& filter : m_pp) names.insert(filter->get_name());
  return names;
}

std::vector<std::string> FilterCatalogue::offeredNames() const {
  std::vector<std::string> names;
  for (const auto& filter : m_pp) names.push_back(filter->get_name());
  return names;
}

std::vector<std::string> FilterCatalogue::libraryFilterNames() const {
  std::vector<std::string> names;
  for (const auto& filter : m_library) names.push_back(filter->get_name());
  return names;
}

PostProcess* FilterCatalogue::findAnyFilter(const std::string& name) const {
  if (PostProcess* filter = findIn(m_pp, name)) return filter;
  return findIn(m_library, name);
}

bool FilterCatalogue::isLibraryFilter(const std::string& name) const {
  return findIn(m_library, name) != nullptr;
}

void FilterCatalogue::set_max_res(int max_res) {
  for (const auto& filter : m_pp) filter->set_max_res(max_res);
  for (const auto& filter : m_library) filter->set_max_res(max_res);
}

}  // namespace glowsnap
