// AlertView: a message with an optional title and one or more buttons,
// shown over the application window without blocking it. A tap on a button
// calls the delegate with the button's index (the cancel button first, then
// the other buttons in order) and closes the alert. A shown alert keeps
// itself alive until it is closed.
#pragma once

#include <QPointer>
#include <memory>
#include <string>
#include <vector>

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

class AlertView : public std::enable_shared_from_this<AlertView> {
 public:
  // An empty title means no title; an empty cancelButtonTitle no cancel button.
  static std::shared_ptr<AlertView> create(const std::string& title, const std::string& message,
                                           AlertViewDelegate* delegate,
                                           const std::string& cancelButtonTitle,
                                           const std::vector<std::string>& otherButtonTitles = {});
  ~AlertView();

  void show();
  // What a tap on the button does: the delegate is told, the alert closes.
  void dismissWithClickedButtonIndex(int buttonIndex);

  const std::string& title() const { return title_; }
  const std::string& message() const { return message_; }
  const std::vector<std::string>& buttonTitles() const { return buttons_; }
  int cancelButtonIndex() const { return cancelIndex_; }
  int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
  AlertViewDelegate* delegate() const { return delegate_; }
  bool isVisible() const { return panel_ != nullptr; }

  // The alerts on screen now, oldest first.
  static std::vector<std::shared_ptr<AlertView>> visibleAlerts();
  // Drops delegate from every alert (its owner is going away).
  static void forgetDelegate(const AlertViewDelegate* delegate);
  // Closes every alert without telling the delegates.
  static void closeAll();

 private:
  AlertView() = default;
  void close();

  std::string title_;
  std::string message_;
  std::vector<std::string> buttons_;
  int cancelIndex_ = -1;
  AlertViewDelegate* delegate_ = nullptr;
  QPointer<Panel> panel_;
};

}  // namespace glowsnap
