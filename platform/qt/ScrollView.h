// ScrollView: a view whose content can be panned and zoomed between a
// minimum and a maximum scale. The delegate names the view that zooms
// (viewForZoomingInScrollView); it must be an ImageView. The mouse wheel
// and a pinch zoom about the pointer, a double click toggles between the
// minimum scale and twice it, dragging pans. Pressing and holding the
// mouse button without moving (a long press) is reported to the delegate,
// when it begins and when the button is let go.
#pragma once

#include <QColor>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include "platform/graphics/Geometry.h"

class QGestureEvent;

namespace glowsnap {

class ScrollView;

class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  virtual QWidget* viewForZoomingInScrollView(ScrollView* scrollView) {
    (void)scrollView;
    return nullptr;
  }
  virtual void longPressBegan(ScrollView* scrollView) { (void)scrollView; }
  virtual void longPressEnded(ScrollView* scrollView) { (void)scrollView; }
};

class ScrollView : public QWidget {
  Q_OBJECT

 public:
  explicit ScrollView(QWidget* parent = nullptr);
  ~ScrollView() override;

  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size);
  float minimumZoomScale() const { return minZoom_; }
  void setMinimumZoomScale(float scale) { minZoom_ = scale; }
  float maximumZoomScale() const { return maxZoom_; }
  void setMaximumZoomScale(float scale) { maxZoom_ = scale; }
  float zoomScale() const { return zoom_; }
  // Clamped to [minimum, maximum]; keeps the point at anchor (view
  // coordinates) in place, or the centre when anchor is negative.
  void setZoomScale(float scale, QPointF anchor = QPointF(-1, -1));
  Point contentOffset() const { return offset_; }
  void setContentOffset(Point offset);

  bool clipsToBounds() const { return true; }
  void setClipsToBounds(bool) {}  // a widget always clips its children
  void setDelegate(ScrollViewDelegate* delegate) { delegate_ = delegate; }
  ScrollViewDelegate* delegate() const { return delegate_; }
  void setBackgroundColor(const QColor& color);
  void setBounces(bool bounces) { bounces_ = bounces; }
  bool bounces() const { return bounces_; }
  void setBouncesZoom(bool bounces) { bouncesZoom_ = bounces; }
  bool bouncesZoom() const { return bouncesZoom_; }

  void addSubview(QWidget* view);

  // How long the button must stay down, without moving, for a long press.
  static constexpr int kLongPressMilliseconds = 300;
  bool isLongPressed() const { return longPressed_; }

 protected:
  bool event(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void relayout();
  void clampOffset();
  bool gestureEvent(QGestureEvent* event);
  void endLongPress();

  ScrollViewDelegate* delegate_ = nullptr;
  Size contentSize_;
  float minZoom_ = 1.0f;
  float maxZoom_ = 1.0f;
  float zoom_ = 1.0f;
  Point offset_;
  bool bounces_ = true;
  bool bouncesZoom_ = true;
  bool dragging_ = false;
  QPointF lastPos_;
  QPointF pressPos_;
  QTimer longPressTimer_;
  bool longPressed_ = false;
};

}  // namespace glowsnap
