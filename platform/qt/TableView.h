// TableView: a list in titled sections, fed by a data source and steered by
// a delegate, as the filter list and the sharing screen use it. Cells are
// values (text, text colour, an optional check mark) that the data source
// fills; a tap asks the delegate which row to select, and a row is marked
// only if it says so. The keyboard moves a cursor over the rows (arrow
// keys, Home, End, Page Up and Down) and Return or Space taps the row under
// it.
#pragma once

#include <QColor>
#include <QImage>
#include <QListWidget>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/Geometry.h"

namespace glowsnap {

class TableView;

struct IndexPath {
  int section = 0;
  int row = 0;
  bool operator==(const IndexPath&) const = default;
};

class TableViewCell {
 public:
  enum AccessoryType { AccessoryNone = 0, AccessoryCheckmark = 3 };

  explicit TableViewCell(std::string reuseIdentifier)
      : reuseIdentifier_(std::move(reuseIdentifier)) {}
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  const std::string& text() const { return text_; }
  void setText(const std::string& text) { text_ = text; }
  const QColor& textColor() const { return textColor_; }
  void setTextColor(const QColor& color) { textColor_ = color; }
  AccessoryType accessoryType() const { return accessory_; }
  void setAccessoryType(AccessoryType type) { accessory_ = type; }
  // A picture drawn in the cell at frame (points, from the cell's top left).
  struct ImageSubview {
    QImage image;
    Rect frame;
  };
  void addImageView(const QImage& image, const Rect& frame) { images_.push_back({image, frame}); }
  const std::vector<ImageSubview>& imageViews() const { return images_; }

 private:
  std::string reuseIdentifier_;
  std::string text_;
  QColor textColor_ = Qt::black;
  AccessoryType accessory_ = AccessoryNone;
  std::vector<ImageSubview> images_;
};

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual int numberOfSectionsInTableView(TableView*) { return 1; }
  virtual int numberOfRowsInSection(TableView* tableView, int section) = 0;
  virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView* tableView,
                                                               const IndexPath& indexPath) = 0;
  virtual std::optional<std::string> titleForHeaderInSection(TableView*, int) {
    return std::nullopt;
  }
  virtual std::optional<std::vector<std::string>> sectionIndexTitlesForTableView(TableView*) {
    return std::nullopt;
  }
};

class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  // The row to select for a tap on indexPath, or nothing to select none.
  virtual std::optional<IndexPath> willSelectRowAtIndexPath(TableView*,
                                                            const IndexPath& indexPath) {
    return indexPath;
  }
  // After a tap selected indexPath.
  virtual void didSelectRowAtIndexPath(TableView*, const IndexPath&) {}
};

class TableView : public QListWidget {
  Q_OBJECT

 public:
  explicit TableView(QWidget* parent = nullptr);
  ~TableView() override;

  void setDataSource(TableViewDataSource* dataSource) { dataSource_ = dataSource; }
  TableViewDataSource* dataSource() const { return dataSource_; }
  void setDelegate(TableViewDelegate* delegate) { delegate_ = delegate; }
  TableViewDelegate* delegate() const { return delegate_; }
  void setBackgroundColor(const QColor& color);
  void setRowHeight(int points) { rowHeight_ = points; }
  int rowHeight() const { return rowHeight_; }
  // The size of all rows: the table's width, the rows' heights.
  Size contentSize() const;

  // Asks the data source for everything again.
  void reloadData();
  // A cell of this identifier that is not on screen any more, or nothing.
  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);

  int numberOfSections() const { return static_cast<int>(sections_.size()); }
  int numberOfRowsInSection(int section) const;
  // The cell shown at indexPath (nothing outside the table).
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(const IndexPath& indexPath) const;
  std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
  // What a tap on the row does.
  void tapRowAtIndexPath(const IndexPath& indexPath);
  // Clears the selection (animated or not, the mark goes at once).
  void deselectRowAtIndexPath(const IndexPath& indexPath, bool animated);

  // The row the keyboard is on (nothing before the first key or a call).
  std::optional<IndexPath> cursorIndexPath() const { return cursor_; }
  // Puts the cursor on indexPath (nothing for a path outside the table).
  void setCursorIndexPath(const std::optional<IndexPath>& indexPath);
  // What a key does in the table; false for a key it has no use for.
  bool handleKey(int key);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  struct Section {
    std::optional<std::string> title;
    std::vector<std::shared_ptr<TableViewCell>> cells;
  };
  void rebuildItems();
  // Rows in display order, for moving the cursor.
  std::vector<IndexPath> rows() const;

  TableViewDataSource* dataSource_ = nullptr;
  TableViewDelegate* delegate_ = nullptr;
  std::vector<Section> sections_;
  std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusable_;
  std::optional<IndexPath> selected_;
  std::optional<IndexPath> cursor_;
  int rowHeight_ = 44;
  QColor background_ = Qt::white;
};

}  // namespace glowsnap
