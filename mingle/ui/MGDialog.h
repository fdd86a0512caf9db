// MGDialog: a floating panel that shows a Mingle web page (login,
// permission request, feed story) in a browser web view over the
// application's window. It draws its own frame (a translucent grey rounded
// border, a blue title bar with the Mingle icon, a title and a close
// button), loads a page with query parameters and optionally a multipart
// POST body, and watches the page's navigation for the "minglekit" URL
// scheme through which the page tells the outcome: "minglekit:cancel" is a
// cancel, any other minglekit URL a success (dialogDidSucceed with that
// URL, which subclasses read). Such URLs are never loaded, and they count
// only when they come from a page of the configured Mingle site: another
// site shown in the dialog cannot make it succeed or hand it a token.
//
// Subclasses (MGLoginDialog, MGPermissionDialog, MGFeedDialog) supply the
// page (load) and the meaning of success (dialogDidSucceed).
//
// Ownership: make a dialog with new. show() hands it to the window; once it
// has closed (success, cancel or error, the delegate told) it deletes
// itself. Keep a QPointer to follow it. A dialog that is never shown is the
// caller's to delete. To close one without hearing from it (its delegate
// is going away), setDelegate(nullptr) and then cancel().
//
// Main thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mingle/MGSession.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Result.h"
#include "platform/net/Bytes.h"
#include "platform/qt/WebView.h"

class QLabel;
class QPushButton;

namespace glowsnap {

class ActivityIndicator;
class MGDialog;

// Every operation is optional.
class MGDialogDelegate {
 public:
  virtual ~MGDialogDelegate() = default;
  virtual void dialogDidSucceed(MGDialog& /*dialog*/) {}
  virtual void dialogDidCancel(MGDialog& /*dialog*/) {}
  virtual void didFailWithError(MGDialog& /*dialog*/, const Error& /*error*/) {}
  // A link the user clicked in the page, to another page: true (the
  // default) opens it in the desktop's browser; the dialog never loads it.
  virtual bool shouldOpenURLInExternalBrowser(MGDialog& /*dialog*/, const QUrl& /*url*/) {
    return true;
  }
};

class MGDialog : public QWidget, public WebViewDelegate {
  Q_OBJECT

 public:
  // Query and body parameters, sent in this order.
  using Params = std::vector<std::pair<std::string, std::string>>;

  static constexpr const char* kDefaultTitle = "Connect to Mingle";
  static constexpr const char* kStringBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";
  static constexpr double kTransitionDuration = 0.3;

  // Images, under the resources directory.
  static constexpr const char* kIconImage = "MingleKit.bundle/images/mgicon.png";
  static constexpr const char* kCloseImage = "MingleKit.bundle/images/close.png";

  // The notifications the dialog follows while it is shown (posted on the
  // default NotificationCenter; the object of the orientation one is the
  // new orientation as an int).
  static constexpr const char* kOrientationDidChangeNotification =
      "MGDeviceOrientationDidChangeNotification";
  static constexpr const char* kKeyboardWillShowNotification = "MGKeyboardWillShowNotification";
  static constexpr const char* kKeyboardWillHideNotification = "MGKeyboardWillHideNotification";

  // Interface orientations: 1 portrait, 2 upside down, 3 and 4 landscape.
  // A desktop window is portrait unless told otherwise.
  static int statusBarOrientation();
  static void setStatusBarOrientation(int orientation);

  // On the shared session.
  MGDialog();
  explicit MGDialog(std::shared_ptr<MGSession> session);
  ~MGDialog() override;

  MGDialogDelegate* delegate() const { return _delegate; }
  void setDelegate(MGDialogDelegate* delegate) { _delegate = delegate; }
  const std::shared_ptr<MGSession>& session() const { return _session; }
  QString title() const;
  void setTitle(const QString& title);

  // The window dialogs appear over (nullptr: Panel's default host, else the
  // active window, else a window of the dialog's own). A host on a
  // ScreenView's scaled screen: the dialog lies over the view's desktop
  // window, on the screen's rectangle (the browser engine draws only in
  // real widgets).
  static void setDefaultHost(QWidget* host);

  // Loads the page (load), lays the dialog out over the window and shows it.
  void show();
  // Subclass hooks; empty here. load must start the page loading.
  virtual void load();
  virtual void dialogWillAppear();
  virtual void dialogWillDisappear();
  // The page signalled success with url: closes the dialog as a success.
  virtual void dialogDidSucceed(const QUrl& url);

  // Loads url with the query parameters get and, for "POST", the multipart
  // body of post. Sets the site's "test_cookie" first. A plain http URL to
  // a host that is not this machine is refused (the dialog fails with
  // kMGInsecureTransportError): credentials and session keys travel only
  // over https or to a loopback address.
  void loadURL(const std::string& url, const std::optional<std::string>& method, const Params& get,
               const Params& post);

  // Closing: the delegate hears dialogDidSucceed or dialogDidCancel (or
  // didFailWithError), then the dialog fades out and goes.
  void dismissWithSuccess(bool success, bool animated);
  void dismissWithError(const Error& error, bool animated);
  // The close button: a cancel.
  void cancel();

  // The web view's callbacks.
  bool shouldStartLoadWithRequest(WebView* webView, const QUrl& url, NavigationType type) override;
  void webViewDidFinishLoad(WebView* webView) override;
  void didFailLoadWithError(WebView* webView, const Error& error) override;

  // The notifications' handlers.
  void deviceOrientationDidChange(int orientation);
  void keyboardWillShow();
  void keyboardWillHide();

  // The URL with the parameters in its query, each value percent-escaped as
  // UTF-8 (the base unchanged without parameters).
  static std::string generateURL(const std::string& baseURL, const Params& params);
  // The multipart body of params (empty for none), in the REST request's
  // layout. Fails for a name or value that cannot be sent as it is.
  static Result<Bytes> generatePostBody(const Params& params);
  // Whether url comes from the configured Mingle site (same scheme, host
  // and port as siteURL).
  static bool isSiteURL(const QUrl& url, const std::string& siteURL);

  // State, for tests and for the screens that show a dialog.
  bool isShowing() const { return _shown && !_closing; }
  const QUrl& loadingURL() const { return _loadingURL; }
  WebView* webView() const { return _webView; }
  QPushButton* closeButton() const { return _closeButton; }
  int orientation() const { return _orientation; }
  bool isShowingKeyboard() const { return _showingKeyboard; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

  // For subclasses: the session's configured site ("http://127.0.0.1:8420").
  std::string siteURL() const;
  // Fails the dialog from the run loop (never from inside show or load).
  void failSoon(const Error& error);

 private:
  void build();
  void sizeToFitOrientation(bool transform);
  void layoutContents();
  void updateWebOrientation();
  bool shouldRotateToOrientation(int orientation) const;
  void addObservers();
  void removeObservers();
  void dismiss(bool animated);
  void postDismissCleanup();
  QWidget* hostWindow() const;

  MGDialogDelegate* _delegate = nullptr;
  std::shared_ptr<MGSession> _session;
  QUrl _loadingURL;
  WebView* _webView = nullptr;
  ActivityIndicator* _spinner = nullptr;
  QLabel* _iconView = nullptr;
  QLabel* _titleLabel = nullptr;
  QPushButton* _closeButton = nullptr;
  int _orientation = 0;
  bool _showingKeyboard = false;

  bool _shown = false;
  bool _closing = false;
  bool _ownWindow = false;
  // The window's part the dialog lies over (empty: the whole window).
  QRect _appFrame;
  std::vector<NotificationCenter::Token> _observers;
};

}  // namespace glowsnap
