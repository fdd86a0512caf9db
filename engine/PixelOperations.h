// PixelOperations: the colour operations filters combine in their per-pixel
// functions. They keep no state and read pixels only through get_pixel, so
// they see the previous pass's complete output and black outside the image.
//
// They are inline so that a traversal which instantiates a filter's per-pixel
// function directly gets them inlined as well. The arithmetic is single
// precision except where a step is written in double; the grouping of every
// expression is deliberate and must not be "simplified".
#pragma once

#include <cmath>
#include <cstdlib>

#include "engine/PixelBuffer.h"

namespace glowsnap {

// The eight neighbours of a pixel, in the order the blur sums them and the
// edge detector weighs them, y growing downwards; the centre is not among
// them. Every operation and every fast plan that visits neighbours reads
// this one table.
struct Neighbour {
  float dx;
  float dy;
};
inline constexpr Neighbour kNeighbours[8] = {{-1.0f, -1.0f}, {0.0f, -1.0f}, {1.0f, -1.0f},
                                             {-1.0f, 0.0f},  {1.0f, 0.0f},  {-1.0f, 1.0f},
                                             {0.0f, 1.0f},   {1.0f, 1.0f}};

// The coordinate an offset d (−1, 0 or 1) reaches from c at a distance:
// computed in single precision and truncated toward zero, so a fractional
// distance reaches further on the left/top than on the right/bottom.
__attribute__((always_inline)) inline int neighbour_coordinate(float distance, float d, int c) {
  return static_cast<int>(distance * d + static_cast<float>(c));
}

// The mean of a colour's three channels, summed in r, g, b order.
__attribute__((always_inline)) inline float grey_of(rgb_color c) {
  return (c.r + c.g + c.b) / 3.0f;
}

// Mean of the three channels of pixel (x, y); 0 outside the image.
inline float get_pixel_bw(int x, int y) { return grey_of(get_pixel(x, y)); }

// The mean of the eight neighbour values of a blur, summed in table order.
inline float blur_mean(const float (&l)[8]) {
  float sum = 0.0f;
  sum += l[0];
  sum += l[1];
  sum += l[2];
  sum += l[3];
  sum += l[4];
  sum += l[5];
  sum += l[6];
  sum += l[7];
  return sum * 0.125f;
}

// Average of the eight neighbours at distance radius, the centre excluded.
// Neighbour coordinates are truncated toward zero, so a fractional radius
// reaches further on the left/top than on the right/bottom, and neighbours
// outside the image count as black (the blur darkens the borders).
inline rgb_color do_blur(int x, int y, float radius) {
  // The eight reads are written out rather than looped over, so that a row
  // of blurs is a loop without control flow that the compiler can vectorise
  // across pixels; each channel is summed in the table's order, as
  // blur_mean sums one.
  rgb_color sum = {0.0f, 0.0f, 0.0f};
  auto add = [&](int i) __attribute__((always_inline)) {
    const rgb_color c = get_pixel(neighbour_coordinate(radius, kNeighbours[i].dx, x),
                                  neighbour_coordinate(radius, kNeighbours[i].dy, y));
    sum.r += c.r;
    sum.g += c.g;
    sum.b += c.b;
  };
  add(0);
  add(1);
  add(2);
  add(3);
  add(4);
  add(5);
  add(6);
  add(7);
  return {sum.r * 0.125f, sum.g * 0.125f, sum.b * 0.125f};
}

// A value drawn uniformly from the 5001 steps lo, lo + (hi − lo)/5000, …, hi.
inline float random_rangef(float lo, float hi) {
  const float t = static_cast<float>(::random() % 5001) / 5000.0f;
  return t * (hi - lo) + lo;
}

// The Sobel gradient magnitude of the eight neighbour values of an edge
// detection, in table order, clamped to 0..1.
inline float edge_magnitude(const float (&l)[8]) {
  const float gx = ((l[2] + l[7]) + 2.0f * l[4]) - ((l[0] + l[5]) + 2.0f * l[3]);
  const float gy = ((l[5] + l[7]) + 2.0f * l[6]) - ((l[0] + l[2]) + 2.0f * l[1]);
  float e = std::sqrt(gy * gy + gx * gx);
  if (e < 0.0f) e = 0.0f;
  if (e > 1.0f) e = 1.0f;
  return e;
}

// Sobel gradient magnitude of the grey image at (x, y), clamped to 0..1. With
// randomize every neighbour's offset is scaled by its own jitter factors
// drawn from rmin..rmax (x factor first, then y).
inline float do_edge_detection(int x, int y, float radius, bool randomize, float rmin, float rmax) {
  float l[8];
  if (randomize) {
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    for (int i = 0; i < 8; ++i) {
      const float jx = random_rangef(rmin, rmax);
      const float jy = random_rangef(rmin, rmax);
      const int px = static_cast<int>(radius * kNeighbours[i].dx * jx + fx);
      const int py = static_cast<int>(radius * kNeighbours[i].dy * jy + fy);
      l[i] = get_pixel_bw(px, py);
    }
  } else {
    // Written out, as in do_blur, so that a row of them can be vectorised.
    auto read = [&](int i) __attribute__((always_inline)) {
      l[i] = get_pixel_bw(neighbour_coordinate(radius, kNeighbours[i].dx, x),
                          neighbour_coordinate(radius, kNeighbours[i].dy, y));
    };
    read(0);
    read(1);
    read(2);
    read(3);
    read(4);
    read(5);
    read(6);
    read(7);
  }
  return edge_magnitude(l);
}

// Pushes each channel away from (s > 1) or towards (s < 1) the luminance.
// The weights add up to 1.03, so even s = 1 keeps the colour but a grey is
// not its own luminance: saturation darkens greys slightly.
inline rgb_color do_saturation(float r, float g, float b, float s) {
  const float lum =
      static_cast<float>(static_cast<double>(r) * 0.33 + static_cast<double>(g) * 0.59 +
                         static_cast<double>(b) * 0.11);
  rgb_color out;
  out.b = lum + s * (b - lum);
  out.g = lum + s * (g - lum);
  out.r = lum + s * (r - lum);
  return out;
}

// Overlay of blend value b onto base a, per channel, in double precision.
inline float blend_overlay_channel(float a, float b) {
  const double da = a;
  const double db = b;
  if (a < 0.5f) return static_cast<float>((da + da) * db);
  return static_cast<float>(((1.0 - da) * -2.0) * (1.0 - db) + 1.0);
}

inline rgb_color blend_overlay(rgb_color base, rgb_color blend) {
  return {blend_overlay_channel(base.r, blend.r), blend_overlay_channel(base.g, blend.g),
          blend_overlay_channel(base.b, blend.b)};
}

inline double radians(double degrees) { return degrees * M_PI / 180.0; }

}  // namespace glowsnap
