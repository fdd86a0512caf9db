#include "platform/graphics/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace glowsnap {

namespace {

// Edges this close to a pixel boundary are taken to be on it, so that the
// float arithmetic of the callers' transforms does not leave a hairline of
// partial coverage (or a resampled copy) where a whole pixel was meant.
constexpr double kSnap = 1e-3;

double snapped(double v) {
  const double r = std::nearbyint(v);
  return std::fabs(v - r) < kSnap ? r : v;
}

// One axis of a separable map: for every covered destination index, the run
// of source indices it reads with their weights, and how much of the
// destination pixel the image covers along this axis.
struct AxisFilter {
  int first = 0;  // first destination index
  int count = 0;  // destination indices first .. first+count-1
  std::vector<int> start;     // first source index per destination index
  std::vector<int> taps;      // number of source indices
  std::vector<int> offset;    // into weights
  std::vector<float> weights;
  std::vector<float> coverage;
  int maxTaps = 0;
  bool unit = true;  // every destination index copies exactly one source index

  // srcN source pixels map to destination position s·i + t; the canvas has
  // destN pixels along this axis.
  void build(int srcN, double s, double t, int destN) {
    double e0 = snapped(t);
    double e1 = snapped(s * srcN + t);
    const double lo = std::min(e0, e1);
    const double hi = std::max(e0, e1);
    if (!(hi - lo > 0)) return;
    s = (e1 - e0) / srcN;
    t = e0;
    const int k0 = static_cast<int>(std::max(0.0, std::floor(lo)));
    const int k1 = static_cast<int>(std::min(static_cast<double>(destN), std::ceil(hi)));
    if (k0 >= k1) return;
    first = k0;
    count = k1 - k0;
    start.resize(count);
    taps.resize(count);
    offset.resize(count);
    coverage.resize(count);
    const bool enlarging = std::fabs(s) > 1.0;
    for (int n = 0; n < count; ++n) {
      const int k = k0 + n;
      coverage[n] = static_cast<float>(std::min(k + 1.0, hi) - std::max<double>(k, lo));
      offset[n] = static_cast<int>(weights.size());
      if (enlarging) {
        double c = (k + 0.5 - t) / s - 0.5;
        c = std::clamp(c, 0.0, static_cast<double>(srcN - 1));
        int i0 = static_cast<int>(std::floor(c));
        const double f = c - i0;
        if (f == 0.0 || i0 + 1 >= srcN) {
          start[n] = i0;
          taps[n] = 1;
          weights.push_back(1.0f);
        } else {
          start[n] = i0;
          taps[n] = 2;
          weights.push_back(static_cast<float>(1.0 - f));
          weights.push_back(static_cast<float>(f));
          unit = false;
        }
      } else {
        double a = (k - t) / s;
        double b = (k + 1 - t) / s;
        if (a > b) std::swap(a, b);
        a = std::max(a, 0.0);
        b = std::min(b, static_cast<double>(srcN));
        if (!(b > a)) {  // only reachable through rounding at an edge
          const int i = std::clamp(static_cast<int>(std::floor(a)), 0, srcN - 1);
          start[n] = i;
          taps[n] = 1;
          weights.push_back(1.0f);
          continue;
        }
        const int i0 = static_cast<int>(std::floor(a));
        const int i1 = std::min(srcN, static_cast<int>(std::ceil(b)));
        const double span = b - a;
        int used = 0;
        int firstUsed = -1;
        for (int i = i0; i < i1; ++i) {
          const double w = (std::min(i + 1.0, b) - std::max<double>(i, a)) / span;
          if (w <= 1e-9) {
            if (used == 0) continue;  // a sliver before the first real tap
            break;
          }
          if (firstUsed < 0) firstUsed = i;
          weights.push_back(static_cast<float>(w));
          ++used;
        }
        start[n] = firstUsed;
        taps[n] = used;
        if (used != 1 || weights.back() != 1.0f) unit = false;
      }
      maxTaps = std::max(maxTaps, taps[n]);
    }
  }
};

inline std::uint8_t toByte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<std::uint8_t>(v + 0.5f);
}

