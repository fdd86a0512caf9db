#include "platform/graphics/PixelBuffer.h"

#include <sys/mman.h>

namespace glowsnap {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

void adviseHugePages(std::uint8_t* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
  // Only advice: where the kernel has no huge pages the buffer works as usual.
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace

std::vector<std::uint8_t> PixelBuffer::zeroed(std::size_t size) {
  std::vector<std::uint8_t> buffer;
  buffer.reserve(size);
  if (size >= 2 * kHugePage) adviseHugePages(buffer.data(), size);
  buffer.resize(size);
  return buffer;
}

}  // namespace glowsnap
