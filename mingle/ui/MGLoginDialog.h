// MGLoginDialog: the Mingle login page in a dialog. When the page signals
// success with a one-time login token ("auth_token" in the query of the
// minglekit URL), the dialog exchanges it for a session through
// "mingle.auth.getSession" (or the session's proxy), starts the session
// (begin, then resume, which tells every session delegate didLogin) and
// closes with success. A failed exchange, or an answer without a user id
// and a session key, closes it with the error.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "mingle/MGRequest.h"
#include "mingle/ui/MGDialog.h"

namespace glowsnap {

class MGLoginDialog : public MGDialog, public MGRequestDelegate {
  Q_OBJECT

 public:
  static constexpr const char* kLoginURL = "/login";
  static constexpr const char* kGetSessionMethod = "mingle.auth.getSession";

  // The session an answer of getSession describes.
  struct SessionInfo {
    std::uint64_t uid = 0;
    std::string sessionKey;
    std::optional<std::string> secret;
    std::optional<MGSession::Date> expires;
  };

  MGLoginDialog();
  explicit MGLoginDialog(std::shared_ptr<MGSession> session);
  ~MGLoginDialog() override;

  void load() override;
  void loadLoginPage();
  void dialogDidSucceed(const QUrl& url) override;
  void connectToGetSession(const std::string& token);
  void dialogWillDisappear() override;

  // The request's callbacks.
  void didLoad(MGRequest& request, const MGValue& result) override;
  void didFailWithError(MGRequest& request, const Error& error) override;

  // The value of the query parameter named exactly "auth_token" in url,
  // percent-decoded; nothing when there is none or it is empty.
  static std::optional<std::string> authTokenFromURL(const QUrl& url);
  // Reads a getSession answer: "uid" (a positive integer), "session_key",
  // and optionally "secret" and "expires" (whole seconds since 1970 as a
  // 64-bit integer; 0 or absent for no expiry). An error saying what is
  // wrong for any other shape.
  static Result<SessionInfo> sessionFromAnswer(const MGValue& answer);

  // The token exchange in flight, if any.
  const std::shared_ptr<MGRequest>& getSessionRequest() const { return _getSessionRequest; }

 private:
  std::shared_ptr<MGRequest> _getSessionRequest;
};

}  // namespace glowsnap
