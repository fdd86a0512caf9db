#include "platform/qt/TableView.h"

#include <QMouseEvent>

namespace glowsnap {
namespace {
constexpr int kSectionRole = Qt::UserRole + 1;
constexpr int kRowRole = Qt::UserRole + 2;
}  // namespace

TableView::TableView(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::NoFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setUniformItemSizes(false);
}

TableView::~TableView() = default;

void TableView::setBackgroundColor(const QColor& color) {
  background_ = color;
  setStyleSheet(QStringLiteral("QListWidget { background: %1; border: none; }").arg(color.name()));
  rebuildItems();
}

int TableView::numberOfRowsInSection(int section) const {
  if (section < 0 || section >= numberOfSections()) return 0;
  return static_cast<int>(sections_[section].cells.size());
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(const IndexPath& p) const {
  if (p.section < 0 || p.section >= numberOfSections()) return nullptr;
  const auto& cells = sections_[p.section].cells;
  if (p.row < 0 || p.row >= static_cast<int>(cells.size())) return nullptr;
  return cells[p.row];
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(
    const std::string& identifier) {
  auto it = reusable_.find(identifier);
  if (it == reusable_.end() || it->second.empty()) return nullptr;
  auto cell = it->second.back();
  it->second.pop_back();
  return cell;
}

void TableView::reloadData() {
  // The cells on screen become reusable.
  for (auto& s : sections_) {
    for (auto& c : s.cells) {
      if (c) reusable_[c->reuseIdentifier()].push_back(c);
    }
  }
  sections_.clear();
  selected_.reset();
  if (dataSource_) {
    const int n = dataSource_->numberOfSectionsInTableView(this);
    for (int s = 0; s < n; ++s) {
      Section section;
      section.title = dataSource_->titleForHeaderInSection(this, s);
      const int rows = dataSource_->numberOfRowsInSection(this, s);
      for (int r = 0; r < rows; ++r)
        section.cells.push_back(dataSource_->cellForRowAtIndexPath(this, {s, r}));
      sections_.push_back(std::move(section));
    }
  }
  rebuildItems();
}

void TableView::rebuildItems() {
  clear();
  const bool dark = background_.lightness() < 128;
  for (int s = 0; s < numberOfSections(); ++s) {
    const Section& section = sections_[s];
    if (section.title) {
      auto* header = new QListWidgetItem(QString::fromStdString(*section.title), this);
      header->setFlags(Qt::ItemIsEnabled);
      QFont f = font();
      f.setBold(true);
      header->setFont(f);
      header->setForeground(Qt::white);
      header->setBackground(QColor(dark ? 70 : 140, dark ? 80 : 150, dark ? 95 : 165));
      header->setSizeHint(QSize(0, 24));
      header->setData(kSectionRole, -1);
    }
    for (int r = 0; r < static_cast<int>(section.cells.size()); ++r) {
      const auto& cell = section.cells[r];
      auto* item =
          new QListWidgetItem(cell ? QString::fromStdString(cell->text()) : QString(), this);
      item->setFlags(Qt::ItemIsEnabled);
      QFont f = font();
      f.setBold(true);
      f.setPointSizeF(f.pointSizeF() * 1.25);
      item->setFont(f);
      // A dark table shows black text on light cells, as a plain-style
      // table of the original design did.
      item->setForeground(cell ? cell->textColor() : QColor(Qt::black));
      item->setBackground(QColor(selected_ && *selected_ == IndexPath{s, r}
                                     ? QColor(70, 110, 200)
                                     : QColor(245, 245, 245)));
      item->setSizeHint(QSize(0, rowHeight_));
      item->setData(kSectionRole, s);
      item->setData(kRowRole, r);
    }
  }
}

void TableView::tapRowAtIndexPath(const IndexPath& indexPath) {
  std::optional<IndexPath> target = indexPath;
  if (delegate_) target = delegate_->willSelectRowAtIndexPath(this, indexPath);
  selected_ = target;
  rebuildItems();
}

void TableView::mousePressEvent(QMouseEvent* event) {
  QListWidgetItem* item = itemAt(event->position().toPoint());
  if (!item || item->data(kSectionRole).toInt() < 0) return;
  tapRowAtIndexPath({item->data(kSectionRole).toInt(), item->data(kRowRole).toInt()});
}

void TableView::mouseReleaseEvent(QMouseEvent*) {}
void TableView::mouseMoveEvent(QMouseEvent*) {}
void TableView::mouseDoubleClickEvent(QMouseEvent*) {}

}  // namespace glowsnap
