// Authentication: what the request does when a server answers 401 or a
// proxy 407, the credentials the session keeps, and the desktop's keyring.
//
// Both challenges go through one procedure (answerChallenge) with the
// fields of their side; the server's side alone reads the URL's own
// credentials. Credentials are kept (for the session, in the keyring) once
// an answer shows they were accepted, and the request's own credentials
// answer only the origin it was made for.
#include <strings.h>

#include <condition_variable>

#include "http/HTTPRequest.h"
#include "platform/net/CredentialStorage.h"

namespace glowsnap {

namespace {

struct SessionState {
  SessionCredentials server;
  // Kept as the server's are, never sent unasked.
  SessionCredentials proxy;
};

SessionState& session() {
  static SessionState* s = new SessionState;
  return *s;
}

bool isLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

bool sameOrigin(const URL& a, const URL& b) {
  return a.scheme() == b.scheme() && a.host() == b.host() && a.effectivePort() == b.effectivePort();
}

}  // namespace

// --- the condition lock of the delegate hand-off ------------------------------

void HTTPRequest::ConditionLock::lockWhenCondition(int condition, bool serveMainLoop) {
  std::unique_lock guard(mutex_);
  while (condition_ != condition) {
    if (!serveMainLoop) {
      changed_.wait(guard);
      continue;
    }
    // On the main thread the delegate may answer later from the main
    // thread itself: its loop keeps running while the request waits.
    guard.unlock();
    RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.05, true);
    guard.lock();
  }
}

void HTTPRequest::ConditionLock::unlockWithCondition(int condition) {
  {
    std::lock_guard guard(mutex_);
    condition_ = condition;
  }
  changed_.notify_all();
}

// --- class-wide ----------------------------------------------------------------

SessionCredentials& HTTPRequest::sessionCredentials() { return session().server; }
SessionCredentials& HTTPRequest::sessionProxyCredentials() { return session().proxy; }

void HTTPRequest::clearSession() {
  session().server.clear();
  session().proxy.clear();
  setSessionCookies(std::nullopt);
}

Result<void> HTTPRequest::saveCredentials(const Credential& credential, const std::string& host,
                                          int port, const std::string& protocol,
                                          const std::string& realm) {
  return CredentialStorage::sharedCredentialStorage().setDefaultCredential(
      credential, ProtectionSpace{host, port, protocol, realm});
}

std::optional<Credential> HTTPRequest::savedCredentials(const std::string& host, int port,
                                                        const std::string& protocol,
                                                        const std::string& realm) {
  return CredentialStorage::sharedCredentialStorage().defaultCredential(
      ProtectionSpace{host, port, protocol, realm});
}

Result<void> HTTPRequest::removeCredentials(const std::string& host, int port,
                                            const std::string& protocol, const std::string& realm) {
  return CredentialStorage::sharedCredentialStorage().removeDefaultCredential(
      ProtectionSpace{host, port, protocol, realm});
}

// --- per attempt -----------------------------------------------------------------

void HTTPRequest::applySessionCredentials(HTTPMessage& message) {
  if (!useSessionPersistance_ || !url_) return;
  auto entry = session().server.forURL(*url_);
  if (!entry || !entry->authentication) return;
  if (!entry->authentication->applyCredentials(message, entry->credentials))
    session().server.remove(entry->space);
}

void HTTPRequest::prepareAuthenticationForAttempt() {
  // The first attempt's URL is the one the request was made for.
  if (!credentialsOrigin_ && url_) credentialsOrigin_ = *url_;
  std::lock_guard guard(authenticationLockMutex_);
  authenticationLock_ = std::make_shared<ConditionLock>();
}

std::shared_ptr<HTTPRequest::ConditionLock> HTTPRequest::authenticationLock() {
  std::lock_guard guard(authenticationLockMutex_);
  if (!authenticationLock_) authenticationLock_ = std::make_shared<ConditionLock>();
  return authenticationLock_;
}

void HTTPRequest::authenticationRedirected(const URL& previous) {
  if (sameOrigin(previous, *url_)) return;
  // What answered one server is never offered to another.
  requestAuthentication_.reset();
  requestCredentials_.reset();
  pendingCredentials_.reset();
  authenticationMethod_.reset();
  authenticationRealm_.reset();
}

void HTTPRequest::responseStatusReceived(int status) {
  if (status == 407) return;
  // Past the proxy: its credentials worked.
  if (pendingProxyCredentials_) keepCredentials(true);
  if (status != 401 && pendingCredentials_) keepCredentials(false);
}

HTTPRequest::ChallengeSide HTTPRequest::side(bool proxy) {
  if (proxy)
    return ChallengeSide{true,
                         proxyAuthentication_,
                         proxyAuthenticationMethod_,
                         proxyAuthenticationRealm_,
                         proxyCredentials_,
                         proxyAuthenticationRetryCount_,
                         proxyDomain_,
                         "Failed to apply proxy credentials to request"};
  return ChallengeSide{false,
                       requestAuthentication_,
                       authenticationMethod_,
                       authenticationRealm_,
                       requestCredentials_,
                       authenticationRetryCount_,
                       domain_,
                       "Failed to apply credentials to request"};
}

