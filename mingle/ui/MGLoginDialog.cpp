#include "mingle/ui/MGLoginDialog.h"

#include <QUrlQuery>
#include <cerrno>
#include <cstdlib>

#include "mingle/MGGlobal.h"

namespace glowsnap {

namespace {

Error answerError(std::string description) {
  Error e;
  e.domain = kMGErrorDomain;
  e.code = kMGInvalidAnswerError;
  e.description = "mingle.auth.getSession: " + std::move(description);
  return e;
}

// A whole decimal number that fits 64 bits (no sign, no fraction, no
// exponent); nothing otherwise.
std::optional<std::int64_t> parseInteger(const std::string& text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

}  // namespace

MGLoginDialog::MGLoginDialog() : MGLoginDialog(MGSession::session()) {}

MGLoginDialog::MGLoginDialog(std::shared_ptr<MGSession> session) : MGDialog(std::move(session)) {}

MGLoginDialog::~MGLoginDialog() {
  if (_getSessionRequest) {
    _getSessionRequest->setDelegate(nullptr);
    _getSessionRequest->cancel();
  }
}

void MGLoginDialog::load() { loadLoginPage(); }

void MGLoginDialog::loadLoginPage() {
  if (!session()) {
    Error e;
    e.domain = kMGErrorDomain;
    e.code = kMGNoSessionError;
    e.description = "the login dialog has no Mingle session to log in to";
    failSoon(e);
    return;
  }
  loadURL(siteURL() + kLoginURL, "GET",
          {{"minglekit", "1"},
           {"connect_display", "touch"},
           {"api_key", session()->apiKey()},
           {"next", "minglekit://success"}},
          {});
}

std::optional<std::string> MGLoginDialog::authTokenFromURL(const QUrl& url) {
  const QUrlQuery query(url);
  for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
    if (name != QLatin1String("auth_token")) continue;
    if (value.isEmpty()) return std::nullopt;
    return value.toStdString();
  }
  return std::nullopt;
}

void MGLoginDialog::dialogDidSucceed(const QUrl& url) {
  // A success without a token leaves the page as it is.
  auto token = authTokenFromURL(url);
  if (!token || _getSessionRequest) return;
  connectToGetSession(*token);
}

void MGLoginDialog::connectToGetSession(const std::string& token) {
  _getSessionRequest = MGRequest::requestWithSession(session(), this);
  MGParams params{{"auth_token", token}};
  if (session() && !session()->apiSecret()) params["generate_session_secret"] = std::string("1");
  if (session() && session()->getSessionProxy())
    _getSessionRequest->post(*session()->getSessionProxy(), params);
  else
    _getSessionRequest->call(kGetSessionMethod, params);
}

Result<MGLoginDialog::SessionInfo> MGLoginDialog::sessionFromAnswer(const MGValue& answer) {
  if (!answer.isDictionary()) return answerError("the answer is not a session");
  SessionInfo info;
  auto uid = answer.stringForKey("uid");
  auto uidValue = uid ? parseInteger(*uid) : std::nullopt;
  if (!uidValue || *uidValue <= 0)
    return answerError(uid ? "the user id \"" + *uid + "\" is not a number"
                           : "the answer holds no user id");
  info.uid = static_cast<std::uint64_t>(*uidValue);
  auto key = answer.stringForKey("session_key");
  if (!key || key->empty()) return answerError("the answer holds no session key");
  info.sessionKey = *key;
  if (const MGValue* secret = answer["secret"]) {
    if (secret->string() && !secret->string()->empty())
      info.secret = *secret->string();
    else if (!secret->isNull() && !secret->string())
      return answerError("the session secret is not a text");
  }
  if (const MGValue* expires = answer["expires"]; expires && !expires->isNull()) {
    auto seconds = expires->string() ? parseInteger(*expires->string()) : std::nullopt;
    if (!seconds)
      return answerError("the expiry \"" + (expires->string() ? *expires->string() : "") +
                         "\" is not a whole number of seconds");
    if (*seconds != 0) info.expires = MGSession::Date(std::chrono::seconds(*seconds));
  }
  return info;
}

void MGLoginDialog::didLoad(MGRequest& request, const MGValue& result) {
  if (&request != _getSessionRequest.get()) return;
  auto keepRequest = std::move(_getSessionRequest);
  auto info = sessionFromAnswer(result);
  if (!info) {
    dismissWithError(info.error(), true);
    return;
  }
  if (auto s = session()) {
    s->begin(info->uid, info->sessionKey, info->secret, info->expires);
    s->resume();
  }
  dismissWithSuccess(true, true);
}

void MGLoginDialog::didFailWithError(MGRequest& request, const Error& error) {
  if (&request != _getSessionRequest.get()) return;
  auto keepRequest = std::move(_getSessionRequest);
  dismissWithError(error, true);
}

void MGLoginDialog::dialogWillDisappear() {
  webView()->evaluateJavaScript("if (window.email) email.blur();");
  if (_getSessionRequest) {
    auto request = std::move(_getSessionRequest);
    request->setDelegate(nullptr);
    request->cancel();
  }
}

}  // namespace glowsnap
