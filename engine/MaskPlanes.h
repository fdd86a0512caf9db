// MaskPlanes: the fast traversal of the filters built around a grey mask.
//
// Most HDR looks share one shape: pass 0 turns the photo into a grey mask
// (the three channels of every pixel equal) and saves the photo in the
// snapshot; the next passes blur the mask; the last ones combine mask, photo
// and snapshot pixel by pixel, some with an edge detector over the mask or
// over the image. Walked like any other filter, each blur pass computes three
// equal channels, reads every neighbour through a bounds check and writes
// four bytes per pixel that the next pass reads back. Here the mask is kept
// as one byte per pixel instead (a plane, two of them in turn in the spare
// buffer), each row of it is turned into floats once for the eight
// neighbours that read it, the pixel buffer keeps the photo until the first
// combining pass reads it there (so no snapshot buffer is made), and the
// combining passes write straight into the pixel buffer.
//
// Nothing in the arithmetic changes. Every value a recipe function receives
// is the float the plain walk reads for that pixel: the mask byte times
// kByteToUnit as get_pixel gives it, or divided by 255 as the snapshot
// readers give it; the photo's bytes as they are. Neighbours are found with
// the same single-precision expressions, summed in the same order, and every
// result is stored with the same clamp, product and truncation. The bytes
// are the ones the plain walk holds at that point, because a pass that
// writes the same value to the three channels writes the same byte to each.
//
// A look takes part by stating its recipe (MaskRecipe.h), from which
// MaskRecipeFilter makes a
//     FastPass mask_pass(int pass, MaskPass& run)
// that PostProcessFilter calls for every pass of a fast run instead of
// walking the pixels itself. Every pass of the run goes to one of
// MaskPass's operations: while the mask lives in a plane the pixel buffer
// still holds the photo, so no pass may read the buffer through get_pixel.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "engine/PixelOperations.h"
#include "engine/PostProcess.h"

// x86-64 builds of the loops for AVX2 and AVX-512 besides the baseline.
#if defined(__x86_64__) && defined(__GNUC__)
#define GLOWSNAP_MASK_AVX2 1
#endif

namespace glowsnap {

// Where the neighbours of a 3 × 3 blur or edge detection at a radius are:
// for every column the three columns the offsets −1, 0, +1 lead to, and for
// every row the three rows, each the neighbour_coordinate do_blur and
// do_edge_detection compute. Columns kl to the left and kr to the right
// hold for the interior [xa, xb), where all three lie inside the row; the
// columns outside it are read one by one.
struct NeighbourReach {
  std::vector<int> col[3];
  std::vector<int> row[3];
  int kl = 0;
  int kr = 0;
  int xa = 0;
  int xb = 0;

  void compute(float radius, int w, int h);

  // Table k holds the offset k − 1; neighbour i of kNeighbours is found in
  // column table column_of(i) and row table row_of(i).
  static constexpr float offset_of(int k) { return static_cast<float>(k - 1); }
  static constexpr int column_of(int i) { return static_cast<int>(kNeighbours[i].dx) + 1; }
  static constexpr int row_of(int i) { return static_cast<int>(kNeighbours[i].dy) + 1; }
};

// One pixel of a combining pass: where its values are at (x, y). The
// conversions here are get_pixel's; the snapshot's bytes are handed out as
// they are, for the look's own snapshot reader (MaskRecipe.h).
struct MaskPixel {
  const std::uint8_t* mask_row;  // the current mask plane's row (null where unavailable)
  const std::uint8_t* snap_row;  // the saved photo's row, ARGB (null once written over)
  const std::uint8_t* data_row;  // the pixel buffer's row, ARGB
  int x;

  // The mask as get_pixel reads it from the buffer: the byte times
  // kByteToUnit, the same in all three channels.
  float mask_value() const { return static_cast<float>(mask_row[x]) * kByteToUnit; }
  rgb_color mask() const {
    const float v = mask_value();
    return {v, v, v};
  }
  std::uint8_t mask_byte() const { return mask_row[x]; }
  // The photo's pixel as saved in the snapshot, bytes alpha, red, green,
  // blue in memory.
  std::uint32_t photo_word() const { return word_at(snap_row, x); }
  // The buffer's pixel as get_pixel reads it.
  rgb_color pixel() const {
    const std::uint32_t word = word_at(data_row, x);
    return {static_cast<float>(red_of(word)) * kByteToUnit,
            static_cast<float>(green_of(word)) * kByteToUnit,
            static_cast<float>(blue_of(word)) * kByteToUnit};
  }

