// Signed REST calls: the signature and the body byte for byte, then real
// calls against a running glowsnap-services (session, query, upload, error
// answers) and every way a call can fail, each reported once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mingle/MGGlobal.h"
#include "mingle/MGRequest.h"
#include "mingle/MGSession.h"
#include "mingle/MingleTestEnvironment.h"
#include "platform/graphics/ImageIO.h"
#include "platform/net/MD5.h"
#include "platform/net/XMLParser.h"
#include "support/ClosedPort.h"
#include "support/LoopbackServer.h"
#include "support/MainLoop.h"
#include "support/TestImages.h"

namespace glowsnap {
namespace {

using test::LoopbackServer;
using test::RawRequest;
using test::ServerConnection;

constexpr const char* kBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";

struct Outcome : MGRequestDelegate {
  std::vector<std::string> events;
  std::optional<MGValue> result;
  std::optional<Error> error;
  int callbacks = 0;
  void requestLoading(MGRequest&) override { events.push_back("loading"); }
  void didReceiveResponse(MGRequest&, const URLResponse& r) override {
    events.push_back("response " + std::to_string(r.statusCode));
  }
  void didLoad(MGRequest&, const MGValue& r) override {
    events.push_back("load");
    result = r;
    ++callbacks;
  }
  void didFailWithError(MGRequest&, const Error& e) override {
    events.push_back("fail");
    error = e;
    ++callbacks;
  }
  void requestWasCancelled(MGRequest&) override {
    events.push_back("cancelled");
    ++callbacks;
  }
  bool done() const { return callbacks > 0; }
};

std::shared_ptr<MGSession> sessionAt(const std::string& base,
                                     std::optional<std::string> secret = "app-secret") {
  auto s = MGSession::initWithKey("app-key", secret, std::nullopt);
  MGServerConfiguration c;
  EXPECT_TRUE(MGServerConfiguration::forServer(base, c));
  s->setServerConfiguration(c);
  return s;
}

std::string text(const MGParams& params, const std::string& name) {
  return std::get<std::string>(params.at(name));
}

TEST(MGRequestSignature, NamesInCaseInsensitiveOrderImagesLeftOutSecretLast) {
  auto image = test::gradientImage(4, 4);
  auto sig = MGRequest::signatureOf({{"b", "2"}, {"A", "1"}, {"c", "3"}}, "S");
  EXPECT_EQ(sig, md5HexString("A=1b=2c=3S"));
  EXPECT_EQ(MGRequest::signatureOf({{"b", "2"}, {"A", "1"}}, ""), md5HexString("A=1b=2"));

  auto session = sessionAt("http://127.0.0.1:1", std::nullopt);
  MGParams params{{"b", std::string("2")}, {"A", std::string("1")}, {"image", image}};
  EXPECT_EQ(MGRequest::generateSig(session.get(), "photos.upload", params), md5HexString("A=1b=2"))
      << "no secret at all: the parameter text alone";
}

TEST(MGRequestSignature, StandardParametersAndTheSecretEachMethodIsSignedWith) {
  auto session = sessionAt("http://127.0.0.1:1");
  session->begin(5, "the-session", "session-secret", std::nullopt);
  auto call = MGRequest::callParams(*session, "photos.upload", {{"caption", std::string("x")}});
  ASSERT_TRUE(call);
  EXPECT_EQ(text(*call, "method"), "photos.upload");
  EXPECT_EQ(text(*call, "api_key"), "app-key");
  EXPECT_EQ(text(*call, "v"), "1.0");
  EXPECT_EQ(text(*call, "format"), "XML");
  EXPECT_EQ(text(*call, "session_key"), "the-session");
  EXPECT_EQ(text(*call, "ss"), "1");
  std::string callId = text(*call, "call_id");
  EXPECT_EQ(callId.find('.'), std::string::npos) << "whole seconds";
  EXPECT_NEAR(std::stod(callId), static_cast<double>(std::time(nullptr)), 2.0);
  std::string expected = "api_key=app-keycall_id=" + callId +
                         "caption=xformat=XMLmethod=photos.uploadsession_key=the-sessionss=1v=1.0"
                         "session-secret";
  EXPECT_EQ(text(*call, "sig"), md5HexString(expected));

  // The session-less methods: no session parameters, signed with the API secret.
  auto login =
      MGRequest::callParams(*session, "mingle.auth.getSession", {{"auth_token", std::string("t")}});
  ASSERT_TRUE(login);
  for (const char* absent : {"session_key", "call_id", "ss"}) EXPECT_FALSE(login->count(absent));
  EXPECT_EQ(text(*login, "sig"),
            md5HexString("api_key=app-keyauth_token=tformat=XMLmethod=mingle.auth.getSession"
                         "v=1.0app-secret"));
}

TEST(MGRequestBody, TheMultipartLayoutByteForByte) {
  auto image = test::gradientImage(16, 8);
  auto jpeg = imageio::encodeJpeg(*image, 0.75f);
  ASSERT_TRUE(jpeg);
  auto body = MGRequest::postBody(
      {{"b", std::string("two\r\nlines")}, {"A", std::string("1")}, {"image", image}});
  ASSERT_TRUE(body) << body.error().description;
  std::string b = kBoundary;
  std::string expected =
      "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"A\"\r\n\r\n1\r\n--" + b + "\r\n" +
      "Content-Disposition: form-data; name=\"b\"\r\n\r\ntwo\r\nlines\r\n--" + b + "\r\n" +
      "Content-Disposition: form-data; filename=\"photo\"\r\n"
      "Content-Type: image/jpeg\r\n\r\n" +
      stringFromBytes(*jpeg) + "\r\n--" + b + "\r\n";
  EXPECT_EQ(stringFromBytes(*body), expected) << "and no closing \"--\"";
}

TEST(MGRequestBody, ValuesThatWouldBreakTheFormAreRefused) {
  auto hostile = MGRequest::postBody(
      {{"caption", std::string("a\r\n--") + kBoundary + "\r\nContent-Disposition: x"}});
  ASSERT_FALSE(hostile);
  EXPECT_EQ(hostile.error().code, kMGInvalidParameterError);
  EXPECT_NE(hostile.error().description.find("caption"), std::string::npos);
  auto badName = MGRequest::postBody({{"a\"b", std::string("x")}});
  ASSERT_FALSE(badName);
  EXPECT_EQ(badName.error().code, kMGInvalidParameterError);
}

// Against the real service.
using MGRequestServerTest = test::MingleServerTest;

TEST_F(MGRequestServerTest, LogInQueryAndUploadAPhotoThatArrivesIntact) {
  ASSERT_TRUE(logIn(*session_));
  EXPECT_TRUE(session_->isConnected());
  EXPECT_EQ(session_->uid(), 1u);

  Outcome query;
  auto q = MGRequest::requestWithDelegate(&query);
  char text[128];
  std::snprintf(text, sizeof text, "select uid,name from user where uid == %lld",
                static_cast<long long>(session_->uid()));
  q->call("mingle.query", {{"query", std::string(text)}});
  EXPECT_EQ(q->description(), "<MGRequest mingle.query>");
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return query.done(); }));
  ASSERT_TRUE(query.result) << query.error->description;
  EXPECT_EQ(query.result->description(), "[{uid: \"1\", name: \"ann\"}]");

  auto image = test::photoLikeImage(320, 240);
  Outcome upload;
  auto u = MGRequest::requestWithDelegate(&upload);
  u->call("photos.upload", {{"image", image}});
  EXPECT_TRUE(u->loading());
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return upload.done(); }));
  ASSERT_TRUE(upload.result) << upload.error->description;
  EXPECT_EQ(upload.events, (std::vector<std::string>{"loading", "response 200", "load"}));
  EXPECT_FALSE(u->loading());
  EXPECT_TRUE(u->timestamp());
  auto pid = upload.result->stringForKey("pid");
  ASSERT_TRUE(pid);
  EXPECT_EQ(upload.result->stringForKey("width"), "320");

  // The stored file holds exactly the JPEG the client made.
  auto jpeg = imageio::encodeJpeg(*image, 0.75f);
  std::vector<std::filesystem::path> files;
  for (const auto& e :
       std::filesystem::recursive_directory_iterator(server_->dataDirectory() / "photos"))
    if (e.is_regular_file()) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  std::ifstream in(files[0], std::ios::binary);
  std::stringstream stored;
  stored << in.rdbuf();
  EXPECT_TRUE(stored.str() == stringFromBytes(*jpeg));
}

