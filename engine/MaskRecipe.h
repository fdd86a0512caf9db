// MaskRecipe: a look built around a grey mask, stated once.
//
// Such a look has one shape: pass 0 turns the photo into a grey mask and
// saves the photo in the snapshot, the next passes blur the mask, the last
// ones combine what they read at the pixel. The look states that once, as a
// list of steps with its own arithmetic in them,
//
//     static constexpr auto recipe() {
//       return mask_recipe(reader,                        // the snapshot's bytes → values
//                          steps::mask(value_of_photo),   // pass 0
//                          steps::blur(2.5f, 3),          // passes 1 to 3
//                          steps::combine([](const auto& px) { ... }));  // pass 4
//     }
//
// and derives from MaskRecipeFilter<Look>, which makes both traversals from
// that one statement: compute_pixel (the per-pixel definition the plain walk
// calls, through get_pixel, do_blur, do_edge_detection and the snapshot
// buffer exactly as the pass scheme reads them), get_num_passes, and the
// fast plan (mask_pass, handing every pass to MaskPass in MaskPlanes.h).
// The engine names no look and no reader: the reader comes with the recipe.
//
// The steps
//   mask(value)              pass 0: v = value(photo pixel), stored as (v, v, v);
//                            the photo is saved in the snapshot.
//   blur(radius, count)      count passes of do_blur at radius.
//   blend_channels(f)        every channel f(mask value, photo channel), of
//                            nothing else (the plan looks them up).
//   combine_by_mask(g, f)    f(px, g(mask value)): g of the mask alone (the
//                            plan works it out once per mask byte).
//   combine(f)               f(px).
//   combine_with_edges(r, f) f(px, do_edge_detection at r over the previous
//                            pass's output: the mask after a blur, the image
//                            after a combining step).
//   saving_mask(step)        the step, after which the snapshot holds the
//                            mask it read (copy_data_x once the pixel is done).
//
// What a combining step may read, px (RecipePixel), follows from where the
// step stands, and is the same in both traversals: the first combining step
// reads mask() and photo(); the later ones read pixel(), the previous pass's
// output, and saved_mask() once a step saved it. A function that reads what
// its step has not got does not compile, nor does a recipe whose steps are
// out of order (mask first, then blurs, then combining steps; a table or a
// saving step only first among those; edges over the image only last).
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "engine/MaskPlanes.h"
#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"

namespace glowsnap {

// What a combining step may read at its pixel (see the header comment).
struct MaskReads {
  bool mask;
  bool photo;
  bool pixel;
  bool saved_mask;
};

// The pixel a combining step's function is handed. Source says where the
// values are: in the pixel and snapshot buffers for the plain walk, in the
// mask planes for the fast plan.
template <MaskReads kReads, class Source>
class RecipePixel {
 public:
  GLOWSNAP_ALWAYS_INLINE explicit RecipePixel(const Source& source) : m_source(source) {}

  // The blurred mask, as get_pixel reads it.
  GLOWSNAP_ALWAYS_INLINE rgb_color mask() const requires(kReads.mask) { return m_source.mask(); }
  // The photo saved at pass 0, through the look's snapshot reader.
  GLOWSNAP_ALWAYS_INLINE rgb_color photo() const requires(kReads.photo) { return m_source.photo(); }
  // The previous pass's output, as get_pixel reads it.
  GLOWSNAP_ALWAYS_INLINE rgb_color pixel() const requires(kReads.pixel) { return m_source.pixel(); }
  // The mask a saving step left in the snapshot, through the look's reader.
  GLOWSNAP_ALWAYS_INLINE rgb_color saved_mask() const requires(kReads.saved_mask) {
    return m_source.saved_mask();
  }

