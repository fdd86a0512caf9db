// ActivityIndicator: the spinning wheel shown while a run works.
#pragma once

#include <QTimer>
#include <QWidget>

namespace glowsnap {

class ActivityIndicator : public QWidget {
  Q_OBJECT

 public:
  explicit ActivityIndicator(QWidget* parent = nullptr);
  ~ActivityIndicator() override;

  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer timer_;
  int step_ = 0;
  bool animating_ = false;
};

}  // namespace glowsnap
