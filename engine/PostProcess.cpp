#include "engine/PostProcess.h"

#include <sys/mman.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/PixelOperations.h"
#include "engine/ThreadPool.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/ARGBBitmap.h"
#include "platform/graphics/BitmapContext.h"

namespace glowsnap {

std::uint8_t* gp_data = nullptr;
std::int32_t g_width = 0;
std::int32_t g_height = 0;
std::int32_t g_bypr = 0;
std::int32_t g_bpp = 0;
std::int32_t g_bpc = 0;
std::uint8_t* gp_data_copy = nullptr;

namespace {

// The filter whose run owns the pixel buffer, null when none does.
std::atomic<const PostProcess*> g_running_filter{nullptr};

// The working size: the photo reduced so that its longest side is at most
// maxRes, in single precision and truncated; never enlarged.
void fitSize(int w0, int h0, int maxRes, int& w, int& h) {
  w = w0;
  h = h0;
  if (w0 < h0) {
    if (maxRes < h0) {
      h = maxRes;
      w = static_cast<int>(static_cast<float>(w0) / static_cast<float>(h0) *
                           static_cast<float>(maxRes));
    }
  } else if (maxRes < w0) {
    w = maxRes;
    h = static_cast<int>(static_cast<float>(h0) / static_cast<float>(w0) *
                         static_cast<float>(maxRes));
  }
}

// Pixel buffers of a run: large ones aligned to and advised for huge pages,
// which spares the thousands of page faults a first touch of 4 KiB pages
// costs. Uninitialised; released with std::free.
std::uint8_t* allocatePixels(std::size_t bytes);
std::atomic<PostProcess::BufferAllocator> g_allocate_buffer{allocatePixels};

std::uint8_t* allocatePixels(std::size_t bytes) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes >= 2 * kHugePage) {
    const std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    if (void* p = std::aligned_alloc(kHugePage, rounded)) {
#ifdef MADV_HUGEPAGE
      ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
      return static_cast<std::uint8_t*>(p);
    }
  }
  return static_cast<std::uint8_t*>(std::malloc(bytes));
}

std::string formatPercent(float percent) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", static_cast<double>(percent));
  return text;
}

}  // namespace

PostProcess::PostProcess() = default;

PostProcess::~PostProcess() = default;

std::string PostProcess::get_name() const { return "Noname"; }

int PostProcess::get_num_passes() const { return 1; }

rgb_color PostProcess::process_pixel_x(int x, int y, int /*pass*/) {
  rgb_color c = get_pixel(x, y);
  return {c.r + c.r, c.g + c.g, c.b + c.b};
}

ImageRef PostProcess::get_result() const {
  std::lock_guard<std::mutex> lock(m_result_mutex);
  return m_result;
}

int PostProcess::get_complete_precent() const { return m_precent.load(); }

void PostProcess::prepare_for_process() {}

void PostProcess::before_pass(int /*pass*/) {}

void PostProcess::after_pass(int /*pass*/) {}

void PostProcess::process_ended() {}

void PostProcess::set_max_res(int max_res) { m_max_res.store(max_res); }

void PostProcess::prepare(ImageRef image) { m_img = std::move(image); }

PostProcess* PostProcess::init(void* owner) {
  m_owner = owner;
  m_max_res.store(800);
  return this;
}

PostProcess::VectorLevel PostProcess::vector_level() {
  static const VectorLevel level = [] {
    VectorLevel best = VectorLevel::Baseline;
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) best = VectorLevel::Avx2;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
      best = VectorLevel::Avx512;
#endif
    const char* cap = std::getenv("GLOWSNAP_ENGINE_ISA");
    if (cap == nullptr) return best;
    const std::string text(cap);
    VectorLevel wanted = best;
    if (text == "baseline")
      wanted = VectorLevel::Baseline;
    else if (text == "avx2")
      wanted = VectorLevel::Avx2;
    return std::min(wanted, best);
  }();
  return level;
}

bool PostProcess::is_run_in_progress() { return g_running_filter.load() != nullptr; }

void PostProcess::_postNotificationName(const std::map<std::string, std::any>& dict) {
  auto nameIt = dict.find("name");
  if (nameIt == dict.end()) return;
  const auto* name = std::any_cast<std::string>(&nameIt->second);
  if (name == nullptr) return;
  auto objectIt = dict.find("object");
  NotificationCenter::defaultCenter().post(*name,
                                           objectIt == dict.end() ? std::any() : objectIt->second);
}

