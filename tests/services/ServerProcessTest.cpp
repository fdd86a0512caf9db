// glowsnap-services as a user and a client meet it: a real process on
// loopback, its command line, its pages, and its REST API fed the Mingle
// client's exact bytes, bad ones, too many and too large ones, over HTTP
// and HTTPS.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "mingle/MGRequest.h"
#include "mingle/MGSession.h"
#include "platform/graphics/ImageIO.h"
#include "support/ServicesProcess.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap::services {
namespace {

namespace fs = std::filesystem;
using test::ServicesProcess;

const std::string kContentType =
    std::string("multipart/form-data; boundary=") + MGRequest::kStringBoundary;

using test::filesUnder;

class ServerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { startServer({}); }

  void startServer(const std::vector<std::string>& args) {
    server_ = std::make_unique<ServicesProcess>(GLOWSNAP_SERVICES_EXE);
    std::string error;
    ASSERT_TRUE(server_->addStandardAccounts(error)) << error;
    ASSERT_TRUE(server_->start(error, args)) << error;
    session_ = MGSession::initWithKey(server_->apiKey, server_->secret, std::nullopt);
  }

  httplib::Client client() {
    httplib::Client c("127.0.0.1", server_->port());
    c.set_read_timeout(30, 0);
    return c;
  }

  // The client's body for a call on session_, posted as the client posts it.
  httplib::Result post(const std::string& method, const MGParams& params) {
    auto signedParams = MGRequest::callParams(*session_, method, params);
    auto body = MGRequest::postBody(*signedParams);
    EXPECT_TRUE(body);
    auto c = client();
    return c.Post("/api/rest", stringFromBytes(*body), kContentType.c_str());
  }

  Result<MGValue> call(const std::string& method, const MGParams& params) {
    auto result = post(method, params);
    if (!result) {
      Error e;
      e.description = "no answer: " + httplib::to_string(result.error());
      return e;
    }
    return MGRequest::parseXMLResponse(bytesFromString(result->body), "127.0.0.1");
  }

  std::string token() {
    auto t = server_->run({"issue-token", "ann"});
    EXPECT_EQ(t.status, 0) << t.err;
    return t.out.substr(0, t.out.find('\n'));
  }

  void logIn() {
    auto answer = call("mingle.auth.getSession", {{"auth_token", token()}});
    ASSERT_TRUE(answer) << answer.error().description;
    session_->begin(std::stoull(*answer->stringForKey("uid")), answer->stringForKey("session_key"),
                    answer->stringForKey("secret"), std::nullopt);
  }

  int errorCode(const Result<MGValue>& answer) { return answer ? 0 : answer.error().code; }

  std::unique_ptr<ServicesProcess> server_;
  std::shared_ptr<MGSession> session_;
};

