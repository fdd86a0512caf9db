// Panel: the common part of alert views and action sheets: a dimmed layer
// over the host window with a box of a title, a message and buttons. It is
// not modal in Qt's sense: the rest of the application keeps running (the
// engine's notifications still arrive), but the layer takes the clicks and
// the keyboard. Return presses the focused button or else the default one,
// Escape the cancel button (or the only button), Tab and the arrow keys
// move between the buttons; every other key stops at the panel. When it
// closes, the keyboard goes back to where it was.
//
// PanelPresenter is the bookkeeping AlertView and ActionSheet share: the
// list of those on screen, the panel shown for one, and its delegate.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace glowsnap {

class Panel : public QWidget {
  Q_OBJECT

 public:
  enum class Style { Alert, Sheet };

  // host: the window to lay the panel over (nullptr: a window of its own).
  // defaultIndex: the button Return presses (-1: none).
  Panel(QWidget* host, Style style, const QString& title, const QString& message,
        const QStringList& buttons, int cancelIndex, int defaultIndex,
        std::function<void(int)> clicked);
  ~Panel() override;

  // The window alerts and sheets appear over when none is given.
  static void setDefaultHost(QWidget* host);
  static QWidget* defaultHost();

  int defaultIndex() const { return defaultIndex_; }
  // Puts view into the box at its frame (points, from the box's top left);
  // the box grows to hold it. The panel owns it from then on.
  void addSubview(QWidget* view);
  // Moves the box from its place by offset (an alert's translation).
  void setOffset(QPoint offset);
  QWidget* box() const { return box_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void fitToHost();
  void press(int index);

  Style style_;
  QWidget* box_ = nullptr;
  QList<QWidget*> buttons_;
  int cancelIndex_;
  int defaultIndex_;
  std::function<void(int)> clicked_;
  QPointer<QWidget> previousFocus_;
  QPoint offset_;
  int contentBottom_ = 0;
};

template <typename Derived, typename Delegate>
class PanelPresenter : public std::enable_shared_from_this<Derived> {
 public:
  ~PanelPresenter() {
    if (panel_) panel_->deleteLater();
  }

  Delegate* delegate() const { return delegate_; }
  bool isVisible() const { return panel_ != nullptr; }

  // Those on screen now, oldest first.
  static std::vector<std::shared_ptr<Derived>> visible() { return shown(); }
  // Drops delegate from every one on screen (its owner is going away).
  static void forgetDelegate(const Delegate* delegate) {
    for (auto& p : shown()) {
      if (p->delegate_ == delegate) p->delegate_ = nullptr;
    }
  }
  // Closes every one without telling the delegates.
  static void closeAll() {
    auto list = shown();
    for (auto& p : list) p->close();
  }

 protected:
  Panel* panel() const { return panel_.data(); }
  // Shows the panel over host; a tap on button i calls
  // Derived::dismissWithClickedButtonIndex(i).
  void present(QWidget* host, Panel::Style style, const QString& title, const QString& message,
               const QStringList& buttons, int cancelIndex, int defaultIndex) {
    if (panel_) return;
    std::weak_ptr<Derived> weak = this->weak_from_this();
    panel_ = new Panel(host, style, title, message, buttons, cancelIndex, defaultIndex,
                       [weak](int index) {
                         if (auto self = weak.lock()) self->dismissWithClickedButtonIndex(index);
                       });
    panel_->show();
    panel_->raise();
    panel_->setFocus();
    shown().push_back(this->shared_from_this());
  }

  void close() {
    if (panel_) {
      panel_->hide();
      panel_->deleteLater();
      panel_ = nullptr;
    }
    auto& list = shown();
    list.erase(
        std::remove_if(list.begin(), list.end(), [this](const auto& p) { return p.get() == this; }),
        list.end());
  }

  Delegate* delegate_ = nullptr;

 private:
  static std::vector<std::shared_ptr<Derived>>& shown() {
    static std::vector<std::shared_ptr<Derived>> list;
    return list;
  }

  QPointer<Panel> panel_;
};

}  // namespace glowsnap
