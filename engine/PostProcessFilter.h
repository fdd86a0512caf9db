// PostProcessFilter<Derived>: the base a filter derives from to keep its
// arithmetic apart from the traversal.
//
// Derived supplies a non-virtual, inline
//     rgb_color compute_pixel(int x, int y, int pass);
// that writes no member state (everything per pixel is local), so that the
// engine can instantiate it directly inside a traversal of its choosing and
// call it for several pixels at once. The virtual process_pixel_x() the plain
// traversal calls simply forwards to it.
#pragma once

#include <cstdint>

#include "engine/PostProcess.h"

namespace glowsnap {

template <typename Derived>
class PostProcessFilter : public PostProcess {
 public:
  rgb_color process_pixel_x(int x, int y, int pass) final {
    return static_cast<Derived*>(this)->compute_pixel(x, y, pass);
  }

 protected:
  // The fast traversal is instantiated here over Derived::compute_pixel; until
  // it exists every pass is walked plainly.
  bool process_pass_fast(int /*pass*/, std::uint8_t* /*out*/) override { return false; }
};

}  // namespace glowsnap
