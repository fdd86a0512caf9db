// ImageView: shows an image, upright by its orientation tag. Like the views
// of the original design it has a center, bounds and an affine transform;
// its frame is the box around the transformed bounds. The result screen
// uses the transform to show a landscape picture turned a quarter turn.
#pragma once

#include <QImage>
#include <QWidget>

#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

class ImageView : public QWidget {
  Q_OBJECT

 public:
  enum ContentMode { ScaleToFill = 0, ScaleAspectFit = 1, ScaleAspectFill = 2 };

  explicit ImageView(QWidget* parent = nullptr);
  // initWithImage: the frame is the image's display size at the origin.
  explicit ImageView(ImageRef image, QWidget* parent = nullptr);
  ~ImageView() override;

  const ImageRef& image() const { return image_; }
  void setImage(ImageRef image);
  // A picture shown in place of the image, in the same box, while set (the
  // photo a result was made from); image() is unchanged. nullptr ends it.
  const ImageRef& alternateImage() const { return alternate_; }
  void setAlternateImage(ImageRef image);

  Rect frame() const;
  void setFrame(const Rect& frame);
  Point center() const { return center_; }
  Size boundsSize() const { return bounds_; }
  const AffineTransform& transform() const { return transform_; }
  // Keeps the center; the frame becomes the box around the new transform.
  void setTransform(const AffineTransform& t);

  ContentMode contentMode() const { return mode_; }
  void setContentMode(ContentMode mode);
  bool isUserInteractionEnabled() const { return interaction_; }
  void setUserInteractionEnabled(bool enabled);

  // The scale and offset at which a zooming scroll view shows the view.
  void setDisplay(float zoom, Point offset);

  // The rectangle of the bounds (centred on the origin) the picture fills.
  QRectF pictureRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void updateGeometryFromModel();

  ImageRef image_;
  QImage upright_;
  ImageRef alternate_;
  QImage alternateUpright_;
  Point center_;
  Size bounds_;
  AffineTransform transform_;
  ContentMode mode_ = ScaleToFill;
  bool interaction_ = true;
  float zoom_ = 1.0f;
  Point offset_;
};

}  // namespace glowsnap
