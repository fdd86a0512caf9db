#include "mingle/MGSession.h"

#include <algorithm>

#include "mingle/MGRequest.h"
#include "platform/foundation/Defaults.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPCookieStorage.h"

namespace glowsnap {

namespace {

// Not owning: the shared session is whichever session was made first (or
// set), for as long as it lives.
std::weak_ptr<MGSession>& sharedSession() {
  static std::weak_ptr<MGSession> shared;
  return shared;
}

}  // namespace

std::shared_ptr<MGSession> MGSession::session() { return sharedSession().lock(); }

void MGSession::setSession(const std::shared_ptr<MGSession>& session) { sharedSession() = session; }

std::shared_ptr<MGSession> MGSession::sessionForApplication(const std::string& key,
                                                            const std::string& secret,
                                                            MGSessionDelegate* delegate) {
  auto session = initWithKey(key, secret, std::nullopt);
  session->addDelegate(delegate);
  return session;
}

std::shared_ptr<MGSession> MGSession::sessionForApplication(const std::string& key,
                                                            const GetSessionProxy& proxy,
                                                            MGSessionDelegate* delegate) {
  auto session = initWithKey(key, std::nullopt, proxy.url);
  session->addDelegate(delegate);
  return session;
}

std::shared_ptr<MGSession> MGSession::initWithKey(
    const std::string& key, const std::optional<std::string>& secret,
    const std::optional<std::string>& getSessionProxy) {
  auto session = std::make_shared<MGSession>(Private{}, key, secret, getSessionProxy);
  if (!sharedSession().lock()) sharedSession() = session;
  return session;
}

MGSession::MGSession(Private, const std::string& key, const std::optional<std::string>& secret,
                     const std::optional<std::string>& getSessionProxy)
    : _apiKey(key),
      _apiSecret(secret),
      _getSessionProxy(getSessionProxy),
      _server(MGServerConfiguration::standard()),
      _defaults(&Defaults::standard()) {}

MGSession::~MGSession() {
  // The timer is the session's own: it must not fire into a session that
  // is gone.
  if (_requestTimer && _requestTimerLoop) _requestTimerLoop->removeTimer(*_requestTimer);
}

void MGSession::addDelegate(MGSessionDelegate* delegate) {
  if (!delegate) return;
  if (std::find(_delegates.begin(), _delegates.end(), delegate) == _delegates.end())
    _delegates.push_back(delegate);
}

void MGSession::removeDelegate(MGSessionDelegate* delegate) {
  _delegates.erase(std::remove(_delegates.begin(), _delegates.end(), delegate), _delegates.end());
}

// Calls fn on each delegate in the order they were added; one that was
// removed by an earlier delegate's callback is skipped.
template <typename Fn>
void MGSession::tellDelegates(Fn fn) {
  auto keepAlive = shared_from_this();
  auto snapshot = _delegates;
  for (MGSessionDelegate* delegate : snapshot) {
    if (std::find(_delegates.begin(), _delegates.end(), delegate) == _delegates.end()) continue;
    fn(*delegate);
  }
}

void MGSession::begin(std::uint64_t uid, const std::optional<std::string>& sessionKey,
                      const std::optional<std::string>& sessionSecret,
                      const std::optional<Date>& expires) {
  _uid = uid;
  _sessionKey = sessionKey;
  _sessionSecret = sessionSecret;
  _expirationDate = expires;
  save();
}

bool MGSession::resume() {
  Defaults& defaults = *_defaults;
  auto uid = static_cast<std::uint64_t>(defaults.integerForKey(kUserIdKey));
  if (uid == 0) return false;
  std::optional<Date> expires;
  if (defaults.hasKey(kSessionExpiresKey)) {
    expires = Date(std::chrono::seconds(defaults.integerForKey(kSessionExpiresKey)));
    if (*expires <= std::chrono::system_clock::now()) return false;
  }
  _uid = uid;
  _sessionKey = defaults.stringForKey(kSessionKeyKey);
  _sessionSecret = defaults.stringForKey(kSessionSecretKey);
  _expirationDate = expires;
  tellDelegates([&](MGSessionDelegate& d) { d.didLogin(*this, uid); });
  return true;
}

void MGSession::logout() {
  if (!_sessionKey) {
    unsave();
    return;
  }
  auto keepAlive = shared_from_this();
  std::uint64_t uid = _uid;
  tellDelegates([&](MGSessionDelegate& d) { d.willLogout(*this, uid); });
  deleteLoginCookies();
  _uid = 0;
  _sessionKey.reset();
  _sessionSecret.reset();
  _expirationDate.reset();
  unsave();
  tellDelegates([&](MGSessionDelegate& d) { d.sessionDidLogout(*this); });
}

// Every cookie the login host would be sent, whatever its path and whether
// it is Secure: logging out must not leave a login behind.
void MGSession::deleteLoginCookies() {
  const std::string& host = _server.loginHost;
  if (host.empty()) return;
  HTTPCookieStorage& storage = HTTPCookieStorage::sharedStorage();
  for (const HTTPCookie& cookie : storage.cookies()) {
    bool matches = cookie.isHostOnly() ? cookie.domain() == host
                                       : HTTPCookie::domainMatches(host, cookie.domain());
    if (matches) storage.deleteCookie(cookie);
  }
}

void MGSession::save() {
  Defaults& defaults = *_defaults;
  if (_uid != 0)
    defaults.setInteger(static_cast<std::int64_t>(_uid), kUserIdKey);
  else
    defaults.removeObject(kUserIdKey);
  if (_sessionKey)
    defaults.setString(*_sessionKey, kSessionKeyKey);
  else
    defaults.removeObject(kSessionKeyKey);
  if (_sessionSecret)
    defaults.setString(*_sessionSecret, kSessionSecretKey);
  else
    defaults.removeObject(kSessionSecretKey);
  if (_expirationDate)
    defaults.setInteger(_expirationDate->time_since_epoch().count(), kSessionExpiresKey);
  else
    defaults.removeObject(kSessionExpiresKey);
  defaults.synchronize();
}

void MGSession::unsave() {
  Defaults& defaults = *_defaults;
  for (const char* key : {kUserIdKey, kSessionKeyKey, kSessionSecretKey, kSessionExpiresKey})
    defaults.removeObject(key);
  defaults.synchronize();
}

bool MGSession::send(const std::shared_ptr<MGRequest>& request) {
  return performRequest(request, true);
}

bool MGSession::performRequest(const std::shared_ptr<MGRequest>& request, bool enqueue) {
  auto now = SteadyClock::now();
  // A burst is the two seconds after its first request started. (Whether
  // there was a request at all is the optional's business, not a time of 0.)
  bool inBurst =
      _lastRequestTime &&
      std::chrono::duration<double>(now - *_lastRequestTime).count() < kRequestBurstDuration;
  if (inBurst) {
    ++_requestBurstCount;
    if (_requestBurstCount > kMaxBurstRequests) {
      if (enqueue) enqueueRequest(request);
      return false;
    }
    request->connect();
    return true;
  }
  request->connect();
  _requestBurstCount = 1;
  _lastRequestTime = request->startTime();
  return true;
}

void MGSession::enqueueRequest(const std::shared_ptr<MGRequest>& request) {
  _requestQueue.push_back(request);
  startFlushTimer();
}

bool MGSession::dequeueRequest(const MGRequest* request) {
  auto it = std::find_if(_requestQueue.begin(), _requestQueue.end(),
                         [&](const auto& queued) { return queued.get() == request; });
  if (it == _requestQueue.end()) return false;
  _requestQueue.erase(it);
  return true;
}

void MGSession::startFlushTimer() {
  if (_requestTimer) return;
  double elapsed =
      _lastRequestTime
          ? std::chrono::duration<double>(SteadyClock::now() - *_lastRequestTime).count()
          : kRequestBurstDuration;
  double delay = std::max(0.0, kRequestBurstDuration - elapsed);
  std::weak_ptr<MGSession> weak = weak_from_this();
  _requestTimerLoop = &RunLoop::current();
  _requestTimer = _requestTimerLoop->addTimer(
      delay, 0,
      [weak] {
        if (auto self = weak.lock()) self->requestTimerReady();
      },
      RunLoop::kCommonModes);
}

void MGSession::requestTimerReady() {
  _requestTimer.reset();
  flushRequestQueue();
}

void MGSession::flushRequestQueue() {
  auto keepAlive = shared_from_this();
  while (!_requestQueue.empty()) {
    auto request = _requestQueue.front();
    if (!performRequest(request, false)) {
      startFlushTimer();
      return;
    }
    dequeueRequest(request.get());
  }
}

}  // namespace glowsnap
