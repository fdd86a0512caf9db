#include "platform/qt/SegmentedControl.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace glowsnap {

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  group_->setExclusive(false);  // "none selected" must be possible
  connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
    setSelectedSegmentIndex(id);
    emit valueChanged(id);
  });
  setStyleSheet(
      "QToolButton { border: 1px solid #7a8599; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
      " stop:0 #fdfdfd, stop:1 #d9dde5); color: #333; font-weight: bold; padding: 4px 2px; }"
      " QToolButton:checked { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #6d8ed8,"
      " stop:1 #2f5fc8); color: white; }");
}

SegmentedControl::~SegmentedControl() = default;

void SegmentedControl::setSegments(const QStringList& titles) {
  titles_ = titles;
  rebuild();
}

void SegmentedControl::rebuild() {
  for (QAbstractButton* b : group_->buttons()) {
    group_->removeButton(b);
    delete b;
  }
  for (int i = 0; i < titles_.size(); ++i) {
    auto* b = new QToolButton(this);
    b->setText(titles_[i]);
    b->setCheckable(true);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    group_->addButton(b, i);
    layout()->addWidget(b);
  }
  setSelectedSegmentIndex(selected_);
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
  selected_ = index >= 0 && index < numberOfSegments() ? index : -1;
  for (QAbstractButton* b : group_->buttons()) b->setChecked(group_->id(b) == selected_);
}

}  // namespace glowsnap
