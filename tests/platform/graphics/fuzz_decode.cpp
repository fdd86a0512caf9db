// libFuzzer target for the image decoders: no input may crash them, hang
// them or make them read or write out of bounds (the sanitizers watch). An
// accepted input gives an image whose pixel memory matches its size and
// whose orientation is one of the eight tags; a refused one gives an error
// of the image domain with a description. The same holds for loading it
// for a run (decoded and normalised in one go).
#include <cstdint>
#include <cstdlib>

#include "platform/graphics/ImageIO.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glowsnap;
  // A low pixel limit keeps each run small; dimensions above it are refused
  // before anything is allocated, which is part of what is checked.
  auto result = imageio::decode({data, size}, 4u << 20);
  if (result.ok()) {
    const Image& image = **result;
    check(image.width() > 0 && image.height() > 0);
    check(static_cast<std::uint64_t>(image.width()) * image.height() <= (4u << 20));
    check(image.pixels().size() == static_cast<std::size_t>(image.width()) * image.height() * 4);
    check(image.orientation() >= 0 && image.orientation() < 8);
    // Premultiplied: no colour byte above its alpha for PNG (JPEG is opaque).
    for (std::size_t i = 0; i < image.pixels().size(); i += 4)
      for (int c = 1; c < 4; ++c) check(image.pixels()[i + c] <= image.pixels()[i]);
  } else {
    check(result.error().domain == imageio::kErrorDomain);
    check(!result.error().description.empty());
  }
  // Loaded for a run at a small working size (reduced while decoding):
  // upright, within the limit, and refused the same way.
  auto photo = imageio::loadPhoto({data, size}, 48, 4u << 20);
  if (photo.ok()) {
    const Image& image = *photo->image;
    check(image.width() > 0 && image.height() > 0 && image.width() <= 48 && image.height() <= 48);
    check(image.pixels().size() == static_cast<std::size_t>(image.width()) * image.height() * 4);
    check(image.orientation() == Image::Up);
  } else {
    check(photo.error().domain == imageio::kErrorDomain);
    check(!photo.error().description.empty());
  }
  return 0;
}
