#include "platform/qt/ActivityIndicator.h"

#include <QPainter>
#include <algorithm>

namespace glowsnap {

ActivityIndicator::ActivityIndicator(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(80);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % 12;
    update();
  });
}

ActivityIndicator::~ActivityIndicator() = default;

void ActivityIndicator::startAnimating() {
  animating_ = true;
  timer_.start();
  update();
}

void ActivityIndicator::stopAnimating() {
  animating_ = false;
  timer_.stop();
  update();
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const double r = std::min(width(), height()) / 2.0;
  p.translate(width() / 2.0, height() / 2.0);
  for (int i = 0; i < 12; ++i) {
    const int age = (step_ - i + 12) % 12;
    QColor c(255, 255, 255, animating_ ? 255 - age * 18 : 90);
    p.setPen(QPen(c, std::max(2.0, r / 5.0), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, -r * 0.45), QPointF(0, -r * 0.9));
    p.rotate(30);
  }
}

}  // namespace glowsnap
