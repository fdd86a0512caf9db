#include "platform/qt/AlertView.h"

namespace glowsnap {

std::shared_ptr<AlertView> AlertView::create(const std::string& title, const std::string& message,
                                             AlertViewDelegate* delegate,
                                             const std::string& cancelButtonTitle,
                                             const std::vector<std::string>& otherButtonTitles) {
  std::shared_ptr<AlertView> a(new AlertView);
  a->title_ = title;
  a->message_ = message;
  a->delegate_ = delegate;
  if (!cancelButtonTitle.empty()) {
    a->cancelIndex_ = 0;
    a->buttons_.push_back(cancelButtonTitle);
  }
  a->buttons_.insert(a->buttons_.end(), otherButtonTitles.begin(), otherButtonTitles.end());
  return a;
}

int AlertView::defaultButtonIndex() const {
  if (buttons_.empty()) return -1;
  return cancelIndex_ == 0 && buttons_.size() > 1 ? 1 : 0;
}

void AlertView::show() {
  QStringList buttons;
  for (const std::string& b : buttons_) buttons << QString::fromStdString(b);
  present(Panel::defaultHost(), Panel::Style::Alert, QString::fromStdString(title_),
          QString::fromStdString(message_), buttons, cancelIndex_, defaultButtonIndex());
}

void AlertView::dismissWithClickedButtonIndex(int buttonIndex) {
  auto keep = shared_from_this();
  if (delegate_) delegate_->clickedButtonAtIndex(this, buttonIndex);
  close();
}

}  // namespace glowsnap
