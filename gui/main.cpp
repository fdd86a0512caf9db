// glowsnap-gui: the desktop application. Usage: glowsnap-gui [PHOTO]
// The phone-sized screen is shown enlarged by Qt's scale factor (1.5 unless
// QT_SCALE_FACTOR or GLOWSNAP_SCALE says otherwise).
#include <QApplication>
#include <QIcon>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/GlowsnapAppDelegate.h"
#include "platform/foundation/Defaults.h"
#include "platform/foundation/Paths.h"
#include "platform/qt/RunLoopDriver.h"

int main(int argc, char** argv) {
  std::string photo;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout
          << "Usage: glowsnap-gui [PHOTO]\n"
             "Opens the Glowsnap desktop application, with PHOTO (JPEG or PNG) picked if given.\n"
             "GLOWSNAP_SCALE sets the size of the window (default 1.5).\n";
      return 0;
    }
    if (arg.rfind("-", 0) != 0 && photo.empty()) photo = arg;
  }
  if (!std::getenv("QT_SCALE_FACTOR")) {
    const char* scale = std::getenv("GLOWSNAP_SCALE");
    setenv("QT_SCALE_FACTOR", scale && *scale ? scale : "1.5", 1);
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Glowsnap");
  QApplication::setApplicationVersion("1.6.0");
  const std::filesystem::path icon = glowsnap::paths::resourcePath("icons/glowsnap.png");
  if (std::filesystem::exists(icon))
    QApplication::setWindowIcon(QIcon(QString::fromStdString(icon.string())));

  glowsnap::RunLoopDriver driver;
  glowsnap::Defaults& settings = glowsnap::Defaults::standard();
  if (!settings.lastError().empty())
    std::cerr << "glowsnap-gui: settings: " << settings.lastError() << "\n";

  glowsnap::GlowsnapAppDelegate delegate(settings);
  delegate.applicationDidFinishLaunching();
  if (!photo.empty() && !delegate.openFile(photo)) {
    std::cerr << "glowsnap-gui: cannot open " << photo << "\n";
  }
  return app.exec();
}
