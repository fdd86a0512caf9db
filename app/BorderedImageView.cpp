#include "app/BorderedImageView.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "platform/qt/QtImage.h"

namespace glowsnap {
namespace {

// The rounded frame: corners of radius 5 points, drawn as arcs of radius 0.5
// in a system scaled by ten. Arcs never reach past half a side, so a tiny
// picture still gets a closed path.
QPainterPath roundedPath(const QRectF& d) {
  const double radius = std::min({5.0, d.width() / 2.0, d.height() / 2.0});
  QPainterPath path;
  path.addRoundedRect(d, radius, radius);
  return path;
}

}  // namespace

BorderedImageView::BorderedImageView(QWidget* parent) : QWidget(parent) {}

BorderedImageView::~BorderedImageView() = default;

void BorderedImageView::setImage(ImageRef image) {
  if (image != m_image) {
    m_image = std::move(image);
    m_upright = m_image ? QtImage::toUprightQImage(*m_image) : QImage();
  }
  update();
}

Rect BorderedImageView::pictureRect(Size imageSize, const Rect& r) {
  const float a = imageSize.width / imageSize.height;
  const float b = r.size.width / r.size.height;
  Size s;
  if (a > b) {
    s = Size{r.size.width, r.size.width / a};
  } else if (a < b) {
    s = Size{a * r.size.height, r.size.height};
  } else {
    s = r.size;
  }
  const float x = static_cast<float>(r.origin.x + 0.5 * r.size.width - 0.5 * s.width);
  const float y = static_cast<float>(r.origin.y + 0.5 * r.size.height - 0.5 * s.height);
  return Rect(x, y, s.width, s.height);
}

void BorderedImageView::drawRect(QPainter& p, const Rect& r) const {
  if (!m_image || m_upright.isNull() || r.size.width <= 0 || r.size.height <= 0) return;
  const Rect d = pictureRect(m_image->displaySize(), r);
  const QRectF qd(d.origin.x, d.origin.y, d.size.width, d.size.height);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const QPainterPath path = roundedPath(qd);
  p.setClipPath(path);
  p.drawImage(qd, m_upright);
  // The clip is still in force: only the inner half of the 5-point line
  // shows, a soft dark edge inside the rounded picture.
  p.setPen(QPen(QColor(0, 0, 0, 128), 5.0));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  p.restore();
}

void BorderedImageView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  drawRect(p, Rect(0, 0, static_cast<float>(width()), static_cast<float>(height())));
}

}  // namespace glowsnap
