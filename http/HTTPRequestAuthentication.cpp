// Authentication: what the request does when a server answers 401 or a
// proxy 407, and the credentials the session keeps.
#include "http/HTTPRequest.h"

namespace glowsnap {

void HTTPRequest::clearSession() {
  // Session credentials join this when authentication is complete.
  setSessionCookies(std::nullopt);
}

void HTTPRequest::applySessionCredentials(HTTPMessage&) {
  // No credentials are kept for the session yet.
}

void HTTPRequest::prepareAuthenticationForAttempt() {
  // Nothing is handed over between attempts yet.
}

void HTTPRequest::attemptToApplyCredentialsAndResume() {
  if (needsProxyAuthentication_) {
    attemptToApplyProxyCredentialsAndResume();
    return;
  }
  // Without credentials, a delegate or a queue to ask, a challenge ends the
  // request.
  cancelLoad();
  failWithError(AuthenticationError());
}

void HTTPRequest::attemptToApplyProxyCredentialsAndResume() {
  cancelLoad();
  failWithError(AuthenticationError());
}

}  // namespace glowsnap
