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

#include <bit>
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

// What a read outside the image finds when no run has set up a buffer.
alignas(4) inline constexpr std::uint8_t kNoPixels[4] = {0, 0, 0, 0};

// Pixel (x, y) of the working buffer; every pixel outside the image reads as
// black, which is what gives the blurs and the edge detector their borders.
//
// Written without a branch so that a loop over a row that calls it (through
// a filter's per-pixel function) can be vectorised across pixels: a pixel
// outside the image reads pixel 0 and then masks its bytes to 0, which
// converts to the same +0.0 as the black of the definition; the floats of a
// pixel inside are the bytes times kByteToUnit, as always.
__attribute__((always_inline)) inline rgb_color get_pixel(int x, int y) {
  // Outside a run (no buffer) everything reads as black, too.
  const std::uint32_t inside =
      (static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(g_width)) &
      (static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(g_height)) &
      static_cast<std::uint32_t>(gp_data != nullptr);
  // 32-bit unsigned arithmetic: defined for any coordinates, exact inside
  // the image (a working bitmap has at most 2^28 pixels), and a form the
  // vectoriser can turn into gathered loads.
  const std::uint32_t index = (static_cast<std::uint32_t>(y) * static_cast<std::uint32_t>(g_width) +
                               static_cast<std::uint32_t>(x)) *
                              inside;
  using word_t = std::uint32_t __attribute__((may_alias));
  const std::uint8_t* base = gp_data != nullptr ? gp_data : kNoPixels;
  std::uint32_t word = reinterpret_cast<const word_t*>(base)[index];
  word &= std::uint32_t{0} - inside;
  // The bytes in memory are alpha, red, green, blue.
  constexpr bool little = std::endian::native == std::endian::little;
  constexpr int red = little ? 8 : 16;
  constexpr int green = little ? 16 : 8;
  constexpr int blue = little ? 24 : 0;
  return {static_cast<float>((word >> red) & 0xffu) * kByteToUnit,
          static_cast<float>((word >> green) & 0xffu) * kByteToUnit,
          static_cast<float>((word >> blue) & 0xffu) * kByteToUnit};
}

// Pixel (x, y) of the snapshot buffer, each of bytes 1 to 3 turned into a
// value by reader (a function of one byte to a float), black outside the
// image. The engine keeps the snapshot; how its bytes read is the filter's
// own business, so the filter hands its reader in.
template <class Reader>
__attribute__((always_inline)) inline rgb_color get_snapshot_pixel(int x, int y,
                                                                   const Reader& reader) {
  if (x >= 0 && y >= 0 && x < g_width && y < g_height) {
    const std::uint8_t* p =
        gp_data_copy + (static_cast<std::int64_t>(y) * g_width + x) * (g_bpp / 8);
    return {reader(p[1]), reader(p[2]), reader(p[3])};
  }
  return {0.0f, 0.0f, 0.0f};
}

}  // namespace glowsnap
