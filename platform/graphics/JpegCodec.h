// JpegCodec: JPEG decoding straight to alpha-first pixels and encoding with
// a quality factor, over libjpeg-turbo, with the EXIF orientation read and
// written through libexif. Internal to ImageIO, which picks the codec.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageIO.h"

namespace glowsnap {

class JpegCodec {
 public:
  // Errors use imageio::kErrorDomain: kCorrupt for damaged or truncated
  // data, kTooLarge (before any pixel memory is taken) over maxPixels.
  // Damage that libjpeg decodes past is refused too where it leaves part of
  // the picture undecoded (bad codes, lost markers); stray bytes between
  // segments and a missing end marker are not.
  static Result<ImageRef> decode(std::span<const std::uint8_t> data, std::uint64_t maxPixels);
  // imageio::loadPhoto for JPEG data: the picture reduced while it is
  // decoded where normalising shrinks it, damage reported as warnings.
  static Result<imageio::Photo> load(std::span<const std::uint8_t> data, std::uint64_t maxPixels,
                                     int maxResolution);
  // quality 0..1 becomes libjpeg's 0..100. An orientation other than Up is
  // written as an EXIF block so that a reader turns the picture upright.
  static Result<std::vector<std::uint8_t>> encode(const Image& image, float quality);

  // The EXIF orientation (1–8) held in an APP1 payload ("Exif\0\0" …), or 0.
  static int exifOrientation(std::span<const std::uint8_t> app1);
  // An APP1 payload holding only the orientation, or nothing on failure.
  static std::vector<std::uint8_t> makeExifOrientation(int exifOrientation);
};

}  // namespace glowsnap