  // Pixels are read and written as whole 32-bit words, which a loop over a
  // row turns into vector loads and stores; the bytes in memory are alpha,
  // red, green, blue.
  static std::uint32_t word_at(const std::uint8_t* row, int x) {
    std::uint32_t word;
    std::memcpy(&word, row + 4 * x, 4);
    return word;
  }
  static constexpr bool kLittle = std::endian::native == std::endian::little;
  static constexpr int kAlphaShift = kLittle ? 0 : 24;
  static constexpr int kRedShift = kLittle ? 8 : 16;
  static constexpr int kGreenShift = kLittle ? 16 : 8;
  static constexpr int kBlueShift = kLittle ? 24 : 0;
  static std::uint32_t red_of(std::uint32_t word) { return (word >> kRedShift) & 0xffu; }
  static std::uint32_t green_of(std::uint32_t word) { return (word >> kGreenShift) & 0xffu; }
  static std::uint32_t blue_of(std::uint32_t word) { return (word >> kBlueShift) & 0xffu; }
  static std::uint32_t alpha_bits(std::uint32_t word) { return word & (0xffu << kAlphaShift); }
};

// The state of one fast run: the two planes in the spare buffer, which of
// them holds the mask, and the neighbour tables of the last radius.
class MaskPlanes {
 public:
  // At pass 0: the run's size, pixel buffer and spare buffer.
  void begin(int w, int h, std::uint8_t* data, std::uint8_t* spare);

  int width() const { return m_w; }
  int height() const { return m_h; }
  std::uint8_t* data() const { return m_data; }
  std::uint8_t* spare() const { return m_spare; }
  std::uint8_t* plane(int i) const {
    return m_spare + static_cast<std::size_t>(i) * static_cast<std::size_t>(m_w) * m_h;
  }
  std::uint8_t* mask() const { return plane(m_current); }
  // The photo the recipe saved at pass 0: still in the pixel buffer until a
  // combining pass writes there, null after that.
  const std::uint8_t* photo() const { return m_photo_intact ? m_data : nullptr; }
  void photo_overwritten() { m_photo_intact = false; }
  std::uint8_t* other() const { return plane(1 - m_current); }
  void flip() { m_current = 1 - m_current; }
  const NeighbourReach& reach(float radius);
  // 256 × 256 bytes for combine_channels, allocated on first use.
  std::uint8_t* channel_table();

