// BitmapContext: a drawing canvas over W × H pixels of four bytes in the
// order alpha, red, green, blue (premultiplied), row 0 at the top. Its user
// space is y-up with the origin at the bottom-left corner, as a bitmap
// context's is; drawImage() maps the image's first row to the upper edge of
// the destination rectangle. The working bitmap of a filter run is one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/Resampler.h"

namespace glowsnap {

class BitmapContext {
 public:
  // A canvas whose pixels are transparent black. Nothing when the size is not
  // positive or the memory cannot be had.
  static std::unique_ptr<BitmapContext> create(int width, int height);

  ~BitmapContext();
  BitmapContext(const BitmapContext&) = delete;
  BitmapContext& operator=(const BitmapContext&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  std::size_t bytesPerRow() const { return static_cast<std::size_t>(width_) * 4; }
  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }

  // Current transformation matrix (user space to the canvas's y-up pixels).
  const AffineTransform& ctm() const { return ctm_; }
  void setCTM(const AffineTransform& t) { ctm_ = t; }
  void scaleCTM(float sx, float sy);
  void translateCTM(float tx, float ty);
  void rotateCTM(float angle);
  void concatCTM(const AffineTransform& t);

  // Draws the image's bitmap (its orientation tag is not applied) into rect
  // of user space. Shrinking averages the covered source area; enlarging
  // interpolates bilinearly; an image drawn at its own size onto whole
  // pixels is copied exactly. The image is laid over what the canvas holds
  // (source over), edge pixels it only partly covers in proportion; on a
  // fresh canvas that leaves the image's own bytes.
  void drawImage(Rect rect, const Image& image);

  // Where drawImage(rect, image) puts an image of imageWidth × imageHeight
  // under ctm on a canvas canvasHeight rows high (rect of positive size).
  static Resampler::Map drawingMap(const AffineTransform& ctm, int canvasHeight, Rect rect,
                                   int imageWidth, int imageHeight);

  // A new image (orientation Up) holding a copy of the canvas.
  ImageRef makeImage() const;
  // A new image (orientation Up) that takes the canvas's pixels without a
  // copy; the canvas is left with no pixels (0 × 0, data() null).
  ImageRef takeImage();

 private:
  BitmapContext(int width, int height, std::vector<std::uint8_t> pixels);
  int width_;
  int height_;
  std::vector<std::uint8_t> pixels_;
  std::uint8_t* data_;  // pixels_.data(), or null once taken
  AffineTransform ctm_;
};

}  // namespace glowsnap
