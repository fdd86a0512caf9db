#include "platform/graphics/Normalize.h"

#include "platform/graphics/BitmapContext.h"

namespace glowsnap {

namespace {

constexpr float kHalfPi = 1.57079637f;
constexpr float kPi = 3.14159274f;
constexpr float kThreeHalvesPi = 4.71238899f;

// The canvas takes float sizes; whole pixels are made by truncation, and a
// side is never less than one pixel (nor more than a canvas can hold).
int canvasPixels(float v) {
  if (!(v >= 1.0f)) return 1;
  return v < 1e9f ? static_cast<int>(v) : 1000000000;
}

}  // namespace

ImageRef scaleAndRotateImage(const ImageRef& image, float maxH, float maxW) {
  if (!image) return image;
  const int orient = image->orientation();
  if (orient < Image::Up || orient > Image::RightMirrored) return image;

  const float W = static_cast<float>(image->width());
  const float H = static_cast<float>(image->height());
  Size bounds{W, H};
  if (W > maxW || H > maxH) {
    const float ratio = W / H;
    if (ratio > 1) {
      bounds = {maxW, maxW / ratio};
    } else {
      bounds = {maxH * ratio, maxH};
    }
  }
  const float s = bounds.width / W;

  AffineTransform t = AffineTransform::identity();
  bool swapped = false;
  switch (orient) {
    case Image::Up:
      break;
    case Image::Down:
      t = AffineTransform::makeTranslation(W, H).rotated(kPi);
      break;
    case Image::Left:
      t = AffineTransform::makeTranslation(0, W).rotated(kThreeHalvesPi);
      swapped = true;
      break;
    case Image::Right:
      t = AffineTransform::makeTranslation(H, 0).rotated(kHalfPi);
      swapped = true;
      break;
    case Image::UpMirrored:
      t = AffineTransform::makeTranslation(W, 0).scaled(-1, 1);
      break;
    case Image::DownMirrored:
      t = AffineTransform::makeTranslation(0, H).scaled(1, -1);
      break;
    case Image::LeftMirrored:
      // Mirrored left to right, then turned a quarter counter-clockwise: the
      // bitmap transposed. The offset (H, H) puts it on the canvas; with
      // (H, W) it would be shifted off by W − H rows.
      t = AffineTransform::makeTranslation(H, H).scaled(-1, 1).rotated(kThreeHalvesPi);
      swapped = true;
      break;
    case Image::RightMirrored:
      // Mirrored left to right, then turned a quarter clockwise. The offset
      // (0, H − W) puts it on the canvas, as above.
      t = AffineTransform::makeTranslation(0, H - W).scaled(-1, 1).rotated(kHalfPi);
      swapped = true;
      break;
  }

  const bool quarterSetup = orient == Image::Left || orient == Image::Right;
  const int cw = canvasPixels(swapped ? bounds.height : bounds.width);
  const int ch = canvasPixels(swapped ? bounds.width : bounds.height);
  auto canvas = BitmapContext::create(cw, ch);
  if (!canvas) return nullptr;
  // An image canvas is drawn in with y down from its top-left corner.
  canvas->translateCTM(0, static_cast<float>(ch));
  canvas->scaleCTM(1, -1);
  if (quarterSetup) {
    canvas->scaleCTM(-s, s);
    canvas->translateCTM(-H, 0);
  } else {
    canvas->scaleCTM(s, -s);
    canvas->translateCTM(0, -H);
  }
  canvas->concatCTM(t);
  canvas->drawImage(Rect(0, 0, W, H), *image);
  return canvas->takeImage();
}

ImageRef normalizeImage(const ImageRef& image, int maxResolution) {
  if (!image) return image;
  const Size display = image->displaySize();
  int longest = static_cast<int>(display.width > display.height ? display.width : display.height);
  if (longest > maxResolution) longest = maxResolution;
  const auto limit = static_cast<float>(longest);
  return scaleAndRotateImage(image, limit, limit);
}

int maxResolutionForSegment(int segmentIndex) {
  switch (segmentIndex) {
    case 0:
      return 320;
    case 1:
      return 640;
    case 2:
      return 800;
    case 3:
      return 1024;
    case 4:
      return 1600;
    case 5:
      return 2048;
    default:
      return 800;
  }
}

}  // namespace glowsnap
