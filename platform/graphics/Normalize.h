// Normalising a photo: drawing it upright (its orientation tag applied to
// the pixels) and scaled so that its longer side is at most a limit.
#pragma once

#include "platform/graphics/Image.h"

namespace glowsnap {

// Scales the bitmap to fit maxW × maxH (never enlarging) and redraws it
// upright; the result's orientation is Up. An orientation outside 0–7 gives
// the input back unchanged.
ImageRef scaleAndRotateImage(const ImageRef& image, float maxH, float maxW);

// The normalising call of the application: the longer display side, capped
// at maxResolution, as both limits of scaleAndRotateImage.
ImageRef normalizeImage(const ImageRef& image, int maxResolution);

// Maximum working resolution for an options segment index (0–5 → 320, 640,
// 800, 1024, 1600, 2048; anything else 800).
int maxResolutionForSegment(int segmentIndex);

}  // namespace glowsnap
