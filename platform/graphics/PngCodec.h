// PngCodec: PNG decoding (every bit depth and colour type, 16-bit reduced
// to 8, alpha premultiplied) and lossless encoding (alpha un-premultiplied)
// over libpng; the orientation travels in an eXIf chunk. Internal to
// ImageIO, which picks the codec.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

class PngCodec {
 public:
  static Result<ImageRef> decode(std::span<const std::uint8_t> data, std::uint64_t maxPixels);
  static Result<std::vector<std::uint8_t>> encode(const Image& image);
};

}  // namespace glowsnap
