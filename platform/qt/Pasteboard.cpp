#include "platform/qt/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "platform/foundation/RunLoop.h"
#include "platform/qt/QtImage.h"

namespace glowsnap {

Pasteboard& Pasteboard::general() {
  static Pasteboard board;
  return board;
}

void Pasteboard::setImage(const ImageRef& image) {
  if (!image) return;
  QImage picture = QtImage::toUprightQImage(*image);
  auto put = [picture] {
    if (QClipboard* c = QGuiApplication::clipboard()) c->setImage(picture);
  };
  if (isMainThread()) {
    put();
  } else {
    performOnMainThread(put, false);
  }
}

QImage Pasteboard::image() const {
  QClipboard* c = QGuiApplication::clipboard();
  return c ? c->image() : QImage();
}

}  // namespace glowsnap
