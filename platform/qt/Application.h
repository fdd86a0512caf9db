// Application: the few services of "the application" the screens use:
// opening a URL in the system's browser and the status bar. Tests replace
// the URL opener to see what would have been opened.
#pragma once

#include <QUrl>
#include <functional>

namespace glowsnap {

class Application {
 public:
  // Hands url to the desktop (the system browser for http). False when the
  // desktop refused it.
  static bool openURL(const QUrl& url);
  // nullptr restores the desktop's opener.
  static void setURLOpener(std::function<bool(const QUrl&)> opener);

  // A desktop window has no status bar; kept for the screens that hide it.
  static void setStatusBarHidden(bool hidden, bool animated);
  static bool isStatusBarHidden();
};

}  // namespace glowsnap
