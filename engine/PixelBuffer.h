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
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The four bytes of pixel (x, y), alpha first, each converted to float and
// multiplied by kByteToUnit in its own lane (lane 0 alpha, 1 red, 2 green,
// 3 blue); all four 0 outside the image. Each lane is computed exactly as a
// single channel would be, so the readers below give the same floats whether
// they use it or not; it lets the compiler convert a pixel with a few vector
// instructions instead of three of each kind.
using pixel_lanes = float __attribute__((vector_size(16)));
using pixel_words = std::int32_t __attribute__((vector_size(16)));
using pixel_bytes = std::uint8_t __attribute__((vector_size(4)));

// What a pixel outside the image reads: four zero bytes convert to the same
// +0.0 lanes as the black the plain reader returns.
inline constexpr std::uint8_t kOutsidePixel[4] = {0, 0, 0, 0};

inline pixel_lanes get_pixel_lanes(int x, int y) {
  // Unsigned comparisons also reject negative coordinates. Choosing the
  // address instead of branching keeps the border test out of the way of a
  // pixel's other reads.
  const bool inside = (static_cast<unsigned>(x) < static_cast<unsigned>(g_width)) &
                      (static_cast<unsigned>(y) < static_cast<unsigned>(g_height));
  const std::uint8_t* p =
      inside ? gp_data + (static_cast<std::int64_t>(y) * g_width + x) * 4 : kOutsidePixel;
  std::int32_t word;
  __builtin_memcpy(&word, p, 4);
#if defined(__SSE2__)
  // Bytes widened to 32-bit integers and converted to floats, four at once:
  // exact, as the scalar conversion of each byte is.
  const __m128i zero = _mm_setzero_si128();
  const __m128i words = _mm_unpacklo_epi16(
      _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
  return reinterpret_cast<pixel_lanes>(_mm_cvtepi32_ps(words)) * kByteToUnit;
#else
  pixel_bytes bytes;
  __builtin_memcpy(&bytes, &word, 4);
  return __builtin_convertvector(__builtin_convertvector(bytes, pixel_words), pixel_lanes) *
         kByteToUnit;
#endif
}

// Pixel (x, y) of the working buffer; every pixel outside the image reads as
// black, which is what gives the blurs and the edge detector their borders.
inline rgb_color get_pixel(int x, int y) {
  const pixel_lanes c = get_pixel_lanes(x, y);
  return {c[1], c[2], c[3]};
}

}  // namespace glowsnap
