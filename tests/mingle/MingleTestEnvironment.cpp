#include "mingle/MingleTestEnvironment.h"

#include <cstdlib>

#include "mingle/MGRequest.h"
#include "platform/foundation/Defaults.h"
#include "platform/net/HTTPCookieStorage.h"
#include "support/MainLoop.h"

namespace glowsnap::test {

namespace {

const TempDir& configDirectory() {
  static TempDir dir;
  return dir;
}

// Before any test touches the shared stores.
const bool kConfigured = [] {
  ::setenv("GLOWSNAP_CONFIG_DIR", configDirectory().path().c_str(), 1);
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                           "GLOWSNAP_MINGLE_URL"})
    ::unsetenv(name);
  return true;
}();

struct SessionRecorder : MGRequestDelegate {
  std::optional<MGValue> result;
  std::optional<Error> error;
  void didLoad(MGRequest&, const MGValue& r) override { result = r; }
  void didFailWithError(MGRequest&, const Error& e) override { error = e; }
};

}  // namespace

void MingleServerTest::SetUp() {
  server_ = std::make_unique<ServicesProcess>(GLOWSNAP_SERVICES_EXE);
  std::string error;
  ASSERT_TRUE(server_->addStandardAccounts(error)) << error;
  ASSERT_TRUE(server_->start(error, {"--quiet"})) << error;
  session_ = makeSession();
  MGSession::setSession(session_);
}

void MingleServerTest::TearDown() {
  session_.reset();
  if (server_) server_->stop();
  for (const char* key : {MGSession::kUserIdKey, MGSession::kSessionKeyKey,
                          MGSession::kSessionSecretKey, MGSession::kSessionExpiresKey})
    Defaults::standard().removeObject(key);
  HTTPCookieStorage::sharedStorage().removeAllCookies();
}

std::shared_ptr<MGSession> MingleServerTest::makeSession() {
  auto session = MGSession::initWithKey(server_->apiKey, server_->secret, std::nullopt);
  MGServerConfiguration configuration;
  EXPECT_TRUE(MGServerConfiguration::forServer(server_->baseURL(), configuration));
  session->setServerConfiguration(configuration);
  return session;
}

std::string MingleServerTest::issueToken() {
  auto token = server_->run({"issue-token", server_->userName});
  EXPECT_EQ(token.status, 0) << token.err;
  std::string text = token.out;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool MingleServerTest::logIn(MGSession& session) {
  SessionRecorder delegate;
  auto request = MGRequest::requestWithSession(session.shared_from_this(), &delegate);
  request->call("mingle.auth.getSession", {{"auth_token", issueToken()}});
  if (!spinMainLoopUntil([&] { return delegate.result || delegate.error; })) return false;
  if (!delegate.result) {
    ADD_FAILURE() << "getSession failed: " << delegate.error->description;
    return false;
  }
  const MGValue& r = *delegate.result;
  auto uid = r.stringForKey("uid");
  auto key = r.stringForKey("session_key");
  auto secret = r.stringForKey("secret");
  if (!uid || !key || !secret) return false;
  session.begin(std::stoull(*uid), *key, *secret, std::nullopt);
  return true;
}

}  // namespace glowsnap::test
