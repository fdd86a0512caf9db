#include "platform/qt/AlertView.h"

#include <algorithm>

#include "platform/qt/Panel.h"

namespace glowsnap {
namespace {
std::vector<std::shared_ptr<AlertView>>& shown() {
  static std::vector<std::shared_ptr<AlertView>> list;
  return list;
}
}  // namespace

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

AlertView::~AlertView() {
  if (panel_) panel_->deleteLater();
}

void AlertView::show() {
  if (panel_) return;
  QStringList buttons;
  for (const std::string& b : buttons_) buttons << QString::fromStdString(b);
  std::weak_ptr<AlertView> weak = weak_from_this();
  panel_ = new Panel(Panel::defaultHost(), Panel::Style::Alert, QString::fromStdString(title_),
                     QString::fromStdString(message_), buttons, cancelIndex_, [weak](int index) {
                       if (auto self = weak.lock()) self->dismissWithClickedButtonIndex(index);
                     });
  panel_->show();
  panel_->raise();
  panel_->setFocus();
  shown().push_back(shared_from_this());
}

void AlertView::dismissWithClickedButtonIndex(int buttonIndex) {
  auto keep = shared_from_this();
  if (delegate_) delegate_->clickedButtonAtIndex(this, buttonIndex);
  close();
}

void AlertView::close() {
  if (panel_) {
    panel_->hide();
    panel_->deleteLater();
    panel_ = nullptr;
  }
  auto& list = shown();
  list.erase(
      std::remove_if(list.begin(), list.end(), [this](const auto& a) { return a.get() == this; }),
      list.end());
}

std::vector<std::shared_ptr<AlertView>> AlertView::visibleAlerts() { return shown(); }

void AlertView::forgetDelegate(const AlertViewDelegate* delegate) {
  for (auto& a : shown()) {
    if (a->delegate_ == delegate) a->delegate_ = nullptr;
  }
}

void AlertView::closeAll() {
  auto list = shown();
  for (auto& a : list) a->close();
}

}  // namespace glowsnap
