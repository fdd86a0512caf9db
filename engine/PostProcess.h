// PostProcess: the base class of every filter and the engine that runs one.
//
// A run scales the prepared photo into the process-wide pixel buffer (see
// PixelBuffer.h), calls the filter's per-pixel function for every pixel in
// one or more passes, stores each pass's clamped, 8-bit output back into the
// buffer so the next pass reads it, reports progress, and makes the result
// image. The engine owns the loops; a filter owns only its arithmetic.
//
// Hook contract for subclasses
//   Required   get_name()          the display name the catalogue finds it by.
//              process_pixel_x()   the per-pixel function: reads pixels only
//                                  through get_pixel()/the pixel operations (the
//                                  previous pass's complete output, black outside)
//                                  and may save pixels with copy_data_x(). It must
//                                  not depend on the order pixels are visited in,
//                                  nor carry anything from one pixel to the next.
//                                  Filters get it from PostProcessFilter<Derived>,
//                                  which forwards to an inline compute_pixel() so
//                                  that a traversal can instantiate it directly;
//                                  a mask look gets compute_pixel (and its pass
//                                  count) from its recipe (MaskRecipe.h).
//   Defaulted  get_num_passes()    1; asked again before every pass.
//   Optional   prepare_for_process()  once per run, after the buffer is filled,
//                                  before pass 0 (build tables, set settings).
//              before_pass(pass)   before the pass's first pixel.
//              after_pass(pass)    after the pass's output is back in the buffer.
//              process_ended()     after the last pass, before the result image.
//   Not for overriding: get_result(), get_complete_precent() (virtual only so
//   a caller can hold any filter through this class), and everything else.
//
// Calling order: init(owner) once; set_max_res() whenever the working
// resolution changes; then per run prepare(image) and process() as the entry
// of a new worker thread. The run posts "progressChanged" (object: the percent
// as std::string formatted with "%f") and finally "searchEnd" (no object)
// through NotificationCenter::defaultCenter(), always on the main thread and
// with the worker waiting until the observers are done, so the main thread must
// be running its RunLoop. While handling "searchEnd" the observer takes its
// reference to get_result().
//
// Only one run of any filter may use the pixel buffer at a time: a process()
// called while another run is in progress writes a message on stderr, posts
// nothing, returns false and leaves the running one alone. A run that cannot
// create its working bitmap or obtain its buffers (or has no image) writes
// why on stderr, posts nothing and returns false; last_run_failed() then says
// so, for callers that only watch the notifications. However process() is
// left, the pixel buffer is free again afterwards.
#pragma once

#include <any>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/PixelBuffer.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

// How the engine walks a pass. Plain is the reference: column by column, top
// to bottom, one virtual per-pixel call each, on the run's own thread. Fast
// walks bands of rows on every core with the per-pixel function inlined (see
// PostProcessFilter) and gives the same bytes and the same notifications; a
// filter that is not a PostProcessFilter is always walked plainly.
enum class Traversal { Plain, Fast };

// Where a pass of the fast traversal left its output.
//   Unhandled  the filter has no fast form of the pass; the engine walks it
//              plainly.
//   InOutput   in the output buffer handed to the pass, which then becomes
//              the pixel buffer (the two are swapped rather than copied).
//   InPlace    the pixel buffer needs nothing more: the pass wrote into it,
//              or keeps its result in a form of its own that the filter's
//              following fast passes read (see MaskPlanes.h).
enum class FastPass { Unhandled, InOutput, InPlace };

class VectorPass;

class PostProcess {
 public:
  static constexpr const char* kProgressChangedNotification = "progressChanged";
  static constexpr const char* kSearchEndNotification = "searchEnd";

  // m_max_res is 800, no owner: the same state init(nullptr) gives.
  PostProcess();
  virtual ~PostProcess();
  PostProcess(const PostProcess&) = delete;
  PostProcess& operator=(const PostProcess&) = delete;

  // --- Hooks (see the contract above) ---
  virtual std::string get_name() const;
  virtual int get_num_passes() const;
  // Base behaviour: the pixel with every channel doubled.
  virtual rgb_color process_pixel_x(int x, int y, int pass);
  // The result image of the last successful run (nothing before one).
  virtual ImageRef get_result() const;
  // Progress of the running run in whole percent.
  virtual int get_complete_precent() const;
  virtual void prepare_for_process();
  virtual void before_pass(int pass);
  virtual void after_pass(int pass);
  virtual void process_ended();

  // --- Configuration and the run ---
  // The longest side, in pixels, the photo is reduced to before a run.
  void set_max_res(int max_res);
  int max_res() const { return m_max_res.load(); }
  // Holds the photo for the next run; the run drops it when it has finished.
  void prepare(ImageRef image);
  // Remembers the creating object (never dereferenced, not owned) and resets
  // the working resolution to 800. Returns this filter.
  PostProcess* init(void* owner);
  void* owner() const { return m_owner; }

