// ScreenView: shows a screen of a fixed size in points (the portrait
// screen of the application) inside a desktop window of any size, scaled
// to fit with its aspect kept and the rest of the window black. The screen
// is drawn at the window's own resolution, so text and pictures stay sharp
// at every size; the desktop's scaling applies on top as to any window.
// Mouse, wheel and keyboard reach the screen's widgets in their own points.
#pragma once

#include <QGraphicsView>

class QGraphicsProxyWidget;

namespace glowsnap {

class ScreenView : public QGraphicsView {
  Q_OBJECT

 public:
  // Takes screen (a widget without parent) and shows it at its present size.
  explicit ScreenView(QWidget* screen, QWidget* parent = nullptr);
  ~ScreenView() override;

  QWidget* screen() const { return screen_; }
  // Window pixels per point of the screen.
  double scale() const;
  // Where the screen lies in the view, in the view's coordinates.
  QRect screenRect() const;

  // The desktop window a widget is seen in: its own window, or for a widget
  // on a screen shown by a ScreenView, the window of that view (dialogs
  // belong there, not on the scaled screen).
  static QWidget* desktopWindow(QWidget* widget);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  void fit();

  QWidget* screen_;
  QGraphicsProxyWidget* proxy_ = nullptr;
};

}  // namespace glowsnap
