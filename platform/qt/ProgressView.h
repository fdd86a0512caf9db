// ProgressView: a progress bar whose value runs from 0 to 1.
#pragma once

#include <QProgressBar>

namespace glowsnap {

class ProgressView : public QProgressBar {
  Q_OBJECT

 public:
  explicit ProgressView(QWidget* parent = nullptr);
  ~ProgressView() override;

  float progress() const { return progress_; }
  // Clamped to 0..1.
  void setProgress(float progress);

 private:
  float progress_ = 0.0f;
};

}  // namespace glowsnap