 private:
  int m_w = 0;
  int m_h = 0;
  std::uint8_t* m_data = nullptr;
  std::uint8_t* m_spare = nullptr;
  int m_current = 0;
  bool m_photo_intact = true;
  float m_radius = -1.0f;
  NeighbourReach m_reach;
  std::vector<std::uint8_t> m_channel_table;
};

namespace mask_detail {

#define GLOWSNAP_ALWAYS_INLINE __attribute__((always_inline)) inline

// PostProcess::to_byte without branches: a NaN or anything at or below 0
// gives 0, anything above 1 gives 255, the rest v·255 truncated.
GLOWSNAP_ALWAYS_INLINE std::uint8_t to_byte(float v) {
  v = v > 0.0f ? v : 0.0f;
  v = v > 1.0f ? 1.0f : v;
  return static_cast<std::uint8_t>(static_cast<int>(v * 255.0f));
}

// Float rows a neighbourhood reads: the mask as get_pixel gives it.
struct PlaneUnits {
  const std::uint8_t* plane;
  int w;
  GLOWSNAP_ALWAYS_INLINE void fill(int y, float* __restrict dst) const {
    const std::uint8_t* __restrict p = plane + static_cast<std::size_t>(y) * w;
    for (int x = 0; x < w; ++x) dst[x] = static_cast<float>(p[x]) * kByteToUnit;
  }
};

// The mask as get_pixel_bw gives it: the mean of three equal channels.
struct PlaneGreys {
  const std::uint8_t* plane;
  int w;
  GLOWSNAP_ALWAYS_INLINE void fill(int y, float* __restrict dst) const {
    const std::uint8_t* __restrict p = plane + static_cast<std::size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      const float v = static_cast<float>(p[x]) * kByteToUnit;
      dst[x] = grey_of({v, v, v});
    }
  }
};

// The ARGB buffer as get_pixel_bw gives it.
struct ImageGreys {
  const std::uint8_t* data;
  int w;
  GLOWSNAP_ALWAYS_INLINE void fill(int y, float* __restrict dst) const {
    const std::uint8_t* __restrict p = data + static_cast<std::size_t>(y) * w * 4;
    for (int x = 0; x < w; ++x) {
      const float r = static_cast<float>(p[4 * x + 1]) * kByteToUnit;
      const float g = static_cast<float>(p[4 * x + 2]) * kByteToUnit;
      const float b = static_cast<float>(p[4 * x + 3]) * kByteToUnit;
      dst[x] = grey_of({r, g, b});
    }
  }
};

// The scratch floats of the calling thread: rows of a band's neighbourhood.
float* scratch(std::size_t floats);

template <class F>
GLOWSNAP_ALWAYS_INLINE void interior(const float* __restrict u, const float* __restrict c,
                                     const float* __restrict d, float* __restrict res, int xa,
                                     int xb, int kl, int kr, F f) {
  const float* const line[3] = {u, c, d};
  const int shift[3] = {-kl, 0, kr};
  for (int x = xa; x < xb; ++x) {
    float l[8];
    for (int i = 0; i < 8; ++i)
      l[i] = line[NeighbourReach::row_of(i)][x + shift[NeighbourReach::column_of(i)]];
    res[x] = f(l);
  }
}

// For each row y of [y0, y1): res[x] = f(the eight neighbour values of
// (x, y) in table order, 0 outside the image), then sink(y, res).
template <class Source, class F, class Sink>
GLOWSNAP_ALWAYS_INLINE void neighbour_rows(const NeighbourReach& reach, const Source& source, int w,
                                           int h, int y0, int y1, F f, Sink sink) {
  int lo = h;
  int hi = -1;
  for (int y = y0; y < y1; ++y) {
    for (int k = 0; k < 3; ++k) {
      const int r = reach.row[k][static_cast<std::size_t>(y)];
      if (r >= 0 && r < h) {
        lo = r < lo ? r : lo;
        hi = r > hi ? r : hi;
      }
    }
  }
  const int count = hi >= lo ? hi - lo + 1 : 0;
  const std::size_t uw = static_cast<std::size_t>(w);
  float* buffer = scratch(uw * static_cast<std::size_t>(count + 2));
  float* zero = buffer;
  float* res = buffer + uw;
  float* rows = buffer + 2 * uw;
  std::memset(zero, 0, uw * sizeof(float));
  for (int r = lo; r <= hi; ++r) source.fill(r, rows + static_cast<std::size_t>(r - lo) * uw);

  for (int y = y0; y < y1; ++y) {
    const float* line[3];
    for (int k = 0; k < 3; ++k) {
      const int r = reach.row[k][static_cast<std::size_t>(y)];
      line[k] = r >= 0 && r < h ? rows + static_cast<std::size_t>(r - lo) * uw : zero;
    }
    auto one = [&](int x) {
      float l[8];
      for (int i = 0; i < 8; ++i) {
        const int c = reach.col[NeighbourReach::column_of(i)][static_cast<std::size_t>(x)];
        l[i] = c >= 0 && c < w ? line[NeighbourReach::row_of(i)][c] : 0.0f;
      }
      res[x] = f(l);
    };
    for (int x = 0; x < reach.xa; ++x) one(x);
    interior(line[0], line[1], line[2], res, reach.xa, reach.xb, reach.kl, reach.kr, f);
    for (int x = reach.xb; x < w; ++x) one(x);
    sink(y, static_cast<const float*>(res));
  }
}

// Pixels per block of results kept as floats before they are stored.
inline constexpr int kBlock = 128;

}  // namespace mask_detail

// Runs one pass of the fast traversal in bands over the engine's threads,
// with the pass's own progress, each band compiled for the widest vectors
// the processor has. The base of the passes below.
class VectorPass {
 protected:
  VectorPass(PostProcess& engine, int pass) : m_engine(engine), m_base(engine.pass_base(pass)) {}

  // Runs body(y0, y1) over the pass's bands, compiled for the widest
  // vectors the processor has (PostProcess::vector_level); body must be
  // always_inline for that.
  template <class Body>
  void bands(const Body& body) {
#if GLOWSNAP_MASK_AVX2
    switch (PostProcess::vector_level()) {
      case PostProcess::VectorLevel::Avx512:
        m_engine.run_bands(m_base, [&body](int y0, int y1) { run_avx512(body, y0, y1); });
        return;
      case PostProcess::VectorLevel::Avx2:
        m_engine.run_bands(m_base, [&body](int y0, int y1) { run_avx2(body, y0, y1); });
        return;
      case PostProcess::VectorLevel::Baseline:
        break;
    }
#endif
    m_engine.run_bands(m_base, [&body](int y0, int y1) { run_plain(body, y0, y1); });
  }
  template <class Body>
  static void run_plain(const Body& body, int y0, int y1) {
    body(y0, y1);
  }
#if GLOWSNAP_MASK_AVX2
  template <class Body>
  __attribute__((target("avx2"))) static void run_avx2(const Body& body, int y0, int y1) {
    body(y0, y1);
  }
  template <class Body>
  __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,prefer-vector-width=512"))) static void
  run_avx512(const Body& body, int y0, int y1) {
    body(y0, y1);
  }
#endif

