// Points, sizes and rectangles in single precision, as drawing uses them.
#pragma once

namespace glowsnap {

struct Point {
  float x = 0, y = 0;
};
struct Size {
  float width = 0, height = 0;
};
struct Rect {
  Point origin;
  Size size;
  Rect() = default;
  Rect(float x, float y, float w, float h) : origin{x, y}, size{w, h} {}
};

}  // namespace glowsnap
