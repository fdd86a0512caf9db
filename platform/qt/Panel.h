// Panel: the common part of alert views and action sheets: a dimmed layer
// over the host window with a box of a title, a message and buttons. It is
// not modal in Qt's sense: the rest of the application keeps running (the
// engine's notifications still arrive), but the layer takes the clicks.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

namespace glowsnap {

class Panel : public QWidget {
  Q_OBJECT

 public:
  enum class Style { Alert, Sheet };

  // host: the window to lay the panel over (nullptr: a window of its own).
  Panel(QWidget* host, Style style, const QString& title, const QString& message,
        const QStringList& buttons, int cancelIndex, std::function<void(int)> clicked);
  ~Panel() override;

  // The window alerts and sheets appear over when none is given.
  static void setDefaultHost(QWidget* host);
  static QWidget* defaultHost();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void fitToHost();

  Style style_;
  QWidget* box_ = nullptr;
  int cancelIndex_;
  std::function<void(int)> clicked_;
};

}  // namespace glowsnap
