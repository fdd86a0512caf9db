// The dialogs' tests: one QApplication for the run, the main RunLoop
// served from Qt's event loop (the REST requests run on it), animations
// off. Qt WebEngine's sandbox cannot start as root (CI runs the tests as
// root): the tests switch it off, the application never does. Before the
// application goes, every dialog still pending deletion goes and the
// browser engine is given back, so that the process ends cleanly. The
// engine's default storage (which it sets up even when every page uses the
// in-memory profile) goes to a directory of the process's own, so that test
// processes running side by side never share it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/qt/Animation.h"
#include "platform/qt/RunLoopDriver.h"
#include "platform/qt/WebView.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string scratch = (std::filesystem::temp_directory_path() / "glowsnap-dialogs-XXXXXX").string();
  if (::mkdtemp(scratch.data())) {
    setenv("XDG_DATA_HOME", (scratch + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (scratch + "/cache").c_str(), 1);
  } else {
    scratch.clear();
  }
  if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  glowsnap::WebView::registerSignalScheme("minglekit");
  testing::InitGoogleTest(&argc, argv);
  int status = 0;
  {
    QApplication app(argc, argv);
    glowsnap::RunLoopDriver driver;
    glowsnap::Animation::setEnabled(false);
    status = RUN_ALL_TESTS();
    for (QWidget* w : QApplication::topLevelWidgets()) w->deleteLater();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    glowsnap::WebView::releaseEngine();
    QCoreApplication::processEvents();
  }
  if (!scratch.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
  }
  // Nothing of Qt is left to tear down; static destructors are not run
  // after it (as in the other Qt tests).
  std::fflush(nullptr);
  ::_exit(status);
}
