// GlowsnapAppDelegate: starts the application. It makes the desktop window,
// lays the portrait screen of the main interface file into it (scaled to
// fit, black bars where the window's shape differs), puts the main
// controller's view on that screen and shows it. The window can be resized
// and maximised; it first opens as large as preferredScale asks, or as
// fits the desktop's free area. A photo dropped on the window, or named on
// the command line, is picked as if it came from the library; a drop that
// cannot be used is answered with an alert saying why.
#pragma once

#include <QObject>
#include <QSize>
#include <QWidget>
#include <filesystem>
#include <memory>

namespace glowsnap {

class Defaults;
class GlowsnapViewController;
class ScreenView;

class GlowsnapAppDelegate : public QObject {
  Q_OBJECT

 public:
  // Window pixels per point at the first size, unless the desktop is smaller.
  static constexpr double kPreferredScale = 1.5;

  explicit GlowsnapAppDelegate(Defaults& settings, QObject* parent = nullptr);
  ~GlowsnapAppDelegate() override;

  // The desktop window.
  QWidget* window() const { return m_window.get(); }
  // The portrait screen inside it (320 × 480 points), where alerts appear.
  QWidget* screen() const { return m_screen; }
  ScreenView* screenView() const { return m_screenView; }
  GlowsnapViewController* viewController() const { return m_viewController.get(); }

  void setPreferredScale(double scale) { m_preferredScale = scale; }
  // The first window size: the screen at the preferred scale, made smaller
  // to fit available (the desktop's free area, decorations left out).
  static QSize firstWindowSize(QSize screen, double preferredScale, QSize available);

  void applicationDidFinishLaunching();
  // Picks the photo at path (command line, drop). False when it was refused.
  bool openFile(const std::filesystem::path& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void dropped(const QList<QUrl>& urls);

  // Declared first so the controller (whose view lives in the window) goes first.
  std::unique_ptr<QWidget> m_window;
  QWidget* m_screen = nullptr;
  ScreenView* m_screenView = nullptr;
  std::unique_ptr<GlowsnapViewController> m_viewController;
  double m_preferredScale = kPreferredScale;
};

}  // namespace glowsnap