 private:
  Source m_source;
};

namespace steps {

template <class F>
struct Mask {
  F value;
};
struct Blur {
  float radius;
  int count;
};
template <class F>
struct Channels {
  F value;
};
template <class G, class F>
struct ByMask {
  G of_mask;
  F value;
};
template <class F>
struct Combine {
  F value;
};
template <class F>
struct Edges {
  float radius;
  F value;
};
template <class S>
struct SavingMask {
  S step;
};

template <class F>
constexpr Mask<F> mask(F value) {
  return {value};
}
constexpr Blur blur(float radius, int count) { return {radius, count}; }
template <class F>
constexpr Channels<F> blend_channels(F value) {
  return {value};
}
template <class G, class F>
constexpr ByMask<G, F> combine_by_mask(G of_mask, F value) {
  return {of_mask, value};
}
template <class F>
constexpr Combine<F> combine(F value) {
  return {value};
}
template <class F>
constexpr Edges<F> combine_with_edges(float radius, F value) {
  return {radius, value};
}
template <class S>
constexpr SavingMask<S> saving_mask(S step) {
  return {step};
}

}  // namespace steps

namespace recipe_detail {

template <class S>
struct Kind {
  static constexpr bool kMask = false;
  static constexpr bool kBlur = false;
  static constexpr bool kTabled = false;  // Channels and ByMask: read the mask byte
  static constexpr bool kByMask = false;
  static constexpr bool kEdges = false;
  static constexpr bool kSaves = false;
};
template <class F>
struct Kind<steps::Mask<F>> : Kind<void> {
  static constexpr bool kMask = true;
};
template <>
struct Kind<steps::Blur> : Kind<void> {
  static constexpr bool kBlur = true;
};
template <class F>
struct Kind<steps::Channels<F>> : Kind<void> {
  static constexpr bool kTabled = true;
};
template <class G, class F>
struct Kind<steps::ByMask<G, F>> : Kind<void> {
  static constexpr bool kTabled = true;
  static constexpr bool kByMask = true;
};
template <class F>
struct Kind<steps::Edges<F>> : Kind<void> {
  static constexpr bool kEdges = true;
};
template <class S>
struct Kind<steps::SavingMask<S>> : Kind<S> {
  static constexpr bool kSaves = true;
};

template <class S>
constexpr bool kCombines = !Kind<S>::kMask && !Kind<S>::kBlur;

template <class S>
constexpr int pass_count(const S& step) {
  if constexpr (Kind<S>::kBlur) {
    return step.count;
  } else if constexpr (Kind<S>::kSaves) {
    return pass_count(step.step);
  } else {
    return 1;
  }
}

// Where each step stands in its recipe, and what that lets it read.
template <class... Steps>
struct Layout {
  static constexpr std::size_t kCount = sizeof...(Steps);
  static constexpr bool kIsMask[] = {Kind<Steps>::kMask...};
  static constexpr bool kIsCombining[] = {kCombines<Steps>...};
  static constexpr bool kIsTabled[] = {Kind<Steps>::kTabled...};
  static constexpr bool kIsEdges[] = {Kind<Steps>::kEdges...};
  static constexpr bool kIsSaving[] = {Kind<Steps>::kSaves...};

  static constexpr bool combining_before(std::size_t i) {
    for (std::size_t j = 0; j < i; ++j)
      if (kIsCombining[j]) return true;
    return false;
  }
  static constexpr bool saved_before(std::size_t i) {
    for (std::size_t j = 0; j < i; ++j)
      if (kIsSaving[j]) return true;
    return false;
  }
  // The first combining step: the buffer holds the mask, the snapshot the
  // photo.
  static constexpr bool first_combining(std::size_t i) {
    return kIsCombining[i] && !combining_before(i);
  }
  // Edges over the previous combining step's image: the fast plan writes
  // the result where the mask was.
  static constexpr bool over_image(std::size_t i) { return kIsEdges[i] && combining_before(i); }
  static constexpr MaskReads reads(std::size_t i) {
    const bool first = first_combining(i);
    return {first, first, !first, !first && saved_before(i) && !over_image(i)};
  }

