// BorderedImageView: the picture on the main view. It draws its image as
// large as fits, centred, with its own aspect, inside a rounded frame with a
// half-transparent dark edge along the inside.
#pragma once

#include <QImage>
#include <QWidget>

#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

class BorderedImageView : public QWidget {
  Q_OBJECT

 public:
  explicit BorderedImageView(QWidget* parent = nullptr);
  ~BorderedImageView() override;

  const ImageRef& image() const { return m_image; }
  // Keeps a reference to image (the same one again included) and redraws.
  void setImage(ImageRef image);

  // The rectangle the picture is drawn into for an image of the given size
  // in r: the largest of the image's aspect, centred.
  static Rect pictureRect(Size imageSize, const Rect& r);

  // drawRect: draws into painter over r.
  void drawRect(QPainter& painter, const Rect& r) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ImageRef m_image;
  QImage m_upright;
};

}  // namespace glowsnap
