#include "mingle/ui/MGDialog.h"

#include <arpa/inet.h>

#include <QApplication>
#include <QFont>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSequentialAnimationGroup>
#include <QTimer>
#include <cmath>

#include "mingle/MGGlobal.h"
#include "mingle/MGRequest.h"
#include "platform/foundation/Paths.h"
#include "platform/qt/ActivityIndicator.h"
#include "platform/qt/Animation.h"
#include "platform/qt/Application.h"
#include "platform/qt/Panel.h"
#include "platform/qt/ScreenView.h"
#include "platform/qt/View.h"

namespace glowsnap {

namespace {

const QColor kBorderGray = QColor::fromRgbF(0.3f, 0.3f, 0.3f, 0.8f);
const QColor kMingleBlue = QColor::fromRgbF(0.42578125f, 0.515625f, 0.703125f, 1.0f);
const QColor kBorderBlue = QColor::fromRgbF(0.23f, 0.35f, 0.6f, 1.0f);
const QColor kBorderBlack = QColor::fromRgbF(0.3f, 0.3f, 0.3f, 1.0f);

int& orientationSetting() {
  static int orientation = 1;
  return orientation;
}

QPointer<QWidget>& defaultHostSetting() {
  static QPointer<QWidget> host;
  return host;
}

bool isLandscape(int orientation) { return orientation == 3 || orientation == 4; }

Error dialogError(int code, std::string description) {
  Error e;
  e.domain = kMGErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

// Where the site's cookies go: the site's domain with a leading dot, or the
// host itself for an address or a single-label name (which cannot carry a
// domain cookie).
QString cookieDomainFor(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  const bool address =
      ::inet_pton(AF_INET, host.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
  if (address || host.find('.') == std::string::npos) return QString::fromStdString(host);
  return QStringLiteral(".") + QString::fromStdString(host);
}

// The site keeps its login in the web engine's own cookie store, which the
// session's logout (plain C++) cannot reach: this delegate of every session
// a dialog was made on deletes them there when the session logs out.
class SiteCookieKeeper : public MGSessionDelegate {
 public:
  void didLogin(MGSession&, std::uint64_t) override {}
  void sessionDidLogout(MGSession& session) override {
    const std::string& host = session.serverConfiguration().loginHost;
    if (!host.empty()) WebView::deleteCookiesForHost(QString::fromStdString(host));
  }
};

SiteCookieKeeper& siteCookieKeeper() {
  static SiteCookieKeeper keeper;
  return keeper;
}

QPixmap loadResourcePixmap(const char* name) {
  QPixmap pixmap(QString::fromStdString(paths::resourcePath(name).string()));
  return pixmap;
}

}  // namespace

int MGDialog::statusBarOrientation() { return orientationSetting(); }
void MGDialog::setStatusBarOrientation(int orientation) { orientationSetting() = orientation; }
void MGDialog::setDefaultHost(QWidget* host) { defaultHostSetting() = host; }

MGDialog::MGDialog() : MGDialog(MGSession::session()) {}

MGDialog::MGDialog(std::shared_ptr<MGSession> session) : _session(std::move(session)) {
  if (_session) _session->addDelegate(&siteCookieKeeper());
  build();
}

MGDialog::~MGDialog() {
  removeObservers();
  if (_webView) _webView->setDelegate(nullptr);
}

void MGDialog::build() {
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
  setFocusPolicy(Qt::StrongFocus);

  _iconView = new QLabel(this);
  _iconView->setObjectName("_iconView");
  _iconView->setPixmap(loadResourcePixmap(kIconImage));
  _iconView->setAttribute(Qt::WA_TransparentForMouseEvents);

  _closeButton = new QPushButton(this);
  _closeButton->setObjectName("_closeButton");
  _closeButton->setFlat(true);
  _closeButton->setCursor(Qt::PointingHandCursor);
  _closeButton->setToolTip(tr("Close"));
  _closeButton->setAccessibleName(tr("Close"));
  QPixmap close = loadResourcePixmap(kCloseImage);
  if (!close.isNull()) {
    _closeButton->setIcon(QIcon(close));
    _closeButton->setIconSize(close.size());
  }
  QFont buttonFont = _closeButton->font();
  buttonFont.setBold(true);
  buttonFont.setPointSizeF(12);
  _closeButton->setFont(buttonFont);
  _closeButton->setStyleSheet(
      "QPushButton { border: none; background: transparent; color: rgb(167, 184, 216); }"
      " QPushButton:pressed { color: white; }");
  connect(_closeButton, &QPushButton::clicked, this, [this] { cancel(); });

  _titleLabel = new QLabel(QString::fromUtf8(kDefaultTitle), this);
  _titleLabel->setObjectName("_titleLabel");
  QFont titleFont = _titleLabel->font();
  titleFont.setBold(true);
  titleFont.setPixelSize(14);
  _titleLabel->setFont(titleFont);
  _titleLabel->setStyleSheet("color: white; background: transparent;");
  _titleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

  _webView = new WebView(WebView::Engine::Browser, this);
  _webView->setObjectName("_webView");
  _webView->setDelegate(this);

  _spinner = new ActivityIndicator(this);
  _spinner->setObjectName("_spinner");
  _spinner->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString MGDialog::title() const { return _titleLabel->text(); }

void MGDialog::setTitle(const QString& title) { _titleLabel->setText(title); }

std::string MGDialog::siteURL() const {
  return _session ? _session->serverConfiguration().siteURL
                  : MGServerConfiguration::standard().siteURL;
}

QWidget* MGDialog::hostWindow() const {
  if (defaultHostSetting()) return defaultHostSetting();
  if (QWidget* host = Panel::defaultHost()) return host;
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w != this) return w;
  return nullptr;
}

// The screen view that shows widget scaled inside a graphics proxy, if any.
ScreenView* scaledScreenOf(QWidget* widget) {
  for (QWidget* w = widget; w; w = w->parentWidget()) {
    if (QGraphicsProxyWidget* proxy = w->graphicsProxyWidget()) {
      if (!proxy->scene()) return nullptr;
      for (QGraphicsView* view : proxy->scene()->views())
        if (auto* screen = qobject_cast<ScreenView*>(view)) return screen;
      return nullptr;
    }
  }
  return nullptr;
}

void MGDialog::show() {
  if (_shown) return;
  _shown = true;
  QWidget* host = hostWindow();
  _appFrame = QRect();
  if (ScreenView* screen = host ? scaledScreenOf(host) : nullptr) {
    // A browser engine cannot draw inside a scaled graphics scene: the
    // dialog lies over the desktop window, on the screen's rectangle.
    QWidget* desktop = screen->window();
    _appFrame =
        QRect(screen->mapTo(desktop, screen->screenRect().topLeft()), screen->screenRect().size());
    host = desktop;
  }
  if (host) {
    setParent(host);
  } else {
    // No window to lie over: the dialog is a window of its own, of the
    // portrait screen's size.
    _ownWindow = true;
    setParent(nullptr);
    setWindowTitle(title());
  }
  load();
  sizeToFitOrientation(false);
  layoutContents();
  _spinner->startAnimating();
  _spinner->show();
  QWidget::show();
  raise();
  setFocus();
  dialogWillAppear();

  // Pop in: grow past the full size and settle (a widget cannot take the
  // scale transform; its frame shows the same bounce).
  const QRect full = geometry();
  if (Animation::enabled() && !_ownWindow) {
    auto scaled = [full](double s) {
      const QSizeF size(full.width() * s, full.height() * s);
      return QRect(QPoint(qRound(full.center().x() - size.width() / 2.0),
                          qRound(full.center().y() - size.height() / 2.0)),
                   size.toSize());
    };
    auto* group = new QSequentialAnimationGroup(this);
    auto step = [&](double from, double to, int ms) {
      auto* a = new QPropertyAnimation(this, "geometry", group);
      a->setStartValue(scaled(from));
      a->setEndValue(scaled(to));
      a->setDuration(ms);
      group->addAnimation(a);
    };
    step(0.001, 1.1, static_cast<int>(kTransitionDuration / 1.5 * 1000));
    step(1.1, 0.9, static_cast<int>(kTransitionDuration / 2 * 1000));
    step(0.9, 1.0, static_cast<int>(kTransitionDuration / 2 * 1000));
    group->start(QAbstractAnimation::DeleteWhenStopped);
  }
  addObservers();
}

void MGDialog::load() {}
void MGDialog::dialogWillAppear() {}
void MGDialog::dialogWillDisappear() {}

void MGDialog::sizeToFitOrientation(bool transform) {
  (void)transform;
  QWidget* host = parentWidget();
  const QRect app = !_appFrame.isEmpty() ? _appFrame
                    : host               ? QRect(QPoint(0, 0), host->size())
                                         : QRect(0, 0, 320, 480);
  _orientation = statusBarOrientation();
  const int w = app.width();
  const int h = app.height();
  QRect frame = isLandscape(_orientation) && host == nullptr ? QRect(10, 10, h - 20, w - 20)
                                                             : QRect(10, 10, w - 20, h - 20);
  // Centred on the window.
  const int cx = app.x() + static_cast<int>(std::ceil(w * 0.5));
  const int cy = app.y() + static_cast<int>(std::ceil(h * 0.5));
  frame.moveTopLeft(QPoint(cx - frame.width() / 2, cy - frame.height() / 2));
  if (_ownWindow) frame.moveTopLeft(QPoint(0, 0));
  setGeometry(frame);
}

void MGDialog::layoutContents() {
  const int W = width();
  const int H = height();
  const int I = W - 22;
  const QSize iconSize = _iconView->pixmap().isNull()
                             ? QSize(16, 16)
                             : _iconView->pixmap().deviceIndependentSize().toSize();
  int t = _titleLabel->sizeHint().height();
  const int iw = iconSize.width();
  const int ih = iconSize.height();
  _titleLabel->setGeometry(18 + iw + 8, 10, I - (t + iw + 16), t + 8);
  t = t + 8;
  _iconView->setGeometry(18, static_cast<int>(std::floor(t * 0.5 - ih * 0.5) + 10), iw, ih);
  _closeButton->setGeometry(W - (t + 10), 10, t, t);
  QRect web(11, 10 + t, I, H - (t + 1 + 20));
  if (_showingKeyboard && isLandscape(_orientation)) web.adjust(-20, -(t + 20), 20, t + 20);
  _webView->setGeometry(web);
  const QSize spin(37, 37);
  _spinner->setGeometry(QRect(
      QPoint(web.center().x() - spin.width() / 2, web.center().y() - spin.height() / 2), spin));
  update();
}

void MGDialog::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutContents();
}

void MGDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect());
  // The grey border, rounded.
  QPainterPath border;
  border.addRoundedRect(r.translated(-0.5, -0.5).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
  p.fillPath(border, kBorderGray);
  // The title bar.
  const double t = _titleLabel->geometry().height();
  const QRectF bar(std::ceil(r.x() + 10), std::ceil(r.y() + 10), r.width() - 20, t);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(bar, kMingleBlue);
  p.setPen(QPen(kBorderBlue, 1));
  p.drawRect(bar.adjusted(0.5, -0.5, -0.5, -0.5));
  // The page's outline.
  const QRectF page(bar.x(), bar.y() + t, bar.width(), _webView->height() + 1);
  p.fillRect(page.adjusted(1, 0, -1, -1), Qt::white);
  p.setPen(QPen(kBorderBlack, 1));
  p.drawRect(page.adjusted(0.5, -0.5, -0.5, -0.5));
}

void MGDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    cancel();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool MGDialog::shouldRotateToOrientation(int orientation) const {
  if (orientation == _orientation) return false;
  return orientation >= 1 && orientation <= 4;
}

void MGDialog::deviceOrientationDidChange(int orientation) {
  setStatusBarOrientation(orientation);
  if (!_showingKeyboard && shouldRotateToOrientation(orientation)) {
    updateWebOrientation();
    sizeToFitOrientation(true);
    layoutContents();
  }
}

void MGDialog::updateWebOrientation() {
  if (isLandscape(_orientation))
    _webView->evaluateJavaScript("document.body.setAttribute('orientation', 90);");
  else
    _webView->evaluateJavaScript("document.body.removeAttribute('orientation');");
}

void MGDialog::keyboardWillShow() {
  _showingKeyboard = true;
  if (isLandscape(_orientation)) layoutContents();
}

void MGDialog::keyboardWillHide() {
  _showingKeyboard = false;
  if (isLandscape(_orientation)) layoutContents();
}

void MGDialog::addObservers() {
  NotificationCenter& center = NotificationCenter::defaultCenter();
  QPointer<MGDialog> self(this);
  _observers.push_back(
      center.addObserver(kOrientationDidChangeNotification, nullptr, [self](const Notification& n) {
        if (!self) return;
        int orientation = statusBarOrientation();
        if (const int* o = std::any_cast<int>(&n.object)) orientation = *o;
        self->deviceOrientationDidChange(orientation);
      }));
  _observers.push_back(
      center.addObserver(kKeyboardWillShowNotification, nullptr, [self](const Notification&) {
        if (self) self->keyboardWillShow();
      }));
  _observers.push_back(
      center.addObserver(kKeyboardWillHideNotification, nullptr, [self](const Notification&) {
        if (self) self->keyboardWillHide();
      }));
}

void MGDialog::removeObservers() {
  for (auto token : _observers) NotificationCenter::defaultCenter().removeObserver(token);
  _observers.clear();
}

std::string MGDialog::generateURL(const std::string& baseURL, const Params& params) {
  if (params.empty()) return baseURL;
  std::string query;
  for (const auto& [name, value] : params) {
    if (!query.empty()) query += '&';
    query += name + "=" + MGEscapeQueryComponent(value);
  }
  return baseURL + "?" + query;
}

Result<Bytes> MGDialog::generatePostBody(const Params& params) {
  if (params.empty()) return Bytes();
  MGParams form;
  for (const auto& [name, value] : params) form[name] = value;
  return MGRequest::postBody(form, "MGDialog");
}

bool MGDialog::isSiteURL(const QUrl& url, const std::string& siteURL) {
  const QUrl site(QString::fromStdString(siteURL));
  if (!url.isValid() || !site.isValid() || url.host().isEmpty()) return false;
  const int defaultPort = site.scheme() == QLatin1String("https") ? 443 : 80;
  return url.scheme() == site.scheme() &&
         url.host().compare(site.host(), Qt::CaseInsensitive) == 0 &&
         url.port(defaultPort) == site.port(defaultPort);
}

void MGDialog::loadURL(const std::string& url, const std::optional<std::string>& method,
                       const Params& get, const Params& post) {
  const QUrl target(QString::fromStdString(generateURL(url, get)));
  const std::string scheme = target.scheme().toStdString();
  const std::string host = target.host().toStdString();
  if (!target.isValid() || (scheme != "http" && scheme != "https") || host.empty()) {
    failSoon(dialogError(kMGNoSessionError, url + ": not a web address the dialog can open"));
    return;
  }
  if (scheme == "http" && !MGIsLoopbackHost(host)) {
    failSoon(dialogError(kMGInsecureTransportError,
                         url + ": the Mingle pages are not opened over plain http to " + host +
                             " (they carry passwords and session keys); configure an https "
                             "address for the Mingle service"));
    return;
  }
  WebRequest request;
  request.url = target;
  if (method) request.method = QByteArray::fromStdString(*method);
  std::string upper = method.value_or("GET");
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "POST") {
    request.method = "POST";
    request.headers.append(
        {"Content-Type", QByteArray("multipart/form-data; boundary=") + kStringBoundary});
    auto body = generatePostBody(post);
    if (!body) {
      failSoon(body.error());
      return;
    }
    request.body = QByteArray(reinterpret_cast<const char*>(body->data()),
                              static_cast<qsizetype>(body->size()));
  }
  // The site's pages check that cookies work before they take a login.
  const QUrl site(QString::fromStdString(siteURL()));
  WebView::setCookie("test_cookie", "1",
                     cookieDomainFor(site.host().isEmpty() ? host : site.host().toStdString()));
  _loadingURL = target;
  _webView->loadRequest(request);
}

