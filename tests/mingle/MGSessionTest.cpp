// The session: saving, resuming and ending it, the shared session, what
// logout does to the login host's cookies, and the pacing of requests
// (three per two seconds) against a running glowsnap-services.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "mingle/MGRequest.h"
#include "mingle/MGSession.h"
#include "mingle/MingleTestEnvironment.h"
#include "platform/foundation/Defaults.h"
#include "platform/net/HTTPCookieStorage.h"
#include "support/MainLoop.h"

namespace glowsnap {
namespace {

using namespace std::chrono;

struct SessionEvents : MGSessionDelegate {
  std::vector<std::string> events;
  MGSession* removeFrom = nullptr;
  MGSessionDelegate* toRemove = nullptr;
  void didLogin(MGSession&, std::uint64_t uid) override {
    events.push_back("login " + std::to_string(uid));
    if (removeFrom) removeFrom->removeDelegate(toRemove);
  }
  void willLogout(MGSession&, std::uint64_t uid) override {
    events.push_back("will logout " + std::to_string(uid));
  }
  void sessionDidLogout(MGSession&) override { events.push_back("did logout"); }
};

class MGSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    defaults_ = std::make_unique<Defaults>(dir_ / "defaults.json");
    session_ = make();
  }
  void TearDown() override { HTTPCookieStorage::sharedStorage().removeAllCookies(); }
  std::shared_ptr<MGSession> make() {
    auto s = MGSession::sessionForApplication("key", "secret", &events_);
    s->setUserDefaults(*defaults_);
    MGServerConfiguration c;
    MGServerConfiguration::forServer("http://mingle.test:8420", c);
    s->setServerConfiguration(c);
    return s;
  }
  test::TempDir dir_;
  std::unique_ptr<Defaults> defaults_;
  SessionEvents events_;
  std::shared_ptr<MGSession> session_;
};

TEST_F(MGSessionTest, BeginSavesTheFourKeysAndANewSessionResumesThem) {
  const std::uint64_t bigUid = (1ull << 63) + 5;
  auto expires = time_point_cast<seconds>(system_clock::now()) + hours(1);
  session_->begin(bigUid, "the-key", "the-secret", expires);
  EXPECT_TRUE(events_.events.empty()) << "begin tells nobody";
  EXPECT_TRUE(session_->isConnected());

  Defaults reread(dir_ / "defaults.json");
  EXPECT_EQ(static_cast<std::uint64_t>(reread.integerForKey("MGUserId")), bigUid);
  EXPECT_EQ(reread.stringForKey("MGSessionKey"), "the-key");
  EXPECT_EQ(reread.stringForKey("MGSessionSecret"), "the-secret");
  EXPECT_EQ(reread.integerForKey("MGSessionExpires"), expires.time_since_epoch().count());

  session_.reset();
  auto next = make();
  EXPECT_TRUE(next->resume());
  EXPECT_EQ(events_.events, std::vector<std::string>{"login " + std::to_string(bigUid)});
  EXPECT_EQ(next->uid(), bigUid);
  EXPECT_EQ(next->sessionKey(), "the-key");
  EXPECT_EQ(next->sessionSecret(), "the-secret");
  EXPECT_EQ(next->expirationDate(), expires);
}

TEST_F(MGSessionTest, ResumeRefusesExpiredAndMissingSessions) {
  EXPECT_FALSE(session_->resume()) << "nothing saved";
  auto past = time_point_cast<seconds>(system_clock::now()) - seconds(1);
  session_->begin(42, "k", "s", past);
  EXPECT_FALSE(session_->resume());
  EXPECT_TRUE(events_.events.empty());
  EXPECT_TRUE(defaults_->hasKey("MGUserId")) << "the saved values stay";

  // A session without expiry (and without a secret) is good at any time.
  session_->begin(42, "k", std::nullopt, std::nullopt);
  EXPECT_FALSE(defaults_->hasKey("MGSessionExpires"));
  EXPECT_FALSE(defaults_->hasKey("MGSessionSecret"));
  EXPECT_TRUE(session_->resume());
  EXPECT_FALSE(session_->expirationDate());
  EXPECT_FALSE(session_->sessionSecret());
}

TEST_F(MGSessionTest, LogoutWithoutASessionOnlyClearsTheSavedKeys) {
  defaults_->setInteger(7, "MGUserId");
  defaults_->setString("stale", "MGSessionSecret");
  session_->logout();
  EXPECT_TRUE(events_.events.empty());
  for (const char* key : {"MGUserId", "MGSessionKey", "MGSessionSecret", "MGSessionExpires"})
    EXPECT_FALSE(defaults_->hasKey(key)) << key;
}

TEST_F(MGSessionTest, LogoutTellsTheDelegatesAndDeletesEveryCookieOfTheLoginHost) {
  auto& store = HTTPCookieStorage::sharedStorage();
  store.removeAllCookies();
  auto cookie = [](const char* name, const char* domain, const char* path, bool secure,
                   bool hostOnly) {
    HTTPCookie c(name, "1", domain, path);
    c.setSecure(secure);
    c.setHostOnly(hostOnly);
    return c;
  };
  store.setCookie(cookie("plain", "mingle.test", "/", false, true));
  store.setCookie(cookie("secure", "mingle.test", "/", true, true));
  store.setCookie(cookie("scoped", "mingle.test", "/login", false, true));
  store.setCookie(cookie("test_cookie", "test", "/", false, false));  // the site's domain
  store.setCookie(cookie("other", "elsewhere.test", "/", false, true));
  store.setCookie(cookie("sub", "www.mingle.test", "/", false, true));

  auto later = time_point_cast<seconds>(system_clock::now()) + hours(1);
  session_->begin(9, "k", "s", later);
  session_->logout();
  EXPECT_EQ(events_.events, (std::vector<std::string>{"will logout 9", "did logout"}));
  EXPECT_FALSE(session_->isConnected());
  EXPECT_EQ(session_->uid(), 0u);
  EXPECT_FALSE(defaults_->hasKey("MGSessionKey"));
  std::vector<std::string> left;
  for (const auto& c : store.cookies()) left.push_back(c.name());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"other", "sub"}));
}