// Resamples rows of the source along u into float pixels, keeping the few
// rows the vertical taps need at once.
class RowCache {
 public:
  RowCache(const Image& image, const AxisFilter& fu, int slots)
      : image_(image), fu_(fu), slots_(slots), tags_(slots, -1),
        rows_(static_cast<std::size_t>(slots) * fu.count * 4) {}

  const float* row(int v) {
    const int slot = v % slots_;
    float* out = rows_.data() + static_cast<std::size_t>(slot) * fu_.count * 4;
    if (tags_[slot] == v) return out;
    tags_[slot] = v;
    const std::uint8_t* src = image_.data() + static_cast<std::size_t>(v) * image_.bytesPerRow();
    const int* start = fu_.start.data();
    const int* taps = fu_.taps.data();
    const int* offset = fu_.offset.data();
    const float* weights = fu_.weights.data();
    for (int p = 0; p < fu_.count; ++p) {
      const std::uint8_t* s = src + static_cast<std::size_t>(start[p]) * 4;
      const float* w = weights + offset[p];
      float a0 = 0, a1 = 0, a2 = 0, a3 = 0;
      for (int t = 0; t < taps[p]; ++t) {
        const float wt = w[t];
        a0 += wt * static_cast<float>(s[0]);
        a1 += wt * static_cast<float>(s[1]);
        a2 += wt * static_cast<float>(s[2]);
        a3 += wt * static_cast<float>(s[3]);
        s += 4;
      }
      out[0] = a0;
      out[1] = a1;
      out[2] = a2;
      out[3] = a3;
      out += 4;
    }
    return rows_.data() + static_cast<std::size_t>(slot) * fu_.count * 4;
  }

 private:
  const Image& image_;
  const AxisFilter& fu_;
  int slots_;
  std::vector<int> tags_;
  std::vector<float> rows_;
};

// Lays a source pixel over a destination pixel with the given coverage.
inline void composite(const std::uint8_t* s, std::uint8_t* d, float coverage) {
  if (coverage >= 1.0f) {
    const unsigned sa = s[0];
    if (sa == 255) {
      std::memcpy(d, s, 4);
      return;
    }
    const unsigned keep = 255 - sa;
    for (int c = 0; c < 4; ++c) {
      const unsigned x = d[c] * keep + 128;
      d[c] = static_cast<std::uint8_t>(std::min(255u, s[c] + ((x + (x >> 8)) >> 8)));
    }
    return;
  }
  if (coverage <= 0.0f) return;
  const float keep = 1.0f - static_cast<float>(s[0]) / 255.0f * coverage;
  for (int c = 0; c < 4; ++c)
    d[c] = toByte(static_cast<float>(s[c]) * coverage + static_cast<float>(d[c]) * keep);
}

