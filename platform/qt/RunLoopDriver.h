// RunLoopDriver: lets Qt's event loop run the main thread's RunLoop, so that
// performOnMainThread, RunLoop timers and the notifications the engine
// delivers on the main thread behave in the GUI as they do in the command
// line and the tests. Create one on the main thread after QApplication.
#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace glowsnap {

class RunLoopDriver : public QObject {
  Q_OBJECT

 public:
  explicit RunLoopDriver(QObject* parent = nullptr);
  ~RunLoopDriver() override;

  // Runs whatever is ready in the main loop's default mode now and re-arms
  // the timer for the loop's next timer.
  void service();

 private:
  void rearm();

  QSocketNotifier* notifier_ = nullptr;
  QTimer* timer_ = nullptr;
  bool servicing_ = false;
};

}  // namespace glowsnap