  // Saves pixel (x, y) of the working buffer into the snapshot buffer, which
  // the first save of a run brings into use (gp_data_copy is null until
  // then; its memory was obtained when the run started). x, y inside the
  // image. Outside a run there is no snapshot and nothing is saved. Inline
  // because a filter may call it for every pixel of a pass.
  void copy_data_x(int x, int y) {
    if (gp_data_copy == nullptr) {
      if (m_snapshot == nullptr) return;
      gp_data_copy = m_snapshot;
    }
    const std::size_t offset = (static_cast<std::size_t>(y) * static_cast<std::size_t>(g_width) +
                                static_cast<std::size_t>(x)) *
                               4;
    std::memcpy(gp_data_copy + offset, gp_data + offset, 4);
  }

  // The run; meant as a worker thread's entry (it also works on the main
  // thread, posting directly). The argument is ignored. Returns false when
  // the run was refused or failed before its first notification.
  bool process(const void* arg = nullptr);
  // True when the last process() call of this filter posted nothing because it
  // was refused or failed.
  bool last_run_failed() const { return m_last_run_failed.load(); }
  // True while any filter's run holds the pixel buffer.
  static bool is_run_in_progress();
  // How many passes of the last run were walked plainly: all of them with
  // Traversal::Plain, none with Traversal::Fast for a filter written for it
  // (PostProcessFilter). A fast run that has to walk a pass plainly says so
  // on stderr, once per filter object.
  int passes_walked_plainly() const { return m_plain_passes.load(); }

  // Where a run's output and snapshot buffers come from: uninitialised
  // memory that std::free releases, or null when there is none. Both are
  // obtained before the run posts anything; when either cannot be had the
  // run fails as a whole (a message on stderr, nothing posted, false). Tests
  // install their own to reach that path; null restores the default.
  using BufferAllocator = std::uint8_t* (*)(std::size_t bytes);
  static void set_buffer_allocator(BufferAllocator allocate);

  // Takes effect from the next run on.
  void set_traversal(Traversal traversal) { m_traversal.store(traversal); }
  Traversal traversal() const { return m_traversal.load(); }

  // Posts the notification described by dict ("name": std::string, optional
  // "object": any value) on the calling thread. The run performs it on the
  // main thread.
  static void _postNotificationName(const std::map<std::string, std::any>& dict);

  // A copy of image turned by angle quarter turns: 1 or -1 (counter-clockwise
  // or clockwise as drawn, the canvas h × w) or 2 (half turn); nothing for any
  // other angle or when the bitmap cannot be made.
  static ImageRef RotateImage(const ImageRef& image, int angle);

 protected:
  // The engine's hook for the fast traversal of one processing phase: work
  // through run_bands(pass_base(pass), …), which also runs the phase's
  // progress, and say where the output went (see FastPass). out is the spare
  // buffer, as large as the pixel buffer; with InOutput it holds the pass's
  // complete output. PostProcessFilter<Derived> is where it gets
  // instantiated; the base class has no fast traversal (Unhandled).
  virtual FastPass process_pass_fast(int pass, std::uint8_t* out);

  // The widest vector instructions the fast traversal's loops use. They are
  // compiled once for the baseline processor and again for AVX2 (the
  // vectoriser then works on eight floats at a time) and, for the mask
  // recipes, AVX-512 (sixteen); the run picks the widest the processor has.
  // GLOWSNAP_ENGINE_ISA (read once) caps it at "baseline", "avx2" or
  // "avx512", so that tests can check every build on one machine. Every lane
  // does the same IEEE single- and double-precision operations, and the
  // project never lets the compiler fuse a multiply and an add, so the bytes
  // are the same whichever runs.
  enum class VectorLevel { Baseline, Avx2, Avx512 };
  static VectorLevel vector_level();
  static bool has_avx2() { return vector_level() >= VectorLevel::Avx2; }

  // Brings the snapshot buffer into use if no pixel has been saved yet, so
  // that several threads can save pixels at once.
  void ensure_snapshot() {
    if (gp_data_copy == nullptr) gp_data_copy = m_snapshot;
  }

  // One progress step for the given count of the run's 2·W·H·passes steps.
  void progress_step(std::int64_t count);

  // Runs one phase of the fast traversal: band(y0, y1) for consecutive bands
  // of rows that together cover the image, spread over the shared thread pool
  // and taken in row order. band must touch only rows y0 to y1 − 1 of the
  // output and may be called on any thread. The progress steps of the phase
  // whose counts start at base are the plain traversal's, posted from the
  // calling thread in the same order with the same texts, each once the
  // bands done so far cover as many pixels as the plain walk had visited.
  using BandFunction = std::function<void(int y0, int y1)>;
  void run_bands(std::int64_t base, const BandFunction& band);
  // The first count of the processing phase of pass.
  std::int64_t pass_base(int pass) const {
    return 2 * static_cast<std::int64_t>(m_width) * m_height * pass;
  }

