#include "platform/graphics/AffineTransform.h"

#include <gtest/gtest.h>

namespace glowsnap {
namespace {

void expectPoint(Point p, float x, float y) {
  EXPECT_NEAR(p.x, x, 1e-4f);
  EXPECT_NEAR(p.y, y, 1e-4f);
}

TEST(AffineTransform, MakersMapPoints) {
  expectPoint(AffineTransform::makeTranslation(3, -2).apply({1, 1}), 4, -1);
  expectPoint(AffineTransform::makeScale(2, -3).apply({1, 1}), 2, -3);
  // A positive angle turns the x axis towards the y axis.
  expectPoint(AffineTransform::makeRotation(1.57079637f).apply({1, 0}), 0, 1);
  expectPoint(AffineTransform::makeRotation(3.14159274f).apply({1, 2}), -1, -2);
}

TEST(AffineTransform, BuiltUpStepsApplyToThePointFirst) {
  // translated(...) on a scale: the point is translated, then scaled.
  const auto t = AffineTransform::makeScale(2, 3).translated(1, 1);
  expectPoint(t.apply({0, 0}), 2, 3);
  // scaled(...) on a translation: the point is scaled, then translated.
  const auto u = AffineTransform::makeTranslation(10, 20).scaled(2, 2);
  expectPoint(u.apply({1, 1}), 12, 22);
  // rotated(...) on a translation: turned about the origin, then moved.
  const auto r = AffineTransform::makeTranslation(5, 0).rotated(1.57079637f);
  expectPoint(r.apply({1, 0}), 5, 1);
  EXPECT_EQ(AffineTransform::identity().scaled(2, 3), AffineTransform::makeScale(2, 3));
}

TEST(AffineTransform, ConcatAppliesTheLeftOneFirst) {
  const auto scale = AffineTransform::makeScale(2, 2);
  const auto move = AffineTransform::makeTranslation(1, 0);
  expectPoint(scale.concat(move).apply({1, 1}), 3, 2);
  expectPoint(move.concat(scale).apply({1, 1}), 4, 2);
}

TEST(AffineTransform, InverseUndoesAndSingularStaysPut) {
  const auto t = AffineTransform::makeTranslation(7, -3).rotated(0.3f).scaled(2, 0.5f);
  const Point p = t.inverted().apply(t.apply({4, 9}));
  expectPoint(p, 4, 9);
  const auto singular = AffineTransform::makeScale(0, 1);
  EXPECT_EQ(singular.inverted(), singular);
}

}  // namespace
}  // namespace glowsnap