  static constexpr bool mask_only_first() {
    for (std::size_t i = 0; i < kCount; ++i)
      if (kIsMask[i] != (i == 0)) return false;
    return true;
  }
  static constexpr bool blurs_before_combining() {
    for (std::size_t i = 0; i < kCount; ++i)
      if (!kIsCombining[i] && combining_before(i)) return false;
    return true;
  }
  static constexpr bool tables_and_saving_first() {
    for (std::size_t i = 0; i < kCount; ++i)
      if ((kIsTabled[i] || kIsSaving[i]) && !first_combining(i)) return false;
    return true;
  }
  static constexpr bool image_edges_last() {
    for (std::size_t i = 0; i + 1 < kCount; ++i)
      if (over_image(i)) return false;
    return true;
  }
};

// The plain walk's reads at (x, y): the pixel buffer through get_pixel, the
// snapshot buffer through the look's reader.
template <class Reader>
struct BufferAt {
  int x;
  int y;
  [[no_unique_address]] Reader reader;
  GLOWSNAP_ALWAYS_INLINE rgb_color mask() const { return get_pixel(x, y); }
  GLOWSNAP_ALWAYS_INLINE rgb_color pixel() const { return get_pixel(x, y); }
  GLOWSNAP_ALWAYS_INLINE rgb_color photo() const { return get_snapshot_pixel(x, y, reader); }
  GLOWSNAP_ALWAYS_INLINE rgb_color saved_mask() const { return get_snapshot_pixel(x, y, reader); }
};

// The fast plan's reads: the mask plane, the photo where MaskPlanes keeps
// it, the pixel buffer; the same values, each byte through the same
// conversion.
template <class Reader>
struct PlaneAt {
  MaskPixel at;
  [[no_unique_address]] Reader reader;
  GLOWSNAP_ALWAYS_INLINE rgb_color mask() const { return at.mask(); }
  GLOWSNAP_ALWAYS_INLINE rgb_color pixel() const { return at.pixel(); }
  GLOWSNAP_ALWAYS_INLINE rgb_color photo() const {
    const std::uint32_t word = at.photo_word();
    return {reader(static_cast<std::uint8_t>(MaskPixel::red_of(word))),
            reader(static_cast<std::uint8_t>(MaskPixel::green_of(word))),
            reader(static_cast<std::uint8_t>(MaskPixel::blue_of(word)))};
  }
  GLOWSNAP_ALWAYS_INLINE rgb_color saved_mask() const {
    const float v = reader(at.mask_byte());
    return {v, v, v};
  }
};

// One step's pass at (x, y), as the pass scheme defines it.
template <MaskReads kReads, class Reader, class S>
GLOWSNAP_ALWAYS_INLINE rgb_color pixel_of(const S& step, PostProcess& engine, int x, int y,
                                          const Reader& reader) {
  const RecipePixel<kReads, BufferAt<Reader>> px(BufferAt<Reader>{x, y, reader});
  if constexpr (Kind<S>::kSaves) {
    const rgb_color c = pixel_of<kReads>(step.step, engine, x, y, reader);
    // Each pixel replaces only its own entry, after reading it.
    engine.copy_data_x(x, y);
    return c;
  } else if constexpr (Kind<S>::kMask) {
    engine.copy_data_x(x, y);
    const float v = step.value(get_pixel(x, y));
    return {v, v, v};
  } else if constexpr (Kind<S>::kBlur) {
    return do_blur(x, y, step.radius);
  } else if constexpr (Kind<S>::kEdges) {
    return step.value(px, do_edge_detection(x, y, step.radius, false, 0.0f, 0.0f));
  } else if constexpr (Kind<S>::kByMask) {
    // The mask is grey: its one value is any channel's.
    return step.value(px, step.of_mask(px.mask().r));
  } else if constexpr (Kind<S>::kTabled) {
    const float m = px.mask().r;
    const rgb_color s = px.photo();
    return {step.value(m, s.r), step.value(m, s.g), step.value(m, s.b)};
  } else {
    return step.value(px);
  }
}

// One step's pass in the fast plan: the same functions, handed to MaskPass.
template <MaskReads kReads, bool kOverImage, class Reader, class S>
GLOWSNAP_ALWAYS_INLINE FastPass plan_of(const S& step, MaskPass& run, const Reader& reader) {
  using Pixel = RecipePixel<kReads, PlaneAt<Reader>>;
  if constexpr (Kind<S>::kSaves) {
    // The plane keeps the mask: saved_mask() reads it there.
    return plan_of<kReads, kOverImage>(step.step, run, reader);
  } else if constexpr (Kind<S>::kMask) {
    return run.mask(step.value);
  } else if constexpr (Kind<S>::kBlur) {
    return run.blur(step.radius);
  } else if constexpr (Kind<S>::kEdges) {
    const auto value =
        [ f = step.value, reader ](const MaskPixel& at, float e) __attribute__((always_inline)) {
      return f(Pixel({at, reader}), e);
    };
    if constexpr (kOverImage) {
      return run.combine_with_image_edges(step.radius, value);
    } else {
      return run.combine_with_mask_edges(step.radius, value);
    }
  } else if constexpr (Kind<S>::kByMask) {
    using Value = decltype(step.of_mask(0.0f));
    Value table[256];
    for (int b = 0; b < 256; ++b) table[b] = step.of_mask(static_cast<float>(b) * kByteToUnit);
    return run.combine([&table, f = step.value, reader ](const MaskPixel& at)
                           __attribute__((always_inline)) {
                             return f(Pixel({at, reader}), table[at.mask_byte()]);
                           });
  } else if constexpr (Kind<S>::kTabled) {
    return run.combine_channels(step.value, reader);
  } else {
    return run.combine([ f = step.value, reader ](const MaskPixel& at)
                           __attribute__((always_inline)) {
                             return f(Pixel({at, reader}));
                           });
  }
}

}  // namespace recipe_detail

// A look's statement: its snapshot reader and its steps, in pass order.
template <class Reader, class... Steps>
struct MaskRecipe {
  using Layout = recipe_detail::Layout<Steps...>;
  static_assert(Layout::mask_only_first(), "a mask recipe begins with its one mask step");
  static_assert(Layout::blurs_before_combining(), "blurs come before the combining steps");
  static_assert(
      recipe_detail::kCombines<std::tuple_element_t<sizeof...(Steps) - 1, std::tuple<Steps...>>>,
      "a mask recipe ends with a combining step");
  static_assert(Layout::tables_and_saving_first(),
                "blend_channels, combine_by_mask and saving_mask read the mask and the photo: "
                "only the first combining step has both");
  static_assert(Layout::image_edges_last(),
                "edges over a combined image end the recipe: the mask is gone after them");

