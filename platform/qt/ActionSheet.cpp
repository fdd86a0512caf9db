#include "platform/qt/ActionSheet.h"

namespace glowsnap {

std::shared_ptr<ActionSheet> ActionSheet::create(
    const std::string& title, ActionSheetDelegate* delegate, const std::string& cancelButtonTitle,
    const std::string& destructiveButtonTitle, const std::vector<std::string>& otherButtonTitles) {
  std::shared_ptr<ActionSheet> s(new ActionSheet);
  s->title_ = title;
  s->delegate_ = delegate;
  if (!destructiveButtonTitle.empty()) {
    s->destructiveIndex_ = 0;
    s->buttons_.push_back(destructiveButtonTitle);
  }
  s->buttons_.insert(s->buttons_.end(), otherButtonTitles.begin(), otherButtonTitles.end());
  if (!cancelButtonTitle.empty()) {
    s->cancelIndex_ = static_cast<int>(s->buttons_.size());
    s->buttons_.push_back(cancelButtonTitle);
  }
  return s;
}

void ActionSheet::showInView(QWidget* view) {
  QStringList buttons;
  for (const std::string& b : buttons_) buttons << QString::fromStdString(b);
  // A sheet has no default action: Return presses only the focused button.
  present(view ? view->window() : Panel::defaultHost(), Panel::Style::Sheet,
          QString::fromStdString(title_), QString(), buttons, cancelIndex_, -1);
}

void ActionSheet::dismissWithClickedButtonIndex(int buttonIndex) {
  auto keep = shared_from_this();
  close();
  if (delegate_) delegate_->clickedButtonAtIndex(this, buttonIndex);
}

}  // namespace glowsnap