void drawSeparable(const Image& image, const Resampler::Map& m, bool swap, std::uint8_t* canvas,
                   int cw, int ch) {
  const int W = image.width();
  const int H = image.height();
  // Which canvas axis each image axis runs along, and its scale and offset.
  AxisFilter fu;
  AxisFilter fv;
  if (!swap) {
    fu.build(W, m.m00, m.m02, cw);
    fv.build(H, m.m11, m.m12, ch);
  } else {
    fu.build(W, m.m10, m.m12, ch);
    fv.build(H, m.m01, m.m02, cw);
  }
  if (fu.count == 0 || fv.count == 0) return;

  // The resampled picture, indexed like the source: rows along v, pixels along u.
  const std::size_t rowBytes = static_cast<std::size_t>(fu.count) * 4;
  std::vector<std::uint8_t> out(rowBytes * fv.count);
  if (fu.unit && fv.unit) {
    // A unit filter may still read its sources backwards (a mirror).
    bool contiguous = true;
    for (int p = 1; p < fu.count && contiguous; ++p) contiguous = fu.start[p] == fu.start[0] + p;
    for (int q = 0; q < fv.count; ++q) {
      const std::uint8_t* src =
          image.data() + static_cast<std::size_t>(fv.start[q]) * image.bytesPerRow();
      std::uint8_t* dst = out.data() + q * rowBytes;
      if (contiguous) {
        std::memcpy(dst, src + static_cast<std::size_t>(fu.start[0]) * 4, rowBytes);
      } else {
        for (int p = 0; p < fu.count; ++p)
          std::memcpy(dst + p * 4, src + static_cast<std::size_t>(fu.start[p]) * 4, 4);
      }
    }
  } else {
    RowCache cache(image, fu, fv.maxTaps + 1);
    std::vector<float> acc(rowBytes);
    for (int q = 0; q < fv.count; ++q) {
      std::fill(acc.begin(), acc.end(), 0.0f);
      const float* w = fv.weights.data() + fv.offset[q];
      for (int t = 0; t < fv.taps[q]; ++t) {
        const float* r = cache.row(fv.start[q] + t);
        const float wt = w[t];
        float* a = acc.data();
        for (std::size_t i = 0; i < rowBytes; ++i) a[i] += wt * r[i];
      }
      std::uint8_t* dst = out.data() + q * rowBytes;
      for (std::size_t i = 0; i < rowBytes; ++i) dst[i] = toByte(acc[i]);
    }
  }

  const std::size_t canvasRow = static_cast<std::size_t>(cw) * 4;
  if (!swap) {
    for (int q = 0; q < fv.count; ++q) {
      std::uint8_t* d = canvas + static_cast<std::size_t>(fv.first + q) * canvasRow +
                        static_cast<std::size_t>(fu.first) * 4;
      const std::uint8_t* s = out.data() + q * rowBytes;
      for (int p = 0; p < fu.count; ++p)
        composite(s + p * 4, d + p * 4, fu.coverage[p] * fv.coverage[q]);
    }
    return;
  }
  // Turned a quarter: u runs down the canvas rows, v along its columns.
  // Transpose in tiles to stay within the caches.
  constexpr int kTile = 32;
  for (int p0 = 0; p0 < fu.count; p0 += kTile) {
    const int p1 = std::min(fu.count, p0 + kTile);
    for (int q0 = 0; q0 < fv.count; q0 += kTile) {
      const int q1 = std::min(fv.count, q0 + kTile);
      for (int p = p0; p < p1; ++p) {
        std::uint8_t* d = canvas + static_cast<std::size_t>(fu.first + p) * canvasRow +
                          static_cast<std::size_t>(fv.first) * 4;
        for (int q = q0; q < q1; ++q)
          composite(out.data() + q * rowBytes + p * 4, d + q * 4,
                    fu.coverage[p] * fv.coverage[q]);
      }
    }
  }
}

void bilinear(const Image& image, double u, double v, float* px) {
  const int W = image.width();
  const int H = image.height();
  const double x = std::clamp(u - 0.5, 0.0, W - 1.0);
  const double y = std::clamp(v - 0.5, 0.0, H - 1.0);
  const int x0 = static_cast<int>(x);
  const int y0 = static_cast<int>(y);
  const int x1 = std::min(x0 + 1, W - 1);
  const int y1 = std::min(y0 + 1, H - 1);
  const float fx = static_cast<float>(x - x0);
  const float fy = static_cast<float>(y - y0);
  const std::uint8_t* r0 = image.data() + static_cast<std::size_t>(y0) * image.bytesPerRow();
  const std::uint8_t* r1 = image.data() + static_cast<std::size_t>(y1) * image.bytesPerRow();
  for (int c = 0; c < 4; ++c) {
    const float top = r0[x0 * 4 + c] + (r0[x1 * 4 + c] - r0[x0 * 4 + c]) * fx;
    const float bottom = r1[x0 * 4 + c] + (r1[x1 * 4 + c] - r1[x0 * 4 + c]) * fx;
    px[c] += top + (bottom - top) * fy;
  }
}

