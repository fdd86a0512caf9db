#include "platform/qt/ScrollView.h"

#include <QGestureEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "platform/qt/ImageView.h"
#include "platform/qt/View.h"

namespace glowsnap {

namespace {
// A press that moves further than this is a drag, not a long press.
constexpr double kLongPressSlop = 6.0;
}  // namespace

ScrollView::ScrollView(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  grabGesture(Qt::PinchGesture);
  longPressTimer_.setSingleShot(true);
  longPressTimer_.setInterval(kLongPressMilliseconds);
  connect(&longPressTimer_, &QTimer::timeout, this, [this] {
    longPressed_ = true;
    dragging_ = false;
    if (delegate_) delegate_->longPressBegan(this);
  });
}

ScrollView::~ScrollView() = default;

void ScrollView::setContentSize(Size size) {
  contentSize_ = size;
  clampOffset();
  relayout();
}

void ScrollView::setBackgroundColor(const QColor& color) {
  QPalette pal = palette();
  pal.setColor(QPalette::Window, color);
  setPalette(pal);
}

void ScrollView::addSubview(QWidget* view) {
  View::addSubview(this, view);
  relayout();
}

void ScrollView::setZoomScale(float scale, QPointF anchor) {
  scale = std::clamp(scale, minZoom_, std::max(minZoom_, maxZoom_));
  if (anchor.x() < 0) anchor = QPointF(width() / 2.0, height() / 2.0);
  // The content point under the anchor stays under it.
  const double cx = (anchor.x() + offset_.x) / zoom_;
  const double cy = (anchor.y() + offset_.y) / zoom_;
  zoom_ = scale;
  offset_ = Point{static_cast<float>(cx * zoom_ - anchor.x()),
                  static_cast<float>(cy * zoom_ - anchor.y())};
  clampOffset();
  relayout();
}

void ScrollView::setContentOffset(Point offset) {
  offset_ = offset;
  clampOffset();
  relayout();
}

void ScrollView::clampOffset() {
  const float maxX = std::max(0.0f, contentSize_.width * zoom_ - static_cast<float>(width()));
  const float maxY = std::max(0.0f, contentSize_.height * zoom_ - static_cast<float>(height()));
  offset_.x = std::clamp(offset_.x, 0.0f, maxX);
  offset_.y = std::clamp(offset_.y, 0.0f, maxY);
}

void ScrollView::relayout() {
  QWidget* zoomed = delegate_ ? delegate_->viewForZoomingInScrollView(this) : nullptr;
  if (auto* iv = dynamic_cast<ImageView*>(zoomed); iv && iv->parentWidget() == this) {
    iv->setDisplay(zoom_, offset_);
  }
}

void ScrollView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  clampOffset();
  relayout();
}

void ScrollView::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) return;
  setZoomScale(static_cast<float>(zoom_ * std::pow(1.25, steps)), event->position());
  event->accept();
}

void ScrollView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    lastPos_ = pressPos_ = event->position();
    longPressTimer_.start();
  }
}

void ScrollView::mouseMoveEvent(QMouseEvent* event) {
  if (longPressTimer_.isActive() &&
      (event->position() - pressPos_).manhattanLength() > kLongPressSlop)
    longPressTimer_.stop();
  if (!dragging_) return;
  const QPointF d = event->position() - lastPos_;
  lastPos_ = event->position();
  setContentOffset(
      Point{offset_.x - static_cast<float>(d.x()), offset_.y - static_cast<float>(d.y())});
}

void ScrollView::mouseReleaseEvent(QMouseEvent*) {
  dragging_ = false;
  endLongPress();
}

void ScrollView::endLongPress() {
  longPressTimer_.stop();
  if (!longPressed_) return;
  longPressed_ = false;
  if (delegate_) delegate_->longPressEnded(this);
}

void ScrollView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  dragging_ = false;
  endLongPress();
}

void ScrollView::mouseDoubleClickEvent(QMouseEvent* event) {
  longPressTimer_.stop();
  if (zoom_ > minZoom_) {
    setZoomScale(minZoom_, event->position());
  } else {
    setZoomScale(minZoom_ * 2.0f, event->position());
  }
}

bool ScrollView::event(QEvent* event) {
  if (event->type() == QEvent::Gesture) return gestureEvent(static_cast<QGestureEvent*>(event));
  if (event->type() == QEvent::NativeGesture) {
    auto* g = static_cast<QNativeGestureEvent*>(event);
    if (g->gestureType() == Qt::ZoomNativeGesture) {
      setZoomScale(static_cast<float>(zoom_ * (1.0 + g->value())), g->position());
      return true;
    }
  }
  return QWidget::event(event);
}

bool ScrollView::gestureEvent(QGestureEvent* event) {
  if (auto* pinch = static_cast<QPinchGesture*>(event->gesture(Qt::PinchGesture))) {
    if (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged) {
      setZoomScale(static_cast<float>(zoom_ * pinch->scaleFactor()),
                   mapFromGlobal(pinch->centerPoint()));
    }
    event->accept(pinch);
    return true;
  }
  return false;
}

}  // namespace glowsnap
