// Pasteboard: the system clipboard. setImage() may be called from any
// thread: the image is converted there and handed to the clipboard on the
// main thread (Qt's clipboard belongs to it), in the order of the calls.
#pragma once

#include <QImage>

#include "platform/graphics/Image.h"

namespace glowsnap {

class Pasteboard {
 public:
  static Pasteboard& general();

  void setImage(const ImageRef& image);
  // The clipboard's image now (main thread); null when it holds none.
  QImage image() const;

 private:
  Pasteboard() = default;
};

}  // namespace glowsnap
