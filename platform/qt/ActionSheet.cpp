#include "platform/qt/ActionSheet.h"

#include <algorithm>

#include "platform/qt/Panel.h"

namespace glowsnap {
namespace {
std::vector<std::shared_ptr<ActionSheet>>& shown() {
  static std::vector<std::shared_ptr<ActionSheet>> list;
  return list;
}
}  // namespace

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

ActionSheet::~ActionSheet() {
  if (panel_) panel_->deleteLater();
}

void ActionSheet::showInView(QWidget* view) {
  if (panel_) return;
  QStringList buttons;
  for (const std::string& b : buttons_) buttons << QString::fromStdString(b);
  std::weak_ptr<ActionSheet> weak = weak_from_this();
  QWidget* host = view ? view->window() : Panel::defaultHost();
  panel_ = new Panel(host, Panel::Style::Sheet, QString::fromStdString(title_), QString(), buttons,
                     cancelIndex_, [weak](int index) {
                       if (auto self = weak.lock()) self->dismissWithClickedButtonIndex(index);
                     });
  panel_->show();
  panel_->raise();
  panel_->setFocus();
  shown().push_back(shared_from_this());
}

void ActionSheet::dismissWithClickedButtonIndex(int buttonIndex) {
  auto keep = shared_from_this();
  close();
  if (delegate_) delegate_->clickedButtonAtIndex(this, buttonIndex);
}

void ActionSheet::close() {
  if (panel_) {
    panel_->hide();
    panel_->deleteLater();
    panel_ = nullptr;
  }
  auto& list = shown();
  list.erase(
      std::remove_if(list.begin(), list.end(), [this](const auto& s) { return s.get() == this; }),
      list.end());
}

std::vector<std::shared_ptr<ActionSheet>> ActionSheet::visibleSheets() { return shown(); }

void ActionSheet::forgetDelegate(const ActionSheetDelegate* delegate) {
  for (auto& s : shown()) {
    if (s->delegate_ == delegate) s->delegate_ = nullptr;
  }
}

void ActionSheet::closeAll() {
  auto list = shown();
  for (auto& s : list) s->close();
}

}  // namespace glowsnap
