// PostProcessFilter<Derived>: the base a filter derives from to keep its
// arithmetic apart from the traversal.
//
// Derived supplies a non-virtual, inline
//     rgb_color compute_pixel(int x, int y, int pass);
// that writes no member state (everything per pixel is local), so that the
// engine can instantiate it directly inside a traversal of its choosing and
// call it for several pixels at once, from several threads. The virtual
// process_pixel_x() the plain traversal calls simply forwards to it.
//
// The fast traversal lives here: every pass is walked in bands of rows spread
// over the engine's thread pool (PostProcess::run_bands), each row left to
// right with compute_pixel inlined. A pass number the compiler can see lets
// the recipe's switch on the pass fold away; the results of a stretch of a
// row go to a small block of floats on the stack first and are stored as
// bytes afterwards, so that the compiler need not assume that every stored
// byte might have changed the pixel buffer's globals, and can keep them in
// registers. Nothing here changes what is computed or in which precision:
// every pixel's arithmetic is the recipe's own, compiled with the project's
// floating-point settings, and pixels are independent of one another.
//
// A look built around a grey mask states its recipe and derives from
// MaskRecipeFilter (MaskRecipe.h), which supplies compute_pixel and a
//     FastPass mask_pass(int pass, MaskPass& run);
// every pass of its fast runs then goes there instead (MaskPlanes.h). A
// filter of window means likewise defines window_pass (WindowPass.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "engine/MaskPlanes.h"
#include "engine/PostProcess.h"
#include "engine/WindowPass.h"

namespace glowsnap {

template <typename Derived>
class PostProcessFilter : public PostProcess {
 public:
  rgb_color process_pixel_x(int x, int y, int pass) final {
    return static_cast<Derived*>(this)->compute_pixel(x, y, pass);
  }

 protected:
  FastPass process_pass_fast(int pass, std::uint8_t* out) override {
    // A recipe built around a grey mask hands every pass to MaskPlanes.
    if constexpr (requires(Derived & d, MaskPass & run) { d.mask_pass(pass, run); }) {
      if (pass == 0) m_planes.begin(m_width, m_height, gp_data, out);
      MaskPass run(*this, m_planes, pass);
      return static_cast<Derived*>(this)->mask_pass(pass, run);
    }
    // A filter of window means hands its passes to WindowPass.
    if constexpr (requires(Derived & d, WindowPass & run) { d.window_pass(pass, run); }) {
      WindowPass run(*this, m_width, m_height, gp_data, out, pass);
      return static_cast<Derived*>(this)->window_pass(pass, run);
    }
    switch (pass) {
      case 0:
        return walk<0>(pass, out);
      case 1:
        return walk<1>(pass, out);
      case 2:
        return walk<2>(pass, out);
      case 3:
        return walk<3>(pass, out);
      case 4:
        return walk<4>(pass, out);
      case 5:
        return walk<5>(pass, out);
      default:
        return walk<-1>(pass, out);
    }
  }

 private:
  MaskPlanes m_planes;  // the state of a fast run of a mask recipe

  // Pixels per block of results kept as floats before they are stored.
  static constexpr int kBlock = 128;

  // kPass is the pass when it is one of the first six (every catalogue
  // filter's), -1 for any other, which then comes from the argument.
  template <int kPass>
  FastPass walk(int pass, std::uint8_t* out) {
    // Filters allocate the snapshot on their first save; a parallel pass
    // must find it there already, or two threads could allocate it at once.
    // Pages that no filter writes are never touched, so they cost no memory.
    ensure_snapshot();
#if defined(__x86_64__) && defined(__GNUC__)
    if (has_avx2()) {
      run_bands(pass_base(pass),
                [this, pass, out](int y0, int y1) { rows_avx2<kPass>(pass, y0, y1, out); });
      return FastPass::InOutput;
    }
#endif
    run_bands(pass_base(pass),
              [this, pass, out](int y0, int y1) { rows<kPass>(pass, y0, y1, out); });
    return FastPass::InOutput;
  }

  // One band of rows, left to right; see the header comment.
  template <int kPass>
  __attribute__((always_inline)) inline void rows_body(int pass, int y0, int y1,
                                                       std::uint8_t* out) {
    Derived& filter = *static_cast<Derived*>(this);
    const int p = kPass >= 0 ? kPass : pass;
    const int w = m_width;
    const std::uint8_t* in = gp_data;
    rgb_color block[kBlock];
    for (int y = y0; y < y1; ++y) {
      const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4;
      for (int x0 = 0; x0 < w; x0 += kBlock) {
        const int n = std::min(kBlock, w - x0);
        for (int i = 0; i < n; ++i) block[i] = filter.compute_pixel(x0 + i, y, p);
        std::uint8_t* o = out + row + static_cast<std::size_t>(x0) * 4;
        const std::uint8_t* s = in + row + static_cast<std::size_t>(x0) * 4;
        store_pixels(o, s, block, n);
      }
    }
  }

  template <int kPass>
  void rows(int pass, int y0, int y1, std::uint8_t* out) {
    rows_body<kPass>(pass, y0, y1, out);
  }

#if defined(__x86_64__) && defined(__GNUC__)
  // The same loop compiled for AVX2 as well, chosen at run time where the
  // processor has it: the vectoriser then works on eight pixels at a time
  // with gathered loads. Only the width of the vectors differs; every lane
  // does the same IEEE single- and double-precision operations, and the
  // project never lets the compiler fuse a multiply and an add.
  template <int kPass>
  __attribute__((target("avx2"))) void rows_avx2(int pass, int y0, int y1, std::uint8_t* out) {
    rows_body<kPass>(pass, y0, y1, out);
  }
#endif
};

// A filter written for the fast traversal: every pass of a fast run is
// PostProcessFilter's (a walk of bands, a mask recipe's plan or a window
// plan), never the plain walk. The catalogue admits no other.
template <class Filter>
concept WrittenForFastTraversal = std::is_base_of_v<PostProcessFilter<Filter>, Filter>;

}  // namespace glowsnap
