// PixelBuffer: the process-wide working image of the running filter and the
// colour value every per-pixel function deals in.
//
// The globals describe the buffer of the one run in progress: 4 bytes per
// pixel in the order alpha, red, green, blue (premultiplied), rows of
// g_width·4 bytes with nothing between them, row 0 at the top. Outside a run
// gp_data does not point at valid memory and gp_data_copy is null. Only the
// engine writes them; PostProcess refuses a second run while one is going,
// so nothing else can change them under a pass.
#pragma once

#include <cstdint>

namespace glowsnap {

// Three channels in single precision, nominally 0..1 (1.0 stands for byte
// 255). Values in between operations may leave that range; the engine
// clamps only when it stores a pass's output.
struct rgb_color {
  float r;
  float g;
  float b;
};

extern std::uint8_t* gp_data;       // pixel memory of the working bitmap
extern std::int32_t g_width;        // working width W
extern std::int32_t g_height;       // working height H
extern std::int32_t g_bypr;         // bytes per row, W·4
extern std::int32_t g_bpp;          // bits per pixel, 32
extern std::int32_t g_bpc;          // bits per component, 8
extern std::uint8_t* gp_data_copy;  // snapshot buffer, null until a filter saves a pixel

// The single-precision 1/255 that turns a byte into a channel value. The
// snapshot reader of the HDR filters divides by 255 instead, which can differ
// in the last bit; both are kept as they are.
inline constexpr float kByteToUnit = 1.0f / 255.0f;

// Pixel (x, y) of the working buffer; every pixel outside the image reads as
// black, which is what gives the blurs and the edge detector their borders.
inline rgb_color get_pixel(int x, int y) {
  if (x >= 0 && y >= 0 && x < g_width && y < g_height) {
    const std::uint8_t* p = gp_data + (static_cast<std::int64_t>(y) * g_width + x) * (g_bpp / 8);
    return {static_cast<float>(p[1]) * kByteToUnit, static_cast<float>(p[2]) * kByteToUnit,
            static_cast<float>(p[3]) * kByteToUnit};
  }
  return {0.0f, 0.0f, 0.0f};
}

}  // namespace glowsnap
