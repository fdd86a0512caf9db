// A look that exists only here, stated as a mask recipe with the engine's
// vocabulary and a snapshot reader of its own: it gets the fast plan without
// anything in the engine knowing it, and the plan gives the plain walk's
// bytes and notifications.
#include "engine/MaskRecipe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/EngineRun.h"
#include "support/ImageCompare.h"
#include "support/TestImages.h"

namespace glowsnap {
namespace {

using test::runFilterOnWorker;

// The look's snapshot reads like get_pixel (the HDR family divides instead).
constexpr auto kTimesInverse = [](std::uint8_t b) { return static_cast<float>(b) * kByteToUnit; };
// Another reader, reading every byte a little darker.
constexpr auto kDarker = [](std::uint8_t b) { return static_cast<float>(b) / 256.0f; };

// The twelfth look: a grey mask blurred twice, half of it mixed into the
// photo (saving the mask), the blue channel then scaled by the saved mask,
// and that image darkened along its own edges.
template <auto kReader>
class GlowLines : public MaskRecipeFilter<GlowLines<kReader>> {
 public:
  std::string get_name() const override { return "Glow Lines"; }
  static constexpr auto recipe() {
    return mask_recipe(
        kReader, steps::mask([](rgb_color p) { return grey_of(p); }), steps::blur(1.5f, 2),
        steps::saving_mask(steps::combine([](const auto& px) {
          const rgb_color m = px.mask(), s = px.photo();
          return rgb_color{s.r * 0.5f + m.r * 0.5f, s.g * 0.5f + m.g * 0.5f, s.b + m.b * 0.25f};
        })),
        steps::combine([](const auto& px) {
          const rgb_color c = px.pixel();
          return rgb_color{c.r, c.g, c.b * px.saved_mask().r};
        }),
        steps::combine_with_edges(1.0f, [](const auto& px, float e) {
          const rgb_color c = px.pixel();
          return rgb_color{c.r * (1.0f - e), c.g * (1.0f - e), c.b};
        }));
  }
};
using TwelfthLook = GlowLines<kTimesInverse>;

static_assert(WrittenForFastTraversal<TwelfthLook>);

// What each step may read follows from where it stands.
using Layout = decltype(TwelfthLook::recipe())::Layout;
// Steps 2 to 4 combine: the first reads the mask and the photo, the
// second what the first wrote and the mask it saved, the last (edges over
// that image, written where the mask was) only the image.
static_assert(Layout::reads(2).mask && Layout::reads(2).photo && !Layout::reads(2).pixel);
static_assert(!Layout::reads(3).mask && !Layout::reads(3).photo && Layout::reads(3).pixel &&
              Layout::reads(3).saved_mask);
static_assert(Layout::over_image(4) && !Layout::reads(4).saved_mask && Layout::reads(4).pixel);

void expectFastIsPlain(PostProcess& filter, const ImageRef& photo) {
  filter.set_max_res(2048);
  filter.set_traversal(Traversal::Plain);
  const test::EngineRunRecord plain = runFilterOnWorker(filter, photo);
  EXPECT_EQ(filter.passes_walked_plainly(), 6);
  filter.set_traversal(Traversal::Fast);
  const test::EngineRunRecord fast = runFilterOnWorker(filter, photo);
  EXPECT_EQ(filter.passes_walked_plainly(), 0) << "the fast run walked a pass plainly";
  ASSERT_TRUE(plain.result && fast.result);
  EXPECT_TRUE(test::imagesEqual(*fast.result, *plain.result))
      << photo->width() << " x " << photo->height();
  EXPECT_EQ(fast.events, plain.events);
}

TEST(MaskRecipe, ALookDefinedOutsideTheEngineGetsTheFastPathWithThePlainBytes) {
  TwelfthLook look;
  EXPECT_EQ(look.get_num_passes(), 6);
  std::uint32_t seed = 21;
  for (const auto& [w, h] : {std::pair{1, 1}, {4, 3}, {7, 7}, {61, 37}, {240, 130}})
    expectFastIsPlain(look, test::photoLikeImage(w, h, seed++));
  expectFastIsPlain(look, test::extremesImage(97, 64));
  expectFastIsPlain(look, test::randomTranslucentImage(64, 33, 9));
}

TEST(MaskRecipe, BothTraversalsReadTheSnapshotWithTheLooksOwnReader) {
  // The same look with the other reader gives other bytes, in both
  // traversals alike: the plan does not bring a reader of its own.
  GlowLines<kDarker> other;
  expectFastIsPlain(other, test::photoLikeImage(90, 60, 2));
  TwelfthLook look;
  look.set_max_res(2048);
  const ImageRef photo = test::photoLikeImage(90, 60, 2);
  const ImageRef withOwnReader = runFilterOnWorker(look, photo).result;
  const ImageRef withOtherReader = runFilterOnWorker(other, photo).result;
  ASSERT_TRUE(withOwnReader && withOtherReader);
  EXPECT_FALSE(test::imagesEqual(*withOwnReader, *withOtherReader));
}

}  // namespace
}  // namespace glowsnap
