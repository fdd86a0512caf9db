#include "mingle/ui/MGLoginButton.h"

#include <QPainter>

#include "mingle/ui/MGLoginDialog.h"
#include "platform/foundation/Paths.h"

namespace glowsnap {

MGLoginButton::MGLoginButton(QWidget* parent) : QAbstractButton(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &QAbstractButton::pressed, this, [this] { updateImage(); });
  connect(this, &QAbstractButton::released, this, [this] { updateImage(); });
  connect(this, &QAbstractButton::clicked, this, [this] { touchUpInside(); });
  setSession(MGSession::session());
  resize(sizeThatFits());
}

MGLoginButton::~MGLoginButton() {
  if (_session) _session->removeDelegate(this);
}

void MGLoginButton::setStyle(int style) {
  _style = style;
  updateImage();
}

void MGLoginButton::setSession(std::shared_ptr<MGSession> session) {
  if (session == _session) {
    updateImage();
    return;
  }
  if (_session) _session->removeDelegate(this);
  _session = std::move(session);
  if (_session) _session->addDelegate(this);
  updateImage();
}

QString MGLoginButton::buttonImage() const {
  if (_session && _session->isConnected()) return "MingleKit.bundle/images/logout.png";
  if (_style == Normal) return "MingleKit.bundle/images/login.png";
  if (_style == Wide) return "MingleKit.bundle/images/login2.png";
  return {};
}

QString MGLoginButton::buttonHighlightedImage() const {
  if (_session && _session->isConnected()) return "MingleKit.bundle/images/logout_down.png";
  if (_style == Normal) return "MingleKit.bundle/images/login_down.png";
  if (_style == Wide) return "MingleKit.bundle/images/login2_down.png";
  return {};
}

void MGLoginButton::updateImage() {
  const QString name = isDown() ? buttonHighlightedImage() : buttonImage();
  if (name != _imageName) {
    _imageName = name;
    _image =
        name.isEmpty()
            ? QPixmap()
            : QPixmap(QString::fromStdString(paths::resourcePath(name.toStdString()).string()));
    setAccessibleName(_session && _session->isConnected() ? tr("Log out of Mingle")
                                                          : tr("Log in to Mingle"));
    updateGeometry();
  }
  update();
}

void MGLoginButton::touchUpInside() {
  if (!_session) return;
  if (_session->isConnected()) {
    _session->logout();
  } else {
    auto* dialog = new MGLoginDialog(_session);
    dialog->show();
  }
}

QSize MGLoginButton::sizeThatFits() const {
  return _image.isNull() ? QSize(0, 0) : _image.deviceIndependentSize().toSize();
}

QSize MGLoginButton::sizeHint() const { return sizeThatFits(); }

void MGLoginButton::paintEvent(QPaintEvent*) {
  if (_image.isNull()) return;
  QPainter p(this);
  const QSize size = sizeThatFits();
  const QPoint at((width() - size.width()) / 2, (height() - size.height()) / 2);
  p.drawPixmap(QRect(at, size), _image);
}

void MGLoginButton::didLogin(MGSession&, std::uint64_t) { updateImage(); }

void MGLoginButton::sessionDidLogout(MGSession&) { updateImage(); }

}  // namespace glowsnap
