#include "platform/graphics/AffineTransform.h"

#include <cmath>

namespace glowsnap {

AffineTransform AffineTransform::makeTranslation(float tx, float ty) {
  return {1, 0, 0, 1, tx, ty};
}

AffineTransform AffineTransform::makeScale(float sx, float sy) { return {sx, 0, 0, sy, 0, 0}; }

AffineTransform AffineTransform::makeRotation(float angle) {
  const float c = std::cos(angle);
  const float s = std::sin(angle);
  return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::translated(float tx, float ty) const {
  return makeTranslation(tx, ty).concat(*this);
}

AffineTransform AffineTransform::scaled(float sx, float sy) const {
  return makeScale(sx, sy).concat(*this);
}

AffineTransform AffineTransform::rotated(float angle) const {
  return makeRotation(angle).concat(*this);
}

AffineTransform AffineTransform::concat(const AffineTransform& t2) const {
  // Row-vector convention: [x y 1] · this · t2.
  AffineTransform r;
  r.a = a * t2.a + b * t2.c;
  r.b = a * t2.b + b * t2.d;
  r.c = c * t2.a + d * t2.c;
  r.d = c * t2.b + d * t2.d;
  r.tx = tx * t2.a + ty * t2.c + t2.tx;
  r.ty = tx * t2.b + ty * t2.d + t2.ty;
  return r;
}

AffineTransform AffineTransform::inverted() const {
  const float det = a * d - b * c;
  // A singular map has no inverse; like the platform, hand it back unchanged.
  if (det == 0.0f || !std::isfinite(det)) return *this;
  AffineTransform r;
  r.a = d / det;
  r.b = -b / det;
  r.c = -c / det;
  r.d = a / det;
  r.tx = (c * ty - d * tx) / det;
  r.ty = (b * tx - a * ty) / det;
  return r;
}

Point AffineTransform::apply(Point p) const {
  return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty};
}

}  // namespace glowsnap
