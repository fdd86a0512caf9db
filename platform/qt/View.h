// View: the view operations the screens are written against, applied to
// Qt widgets. Frames are in points (Qt's device-independent pixels, so the
// whole screen scales with Qt's scale factor), relative to the superview.
//
// Inside an animation block (see Animation) a change of frame or alpha takes
// its new value at once: frame() and alpha() answer the new value while the
// eye still sees the widget move or fade.
#pragma once

#include <QWidget>
#include <functional>

#include "platform/graphics/Geometry.h"

namespace glowsnap {

class View {
 public:
  static Rect frame(const QWidget* view);
  static void setFrame(QWidget* view, const Rect& frame);
  static float alpha(const QWidget* view);
  // A view with alpha below 0.01 lets mouse events through to what lies below.
  static void setAlpha(QWidget* view, float alpha);
  static bool isHidden(const QWidget* view);
  static void setHidden(QWidget* view, bool hidden);

  // Puts view into parent on top of its siblings (moving it from its old
  // superview if it had one) and shows it unless it is hidden.
  static void addSubview(QWidget* parent, QWidget* view);
  static void bringSubviewToFront(QWidget* parent, QWidget* view);
  // Takes view out of its superview; the caller keeps it.
  static void removeFromSuperview(QWidget* view);
  static QWidget* superview(const QWidget* view);
  // The stacking order of parent's direct child widgets, from the bottom.
  static QList<QWidget*> subviews(const QWidget* parent);

  // handler sees every event sent to view, or passed up to it by a child
  // that did not take it, before the view does; true stops the event. It
  // lives as long as the view.
  static void installEventHandler(QWidget* view, std::function<bool(QEvent*)> handler);

  static QRect toQRect(const Rect& r);
  static Rect fromQRect(const QRect& r);
};

}  // namespace glowsnap
