// The working bitmap of a filter run: a canvas of width × height pixels of
// alpha, red, green, blue (premultiplied), made the way the engine expects,
// with its failures written to the standard error stream.
#pragma once

#include <memory>

#include "platform/graphics/BitmapContext.h"

namespace glowsnap {

// Refuses sizes whose pixel memory would pass this limit.
inline constexpr std::size_t kMaxBitmapBytes = std::size_t{1} << 30;

// Nothing when the canvas cannot be made: "Memory not allocated!" when
// width·4·height overflows, passes kMaxBitmapBytes or cannot be allocated;
// "Context not created!" when a dimension is not positive. The pixels start
// transparent black.
std::unique_ptr<BitmapContext> CreateARGBBitmapContext(int width, int height);

}  // namespace glowsnap
