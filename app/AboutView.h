// AboutView: the help page. It turns in over the screen like a page, shows
// the "Glowsnap" HTML resource and has a Back button. Links that leave the
// page: an "http" link opens the system browser, every other link does
// nothing, so the page can never navigate away inside the application.
// The owner may take over the Back button (to know when the page goes).
#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/qt/WebView.h"

namespace glowsnap {

class Toolbar;

class AboutView : public QWidget, public WebViewDelegate {
  Q_OBJECT

 public:
  // init:version:bar_style: — the title and version are kept, not shown.
  AboutView(const std::string& title, const std::string& version, int bar_style,
            QWidget* parent = nullptr);
  ~AboutView() override;

  // Turns the page in; didStop runs once it has come to rest.
  void show(std::function<void()> didStop = {});
  // Turns the page out, likewise.
  void on_btn_back(std::function<void()> didStop = {});
  // What the Back button does instead of on_btn_back (nothing: on_btn_back).
  void setBackHandler(std::function<void()> handler) { m_back_handler = std::move(handler); }
  bool shouldStartLoadWithRequest(WebView* webView, const QUrl& url, NavigationType type) override;

  WebView* webView() const { return m_wv; }
  Toolbar* toolbar() const { return m_toolbar; }

 private:
  WebView* m_wv;
  Toolbar* m_toolbar;
  std::string m_title;
  std::string m_version;
  std::function<void()> m_back_handler;
};

}  // namespace glowsnap
