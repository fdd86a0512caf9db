// ImageScrollView: the zooming scroll view of the result screen. It adds
// nothing to ScrollView; the main controller configures it per result.
#pragma once

#include "platform/qt/ScrollView.h"

namespace glowsnap {

class ImageScrollView : public ScrollView {
  Q_OBJECT

 public:
  explicit ImageScrollView(QWidget* parent = nullptr) : ScrollView(parent) {}
};

}  // namespace glowsnap
