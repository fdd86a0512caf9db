// Toolbar: a bar of items (buttons and flexible spaces, each a widget) in a
// row. Its items come from the widgets laid out in it (in an interface file
// or by setItems); setItems() replaces the row, and items left out are
// hidden but kept, so they can be put back later.
#pragma once

#include <QList>
#include <QWidget>

namespace glowsnap {

class Toolbar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int barStyle READ barStyle WRITE setBarStyle)

 public:
  enum BarStyle { Default = 0, Black = 1 };

  explicit Toolbar(QWidget* parent = nullptr);
  ~Toolbar() override;

  QList<QWidget*> items() const;
  void setItems(const QList<QWidget*>& items);
  int barStyle() const { return style_; }
  void setBarStyle(int style);

  // A flexible space item.
  static QWidget* flexibleSpace(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int style_ = Default;
};

}  // namespace glowsnap
