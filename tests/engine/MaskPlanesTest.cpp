// Where the mask traversal looks for a pixel's neighbours: the tables must
// say what do_blur and do_edge_detection compute, and the stretch read at
// fixed offsets must hold nothing else.
#include "engine/MaskPlanes.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(NeighbourReach, TablesHoldTheTruncatedCoordinatesNearTheEdges) {
  // The coordinates truncation toward zero gives, worked out by hand: at
  // 2.5 the left neighbour of columns 2 and 3 is column 0 (−0.5 and 0.5
  // truncate to 0), of column 0 it is −2; at 1.1 the left neighbour of
  // column 1 is 0 (−0.1), of column 5 it is 3, the right one always x + 1.
  struct Case {
    float radius;
    std::vector<int> left, right;
  };
  for (const Case& c : {Case{2.5f, {-2, -1, 0, 0, 1, 2, 3, 4}, {2, 3, 4, 5, 6, 7, 8, 9}},
                        Case{1.1f, {-1, 0, 0, 1, 2, 3, 4, 5}, {1, 2, 3, 4, 5, 6, 7, 8}},
                        Case{1.0f, {-1, 0, 1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6, 7, 8}},
                        Case{2.0f, {-2, -1, 0, 1, 2, 3, 4, 5}, {2, 3, 4, 5, 6, 7, 8, 9}}}) {
    NeighbourReach reach;
    reach.compute(c.radius, 8, 8);
    EXPECT_EQ(reach.col[0], c.left) << c.radius;
    EXPECT_EQ(reach.row[0], c.left) << c.radius;
    EXPECT_EQ(reach.col[2], c.right) << c.radius;
    EXPECT_EQ(reach.row[2], c.right) << c.radius;
    EXPECT_EQ(reach.col[1], (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7})) << c.radius;
  }
}

TEST(NeighbourReach, TheInteriorHoldsOnlyColumnsReadAtItsOffsets) {
  for (float radius : {1.0f, 1.1f, 2.0f, 2.5f, 0.4f, 3.7f}) {
    for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 61, 2048}) {
      NeighbourReach reach;
      reach.compute(radius, w, w % 13 + 1);
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

TEST(NeighbourReach, NeighboursAreFoundInTheTablesOfTheirOffsets) {
  // The shared neighbour table's order, as the blur and the Sobel weights
  // read it: top row left to right, the middle row's two, the bottom row.
  const int columns[8] = {0, 1, 2, 0, 2, 0, 1, 2};
  const int rows[8] = {0, 0, 0, 1, 1, 2, 2, 2};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(NeighbourReach::column_of(i), columns[i]) << i;
    EXPECT_EQ(NeighbourReach::row_of(i), rows[i]) << i;
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
