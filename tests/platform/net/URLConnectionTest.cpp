// The asynchronous URL connection against scripted servers on loopback:
// what goes out, what the delegate hears and in what order, redirects,
// cookies, the time-out, refused connections and cancel.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/net/HTTPCookieStorage.h"
#include "platform/net/URLConnection.h"
#include "support/ClosedPort.h"
#include "support/LoopbackServer.h"
#include "support/MainLoop.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

using test::LoopbackServer;
using test::RawRequest;
using test::ServerConnection;

// The shared cookie store keeps its file in the configuration directory:
// this run's own, made before any test touches the store.
const test::TempDir& configDirectory() {
  static test::TempDir dir;
  return dir;
}
const bool kConfigured =
    (::setenv("GLOWSNAP_CONFIG_DIR", configDirectory().path().c_str(), 1), true);

struct Recorder : URLConnectionDelegate {
  std::vector<std::string> events;
  std::optional<URLResponse> response;
  std::string body;
  std::optional<Error> error;
  bool cancelOnResponse = false;
  void didReceiveResponse(URLConnection& c, const URLResponse& r) override {
    events.push_back("response " + std::to_string(r.statusCode));
    response = r;
    if (cancelOnResponse) c.cancel();
  }
  void didReceiveData(URLConnection&, const Bytes& data) override {
    if (events.empty() || events.back() != "data") events.push_back("data");
    body.append(data.begin(), data.end());
  }
  void didFailWithError(URLConnection&, const Error& e) override {
    events.push_back("fail");
    error = e;
  }
  void connectionDidFinishLoading(URLConnection&) override { events.push_back("finish"); }
  bool done() const {
    return !events.empty() && (events.back() == "fail" || events.back() == "finish");
  }
};

URLRequest requestFor(const std::string& url) {
  URLRequest r(*URL::parse(url));
  r.setHTTPShouldHandleCookies(false);
  return r;
}

TEST(URLConnection, PostsBodyAndHeadersAndDeliversTheAnswerInOrder) {
  std::string content(200000, 'x');
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) {
    c.respond(201, content, {{"X-Answer", "yes"}});
  });
  auto delegate = std::make_shared<Recorder>();
  URLRequest request = requestFor(server.url("/api/rest"));
  request.setHTTPMethod("POST");
  request.setValue(std::string("MingleKit"), "User-Agent");
  request.setValue(std::string("multipart/form-data; boundary=B"), "Content-Type");
  request.setHTTPBody(bytesFromString("--B\r\nbody"));
  std::weak_ptr<URLConnection> weak;
  {
    auto connection = URLConnection::connectionWithRequest(request, delegate);
    weak = connection;
    EXPECT_TRUE(connection->isLoading());
  }
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return delegate->done(); }));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 201", "data", "finish"}));
  EXPECT_EQ(delegate->body, content);
  EXPECT_EQ(delegate->response->allHeaderFields.at("X-Answer"), "yes");
  EXPECT_EQ(delegate->response->expectedContentLength, 200000);
  auto sent = server.requests().at(0);
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.target, "/api/rest");
  EXPECT_EQ(sent.header("User-Agent"), "MingleKit");
  EXPECT_EQ(sent.header("Content-Type"), "multipart/form-data; boundary=B");
  EXPECT_EQ(sent.body, "--B\r\nbody");
  EXPECT_TRUE(weak.expired()) << "the connection lets itself go when it ends";
}

TEST(URLConnection, FollowsRedirectsAndTurnsASeeOtherPostIntoAGet) {
  LoopbackServer server([&](const RawRequest& r, ServerConnection& c) {
    if (r.target == "/post")
      c.respond(303, "", {{"Location", "/moved?x=1"}});
    else if (r.target == "/moved?x=1")
      c.respond(307, "", {{"Location", "/final"}});
    else
      c.respond(200, "final");
  });
  auto delegate = std::make_shared<Recorder>();
  URLRequest request = requestFor(server.url("/post"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(bytesFromString("data"));
  auto connection = URLConnection::connectionWithRequest(request, delegate);
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return delegate->done(); }));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"response 200", "data", "finish"}));
  EXPECT_EQ(delegate->response->url.path(), "/final");
  auto sent = server.requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].method, "GET");
  EXPECT_EQ(sent[1].body, "");
  EXPECT_EQ(sent[2].method, "GET");
  EXPECT_EQ(connection->currentRequest().url().path(), "/final");
  EXPECT_EQ(connection->originalRequest().url().path(), "/post");
}