  // Stores a per-pixel result the way every traversal must: clamped to 0..1,
  // times 255 in single precision, truncated; alpha carried from the buffer.
  static void store_pixel(std::uint8_t* out, const std::uint8_t* in, rgb_color c) {
    out[0] = in[0];
    out[1] = to_byte(c.r);
    out[2] = to_byte(c.g);
    out[3] = to_byte(c.b);
  }
  static std::uint8_t to_byte(float v) {
    // A NaN would make the conversion undefined; it stores as 0 like any
    // value at or below 0.
    if (!(v > 0.0f)) return 0;
    if (v > 1.0f) v = 1.0f;
    return static_cast<std::uint8_t>(v * 255.0f);
  }
  // store_pixel for n pixels at once: out and in point at pixel 0 of the
  // stretch, c holds its n results. Gives the same bytes as store_pixel: the
  // clamp keeps 0 for NaN and anything at or below 0, the product is the
  // same single-precision one, the conversion truncates the same way.
  static void store_pixels(std::uint8_t* out, const std::uint8_t* in, const rgb_color* c, int n) {
#if defined(__SSE2__)
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(255.0f);
    const __m128i alphaMask = _mm_set1_epi32(0xff);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
      // One vector per pixel with the lanes (0, r, g, b), which become the
      // bytes (0, R, G, B) once packed; the alpha byte is put in afterwards.
      __m128 v[4];
      for (int k = 0; k < 4; ++k) {
        // max(v, 0) returns its second operand, 0, for a NaN.
        const rgb_color& p = c[i + k];
        const __m128 rgb = _mm_set_ps(p.b, p.g, p.r, 0.0f);
        v[k] = _mm_mul_ps(_mm_min_ps(_mm_max_ps(rgb, zero), one), scale);
      }
      const __m128i p01 = _mm_packs_epi32(_mm_cvttps_epi32(v[0]), _mm_cvttps_epi32(v[1]));
      const __m128i p23 = _mm_packs_epi32(_mm_cvttps_epi32(v[2]), _mm_cvttps_epi32(v[3]));
      __m128i bytes = _mm_packus_epi16(p01, p23);
      __m128i alpha;
      std::memcpy(&alpha, in + 4 * i, 16);
      bytes = _mm_or_si128(bytes, _mm_and_si128(alpha, alphaMask));
      std::memcpy(out + 4 * i, &bytes, 16);
    }
    for (; i < n; ++i) store_pixel(out + 4 * i, in + 4 * i, c[i]);
#else
    for (int i = 0; i < n; ++i) store_pixel(out + 4 * i, in + 4 * i, c[i]);
#endif
  }

  int m_width = 0;   // working width of the current run
  int m_height = 0;  // working height of the current run

 private:
  friend class VectorPass;

  class RunningSlot;
  class RunBuffers;

  // The steps of process(), in order.
  // Sets the globals to the working bitmap's pixels and this run's size.
  void use_pixel_buffer(std::uint8_t* pixels, int w, int h);
  // The first notification, with the progress of the run reset.
  void start_progress(int passes);
  // Every pass, from before_pass to after_pass, in the traversal read once
  // at the start; spare is the buffer a pass writes into.
  void walk_passes(Traversal traversal, std::uint8_t* spare);
  // One pass walked plainly: the processing phase, then the copy-back.
  void walk_pass_plainly(int pass, std::uint8_t* spare);
  // Brings the last pass's output into the working bitmap if a fast pass
  // left it in the spare buffer.
  void finish_in_bitmap(std::uint8_t* bitmap_pixels);

  void process_pass_plain(int pass, std::uint8_t* out);
  void copy_back(int pass, const std::uint8_t* out);
  // The copy-back phase of a fast pass, whose output is already where the
  // next pass reads it: only its progress steps remain to be posted.
  void skip_copy_back(int pass);
  void post(const char* name, std::any object);
  bool fail_run();
  // The percent of a progress step, exactly as the plain walk computes it.
  float percent_of(std::int64_t count) const;
  void report_percent(float percent);

  void* m_owner = nullptr;
  ImageRef m_img;
  mutable std::mutex m_result_mutex;
  ImageRef m_result;
  std::atomic<int> m_precent{0};
  int m_prev_precent = -1;
  float m_total_steps = 0.0f;
  std::atomic<int> m_max_res{800};
  std::atomic<bool> m_last_run_failed{false};
  std::atomic<Traversal> m_traversal{Traversal::Fast};
  std::atomic<int> m_plain_passes{0};
  bool m_warned_plain = false;
  // The snapshot's memory during a run (gp_data_copy once a pixel is saved).
  std::uint8_t* m_snapshot = nullptr;
};

}  // namespace glowsnap