  PostProcess& m_engine;
  std::int64_t m_base;
};

// The operations a recipe's mask_pass() hands its passes to.
class MaskPass : public VectorPass {
 public:
  MaskPass(PostProcess& engine, MaskPlanes& planes, int pass)
      : VectorPass(engine, pass), m_planes(planes) {}

  // Pass 0: the mask is value(pixel) for every pixel. The recipe saves the
  // photo in the snapshot here; the pixel buffer keeps holding the photo
  // until the first combining pass writes over it, so that pass reads it
  // from there (MaskPixel::snapshot) and no snapshot buffer is needed.
  template <class F>
  FastPass mask(F value) {
    MaskPlanes& p = m_planes;
    bands([&p, value ](int y0, int y1) __attribute__((always_inline)) {
      const int w = p.width();
      const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
      for (int y = y0; y < y1; ++y) {
        const std::uint8_t* src = p.data() + y * rowBytes;
        std::uint8_t* __restrict dst = p.mask() + static_cast<std::size_t>(y) * w;
        const MaskPixel px{nullptr, nullptr, src, 0};
        for (int x = 0; x < w; ++x) {
          MaskPixel at = px;
          at.x = x;
          dst[x] = mask_detail::to_byte(value(at.pixel()));
        }
      }
    });
    return FastPass::InPlace;
  }

  // A pass of do_blur(x, y, radius) over the mask.
  FastPass blur(float radius);

  // A pass that combines, pixel by pixel, what value(const MaskPixel&) reads
  // into the pixel buffer's pixel; the mask stays as it is.
  template <class F>
  FastPass combine(F value) {
    MaskPlanes& p = m_planes;
    const std::uint8_t* snapshot = p.photo();
    p.photo_overwritten();
    bands([&p, snapshot, value ](int y0, int y1) __attribute__((always_inline)) {
      const int w = p.width();
      const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
      rgb_color block[mask_detail::kBlock];
      for (int y = y0; y < y1; ++y) {
        std::uint8_t* data = p.data() + y * rowBytes;
        const MaskPixel row{p.mask() + static_cast<std::size_t>(y) * w,
                            snapshot != nullptr ? snapshot + y * rowBytes : nullptr, data, 0};
        combine_row(row, w, nullptr, value, data, block);
      }
    });
    return FastPass::InPlace;
  }

