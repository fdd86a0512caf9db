// The catalogue: eight offered filters in a fixed order, exact look-ups,
// library filters reachable only through the separate look-up.
#include "filters/FilterCatalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FilterHarness.h"
#include "support/TestImages.h"

namespace glowsnap {
namespace {

TEST(FilterCatalogue, EightFiltersInTheirFixedOrder) {
  int owner = 0;
  FilterCatalogue catalogue(&owner);
  const std::vector<std::string> expected = {"HDR Classic",    "HDR Color+",      "Bloom",
                                             "HDR Night mode", "Art Contour HDR", "Soft Edges HDR",
                                             "More Contrast",  "More Colors"};
  EXPECT_EQ(catalogue.offeredNames(), expected);
  const std::vector<int> passes = {4, 6, 6, 6, 6, 6, 1, 1};
  ASSERT_EQ(catalogue.filters().size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(catalogue.filters()[i]->get_num_passes(), passes[i]) << expected[i];
    EXPECT_EQ(catalogue.filters()[i]->owner(), &owner);
    EXPECT_EQ(catalogue.filters()[i]->max_res(), 800);
  }
  const std::set<std::string> names = catalogue.get_pp_names();
  EXPECT_EQ(names.size(), 8u);
  EXPECT_EQ(names, std::set<std::string>(expected.begin(), expected.end()));
  // Sorted by plain comparison, as the picker shows them.
  EXPECT_EQ(*names.begin(), "Art Contour HDR");
  EXPECT_EQ(*names.rbegin(), "Soft Edges HDR");
}

TEST(FilterCatalogue, LookUpIsExactAndOffersNoLibraryFilter) {
  FilterCatalogue catalogue;
  PostProcess* classic = catalogue.get_pp_with_name("HDR Classic");
  ASSERT_NE(classic, nullptr);
  EXPECT_EQ(classic, catalogue.filters()[0].get());
  EXPECT_EQ(catalogue.get_pp_with_name("hdr classic"), nullptr);
  EXPECT_EQ(catalogue.get_pp_with_name("HDR Classic "), nullptr);
  EXPECT_EQ(catalogue.get_pp_with_name(""), nullptr);
  for (const char* name : {"Denoise", "Normalize", "Flash Low"}) {
    EXPECT_EQ(catalogue.get_pp_with_name(name), nullptr) << name;
    PostProcess* library = catalogue.findAnyFilter(name);
    ASSERT_NE(library, nullptr) << name;
    EXPECT_EQ(library->get_name(), name);
    EXPECT_EQ(library->get_num_passes(), 1);
    EXPECT_TRUE(catalogue.isLibraryFilter(name));
    EXPECT_EQ(catalogue.get_pp_names().count(name), 0u);
  }
  EXPECT_EQ(catalogue.libraryFilterNames(),
            (std::vector<std::string>{"Denoise", "Normalize", "Flash Low"}));
  EXPECT_EQ(catalogue.findAnyFilter("More Colors"), catalogue.get_pp_with_name("More Colors"));
  EXPECT_FALSE(catalogue.isLibraryFilter("More Colors"));
  EXPECT_EQ(catalogue.findAnyFilter("flash low"), nullptr);
}

TEST(FilterCatalogue, ALookedUpFilterIsTheListsOwnObjectAndKeepsItsRun) {
  // The catalogue holds one object per filter and hands out that one, so a
  // result stays with the object every later look-up finds.
  FilterCatalogue catalogue;
  PostProcess* bloom = catalogue.get_pp_with_name("Bloom");
  ASSERT_EQ(bloom, catalogue.filters()[2].get());
  ImageRef result = test::applyFilter(*bloom, test::photoLikeImage(20, 14, 3));
  ASSERT_TRUE(result);
  EXPECT_EQ(catalogue.get_pp_with_name("Bloom")->get_result(), result);
  EXPECT_EQ(catalogue.findAnyFilter("Bloom")->get_result(), result);
}

TEST(FilterCatalogue, EveryFilterTakesTheFastPath) {
  FilterCatalogue catalogue;
  std::vector<PostProcess*> all;
  for (const auto& f : catalogue.filters()) all.push_back(f.get());
  for (const auto& f : catalogue.libraryFilters()) all.push_back(f.get());
  ASSERT_EQ(all.size(), 11u);
  for (PostProcess* filter : all) {
    EXPECT_EQ(filter->traversal(), Traversal::Fast) << filter->get_name();
    ASSERT_TRUE(test::applyFilter(*filter, test::photoLikeImage(33, 21, 8)));
    EXPECT_EQ(filter->passes_walked_plainly(), 0) << filter->get_name() << " was walked plainly";
    // The count does count: the plain traversal walks every pass plainly.
    filter->set_traversal(Traversal::Plain);
    ASSERT_TRUE(test::applyFilter(*filter, test::photoLikeImage(9, 7, 8)));
    EXPECT_EQ(filter->passes_walked_plainly(), filter->get_num_passes()) << filter->get_name();
  }
}

TEST(FilterCatalogue, ResolutionReachesEveryFilter) {
  FilterCatalogue catalogue;
  catalogue.set_max_res(1600);
  for (const auto& f : catalogue.filters()) EXPECT_EQ(f->max_res(), 1600);
  for (const auto& f : catalogue.libraryFilters()) EXPECT_EQ(f->max_res(), 1600);
}

}  // namespace
}  // namespace glowsnap
