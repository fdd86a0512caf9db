// The whole photo path as a user runs it, against the tools people would use
// instead, side by side in one run on the same files: djpeg decoding the
// full photo (and at 1/4), vipsthumbnail -s 800, ImageMagick's convert
// -resize 800x800, and glowsnap apply at the default settings and at 2048
// with "HDR Color+"; then a batch of sixteen photos, one process per photo
// and in one process. Every tool runs as a child process: wall time, and
// peak resident memory from wait4. Peers that are not installed are skipped
// (scripts/install-deps scripts/bench-packages.txt installs them).
//
// The photos are made in the set-up: 4000 × 3000 (12 megapixels), the
// project's sample photo enlarged, with fine texture at several scales and
// grain, so that they hold as much detail as a camera's JPEG (about 5 MB at
// quality 0.92).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"

namespace {

namespace fs = std::filesystem;
using namespace glowsnap;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kBatch = 16;

// Smooth noise on a lattice of `cell` pixels, -1..1, interpolated.
struct ValueNoise {
  int cell;
  int columns;
  std::vector<float> lattice;
  ValueNoise(int cellSize, int width, int height, std::uint32_t seed)
      : cell(cellSize), columns(width / cellSize + 2) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    lattice.resize(static_cast<std::size_t>(columns) * (height / cellSize + 2));
    for (auto& v : lattice) v = u(gen);
  }
  float at(int x, int y) const {
    const int cx = x / cell, cy = y / cell;
    const float fx = static_cast<float>(x % cell) / cell, fy = static_cast<float>(y % cell) / cell;
    const float* r0 = &lattice[static_cast<std::size_t>(cy) * columns + cx];
    const float* r1 = r0 + columns;
    const float top = r0[0] + (r0[1] - r0[0]) * fx;
    const float bottom = r1[0] + (r1[1] - r1[0]) * fx;
    return top + (bottom - top) * fy;
  }
};

ImageRef detailedPhoto(std::uint32_t seed) {
  static const ImageRef sample =
      imageio::decodeFile(fs::path(GLOWSNAP_SOURCE_DIR) / "resources/samples/coffee.png").value();
  const ValueNoise coarse(48, kWidth, kHeight, seed), middle(9, kWidth, kHeight, seed + 1),
      fine(3, kWidth, kHeight, seed + 2);
  std::mt19937 gen(seed + 3);
  std::normal_distribution<float> grain(0.0f, 5.0f);
  std::vector<std::uint8_t> px(static_cast<std::size_t>(kWidth) * kHeight * 4);
  const int sw = sample->width(), sh = sample->height();
  // Each photo shows another part of the sample, mirrored by the seed.
  const float zoom = 1.0f + static_cast<float>(seed % 3) * 0.25f;
  for (int y = 0; y < kHeight; ++y) {
    const float sy = std::min<float>(sh - 1.001f, y * (sh - 1) / (kHeight * zoom));
    const int y0 = static_cast<int>(sy);
    const float fy = sy - y0;
    for (int x = 0; x < kWidth; ++x) {
      const int mx = seed % 2 ? kWidth - 1 - x : x;
      const float sx = std::min<float>(sw - 1.001f, mx * (sw - 1) / (kWidth * zoom));
      const int x0 = static_cast<int>(sx);
      const float fx = sx - x0;
      const float texture =
          18.0f * coarse.at(x, y) + 14.0f * middle.at(x, y) + 10.0f * fine.at(x, y) + grain(gen);
      std::uint8_t* p = &px[(static_cast<std::size_t>(y) * kWidth + x) * 4];
      p[0] = 255;
      for (int c = 1; c < 4; ++c) {
        const std::uint8_t* s00 = sample->data() + (static_cast<std::size_t>(y0) * sw + x0) * 4;
        const std::uint8_t* s10 = s00 + sw * 4;
        const float top = s00[c] + (s00[c + 4] - s00[c]) * fx;
        const float bottom = s10[c] + (s10[c + 4] - s10[c]) * fx;
        const float v = top + (bottom - top) * fy + texture * (0.8f + 0.1f * c);
        p[c] = static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f));
      }
    }
  }
  return Image::create(kWidth, kHeight, std::move(px));
}

// The photos, made once and kept between runs of the benchmark.
const std::vector<fs::path>& photos() {
  static const std::vector<fs::path> paths = [] {
    const fs::path dir = fs::temp_directory_path() / "glowsnap-photo-bench-v1";
    fs::create_directories(dir);
    std::vector<fs::path> list;
    for (int i = 0; i < kBatch; ++i) {
      const fs::path p = dir / ("photo" + std::to_string(i + 1) + ".jpg");
      if (!fs::exists(p)) {
        const auto jpeg = imageio::encodeJpeg(*detailedPhoto(100 + i), 0.92f).value();
        const fs::path part = p.string() + ".part";
        std::FILE* f = std::fopen(part.c_str(), "wb");
        std::fwrite(jpeg.data(), 1, jpeg.size(), f);
        std::fclose(f);
        fs::rename(part, p);
      }
      list.push_back(p);
    }
    return list;
  }();
  return paths;
}

