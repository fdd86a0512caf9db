// Flash Low's two tables, built by prepare_for_process.
#include <gtest/gtest.h>

#include <cmath>

#include "filters/PP_FlashLow.h"

namespace glowsnap {
namespace {

class FlashLowTables : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { PP_FlashLow().prepare_for_process(); }
};

TEST_F(FlashLowTables, GammaTableCorners) {
  for (int j = 0; j < 768; ++j) {
    ASSERT_EQ(g_gamma_table[255][j], 255) << j;
    ASSERT_EQ(g_gamma_table[0][j], 0) << j;
  }
  // Column 0 is an infinite exponent: 0 for every row but 255.
  for (int v = 0; v < 255; ++v) ASSERT_EQ(g_gamma_table[v][0], 0) << v;
  // Column 256 is a gamma of 1: the identity.
  for (int v = 0; v < 256; ++v) ASSERT_EQ(g_gamma_table[v][256], v) << v;
  // Column 512 (gamma 2) lifts: √(64/255)·255 = 127.75 → 128.
  EXPECT_EQ(g_gamma_table[64][512], 128);
  // Column 128 (gamma 0.5) squares: (128/255)²·255 = 64.25 → 64.
  EXPECT_EQ(g_gamma_table[128][128], 64);
}

TEST_F(FlashLowTables, DistributionTableShape) {
  for (int k = 0; k < 256; ++k) {
    ASSERT_EQ(g_gamma_distrib_table[0][k], 0.0);
    ASSERT_EQ(g_gamma_distrib_table[k][0], 0.0);
  }
  // Column 158: a peak of about 0.30 at brightness 36, about 0.007 at 130,
  // within ±0.002 beyond.
  int peakRow = 0;
  for (int i = 1; i < 256; ++i)
    if (g_gamma_distrib_table[i][158] > g_gamma_distrib_table[peakRow][158]) peakRow = i;
  EXPECT_EQ(peakRow, 36);
  EXPECT_NEAR(g_gamma_distrib_table[36][158], 0.30, 0.01);
  EXPECT_NEAR(g_gamma_distrib_table[130][158], 0.007, 0.001);
  for (int i = 140; i < 256; ++i) EXPECT_LT(std::fabs(g_gamma_distrib_table[i][158]), 0.002) << i;
}

}  // namespace
}  // namespace glowsnap