TEST_F(MGSessionTest, TheSharedSessionIsTheFirstOneAndGoesAwayWithIt) {
  MGSession::setSession(nullptr);
  auto first = make();
  EXPECT_EQ(MGSession::session(), first);
  auto second = make();
  EXPECT_EQ(MGSession::session(), first) << "only a session made when there is none";
  first.reset();
  EXPECT_EQ(MGSession::session(), nullptr);
  auto third = make();
  EXPECT_EQ(MGSession::session(), third);
  MGSession::setSession(second);
  EXPECT_EQ(MGSession::session(), second);
}

TEST_F(MGSessionTest, DelegatesHearInTheOrderAddedAndARemovedOneHearsNothingMore) {
  SessionEvents second;
  SessionEvents third;
  session_->addDelegate(&second);
  session_->addDelegate(&third);
  session_->addDelegate(&second);  // once only
  events_.removeFrom = session_.get();
  events_.toRemove = &second;
  session_->begin(3, "k", std::nullopt, std::nullopt);
  EXPECT_TRUE(session_->resume());
  EXPECT_EQ(events_.events.size(), 1u);
  EXPECT_TRUE(second.events.empty());
  EXPECT_EQ(third.events.size(), 1u);
  EXPECT_EQ(session_->delegates().size(), 2u);
}

// Pacing, against the real service.
struct Timed : MGRequestDelegate {
  std::vector<steady_clock::time_point> started;
  int loaded = 0;
  int failed = 0;
  int cancelled = 0;
  void requestLoading(MGRequest&) override { started.push_back(steady_clock::now()); }
  void didLoad(MGRequest&, const MGValue&) override { ++loaded; }
  void didFailWithError(MGRequest&, const Error& e) override {
    ++failed;
    ADD_FAILURE() << e.description;
  }
  void requestWasCancelled(MGRequest&) override { ++cancelled; }
};

class MGPacingTest : public test::MingleServerTest {
 protected:
  void query(MGSession& session, Timed& delegate, std::shared_ptr<MGRequest>* keep = nullptr) {
    auto r = MGRequest::requestWithSession(session.shared_from_this(), &delegate);
    r->call("mingle.query", {{"query", std::string("select uid from user where uid == 1")}});
    if (keep) *keep = r;
  }
};

double secondsBetween(steady_clock::time_point a, steady_clock::time_point b) {
  return duration<double>(b - a).count();
}

TEST_F(MGPacingTest, ThreeRequestsPerTwoSecondsAndTheRestWait) {
  ASSERT_TRUE(logIn(*session_));
  // The log-in was a request of session_'s; a fresh session starts with no
  // burst.
  auto session = makeSession();
  session->begin(session_->uid(), session_->sessionKey(), session_->sessionSecret(), std::nullopt);
  session_ = session;
  Timed d;
  auto t0 = steady_clock::now();
  std::shared_ptr<MGRequest> fifth;
  for (int i = 0; i < 4; ++i) query(*session_, d);
  query(*session_, d, &fifth);
  EXPECT_EQ(d.started.size(), 3u) << "three start at once";
  EXPECT_EQ(session_->queuedRequestCount(), 2u);
  fifth->cancel();
  EXPECT_EQ(d.cancelled, 1) << "a waiting request can be cancelled";
  EXPECT_EQ(session_->queuedRequestCount(), 1u);

  ASSERT_TRUE(test::spinMainLoopUntil([&] { return d.loaded == 4; }, 20));
  ASSERT_EQ(d.started.size(), 4u);
  double fourth = secondsBetween(t0, d.started[3]);
  EXPECT_GE(fourth, 1.9);
  EXPECT_LT(fourth, 3.5);

  // 2.5 seconds after the fourth opened a burst, a new one starts at once.
  test::spinMainLoopFor(2.5 - secondsBetween(d.started[3], steady_clock::now()));
  for (int i = 0; i < 3; ++i) query(*session_, d);
  EXPECT_EQ(d.started.size(), 7u);
  EXPECT_EQ(session_->queuedRequestCount(), 0u);
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return d.loaded == 7; }, 20));
  test::spinMainLoopFor(0.2);
  EXPECT_EQ(d.loaded, 7) << "the cancelled request never went out";
  EXPECT_EQ(d.failed, 0);
}

TEST_F(MGPacingTest, ASessionThatGoesAwayTakesItsWaitingRequestsAndTimerWithIt) {
  ASSERT_TRUE(logIn(*session_));
  Timed d;
  {
    auto other = makeSession();
    other->begin(session_->uid(), session_->sessionKey(), session_->sessionSecret(), std::nullopt);
    for (int i = 0; i < 4; ++i) query(*other, d);
    EXPECT_EQ(other->queuedRequestCount(), 1u);
  }
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return d.loaded == 3; }, 20));
  test::spinMainLoopFor(2.3);
  EXPECT_EQ(d.started.size(), 3u) << "the flush timer died with its session";
  EXPECT_EQ(d.loaded, 3);
}

}  // namespace
}  // namespace glowsnap