  Reader reader;
  std::tuple<Steps...> steps;

  constexpr int passes() const {
    return std::apply(
        [](const auto&... step) { return (0 + ... + recipe_detail::pass_count(step)); }, steps);
  }

  // Pass pass at (x, y), as the plain walk computes it; black for a pass the
  // recipe has not got.
  template <std::size_t I = 0>
  GLOWSNAP_ALWAYS_INLINE rgb_color pixel(PostProcess& engine, int x, int y, int pass,
                                         int first = 0) const {
    if constexpr (I == sizeof...(Steps)) {
      return {0.0f, 0.0f, 0.0f};
    } else {
      const auto& step = std::get<I>(steps);
      const int end = first + recipe_detail::pass_count(step);
      if (pass < end) return recipe_detail::pixel_of<Layout::reads(I)>(step, engine, x, y, reader);
      return pixel<I + 1>(engine, x, y, pass, end);
    }
  }

  // Pass pass of a fast run, handed to run.
  template <std::size_t I = 0>
  FastPass plan(MaskPass& run, int pass, int first = 0) const {
    if constexpr (I == sizeof...(Steps)) {
      return FastPass::Unhandled;
    } else {
      const auto& step = std::get<I>(steps);
      const int end = first + recipe_detail::pass_count(step);
      if (pass < end)
        return recipe_detail::plan_of<Layout::reads(I), Layout::over_image(I)>(step, run, reader);
      return plan<I + 1>(run, pass, end);
    }
  }
};

// Makes a look's recipe: reader turns a snapshot byte into the value the
// look reads (a function of std::uint8_t to float), steps in pass order.
template <class Reader, class... Steps>
constexpr MaskRecipe<Reader, Steps...> mask_recipe(Reader reader, Steps... steps) {
  return {reader, {steps...}};
}

// The base of a look stated as a mask recipe: Look defines
//     static constexpr auto recipe();
// (and its name), and gets its per-pixel definition, its pass count and its
// fast plan made from it.
template <class Look>
class MaskRecipeFilter : public PostProcessFilter<Look> {
 public:
  int get_num_passes() const override {
    static constexpr int kPasses = Look::recipe().passes();
    return kPasses;
  }

  rgb_color compute_pixel(int x, int y, int pass) {
    static constexpr auto kRecipe = Look::recipe();
    return kRecipe.pixel(*this, x, y, pass);
  }

  FastPass mask_pass(int pass, MaskPass& run) {
    static constexpr auto kRecipe = Look::recipe();
    return kRecipe.plan(run, pass);
  }
};

}  // namespace glowsnap