fs::path outputDir() {
  static const fs::path dir = [] {
    const fs::path d =
        fs::temp_directory_path() / ("glowsnap-photo-bench-out-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

struct ChildRun {
  bool ok = false;
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time, all threads
  double maxRssMiB = 0;
};

// Peak memory comes from GNU time run around the tool: a child forked from
// this process would start with this process's resident size as its peak.
ChildRun runChild(const std::vector<std::string>& command) {
  const fs::path report = outputDir() / "peak.txt";
  std::vector<std::string> args = {"/usr/bin/time", "-f", "%M", "-o", report.string()};
  args.insert(args.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  ChildRun r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  auto secondsOf = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  r.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
  if (std::FILE* f = std::fopen(report.c_str(), "r")) {
    long kib = 0;
    if (std::fscanf(f, "%ld", &kib) == 1) r.maxRssMiB = static_cast<double>(kib) / 1024.0;
    std::fclose(f);
  }
  return r;
}

bool installed(const std::string& tool) {
  if (!fs::exists("/usr/bin/time")) return false;
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// One benchmark per command: each iteration runs it (or, for a batch, all
// of its commands one after the other) and takes the wall time.
void runCommands(benchmark::State& state, const std::vector<std::vector<std::string>>& commands) {
  if (!installed(commands.front().front())) {
    state.SkipWithError((commands.front().front() + " or /usr/bin/time is not installed").c_str());
    return;
  }
  double peak = 0;
  double cpu = 0;
  for (auto _ : state) {
    double seconds = 0;
    for (const auto& c : commands) {
      const ChildRun r = runChild(c);
      if (!r.ok) {
        state.SkipWithError(("failed: " + c.front()).c_str());
        return;
      }
      seconds += r.seconds;
      cpu += r.cpuSeconds;
      peak = std::max(peak, r.maxRssMiB);
    }
    state.SetIterationTime(seconds);
  }
  state.counters["peak_MiB"] = peak;
  state.counters["cpu_ms"] = cpu * 1000.0 / static_cast<double>(state.iterations());
  state.counters["photos_per_s"] = benchmark::Counter(
      static_cast<double>(commands.size()) * state.iterations(), benchmark::Counter::kIsRate);
}

std::string out(const std::string& name) { return (outputDir() / name).string(); }

const std::string kGlowsnap = GLOWSNAP_CLI;

void BM_DjpegFull(benchmark::State& state) {
  runCommands(state, {{"djpeg", "-outfile", "/dev/null", photos()[0].string()}});
}
void BM_DjpegQuarter(benchmark::State& state) {
  runCommands(state, {{"djpeg", "-scale", "1/4", "-outfile", "/dev/null", photos()[0].string()}});
}
void BM_Vipsthumbnail800(benchmark::State& state) {
  runCommands(state, {{"vipsthumbnail", "-s", "800", "-o", out("vips.jpg"), photos()[0].string()}});
}
void BM_ConvertResize800(benchmark::State& state) {
  runCommands(
      state, {{"/usr/bin/convert", photos()[0].string(), "-resize", "800x800", out("magick.jpg")}});
}
void BM_GlowsnapDefault(benchmark::State& state) {
  runCommands(state, {{kGlowsnap, "apply", "--progress", "none", photos()[0].string(), "-o",
                       out("glowsnap.jpg")}});
}
void BM_GlowsnapHdrColorPlus2048(benchmark::State& state) {
  runCommands(state, {{kGlowsnap, "apply", "-f", "HDR Color+", "--max-res", "2048", "--progress",
                       "none", photos()[0].string(), "-o", out("glowsnap2048.jpg")}});
}

std::vector<std::string> allPhotos() {
  std::vector<std::string> list;
  for (const auto& p : photos()) list.push_back(p.string());
  return list;
}

void BM_Batch16GlowsnapOneByOne(benchmark::State& state) {
  std::vector<std::vector<std::string>> commands;
  for (const auto& p : allPhotos())
    commands.push_back({kGlowsnap, "apply", "--progress", "none", p, "-o", out("single") + "/"});
  runCommands(state, commands);
}
void BM_Batch16GlowsnapOneProcess(benchmark::State& state) {
  std::vector<std::string> c = {kGlowsnap, "apply", "--progress", "none"};
  for (const auto& p : allPhotos()) c.push_back(p);
  c.push_back("-o");
  c.push_back(out("batch"));
  runCommands(state, {c});
  state.counters["photos_per_s"] = benchmark::Counter(
      static_cast<double>(kBatch) * state.iterations(), benchmark::Counter::kIsRate);
}
void BM_Batch16Vipsthumbnail(benchmark::State& state) {
  std::vector<std::string> c = {"vipsthumbnail", "-s", "800", "-o", out("vips-%s.jpg")};
  for (const auto& p : allPhotos()) c.push_back(p);
  runCommands(state, {c});
  state.counters["photos_per_s"] = benchmark::Counter(
      static_cast<double>(kBatch) * state.iterations(), benchmark::Counter::kIsRate);
}

// A JPEG of 16384 × 16384 (the largest the decoders accept), written row by
// row with libjpeg so that making it needs no picture in memory either.
fs::path hugePhoto() {
  static const fs::path path = [] {
    const fs::path p = fs::temp_directory_path() / "glowsnap-photo-bench-v1" / "huge16k.jpg";
    if (fs::exists(p)) return p;
    const fs::path part = p.string() + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = cinfo.image_height = 16384;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(16384 * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
      const unsigned y = cinfo.next_scanline;
      for (unsigned x = 0; x < 16384; ++x) {
        row[x * 3] = static_cast<std::uint8_t>(x >> 6);
        row[x * 3 + 1] = static_cast<std::uint8_t>(y >> 6);
        row[x * 3 + 2] = static_cast<std::uint8_t>((x ^ y) & 0x3F);
      }
      JSAMPROW r = row.data();
      jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
    fs::rename(part, p);
    return p;
  }();
  return path;
}

// Its memory is in proportion to the working size, not to the claim.
void BM_Glowsnap16kSquare(benchmark::State& state) {
  runCommands(state, {{kGlowsnap, "apply", "--progress", "none", hugePhoto().string(), "-o",
                       out("huge.jpg")}});
}
BENCHMARK(BM_Glowsnap16kSquare)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// In this process, without start-up: loading at 800 (reduced while decoding)
// against decoding the whole photo.
void BM_InProcessLoad800(benchmark::State& state) {
  const auto file = imageio::readImageFile(photos()[0]).value();
  for (auto _ : state) benchmark::DoNotOptimize(imageio::loadPhoto(file, 800));
}
void BM_InProcessLoad2048(benchmark::State& state) {
  const auto file = imageio::readImageFile(photos()[0]).value();
  for (auto _ : state) benchmark::DoNotOptimize(imageio::loadPhoto(file, 2048));
}
void BM_InProcessDecodeThenNormalise2048(benchmark::State& state) {
  const auto file = imageio::readImageFile(photos()[0]).value();
  for (auto _ : state)
    benchmark::DoNotOptimize(normalizeImage(imageio::decode(file).value(), 2048));
}
BENCHMARK(BM_InProcessLoad2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InProcessDecodeThenNormalise2048)->Unit(benchmark::kMillisecond);
void BM_InProcessDecodeFull(benchmark::State& state) {
  const auto file = imageio::readImageFile(photos()[0]).value();
  for (auto _ : state) benchmark::DoNotOptimize(imageio::decode(file));
}
BENCHMARK(BM_InProcessLoad800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InProcessDecodeFull)->Unit(benchmark::kMillisecond);

// How close the reduced decode is to the full decode and area averaging on
// these photos: the largest and the mean error of a channel byte.
void BM_ReducedDecodeError(benchmark::State& state) {
  const auto file = imageio::readImageFile(photos()[0]).value();
  const auto reference = normalizeImage(imageio::decode(file).value(), 800);
  int largest = 0;
  double mean = 0;
  for (auto _ : state) {
    const auto photo = imageio::loadPhoto(file, 800).value();
    const auto& a = photo.image->pixels();
    const auto& b = reference->pixels();
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < a.size() && a.size() == b.size(); ++i) {
      const int e = std::abs(int{a[i]} - int{b[i]});
      largest = std::max(largest, e);
      sum += static_cast<std::uint64_t>(e);
    }
    mean = static_cast<double>(sum) / static_cast<double>(a.size());
  }
  state.counters["largest_error"] = largest;
  state.counters["mean_error"] = mean;
}

#define PEER(fn) BENCHMARK(fn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)
PEER(BM_DjpegFull);
PEER(BM_DjpegQuarter);
PEER(BM_Vipsthumbnail800);
PEER(BM_ConvertResize800);
PEER(BM_GlowsnapDefault);
PEER(BM_GlowsnapHdrColorPlus2048);
BENCHMARK(BM_Batch16GlowsnapOneByOne)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_Batch16GlowsnapOneProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_Batch16Vipsthumbnail)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ReducedDecodeError)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  photos();  // made before anything is timed
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(outputDir(), ec);
  return 0;
}
