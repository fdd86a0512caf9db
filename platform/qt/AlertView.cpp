#include "platform/qt/AlertView.h"

#include <cmath>

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

AlertView::~AlertView() {
  // Views added but never shown are still the alert's own.
  for (auto& v : subviews_)
    if (v && !v->parent()) delete v.data();
}

void AlertView::show() {
  QStringList buttons;
  for (const std::string& b : buttons_) buttons << QString::fromStdString(b);
  present(Panel::defaultHost(), Panel::Style::Alert, QString::fromStdString(title_),
          QString::fromStdString(message_), buttons, cancelIndex_, defaultButtonIndex());
  if (Panel* p = panel()) {
    for (auto& v : subviews_)
      if (v) p->addSubview(v);
    subviews_.clear();
    p->setOffset(QPoint(static_cast<int>(std::lround(translation_.x)),
                        static_cast<int>(std::lround(translation_.y))));
  }
}

void AlertView::addSubview(QWidget* view) {
  if (!view) return;
  if (Panel* p = panel()) {
    p->addSubview(view);
  } else {
    view->setParent(nullptr);
    subviews_.emplace_back(view);
  }
}

void AlertView::setTranslation(float dx, float dy) {
  translation_ = Point{dx, dy};
  if (Panel* p = panel())
    p->setOffset(QPoint(static_cast<int>(std::lround(dx)), static_cast<int>(std::lround(dy))));
}

QWidget* AlertView::box() const { return panel() ? panel()->box() : nullptr; }

void AlertView::dismissWithClickedButtonIndex(int buttonIndex, bool) {
  dismissWithClickedButtonIndex(buttonIndex);
}

void AlertView::dismissWithClickedButtonIndex(int buttonIndex) {
  if (!isVisible()) return;
  auto keep = shared_from_this();
  if (delegate_) delegate_->clickedButtonAtIndex(this, buttonIndex);
  close();
}

}  // namespace glowsnap
