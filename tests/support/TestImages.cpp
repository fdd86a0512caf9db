#include "support/TestImages.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace glowsnap::test {

namespace {

std::vector<std::uint8_t> blank(int width, int height) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4);
}

void put(std::vector<std::uint8_t>& px, int width, int x, int y, Argb c) {
  std::uint8_t* p = px.data() + (static_cast<std::size_t>(y) * width + x) * 4;
  p[0] = c.a;
  p[1] = c.r;
  p[2] = c.g;
  p[3] = c.b;
}

std::uint8_t ramp(int i, int n) {
  return n <= 1 ? 0 : static_cast<std::uint8_t>((i * 255 + (n - 1) / 2) / (n - 1));
}

}  // namespace

Argb pixelAt(const Image& image, int x, int y) {
  const std::uint8_t* p = image.data() + (static_cast<std::size_t>(y) * image.width() + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

ImageRef solidImage(int width, int height, Argb colour, int orientation) {
  auto px = blank(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) put(px, width, x, y, colour);
  return Image::create(width, height, std::move(px), orientation);
}

ImageRef gradientImage(int width, int height) {
  auto px = blank(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      put(px, width, x, y, {255, ramp(x, width), ramp(y, height), ramp(x + y, width + height - 1)});
  return Image::create(width, height, std::move(px));
}

ImageRef checkerboardImage(int width, int height, int cell, Argb a, Argb b) {
  auto px = blank(width, height);
  cell = std::max(1, cell);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) put(px, width, x, y, ((x / cell + y / cell) % 2) ? b : a);
  return Image::create(width, height, std::move(px));
}

ImageRef extremesImage(int width, int height) {
  static constexpr Argb kBands[] = {
      {255, 0, 0, 0},   {255, 255, 255, 255}, {255, 255, 0, 0},     {255, 0, 255, 0},
      {255, 0, 0, 255}, {255, 255, 255, 0},   {255, 0, 255, 255},   {255, 255, 0, 255},
      {255, 1, 1, 1},   {255, 254, 254, 254}, {255, 128, 128, 128}, {255, 127, 127, 127},
  };
  constexpr int kCount = sizeof kBands / sizeof kBands[0];
  auto px = blank(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) put(px, width, x, y, kBands[x * kCount / width]);
  return Image::create(width, height, std::move(px));
}

ImageRef photoLikeImage(int width, int height, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> phase(0.0f, 6.2831853f);
  std::normal_distribution<float> grain(0.0f, 6.0f);
  const float p1 = phase(gen), p2 = phase(gen), p3 = phase(gen);
  auto px = blank(width, height);
  for (int y = 0; y < height; ++y) {
    const float fy = static_cast<float>(y) / static_cast<float>(std::max(1, height));
    for (int x = 0; x < width; ++x) {
      const float fx = static_cast<float>(x) / static_cast<float>(std::max(1, width));
      const float base[3] = {
          128 + 90 * std::sin(6.0f * fx + p1) * std::cos(4.0f * fy + p2),
          120 + 80 * std::sin(5.0f * fy + p2 + 3.0f * fx),
          110 + 100 * std::cos(7.0f * fx * fy + p3),
      };
      std::uint8_t c[3];
      for (int i = 0; i < 3; ++i)
        c[i] = static_cast<std::uint8_t>(std::clamp(base[i] + grain(gen), 0.0f, 255.0f));
      put(px, width, x, y, {255, c[0], c[1], c[2]});
    }
  }
  return Image::create(width, height, std::move(px));
}

ImageRef randomTranslucentImage(int width, int height, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  auto px = blank(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int a = byte(gen);
      auto pre = [&] { return static_cast<std::uint8_t>((byte(gen) * a + 127) / 255); };
      const std::uint8_t r = pre(), g = pre(), b = pre();
      put(px, width, x, y, {static_cast<std::uint8_t>(a), r, g, b});
    }
  return Image::create(width, height, std::move(px));
}

ImageRef cornersImage(int width, int height, int orientation) {
  auto px = blank(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool left = x < width / 2;
      const bool top = y < height / 2;
      put(px, width, x, y,
          top ? (left ? kTopLeft : kTopRight) : (left ? kBottomLeft : kBottomRight));
    }
  return Image::create(width, height, std::move(px), orientation);
}

}  // namespace glowsnap::test
