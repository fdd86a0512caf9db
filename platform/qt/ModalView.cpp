#include "platform/qt/ModalView.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPointer>

#include "platform/qt/Animation.h"
#include "platform/qt/View.h"

namespace glowsnap {

namespace {

constexpr const char* kPresentedProperty = "glowsnapModalPresented";
constexpr double kDuration = 0.3;

// Keeps a presented view at its host's size and the screen below out of
// reach of the keyboard.
class ModalFilter : public QObject {
 public:
  static constexpr const char* kName = "glowsnapModalFilter";
  ModalFilter(QWidget* host, QWidget* view) : QObject(view), host_(host), view_(view) {
    setObjectName(kName);
    host->installEventFilter(this);
  }
  ~ModalFilter() override {
    if (host_) host_->removeEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != host_) return false;
    Rect moving;
    if (event->type() == QEvent::Resize && view_ && !Animation::targetFrame(view_, &moving))
      view_->setGeometry(0, 0, host_->width(), host_->height());
    // A key the presented screen left (or one sent to the screen below)
    // stops here.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
      event->accept();
      return true;
    }
    return false;
  }

 private:
  QPointer<QWidget> host_;
  QPointer<QWidget> view_;
};

}  // namespace

void ModalView::present(QWidget* host, QWidget* view, bool animated,
                        std::function<void()> didStop) {
  if (!host || !view) {
    if (didStop) didStop();
    return;
  }
  const float w = static_cast<float>(host->width());
  const float h = static_cast<float>(host->height());
  View::setFrame(view, Rect(0, animated && Animation::enabled() ? h : 0, w, h));
  View::setHidden(view, false);
  View::addSubview(host, view);
  view->setProperty(kPresentedProperty, true);
  new ModalFilter(host, view);
  view->setFocusPolicy(Qt::StrongFocus);
  view->setFocus(Qt::OtherFocusReason);
  if (!animated) {
    View::setFrame(view, Rect(0, 0, w, h));
    if (didStop) didStop();
    return;
  }
  Animation::beginAnimations();
  Animation::setAnimationDuration(kDuration);
  Animation::setAnimationDidStop(std::move(didStop));
  View::setFrame(view, Rect(0, 0, w, h));
  Animation::commitAnimations();
}

void ModalView::dismiss(QWidget* view, bool animated, std::function<void()> didStop) {
  if (!isPresented(view)) {
    if (didStop) didStop();
    return;
  }
  view->setProperty(kPresentedProperty, false);
  for (QObject* child : view->children())
    if (child->objectName() == ModalFilter::kName) delete dynamic_cast<ModalFilter*>(child);
  QPointer<QWidget> guarded(view);
  auto takeOut = [guarded, didStop = std::move(didStop)] {
    if (guarded && !isPresented(guarded)) View::removeFromSuperview(guarded);
    if (didStop) didStop();
  };
  QWidget* host = View::superview(view);
  if (!animated || !host) {
    takeOut();
    return;
  }
  Rect f = View::frame(view);
  f.origin.y = static_cast<float>(host->height());
  Animation::beginAnimations();
  Animation::setAnimationDuration(kDuration);
  Animation::setAnimationDidStop(std::move(takeOut));
  View::setFrame(view, f);
  Animation::commitAnimations();
}

bool ModalView::isPresented(const QWidget* view) {
  return view && view->property(kPresentedProperty).toBool();
}

QWidget* ModalView::presentedOver(const QWidget* host) {
  if (!host) return nullptr;
  const QList<QWidget*> children = View::subviews(host);
  for (auto it = children.rbegin(); it != children.rend(); ++it)
    if (isPresented(*it)) return *it;
  return nullptr;
}

}  // namespace glowsnap
