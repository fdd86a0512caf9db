#include "platform/qt/RunLoopDriver.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cmath>

#include "platform/foundation/RunLoop.h"

namespace glowsnap {

RunLoopDriver::RunLoopDriver(QObject* parent) : QObject(parent) {
  RunLoop& loop = RunLoop::main();
  const int fd = loop.descriptorForMode(RunLoop::kDefaultMode);
  if (fd >= 0) {
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { service(); });
  }
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, [this] { service(); });
  // A timer added from Qt code does not necessarily wake the descriptor, so
  // the deadline is looked at again whenever Qt is about to wait.
  if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread())) {
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { rearm(); });
  }
  // Work queued before the driver existed.
  QTimer::singleShot(0, this, [this] { service(); });
}

RunLoopDriver::~RunLoopDriver() = default;

void RunLoopDriver::service() {
  if (servicing_) return;  // a handler that spins Qt's loop must not re-enter
  servicing_ = true;
  RunLoop& loop = RunLoop::main();
  loop.processPending(RunLoop::kDefaultMode);
  // processPending's final wait may consume the wake-up of work queued after
  // it ran the queue; one more pass without waiting runs that work, and the
  // loop signals itself again if anything is still left.
  loop.runInMode(RunLoop::kDefaultMode, 0, false);
  servicing_ = false;
  rearm();
}

void RunLoopDriver::rearm() {
  const std::optional<double> seconds =
      RunLoop::main().secondsUntilNextTimer(RunLoop::kDefaultMode);
  if (!seconds) {
    if (timer_->isActive()) timer_->stop();
    return;
  }
  const double ms = std::max(0.0, std::ceil(*seconds * 1000.0));
  const int interval = ms > 1e9 ? 1000000000 : static_cast<int>(ms);
  if (!timer_->isActive() || timer_->remainingTime() > interval) timer_->start(interval);
}

}  // namespace glowsnap
