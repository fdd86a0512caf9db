#include "platform/qt/ImageView.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "platform/qt/QtImage.h"
#include "platform/qt/View.h"

namespace glowsnap {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {}

ImageView::ImageView(ImageRef image, QWidget* parent) : QWidget(parent) {
  setImage(std::move(image));
  const Size s = image_ ? image_->displaySize() : Size{};
  setFrame(Rect(0, 0, s.width, s.height));
}

ImageView::~ImageView() = default;

void ImageView::setImage(ImageRef image) {
  image_ = std::move(image);
  upright_ = image_ ? QtImage::toUprightQImage(*image_) : QImage();
  update();
}

void ImageView::setAlternateImage(ImageRef image) {
  if (image == alternate_) return;
  alternate_ = std::move(image);
  alternateUpright_ = alternate_ ? QtImage::toUprightQImage(*alternate_) : QImage();
  update();
}

Rect ImageView::frame() const {
  // The corners of the bounds, centred on the origin, through the linear
  // part of the transform; the translation moves the whole box.
  const float hw = bounds_.width / 2, hh = bounds_.height / 2;
  const Point corners[4] = {{-hw, -hh}, {hw, -hh}, {-hw, hh}, {hw, hh}};
  float minX = 0, minY = 0, maxX = 0, maxY = 0;
  for (int i = 0; i < 4; ++i) {
    const Point p = transform_.apply(corners[i]);
    if (i == 0 || p.x < minX) minX = p.x;
    if (i == 0 || p.y < minY) minY = p.y;
    if (i == 0 || p.x > maxX) maxX = p.x;
    if (i == 0 || p.y > maxY) maxY = p.y;
  }
  return Rect(center_.x + minX, center_.y + minY, maxX - minX, maxY - minY);
}

void ImageView::setFrame(const Rect& f) {
  // The bounds whose transformed box has the frame's size, and the center
  // that puts that box on the frame.
  const AffineTransform& t = transform_;
  const float absA = std::fabs(t.a), absB = std::fabs(t.b), absC = std::fabs(t.c),
              absD = std::fabs(t.d);
  // frame.w = |a|·bw + |c|·bh, frame.h = |b|·bw + |d|·bh
  const float det = absA * absD - absC * absB;
  if (std::fabs(det) > 1e-6f) {
    bounds_.width = (absD * f.size.width - absC * f.size.height) / det;
    bounds_.height = (absA * f.size.height - absB * f.size.width) / det;
  } else {
    bounds_ = f.size;
  }
  center_ = Point{f.origin.x + f.size.width / 2 - t.tx, f.origin.y + f.size.height / 2 - t.ty};
  updateGeometryFromModel();
}

void ImageView::setTransform(const AffineTransform& t) {
  transform_ = t;
  updateGeometryFromModel();
}

void ImageView::setContentMode(ContentMode mode) {
  mode_ = mode;
  update();
}

void ImageView::setUserInteractionEnabled(bool enabled) {
  interaction_ = enabled;
  setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
}

void ImageView::setDisplay(float zoom, Point offset) {
  zoom_ = zoom;
  offset_ = offset;
  updateGeometryFromModel();
}

void ImageView::updateGeometryFromModel() {
  const Rect f = frame();
  setGeometry(View::toQRect(Rect(f.origin.x * zoom_ - offset_.x, f.origin.y * zoom_ - offset_.y,
                                 f.size.width * zoom_, f.size.height * zoom_)));
  update();
}

QRectF ImageView::pictureRect() const {
  const QRectF box(-bounds_.width / 2.0, -bounds_.height / 2.0, bounds_.width, bounds_.height);
  if (upright_.isNull() || mode_ == ScaleToFill) return box;
  const double a = double(upright_.width()) / upright_.height();
  const double b = box.width() / box.height();
  const bool fitWidth = mode_ == ScaleAspectFit ? a > b : a < b;
  QSizeF s =
      fitWidth ? QSizeF(box.width(), box.width() / a) : QSizeF(box.height() * a, box.height());
  return QRectF(-s.width() / 2, -s.height() / 2, s.width(), s.height());
}

void ImageView::paintEvent(QPaintEvent*) {
  if (upright_.isNull() || bounds_.width <= 0 || bounds_.height <= 0) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.setClipRect(rect());
  const Rect f = frame();
  const double k = f.size.width > 0 ? width() / double(f.size.width) : 1.0;
  // Widget coordinates of the center: the frame's box maps onto the widget.
  const double cx = (center_.x + transform_.tx - f.origin.x) * k;
  const double cy = (center_.y + transform_.ty - f.origin.y) * k;
  p.translate(cx, cy);
  p.scale(k, k);
  p.setTransform(QTransform(transform_.a, transform_.b, transform_.c, transform_.d, 0, 0), true);
  p.drawImage(pictureRect(), alternateUpright_.isNull() ? upright_ : alternateUpright_);
}

}  // namespace glowsnap