TEST_F(MGRequestServerTest, ErrorAnswersReachTheDelegateOnceAsErrorsOfTheServersHost) {
  // Signed with a secret the service does not know.
  auto wrong = MGSession::initWithKey(server_->apiKey, "not-the-secret", std::nullopt);
  wrong->setServerConfiguration(session_->serverConfiguration());
  Outcome o;
  auto r = MGRequest::requestWithSession(wrong, &o);
  r->call("mingle.auth.getSession", {{"auth_token", issueToken()}});
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return o.done(); }));
  test::spinMainLoopFor(0.1);
  EXPECT_EQ(o.callbacks, 1);
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->domain, "127.0.0.1");
  EXPECT_EQ(o.error->code, 104);
  EXPECT_EQ(o.error->description, "incorrect signature");
  EXPECT_NE(o.error->userInfo.at("request_args").find("method=mingle.auth.getSession"),
            std::string::npos);
  EXPECT_EQ(o.error->userInfo.at("request_args").find("auth_token"), std::string::npos)
      << "the service does not echo secrets";

  // A call on a session that has no key: the service refuses it.
  Outcome notLoggedIn;
  auto upload = MGRequest::requestWithDelegate(&notLoggedIn);
  upload->call("photos.upload", {{"image", test::gradientImage(8, 8)}});
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return notLoggedIn.done(); }));
  ASSERT_TRUE(notLoggedIn.error);
  EXPECT_EQ(notLoggedIn.error->code, 102);
  EXPECT_FALSE(notLoggedIn.result);
}

