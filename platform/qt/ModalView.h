// ModalView: a screen laid over another one, as the sharing screen lies
// over the main screen and the mail composer over the sharing screen. The
// view covers its host completely, slides up from the bottom when presented
// with animation and back down when dismissed, takes the keyboard while it
// is up, and keeps every key it does not use from the screen below.
#pragma once

#include <QWidget>
#include <functional>

namespace glowsnap {

class ModalView {
 public:
  // Puts view over host at host's whole size (it follows host's size);
  // didStop runs once it is in place (at once without animation). The
  // caller keeps owning view.
  static void present(QWidget* host, QWidget* view, bool animated,
                      std::function<void()> didStop = {});
  // Slides view out of its host and takes it out (the caller still owns
  // it); didStop runs once it is gone. Nothing happens for a view that is
  // not presented, except didStop.
  static void dismiss(QWidget* view, bool animated, std::function<void()> didStop = {});
  static bool isPresented(const QWidget* view);
  // The view presented over host last and still up, or nullptr.
  static QWidget* presentedOver(const QWidget* host);
};

}  // namespace glowsnap
