#include "platform/qt/TableView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace glowsnap {
namespace {
constexpr int kSectionRole = Qt::UserRole + 1;
constexpr int kRowRole = Qt::UserRole + 2;
constexpr int kCheckmarkRole = Qt::UserRole + 3;

// Draws a row as usual, with the cell's pictures and a check mark at its
// right end when it has one.
class CellDelegate : public QStyledItemDelegate {
 public:
  explicit CellDelegate(TableView* table) : QStyledItemDelegate(table), table_(table) {}
  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(p, option, index);
    if (index.data(kSectionRole).toInt() >= 0) {
      auto cell = table_->cellForRowAtIndexPath(
          {index.data(kSectionRole).toInt(), index.data(kRowRole).toInt()});
      if (cell && !cell->imageViews().empty()) {
        p->save();
        p->setRenderHint(QPainter::SmoothPixmapTransform);
        p->setClipRect(option.rect);
        for (const auto& iv : cell->imageViews()) {
          const QRectF target(option.rect.left() + iv.frame.origin.x,
                              option.rect.top() + iv.frame.origin.y, iv.frame.size.width,
                              iv.frame.size.height);
          p->drawImage(target, iv.image);
        }
        p->restore();
      }
    }
    if (!index.data(kCheckmarkRole).toBool()) return;
    const QRectF r = option.rect;
    const double h = std::min(r.height() * 0.4, 16.0);
    const QPointF a(r.right() - 18 - h, r.center().y());
    const QPointF b(a.x() + h * 0.4, a.y() + h * 0.4);
    const QPointF c(a.x() + h, a.y() - h * 0.5);
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(QPen(index.data(Qt::ForegroundRole).value<QBrush>().color(), 2.5, Qt::SolidLine,
                   Qt::RoundCap, Qt::RoundJoin));
    p->drawPolyline(QList<QPointF>{a, b, c});
    p->restore();
  }

 private:
  TableView* table_;
};
}  // namespace

TableView::TableView(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::StrongFocus);
  setItemDelegate(new CellDelegate(this));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setUniformItemSizes(false);
}

TableView::~TableView() = default;

void TableView::setBackgroundColor(const QColor& color) {
  background_ = color;
  const QString css = color.alpha() == 255 ? color.name()
                                            : QStringLiteral("rgba(%1, %2, %3, %4)")
                                                  .arg(color.red())
                                                  .arg(color.green())
                                                  .arg(color.blue())
                                                  .arg(color.alpha());
  setStyleSheet(QStringLiteral("QListWidget { background: %1; border: none; }").arg(css));
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
  const std::optional<IndexPath> cursor = cursor_;
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
  cursor_.reset();
  if (cursor && cellForRowAtIndexPath(*cursor)) cursor_ = cursor;
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
      const IndexPath here{s, r};
      item->setBackground(selected_ && *selected_ == here ? QColor(70, 110, 200)
                          : cursor_ && *cursor_ == here   ? QColor(190, 210, 245)
                          // A clear table shows what lies below between its marks.
                          : background_.alpha() == 0 ? QColor(0, 0, 0, 0)
                                                     : QColor(245, 245, 245));
      item->setData(kCheckmarkRole,
                    cell && cell->accessoryType() == TableViewCell::AccessoryCheckmark);
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
  if (delegate_ && target) delegate_->didSelectRowAtIndexPath(this, *target);
}

void TableView::deselectRowAtIndexPath(const IndexPath& indexPath, bool) {
  if (selected_ && *selected_ == indexPath) {
    selected_.reset();
    rebuildItems();
  }
}

Size TableView::contentSize() const {
  float height = 0;
  for (const Section& s : sections_) {
    if (s.title) height += 24;
    height += static_cast<float>(s.cells.size()) * static_cast<float>(rowHeight_);
  }
  return Size{static_cast<float>(width()), height};
}

std::vector<IndexPath> TableView::rows() const {
  std::vector<IndexPath> out;
  for (int s = 0; s < numberOfSections(); ++s) {
    for (int r = 0; r < numberOfRowsInSection(s); ++r) out.push_back({s, r});
  }
  return out;
}

void TableView::setCursorIndexPath(const std::optional<IndexPath>& indexPath) {
  cursor_.reset();
  if (indexPath && cellForRowAtIndexPath(*indexPath)) cursor_ = indexPath;
  rebuildItems();
  if (!cursor_) return;
  for (int i = 0; i < count(); ++i) {
    QListWidgetItem* it = item(i);
    if (it->data(kSectionRole).toInt() == cursor_->section &&
        it->data(kRowRole).toInt() == cursor_->row && it->data(kSectionRole).toInt() >= 0) {
      scrollToItem(it);
      break;
    }
  }
}

bool TableView::handleKey(int key) {
  const std::vector<IndexPath> all = rows();
  if (all.empty()) return false;
  const auto at = cursor_ ? std::find(all.begin(), all.end(), *cursor_) : all.end();
  const long pos = at == all.end() ? -1 : static_cast<long>(at - all.begin());
  const long last = static_cast<long>(all.size()) - 1;
  const long page = std::max(1, viewport()->height() / std::max(1, rowHeight_) - 1);
  long to = pos;
  switch (key) {
    case Qt::Key_Down:
      to = pos < 0 ? 0 : std::min(pos + 1, last);
      break;
    case Qt::Key_Up:
      to = pos < 0 ? last : std::max(pos - 1, 0L);
      break;
    case Qt::Key_Home:
      to = 0;
      break;
    case Qt::Key_End:
      to = last;
      break;
    case Qt::Key_PageDown:
      to = std::min(std::max(pos, 0L) + page, last);
      break;
    case Qt::Key_PageUp:
      to = std::max(pos - page, 0L);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (cursor_) tapRowAtIndexPath(*cursor_);
      return true;
    default:
      return false;  // Escape and the rest belong to the screen
  }
  setCursorIndexPath(all[static_cast<std::size_t>(to)]);
  return true;
}

void TableView::keyPressEvent(QKeyEvent* event) {
  if (event->isAutoRepeat() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                                event->key() == Qt::Key_Space)) {
    event->accept();
    return;
  }
  event->setAccepted(handleKey(event->key()));
}

void TableView::mousePressEvent(QMouseEvent* event) {
  QListWidgetItem* item = itemAt(event->position().toPoint());
  if (!item || item->data(kSectionRole).toInt() < 0) return;
  setFocus(Qt::MouseFocusReason);
  const IndexPath p{item->data(kSectionRole).toInt(), item->data(kRowRole).toInt()};
  cursor_ = p;
  tapRowAtIndexPath(p);
}

void TableView::mouseReleaseEvent(QMouseEvent*) {}
void TableView::mouseMoveEvent(QMouseEvent*) {}
void TableView::mouseDoubleClickEvent(QMouseEvent*) {}

}  // namespace glowsnap
