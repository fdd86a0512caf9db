// The stream through a real squid: NTLM answered by the engine on one
// connection (as a proxy and, with squid as an accelerator, as a server),
// the proxy's answer kept away from the server, and a proxy's challenge to
// a tunnel's CONNECT handed to the client as a response.
#include <gtest/gtest.h>

#include "platform/net/HTTPAuthentication.h"
#include "platform/net/HTTPReadStream.h"
#include "support/LoopbackServer.h"
#include "support/SquidProxy.h"

namespace glowsnap {
namespace {

using test::LoopbackServer;
using test::RawRequest;
using test::ServerConnection;
using test::SquidProxy;

struct Outcome {
  int status = 0;
  HTTPHeaderFields headers;
  std::string body;
  std::optional<Error> error;
};

void onEvent(HTTPReadStream& s, unsigned event, void* info) {
  auto* o = static_cast<std::pair<Outcome, bool>*>(info);
  if (event == HTTPReadStream::kHasBytesAvailable) {
    std::uint8_t buf[4096];
    std::int64_t n = s.read(buf, sizeof buf);
    if (n > 0) o->first.body.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
  }
  if (event == HTTPReadStream::kErrorOccurred) o->first.error = s.error();
  if (event == HTTPReadStream::kEndEncountered || event == HTTPReadStream::kErrorOccurred)
    o->second = true;
}

Outcome exchange(const HTTPMessage& message, int proxyPort) {
  std::pair<Outcome, bool> state;
  auto stream = HTTPReadStream::createForHTTPRequest(message);
  EXPECT_TRUE(stream);
  if (!stream) return {};
  if (proxyPort) stream->setHTTPProxy("127.0.0.1", proxyPort);
  stream->setClient(27, &onEvent, &state);
  stream->scheduleWithRunLoop(RunLoop::current(), "ProxyTest");
  EXPECT_TRUE(stream->open());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!state.second && std::chrono::steady_clock::now() < deadline)
    RunLoop::current().runInMode("ProxyTest", 0.2, true);
  EXPECT_TRUE(state.second) << "no end within 20 seconds";
  state.first.status = stream->responseHeader().responseStatusCode();
  state.first.headers = stream->responseHeader().allHeaderFields();
  stream->close();
  return state.first;
}

HTTPMessage get(const std::string& url) {
  return *HTTPMessage::createRequest("GET", *URL::parse(url), HTTPVersion::V1_1);
}

std::unique_ptr<SquidProxy> squid(SquidProxy::Scheme scheme, int reverseTo = 0) {
  std::string why;
  SquidProxy::Options o;
  o.scheme = scheme;
  o.reverseToPort = reverseTo;
  auto p = SquidProxy::start(o, &why);
  if (!p) ADD_FAILURE() << why;
  return p;
}

bool haveSquid(std::string* why) {
  if (test::findProgram("squid")) return true;
  *why = "squid is not installed";
  return false;
}

LoopbackServer origin() {
  return LoopbackServer([](const RawRequest& r, ServerConnection& c) {
    std::string seen = r.hasHeader("Proxy-Authorization") ? "leaked" : "clean";
    c.respond(200, "origin " + seen, {{"Content-Type", "text/plain"}, {"Connection", "close"}});
    // One connection at a time: a proxy must not keep this server to itself.
    c.close();
  });
}

TEST(HTTPReadStreamThroughSquid, TheEngineAnswersNTLMOnOneConnection) {
  std::string why;
  if (!haveSquid(&why)) GTEST_SKIP() << why;
  auto server = origin();
  auto proxy = squid(SquidProxy::Scheme::NTLM);
  ASSERT_TRUE(proxy);

  // Without credentials: the challenge reaches the client.
  auto refused = exchange(get(server.url("/a")), proxy->port());
  EXPECT_FALSE(refused.error);
  EXPECT_EQ(refused.status, 407);
  EXPECT_EQ(refused.headers["Proxy-Authenticate"], "NTLM");
  EXPECT_EQ(server.requestCount(), 0u);

  HTTPMessage m = get(server.url("/b"));
  m.setEngineAuthentication(true, EngineAuthentication{"NTLM", "squiduser", "anything", "CORP"});
  auto answered = exchange(m, proxy->port());
  ASSERT_FALSE(answered.error) << answered.error->description;
  EXPECT_EQ(answered.status, 200);
  EXPECT_EQ(answered.body, "origin clean");
  // Squid logs a request once it is done with it.
  EXPECT_TRUE(
      test::waitUntil([&] { return proxy->accessLog().find("squiduser") != std::string::npos; },
                      std::chrono::seconds(10)))
      << proxy->accessLog();

  // Squid as an accelerator asks as a server does, with 401.
  auto front = squid(SquidProxy::Scheme::NTLM, server.port());
  ASSERT_TRUE(front);
  std::string url = "http://127.0.0.1:" + std::to_string(front->port()) + "/c";
  auto challenged = exchange(get(url), 0);
  EXPECT_EQ(challenged.status, 401);
  EXPECT_EQ(challenged.headers["WWW-Authenticate"], "NTLM");
  HTTPMessage s = get(url);
  s.setEngineAuthentication(false, EngineAuthentication{"NTLM", "serveruser", "anything", ""});
  auto served = exchange(s, 0);
  ASSERT_FALSE(served.error) << served.error->description;
  EXPECT_EQ(served.status, 200);
  EXPECT_EQ(served.body, "origin clean");
}

TEST(HTTPReadStreamThroughSquid, TheProxysAnswerGoesToTheProxyAlone) {
  std::string why;
  if (!haveSquid(&why)) GTEST_SKIP() << why;
  auto server = origin();
  auto proxy = squid(SquidProxy::Scheme::Basic);
  ASSERT_TRUE(proxy);
  HTTPMessage m = get(server.url("/plain"));
  auto challenge = exchange(m, proxy->port());
  ASSERT_EQ(challenge.status, 407);
  HTTPMessage response = HTTPMessage::createEmptyResponse();
  response.setResponseStatusCode(407);
  response.addReceivedHeaderField("Proxy-Authenticate", challenge.headers["Proxy-Authenticate"]);
  auto a = HTTPAuthentication::createFromResponse(response);
  ASSERT_TRUE(a && a->isValid());
  EXPECT_EQ(a->realm(), SquidProxy::kBasicRealm);
  HTTPAuthentication::Credentials c = {
      {HTTPAuthentication::kCFHTTPAuthenticationUsername, "squiduser"},
      {HTTPAuthentication::kCFHTTPAuthenticationPassword, "squid password"}};
  ASSERT_TRUE(a->applyCredentials(m, c));
  auto through = exchange(m, proxy->port());
  EXPECT_EQ(through.status, 200);
  EXPECT_EQ(through.body, "origin clean");

  // A tunnel: the challenge to CONNECT is a response, not a connection
  // failure. With the answer squid lets the tunnel through and tries to open
  // it, to a port where nothing listens, and says so.
  HTTPMessage secure = get("https://127.0.0.1:" + std::to_string(test::freeLoopbackPort()) + "/");
  auto refused = exchange(secure, proxy->port());
  EXPECT_FALSE(refused.error) << refused.error->description;
  EXPECT_EQ(refused.status, 407);
  EXPECT_NE(refused.headers["Proxy-Authenticate"].find("Basic"), std::string::npos);
  ASSERT_TRUE(a->applyCredentials(secure, c));
  auto tunnelled = exchange(secure, proxy->port());
  EXPECT_FALSE(tunnelled.error);
  EXPECT_EQ(tunnelled.status, 503);
}

}  // namespace
}  // namespace glowsnap