TEST_F(ServerProcessTest, ASessionFromATokenThenAnUploadShownOnTheUsersPage) {
  auto t = token();
  auto answer = call("mingle.auth.getSession", {{"auth_token", t}});
  ASSERT_TRUE(answer) << answer.error().description;
  for (const char* field : {"uid", "session_key", "secret", "expires"})
    EXPECT_TRUE(answer->stringForKey(field)) << field;
  EXPECT_EQ(answer->stringForKey("uid"), "1");
  double expires = std::stod(*answer->stringForKey("expires"));
  EXPECT_NEAR(expires, static_cast<double>(std::time(nullptr)) + 30 * 24 * 3600, 60);
  EXPECT_EQ(errorCode(call("mingle.auth.getSession", {{"auth_token", t}})), 105)
      << "a token is good once";

  session_->begin(1, answer->stringForKey("session_key"), answer->stringForKey("secret"),
                  std::nullopt);
  auto c = client();
  auto empty = c.Get("/users/ann");
  ASSERT_TRUE(empty);
  EXPECT_NE(empty->body.find("Nothing shared yet"), std::string::npos);

  auto jpeg = *imageio::encodeJpeg(*test::gradientImage(64, 48), 0.75f);
  auto upload = call("photos.upload", {{"image", test::gradientImage(64, 48)},
                                       {"caption", std::string("<b>Tom & Jerry's</b>")}});
  ASSERT_TRUE(upload) << upload.error().description;
  EXPECT_EQ(upload->stringForKey("pid"), "1");
  EXPECT_EQ(upload->stringForKey("src"), server_->baseURL() + "/photos/1.jpg");

  auto page = c.Get("/users/ann");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<img src=\"/photos/1.jpg\""), std::string::npos);
  EXPECT_NE(page->body.find("&lt;b&gt;Tom &amp; Jerry&apos;s&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page->body.find("64 × 48"), std::string::npos);
  EXPECT_EQ(page->body.find("<b>Tom"), std::string::npos) << "captions are escaped";
  auto photo = c.Get("/photos/1.jpg");
  ASSERT_TRUE(photo);
  EXPECT_EQ(photo->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_TRUE(photo->body == stringFromBytes(jpeg));

  auto front = c.Get("/");
  ASSERT_TRUE(front);
  EXPECT_NE(front->body.find("href=\"/users/ann\""), std::string::npos);
  EXPECT_NE(front->body.find("1 photo<"), std::string::npos);
  auto css = c.Get("/style.css");
  ASSERT_TRUE(css);
  EXPECT_EQ(css->get_header_value("Content-Type"), "text/css; charset=utf-8");
  for (const char* missing :
       {"/users/nobody", "/photos/2.jpg", "/photos/1.png", "/photos/../services.db", "/nothing"}) {
    auto r = c.Get(missing);
    ASSERT_TRUE(r) << missing;
    EXPECT_EQ(r->status, 404) << missing;
  }

  auto query = call("mingle.query",
                    {{"query", std::string("select pid,caption from photo where owner == 1")}});
  ASSERT_TRUE(query) << query.error().description;
  EXPECT_EQ(query->description(), "[{pid: \"1\", caption: \"<b>Tom & Jerry's</b>\"}]");
  EXPECT_TRUE(server_->stop()) << "the server ends on TERM";
  EXPECT_FALSE(fs::exists(server_->portFile()));
}

TEST_F(ServerProcessTest, BadCallsGetErrorAnswersAndStoreNothing) {
  logIn();
  auto image = test::gradientImage(16, 16);
  // Signed with a wrong session secret.
  auto good = session_->sessionSecret();
  session_->begin(session_->uid(), session_->sessionKey(), std::string("wrong"), std::nullopt);
  EXPECT_EQ(errorCode(call("photos.upload", {{"image", image}})), 104);
  // No session secret: the call is signed with the application's secret,
  // which the service accepts for a session call without "ss".
  session_->begin(session_->uid(), session_->sessionKey(), std::nullopt, std::nullopt);
  EXPECT_EQ(errorCode(call("mingle.query",
                           {{"query", std::string("select uid from user where uid == 1")}})),
            0);
  session_->begin(session_->uid(), session_->sessionKey(), good, std::nullopt);

  EXPECT_EQ(errorCode(call("photos.upload", {{"image", image}, {"aid", std::string("77")}})), 100);
  EXPECT_EQ(errorCode(call("nosuch.method", {})), 3);
  EXPECT_EQ(errorCode(call("mingle.query", {{"query", std::string("select x from y")}})), 601);
  EXPECT_EQ(errorCode(call("photos.upload", {{"caption", std::string("no file")}})), 320);
  EXPECT_EQ(
      errorCode(call("photos.upload", {{"image", image}, {"caption", std::string(3000, 'c')}})),
      100);

  // Not a picture, and a picture cut short.
  auto fileCall = [&](const std::string& data) {
    auto params = *MGRequest::callParams(*session_, "photos.upload", {});
    auto body = stringFromBytes(*MGRequest::postBody(params));
    body +=
        "Content-Disposition: form-data; filename=\"photo\"\r\nContent-Type: image/jpeg\r\n\r\n" +
        data + "\r\n--" + MGRequest::kStringBoundary + "\r\n";
    auto r = client().Post("/api/rest", body, kContentType.c_str());
    return MGRequest::parseXMLResponse(bytesFromString(r ? r->body : ""), "h");
  };
  EXPECT_EQ(errorCode(fileCall("GIF89a, not a JPEG")), 320);
  auto jpeg = stringFromBytes(*imageio::encodeJpeg(*test::photoLikeImage(64, 64), 0.75f));
  EXPECT_EQ(errorCode(fileCall(jpeg.substr(0, jpeg.size() / 2))), 320);

  auto other = MGSession::initWithKey("unknown-key", "s", std::nullopt);
  auto unknown =
      MGRequest::callParams(*other, "mingle.auth.getSession", {{"auth_token", std::string("t")}});
  auto r = client().Post("/api/rest", stringFromBytes(*MGRequest::postBody(*unknown)),
                         kContentType.c_str());
  EXPECT_EQ(errorCode(MGRequest::parseXMLResponse(bytesFromString(r->body), "h")), 101);

  ASSERT_EQ(server_->run({"revoke", "ann", "photo_upload"}).status, 0);
  EXPECT_EQ(errorCode(call("photos.upload", {{"image", image}})), 200);

  EXPECT_EQ(filesUnder(server_->dataDirectory() / "photos"), 0u) << "nothing was stored";
  EXPECT_NE(server_->run({"list-users"}).out.find("0 photos"), std::string::npos);
}

TEST_F(ServerProcessTest, MalformedBodiesAndWrongMethodsAreAnsweredAndTheServerGoesOn) {
  auto c = client();
  const std::pair<std::string, std::string> bodies[] = {
      {kContentType, "--" + std::string(MGRequest::kStringBoundary) +
                         "\r\nContent-Disposition: form-data; name=\"method\"\r\n\r\ncut"},
      {kContentType, "garbage without any boundary"},
      {"multipart/form-data", "--x\r\n"},
      {"application/json", "{\"method\":\"photos.upload\"}"},
      {"application/x-www-form-urlencoded", "method=%zz"},
      {"application/x-www-form-urlencoded", "method=mingle.query&api_key=k&v=1.0"},
      {"application/x-www-form-urlencoded", "method=a&method=b&api_key=k&v=1.0&sig=s"},
  };
  for (const auto& [type, body] : bodies) {
    auto r = c.Post("/api/rest", body, type.c_str());
    ASSERT_TRUE(r) << body;
    EXPECT_EQ(r->status, 200);
    auto answer = MGRequest::parseXMLResponse(bytesFromString(r->body), "h");
    ASSERT_FALSE(answer) << body;
    EXPECT_EQ(answer.error().code, 100) << body << ": " << answer.error().description;
  }
  auto get = c.Get("/api/rest");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
  EXPECT_NE(get->body.find("<error_response>"), std::string::npos);
  auto put = c.Put("/api/rest", "x", "text/plain");
  ASSERT_TRUE(put);
  EXPECT_GE(put->status, 400);
  EXPECT_TRUE(server_->isRunning());
  auto front = c.Get("/");
  ASSERT_TRUE(front);
  EXPECT_EQ(front->status, 200);
}

TEST_F(ServerProcessTest, BodiesOverTheLimitAre413WithNothingStored) {
  server_->stop();
  startServer({"--max-body", "65536"});
  logIn();
  auto big = test::randomTranslucentImage(600, 600, 7);  // noise: well over 64 KiB as JPEG
  auto params = *MGRequest::callParams(*session_, "photos.upload", {{"image", big}});
  std::string body = stringFromBytes(*MGRequest::postBody(params));
  ASSERT_GT(body.size(), 65536u);
  auto c = client();
  auto sized = c.Post("/api/rest", body, kContentType.c_str());
  ASSERT_TRUE(sized);
  EXPECT_EQ(sized->status, 413);
  auto answer = MGRequest::parseXMLResponse(bytesFromString(sized->body), "h");
  ASSERT_FALSE(answer);
  EXPECT_EQ(answer.error().code, 130);

  // Sent in chunks with no length announced: counted as it comes.
  auto chunked = c.Post(
      "/api/rest",
      [&](std::size_t offset, httplib::DataSink& sink) {
        std::size_t n = std::min<std::size_t>(8192, body.size() - offset);
        sink.write(body.data() + offset, n);
        if (offset + n == body.size()) sink.done();
        return true;
      },
      kContentType.c_str());
  ASSERT_TRUE(chunked);
  EXPECT_EQ(chunked->status, 413);
  EXPECT_EQ(filesUnder(server_->dataDirectory() / "photos"), 0u);
  // A small one still goes through.
  EXPECT_EQ(errorCode(call("photos.upload", {{"image", test::gradientImage(32, 32)}})), 0);
}

TEST_F(ServerProcessTest, TwoHundredUploadsFromSeveralThreadsEachStoredOnceIntact) {
  logIn();
  constexpr int kUploads = 200;
  constexpr int kThreads = 4;
  std::vector<std::string> bodies(kUploads);
  std::vector<std::string> jpegs(kUploads);
  for (int i = 0; i < kUploads; ++i) {
    auto image = test::photoLikeImage(48, 32, static_cast<std::uint32_t>(i + 1));
    jpegs[i] = stringFromBytes(*imageio::encodeJpeg(*image, 0.75f));
    auto params = *MGRequest::callParams(
        *session_, "photos.upload", {{"image", image}, {"caption", "upload " + std::to_string(i)}});
    bodies[i] = stringFromBytes(*MGRequest::postBody(params));
  }
  std::mutex mutex;
  std::map<int, std::string> pidOf;  // upload → pid
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      httplib::Client c("127.0.0.1", server_->port());
      c.set_read_timeout(30, 0);
      for (int i = t; i < kUploads; i += kThreads) {
        auto r = c.Post("/api/rest", bodies[i], kContentType.c_str());
        auto answer = MGRequest::parseXMLResponse(bytesFromString(r ? r->body : ""), "h");
        if (!answer || !answer->stringForKey("pid")) {
          ++failures;
          continue;
        }
        std::lock_guard lock(mutex);
        pidOf[i] = *answer->stringForKey("pid");
      }
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_EQ(failures, 0);
  ASSERT_EQ(pidOf.size(), static_cast<std::size_t>(kUploads));
  std::set<std::string> pids;
  for (const auto& [i, pid] : pidOf) pids.insert(pid);
  EXPECT_EQ(pids.size(), static_cast<std::size_t>(kUploads)) << "each upload its own photo";
  EXPECT_EQ(filesUnder(server_->dataDirectory() / "photos"), static_cast<std::size_t>(kUploads));
  auto c = client();
  for (const auto& [i, pid] : pidOf) {
    auto photo = c.Get("/photos/" + pid + ".jpg");
    ASSERT_TRUE(photo);
    ASSERT_TRUE(photo->body == jpegs[i]) << "upload " << i << " arrived changed";
  }
  auto all =
      call("mingle.query", {{"query", std::string("select pid from photo where owner == 1")}});
  ASSERT_TRUE(all);
  EXPECT_EQ(all->list()->size(), static_cast<std::size_t>(kUploads));
}

TEST(ServerCommandLine, AccountsAreMadeFromStandardInputAndMistakesAreClear) {
  ServicesProcess server(GLOWSNAP_SERVICES_EXE);
  auto bad = server.run({"add-user", "ann smith"}, "pw\n");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("\"ann smith\" is not a valid user name"), std::string::npos) << bad.err;
  EXPECT_EQ(server.run({"add-user", "ann"}, "").status, 1) << "no password read";
  EXPECT_EQ(server.run({"add-user", "ann"}, "\n").status, 1) << "an empty password";
  auto added = server.run({"add-user", "ann"}, "pw with spaces\r\n");
  EXPECT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(added.out.find("pw with"), std::string::npos) << "the password is never printed";
  EXPECT_EQ(server.run({"add-user", "ANN"}, "x\n").status, 1);
  auto noApp = server.run({"issue-token", "ann"});
  EXPECT_EQ(noApp.status, 1);
  EXPECT_NE(noApp.err.find("add-app"), std::string::npos);
  ASSERT_EQ(server.run({"add-app", "One"}).status, 0);
  ASSERT_EQ(server.run({"add-app", "Two", "--api-key", "two-key"}).status, 0);
  auto several = server.run({"issue-token", "ann"});
  EXPECT_NE(several.err.find("--app"), std::string::npos) << several.err;
  EXPECT_EQ(server.run({"issue-token", "ann", "--app", "two-key"}).status, 0);
  EXPECT_EQ(server.run({"issue-token", "nobody", "--app", "two-key"}).status, 1);
  auto secret = server.run({"add-app", "Three", "--secret-stdin"}, "my-secret\n");
  EXPECT_EQ(secret.status, 0);
  EXPECT_EQ(secret.out.find("my-secret"), std::string::npos);
  EXPECT_NE(server.run({"list-apps"}).out.find("two-key\tTwo"), std::string::npos);
  EXPECT_EQ(server.run({"list-apps"}).out.find("my-secret"), std::string::npos);

  EXPECT_EQ(server.run({"--listen", "nowhere"}).status, 2);
  EXPECT_EQ(server.run({"--listen", "127.0.0.1:99999"}).status, 2);
  auto help = server.run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("add-user"), std::string::npos);
  EXPECT_EQ(server.run({"--no-such-option"}).status, 2);
}

