// SegmentedControl: a row of exclusive segments, as the options screen's
// resolution choice. selectedSegmentIndex() is -1 when none is selected.
// The segment titles can be given in an interface file ("segments").
#pragma once

#include <QButtonGroup>
#include <QStringList>
#include <QWidget>

namespace glowsnap {

class SegmentedControl : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QStringList segments READ segments WRITE setSegments)
  Q_PROPERTY(int selectedSegmentIndex READ selectedSegmentIndex WRITE setSelectedSegmentIndex)

 public:
  explicit SegmentedControl(QWidget* parent = nullptr);
  ~SegmentedControl() override;

  QStringList segments() const { return titles_; }
  void setSegments(const QStringList& titles);
  int numberOfSegments() const { return static_cast<int>(titles_.size()); }
  int selectedSegmentIndex() const { return selected_; }
  // Any index outside the segments selects none.
  void setSelectedSegmentIndex(int index);

 signals:
  void valueChanged(int index);

 private:
  void rebuild();

  QStringList titles_;
  QButtonGroup* group_;
  int selected_ = -1;
};

}  // namespace glowsnap
