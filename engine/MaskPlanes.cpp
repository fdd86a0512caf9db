#include "engine/MaskPlanes.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace glowsnap {

void NeighbourReach::compute(float radius, int w, int h) {
  for (int k = 0; k < 3; ++k) {
    const float d = offset_of(k);
    col[k].resize(static_cast<std::size_t>(w));
    row[k].resize(static_cast<std::size_t>(h));
    for (int x = 0; x < w; ++x)
      col[k][static_cast<std::size_t>(x)] = neighbour_coordinate(radius, d, x);
    for (int y = 0; y < h; ++y)
      row[k][static_cast<std::size_t>(y)] = neighbour_coordinate(radius, d, y);
  }
  // The interior: the widest run of columns around the middle whose three
  // neighbours lie inside the row at the middle column's offsets.
  xa = xb = 0;
  if (w == 0) return;
  const int mid = w / 2;
  kl = mid - col[0][static_cast<std::size_t>(mid)];
  kr = col[2][static_cast<std::size_t>(mid)] - mid;
  auto regular = [&](int x) {
    const std::size_t i = static_cast<std::size_t>(x);
    return col[0][i] == x - kl && col[1][i] == x && col[2][i] == x + kr && col[0][i] >= 0 &&
           col[2][i] < w;
  };
  if (!regular(mid)) return;
  xa = mid;
  while (xa > 0 && regular(xa - 1)) --xa;
  xb = mid + 1;
  while (xb < w && regular(xb)) ++xb;
}

void MaskPlanes::begin(int w, int h, std::uint8_t* data, std::uint8_t* spare) {
  m_w = w;
  m_h = h;
  m_data = data;
  m_spare = spare;
  m_current = 0;
  m_photo_intact = true;
  m_radius = -1.0f;
}

const NeighbourReach& MaskPlanes::reach(float radius) {
  // The tables depend on the size too; begin() forgets the last radius.
  if (radius != m_radius) {
    m_reach.compute(radius, m_w, m_h);
    m_radius = radius;
  }
  return m_reach;
}

std::uint8_t* MaskPlanes::channel_table() {
  m_channel_table.resize(256 * 256);
  return m_channel_table.data();
}

namespace mask_detail {

float* scratch(std::size_t floats) {
  // Grown, never shrunk: a band of rows of the largest picture so far.
  thread_local std::unique_ptr<float[]> buffer;
  thread_local std::size_t capacity = 0;
  if (floats > capacity) {
    buffer.reset(new float[floats]);
    capacity = floats;
  }
  return buffer.get();
}

}  // namespace mask_detail

void MaskPass::missing_photo() {
  std::fputs("MaskPass: the photo was read after a pass had written over it\n", stderr);
  std::abort();
}

FastPass MaskPass::blur(float radius) {
  MaskPlanes& p = m_planes;
  const NeighbourReach& reach = p.reach(radius);
  const std::uint8_t* from = p.mask();
  std::uint8_t* to = p.other();
  bands([&p, &reach, from, to](int y0, int y1) __attribute__((always_inline)) {
    const int w = p.width();
    mask_detail::neighbour_rows(
        reach, mask_detail::PlaneUnits{from, w}, w, p.height(), y0, y1,
        [](const float(&l)[8]) __attribute__((always_inline)) { return blur_mean(l); },
        [w, to](int y, const float* __restrict sums) __attribute__((always_inline)) {
          std::uint8_t* __restrict out = to + static_cast<std::size_t>(y) * w;
          for (int x = 0; x < w; ++x) out[x] = mask_detail::to_byte(sums[x]);
        });
  });
  p.flip();
  return FastPass::InPlace;
}

}  // namespace glowsnap