ProtectionSpace HTTPRequest::protectionSpace(bool proxy, const std::string& realm) const {
  if (proxy) return ProtectionSpace{proxyHost_.value_or(""), proxyPort_, url_->scheme(), realm};
  return SessionCredentials::spaceFor(*url_, realm);
}

void HTTPRequest::attemptToApplyCredentialsAndResume() {
  answerChallenge(needsProxyAuthentication_);
}

void HTTPRequest::attemptToApplyProxyCredentialsAndResume() { answerChallenge(true); }

void HTTPRequest::answerChallenge(bool proxy) {
  ChallengeSide s = side(proxy);
  if (!s.authentication) {
    s.authentication = readStream_
                           ? HTTPAuthentication::createFromResponse(readStream_->responseHeader())
                           : nullptr;
    if (!s.authentication) {
      cancelLoad();
      failWithError(makeError(kInternalErrorWhileApplyingCredentialsType,
                              "Failed to get authentication object from response headers"));
      return;
    }
    s.method = s.authentication->method();
  } else if (readStream_) {
    s.authentication->updateFromResponse(readStream_->responseHeader());
  }

  Error reason;
  if (!s.authentication->isValid(&reason)) {
    s.authentication.reset();
    if (reason.domain == HTTPAuthentication::kHTTPErrorDomain &&
        (reason.code == HTTPAuthentication::kBadUserName ||
         reason.code == HTTPAuthentication::kBadPassword)) {
      s.credentials.reset();
      (proxy ? pendingProxyCredentials_ : pendingCredentials_).reset();
      lastActivityTime_.reset();
      if (askDelegateForCredentials(proxy)) {
        if (!isCancelled()) answerChallenge(proxy);
        return;
      }
    }
    cancelLoad();
    failWithError(AuthenticationError());
    return;
  }
  cancelLoad();

  bool ntlm = s.authentication->method() == HTTPAuthentication::kNTLM;
  if (s.credentials) {
    if (!(ntlm && s.retryCount >= 2)) {
      if (applyCredentials(*s.credentials, proxy)) {
        startRequest();
        return;
      }
    } else if (s.retryCount == 2) {
      failWithError(AuthenticationError());
      return;
    }
    failWithError(applyFailure(s.applyFailure));
    return;
  }
  if (!s.authentication->requiresUserNameAndPassword()) {
    // Nothing this client could send would answer it.
    failWithError(AuthenticationError());
    return;
  }
  auto found = findCredentials(proxy);
  if (!found) {
    if (askDelegateForCredentials(proxy)) {
      if (!isCancelled()) answerChallenge(proxy);
      return;
    }
    failWithError(AuthenticationError());
    return;
  }
  if (applyCredentials(*found, proxy))
    startRequest();
  else
    failWithError(applyFailure(s.applyFailure));
}

std::shared_ptr<const Error> HTTPRequest::applyFailure(const char* text) const {
  std::shared_ptr<const Error> cause;
  if (cleartextRefused_) {
    auto e = std::make_shared<Error>();
    e->domain = kNetworkRequestErrorDomain;
    e->code = kInternalErrorWhileApplyingCredentialsType;
    e->description = "Basic credentials are sent only over https or to a loopback address";
    cause = e;
  }
  return makeError(kInternalErrorWhileApplyingCredentialsType, text, cause);
}

std::optional<HTTPRequest::HeaderDictionary> HTTPRequest::findCredentials() {
  return findCredentials(false);
}

std::optional<HTTPRequest::HeaderDictionary> HTTPRequest::findProxyCredentials() {
  return findCredentials(true);
}

std::optional<HTTPRequest::HeaderDictionary> HTTPRequest::findCredentials(bool proxy) {
  ChallengeSide s = side(proxy);
  HeaderDictionary found;
  bool needsDomain = s.authentication && s.authentication->requiresAccountDomain();
  if (needsDomain) {
    if (!s.domain) s.domain = std::string();
    found[HTTPAuthentication::kCFHTTPAuthenticationAccountDomain] = *s.domain;
  }
  s.realm.reset();
  if (!needsDomain && s.authentication) s.realm = s.authentication->realm();

  std::optional<std::string> user, password;
  auto take = [&](const std::optional<std::string>& u, const std::optional<std::string>& p) {
    if (user || !u || !p) return;
    user = u;
    password = p;
  };
  // The request's own credentials answer the origin it was made for.
  bool ownOrigin = !credentialsOrigin_ || sameOrigin(*credentialsOrigin_, *url_);
  if (!proxy && url_->hasUser() && url_->hasPassword()) take(url_->user(), url_->password());
  if (proxy || ownOrigin) {
    if (mainRequest_)
      take(proxy ? mainRequest_->proxyUsername_ : mainRequest_->username_,
           proxy ? mainRequest_->proxyPassword_ : mainRequest_->password_);
    take(proxy ? proxyUsername_ : username_, proxy ? proxyPassword_ : password_);
  }
  if (!user && useKeychainPersistance_) {
    if (auto saved = CredentialStorage::sharedCredentialStorage().defaultCredential(
            protectionSpace(proxy, s.realm.value_or(""))))
      take(saved->user, saved->password);
  }
  if (!user) return std::nullopt;
  found[HTTPAuthentication::kCFHTTPAuthenticationUsername] = *user;
  found[HTTPAuthentication::kCFHTTPAuthenticationPassword] = *password;
  return found;
}