bool MGDialog::shouldStartLoadWithRequest(WebView* webView, const QUrl& url, NavigationType type) {
  if (url.scheme() == QLatin1String("minglekit")) {
    // Only the site's own pages tell the outcome; the page the navigation
    // comes from is the one the web view shows (or is redirecting).
    if (_closing || !isSiteURL(webView->url(), siteURL())) return false;
    QString rest = url.toString(QUrl::FullyEncoded).mid(int(sizeof("minglekit:") - 1));
    if (rest == QLatin1String("cancel"))
      dismissWithSuccess(false, true);
    else
      dialogDidSucceed(url);
    return false;
  }
  if (_closing) return false;
  if (url == _loadingURL || type != LinkClicked) return true;
  // A link the user clicked, to another page: never loaded here.
  if (!_delegate || _delegate->shouldOpenURLInExternalBrowser(*this, url))
    Application::openURL(url);
  return false;
}

void MGDialog::webViewDidFinishLoad(WebView* webView) {
  _spinner->stopAnimating();
  _spinner->hide();
  const QString pageTitle = webView->title();
  // A page without a title keeps the dialog's (the engine shows the
  // address instead).
  if (!pageTitle.isEmpty() && pageTitle != webView->url().toString() &&
      !webView->url().toString().endsWith(pageTitle))
    setTitle(pageTitle);
  updateWebOrientation();
}