TEST(URLConnection, EndlessRedirectsFail) {
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) {
    c.respond(302, "", {{"Location", "/again"}});
  });
  auto delegate = std::make_shared<Recorder>();
  auto connection = URLConnection::connectionWithRequest(requestFor(server.url("/")), delegate);
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return delegate->done(); }));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code, URLConnection::kHTTPTooManyRedirects);
  EXPECT_EQ(delegate->events, std::vector<std::string>{"fail"});
}

TEST(URLConnection, KeepsAndSendsCookiesOfTheSharedStoreWhenAsked) {
  LoopbackServer server([&](const RawRequest& r, ServerConnection& c) {
    if (r.target == "/set")
      c.respond(200, "", {{"Set-Cookie", "login=ann; Path=/"}});
    else
      c.respond(200, r.header("Cookie"));
  });
  for (const char* path : {"/set", "/echo"}) {
    auto delegate = std::make_shared<Recorder>();
    URLRequest request(*URL::parse(server.url(path)));
    auto connection = URLConnection::connectionWithRequest(request, delegate);
    ASSERT_TRUE(test::spinMainLoopUntil([&] { return delegate->done(); }));
    if (std::string(path) == "/echo") {
      EXPECT_EQ(delegate->body, "login=ann");
    }
  }
  HTTPCookieStorage::sharedStorage().removeAllCookies();
}

TEST(URLConnection, ARefusedConnectionFailsOnceWithTheURLDomain) {
  std::string url = test::closedLoopbackURL();
  auto delegate = std::make_shared<Recorder>();
  auto connection = URLConnection::connectionWithRequest(requestFor(url), delegate);
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return delegate->done(); }));
  test::spinMainLoopFor(0.1);
  EXPECT_EQ(delegate->events, std::vector<std::string>{"fail"});
  EXPECT_EQ(delegate->error->domain, URLConnection::kErrorDomain);
  EXPECT_EQ(delegate->error->code, URLConnection::kCannotConnectToHost);
  EXPECT_EQ(delegate->error->userInfo.at(URLConnection::kFailingURLKey), url);
  ASSERT_TRUE(delegate->error->underlying);
}

TEST(URLConnection, TimesOutWhenTheServerSaysNothing) {
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) { c.hold(); });
  auto delegate = std::make_shared<Recorder>();
  URLRequest request = requestFor(server.url("/"));
  request.setTimeoutInterval(0.3);
  auto started = std::chrono::steady_clock::now();
  auto connection = URLConnection::connectionWithRequest(request, delegate);
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return delegate->done(); }, 10));
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_GE(took, 0.25);
  EXPECT_EQ(delegate->events, std::vector<std::string>{"fail"});
  EXPECT_EQ(delegate->error->code, URLConnection::kTimedOut);
  EXPECT_FALSE(connection->isLoading());
}

TEST(URLConnection, CancelledConnectionsTellNothingMore) {
  LoopbackServer server(
      [&](const RawRequest&, ServerConnection& c) { c.respond(200, std::string(100000, 'y')); });
  auto delegate = std::make_shared<Recorder>();
  delegate->cancelOnResponse = true;
  auto connection = URLConnection::connectionWithRequest(requestFor(server.url("/")), delegate);
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return !delegate->events.empty(); }));
  test::spinMainLoopFor(0.2);
  EXPECT_EQ(delegate->events, std::vector<std::string>{"response 200"});
  EXPECT_FALSE(connection->isLoading());
  EXPECT_EQ(delegate.use_count(), 1) << "the connection has let its delegate go";
}

TEST(URLConnection, RequestsThatCannotBeSentFailThroughTheDelegate) {
  auto delegate = std::make_shared<Recorder>();
  auto connection =
      URLConnection::connectionWithRequest(URLRequest(*URL::parse("ftp://127.0.0.1/x")), delegate);
  EXPECT_TRUE(delegate->events.empty()) << "not from inside connectionWithRequest";
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return delegate->done(); }));
  EXPECT_EQ(delegate->error->code, URLConnection::kUnsupportedURL);

  auto second = std::make_shared<Recorder>();
  URLRequest bad(*URL::parse("http://127.0.0.1:1/"));
  bad.setValue(std::string("a\r\nInjected: yes"), "X-Field");
  auto connection2 = URLConnection::connectionWithRequest(bad, second);
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return second->done(); }));
  EXPECT_EQ(second->error->code, URLConnection::kBadURL);
}

}  // namespace
}  // namespace glowsnap
