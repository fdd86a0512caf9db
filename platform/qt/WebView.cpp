#include "platform/qt/WebView.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

#ifdef GLOWSNAP_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

namespace glowsnap {

#ifdef GLOWSNAP_HAVE_WEBENGINE
namespace {
// Hands every navigation of the page to the view's delegate.
class PolicyPage : public QWebEnginePage {
 public:
  PolicyPage(WebView* view, QObject* parent) : QWebEnginePage(parent), view_(view) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool) override {
    WebViewDelegate* d = view_->delegate();
    if (!d) return true;
    WebViewDelegate::NavigationType t = WebViewDelegate::Other;
    switch (type) {
      case QWebEnginePage::NavigationTypeLinkClicked:
        t = WebViewDelegate::LinkClicked;
        break;
      case QWebEnginePage::NavigationTypeFormSubmitted:
        t = WebViewDelegate::FormSubmitted;
        break;
      case QWebEnginePage::NavigationTypeBackForward:
        t = WebViewDelegate::BackForward;
        break;
      case QWebEnginePage::NavigationTypeReload:
        t = WebViewDelegate::Reload;
        break;
      default:
        break;
    }
    return d->shouldStartLoadWithRequest(view_, url, t);
  }

 private:
  WebView* view_;
};
}  // namespace
#endif

struct WebView::Impl {
  QTextBrowser* browser = nullptr;
#ifdef GLOWSNAP_HAVE_WEBENGINE
  QWebEngineView* engine = nullptr;
#endif
};

WebView::WebView(QWidget* parent) : QWidget(parent), d_(new Impl) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
#ifdef GLOWSNAP_HAVE_WEBENGINE
  d_->engine = new QWebEngineView(this);
  d_->engine->setPage(new PolicyPage(this, d_->engine));
  layout->addWidget(d_->engine);
#else
  d_->browser = new QTextBrowser(this);
  d_->browser->setOpenLinks(false);
  d_->browser->setOpenExternalLinks(false);
  d_->browser->setFrameShape(QFrame::NoFrame);
  layout->addWidget(d_->browser);
  connect(d_->browser, &QTextBrowser::anchorClicked, this,
          [this](const QUrl& url) { clickLink(url); });
#endif
}

WebView::~WebView() { delete d_; }

bool WebView::usesWebEngine() {
#ifdef GLOWSNAP_HAVE_WEBENGINE
  return true;
#else
  return false;
#endif
}

void WebView::setBackgroundColor(const QColor& color) {
  // Links keep a colour that reads on the page's background.
  QPalette pal = palette();
  const bool dark = color.lightness() < 128;
  pal.setColor(QPalette::Link, dark ? QColor(0x8f, 0xb8, 0xff) : QColor(0x1a, 0x4f, 0xc4));
  pal.setColor(QPalette::LinkVisited, dark ? QColor(0xc0, 0xa8, 0xff) : QColor(0x6a, 0x3a, 0xb0));
  setPalette(pal);
  if (d_->browser) d_->browser->setPalette(pal);
  setStyleSheet(QStringLiteral("QTextBrowser { background: %1; border: none; }"
                               " QScrollBar:vertical { background: %1; width: 8px; margin: 0; }"
                               " QScrollBar::handle:vertical { background: rgba(160,160,160,150);"
                               " border-radius: 4px; min-height: 24px; }"
                               " QScrollBar::add-line, QScrollBar::sub-line { height: 0; }")
                    .arg(color.name()));
}

void WebView::loadHTMLString(const QString& html, const QUrl& baseUrl) {
  html_ = html;
  current_ = baseUrl;
  if (delegate_ && !delegate_->shouldStartLoadWithRequest(this, baseUrl, WebViewDelegate::Other))
    return;
#ifdef GLOWSNAP_HAVE_WEBENGINE
  d_->engine->setHtml(html, baseUrl);
#else
  d_->browser->document()->setBaseUrl(baseUrl);
  if (baseUrl.isLocalFile()) d_->browser->setSearchPaths({baseUrl.toLocalFile()});
  d_->browser->setHtml(html);
#endif
}

bool WebView::clickLink(const QUrl& link) {
  const QUrl url = current_.resolved(link);
  if (delegate_ &&
      !delegate_->shouldStartLoadWithRequest(this, url, WebViewDelegate::LinkClicked)) {
    return false;
  }
#ifdef GLOWSNAP_HAVE_WEBENGINE
  d_->engine->setUrl(url);
#else
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
#endif
  return true;
}

}  // namespace glowsnap
