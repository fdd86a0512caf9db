// MGLoginButton: a button whose picture says whether its session is
// connected: "log in" (two styles) or "log out", each with a pressed look.
// Clicking it logs out a connected session, or shows a login dialog on the
// button's session. It follows the session through the session's delegates.
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>
#include <memory>

#include "mingle/MGSession.h"

namespace glowsnap {

class MGLoginButton : public QAbstractButton, public MGSessionDelegate {
  Q_OBJECT

 public:
  enum Style { Normal = 0, Wide = 1 };

  // On the shared session, style Normal, sized to its picture.
  explicit MGLoginButton(QWidget* parent = nullptr);
  ~MGLoginButton() override;

  int style() const { return _style; }
  void setStyle(int style);
  const std::shared_ptr<MGSession>& session() const { return _session; }
  void setSession(std::shared_ptr<MGSession> session);

  // The resource names of the picture for the present state (empty for an
  // unknown style).
  QString buttonImage() const;
  QString buttonHighlightedImage() const;
  // The picture shown now.
  QString currentImageName() const { return _imageName; }

  void updateImage();
  void touchUpInside();
  QSize sizeHint() const override;
  QSize sizeThatFits() const;

  // The session's callbacks.
  void didLogin(MGSession& session, std::uint64_t uid) override;
  void sessionDidLogout(MGSession& session) override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int _style = Normal;
  std::shared_ptr<MGSession> _session;
  QString _imageName;
  QPixmap _image;
};

}  // namespace glowsnap
