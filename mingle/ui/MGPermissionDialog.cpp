#include "mingle/ui/MGPermissionDialog.h"

#include "mingle/MGGlobal.h"

namespace glowsnap {

namespace {
constexpr const char* kOfflineAccess = "offline_access";
}

MGPermissionDialog::MGPermissionDialog() : MGPermissionDialog(MGSession::session()) {}

MGPermissionDialog::MGPermissionDialog(std::shared_ptr<MGSession> session)
    : MGLoginDialog(std::move(session)) {}

MGPermissionDialog::~MGPermissionDialog() {
  if (_redirectTimer) _redirectTimer->stop();
}

void MGPermissionDialog::load() {
  if (!session() || !session()->sessionKey()) {
    Error e;
    e.domain = kMGErrorDomain;
    e.code = kMGNoSessionError;
    e.description = "the permission \"" + _permission + "\" is asked of a logged-in user only";
    failSoon(e);
    return;
  }
  loadURL(siteURL() + kPermissionURL, "GET",
          {{"display", "touch"},
           {"api_key", session()->apiKey()},
           {"session_key", *session()->sessionKey()},
           {"ext_perm", _permission},
           {"next", "minglekit:success"},
           {"cancel", "minglekit:cancel"}},
          {});
}

bool MGPermissionDialog::shouldStartLoadWithRequest(WebView* webView, const QUrl& url,
                                                    NavigationType type) {
  if (_permission == kOfflineAccess && url.scheme() == QLatin1String("minglekit") &&
      url.path() == QLatin1String("success") && !url.hasQuery() &&
      isSiteURL(webView->url(), siteURL())) {
    redirectToLogin();
    return false;
  }
  return MGLoginDialog::shouldStartLoadWithRequest(webView, url, type);
}

void MGPermissionDialog::dialogDidSucceed(const QUrl& url) {
  if (_permission == kOfflineAccess)
    MGLoginDialog::dialogDidSucceed(url);
  else
    dismissWithSuccess(true, true);
}

void MGPermissionDialog::redirectToLogin() {
  if (_redirectTimer) return;
  _redirectTimer = new QTimer(this);
  _redirectTimer->setSingleShot(true);
  connect(_redirectTimer, &QTimer::timeout, this, [this] { redirectToLoginDelayed(); });
  _redirectTimer->start(static_cast<int>(kRedirectDelay * 1000));
}

void MGPermissionDialog::redirectToLoginDelayed() {
  if (_redirectTimer) _redirectTimer->deleteLater();
  _redirectTimer = nullptr;
  MGLoginDialog::load();
}

}  // namespace glowsnap
