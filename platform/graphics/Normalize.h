// Normalising a photo: drawing it upright (its orientation tag applied to
// the pixels) and scaled so that its longer side is at most a limit.
#pragma once

#include <optional>

#include "platform/graphics/Image.h"

namespace glowsnap {

// Scales the bitmap to fit maxW × maxH (never enlarging) and redraws it
// upright; the result's orientation is Up. An orientation outside 0–7 gives
// the input back unchanged.
ImageRef scaleAndRotateImage(const ImageRef& image, float maxH, float maxW);

// The normalising call of the application: the longer display side, capped
// at maxResolution, as both limits of scaleAndRotateImage.
ImageRef normalizeImage(const ImageRef& image, int maxResolution);

// How normalizeImage lays out a bitmap of width × height with an
// orientation tag, for code that makes the same picture its own way (the
// photo loader reduces rows as the decoder delivers them). Nothing for a
// tag outside 0–7 or a size that is not positive.
struct NormalizeGeometry {
  int width = 0;  // the upright result
  int height = 0;
  bool reduces = false;  // false: the result is an exact copy or turn of the bitmap
  // The reduction in the bitmap's own orientation: bitmap column u lands at
  // scaleU·u + offsetU of a reduced bitmap reducedWidth columns wide, row v
  // at scaleV·v + offsetV of its reducedHeight rows; that bitmap turned
  // exactly by the tag is the result.
  double scaleU = 1, offsetU = 0, scaleV = 1, offsetV = 0;
  int reducedWidth = 0, reducedHeight = 0;
};
std::optional<NormalizeGeometry> normalizeGeometry(int width, int height, int orientation,
                                                   int maxResolution);

// Maximum working resolution for an options segment index (0–5 → 320, 640,
// 800, 1024, 1600, 2048; anything else 800).
int maxResolutionForSegment(int segmentIndex);

}  // namespace glowsnap
