// glowsnap-gui: the desktop application. Usage: glowsnap-gui [PHOTO]
// The portrait screen is drawn to fit the window, which can be resized and
// maximised; the desktop's own scaling applies as to any program.
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
#include "platform/qt/WebView.h"

int main(int argc, char** argv) {
  std::string photo;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout
          << "Usage: glowsnap-gui [PHOTO]\n"
             "Opens the Glowsnap desktop application, with PHOTO (JPEG or PNG) picked if given.\n"
             "The window can be resized and maximised. GLOWSNAP_SCALE sets its first size, in\n"
             "multiples of the 320 x 480 screen (default 1.5, less if the desktop is smaller).\n"
             "Keys: Ctrl+O open a photo, Return apply the filter, Esc back, F1 help, Ctrl+Z undo;\n"
             "on the result: Ctrl+S save to the album, Ctrl+C copy, hold B to see the original.\n"
             "Sharing (Save, then Upload): Mingle, Natter (through Pixdrop) and Mail. The\n"
             "services are a glowsnap-services on this machine unless glowsnap config says\n"
             "otherwise; start it with: glowsnap-services add-user NAME, then glowsnap-services.\n"
             "Natter account: glowsnap config set natter_username_preference NAME and\n"
             "glowsnap config set natter_password_preference (asked, kept in the keyring).\n"
             "Mail server: glowsnap config set smtp_url smtp://HOST:587 (else your mail program).\n"
             "The README's \"Share a first photo\" has every step.\n";
      return 0;
    }
    if (arg.rfind("-", 0) != 0 && photo.empty()) photo = arg;
  }
  double scale = glowsnap::GlowsnapAppDelegate::kPreferredScale;
  if (const char* s = std::getenv("GLOWSNAP_SCALE"); s && *s) {
    char* end = nullptr;
    const double v = std::strtod(s, &end);
    if (end && *end == '\0' && v > 0.0 && v <= 10.0) {
      scale = v;
    } else {
      std::cerr << "glowsnap-gui: GLOWSNAP_SCALE=" << s << " is not a size between 0 and 10; using "
                << scale << "\n";
    }
  }

  // The Mingle dialogs' pages tell their outcome through this scheme; the
  // browser engine must know it before the application starts.
  glowsnap::WebView::registerSignalScheme("minglekit");
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
  delegate.setPreferredScale(scale);
  delegate.applicationDidFinishLaunching();
  if (!photo.empty() && !delegate.openFile(photo)) {
    std::cerr << "glowsnap-gui: cannot open " << photo << "\n";
  }
  const int status = app.exec();
  // Web views still open give the browser engine back before the application goes.
  glowsnap::WebView::releaseEngine();
  return status;
}