void PostProcess::post(const char* name, std::any object) {
  if (isMainThread()) {
    NotificationCenter::defaultCenter().post(name, std::move(object));
    return;
  }
  std::map<std::string, std::any> dict;
  dict["name"] = std::string(name);
  if (object.has_value()) dict["object"] = std::move(object);
  performOnMainThread([&dict] { _postNotificationName(dict); }, true);
}

float PostProcess::percent_of(std::int64_t count) const {
  return static_cast<float>(count) / m_total_steps * 100.0f;
}

void PostProcess::report_percent(float percent) {
  const int whole = static_cast<int>(percent);
  m_precent.store(whole);
  if (whole > m_prev_precent) {
    m_prev_precent = whole;
    post(kProgressChangedNotification, formatPercent(percent));
  }
}

void PostProcess::progress_step(std::int64_t count) { report_percent(percent_of(count)); }

void PostProcess::run_bands(std::int64_t base, const BandFunction& band) {
  const int w = m_width;
  const int h = m_height;

  // The plain walk's progress steps of this phase, on the grid of every 60th
  // column and row, in its order. Only the steps that post are kept; each
  // becomes due once the finished rows hold as many pixels as the plain walk
  // had visited at that step (x·H + y).
  struct Step {
    std::int64_t visited;
    float percent;
  };
  std::vector<Step> steps;
  {
    int prev = m_prev_precent;
    for (int x = 0; x < w; x += 60) {
      for (int y = 0; y < h; y += 60) {
        const std::int64_t visited = static_cast<std::int64_t>(x) * h + y;
        const float percent = percent_of(base + visited);
        if (static_cast<int>(percent) > prev) {
          prev = static_cast<int>(percent);
          steps.push_back({visited, percent});
        }
      }
    }
  }
  // The whole percent of the phase's last grid step, which the plain walk
  // leaves in m_precent even when that step posts nothing.
  const int lastWhole = static_cast<int>(
      percent_of(base + static_cast<std::int64_t>((w - 1) / 60 * 60) * h + (h - 1) / 60 * 60));

  std::size_t posted = 0;
  auto postDue = [&](std::int64_t finished) {
    while (posted < steps.size() && steps[posted].visited <= finished)
      report_percent(steps[posted++].percent);
  };
  postDue(0);

  ThreadPool& pool = ThreadPool::shared();
  // Bands of a few rows: enough of them per thread that a thread held up by
  // a notification does not leave the others waiting at the end.
  const int rowsPerBand = std::max(1, std::min(16, h / (pool.concurrency() * 8)));
  const int bands = (h + rowsPerBand - 1) / rowsPerBand;
  std::vector<std::atomic<bool>> done(static_cast<std::size_t>(bands));
  std::atomic<int> next{0};
  int finishedBands = 0;  // the run's thread only
  pool.run([&](int worker) {
    for (;;) {
      const int b = next.fetch_add(1, std::memory_order_relaxed);
      if (b >= bands) break;
      band(b * rowsPerBand, std::min(h, (b + 1) * rowsPerBand));
      done[static_cast<std::size_t>(b)].store(true, std::memory_order_release);
      if (worker != 0) continue;
      // Only the run's own thread posts, so that a run on the main thread
      // posts directly and a worker's run waits for every notification.
      while (finishedBands < bands &&
             done[static_cast<std::size_t>(finishedBands)].load(std::memory_order_acquire))
        ++finishedBands;
      postDue(static_cast<std::int64_t>(std::min(h, finishedBands * rowsPerBand)) * w);
    }
  });
  postDue(static_cast<std::int64_t>(w) * h);
  m_precent.store(lastWhole);
}

FastPass PostProcess::process_pass_fast(int /*pass*/, std::uint8_t* /*out*/) {
  return FastPass::Unhandled;
}

void PostProcess::process_pass_plain(int pass, std::uint8_t* out) {
  const int w = m_width;
  const int h = m_height;
  const std::int64_t base = 2 * static_cast<std::int64_t>(w) * h * pass;
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) {
      if (x % 60 == 0 && y % 60 == 0) progress_step(base + static_cast<std::int64_t>(x) * h + y);
      const rgb_color c = process_pixel_x(x, y, pass);
      const std::size_t offset = (static_cast<std::size_t>(y) * w + x) * 4;
      store_pixel(out + offset, gp_data + offset, c);
    }
  }
}

void PostProcess::copy_back(int pass, const std::uint8_t* out) {
  const int w = m_width;
  const int h = m_height;
  const std::int64_t base =
      2 * static_cast<std::int64_t>(w) * h * pass + static_cast<std::int64_t>(w) * h;
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) {
      if (x % 60 == 0 && y % 60 == 0) progress_step(base + static_cast<std::int64_t>(x) * h + y);
      const std::size_t offset = (static_cast<std::size_t>(y) * w + x) * 4;
      gp_data[offset + 0] = out[offset + 0];
      gp_data[offset + 1] = out[offset + 1];
      gp_data[offset + 2] = out[offset + 2];
      gp_data[offset + 3] = out[offset + 3];
    }
  }
}

