// Requests answering challenges against real servers: the project's
// loopback server (Basic, the session, the delegate), lighttpd (Digest,
// MD5 and SHA-256), squid (407 with Basic, Digest and NTLM), a keyring on a
// private bus, and proxies chosen by a PAC script served over HTTP.
#include <gtest/gtest.h>

#include <thread>

#include "http/HTTPRequest.h"
#include "http/TestEnvironment.h"
#include "support/LighttpdServer.h"
#include "support/LoopbackServer.h"
#include "support/MainLoop.h"
#include "support/PrivateKeyring.h"
#include "support/SquidProxy.h"

namespace glowsnap::test {
namespace {

std::shared_ptr<HTTPRequest> requestFor(const std::string& url) {
  return HTTPRequest::requestWithURL(URL::parse(url));
}

const char* kBasic = "Basic dXNlcjpwYXNz";  // user:pass

// Answers with 200 only to user:pass, with Basic.
LoopbackServer basicServer(const std::string& realm = "natter") {
  return LoopbackServer([realm](const RawRequest& r, ServerConnection& c) {
    if (r.header("Authorization") == kBasic)
      c.respond(200, "welcome", {{"Content-Type", "text/plain"}});
    else
      c.respond(401, "denied", {{"WWW-Authenticate", "Basic realm=\"" + realm + "\""}});
  });
}

class Authentication : public ::testing::Test {
 protected:
  void SetUp() override { HTTPRequest::clearSession(); }
  void TearDown() override { HTTPRequest::clearSession(); }
};

TEST_F(Authentication, BasicIsAnsweredAndKeptForTheSessionOfThatOriginOnly) {
  auto server = basicServer();
  auto request = requestFor(server.url("/account"));
  request->setUsername("user");
  request->setPassword("pass");
  request->start();
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_EQ(request->responseString(), "welcome");
  EXPECT_EQ(request->authenticationRetryCount(), 1);
  ASSERT_EQ(server.requestCount(), 2u);
  EXPECT_FALSE(server.requests()[0].hasHeader("Authorization"));
  EXPECT_EQ(server.requests()[1].header("Authorization"), kBasic);

  // The next request of the process sends them before it is asked...
  auto again = requestFor(server.url("/other"));
  again->start();
  ASSERT_EQ(again->error(), nullptr);
  ASSERT_EQ(server.requestCount(), 3u);
  EXPECT_EQ(server.requests()[2].header("Authorization"), kBasic);

  // ...and never to another origin.
  auto elsewhere = basicServer();
  auto other = requestFor(elsewhere.url("/"));
  other->start();
  ASSERT_NE(other->error(), nullptr);
  EXPECT_EQ(other->error()->code, 3);
  for (const auto& r : elsewhere.requests()) EXPECT_FALSE(r.hasHeader("Authorization"));
}

TEST_F(Authentication, TheURLsOwnCredentialsComeFirst) {
  auto server = basicServer();
  std::string url = server.url("/x");
  url.insert(url.find("//") + 2, "user:pass@");
  auto request = requestFor(url);
  request->setUsername("wrong");
  request->setPassword("wrong");
  request->setUseSessionPersistance(false);
  request->start();
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_EQ(request->responseString(), "welcome");
}

TEST_F(Authentication, WrongCredentialsFailWithCode3WithoutADelegate) {
  auto server = basicServer();
  RecordingDelegate delegate;
  auto request = requestFor(server.url("/"));
  request->setUsername("user");
  request->setPassword("wrong");
  request->setDelegate(&delegate);
  request->start();
  ASSERT_NE(request->error(), nullptr);
  EXPECT_EQ(request->error()->code, 3);
  EXPECT_FALSE(request->responseString().has_value());
  EXPECT_EQ(server.requestCount(), 2u);
  ASSERT_TRUE(spinMainLoopUntil([&] { return delegate.failed == 1; }))
      << "the refused request never reported its failure";
  // Refused credentials are not kept for the session.
  EXPECT_TRUE(HTTPRequest::sessionCredentials().empty());
}

// Asks for credentials like a dialog would: on the main thread, answering
// later (or at once).
class AskingDelegate : public HTTPRequestDelegate {
 public:
  bool respondsToSelector(const Selector& s) const override {
    return s == "authorizationNeededForRequest:" || s == "requestFinished:" ||
           s == "requestFailed:";
  }
  void performSelector(const Selector& s, HTTPRequest& r) override {
    if (s != "authorizationNeededForRequest:") return;
    ++asked;
    onMainThread = isMainThread();
    r.setUsername("user");
    r.setPassword("pass");
    if (answerLater) {
      auto self = r.shared_from_this();
      RunLoop::main().addTimer(
          0.05, 0, [self] { self->retryWithAuthentication(); }, RunLoop::kDefaultMode);
    } else {
      r.retryWithAuthentication();
    }
  }
  std::atomic<int> asked{0};
  std::atomic<bool> onMainThread{false};
  bool answerLater = false;
};

TEST_F(Authentication, TheDelegateIsAskedOnTheMainThreadAndAnswersFromAnyThread) {
  auto server = basicServer();
  // A request on a worker thread; the delegate answers during the message.
  AskingDelegate now;
  auto request = requestFor(server.url("/"));
  request->setDelegate(&now);
  std::thread worker([&] { request->start(); });
  // Not fatal: the worker is joined either way (the request times out).
  EXPECT_TRUE(spinMainLoopUntil([&] { return request->isFinished(); }))
      << "the request did not finish";
  worker.join();
  // Its finish message may still wait for the main loop; the delegate goes
  // away with this test.
  request->setDelegate(nullptr);
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_EQ(now.asked, 1);
  EXPECT_TRUE(now.onMainThread);

  // A request on the main thread itself; the delegate answers later, from
  // a timer of the main loop.
  HTTPRequest::clearSession();
  AskingDelegate later;
  later.answerLater = true;
  auto onMain = requestFor(server.url("/"));
  onMain->setDelegate(&later);
  onMain->start();
  ASSERT_EQ(onMain->error(), nullptr);
  EXPECT_EQ(onMain->responseString(), "welcome");
  EXPECT_EQ(later.asked, 1);
}

TEST_F(Authentication, ChallengesThatCannotBeReadOrAnswered) {
  LoopbackServer server([](const RawRequest& r, ServerConnection& c) {
    if (r.target == "/none")
      c.respond(401, "no challenge");
    else
      c.respond(401, "", {{"WWW-Authenticate", "Negotiate"}});
  });
  auto none = requestFor(server.url("/none"));
  none->setUsername("u");
  none->setPassword("p");
  none->start();
  ASSERT_NE(none->error(), nullptr);
  EXPECT_EQ(none->error()->code, 7);
  EXPECT_EQ(none->error()->description,
            "Failed to get authentication object from response headers");
  auto negotiate = requestFor(server.url("/negotiate"));
  negotiate->setUsername("u");
  negotiate->setPassword("p");
  negotiate->start();
  ASSERT_NE(negotiate->error(), nullptr);
  EXPECT_EQ(negotiate->error()->code, 3);
}

TEST_F(Authentication, CredentialsAreNotCarriedToAnotherHostByARedirect) {
  auto target = basicServer();
  LoopbackServer origin([&](const RawRequest& r, ServerConnection& c) {
    if (r.header("Authorization") == kBasic)
      c.respond(302, "", {{"Location", target.url("/landing")}});
    else
      c.respond(401, "", {{"WWW-Authenticate", "Basic realm=\"origin\""}});
  });
  for (bool session : {true, false}) {
    HTTPRequest::clearSession();
    auto request = requestFor(origin.url("/start"));
    request->setUsername("user");
    request->setPassword("pass");
    request->setUseSessionPersistance(session);
    request->start();
    ASSERT_NE(request->error(), nullptr);
    EXPECT_EQ(request->error()->code, 3);
  }
  for (const auto& r : target.requests()) EXPECT_FALSE(r.hasHeader("Authorization"));
  EXPECT_EQ(target.requestCount(), 2u);
}

TEST_F(Authentication, DigestAgainstLighttpdWithMD5AndSHA256) {
  std::string why;
  auto server = LighttpdServer::start(&why);
  if (!server) GTEST_SKIP() << why;
  server->addFile("md5/index.txt", "md5 content");
  server->addFile("sha256/index.txt", "sha256 content");
  for (const char* path : {"/md5/index.txt", "/sha256/index.txt"}) {
    auto request = requestFor(server->url(path));
    request->setUsername(LighttpdServer::kUser);
    request->setPassword(LighttpdServer::kPassword);
    request->setUseSessionPersistance(false);
    request->start();
    ASSERT_EQ(request->error(), nullptr) << path << ": " << request->error()->description;
    EXPECT_EQ(request->responseStatusCode(), 200);
    EXPECT_EQ(request->authenticationMethod(), "Digest");
    EXPECT_EQ(request->authenticationRealm(), std::string(path).find("md5") != std::string::npos
                                                  ? LighttpdServer::kMD5Realm
                                                  : LighttpdServer::kSHA256Realm);
    EXPECT_EQ(request->responseString().value_or("").substr(0, 3), std::string(path).substr(1, 3));
  }
  auto wrong = requestFor(server->url("/sha256/index.txt"));
  wrong->setUsername(LighttpdServer::kUser);
  wrong->setPassword("not it");
  wrong->start();
  ASSERT_NE(wrong->error(), nullptr);
  EXPECT_EQ(wrong->error()->code, 3);
  EXPECT_NE(server->errorLog().find("wrong password"), std::string::npos);
}

struct ProxyCase {
  SquidProxy::Scheme scheme;
  const char* method;
};

class ProxyAuthentication : public ::testing::TestWithParam<ProxyCase> {};

TEST_P(ProxyAuthentication, SquidsChallengeIsAnswered) {
  if (!findProgram("squid")) GTEST_SKIP() << "squid is not installed";
  LoopbackServer origin([](const RawRequest& r, ServerConnection& c) {
    c.respond(200, r.hasHeader("Proxy-Authorization") ? "leaked" : "through",
              {{"Connection", "close"}});
    c.close();
  });
  std::string why;
  SquidProxy::Options o;
  o.scheme = GetParam().scheme;
  auto squid = SquidProxy::start(o, &why);
  ASSERT_TRUE(squid) << why;

  auto refused = requestFor(origin.url("/a"));
  refused->setProxyHost("127.0.0.1");
  refused->setProxyPort(squid->port());
  refused->start();
  ASSERT_NE(refused->error(), nullptr);
  EXPECT_EQ(refused->error()->code, 3);
  EXPECT_EQ(refused->responseStatusCode(), 407);

  auto request = requestFor(origin.url("/b"));
  request->setProxyHost("127.0.0.1");
  request->setProxyPort(squid->port());
  request->setProxyUsername(o.user);
  request->setProxyPassword(o.password);
  request->setProxyDomain("WORKGROUP");
  request->start();
  ASSERT_EQ(request->error(), nullptr) << request->error()->description;
  EXPECT_EQ(request->responseString(), "through");
  EXPECT_EQ(request->proxyAuthenticationMethod(), GetParam().method);
  // Squid logs a request once it is done with it.
  EXPECT_TRUE(waitUntil([&] { return squid->accessLog().find(o.user) != std::string::npos; },
                        std::chrono::seconds(10)))
      << squid->accessLog();

  if (GetParam().scheme != SquidProxy::Scheme::NTLM) {
    auto wrong = requestFor(origin.url("/c"));
    wrong->setProxyHost("127.0.0.1");
    wrong->setProxyPort(squid->port());
    wrong->setProxyUsername(o.user);
    wrong->setProxyPassword("wrong");
    wrong->start();
    ASSERT_NE(wrong->error(), nullptr);
    EXPECT_EQ(wrong->error()->code, 3);
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, ProxyAuthentication,
                         ::testing::Values(ProxyCase{SquidProxy::Scheme::Basic, "Basic"},
                                           ProxyCase{SquidProxy::Scheme::Digest, "Digest"},
                                           ProxyCase{SquidProxy::Scheme::NTLM, "NTLM"}),
                         [](const auto& info) { return std::string(info.param.method); });

// Answers a proxy's challenge the way a dialog would.
class ProxyDelegate : public HTTPRequestDelegate {
 public:
  bool respondsToSelector(const Selector& s) const override {
    return s == "proxyAuthorizationNeededForRequest:";
  }
  void performSelector(const Selector&, HTTPRequest& r) override {
    ++asked;
    r.setProxyUsername("squiduser");
    r.setProxyPassword("squid password");
    r.retryWithAuthentication();
  }
  std::atomic<int> asked{0};
};

TEST(ProxyDelegate, IsAskedForTheProxysCredentialsOnTheMainThread) {
  if (!findProgram("squid")) GTEST_SKIP() << "squid is not installed";
  LoopbackServer origin([](const RawRequest&, ServerConnection& c) {
    c.respond(200, "through", {{"Connection", "close"}});
    c.close();
  });
  std::string why;
  SquidProxy::Options o;
  o.scheme = SquidProxy::Scheme::Digest;
  auto squid = SquidProxy::start(o, &why);
  ASSERT_TRUE(squid) << why;
  ProxyDelegate delegate;
  auto request = requestFor(origin.url("/"));
  request->setProxyHost("127.0.0.1");
  request->setProxyPort(squid->port());
  request->setDelegate(&delegate);
  std::thread worker([&] { request->start(); });
  // Not fatal: the worker is joined either way (the request times out).
  EXPECT_TRUE(spinMainLoopUntil([&] { return request->isFinished(); }))
      << "the request did not finish";
  worker.join();
  // Its finish message may still wait for the main loop; the delegate goes
  // away with this test.
  request->setDelegate(nullptr);
  ASSERT_EQ(request->error(), nullptr) << request->error()->description;
  EXPECT_EQ(request->responseString(), "through");
  EXPECT_EQ(delegate.asked, 1);
  EXPECT_EQ(request->proxyAuthenticationRetryCount(), 1);
}

TEST(ServerNTLM, SquidAsAServerAsksWith401AndTheEngineAnswers) {
  if (!findProgram("squid")) GTEST_SKIP() << "squid is not installed";
  LoopbackServer origin([](const RawRequest&, ServerConnection& c) {
    c.respond(200, "behind", {{"Connection", "close"}});
    c.close();
  });
  std::string why;
  SquidProxy::Options o;
  o.scheme = SquidProxy::Scheme::NTLM;
  o.reverseToPort = origin.port();
  auto front = SquidProxy::start(o, &why);
  ASSERT_TRUE(front) << why;
  auto request = requestFor("http://127.0.0.1:" + std::to_string(front->port()) + "/");
  request->setUsername("alice");
  request->setPassword("secret");
  request->setUseSessionPersistance(false);
  request->start();
  ASSERT_EQ(request->error(), nullptr) << request->error()->description;
  EXPECT_EQ(request->responseString(), "behind");
  EXPECT_EQ(request->authenticationMethod(), "NTLM");
  EXPECT_EQ(request->authenticationRetryCount(), 1);
}

TEST(KeyringCredentials, AreFoundForTheirSpaceAndKeptOnceTheyWork) {
  std::string why;
  auto* keyring = PrivateKeyring::keyring(&why);
  if (!keyring) GTEST_SKIP() << why;
  HTTPRequest::clearSession();
  auto server = basicServer("kept");
  auto url = *URL::parse(server.url("/"));
  ASSERT_TRUE(HTTPRequest::saveCredentials({"user", "pass"}, "127.0.0.1", url.effectivePort(),
                                           "http", "kept")
                  .ok());
  auto request = HTTPRequest::requestWithURL(url);
  request->setUseKeychainPersistance(true);
  request->setUseSessionPersistance(false);
  request->start();
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_EQ(request->responseString(), "welcome");
  ASSERT_TRUE(
      HTTPRequest::removeCredentials("127.0.0.1", url.effectivePort(), "http", "kept").ok());

  // Given on the request, they are kept once the server took them.
  auto keeps = HTTPRequest::requestWithURL(url);
  keeps->setUseKeychainPersistance(true);
  keeps->setUseSessionPersistance(false);
  keeps->setUsername("user");
  keeps->setPassword("pass");
  keeps->start();
  ASSERT_EQ(keeps->error(), nullptr);
  EXPECT_EQ(keeps->keychainError(), nullptr);
  auto saved = HTTPRequest::savedCredentials("127.0.0.1", url.effectivePort(), "http", "kept");
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->user, "user");
  (void)HTTPRequest::removeCredentials("127.0.0.1", url.effectivePort(), "http", "kept");
}

TEST(PACProxies, AScriptServedOverHTTPChoosesTheProxyAgainAfterARedirect) {
  if (!findProgram("squid")) GTEST_SKIP() << "squid is not installed";
  std::string why;
  SquidProxy::Options o;
  o.scheme = SquidProxy::Scheme::None;
  auto squid = SquidProxy::start(o, &why);
  ASSERT_TRUE(squid) << why;
  LoopbackServer direct([](const RawRequest& r, ServerConnection& c) {
    c.respond(200, "direct " + r.target, {{"Connection", "close"}});
    c.close();
  });
  LoopbackServer proxied([&](const RawRequest&, ServerConnection& c) {
    c.respond(302, "", {{"Location", direct.url("/landed")}, {"Connection", "close"}});
    c.close();
  });
  std::string script =
      "function FindProxyForURL(url, host) {\n"
      "  if (shExpMatch(url, '*:" +
      std::to_string(proxied.port()) +
      "/*')) return 'PROXY 127.0.0.1:" + std::to_string(squid->port()) +
      "';\n  return 'DIRECT';\n}\n";
  LoopbackServer pac([&](const RawRequest&, ServerConnection& c) {
    c.respond(200, script, {{"Content-Type", "application/x-ns-proxy-autoconfig"}});
  });
  auto request = requestFor(proxied.url("/start"));
  request->setPACurl(URL::parse(pac.url("/proxy.pac")));
  request->start();
  ASSERT_EQ(request->error(), nullptr) << request->error()->description;
  EXPECT_EQ(request->responseString(), "direct /landed");
  // The first request went through squid, the redirected one straight to
  // its server.
  EXPECT_TRUE(
      waitUntil([&] { return squid->accessLog().find(proxied.url("/start")) != std::string::npos; },
                std::chrono::seconds(10)))
      << squid->accessLog();
  EXPECT_EQ(squid->accessLog().find("/landed"), std::string::npos);
  EXPECT_EQ(request->proxyHost(), "");
  EXPECT_GE(pac.requestCount(), 2u);

  auto missing = requestFor(direct.url("/"));
  missing->setPACurl(URL::parse("http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/p"));
  missing->start();
  ASSERT_NE(missing->error(), nullptr);
  EXPECT_EQ(missing->error()->code, 6);
  EXPECT_EQ(missing->error()->description,
            "Unable to obtain information on proxy servers needed for request");
  ASSERT_NE(missing->error()->underlying, nullptr);
}

}  // namespace
}  // namespace glowsnap::test
