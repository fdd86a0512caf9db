#include "platform/qt/WebView.h"

#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <optional>
#include <set>

#ifdef GLOWSNAP_HAVE_WEBENGINE
#include <QCoreApplication>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#endif

namespace glowsnap {

namespace {

Error webViewError(const char* domain, int code, std::string description) {
  Error e;
  e.domain = domain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

}  // namespace

#ifdef GLOWSNAP_HAVE_WEBENGINE
namespace {

// Sub-resources never reach a scheme the pages use only to signal (an
// image or a fetch of "minglekit:..." is dropped, not attempted).
class SignalSchemeBlocker : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QString scheme = info.requestUrl().scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
        scheme != QLatin1String("data") && scheme != QLatin1String("blob") &&
        scheme != QLatin1String("file") && scheme != QLatin1String("qrc") &&
        scheme != QLatin1String("about"))
      info.block(true);
  }
};

// Loads of a signalling scheme end here, refused, should one get past the
// navigation decision.
class RefusingSchemeHandler : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
  void requestStarted(QWebEngineUrlRequestJob* job) override {
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
  }
};

QStringList& signalSchemes() {
  static QStringList schemes;
  return schemes;
}

// The process's one browser profile: in memory only, with the cookies of
// every page the web views showed.
struct BrowserEngine {
  QWebEngineProfile* profile = nullptr;
  SignalSchemeBlocker* blocker = nullptr;
  QList<QNetworkCookie> cookies;
  // Cookies set and not yet confirmed by the store; loads wait for them.
  int pendingCookies = 0;
  std::set<WebView*> waiting;
  // After releaseEngine no web view starts the engine again.
  bool released = false;
};

BrowserEngine& engineState() {
  static BrowserEngine e;
  return e;
}

bool sameCookie(const QNetworkCookie& a, const QNetworkCookie& b) {
  return a.name() == b.name() && a.domain() == b.domain() && a.path() == b.path();
}

QWebEngineProfile* sharedProfile() {
  BrowserEngine& e = engineState();
  if (e.profile) return e.profile;
  e.profile = new QWebEngineProfile(QCoreApplication::instance());
  e.profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  e.profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  e.blocker = new SignalSchemeBlocker(e.profile);
  e.profile->setUrlRequestInterceptor(e.blocker);
  for (const QString& scheme : signalSchemes())
    e.profile->installUrlSchemeHandler(scheme.toUtf8(), new RefusingSchemeHandler(e.profile));
  QWebEngineCookieStore* store = e.profile->cookieStore();
  QObject::connect(
      store, &QWebEngineCookieStore::cookieAdded, e.profile, [](const QNetworkCookie& cookie) {
        BrowserEngine& st = engineState();
        st.cookies.erase(
            std::remove_if(st.cookies.begin(), st.cookies.end(),
                           [&](const QNetworkCookie& c) { return sameCookie(c, cookie); }),
            st.cookies.end());
        st.cookies.push_back(cookie);
      });
  QObject::connect(
      store, &QWebEngineCookieStore::cookieRemoved, e.profile, [](const QNetworkCookie& cookie) {
        BrowserEngine& st = engineState();
        st.cookies.erase(
            std::remove_if(st.cookies.begin(), st.cookies.end(),
                           [&](const QNetworkCookie& c) { return sameCookie(c, cookie); }),
            st.cookies.end());
      });
  store->loadAllCookies();
  return e.profile;
}

WebViewDelegate::NavigationType navigationType(QWebEnginePage::NavigationType type) {
  switch (type) {
    case QWebEnginePage::NavigationTypeLinkClicked:
      return WebViewDelegate::LinkClicked;
    case QWebEnginePage::NavigationTypeFormSubmitted:
      return WebViewDelegate::FormSubmitted;
    case QWebEnginePage::NavigationTypeBackForward:
      return WebViewDelegate::BackForward;
    case QWebEnginePage::NavigationTypeReload:
      return WebViewDelegate::Reload;
    case QWebEnginePage::NavigationTypeRedirect:
      return WebViewDelegate::Redirect;
    default:
      return WebViewDelegate::Other;
  }
}

const char* errorDomain(QWebEngineLoadingInfo::ErrorDomain domain) {
  switch (domain) {
    case QWebEngineLoadingInfo::ConnectionErrorDomain:
    case QWebEngineLoadingInfo::DnsErrorDomain:
      return kWebViewConnectionErrorDomain;
    case QWebEngineLoadingInfo::CertificateErrorDomain:
      return kWebViewCertificateErrorDomain;
    case QWebEngineLoadingInfo::HttpErrorDomain:
    case QWebEngineLoadingInfo::HttpStatusCodeDomain:
      return kWebViewHTTPErrorDomain;
    default:
      return kWebViewInternalErrorDomain;
  }
}

}  // namespace

