#include "platform/graphics/BitmapContext.h"

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/graphics/PixelBuffer.h"
#include "platform/graphics/Resampler.h"

namespace glowsnap {

std::unique_ptr<BitmapContext> BitmapContext::create(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (w > std::numeric_limits<std::size_t>::max() / 4 / h) return nullptr;
  // Zeroed: a canvas starts transparent black, so that drawing an image with
  // transparency over it gives the same bytes every time.
  std::vector<std::uint8_t> pixels;
  try {
    pixels = PixelBuffer::zeroed(w * h * 4);
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
  return std::unique_ptr<BitmapContext>(new BitmapContext(width, height, std::move(pixels)));
}

BitmapContext::BitmapContext(int width, int height, std::vector<std::uint8_t> pixels)
    : width_(width), height_(height), pixels_(std::move(pixels)), data_(pixels_.data()) {}

BitmapContext::~BitmapContext() = default;

void BitmapContext::scaleCTM(float sx, float sy) { ctm_ = ctm_.scaled(sx, sy); }
void BitmapContext::translateCTM(float tx, float ty) { ctm_ = ctm_.translated(tx, ty); }
void BitmapContext::rotateCTM(float angle) { ctm_ = ctm_.rotated(angle); }
void BitmapContext::concatCTM(const AffineTransform& t) { ctm_ = t.concat(ctm_); }

void BitmapContext::drawImage(Rect rect, const Image& image) {
  const double rw = std::fabs(static_cast<double>(rect.size.width));
  const double rh = std::fabs(static_cast<double>(rect.size.height));
  if (!(rw > 0) || !(rh > 0) || !std::isfinite(rw) || !std::isfinite(rh)) return;

  const Resampler::Map m = drawingMap(ctm_, height_, rect, image.width(), image.height());
  Resampler::draw(image, m, data_, width_, height_);
}

Resampler::Map BitmapContext::drawingMap(const AffineTransform& ctm, int canvasHeight, Rect rect,
                                         int imageWidth, int imageHeight) {
  double rx = rect.origin.x, ry = rect.origin.y;
  double rw = rect.size.width, rh = rect.size.height;
  if (rw < 0) {
    rx += rw;
    rw = -rw;
  }
  if (rh < 0) {
    ry += rh;
    rh = -rh;
  }
  // Image pixel (u, v), v down, lies at user point (rx + u·kx, ry + rh − v·ky)
  // (first row at the rectangle's upper edge); the CTM takes that to the
  // y-up canvas, whose row index counts down from the top.
  const double kx = rw / imageWidth;
  const double ky = rh / imageHeight;
  const double ox = rx, oy = ry + rh;
  const double a = ctm.a, b = ctm.b, c = ctm.c, d = ctm.d, tx = ctm.tx, ty = ctm.ty;
  Resampler::Map m;
  m.m00 = a * kx;
  m.m01 = -c * ky;
  m.m02 = a * ox + c * oy + tx;
  m.m10 = -b * kx;
  m.m11 = d * ky;
  m.m12 = canvasHeight - (b * ox + d * oy + ty);
  return m;
}

ImageRef BitmapContext::makeImage() const {
  if (!data_) return nullptr;
  return Image::create(width_, height_, pixels_, Image::Up);
}

ImageRef BitmapContext::takeImage() {
  if (!data_) return nullptr;
  ImageRef image = Image::create(width_, height_, std::move(pixels_), Image::Up);
  pixels_ = {};
  data_ = nullptr;
  width_ = 0;
  height_ = 0;
  return image;
}

}  // namespace glowsnap