void MGDialog::didFailLoadWithError(WebView*, const Error& error) {
  if (error.domain == kWebViewErrorDomain && error.code == kWebViewFrameLoadInterrupted) return;
  if (_closing) return;
  dismissWithError(error, true);
}

void MGDialog::dialogDidSucceed(const QUrl&) { dismissWithSuccess(true, true); }

void MGDialog::dismissWithSuccess(bool success, bool animated) {
  if (_closing) return;
  QPointer<MGDialog> self(this);
  _closing = true;
  if (_delegate) {
    if (success)
      _delegate->dialogDidSucceed(*this);
    else
      _delegate->dialogDidCancel(*this);
  }
  if (self) dismiss(animated);
}

void MGDialog::dismissWithError(const Error& error, bool animated) {
  if (_closing) return;
  QPointer<MGDialog> self(this);
  _closing = true;
  if (_delegate) _delegate->didFailWithError(*this, error);
  if (self) dismiss(animated);
}

void MGDialog::cancel() { dismissWithSuccess(false, true); }

void MGDialog::failSoon(const Error& error) {
  QPointer<MGDialog> self(this);
  QTimer::singleShot(0, this, [self, error] {
    if (self) self->dismissWithError(error, true);
  });
}

void MGDialog::dismiss(bool animated) {
  _closing = true;
  dialogWillDisappear();
  _loadingURL.clear();
  if (animated && Animation::enabled() && isVisible()) {
    QPointer<MGDialog> self(this);
    if (_ownWindow) {
      auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
      fade->setDuration(static_cast<int>(kTransitionDuration * 1000));
      fade->setStartValue(1.0);
      fade->setEndValue(0.0);
      connect(fade, &QPropertyAnimation::finished, this, [this] { postDismissCleanup(); });
      fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
      View::setAlpha(this, 1.0f);
      Animation::beginAnimations();
      Animation::setAnimationDuration(kTransitionDuration);
      Animation::setAnimationDidStop([self] {
        if (self) self->postDismissCleanup();
      });
      View::setAlpha(this, 0.0f);
      Animation::commitAnimations();
    }
  } else {
    postDismissCleanup();
  }
}

void MGDialog::postDismissCleanup() {
  removeObservers();
  _webView->stopLoading();
  hide();
  // The window held the dialog while it was shown; closed, it goes.
  if (_shown) deleteLater();
}

}  // namespace glowsnap