// Hands every navigation of the main frame to the view.
class PolicyPage : public QWebEnginePage {
 public:
  PolicyPage(QWebEngineProfile* profile, QObject* parent,
             std::function<bool(const QUrl&, NavigationType)> ask)
      : QWebEnginePage(profile, parent), ask_(std::move(ask)) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    if (!isMainFrame)
      return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https") ||
             url.scheme() == QLatin1String("about") || url.scheme() == QLatin1String("data");
    return ask_(url, type);
  }

 private:
  std::function<bool(const QUrl&, NavigationType)> ask_;
};
#endif

struct WebView::Impl {
  QTextBrowser* browser = nullptr;
#ifdef GLOWSNAP_HAVE_WEBENGINE
  QWebEngineView* engine = nullptr;
  PolicyPage* page = nullptr;
  // Main-frame loads the delegate refused, until the engine reports them.
  QList<QUrl> refused;
  // A load waiting for cookies to reach the store.
  std::unique_ptr<WebRequest> deferred;
  QTimer* cookieWait = nullptr;
#endif
};

namespace {
std::set<WebView*>& browserViews() {
  static std::set<WebView*> views;
  return views;
}
}  // namespace

WebView::WebView(QWidget* parent) : WebView(Engine::Text, parent) {}

WebView::WebView(Engine engine, QWidget* parent) : QWidget(parent), engine_(engine), d_(new Impl) {
  build();
}

void WebView::build() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  if (engine_ == Engine::Text) {
    d_->browser = new QTextBrowser(this);
    d_->browser->setOpenLinks(false);
    d_->browser->setOpenExternalLinks(false);
    d_->browser->setFrameShape(QFrame::NoFrame);
    layout->addWidget(d_->browser);
    connect(d_->browser, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { clickLink(url); });
    return;
  }
  browserViews().insert(this);
}

// The browser engine starts with the first page a web view loads, so that a
// dialog made and never shown costs nothing.
void WebView::ensureEngine() {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (d_->page || engine_ != Engine::Browser || engineState().released) return;
  d_->engine = new QWebEngineView(this);
  d_->page = new PolicyPage(sharedProfile(), d_->engine,
                            [this](const QUrl& url, QWebEnginePage::NavigationType type) {
                              return askDelegate(url, navigationType(type));
                            });
  d_->page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  d_->page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  d_->engine->setPage(d_->page);
  layout()->addWidget(d_->engine);
  if (background_.isValid()) d_->page->setBackgroundColor(background_);
  d_->engine->show();
  connect(
      d_->page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        switch (info.status()) {
          case QWebEngineLoadingInfo::LoadStartedStatus:
            loading_ = true;
            if (delegate_) delegate_->webViewDidStartLoad(this);
            break;
          case QWebEngineLoadingInfo::LoadSucceededStatus:
            loading_ = false;
            d_->refused.removeAll(info.url());
            if (delegate_) delegate_->webViewDidFinishLoad(this);
            break;
          case QWebEngineLoadingInfo::LoadStoppedStatus:
          case QWebEngineLoadingInfo::LoadFailedStatus: {
            loading_ = false;
            const bool wasRefused = d_->refused.removeAll(info.url()) > 0 ||
                                    (info.status() == QWebEngineLoadingInfo::LoadStoppedStatus &&
                                     !d_->refused.isEmpty());
            if (wasRefused) {
              d_->refused.clear();
              if (delegate_)
                delegate_->didFailLoadWithError(
                    this, webViewError(kWebViewErrorDomain, kWebViewFrameLoadInterrupted,
                                       info.url().toString().toStdString() +
                                           ": the load was stopped by the page's policy"));
            } else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
              std::string what = info.errorString().toStdString();
              if (what.empty()) what = "the page could not be loaded";
              if (delegate_)
                delegate_->didFailLoadWithError(
                    this, webViewError(errorDomain(info.errorDomain()), info.errorCode(),
                                       info.url().toString().toStdString() + ": " + what));
            }
            break;
          }
        }
      });
#endif
}

WebView::~WebView() {
  browserViews().erase(this);
#ifdef GLOWSNAP_HAVE_WEBENGINE
  engineState().waiting.erase(this);
  // The page goes before the view that shows it.
  delete d_->page;
  delete d_->engine;
#endif
  delete d_;
}

void WebView::registerSignalScheme(const QString& scheme) {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (signalSchemes().contains(scheme)) return;
  signalSchemes().append(scheme);
  QWebEngineUrlScheme s(scheme.toUtf8());
  s.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  s.setFlags({});
  QWebEngineUrlScheme::registerScheme(s);
#else
  (void)scheme;
#endif
}

bool WebView::usesWebEngine() {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  return true;
#else
  return false;
#endif
}

