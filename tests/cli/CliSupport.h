// Running the glowsnap command as a user runs it: a separate process, real
// files, its exit status and both output streams.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/graphics/ImageIO.h"
#include "support/TestSupport.h"

namespace glowsnap {

struct Run {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline Run glowsnap(const test::TempDir& dir, const std::vector<std::string>& args) {
  std::string cmd = quote(GLOWSNAP_CLI_PATH);
  for (const auto& a : args) cmd += " " + quote(a);
  auto outFile = dir / "stdout.txt", errFile = dir / "stderr.txt";
  cmd += " >" + quote(outFile.string()) + " 2>" + quote(errFile.string()) + " </dev/null";
  int raw = std::system(cmd.c_str());
  Run r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(outFile);
  r.err = slurp(errFile);
  return r;
}

// An opaque photo-like image: smooth gradients with noise, every byte value
// likely to occur somewhere.
inline ImageRef makePhoto(int w, int h, unsigned seed = 7) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> noise(-40, 40);
  std::vector<std::uint8_t> px(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      auto* p = &px[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = 255;
      p[1] =
          static_cast<std::uint8_t>(std::clamp(x * 255 / std::max(1, w - 1) + noise(gen), 0, 255));
      p[2] =
          static_cast<std::uint8_t>(std::clamp(y * 255 / std::max(1, h - 1) + noise(gen), 0, 255));
      p[3] = static_cast<std::uint8_t>(std::clamp(128 + noise(gen) * 3, 0, 255));
    }
  return Image::create(w, h, std::move(px));
}

inline std::filesystem::path writePng(const test::TempDir& dir, const std::string& name,
                                      const ImageRef& img) {
  auto path = dir / name;
  auto s = imageio::writeFile(*img, path);
  EXPECT_TRUE(s.ok()) << (s.ok() ? "" : s.error().description);
  return path;
}

}  // namespace glowsnap
