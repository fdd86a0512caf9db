// MGSession: the application's Mingle credentials (API key and secret, or
// a session proxy) and the user's session (user id, session key, session
// secret, expiry). It saves the session in the settings store so that it
// survives restarts, resumes it, logs out, tells its delegates, and paces
// REST requests so that no more than three start within two seconds.
//
// One session is the process-wide shared session that requests and dialogs
// use when they are given none: the first one made, unless setSession()
// says otherwise. The shared pointer does not own the session; a session
// that goes away stops being the shared one.
//
// Main thread only (the pacing timer runs on the run loop of the thread that
// scheduled it).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mingle/MGGlobal.h"
#include "platform/foundation/RunLoop.h"

namespace glowsnap {

class Defaults;
class MGRequest;
class MGSession;

class MGSessionDelegate {
 public:
  virtual ~MGSessionDelegate() = default;
  virtual void didLogin(MGSession& session, std::uint64_t uid) = 0;
  virtual void willLogout(MGSession& /*session*/, std::uint64_t /*uid*/) {}
  virtual void sessionDidLogout(MGSession& /*session*/) {}
};

class MGSession : public std::enable_shared_from_this<MGSession> {
 public:
  // Expiry dates: whole seconds since 1970.
  using Date = std::chrono::sys_seconds;

  static constexpr double kRequestBurstDuration = 2.0;
  static constexpr int kMaxBurstRequests = 3;

  // The keys of the saved session in the settings store.
  static constexpr const char* kUserIdKey = "MGUserId";
  static constexpr const char* kSessionKeyKey = "MGSessionKey";
  static constexpr const char* kSessionSecretKey = "MGSessionSecret";
  static constexpr const char* kSessionExpiresKey = "MGSessionExpires";

  // Tags the session-proxy form of sessionForApplication.
  struct GetSessionProxy {
    std::string url;
  };

  // The shared session, or none.
  static std::shared_ptr<MGSession> session();
  static void setSession(const std::shared_ptr<MGSession>& session);
  // A session with key and secret (no proxy), with delegate added. The
  // caller keeps the session.
  static std::shared_ptr<MGSession> sessionForApplication(const std::string& key,
                                                          const std::string& secret,
                                                          MGSessionDelegate* delegate);
  // A session with key and session proxy (no secret), with delegate added.
  static std::shared_ptr<MGSession> sessionForApplication(const std::string& key,
                                                          const GetSessionProxy& proxy,
                                                          MGSessionDelegate* delegate);
  // No user session, an empty queue; becomes the shared session when there
  // is none.
  static std::shared_ptr<MGSession> initWithKey(const std::string& key,
                                                const std::optional<std::string>& secret,
                                                const std::optional<std::string>& getSessionProxy);

  ~MGSession();
  MGSession(const MGSession&) = delete;
  MGSession& operator=(const MGSession&) = delete;

  // Not owned: a delegate removes itself before it goes away. Adding one
  // twice keeps one entry.
  const std::vector<MGSessionDelegate*>& delegates() const { return _delegates; }
  void addDelegate(MGSessionDelegate* delegate);
  void removeDelegate(MGSessionDelegate* delegate);

  const std::string& apiKey() const { return _apiKey; }
  const std::optional<std::string>& apiSecret() const { return _apiSecret; }
  const std::optional<std::string>& getSessionProxy() const { return _getSessionProxy; }
  std::uint64_t uid() const { return _uid; }
  const std::optional<std::string>& sessionKey() const { return _sessionKey; }
  const std::optional<std::string>& sessionSecret() const { return _sessionSecret; }
  const std::optional<Date>& expirationDate() const { return _expirationDate; }
  // The REST endpoint over HTTP and over HTTPS.
  const std::string& apiURL() const { return _server.restURL; }
  const std::string& apiSecureURL() const { return _server.restSecureURL; }
  bool isConnected() const { return _sessionKey.has_value(); }

  // Where the service is; MGServerConfiguration::standard() to begin with.
  const MGServerConfiguration& serverConfiguration() const { return _server; }
  void setServerConfiguration(const MGServerConfiguration& server) { _server = server; }
  // The settings store the session is saved in (Defaults::standard() to
  // begin with); not owned.
  Defaults& userDefaults() const { return *_defaults; }
  void setUserDefaults(Defaults& defaults) { _defaults = &defaults; }

  // Takes the user's session and saves it. Delegates are not told.
  void begin(std::uint64_t uid, const std::optional<std::string>& sessionKey,
             const std::optional<std::string>& sessionSecret, const std::optional<Date>& expires);
  // Restores the saved session and tells every delegate didLogin. False,
  // telling nobody, when nothing is saved or the saved session has expired.
  bool resume();
  // Ends the session: delegates hear willLogout, the login host's cookies
  // are deleted, the saved session is removed, delegates hear
  // sessionDidLogout. Without a session only the saved keys are removed.
  void logout();

  // Starts request now or, when three have started in the last two
  // seconds, as soon as pacing allows. Requests call this themselves.
  bool send(const std::shared_ptr<MGRequest>& request);

  // Requests held back by pacing.
  std::size_t queuedRequestCount() const { return _requestQueue.size(); }

 private:
  struct Private {};

 public:
  MGSession(Private, const std::string& key, const std::optional<std::string>& secret,
            const std::optional<std::string>& getSessionProxy);

 private:
  friend class MGRequest;
  using SteadyClock = std::chrono::steady_clock;

  void save();
  void unsave();
  bool performRequest(const std::shared_ptr<MGRequest>& request, bool enqueue);
  void enqueueRequest(const std::shared_ptr<MGRequest>& request);
  // Takes a waiting request out of the queue; false when it is not there.
  bool dequeueRequest(const MGRequest* request);
  void flushRequestQueue();
  void startFlushTimer();
  void requestTimerReady();
  void deleteLoginCookies();
  template <typename Fn>
  void tellDelegates(Fn fn);

  std::vector<MGSessionDelegate*> _delegates;
  std::string _apiKey;
  std::optional<std::string> _apiSecret;
  std::optional<std::string> _getSessionProxy;
  std::uint64_t _uid = 0;
  std::optional<std::string> _sessionKey;
  std::optional<std::string> _sessionSecret;
  std::optional<Date> _expirationDate;
  std::deque<std::shared_ptr<MGRequest>> _requestQueue;
  std::optional<SteadyClock::time_point> _lastRequestTime;
  std::int32_t _requestBurstCount = 0;
  std::optional<RunLoop::Handle> _requestTimer;
  RunLoop* _requestTimerLoop = nullptr;

  MGServerConfiguration _server;
  Defaults* _defaults;
};

}  // namespace glowsnap
