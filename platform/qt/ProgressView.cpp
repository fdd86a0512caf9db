#include "platform/qt/ProgressView.h"

#include <algorithm>
#include <cmath>

namespace glowsnap {

ProgressView::ProgressView(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 1000);
  setValue(0);
  setTextVisible(false);
  setStyleSheet(
      "QProgressBar { border: 1px solid #888; border-radius: 4px; background: #f4f4f4; }"
      " QProgressBar::chunk { border-radius: 3px; background: qlineargradient(x1:0, y1:0, x2:0, "
      "y2:1,"
      " stop:0 #8fb4ff, stop:1 #2f63d6); }");
}

ProgressView::~ProgressView() = default;

void ProgressView::setProgress(float progress) {
  progress_ = std::clamp(progress, 0.0f, 1.0f);
  setValue(static_cast<int>(std::lround(progress_ * 1000.0f)));
}

}  // namespace glowsnap
