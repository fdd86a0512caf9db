// Session credentials stay with their protection space.
#include <gtest/gtest.h>

#include <thread>

#include "http/SessionCredentials.h"

namespace glowsnap {
namespace {

HTTPAuthentication::Credentials user(const std::string& name) {
  return {{HTTPAuthentication::kCFHTTPAuthenticationUsername, name},
          {HTTPAuthentication::kCFHTTPAuthenticationPassword, "pw"}};
}

std::string userOf(const std::optional<SessionCredentials::Entry>& e) {
  return e ? e->credentials.at(HTTPAuthentication::kCFHTTPAuthenticationUsername) : "";
}

TEST(SessionCredentials, AreReusedOnlyForTheirOwnOrigin) {
  SessionCredentials session;
  auto url = *URL::parse("http://api.example.org:8080/a");
  session.store(SessionCredentials::spaceFor(url, "one"), user("alice"), nullptr);
  EXPECT_EQ(userOf(session.forURL(*URL::parse("http://api.example.org:8080/other/path"))), "alice");
  for (const char* other :
       {"http://example.org:8080/", "http://evil.api.example.org:8080/", "http://api.example.org/",
        "https://api.example.org:8080/", "http://api.example.org:8081/"})
    EXPECT_FALSE(session.forURL(*URL::parse(other)).has_value()) << other;

  // Another realm of the same origin: the latest one is sent first, each
  // space keeps its own.
  session.store(SessionCredentials::spaceFor(url, "two"), user("bob"), nullptr);
  EXPECT_EQ(userOf(session.forURL(url)), "bob");
  EXPECT_EQ(userOf(session.forSpace(SessionCredentials::spaceFor(url, "one"))), "alice");
  session.store(SessionCredentials::spaceFor(url, "one"), user("carol"), nullptr);
  EXPECT_EQ(userOf(session.forURL(url)), "carol");

  session.remove(SessionCredentials::spaceFor(url, "one"));
  EXPECT_EQ(userOf(session.forURL(url)), "bob");
  session.clear();
  EXPECT_TRUE(session.empty());
  EXPECT_FALSE(session.forURL(url).has_value());
}

TEST(SessionCredentials, DefaultPortsAreTheSameOrigin) {
  SessionCredentials session;
  session.store(SessionCredentials::spaceFor(*URL::parse("https://example.org/"), "r"),
                user("alice"), nullptr);
  EXPECT_EQ(userOf(session.forURL(*URL::parse("https://example.org:443/x"))), "alice");
  EXPECT_FALSE(session.forURL(*URL::parse("http://example.org:443/x")).has_value());
}

TEST(SessionCredentials, StoresAndLooksUpFromSeveralThreads) {
  SessionCredentials session;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&session, t] {
      auto url = *URL::parse("http://host" + std::to_string(t) + ".test/");
      for (int i = 0; i < 200; ++i) {
        session.store(SessionCredentials::spaceFor(url, std::to_string(i % 3)),
                      user("u" + std::to_string(t)), nullptr);
        auto found = session.forURL(url);
        ASSERT_EQ(userOf(found), "u" + std::to_string(t));
      }
    });
  for (auto& th : threads) th.join();
}

}  // namespace
}  // namespace glowsnap