bool WebView::askDelegate(const QUrl& url, WebViewDelegate::NavigationType type) {
  const bool allowed = !delegate_ || delegate_->shouldStartLoadWithRequest(this, url, type);
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (!allowed && d_->page) d_->refused.push_back(url);
#endif
  if (allowed) current_ = url;
  return allowed;
}

QWidget* WebView::contentWidget() const {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (d_->engine) return d_->engine->focusProxy() ? d_->engine->focusProxy() : d_->engine;
#endif
  return d_->browser;
}

QString WebView::title() const {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (d_->page) return d_->page->title();
#endif
  return d_->browser ? d_->browser->documentTitle() : QString();
}

void WebView::setBackgroundColor(const QColor& color) {
  // Links keep a colour that reads on the page's background.
  QPalette pal = palette();
  const bool dark = color.lightness() < 128;
  pal.setColor(QPalette::Link, dark ? QColor(0x8f, 0xb8, 0xff) : QColor(0x1a, 0x4f, 0xc4));
  pal.setColor(QPalette::LinkVisited, dark ? QColor(0xc0, 0xa8, 0xff) : QColor(0x6a, 0x3a, 0xb0));
  setPalette(pal);
  background_ = color;
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (d_->page) d_->page->setBackgroundColor(color);
#endif
  if (!d_->browser) return;
  d_->browser->setPalette(pal);
  setStyleSheet(QStringLiteral("QTextBrowser { background: %1; border: none; }"
                               " QScrollBar:vertical { background: %1; width: 8px; margin: 0; }"
                               " QScrollBar::handle:vertical { background: rgba(160,160,160,150);"
                               " border-radius: 4px; min-height: 24px; }"
                               " QScrollBar::add-line, QScrollBar::sub-line { height: 0; }")
                    .arg(color.name()));
}

void WebView::loadHTMLString(const QString& html, const QUrl& baseUrl) {
  html_ = html;
  if (d_->browser) {
    current_ = baseUrl;
    if (delegate_ && !delegate_->shouldStartLoadWithRequest(this, baseUrl, WebViewDelegate::Other))
      return;
    d_->browser->document()->setBaseUrl(baseUrl);
    if (baseUrl.isLocalFile()) d_->browser->setSearchPaths({baseUrl.toLocalFile()});
    d_->browser->setHtml(html);
    return;
  }
#ifdef GLOWSNAP_HAVE_WEBENGINE
  current_ = baseUrl;
  ensureEngine();
  if (d_->page) d_->page->setHtml(html, baseUrl);
#endif
}

void WebView::loadRequest(const WebRequest& request) {
  if (d_->browser) {
    current_ = request.url;
    if (!delegate_ ||
        delegate_->shouldStartLoadWithRequest(this, request.url, WebViewDelegate::Other)) {
      if (request.url.isLocalFile()) clickLink(request.url);
    }
    return;
  }
#ifdef GLOWSNAP_HAVE_WEBENGINE
  ensureEngine();
  BrowserEngine& e = engineState();
  if (e.pendingCookies > 0) {
    // The cookies set just now reach the store first.
    d_->deferred = std::make_unique<WebRequest>(request);
    e.waiting.insert(this);
    if (!d_->cookieWait) {
      d_->cookieWait = new QTimer(this);
      d_->cookieWait->setSingleShot(true);
      connect(d_->cookieWait, &QTimer::timeout, this, [this] {
        engineState().pendingCookies = 0;
        auto waiting = engineState().waiting;
        for (WebView* view : waiting) {
          engineState().waiting.erase(view);
          if (view->d_->deferred) {
            auto r = std::move(view->d_->deferred);
            view->loadRequest(*r);
          }
        }
      });
    }
    d_->cookieWait->start(2000);
    return;
  }
  if (!d_->page) return;
  QWebEngineHttpRequest r(request.url);
  r.setMethod(request.method.toUpper() == "POST" ? QWebEngineHttpRequest::Post
                                                 : QWebEngineHttpRequest::Get);
  for (const auto& [name, value] : request.headers) r.setHeader(name, value);
  if (!request.body.isEmpty()) r.setPostData(request.body);
  d_->page->load(r);
#else
  QPointer<WebView> self(this);
  const QUrl url = request.url;
  QTimer::singleShot(0, this, [self, url] {
    if (self && self->delegate_)
      self->delegate_->didFailLoadWithError(
          self, webViewError(kWebViewErrorDomain, kWebViewNoEngine,
                             url.toString().toStdString() +
                                 ": this build has no web engine (Qt WebEngine was not found)"));
  });
#endif
}

void WebView::stopLoading() {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  d_->deferred.reset();
  if (d_->page) d_->page->triggerAction(QWebEnginePage::Stop);
#endif
}

