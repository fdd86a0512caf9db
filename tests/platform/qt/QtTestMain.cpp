// The Qt tests' own main: one QApplication for the whole run, made before
// the first test and never torn down.
//
// The process ends with _exit once the tests are done. Alerts, sheets and
// other windows a test leaves open are held by the views' process-wide lists,
// and worker threads (the album's saves, the clipboard copy) may still be
// finishing; running the static destructors would destroy those widgets after
// Qt's own globals are gone, or under a thread that is still using them. The
// results are flushed first, and a sanitizer build runs its leak check before
// the end, as it would at exit.
#include <QApplication>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/qt/WebView.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Pages run in Qt WebEngine where it is installed, and its sandbox cannot
  // start as root (CI runs the tests as root): the tests switch it off, the
  // application never does.
  if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  // The Mingle dialogs' outcome scheme, known to the engine before the
  // application starts (as glowsnap-gui does).
  glowsnap::WebView::registerSignalScheme("minglekit");
  static int qtArgc = 1;
  static char name[] = "glowsnap-tests";
  static char* qtArgv[] = {name, nullptr};
  new QApplication(qtArgc, qtArgv);
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  // What the last test posted (deferred deletes among it) is delivered while
  // everything is still alive.
  QCoreApplication::sendPostedEvents();
  std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
  ::_exit(status);
}
