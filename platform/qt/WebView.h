// WebView: shows a web page and asks its delegate before following any
// navigation. It has two engines behind one interface:
//
// - Browser: Qt WebEngine, a real browser (scripts, forms, cookies,
//   redirects). Pages from the network run here: requests with a method and
//   a body, every navigation (link, form, redirect, script, reload) asked of
//   the delegate before it starts, load finished and load failed with a
//   domain and a code, scripts run in the page with their answer read back,
//   cookies set in the engine's own store before a page loads.
// - Text: a text browser that shows local HTML with pictures (the help
//   page) without starting a browser engine, and applies the same policy to
//   every link the user clicks.
//
// A web view made without naming an engine is a Text one. A Browser web
// view in a build without Qt WebEngine fails every load (kWebViewNoEngine).
//
// A Browser web view starts the engine with its first page. Every one
// shares one in-memory profile (the
// site's cookies last as long as the process, never on disk).
// releaseEngine() gives it back: a program (or a test) that used a browser
// web view calls it before its QApplication goes away.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>

#include "platform/foundation/Error.h"

namespace glowsnap {

class WebView;

class WebViewDelegate {
 public:
  enum NavigationType {
    LinkClicked = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = 5,
    // A server's redirect (3xx) of a load already under way.
    Redirect = 6
  };
  virtual ~WebViewDelegate() = default;
  // Asked before every load of the page's main frame; false keeps the page
  // as it is and nothing of url is loaded. A load the delegate refuses that
  // had already started ends in didFailLoadWithError with
  // kWebViewErrorDomain / kWebViewFrameLoadInterrupted.
  virtual bool shouldStartLoadWithRequest(WebView* webView, const QUrl& url, NavigationType type) {
    (void)webView;
    (void)url;
    (void)type;
    return true;
  }
  virtual void webViewDidStartLoad(WebView* /*webView*/) {}
  virtual void webViewDidFinishLoad(WebView* /*webView*/) {}
  virtual void didFailLoadWithError(WebView* /*webView*/, const Error& /*error*/) {}
};

// The domain of the web view's own failures.
inline constexpr const char* kWebViewErrorDomain = "WebViewErrorDomain";
enum WebViewErrorCode : int {
  // The build has no browser engine.
  kWebViewNoEngine = 101,
  // A load that the delegate refused (a caught URL, a link sent elsewhere).
  kWebViewFrameLoadInterrupted = 102,
};
// Failures of the engine, with the engine's own error numbers as codes.
inline constexpr const char* kWebViewConnectionErrorDomain = "WebViewConnectionErrorDomain";
inline constexpr const char* kWebViewCertificateErrorDomain = "WebViewCertificateErrorDomain";
inline constexpr const char* kWebViewHTTPErrorDomain = "WebViewHTTPErrorDomain";
inline constexpr const char* kWebViewInternalErrorDomain = "WebViewInternalErrorDomain";

// A request to load: URL, method, headers and body.
struct WebRequest {
  QUrl url;
  QByteArray method = "GET";
  QList<QPair<QByteArray, QByteArray>> headers;
  QByteArray body;
};

class WebView : public QWidget {
  Q_OBJECT

 public:
  enum class Engine { Browser, Text };

  // A Text web view.
  explicit WebView(QWidget* parent = nullptr);
  WebView(Engine engine, QWidget* parent);
  ~WebView() override;

  Engine engine() const { return engine_; }
  // True when this build has the browser engine.
  static bool usesWebEngine();
  // A scheme pages navigate to only to signal (the delegate catches it):
  // registered before the QApplication is made, so that the engine lets a
  // server's redirect to it reach the navigation decision. Its loads are
  // always refused.
  static void registerSignalScheme(const QString& scheme);

  void setDelegate(WebViewDelegate* delegate) { delegate_ = delegate; }
  WebViewDelegate* delegate() const { return delegate_; }

  // Relative references in html resolve against baseUrl.
  void loadHTMLString(const QString& html, const QUrl& baseUrl);
  // Browser engine: loads the request (method, headers, body). The
  // delegate is asked first, like for any navigation.
  void loadRequest(const WebRequest& request);
  void stopLoading();
  bool isLoading() const { return loading_; }

  // Browser engine: runs script in the page and hands its answer (as text;
  // empty for undefined) to done, on the main thread, once it is known.
  void evaluateJavaScript(const QString& script, std::function<void(const QString&)> done = {});
  // Runs script and waits (serving Qt's events) at most timeoutMs for its
  // answer; empty when there is none in time or no page.
  QString stringByEvaluatingJavaScriptFromString(const QString& script, int timeoutMs = 5000);

  // Browser engine: a cookie in the engine's own store, sent to domain (a
  // leading dot: the domain and every host below it) from now on.
  static void setCookie(const QString& name, const QString& value, const QString& domain,
                        const QString& path = QStringLiteral("/"));
  // Deletes every cookie the engine holds for host and the domains above it.
  static void deleteCookiesForHost(const QString& host);
  // Gives the shared browser profile back (see above). Browser web views
  // still alive stop working.
  static void releaseEngine();

  void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }
  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setBackgroundColor(const QColor& color);

  // What a click on a link to url does: the delegate decides, and the page
  // is followed only when it agrees. Returns whether it was followed.
  bool clickLink(const QUrl& url);
  // The page shown now (the base URL of a loaded string).
  QUrl url() const { return current_; }
  // The HTML given to loadHTMLString.
  QString html() const { return html_; }
  // The page's title (Browser engine).
  QString title() const;

  // The engine's widget (for tests that drive the page with real events).
  QWidget* contentWidget() const;

 private:
  struct Impl;
  friend struct Impl;
  void build();
  void ensureEngine();
  bool askDelegate(const QUrl& url, WebViewDelegate::NavigationType type);

  Engine engine_;
  Impl* d_;
  WebViewDelegate* delegate_ = nullptr;
  bool scalesPageToFit_ = false;
  bool loading_ = false;
  QUrl current_;
  QString html_;
  QColor background_;
};

}  // namespace glowsnap
