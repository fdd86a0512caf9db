// Resampler: composites one image onto a pixel canvas under an affine map,
// with the resampling the drawing code promises: area averaging where the
// image is shrunk, bilinear interpolation where it is enlarged, and an exact
// copy where it lands at its own size on whole pixels. Maps that only scale,
// translate, mirror or turn by quarter turns (everything the system draws)
// take a separable path; any other map is supersampled. The image is laid
// over the canvas (source over) with the partial coverage of its edges.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/graphics/Image.h"

namespace glowsnap {

class Resampler {
 public:
  // From image pixel coordinates (u right, v down, 0..W × 0..H) to canvas
  // pixel coordinates (column right, row down).
  struct Map {
    double m00 = 1, m01 = 0, m02 = 0;  // column = m00·u + m01·v + m02
    double m10 = 0, m11 = 1, m12 = 0;  // row    = m10·u + m11·v + m12
  };

  // canvas: width·height pixels of ARGB premultiplied, rows of width·4 bytes.
  static void draw(const Image& image, const Map& map, std::uint8_t* canvas, int width, int height);

  // Whether draw() takes the separable path for this map and image.
  static bool isAxisAligned(const Map& map, int imageWidth, int imageHeight);

  // A large separable drawing (a million canvas pixels and more) is split
  // into bands of rows made on threads of their own, as many as the machine
  // has, at most 8; every band computes the same bytes it would alone.
  // setThreadLimit caps the count (1: everything on the calling thread; 0:
  // the machine's), for measuring and for tests.
  static void setThreadLimit(int threads);
};

// Shrinks a picture that arrives row by row, top to bottom, with the area
// averaging of draw(): source column u lands at scaleU·u + offsetU of the
// result, source row v at scaleV·v + offsetV (both scales at most 1). Only
// a few rows of floats are kept, so the source never has to exist whole.
// The bytes are the ones draw() gives for the same map on a fresh canvas
// when it combines rows before columns (as it does for large reductions).
class RowReducer {
 public:
  // Throws std::bad_alloc when its rows cannot be had.
  RowReducer(int sourceWidth, int sourceHeight, double scaleU, double offsetU, double scaleV,
             double offsetV, int width, int height);
  ~RowReducer();
  RowReducer(const RowReducer&) = delete;
  RowReducer& operator=(const RowReducer&) = delete;

  // The next source row: sourceWidth pixels of ARGB premultiplied.
  void addRow(const std::uint8_t* row);
  // The result (orientation Up) once the rows have arrived; pixels no row
  // reached stay transparent. The reducer is spent afterwards.
  ImageRef finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace glowsnap
