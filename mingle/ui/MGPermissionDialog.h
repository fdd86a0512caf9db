// MGPermissionDialog: asks the logged-in user for one extended permission
// ("photo_upload", say). The page answers "minglekit:success" (granted:
// the dialog closes with success) or "minglekit:cancel" (refused: a
// cancel). For "offline_access" a grant goes on to the login page in the
// same dialog, and the login's token exchange ends it.
#pragma once

#include <optional>
#include <string>

#include <QPointer>
#include <QTimer>
#include "mingle/ui/MGLoginDialog.h"

namespace glowsnap {

class MGPermissionDialog : public MGLoginDialog {
  Q_OBJECT

 public:
  static constexpr const char* kPermissionURL = "/connect/permission";
  static constexpr double kRedirectDelay = 0.01;

  MGPermissionDialog();
  explicit MGPermissionDialog(std::shared_ptr<MGSession> session);
  ~MGPermissionDialog() override;

  const std::string& permission() const { return _permission; }
  void setPermission(const std::string& permission) { _permission = permission; }

  void load() override;
  bool shouldStartLoadWithRequest(WebView* webView, const QUrl& url, NavigationType type) override;
  void dialogDidSucceed(const QUrl& url) override;
  void redirectToLogin();
  void redirectToLoginDelayed();

 private:
  std::string _permission;
  QPointer<QTimer> _redirectTimer;
};

}  // namespace glowsnap
