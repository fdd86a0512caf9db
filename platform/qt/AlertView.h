// AlertView: a message with an optional title and one or more buttons,
// shown over the application window without blocking it. A tap on a button
// calls the delegate with the button's index (the cancel button first, then
// the other buttons in order) and closes the alert. Return presses the
// first button that is not the cancel button (the only one, if there is
// one button), Escape the cancel button (the only one, likewise). A shown
// alert keeps itself alive until it is closed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Geometry.h"
#include "platform/qt/Panel.h"

namespace glowsnap {

class AlertView;

class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void clickedButtonAtIndex(AlertView* alertView, int buttonIndex) {
    (void)alertView;
    (void)buttonIndex;
  }
};

class AlertView : public PanelPresenter<AlertView, AlertViewDelegate> {
 public:
  // An empty title means no title; an empty cancelButtonTitle no cancel button.
  static std::shared_ptr<AlertView> create(const std::string& title, const std::string& message,
                                           AlertViewDelegate* delegate,
                                           const std::string& cancelButtonTitle,
                                           const std::vector<std::string>& otherButtonTitles = {});

  ~AlertView();
  void show();
  // What a tap on the button does: the delegate is told, the alert closes.
  // Also for an alert without buttons (closed by its owner); nothing
  // happens when the alert is not shown any more.
  void dismissWithClickedButtonIndex(int buttonIndex);
  void dismissWithClickedButtonIndex(int buttonIndex, bool animated);
  // Adds view to the alert's box at its frame (points, from the box's top
  // left). The alert owns it; it goes when the alert closes, so keep it in
  // a QPointer.
  void addSubview(QWidget* view);
  // Moves the alert by (dx, dy) from its place in the middle of the screen.
  void setTranslation(float dx, float dy);
  Point translation() const { return translation_; }
  // The box of the alert on screen (nullptr when it is not shown).
  QWidget* box() const;

  const std::string& title() const { return title_; }
  const std::string& message() const { return message_; }
  const std::vector<std::string>& buttonTitles() const { return buttons_; }
  int cancelButtonIndex() const { return cancelIndex_; }
  // The button Return presses.
  int defaultButtonIndex() const;
  int numberOfButtons() const { return static_cast<int>(buttons_.size()); }

  // The alerts on screen now, oldest first.
  static std::vector<std::shared_ptr<AlertView>> visibleAlerts() { return visible(); }

 private:
  AlertView() = default;

  std::string title_;
  std::string message_;
  std::vector<std::string> buttons_;
  int cancelIndex_ = -1;
  std::vector<QPointer<QWidget>> subviews_;
  Point translation_{0, 0};
};

}  // namespace glowsnap
