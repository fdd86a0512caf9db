#include "cli/FilterNames.h"

#include <gtest/gtest.h>

namespace glowsnap::cli {
namespace {

TEST(FilterNames, EveryListedNameFindsItsFilter) {
  for (const auto& list : {FilterNames::offered(), FilterNames::library()})
    for (const auto& name : list) {
      auto* f = FilterNames::find(name);
      ASSERT_NE(f, nullptr) << name;
      EXPECT_EQ(f->get_name(), name);
    }
  EXPECT_EQ(FilterNames::offered().size(), 8u);
  EXPECT_EQ(FilterNames::library().size(), 3u);
  EXPECT_NE(FilterNames::find(FilterNames::defaultFilter()), nullptr);
}

TEST(FilterNames, LookupIsExactButSuggestionsForgiveCaseAndTypos) {
  EXPECT_EQ(FilterNames::find("hdr classic"), nullptr);
  EXPECT_EQ(FilterNames::find("HDR Classic "), nullptr);
  EXPECT_EQ(FilterNames::closest("hdr classic"), "HDR Classic");
  EXPECT_EQ(FilterNames::closest("HDR Colour+"), "HDR Color+");
  EXPECT_EQ(FilterNames::closest("blom"), "Bloom");
  EXPECT_EQ(FilterNames::closest("flashlow"), "Flash Low");
}

}  // namespace
}  // namespace glowsnap::cli
