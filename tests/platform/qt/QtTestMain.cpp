// The Qt tests need one QApplication for the whole run; it is made before
// the first test and lives until the process ends.
#include <QApplication>
#include <unistd.h>

#include <cstdlib>

#include "platform/qt/Animation.h"
#include "platform/qt/WebView.h"

namespace {
using glowsnap::WebView;
struct QtEnvironment {
  QtEnvironment() {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Pages run in Qt WebEngine where it is installed, and its sandbox cannot
    // start as root (CI runs the tests as root): the tests switch it off, the
    // application never does.
    if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // The Mingle dialogs' outcome scheme, known to the engine before the
    // application starts (as glowsnap-gui does).
    WebView::registerSignalScheme("minglekit");
    static int argc = 1;
    static char name[] = "glowsnap-tests";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
  }
  QApplication* app;
};
const QtEnvironment environment;
}  // namespace
