#include "platform/graphics/Normalize.h"

#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/Resampler.h"

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

namespace {

// The canvas of a normalised picture and the drawing's transformation.
struct CanvasPlan {
  int width = 0;
  int height = 0;
  AffineTransform ctm;
  bool scales = false;  // the picture is reduced, not only copied or turned
};

// How scaleAndRotateImage lays a W × H bitmap with tag orient onto its
// canvas; nothing for a tag outside 0–7.
std::optional<CanvasPlan> planCanvas(int bitmapWidth, int bitmapHeight, int orient, float maxH,
                                     float maxW) {
  if (orient < Image::Up || orient > Image::RightMirrored) return std::nullopt;
  const float W = static_cast<float>(bitmapWidth);
  const float H = static_cast<float>(bitmapHeight);
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
  // A side that the reduction takes below one pixel keeps the one pixel of
  // its canvas covered: the picture is squeezed along the other side only,
  // so that an opaque photo stays opaque at every size.
  const float sW = bounds.width < 1.0f ? 1.0f / W : s;
  const float sH = bounds.height < 1.0f ? 1.0f / H : s;

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

  CanvasPlan plan;
  plan.scales = bounds.width != W || bounds.height != H;
  plan.width = canvasPixels(swapped ? bounds.height : bounds.width);
  plan.height = canvasPixels(swapped ? bounds.width : bounds.height);
  // An image canvas is drawn in with y down from its top-left corner. In
  // the set-up of a quarter turn the first axis is the bitmap's height.
  AffineTransform ctm = AffineTransform::identity();
  ctm = ctm.translated(0, static_cast<float>(plan.height));
  ctm = ctm.scaled(1, -1);
  if (orient == Image::Left || orient == Image::Right) {
    ctm = ctm.scaled(-sH, sW);
    ctm = ctm.translated(-H, 0);
  } else {
    ctm = swapped ? ctm.scaled(sH, -sW) : ctm.scaled(sW, -sH);
    ctm = ctm.translated(0, -H);
  }
  plan.ctm = t.concat(ctm);
  return plan;
}

// The longer display side, capped at maxResolution, as a float limit.
float normalizingLimit(Size display, int maxResolution) {
  int longest = static_cast<int>(display.width > display.height ? display.width : display.height);
  if (longest > maxResolution) longest = maxResolution;
  return static_cast<float>(longest);
}

}  // namespace

ImageRef scaleAndRotateImage(const ImageRef& image, float maxH, float maxW) {
  if (!image) return image;
  const auto plan = planCanvas(image->width(), image->height(), image->orientation(), maxH, maxW);
  if (!plan) return image;
  auto canvas = BitmapContext::create(plan->width, plan->height);
  if (!canvas) return nullptr;
  canvas->setCTM(plan->ctm);
  canvas->drawImage(
      Rect(0, 0, static_cast<float>(image->width()), static_cast<float>(image->height())), *image);
  return canvas->takeImage();
}

ImageRef normalizeImage(const ImageRef& image, int maxResolution) {
  if (!image) return image;
  const auto limit = normalizingLimit(image->displaySize(), maxResolution);
  return scaleAndRotateImage(image, limit, limit);
}

std::optional<NormalizeGeometry> normalizeGeometry(int width, int height, int orientation,
                                                   int maxResolution) {
  if (width <= 0 || height <= 0) return std::nullopt;
  const bool swapped = orientation == Image::Left || orientation == Image::Right ||
                       orientation == Image::LeftMirrored || orientation == Image::RightMirrored;
  const Size display = swapped ? Size{static_cast<float>(height), static_cast<float>(width)}
                               : Size{static_cast<float>(width), static_cast<float>(height)};
  const float limit = normalizingLimit(display, maxResolution);
  const auto plan = planCanvas(width, height, orientation, limit, limit);
  if (!plan) return std::nullopt;
  NormalizeGeometry g;
  g.width = plan->width;
  g.height = plan->height;
  g.reduces = plan->scales;
  const Resampler::Map m = BitmapContext::drawingMap(
      plan->ctm, plan->height, Rect(0, 0, static_cast<float>(width), static_cast<float>(height)),
      width, height);
  // Per bitmap axis: where it lands on the canvas (f = a·i + b along an axis
  // n pixels long). An axis the turn reverses is reduced the other way
  // round, r = n − f, so that the exact turn afterwards lands it at f.
  auto axis = [](double a, double b, int n, double& scale, double& offset) {
    scale = a > 0 ? a : -a;
    offset = a > 0 ? b : n - b;
  };
  if (!swapped) {
    axis(m.m00, m.m02, plan->width, g.scaleU, g.offsetU);
    axis(m.m11, m.m12, plan->height, g.scaleV, g.offsetV);
    g.reducedWidth = plan->width;
    g.reducedHeight = plan->height;
  } else {
    axis(m.m10, m.m12, plan->height, g.scaleU, g.offsetU);
    axis(m.m01, m.m02, plan->width, g.scaleV, g.offsetV);
    g.reducedWidth = plan->height;
    g.reducedHeight = plan->width;
  }
  return g;
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
