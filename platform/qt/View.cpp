#include "platform/qt/View.h"

#include <QGraphicsOpacityEffect>
#include <cmath>

#include "platform/qt/Animation.h"
#include "platform/qt/ImageView.h"

namespace glowsnap {
namespace {
constexpr const char* kAlphaProperty = "glowsnapAlpha";

class EventHandler : public QObject {
 public:
  EventHandler(QWidget* view, std::function<bool(QEvent*)> handler)
      : QObject(view), handler_(std::move(handler)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    return watched == parent() && handler_ && handler_(event);
  }

 private:
  std::function<bool(QEvent*)> handler_;
};
}  // namespace

void View::installEventHandler(QWidget* view, std::function<bool(QEvent*)> handler) {
  if (view) view->installEventFilter(new EventHandler(view, std::move(handler)));
}

QRect View::toQRect(const Rect& r) {
  const int x = static_cast<int>(std::lround(r.origin.x));
  const int y = static_cast<int>(std::lround(r.origin.y));
  const int right = static_cast<int>(std::lround(r.origin.x + r.size.width));
  const int bottom = static_cast<int>(std::lround(r.origin.y + r.size.height));
  return QRect(x, y, right - x, bottom - y);
}

Rect View::fromQRect(const QRect& r) {
  return Rect(static_cast<float>(r.x()), static_cast<float>(r.y()), static_cast<float>(r.width()),
              static_cast<float>(r.height()));
}

Rect View::frame(const QWidget* view) {
  if (!view) return {};
  if (auto* iv = dynamic_cast<const ImageView*>(view)) return iv->frame();
  Rect target;
  if (Animation::targetFrame(view, &target)) return target;
  return fromQRect(view->geometry());
}

void View::setFrame(QWidget* view, const Rect& frame) {
  if (!view) return;
  if (auto* iv = dynamic_cast<ImageView*>(view)) {
    iv->setFrame(frame);
    return;
  }
  const Rect visible = fromQRect(view->geometry());
  Animation::animateFrame(view, visible, frame);
  view->setGeometry(toQRect(frame));
}

float View::alpha(const QWidget* view) {
  if (!view) return 0.0f;
  const QVariant v = view->property(kAlphaProperty);
  return v.isValid() ? v.toFloat() : 1.0f;
}

void View::setAlpha(QWidget* view, float value) {
  if (!view) return;
  value = std::clamp(value, 0.0f, 1.0f);
  const float old = alpha(view);
  view->setProperty(kAlphaProperty, value);
  view->setAttribute(Qt::WA_TransparentForMouseEvents, value < 0.01f);
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
  if (!effect && value >= 1.0f) return;
  if (!effect) {
    effect = new QGraphicsOpacityEffect(view);
    effect->setOpacity(old);
    view->setGraphicsEffect(effect);
  }
  if (Animation::inBlock() && Animation::enabled()) {
    Animation::animateAlpha(view, static_cast<float>(effect->opacity()), value);
  } else {
    effect->setOpacity(value);
  }
}

bool View::isHidden(const QWidget* view) { return view ? view->isHidden() : true; }

void View::setHidden(QWidget* view, bool hidden) {
  if (view) view->setVisible(!hidden);
}

void View::addSubview(QWidget* parent, QWidget* view) {
  if (!parent || !view) return;
  const bool hidden = view->isHidden() && view->testAttribute(Qt::WA_WState_ExplicitShowHide);
  if (view->parentWidget() != parent) {
    const QRect g = view->geometry();
    view->setParent(parent);
    view->setGeometry(g);
  }
  view->raise();
  if (!hidden) view->show();
}

void View::bringSubviewToFront(QWidget* parent, QWidget* view) {
  if (parent && view && view->parentWidget() == parent) view->raise();
}

void View::removeFromSuperview(QWidget* view) {
  if (!view || !view->parentWidget()) return;
  view->hide();
  view->setParent(nullptr);
  // Hidden by removal, not by the caller: a later addSubview shows it again.
  view->setAttribute(Qt::WA_WState_ExplicitShowHide, false);
}

QWidget* View::superview(const QWidget* view) { return view ? view->parentWidget() : nullptr; }

QList<QWidget*> View::subviews(const QWidget* parent) {
  QList<QWidget*> out;
  if (!parent) return out;
  for (QObject* child : parent->children()) {
    if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) out.push_back(w);
  }
  return out;
}

}  // namespace glowsnap
