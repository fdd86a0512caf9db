// PixelBuffer: makes the byte vectors that hold whole pictures. A photo's
// pixels run to tens of megabytes; asking the kernel for huge pages before
// the first touch turns thousands of page faults into a few dozen, which
// is most of the cost of making a large buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glowsnap {

class PixelBuffer {
 public:
  // A vector of size bytes, all zero. Throws std::bad_alloc like the vector.
  static std::vector<std::uint8_t> zeroed(std::size_t size);
};

}  // namespace glowsnap