bool HTTPRequest::applyCredentials(const HeaderDictionary& credentials) {
  return applyCredentials(credentials, false);
}

bool HTTPRequest::applyProxyCredentials(const HeaderDictionary& credentials) {
  return applyCredentials(credentials, true);
}

bool HTTPRequest::applyCredentials(const HeaderDictionary& credentials, bool proxy) {
  ChallengeSide s = side(proxy);
  ++s.retryCount;
  cleartextRefused_ = false;
  if (!s.authentication || !request_) return false;
  if (s.authentication->sendsPasswordInClear()) {
    // The connection that carries it: the proxy's is always plain.
    bool safe = proxy ? isLoopbackHost(proxyHost_.value_or(""))
                      : (url_->scheme() == "https" || isLoopbackHost(url_->host()));
    if (!safe) {
      cleartextRefused_ = true;
      return false;
    }
  }
  if (!s.authentication->applyCredentials(*request_, credentials)) return false;
  (proxy ? pendingProxyCredentials_ : pendingCredentials_) = credentials;
  s.credentials = credentials;
  return true;
}

void HTTPRequest::keepCredentials(bool proxy) {
  ChallengeSide s = side(proxy);
  auto& pending = proxy ? pendingProxyCredentials_ : pendingCredentials_;
  if (!pending || !s.authentication) {
    pending.reset();
    return;
  }
  HeaderDictionary credentials = *pending;
  pending.reset();
  std::string realm = s.realm.value_or(s.authentication->realm().value_or(""));
  if (useKeychainPersistance_) {
    if (proxy)
      saveProxyCredentialsToKeychain(credentials);
    else
      saveCredentialsToKeychain(credentials);
  }
  if (useSessionPersistance_)
    (proxy ? session().proxy : session().server)
        .store(protectionSpace(proxy, realm), credentials, s.authentication);
}

void HTTPRequest::saveCredentialsToKeychain(const HeaderDictionary& credentials) {
  saveToKeychain(credentials, false);
}

void HTTPRequest::saveProxyCredentialsToKeychain(const HeaderDictionary& credentials) {
  saveToKeychain(credentials, true);
}

void HTTPRequest::saveToKeychain(const HeaderDictionary& credentials, bool proxy) {
  auto user = credentials.find(HTTPAuthentication::kCFHTTPAuthenticationUsername);
  auto password = credentials.find(HTTPAuthentication::kCFHTTPAuthenticationPassword);
  if (user == credentials.end() || password == credentials.end()) return;
  ChallengeSide s = side(proxy);
  std::string realm =
      s.realm.value_or(s.authentication ? s.authentication->realm().value_or("") : "");
  auto saved = CredentialStorage::sharedCredentialStorage().setDefaultCredential(
      Credential{user->second, password->second}, protectionSpace(proxy, realm));
  std::lock_guard lock(failureMutex_);
  keychainError_ = saved.ok() ? nullptr : std::make_shared<Error>(saved.error());
}

std::shared_ptr<const Error> HTTPRequest::keychainError() const {
  std::lock_guard lock(failureMutex_);
  return keychainError_;
}

bool HTTPRequest::askDelegateForCredentials() { return askDelegateForCredentials(false); }
bool HTTPRequest::askDelegateForProxyCredentials() { return askDelegateForCredentials(true); }

bool HTTPRequest::askDelegateForCredentials(bool proxy) {
  const Selector selector =
      proxy ? "proxyAuthorizationNeededForRequest:" : "authorizationNeededForRequest:";
  bool toDelegate = delegate_ && delegate_->respondsToSelector(selector);
  auto queue = this->queue();
  bool toQueue = !toDelegate && !delegate_ && queue && queue->respondsToSelector(selector);
  queue.reset();
  if (!toDelegate && !toQueue) return false;
  auto lock = authenticationLock();
  deliverToMainThread([selector, toDelegate, proxy](HTTPRequest& r) {
    if (toDelegate && r.delegate_) {
      r.delegate_->performSelector(selector, r);
    } else if (auto q = r.queue()) {
      if (proxy)
        q->proxyAuthorizationNeededForRequest(r);
      else
        q->authorizationNeededForRequest(r);
    } else {
      // The queue went away before it could be asked: nobody will answer,
      // so the request goes on with what it has.
      r.retryWithAuthentication();
    }
  });
  lock->lockWhenCondition(2, isMainThread());
  lock->unlockWithCondition(1);
  return true;
}

void HTTPRequest::retryWithAuthentication() {
  auto lock = authenticationLock();
  lock->lockWhenCondition(1, false);
  lock->unlockWithCondition(2);
}

}  // namespace glowsnap
