// WebView: shows an HTML page and asks its delegate before following a
// navigation. With Qt WebEngine it is a full browser view; without it a
// text browser, which shows the help page's HTML and pictures and applies
// the same policy to every link the user clicks.
#pragma once

#include <QColor>
#include <QString>
#include <QUrl>
#include <QWidget>

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
    Other = 5
  };
  virtual ~WebViewDelegate() = default;
  virtual bool shouldStartLoadWithRequest(WebView* webView, const QUrl& url, NavigationType type) {
    (void)webView;
    (void)url;
    (void)type;
    return true;
  }
};

class WebView : public QWidget {
  Q_OBJECT

 public:
  explicit WebView(QWidget* parent = nullptr);
  ~WebView() override;

  void setDelegate(WebViewDelegate* delegate) { delegate_ = delegate; }
  WebViewDelegate* delegate() const { return delegate_; }
  // Relative references in html resolve against baseUrl.
  void loadHTMLString(const QString& html, const QUrl& baseUrl);
  void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }
  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setBackgroundColor(const QColor& color);

  // What a click on a link to url does: the delegate decides, and the page
  // is followed only when it agrees. Returns whether it was followed.
  bool clickLink(const QUrl& url);
  // The page shown now (the base URL of a loaded string).
  QUrl url() const { return current_; }
  QString html() const { return html_; }
  static bool usesWebEngine();

 private:
  struct Impl;
  Impl* d_;
  WebViewDelegate* delegate_ = nullptr;
  bool scalesPageToFit_ = false;
  QUrl current_;
  QString html_;
};

}  // namespace glowsnap
