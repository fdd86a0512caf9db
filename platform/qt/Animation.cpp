#include "platform/qt/Animation.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <map>
#include <vector>

#include "platform/qt/View.h"

namespace glowsnap {
namespace {

struct FrameChange {
  QPointer<QWidget> view;
  Rect from, to;
};
struct AlphaChange {
  QPointer<QWidget> view;
  float from, to;
};

struct Block {
  double duration = 0.2;
  Animation::Transition transition = Animation::Transition::None;
  QPointer<QWidget> transitionView;
  QPixmap before;
  std::vector<FrameChange> frames;
  std::vector<AlphaChange> alphas;
  std::function<void()> didStop;
};

struct Running {
  QPointer<QPropertyAnimation> animation;
  Rect target;
};

std::vector<Block>& blocks() {
  static std::vector<Block> b;
  return b;
}
std::map<const QWidget*, Running>& runningFrames() {
  static std::map<const QWidget*, Running> m;
  return m;
}
bool& enabledFlag() {
  static bool on = true;
  return on;
}
int& runningCount() {
  static int n = 0;
  return n;
}

void track(QAbstractAnimation* animation) {
  ++runningCount();
  QObject::connect(animation, &QObject::destroyed, [] { --runningCount(); });
}

QGraphicsOpacityEffect* opacityEffect(QWidget* view) {
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
  if (!effect) {
    effect = new QGraphicsOpacityEffect(view);
    effect->setOpacity(1.0);
    view->setGraphicsEffect(effect);
  }
  return effect;
}

QAbstractAnimation* startFrame(const FrameChange& c, double duration) {
  if (!c.view) return nullptr;
  auto* a = new QPropertyAnimation(c.view.data(), "geometry");
  a->setDuration(static_cast<int>(duration * 1000.0));
  a->setStartValue(View::toQRect(c.from));
  a->setEndValue(View::toQRect(c.to));
  a->setEasingCurve(QEasingCurve::InOutQuad);
  const QWidget* key = c.view.data();
  runningFrames()[key] = Running{a, c.to};
  QObject::connect(a, &QAbstractAnimation::finished, [key, a] {
    auto it = runningFrames().find(key);
    if (it != runningFrames().end() && it->second.animation == a) runningFrames().erase(it);
  });
  track(a);
  a->start(QAbstractAnimation::DeleteWhenStopped);
  return a;
}

QAbstractAnimation* startAlpha(const AlphaChange& c, double duration) {
  if (!c.view) return nullptr;
  auto* effect = opacityEffect(c.view.data());
  auto* a = new QPropertyAnimation(effect, "opacity");
  a->setDuration(static_cast<int>(duration * 1000.0));
  a->setStartValue(c.from);
  a->setEndValue(c.to);
  track(a);
  a->start(QAbstractAnimation::DeleteWhenStopped);
  return a;
}

// The page turn: the old look lifts off upwards (curl up) or the new look
// comes down over the old one (curl down).
QAbstractAnimation* startTransition(const Block& b) {
  QWidget* view = b.transitionView.data();
  if (!view || b.before.isNull()) return nullptr;
  const QPixmap after = view->grab();
  const QRect r = view->rect();
  auto* under = new QLabel(view);
  under->setAttribute(Qt::WA_TransparentForMouseEvents);
  under->setGeometry(r);
  under->setScaledContents(true);
  auto* over = new QLabel(view);
  over->setAttribute(Qt::WA_TransparentForMouseEvents);
  over->setScaledContents(true);
  auto* a = new QPropertyAnimation(over, "geometry");
  a->setDuration(static_cast<int>(b.duration * 1000.0));
  a->setEasingCurve(QEasingCurve::InOutCubic);
  if (b.transition == Animation::Transition::CurlUp) {
    under->setPixmap(after);
    over->setPixmap(b.before);
    a->setStartValue(r);
    a->setEndValue(r.translated(0, -r.height()));
  } else {
    under->setPixmap(b.before);
    over->setPixmap(after);
    a->setStartValue(r.translated(0, -r.height()));
    a->setEndValue(r);
  }
  under->show();
  under->raise();
  over->show();
  over->raise();
  QObject::connect(a, &QAbstractAnimation::finished, [under, over] {
    under->deleteLater();
    over->deleteLater();
  });
  track(a);
  a->start(QAbstractAnimation::DeleteWhenStopped);
  return a;
}

}  // namespace

void Animation::beginAnimations() { blocks().emplace_back(); }

void Animation::setAnimationDuration(double seconds) {
  if (!blocks().empty()) blocks().back().duration = seconds;
}

void Animation::setAnimationTransition(Transition transition, QWidget* forView) {
  if (blocks().empty()) return;
  Block& b = blocks().back();
  b.transition = transition;
  b.transitionView = forView;
  if (enabledFlag() && forView && transition != Transition::None && forView->isVisible()) {
    b.before = forView->grab();
  }
}

void Animation::setAnimationDidStop(std::function<void()> didStop) {
  if (!blocks().empty()) blocks().back().didStop = std::move(didStop);
}

void Animation::commitAnimations() {
  if (blocks().empty()) return;
  Block b = std::move(blocks().back());
  blocks().pop_back();
  std::vector<QAbstractAnimation*> started;
  if (enabledFlag()) {
    for (const FrameChange& c : b.frames) started.push_back(startFrame(c, b.duration));
    for (const AlphaChange& c : b.alphas) started.push_back(startAlpha(c, b.duration));
    if (b.transition != Transition::None) started.push_back(startTransition(b));
  }
  std::erase(started, nullptr);
  if (!b.didStop) return;
  if (started.empty()) {
    b.didStop();
    return;
  }
  // Each animation counts once, when it stops (finished, replaced or its
  // view gone) or, failing that, when it is destroyed.
  auto pending = std::make_shared<std::size_t>(started.size());
  auto didStop = std::make_shared<std::function<void()>>(std::move(b.didStop));
  for (QAbstractAnimation* a : started) {
    auto counted = std::make_shared<bool>(false);
    auto ended = [pending, didStop, counted] {
      if (*counted) return;
      *counted = true;
      if (--*pending == 0 && *didStop) (*didStop)();
    };
    QObject::connect(a, &QAbstractAnimation::stateChanged,
                     [ended](QAbstractAnimation::State now, QAbstractAnimation::State) {
                       if (now == QAbstractAnimation::Stopped) ended();
                     });
    QObject::connect(a, &QObject::destroyed, ended);
  }
}

bool Animation::inBlock() { return !blocks().empty(); }
bool Animation::enabled() { return enabledFlag(); }
void Animation::setEnabled(bool on) { enabledFlag() = on; }
int Animation::running() { return runningCount(); }

void Animation::animateFrame(QWidget* view, const Rect& from, const Rect& to) {
  // A new change replaces an animation still running on the same view.
  auto it = runningFrames().find(view);
  if (it != runningFrames().end()) {
    if (it->second.animation) it->second.animation->stop();
    runningFrames().erase(it);
  }
  if (blocks().empty() || !enabledFlag()) return;
  blocks().back().frames.push_back({view, from, to});
}

void Animation::animateAlpha(QWidget* view, float from, float to) {
  if (blocks().empty() || !enabledFlag()) return;
  blocks().back().alphas.push_back({view, from, to});
}

bool Animation::targetFrame(const QWidget* view, Rect* target) {
  auto it = runningFrames().find(view);
  if (it == runningFrames().end() || !it->second.animation) return false;
  *target = it->second.target;
  return true;
}

}  // namespace glowsnap
