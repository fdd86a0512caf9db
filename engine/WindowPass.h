// WindowPass: the fast traversal of filters that replace each channel of a
// pixel by a mean over a square window of its neighbours.
//
// Walked like any other filter, each pixel reads its whole window through
// bounds-checked reads of the pixel buffer, one pixel at a time. Here every
// band turns the rows its windows reach into one row of floats per channel,
// padded with black on both sides and above and below the picture, so that
// a window position is a load at a fixed offset; the windows of a row are
// then worked through position by position for all its pixels at once,
// which vectorises. Each pixel's arithmetic is what the plain walk does: the
// same values (the bytes times kByteToUnit, black outside), taken in the
// same order, added in single precision and divided by their count.
//
// A filter takes part by defining
//     FastPass window_pass(int pass, WindowPass& run)
// which PostProcessFilter calls for every pass of a fast run.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/MaskPlanes.h"

namespace glowsnap {

class WindowPass : public VectorPass {
 public:
  WindowPass(PostProcess& engine, int width, int height, std::uint8_t* data, std::uint8_t* spare,
             int pass)
      : VectorPass(engine, pass), m_w(width), m_h(height), m_data(data), m_spare(spare) {}

  // Every channel of pixel (x, y) becomes the mean of that channel's values
  // in the window of columns x − r … x + r − 1 and rows y − r … y + r − 1,
  // taken column by column, that accept(own value, value) lets through;
  // positions outside the picture are black. The pixel's own value must
  // always pass, so that no count is 0. The result goes to the spare buffer,
  // which becomes the pixel buffer.
  template <class Accept>
  FastPass selective_mean(int r, Accept accept) {
    const int w = m_w;
    const int h = m_h;
    const std::uint8_t* data = m_data;
    std::uint8_t* spare = m_spare;
    bands([w, h, r, data, spare, accept](int y0, int y1) __attribute__((always_inline)) {
      const int stride = w + 2 * r;  // r black columns on either side
      const int first = y0 - r;      // the rows the band's windows reach
      const int rows = (y1 - y0) + 2 * r - 1;
      const std::size_t plane = static_cast<std::size_t>(rows + 1) * stride;
      float* buffer = mask_detail::scratch(3 * plane + 2 * static_cast<std::size_t>(w));
      float* sums = buffer + 3 * plane;
      float* counts = sums + w;
      // Per channel: rows[0] is black, rows[1 + k] is picture row first + k.
      for (int ch = 0; ch < 3; ++ch) {
        float* rowsOf = buffer + ch * plane;
        std::memset(rowsOf, 0, static_cast<std::size_t>(stride) * sizeof(float));
        for (int k = 0; k < rows; ++k) {
          float* dst = rowsOf + static_cast<std::size_t>(k + 1) * stride;
          const int y = first + k;
          if (y < 0 || y >= h) {
            std::memset(dst, 0, static_cast<std::size_t>(stride) * sizeof(float));
            continue;
          }
          const std::uint8_t* src = data + static_cast<std::size_t>(y) * w * 4;
          for (int x = 0; x < r; ++x) dst[x] = 0.0f;
          for (int x = 0; x < w; ++x) {
            const std::uint32_t word = MaskPixel::word_at(src, x);
            const std::uint32_t byte = ch == 0   ? MaskPixel::red_of(word)
                                       : ch == 1 ? MaskPixel::green_of(word)
                                                 : MaskPixel::blue_of(word);
            dst[r + x] = static_cast<float>(byte) * kByteToUnit;
          }
          for (int x = r + w; x < stride; ++x) dst[x] = 0.0f;
        }
      }
      for (int y = y0; y < y1; ++y) {
        std::uint8_t* out = spare + static_cast<std::size_t>(y) * w * 4;
        const std::uint8_t* in = data + static_cast<std::size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x) {
          const std::uint32_t word = MaskPixel::word_at(in, x);
          std::uint32_t alpha = MaskPixel::alpha_bits(word);
          std::memcpy(out + 4 * x, &alpha, 4);
        }
        for (int ch = 0; ch < 3; ++ch) {
          const float* rowsOf = buffer + ch * plane;
          const float* own = rowsOf + static_cast<std::size_t>(y - first + 1) * stride + r;
          for (int x = 0; x < w; ++x) {
            sums[x] = 0.0f;
            counts[x] = 0.0f;
          }
          for (int i = -r; i < r; ++i) {
            for (int j = -r; j < r; ++j) {
              const float* __restrict v =
                  rowsOf + static_cast<std::size_t>(y + j - first + 1) * stride + r + i;
              window_step(own, v, sums, counts, w, accept);
            }
          }
          const int shift = ch == 0   ? MaskPixel::kRedShift
                            : ch == 1 ? MaskPixel::kGreenShift
                                      : MaskPixel::kBlueShift;
          for (int x = 0; x < w; ++x) {
            const std::uint32_t byte = mask_detail::to_byte(sums[x] / counts[x]);
            std::uint32_t word;
            std::memcpy(&word, out + 4 * x, 4);
            word |= byte << shift;
            std::memcpy(out + 4 * x, &word, 4);
          }
        }
      }
    });
    return FastPass::InOutput;
  }

 private:
  // One window position for a whole row: a value that passes is added to
  // its pixel's sum (adding 0 to a sum of non-negative values changes
  // nothing, which keeps the loop free of branches) and counted. The counts
  // are whole numbers far below 2^24, exact in a float.
  template <class Accept>
  GLOWSNAP_ALWAYS_INLINE static void window_step(const float* __restrict own,
                                                 const float* __restrict v, float* __restrict sums,
                                                 float* __restrict counts, int w,
                                                 const Accept& accept) {
    for (int x = 0; x < w; ++x) {
      const bool pass = accept(own[x], v[x]);
      sums[x] += pass ? v[x] : 0.0f;
      counts[x] += pass ? 1.0f : 0.0f;
    }
  }

  int m_w;
  int m_h;
  std::uint8_t* m_data;
  std::uint8_t* m_spare;
};

}  // namespace glowsnap