void WebView::evaluateJavaScript(const QString& script, std::function<void(const QString&)> done) {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (d_->page) {
    QPointer<WebView> self(this);
    d_->page->runJavaScript(script, [self, done = std::move(done)](const QVariant& v) {
      if (self && done) done(v.isValid() ? v.toString() : QString());
    });
    return;
  }
#endif
  (void)script;
  if (done) QTimer::singleShot(0, this, [done] { done(QString()); });
}

QString WebView::stringByEvaluatingJavaScriptFromString(const QString& script, int timeoutMs) {
  auto answer = std::make_shared<std::optional<QString>>();
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  QPointer<QEventLoop> loopRef(&loop);
  evaluateJavaScript(script, [answer, loopRef](const QString& v) {
    *answer = v;
    if (loopRef) loopRef->quit();
  });
  if (!answer->has_value()) {
    deadline.start(timeoutMs);
    loop.exec();
  }
  return answer->value_or(QString());
}

void WebView::setCookie(const QString& name, const QString& value, const QString& domain,
                        const QString& path) {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  QNetworkCookie cookie(name.toUtf8(), value.toUtf8());
  cookie.setDomain(domain);
  cookie.setPath(path);
  QWebEngineCookieStore* store = sharedProfile()->cookieStore();
  BrowserEngine& e = engineState();
  ++e.pendingCookies;
  // The store confirms each cookie it takes; loads waiting for it go on.
  auto* once = new QObject(e.profile);
  QObject::connect(store, &QWebEngineCookieStore::cookieAdded, once,
                   [once, name, domain](const QNetworkCookie& added) {
                     auto bare = [](QString d) { return d.startsWith('.') ? d.mid(1) : d; };
                     if (added.name() != name.toUtf8() ||
                         bare(added.domain()).compare(bare(domain), Qt::CaseInsensitive) != 0)
                       return;
                     once->deleteLater();
                     BrowserEngine& st = engineState();
                     if (st.pendingCookies > 0 && --st.pendingCookies > 0) return;
                     auto waiting = st.waiting;
                     st.waiting.clear();
                     for (WebView* view : waiting) {
                       if (view->d_->cookieWait) view->d_->cookieWait->stop();
                       if (view->d_->deferred) {
                         auto r = std::move(view->d_->deferred);
                         view->loadRequest(*r);
                       }
                     }
                   });
  // A host name is the origin the cookie belongs to.
  QString host = domain.startsWith('.') ? domain.mid(1) : domain;
  QUrl origin;
  origin.setScheme(QStringLiteral("http"));
  origin.setHost(host);
  store->setCookie(cookie, origin);
#else
  (void)name;
  (void)value;
  (void)domain;
  (void)path;
#endif
}

void WebView::deleteCookiesForHost(const QString& host) {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  if (!engineState().profile) return;
  QWebEngineCookieStore* store = engineState().profile->cookieStore();
  const QList<QNetworkCookie> all = engineState().cookies;
  for (const QNetworkCookie& c : all) {
    QString d = c.domain();
    const bool dotted = d.startsWith('.');
    if (dotted) d = d.mid(1);
    const bool matches = d.compare(host, Qt::CaseInsensitive) == 0 ||
                         (dotted && host.endsWith('.' + d, Qt::CaseInsensitive));
    if (matches) store->deleteCookie(c);
  }
#else
  (void)host;
#endif
}

void WebView::releaseEngine() {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  for (WebView* view : browserViews()) {
    delete view->d_->page;
    view->d_->page = nullptr;
  }
  BrowserEngine& e = engineState();
  e.released = true;
  delete e.profile;
  e.profile = nullptr;
  e.blocker = nullptr;
  e.cookies.clear();
  e.pendingCookies = 0;
  e.waiting.clear();
#endif
}

bool WebView::clickLink(const QUrl& link) {
  const QUrl url = current_.resolved(link);
  if (delegate_ &&
      !delegate_->shouldStartLoadWithRequest(this, url, WebViewDelegate::LinkClicked)) {
    return false;
  }
#ifdef GLOWSNAP_HAVE_WEBENGINE
  ensureEngine();
  if (d_->page) {
    d_->page->load(url);
    return true;
  }
#endif
  if (url.isLocalFile()) {
    QFile f(url.toLocalFile());
    if (f.open(QIODevice::ReadOnly)) {
      html_ = QString::fromUtf8(f.readAll());
      current_ = url;
      d_->browser->document()->setBaseUrl(url);
      d_->browser->setHtml(html_);
    }
  } else if (url.hasFragment() &&
             url.adjusted(QUrl::RemoveFragment) == current_.adjusted(QUrl::RemoveFragment)) {
    d_->browser->scrollToAnchor(url.fragment());
  }
  return true;
}

}  // namespace glowsnap
