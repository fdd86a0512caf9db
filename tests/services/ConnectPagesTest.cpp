// The pages of the Mingle dialogs as a browser meets them, over HTTP: what
// they refuse (the dialogs' tests run the whole way through them).
#include <gtest/gtest.h>
#include <httplib.h>

#include "support/ServicesProcess.h"

namespace glowsnap::services {
namespace {

class ConnectPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<test::ServicesProcess>(GLOWSNAP_SERVICES_EXE);
    std::string error;
    ASSERT_TRUE(server_->addStandardAccounts(error)) << error;
    ASSERT_TRUE(server_->start(error, {"--quiet"})) << error;
  }

  httplib::Result login(const std::string& next, const std::string& password,
                        const std::string& cookies) {
    httplib::Client c("127.0.0.1", server_->port());
    httplib::Headers headers;
    if (!cookies.empty()) headers.emplace("Cookie", cookies);
    httplib::Params form{{"api_key", server_->apiKey},
                         {"next", next},
                         {"email", server_->userName},
                         {"pass", password}};
    return c.Post("/login", headers, form);
  }

  std::unique_ptr<test::ServicesProcess> server_;
};

TEST_F(ConnectPagesTest, ALoginNeedsCookiesTheRightPasswordAndStaysOnTheClientOrTheSite) {
  auto good = login("minglekit://success", server_->password, "test_cookie=1");
  ASSERT_TRUE(good);
  EXPECT_EQ(good->status, 303);
  EXPECT_EQ(good->get_header_value("Location").rfind("minglekit://success?auth_token=", 0), 0u);
  const std::string kept = good->get_header_value("Set-Cookie");
  EXPECT_EQ(kept.rfind("mingle_login=", 0), 0u);
  EXPECT_NE(kept.find("HttpOnly"), std::string::npos);
  EXPECT_EQ(good->get_header_value("Cache-Control"), "no-store");

  auto noCookies = login("minglekit://success", server_->password, "");
  ASSERT_TRUE(noCookies);
  EXPECT_EQ(noCookies->status, 200);
  EXPECT_FALSE(noCookies->has_header("Location"));
  EXPECT_NE(noCookies->body.find("Cookies are turned off"), std::string::npos);

  auto wrong = login("minglekit://success", "wrong", "test_cookie=1");
  ASSERT_TRUE(wrong);
  EXPECT_FALSE(wrong->has_header("Location"));
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));
  EXPECT_NE(wrong->body.find("password is wrong"), std::string::npos);

  for (const char* elsewhere : {"https://evil.example/catch", "//evil.example/"}) {
    auto away = login(elsewhere, server_->password, "test_cookie=1");
    ASSERT_TRUE(away);
    EXPECT_EQ(away->status, 400) << elsewhere;
    EXPECT_FALSE(away->has_header("Location")) << "a token would leave for " << elsewhere;
  }

  // The kept login continues without the password, and ends on logout.
  const std::string cookie = kept.substr(0, kept.find(';'));
  httplib::Client c("127.0.0.1", server_->port());
  auto page = c.Get("/login?api_key=" + server_->apiKey + "&next=minglekit%3A%2F%2Fsuccess",
                    {{"Cookie", cookie}});
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("Continue as ann"), std::string::npos);
  auto out = c.Post("/logout", {{"Cookie", cookie}}, httplib::Params{});
  ASSERT_TRUE(out);
  auto after = c.Get("/login?api_key=" + server_->apiKey + "&next=minglekit%3A%2F%2Fsuccess",
                     {{"Cookie", cookie}});
  ASSERT_TRUE(after);
  EXPECT_EQ(after->body.find("Continue as"), std::string::npos);
}

TEST_F(ConnectPagesTest, PermissionAndFeedPagesNeedTheApplicationsSession) {
  httplib::Client c("127.0.0.1", server_->port());
  auto page = c.Get("/connect/permission?api_key=" + server_->apiKey +
                    "&session_key=nothing&ext_perm=photo_upload");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 403);
  auto grant = c.Post("/connect/permission", httplib::Params{{"api_key", server_->apiKey},
                                                             {"session_key", "nothing"},
                                                             {"ext_perm", "photo_upload"},
                                                             {"decision", "allow"}});
  ASSERT_TRUE(grant);
  EXPECT_EQ(grant->status, 403);
  auto feed = c.Post("/connect/feed", httplib::Params{{"api_key", server_->apiKey},
                                                      {"session_key", "nothing"},
                                                      {"feed_info", "{\"body_general\": \"x\"}"}});
  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->status, 403);
}

}  // namespace
}  // namespace glowsnap::services
