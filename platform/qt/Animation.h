// Animation: animation blocks as the screens use them. Between
// beginAnimations() and commitAnimations() the frame and alpha changes made
// through View take their value at once and are shown moving over the
// block's duration. Transitions (curl up / curl down) show a view's old and
// new looks turning over. Animations can be switched off (tests,
// screenshots); the values are the same either way. A block may name what
// to do once everything it started has come to rest.
#pragma once

#include <QWidget>
#include <functional>

#include "platform/graphics/Geometry.h"

namespace glowsnap {

class Animation {
 public:
  enum class Transition { None, CurlUp, CurlDown };

  static void beginAnimations();
  static void setAnimationDuration(double seconds);
  // The transition runs over forView when the block is committed.
  static void setAnimationTransition(Transition transition, QWidget* forView);
  // Called once every animation of the block has ended (finished, or been
  // replaced by a newer change of the same view); at commit already when
  // nothing moves (animations off, or no change made in the block).
  static void setAnimationDidStop(std::function<void()> didStop);
  static void commitAnimations();

  static bool inBlock();
  static bool enabled();
  static void setEnabled(bool enabled);
  // Number of animations still running (for tests and screenshots).
  static int running();

  // Used by View: record a change made inside a block.
  static void animateFrame(QWidget* view, const Rect& from, const Rect& to);
  static void animateAlpha(QWidget* view, float from, float to);
  // The frame a running animation of view ends at, if any.
  static bool targetFrame(const QWidget* view, Rect* target);
};

}  // namespace glowsnap