  // A combining pass whose every channel is value(mask, snapshot channel)
  // of nothing but the mask (as get_pixel reads it) and that channel of the
  // snapshot (as reader, the look's snapshot reader, turns a byte into a
  // value): 256 × 256 possible inputs, so the stored byte of each is worked
  // out once, up front, and the pass looks them up. The bytes are those of
  // calling value for every pixel.
  template <class F, class Reader>
  FastPass combine_channels(F value, Reader reader) {
    MaskPlanes& p = m_planes;
    std::uint8_t* table = p.channel_table();
    for (int m = 0; m < 256; ++m) {
      const float mv = static_cast<float>(m) * kByteToUnit;
      for (int c = 0; c < 256; ++c)
        table[m * 256 + c] = mask_detail::to_byte(value(mv, reader(static_cast<std::uint8_t>(c))));
    }
    const std::uint8_t* snapshot = p.photo();
    if (snapshot == nullptr) missing_photo();
    p.photo_overwritten();
    bands([&p, table, snapshot ](int y0, int y1) __attribute__((always_inline)) {
      const int w = p.width();
      const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
      for (int y = y0; y < y1; ++y) {
        const std::uint8_t* mask = p.mask() + static_cast<std::size_t>(y) * w;
        const std::uint8_t* snap = snapshot + y * rowBytes;
        std::uint8_t* data = p.data() + y * rowBytes;
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* t = table + mask[x] * 256;
          const std::uint32_t photo = MaskPixel::word_at(snap, x);
          const std::uint32_t word =
              MaskPixel::alpha_bits(MaskPixel::word_at(data, x)) |
              (std::uint32_t{t[MaskPixel::red_of(photo)]} << MaskPixel::kRedShift) |
              (std::uint32_t{t[MaskPixel::green_of(photo)]} << MaskPixel::kGreenShift) |
              (std::uint32_t{t[MaskPixel::blue_of(photo)]} << MaskPixel::kBlueShift);
          std::memcpy(data + 4 * x, &word, 4);
        }
      }
    });
    return FastPass::InPlace;
  }

  // As combine(), value(pixel, e) also getting do_edge_detection(x, y,
  // radius) over the mask.
  template <class F>
  FastPass combine_with_mask_edges(float radius, F value) {
    return combine_edges<mask_detail::PlaneGreys, false>(radius, value);
  }

  // As combine(), value(pixel, e) also getting do_edge_detection(x, y,
  // radius) over the pixel buffer; the result goes to the spare buffer,
  // which becomes the pixel buffer (the mask is gone after it).
  template <class F>
  FastPass combine_with_image_edges(float radius, F value) {
    return combine_edges<mask_detail::ImageGreys, true>(radius, value);
  }

 private:
  [[noreturn]] static void missing_photo();

  // The edge detector reads its greys from Source (the mask or the pixel
  // buffer). Reading the buffer's neighbours, the result cannot go back
  // into it: it goes to the spare buffer, where the mask was.
  template <class Source, bool kToSpare, class F>
  FastPass combine_edges(float radius, F value) {
    MaskPlanes& p = m_planes;
    const std::uint8_t* snapshot = p.photo();
    p.photo_overwritten();
    const NeighbourReach& reach = p.reach(radius);
    bands([&p, &reach, snapshot, value ](int y0, int y1) __attribute__((always_inline)) {
      const int w = p.width();
      const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
      rgb_color block[mask_detail::kBlock];
      const std::uint8_t* source = kToSpare ? p.data() : p.mask();
      mask_detail::neighbour_rows(
          reach, Source{source, w}, w, p.height(), y0, y1,
          [](const float(&l)[8]) __attribute__((always_inline)) { return edge_magnitude(l); },
          [&](int y, const float* edges) __attribute__((always_inline)) {
            std::uint8_t* data = p.data() + y * rowBytes;
            const MaskPixel row{kToSpare ? nullptr : p.mask() + static_cast<std::size_t>(y) * w,
                                snapshot != nullptr ? snapshot + y * rowBytes : nullptr, data, 0};
            combine_row(row, w, edges, value, kToSpare ? p.spare() + y * rowBytes : data, block);
          });
    });
    return kToSpare ? FastPass::InOutput : FastPass::InPlace;
  }

  // One row of a combining pass: value for every pixel (with its edge value
  // where edges is given), stored into out with the buffer's alpha.
  template <class F>
  GLOWSNAP_ALWAYS_INLINE static void combine_row(const MaskPixel& row, int w, const float* edges,
                                                 const F& value, std::uint8_t* out,
                                                 rgb_color* block) {
    // Per stretch of the row: the results first, then one loop that packs
    // them into words with the buffer's alpha. The second loop always
    // vectorises; the first does wherever the recipe's arithmetic lets it,
    // and where it does not (a table lookup, say) the clamps in the second
    // stay free of branches. out is the buffer's row itself or a row of the
    // spare buffer; a stretch is read completely before it is stored.
    for (int x0 = 0; x0 < w; x0 += mask_detail::kBlock) {
      const int n = w - x0 < mask_detail::kBlock ? w - x0 : mask_detail::kBlock;
      MaskPixel at = row;
      for (int i = 0; i < n; ++i) {
        at.x = x0 + i;
        if constexpr (std::is_invocable_v<const F&, const MaskPixel&>) {
          block[i] = value(at);
        } else {
          block[i] = value(at, edges[x0 + i]);
        }
      }
      const std::uint8_t* __restrict in = row.data_row + 4 * x0;
      std::uint8_t* o = out + 4 * x0;
      for (int i = 0; i < n; ++i) {
        const rgb_color c = block[i];
        const std::uint32_t word =
            MaskPixel::alpha_bits(MaskPixel::word_at(in, i)) |
            (static_cast<std::uint32_t>(mask_detail::to_byte(c.r)) << MaskPixel::kRedShift) |
            (static_cast<std::uint32_t>(mask_detail::to_byte(c.g)) << MaskPixel::kGreenShift) |
            (static_cast<std::uint32_t>(mask_detail::to_byte(c.b)) << MaskPixel::kBlueShift);
        std::memcpy(o + 4 * i, &word, 4);
      }
    }
  }

  MaskPlanes& m_planes;
};

}  // namespace glowsnap