void PostProcess::skip_copy_back(int pass) {
  run_bands(pass_base(pass) + static_cast<std::int64_t>(m_width) * m_height, [](int, int) {});
}

// The running-filter slot: held from the start of a run to its end, and
// given back on every way out of process(), early returns and exceptions
// included, so that nothing can leave the engine locked. The buffer's
// globals are cleared with it: they describe the running run only.
class PostProcess::RunningSlot {
 public:
  explicit RunningSlot(const PostProcess& filter) {
    const PostProcess* none = nullptr;
    m_held = g_running_filter.compare_exchange_strong(none, &filter);
    m_holder = none;
  }
  ~RunningSlot() { release(); }
  RunningSlot(const RunningSlot&) = delete;
  RunningSlot& operator=(const RunningSlot&) = delete;

  bool held() const { return m_held; }
  // The filter whose run holds the slot when this one was refused.
  const PostProcess* holder() const { return m_holder; }
  void release() {
    if (!m_held) return;
    gp_data = nullptr;
    gp_data_copy = nullptr;
    m_held = false;
    g_running_filter.store(nullptr);
  }

 private:
  bool m_held = false;
  const PostProcess* m_holder = nullptr;
};

// The buffers a run obtains besides its working bitmap: the output buffer
// every pass writes into, and the snapshot's memory, which copy_data_x
// brings into use. One policy for both: they are obtained before the run
// posts anything, and when one cannot be had the run fails, saying which.
class PostProcess::RunBuffers {
 public:
  explicit RunBuffers(PostProcess& filter) : m_filter(filter) {}
  ~RunBuffers() {
    m_filter.m_snapshot = nullptr;
    std::free(m_snapshot);
    std::free(m_output);
  }
  RunBuffers(const RunBuffers&) = delete;
  RunBuffers& operator=(const RunBuffers&) = delete;

  bool obtain(std::size_t bytes) {
    const BufferAllocator allocate = g_allocate_buffer.load();
    m_output = allocate(bytes);
    if (m_output == nullptr) {
      std::fputs("Output buffer not allocated!\n", stderr);
      return false;
    }
    m_snapshot = allocate(bytes);
    if (m_snapshot == nullptr) {
      std::fputs("Snapshot buffer not allocated!\n", stderr);
      return false;
    }
    m_filter.m_snapshot = m_snapshot;
    return true;
  }
  std::uint8_t* output() const { return m_output; }

 private:
  PostProcess& m_filter;
  std::uint8_t* m_output = nullptr;
  std::uint8_t* m_snapshot = nullptr;
};

void PostProcess::set_buffer_allocator(BufferAllocator allocate) {
  g_allocate_buffer.store(allocate != nullptr ? allocate : allocatePixels);
}

bool PostProcess::fail_run() {
  m_last_run_failed.store(true);
  return false;
}

void PostProcess::use_pixel_buffer(std::uint8_t* pixels, int w, int h) {
  m_width = w;
  m_height = h;
  gp_data = pixels;
  g_width = w;
  g_height = h;
  g_bpp = 32;
  g_bypr = w * 4;
  g_bpc = 8;
}

void PostProcess::start_progress(int passes) {
  m_total_steps = static_cast<float>(2 * static_cast<std::int64_t>(m_width) * m_height * passes);
  m_precent.store(0);
  m_prev_precent = -1;
  post(kProgressChangedNotification, formatPercent(0.0f));
}

void PostProcess::walk_pass_plainly(int pass, std::uint8_t* spare) {
  process_pass_plain(pass, spare);
  copy_back(pass, spare);
}

void PostProcess::walk_passes(Traversal traversal, std::uint8_t* spare) {
  int plain = 0;
  for (int pass = 0; pass < get_num_passes(); ++pass) {
    before_pass(pass);
    if (traversal == Traversal::Plain) {
      walk_pass_plainly(pass, spare);
      ++plain;
    } else {
      switch (process_pass_fast(pass, spare)) {
        case FastPass::InOutput:
          std::swap(gp_data, spare);
          skip_copy_back(pass);
          break;
        case FastPass::InPlace:
          skip_copy_back(pass);
          break;
        case FastPass::Unhandled:
          if (!m_warned_plain) {
            m_warned_plain = true;
            std::fprintf(stderr,
                         "PostProcess: \"%s\" has no fast traversal; its passes are walked "
                         "plainly\n",
                         get_name().c_str());
          }
          walk_pass_plainly(pass, spare);
          ++plain;
          break;
      }
    }
    after_pass(pass);
  }
  m_plain_passes.store(plain);
}