TEST(MGRequestFailures, RefusedConnectionTimeOutBadXMLAndHTTPFailures) {
  {
    // Refused: nothing listens there.
    auto session = sessionAt(test::closedLoopbackURL());
    Outcome o;
    auto r = MGRequest::requestWithSession(session, &o);
    r->call("mingle.query", {{"query", std::string("q")}});
    ASSERT_TRUE(test::spinMainLoopUntil([&] { return o.done(); }));
    test::spinMainLoopFor(0.1);
    EXPECT_EQ(o.callbacks, 1);
    EXPECT_EQ(o.error->domain, URLConnection::kErrorDomain);
    EXPECT_EQ(o.error->code, URLConnection::kCannotConnectToHost);
  }

  std::string answer;
  int status = 200;
  bool hold = false;
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) {
    if (hold)
      c.hold();
    else
      c.respond(status, answer, {{"Content-Type", "text/xml"}});
  });
  auto run = [&](double timeout = 30) {
    // A session each, so that pacing holds nothing back.
    auto session = sessionAt("http://127.0.0.1:" + std::to_string(server.port()));
    auto o = std::make_shared<Outcome>();
    auto r = MGRequest::requestWithSession(session, o.get());
    r->setTimeoutInterval(timeout);
    r->call("mingle.query", {{"query", std::string("q")}});
    EXPECT_TRUE(test::spinMainLoopUntil([&] { return o->done(); }, 20));
    test::spinMainLoopFor(0.05);
    EXPECT_EQ(o->callbacks, 1);
    EXPECT_FALSE(o->result);
    return o;
  };

  answer = "<mingle_query_response><a></mingle_query_response>";
  auto malformed = run();
  EXPECT_EQ(malformed->error->domain, XMLParser::kErrorDomain);

  status = 500;
  answer = "<html><body>Internal error</body></html>";
  auto http = run();
  EXPECT_EQ(http->error->domain, kMGErrorDomain);
  EXPECT_EQ(http->error->code, kMGHTTPStatusError);
  EXPECT_NE(http->error->description.find("500"), std::string::npos);

  status = 503;
  answer = "<error_response><error_code>2</error_code><error_msg>busy</error_msg></error_response>";
  auto rest = run();
  EXPECT_EQ(rest->error->code, 2) << "an error answer wins over the status";

  status = 200;
  answer = "<a>" + std::string(MGRequest::kMaxAnswerBytes, 'x') + "</a>";
  auto huge = run();
  EXPECT_EQ(huge->error->code, kMGAnswerTooLargeError);

  hold = true;
  auto timedOut = run(0.3);
  EXPECT_EQ(timedOut->error->code, URLConnection::kTimedOut);
}

TEST(MGRequestFailures, CancelWhileLoadingTellsOnlyThatItWasCancelled) {
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) { c.hold(); });
  auto session = sessionAt(server.url(""));
  Outcome o;
  auto r = MGRequest::requestWithSession(session, &o);
  r->call("mingle.query", {{"query", std::string("q")}});
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return server.requestCount() >= 1; }));
  EXPECT_TRUE(r->loading());
  r->cancel();
  EXPECT_FALSE(r->loading());
  test::spinMainLoopFor(0.2);
  EXPECT_EQ(o.events, (std::vector<std::string>{"loading", "cancelled"}));
  r->cancel();
  EXPECT_EQ(o.callbacks, 1) << "cancel of a request that is over does nothing";
}

TEST(MGRequestFailures, KeysAreNotSentOverPlainHTTPToAnotherMachine) {
  auto session = sessionAt("http://mingle.example.org");
  session->begin(1, "k", "s", std::nullopt);
  Outcome o;
  auto r = MGRequest::requestWithSession(session, &o);
  r->call("mingle.query", {{"query", std::string("q")}});
  EXPECT_FALSE(o.done()) << "failures arrive from the run loop, not from call()";
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return o.done(); }));
  EXPECT_EQ(o.error->domain, kMGErrorDomain);
  EXPECT_EQ(o.error->code, kMGInsecureTransportError);
  EXPECT_FALSE(r->loading());
}

TEST(MGRequestPost, APlainPostIsAGetWithEveryValueEscapedInTheQuery) {
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) {
    c.respond(200, "<session><uid>3</uid></session>");
  });
  auto session = sessionAt(server.url(""), std::nullopt);
  Outcome o;
  auto r = MGRequest::requestWithSession(session, &o);
  r->post(server.url("/proxy?app=1"),
          {{"auth_token", std::string("a&b=c d")}, {"generate_session_secret", std::string("1")}});
  EXPECT_EQ(r->description(), "<MGRequest " + server.url("/proxy?app=1") + ">");
  ASSERT_TRUE(test::spinMainLoopUntil([&] { return o.done(); }));
  ASSERT_TRUE(o.result);
  EXPECT_EQ(o.result->stringForKey("uid"), "3");
  auto sent = server.requests().at(0);
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.target, "/proxy?app=1&auth_token=a%26b%3Dc%20d&generate_session_secret=1");
  EXPECT_EQ(sent.header("User-Agent"), "MingleKit");
}

}  // namespace
}  // namespace glowsnap
