// Where the mask traversal looks for a pixel's neighbours: the tables must
// say what do_blur and do_edge_detection compute, and the stretch read at
// fixed offsets must hold nothing else.
#include "engine/MaskPlanes.h"

#include <gtest/gtest.h>

namespace glowsnap {
namespace {

struct Expected {
  float radius;
  int kl, kr;
};

TEST(NeighbourReach, InteriorOffsetsFollowTheTruncatedRadius) {
  // A fractional radius reaches one column further on the left than on the
  // right, as truncation toward zero gives.
  for (const Expected& e :
       {Expected{1.0f, 1, 1}, Expected{1.1f, 2, 1}, Expected{2.0f, 2, 2}, Expected{2.5f, 3, 2}}) {
    NeighbourReach reach;
    reach.compute(e.radius, 100, 50);
    EXPECT_EQ(reach.kl, e.kl) << e.radius;
    EXPECT_EQ(reach.kr, e.kr) << e.radius;
    EXPECT_EQ(reach.xa, e.kl) << e.radius;
    EXPECT_EQ(reach.xb, 100 - e.kr) << e.radius;
  }
}

TEST(NeighbourReach, TablesAreTheOperationsOwnCoordinatesAndTheInteriorHoldsOnlyRegularColumns) {
  static constexpr float kOffset[3] = {-1.0f, 0.0f, 1.0f};
  for (float radius : {1.0f, 1.1f, 2.0f, 2.5f, 0.4f, 3.7f}) {
    for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 61, 2048}) {
      const int h = w % 13 + 1;
      NeighbourReach reach;
      reach.compute(radius, w, h);
      for (int k = 0; k < 3; ++k) {
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(reach.col[k][static_cast<std::size_t>(x)],
                    static_cast<int>(radius * kOffset[k] + static_cast<float>(x)));
        for (int y = 0; y < h; ++y)
          ASSERT_EQ(reach.row[k][static_cast<std::size_t>(y)],
                    static_cast<int>(radius * kOffset[k] + static_cast<float>(y)));
      }
      ASSERT_LE(0, reach.xa);
      ASSERT_LE(reach.xa, reach.xb);
      ASSERT_LE(reach.xb, w);
      for (int x = reach.xa; x < reach.xb; ++x) {
        const std::size_t i = static_cast<std::size_t>(x);
        ASSERT_EQ(reach.col[0][i], x - reach.kl) << radius << " " << w << " " << x;
        ASSERT_EQ(reach.col[1][i], x);
        ASSERT_EQ(reach.col[2][i], x + reach.kr);
        ASSERT_GE(reach.col[0][i], 0);
        ASSERT_LT(reach.col[2][i], w);
      }
    }
  }
}

TEST(NeighbourReach, ANarrowRowHasNoInterior) {
  NeighbourReach reach;
  reach.compute(2.5f, 3, 3);
  EXPECT_EQ(reach.xa, reach.xb);
  reach.compute(1.0f, 1, 1);
  EXPECT_EQ(reach.xa, reach.xb);
}

}  // namespace
}  // namespace glowsnap
