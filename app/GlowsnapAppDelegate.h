// GlowsnapAppDelegate: starts the application. It makes the window from the
// main interface file and the main controller, puts the controller's view
// in the window and shows it. A photo dropped on the window, or named on the
// command line, is picked as if it came from the library.
#pragma once

#include <QObject>
#include <QWidget>
#include <filesystem>
#include <memory>

namespace glowsnap {

class Defaults;
class GlowsnapViewController;

class GlowsnapAppDelegate : public QObject {
  Q_OBJECT

 public:
  explicit GlowsnapAppDelegate(Defaults& settings, QObject* parent = nullptr);
  ~GlowsnapAppDelegate() override;

  QWidget* window() const { return m_window.get(); }
  GlowsnapViewController* viewController() const { return m_viewController.get(); }

  void applicationDidFinishLaunching();
  // Picks the photo at path (command line, drop). False when it was refused.
  bool openFile(const std::filesystem::path& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Declared first so the controller (whose view lives in the window) goes first.
  std::unique_ptr<QWidget> m_window;
  std::unique_ptr<GlowsnapViewController> m_viewController;
};

}  // namespace glowsnap
