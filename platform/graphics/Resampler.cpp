#include "platform/graphics/Resampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/graphics/PixelBuffer.h"

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
  int first = 0;            // first destination index
  int count = 0;            // destination indices first .. first+count-1
  std::vector<int> start;   // first source index per destination index
  std::vector<int> taps;    // number of source indices
  std::vector<int> offset;  // into weights
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
    const int k0 = static_cast<int>(std::clamp(std::floor(lo), 0.0, static_cast<double>(destN)));
    const int k1 = static_cast<int>(std::clamp(std::ceil(hi), 0.0, static_cast<double>(destN)));
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

// Rounds to the nearest byte (halves up), clamped; branch-free so that the
// loops over whole rows vectorise.
inline std::uint8_t toByte(float v) {
  const float c = std::min(std::max(v, 0.0f), 255.0f);
  return static_cast<std::uint8_t>(static_cast<int>(c + 0.5f));
}

// Filters 4-channel float or byte pixels along u with the weights of fu;
// src holds the source pixels from column firstColumn on.
template <typename T>
void filterRowAlongU(const AxisFilter& fu, const T* src, int firstColumn, float* out) {
  const int* start = fu.start.data();
  const int* taps = fu.taps.data();
  const int* offset = fu.offset.data();
  const float* weights = fu.weights.data();
  for (int p = 0; p < fu.count; ++p) {
    const T* s = src + static_cast<std::size_t>(start[p] - firstColumn) * 4;
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
}

// Produces the resampled picture one row at a time (rows along v, pixels
// along u, as in the source), in increasing row order. The work goes first
// along the axis that removes more of it: columns first when the picture
// loses rows, rows first when it gains them.
class RowProducer {
 public:
  RowProducer(const Image& image, const AxisFilter& fu, const AxisFilter& fv)
      : image_(image), fu_(fu), fv_(fv), rowBytes_(static_cast<std::size_t>(fu.count) * 4) {
    if (fu.unit && fv.unit) {
      mode_ = Mode::Copy;
      contiguous_ = true;
      for (int p = 1; p < fu.count && contiguous_; ++p)
        contiguous_ = fu.start[p] == fu.start[0] + p;
      return;
    }
    // Filtering along u costs a scalar step per tap and pixel; combining
    // rows along v runs over contiguous bytes and costs about a quarter.
    const double tapsU = static_cast<double>(fu.weights.size()) / fu.count;
    const double tapsV = static_cast<double>(fv.weights.size()) / fv.count;
    const double rowsFirst =
        double(image.height()) * fu.count * tapsU + 0.25 * double(fv.count) * fu.count * tapsV;
    const double columnsFirst =
        0.25 * double(fv.count) * image.width() * tapsV + double(fv.count) * fu.count * tapsU;
    if (rowsFirst <= columnsFirst) {
      mode_ = Mode::RowsFirst;
      slots_ = fv.maxTaps + 1;
      tags_.assign(slots_, -1);
      rows_.resize(static_cast<std::size_t>(slots_) * rowBytes_);
      acc_.resize(rowBytes_);
    } else {
      mode_ = Mode::ColumnsFirst;
      c0_ = image.width();
      c1_ = 0;
      for (int p = 0; p < fu.count; ++p) {
        c0_ = std::min(c0_, fu.start[p]);
        c1_ = std::max(c1_, fu.start[p] + fu.taps[p]);
      }
      acc_.resize(static_cast<std::size_t>(c1_ - c0_) * 4);
    }
  }

  void produce(int q, std::uint8_t* dst) {
    switch (mode_) {
      case Mode::Copy:
        return copyRow(q, dst);
      case Mode::RowsFirst:
        return rowsFirst(q, dst);
      case Mode::ColumnsFirst:
        return columnsFirst(q, dst);
    }
  }

 private:
  enum class Mode { Copy, RowsFirst, ColumnsFirst };

  const std::uint8_t* sourceRow(int v) const {
    return image_.data() + static_cast<std::size_t>(v) * image_.bytesPerRow();
  }

  void copyRow(int q, std::uint8_t* dst) {
    const std::uint8_t* src = sourceRow(fv_.start[q]);
    if (contiguous_) {
      std::memcpy(dst, src + static_cast<std::size_t>(fu_.start[0]) * 4, rowBytes_);
      return;
    }
    for (int p = 0; p < fu_.count; ++p)  // a mirror reads backwards
      std::memcpy(dst + p * 4, src + static_cast<std::size_t>(fu_.start[p]) * 4, 4);
  }

  // Each source row is filtered along u once and kept while the vertical
  // taps need it; rows are then combined along v.
  const float* filteredRow(int v) {
    const int slot = v % slots_;
    float* row = rows_.data() + static_cast<std::size_t>(slot) * rowBytes_;
    if (tags_[slot] != v) {
      tags_[slot] = v;
      filterRowAlongU(fu_, sourceRow(v), 0, row);
    }
    return row;
  }

  void rowsFirst(int q, std::uint8_t* dst) {
    std::fill(acc_.begin(), acc_.end(), 0.0f);
    const float* w = fv_.weights.data() + fv_.offset[q];
    for (int t = 0; t < fv_.taps[q]; ++t) {
      const float* r = filteredRow(fv_.start[q] + t);
      const float wt = w[t];
      float* a = acc_.data();
      for (std::size_t i = 0; i < rowBytes_; ++i) a[i] += wt * r[i];
    }
    for (std::size_t i = 0; i < rowBytes_; ++i) dst[i] = toByte(acc_[i]);
  }

  // The source rows of one destination row are combined along v over the
  // columns that u reads, then that single row is filtered along u.
  void columnsFirst(int q, std::uint8_t* dst) {
    const std::size_t span = acc_.size();
    std::fill(acc_.begin(), acc_.end(), 0.0f);
    const float* w = fv_.weights.data() + fv_.offset[q];
    for (int t = 0; t < fv_.taps[q]; ++t) {
      const std::uint8_t* src = sourceRow(fv_.start[q] + t) + static_cast<std::size_t>(c0_) * 4;
      const float wt = w[t];
      float* a = acc_.data();
      for (std::size_t i = 0; i < span; ++i) a[i] += wt * static_cast<float>(src[i]);
    }
    line_.resize(rowBytes_);
    filterRowAlongU(fu_, acc_.data(), c0_, line_.data());
    for (std::size_t i = 0; i < rowBytes_; ++i) dst[i] = toByte(line_[i]);
  }

  const Image& image_;
  const AxisFilter& fu_;
  const AxisFilter& fv_;
  std::size_t rowBytes_;
  Mode mode_ = Mode::Copy;
  bool contiguous_ = true;
  int slots_ = 0;
  std::vector<int> tags_;
  std::vector<float> rows_;
  std::vector<float> acc_;
  std::vector<float> line_;
  int c0_ = 0, c1_ = 0;
};

// The most threads a separable drawing uses; 0: as many as the machine has.
std::atomic<int> g_threadLimit{0};

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

  const std::size_t rowBytes = static_cast<std::size_t>(fu.count) * 4;
  const std::size_t canvasRow = static_cast<std::size_t>(cw) * 4;
  // Rows q0 to q1 − 1 of the resampled picture, laid onto the canvas. Each
  // band has a producer of its own; bands write disjoint canvas pixels.
  std::function<void(int, int)> band;
  if (!swap) {
    bool fullRow = true;
    for (int p = 0; p < fu.count && fullRow; ++p) fullRow = fu.coverage[p] >= 1.0f;
    band = [&, fullRow](int q0, int q1) {
      RowProducer producer(image, fu, fv);
      std::vector<std::uint8_t> line(rowBytes);
      for (int q = q0; q < q1; ++q) {
        producer.produce(q, line.data());
        std::uint8_t* d = canvas + static_cast<std::size_t>(fv.first + q) * canvasRow +
                          static_cast<std::size_t>(fu.first) * 4;
        if (fullRow && fv.coverage[q] >= 1.0f) {
          // An opaque, fully covered row replaces what was there.
          unsigned alpha = 255;
          for (int p = 0; p < fu.count; ++p) alpha &= line[p * 4];
          if (alpha == 255) {
            std::memcpy(d, line.data(), rowBytes);
            continue;
          }
        }
        for (int p = 0; p < fu.count; ++p)
          composite(line.data() + p * 4, d + p * 4, fu.coverage[p] * fv.coverage[q]);
      }
    };
  } else {
    // Turned a quarter: u runs down the canvas rows, v along its columns.
    // A stretch of rows is made, then laid down transposed in small tiles.
    band = [&](int qb, int qe) {
      constexpr int kStretch = 32;
      constexpr int kTile = 64;
      RowProducer producer(image, fu, fv);
      std::vector<std::uint8_t> stretch(rowBytes * kStretch);
      for (int q0 = qb; q0 < qe; q0 += kStretch) {
        const int q1 = std::min(qe, q0 + kStretch);
        for (int q = q0; q < q1; ++q) producer.produce(q, stretch.data() + (q - q0) * rowBytes);
        for (int p0 = 0; p0 < fu.count; p0 += kTile) {
          const int p1 = std::min(fu.count, p0 + kTile);
          for (int p = p0; p < p1; ++p) {
            std::uint8_t* d = canvas + static_cast<std::size_t>(fu.first + p) * canvasRow +
                              static_cast<std::size_t>(fv.first) * 4;
            for (int q = q0; q < q1; ++q)
              composite(stretch.data() + (q - q0) * rowBytes + p * 4, d + q * 4,
                        fu.coverage[p] * fv.coverage[q]);
          }
        }
      }
    };
  }

  // Contiguous bands, one per thread, in multiples of 32 rows.
  const long long pixels = static_cast<long long>(fu.count) * fv.count;
  int threads = 1;
  if (pixels >= (1LL << 20)) {
    const int limit = g_threadLimit.load();
    const int machine = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min({limit > 0 ? limit : machine, machine, 8, (fv.count + 31) / 32});
  }
  if (threads <= 1) {
    band(0, fv.count);
    return;
  }
  const int per = ((fv.count + threads - 1) / threads + 31) / 32 * 32;
  std::vector<std::thread> helpers;
  for (int t = 1; t < threads && t * per < fv.count; ++t) {
    const int q0 = t * per;
    const int q1 = std::min(fv.count, (t + 1) * per);
    try {
      helpers.emplace_back(band, q0, q1);
    } catch (const std::system_error&) {
      band(q0, q1);  // no thread to be had: the band is made here
    }
  }
  band(0, std::min(fv.count, per));
  for (std::thread& helper : helpers) helper.join();
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
  for (const auto& [u, v] :
       {std::pair{0.0, 0.0}, {double(W), 0.0}, {0.0, double(H)}, {double(W), double(H)}}) {
    const double x = m.m00 * u + m.m01 * v + m.m02;
    const double y = m.m10 * u + m.m11 * v + m.m12;
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  auto within = [](double v, int n) { return static_cast<int>(std::clamp(v, 0.0, double(n))); };
  const int x0 = within(std::floor(minX), cw);
  const int x1 = within(std::ceil(maxX), cw);
  const int y0 = within(std::floor(minY), ch);
  const int y1 = within(std::ceil(maxY), ch);
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

// A map counts as axis-aligned when treating it so moves no image corner by
// more than a hundredth of a pixel: single-precision sines and cosines of
// quarter turns are not exactly zero.
constexpr double kAxisTolerance = 0.01;

bool keepsAxes(const Resampler::Map& m, int w, int h) {
  return std::fabs(m.m01) * h + std::fabs(m.m10) * w < kAxisTolerance;
}

bool swapsAxes(const Resampler::Map& m, int w, int h) {
  return std::fabs(m.m00) * w + std::fabs(m.m11) * h < kAxisTolerance;
}

}  // namespace

struct RowReducer::State {
  int sourceWidth = 0;
  int sourceHeight = 0;
  int width = 0;
  AxisFilter fu;
  AxisFilter fv;
  int c0 = 0, c1 = 0;         // the source columns fu reads
  int next = 0;               // source rows taken so far
  int nextRow = 0;            // the first output row (index into fv) not made yet
  std::vector<float> acc[3];  // rows being combined, by output row mod 3
  std::vector<float> line;
  std::vector<std::uint8_t> pixels;

  void emit(int q) {
    const std::vector<float>& a = acc[q % 3];
    filterRowAlongU(fu, a.data(), c0, line.data());
    std::uint8_t* d =
        pixels.data() + (static_cast<std::size_t>(fv.first + q) * width + fu.first) * 4;
    const float cq = fv.coverage[q];
    for (int p = 0; p < fu.count; ++p) {
      const float coverage = fu.coverage[p] * cq;
      const float* px = line.data() + static_cast<std::size_t>(p) * 4;
      for (int c = 0; c < 4; ++c)
        d[p * 4 + c] = coverage >= 1.0f ? toByte(px[c]) : toByte(toByte(px[c]) * coverage);
    }
  }
};

RowReducer::RowReducer(int sourceWidth, int sourceHeight, double scaleU, double offsetU,
                       double scaleV, double offsetV, int width, int height)
    : state_(std::make_unique<State>()) {
  State& st = *state_;
  st.sourceWidth = sourceWidth;
  st.sourceHeight = sourceHeight;
  st.width = width;
  st.fu.build(sourceWidth, scaleU, offsetU, width);
  st.fv.build(sourceHeight, scaleV, offsetV, height);
  st.pixels = PixelBuffer::zeroed(static_cast<std::size_t>(width) * height * 4);
  if (st.fu.count == 0 || st.fv.count == 0) return;
  st.c0 = sourceWidth;
  for (int p = 0; p < st.fu.count; ++p) {
    st.c0 = std::min(st.c0, st.fu.start[p]);
    st.c1 = std::max(st.c1, st.fu.start[p] + st.fu.taps[p]);
  }
  for (auto& a : st.acc) a.resize(static_cast<std::size_t>(st.c1 - st.c0) * 4);
  st.line.resize(static_cast<std::size_t>(st.fu.count) * 4);
}

RowReducer::~RowReducer() = default;

void RowReducer::addRow(const std::uint8_t* row) {
  State& st = *state_;
  const int v = st.next++;
  if (v >= st.sourceHeight || st.fu.count == 0) return;
  const AxisFilter& fv = st.fv;
  const std::uint8_t* src = row + static_cast<std::size_t>(st.c0) * 4;
  const std::size_t span = st.acc[0].size();
  for (int q = st.nextRow; q < fv.count && fv.start[q] <= v; ++q) {
    const int t = v - fv.start[q];
    if (t >= fv.taps[q]) continue;
    float* a = st.acc[q % 3].data();
    if (t == 0) std::fill(a, a + span, 0.0f);
    const float wt = fv.weights[fv.offset[q] + t];
    for (std::size_t i = 0; i < span; ++i) a[i] += wt * static_cast<float>(src[i]);
  }
  while (st.nextRow < fv.count && fv.start[st.nextRow] + fv.taps[st.nextRow] - 1 <= v)
    st.emit(st.nextRow++);
}

ImageRef RowReducer::finish() {
  State& st = *state_;
  const int height = static_cast<int>(st.pixels.size() / 4 / std::max(1, st.width));
  return Image::create(st.width, height, std::move(st.pixels), Image::Up);
}

void Resampler::setThreadLimit(int threads) { g_threadLimit.store(std::max(0, threads)); }

bool Resampler::isAxisAligned(const Map& m, int w, int h) {
  return keepsAxes(m, w, h) || swapsAxes(m, w, h);
}

void Resampler::draw(const Image& image, const Map& m, std::uint8_t* canvas, int width,
                     int height) {
  if (!canvas || width <= 0 || height <= 0) return;
  for (double v : {m.m00, m.m01, m.m02, m.m10, m.m11, m.m12})
    if (!std::isfinite(v)) return;
  if (keepsAxes(m, image.width(), image.height()))
    drawSeparable(image, m, false, canvas, width, height);
  else if (swapsAxes(m, image.width(), image.height()))
    drawSeparable(image, m, true, canvas, width, height);
  else
    drawGeneral(image, m, canvas, width, height);
}

}  // namespace glowsnap