void PostProcess::finish_in_bitmap(std::uint8_t* bitmap_pixels) {
  if (gp_data == bitmap_pixels) return;
  const int h = m_height;
  const std::size_t rowBytes = static_cast<std::size_t>(m_width) * 4;
  const std::uint8_t* from = gp_data;
  std::atomic<int> next{0};
  ThreadPool::shared().run([&](int) {
    constexpr int kRows = 64;
    for (int y0; (y0 = next.fetch_add(kRows)) < h;) {
      const int y1 = std::min(h, y0 + kRows);
      std::memcpy(bitmap_pixels + y0 * rowBytes, from + y0 * rowBytes,
                  static_cast<std::size_t>(y1 - y0) * rowBytes);
    }
  });
  gp_data = bitmap_pixels;
}

bool PostProcess::process(const void* /*arg*/) {
  // The pixel buffer is process-wide: a second run would overwrite the first
  // one's pixels under it, so it is refused and the first goes on untouched.
  RunningSlot slot(*this);
  if (!slot.held()) {
    std::fprintf(stderr,
                 "PostProcess: a filter run is already in progress; \"%s\" was not started\n",
                 get_name().c_str());
    // When this very filter is the one running, its own run's outcome stands.
    if (slot.holder() != this) m_last_run_failed.store(true);
    return false;
  }
  m_last_run_failed.store(false);

  // The run keeps its own reference so the photo outlives it even if the
  // caller prepares the next one while this run ends.
  ImageRef image = m_img;
  if (!image) {
    std::fprintf(stderr, "PostProcess: no image prepared for \"%s\"\n", get_name().c_str());
    return fail_run();
  }
  int w = 0;
  int h = 0;
  fitSize(image->width(), image->height(), m_max_res.load(), w, h);
  std::unique_ptr<BitmapContext> bitmap = CreateARGBBitmapContext(w, h);
  if (!bitmap) return fail_run();
  bitmap->drawImage(Rect(0, 0, static_cast<float>(w), static_cast<float>(h)), *image);

  {
    // A pass writes into the output buffer while reading gp_data. The plain
    // traversal copies it back into the bitmap after every pass; the fast
    // one swaps the two, and copies into the bitmap once at the end if need
    // be. The buffers are freed at the end of this block.
    RunBuffers buffers(*this);
    if (!buffers.obtain(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4))
      return fail_run();
    use_pixel_buffer(bitmap->data(), w, h);
    start_progress(get_num_passes());

    // Read once: a fast pass may leave its output where only the following
    // fast passes look for it, so a run never changes traversal halfway.
    const Traversal traversal = m_traversal.load();
    prepare_for_process();
    walk_passes(traversal, buffers.output());
    process_ended();
    finish_in_bitmap(bitmap->data());
  }

  // The bitmap is dropped right after: the result takes over its pixels.
  ImageRef result = bitmap->takeImage();
  {
    std::lock_guard<std::mutex> lock(m_result_mutex);
    m_result = std::move(result);
  }
  bitmap.reset();
  m_img.reset();

  // The buffers are gone, so another run may start from here on, even from
  // an observer of "searchEnd" while this worker still waits for it.
  slot.release();
  post(kSearchEndNotification, std::any());
  return true;
}

ImageRef PostProcess::RotateImage(const ImageRef& image, int angle) {
  if (!image) return nullptr;
  const int w = static_cast<int>(static_cast<float>(image->width()));
  const int h = static_cast<int>(static_cast<float>(image->height()));
  std::unique_ptr<BitmapContext> bitmap;
  if (angle == 1 || angle == -1) {
    bitmap = CreateARGBBitmapContext(h, w);
    if (!bitmap) return nullptr;
    if (angle == 1)
      bitmap->translateCTM(static_cast<float>(h), 0.0f);
    else
      bitmap->translateCTM(0.0f, static_cast<float>(w));
    bitmap->rotateCTM(
        static_cast<float>(radians(static_cast<double>(static_cast<float>(angle) * 90.0f))));
  } else if (angle == 2) {
    bitmap = CreateARGBBitmapContext(w, h);
    if (!bitmap) return nullptr;
    bitmap->translateCTM(static_cast<float>(w), static_cast<float>(h));
    bitmap->rotateCTM(static_cast<float>(radians(180.0)));
  } else {
    return nullptr;
  }
  bitmap->drawImage(Rect(0, 0, static_cast<float>(w), static_cast<float>(h)), *image);
  return bitmap->makeImage();
}

}  // namespace glowsnap
