#include "platform/qt/Application.h"

#include <QDesktopServices>

namespace glowsnap {
namespace {
std::function<bool(const QUrl&)>& opener() {
  static std::function<bool(const QUrl&)> fn;
  return fn;
}
bool& statusBarHidden() {
  static bool hidden = false;
  return hidden;
}
}  // namespace

bool Application::openURL(const QUrl& url) {
  if (opener()) return opener()(url);
  return QDesktopServices::openUrl(url);
}

void Application::setURLOpener(std::function<bool(const QUrl&)> fn) { opener() = std::move(fn); }

void Application::setStatusBarHidden(bool hidden, bool) { statusBarHidden() = hidden; }
bool Application::isStatusBarHidden() { return statusBarHidden(); }

}  // namespace glowsnap
