#include "platform/graphics/BitmapContext.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/graphics/Resampler.h"

namespace glowsnap {

std::unique_ptr<BitmapContext> BitmapContext::create(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (w > std::numeric_limits<std::size_t>::max() / 4 / h) return nullptr;
  // Zeroed: a canvas starts transparent black, so that drawing an image with
  // transparency over it gives the same bytes every time.
  auto* data = static_cast<std::uint8_t*>(std::calloc(w * h, 4));
  if (!data) return nullptr;
  return std::unique_ptr<BitmapContext>(new BitmapContext(width, height, data));
}

BitmapContext::BitmapContext(int width, int height, std::uint8_t* data)
    : width_(width), height_(height), data_(data) {}

BitmapContext::~BitmapContext() { std::free(data_); }

void BitmapContext::scaleCTM(float sx, float sy) { ctm_ = ctm_.scaled(sx, sy); }
void BitmapContext::translateCTM(float tx, float ty) { ctm_ = ctm_.translated(tx, ty); }
void BitmapContext::rotateCTM(float angle) { ctm_ = ctm_.rotated(angle); }
void BitmapContext::concatCTM(const AffineTransform& t) { ctm_ = t.concat(ctm_); }

void BitmapContext::drawImage(Rect rect, const Image& image) {
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
  if (!(rw > 0) || !(rh > 0) || !std::isfinite(rw) || !std::isfinite(rh)) return;

  // Image pixel (u, v), v down, lies at user point (rx + u·kx, ry + rh − v·ky)
  // (first row at the rectangle's upper edge); the CTM takes that to the
  // y-up canvas, whose row index counts down from the top.
  const double kx = rw / image.width();
  const double ky = rh / image.height();
  const double ox = rx, oy = ry + rh;
  const double a = ctm_.a, b = ctm_.b, c = ctm_.c, d = ctm_.d, tx = ctm_.tx, ty = ctm_.ty;
  Resampler::Map m;
  m.m00 = a * kx;
  m.m01 = -c * ky;
  m.m02 = a * ox + c * oy + tx;
  m.m10 = -b * kx;
  m.m11 = d * ky;
  m.m12 = height_ - (b * ox + d * oy + ty);
  Resampler::draw(image, m, data_, width_, height_);
}

ImageRef BitmapContext::makeImage() const {
  std::vector<std::uint8_t> pixels(data_, data_ + bytesPerRow() * static_cast<std::size_t>(height_));
  return Image::create(width_, height_, std::move(pixels), Image::Up);
}

}  // namespace glowsnap