TEST(ServerCommandLine, ServesHTTPSWithACertificateAndNothingElse) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "the openssl program is needed to make a certificate";
  ServicesProcess server(GLOWSNAP_SERVICES_EXE);
  test::TempDir dir;
  std::string make =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
      "-days 1 -subj /CN=127.0.0.1 -keyout " +
      (dir / "key.pem").string() + " -out " + (dir / "cert.pem").string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  std::string error;
  ASSERT_TRUE(server.start(
      error, {"--cert", (dir / "cert.pem").string(), "--key", (dir / "key.pem").string()}))
      << error;
  httplib::SSLClient tls("127.0.0.1", server.port());
  tls.enable_server_certificate_verification(false);
  auto page = tls.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  httplib::Client plain("127.0.0.1", server.port());
  plain.set_read_timeout(5, 0);
  auto refused = plain.Get("/");
  EXPECT_TRUE(!refused || refused->status >= 400) << "no plain HTTP on the TLS port";

  ServicesProcess broken(GLOWSNAP_SERVICES_EXE);
  EXPECT_FALSE(broken.start(
      error, {"--cert", (dir / "key.pem").string(), "--key", (dir / "cert.pem").string()}));
  EXPECT_NE(error.find("cannot be loaded"), std::string::npos) << error;
}

}  // namespace
}  // namespace glowsnap::services
