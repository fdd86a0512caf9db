// AffineTransform: a 2-D affine map (x', y') = (a·x + c·y + tx, b·x + d·y + ty).
// scaled/translated/rotated apply the new step to a point first, before
// the transform they are called on, as drawing code builds transforms up.
#pragma once

#include "platform/graphics/Geometry.h"

namespace glowsnap {

struct AffineTransform {
  float a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static AffineTransform identity() { return {}; }
  static AffineTransform makeTranslation(float tx, float ty);
  static AffineTransform makeScale(float sx, float sy);
  static AffineTransform makeRotation(float angle);

  AffineTransform translated(float tx, float ty) const;
  AffineTransform scaled(float sx, float sy) const;
  AffineTransform rotated(float angle) const;
  // t1.concat(t2): apply t1 to a point, then t2.
  AffineTransform concat(const AffineTransform& t2) const;
  AffineTransform inverted() const;

  Point apply(Point p) const;
  bool operator==(const AffineTransform&) const = default;
};

}  // namespace glowsnap