// Any other map: n × n samples per canvas pixel, bilinear each, n growing
// with the shrink factor so that shrinking still averages the covered area.
void drawGeneral(const Image& image, const Resampler::Map& m, std::uint8_t* canvas, int cw,
                 int ch) {
  const double det = m.m00 * m.m11 - m.m01 * m.m10;
  if (!(std::fabs(det) > 1e-12) || !std::isfinite(det)) return;
  const double i00 = m.m11 / det, i01 = -m.m01 / det;
  const double i10 = -m.m10 / det, i11 = m.m00 / det;
  const double i02 = -(i00 * m.m02 + i01 * m.m12);
  const double i12 = -(i10 * m.m02 + i11 * m.m12);
  const int W = image.width();
  const int H = image.height();

  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  for (const auto& [u, v] : {std::pair{0.0, 0.0}, {double(W), 0.0}, {0.0, double(H)},
                            {double(W), double(H)}}) {
    const double x = m.m00 * u + m.m01 * v + m.m02;
    const double y = m.m10 * u + m.m11 * v + m.m12;
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  const int x0 = static_cast<int>(std::max(0.0, std::floor(minX)));
  const int x1 = static_cast<int>(std::min<double>(cw, std::ceil(maxX)));
  const int y0 = static_cast<int>(std::max(0.0, std::floor(minY)));
  const int y1 = static_cast<int>(std::min<double>(ch, std::ceil(maxY)));
  const double stretch = std::max(std::fabs(i00) + std::fabs(i01), std::fabs(i10) + std::fabs(i11));
  const int n = std::clamp(static_cast<int>(std::ceil(stretch)), 2, 8);
  const float perSample = 1.0f / static_cast<float>(n * n);

  for (int y = y0; y < y1; ++y) {
    std::uint8_t* row = canvas + static_cast<std::size_t>(y) * cw * 4;
    for (int x = x0; x < x1; ++x) {
      float acc[4] = {0, 0, 0, 0};
      int inside = 0;
      for (int sy = 0; sy < n; ++sy) {
        const double py = y + (sy + 0.5) / n;
        for (int sx = 0; sx < n; ++sx) {
          const double px = x + (sx + 0.5) / n;
          const double u = i00 * px + i01 * py + i02;
          const double v = i10 * px + i11 * py + i12;
          if (u < 0 || v < 0 || u >= W || v >= H) continue;
          bilinear(image, u, v, acc);
          ++inside;
        }
      }
      if (inside == 0) continue;
      std::uint8_t s[4];
      for (int c = 0; c < 4; ++c) s[c] = toByte(acc[c] / static_cast<float>(inside));
      composite(s, row + x * 4, static_cast<float>(inside) * perSample);
    }
  }
}

}  // namespace

bool Resampler::isAxisAligned(const Map& m, int w, int h) {
  // A map counts as axis-aligned when treating it so moves no image corner
  // by more than a hundredth of a pixel: single-precision sines of quarter
  // turns are not exactly zero.
  constexpr double kTolerance = 0.01;
  if (std::fabs(m.m01) * h + std::fabs(m.m10) * w < kTolerance) return true;
  return std::fabs(m.m00) * w + std::fabs(m.m11) * h < kTolerance;
}

void Resampler::draw(const Image& image, const Map& m, std::uint8_t* canvas, int width,
                     int height) {
  if (!canvas || width <= 0 || height <= 0) return;
  for (double v : {m.m00, m.m01, m.m02, m.m10, m.m11, m.m12})
    if (!std::isfinite(v)) return;
  const int w = image.width();
  const int h = image.height();
  if (std::fabs(m.m01) * h + std::fabs(m.m10) * w < 0.01) {
    drawSeparable(image, m, false, canvas, width, height);
  } else if (std::fabs(m.m00) * w + std::fabs(m.m11) * h < 0.01) {
    drawSeparable(image, m, true, canvas, width, height);
  } else {
    drawGeneral(image, m, canvas, width, height);
  }
}

}  // namespace glowsnap
