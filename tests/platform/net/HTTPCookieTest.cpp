#include <gtest/gtest.h>

#include <fstream>

#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPCookieStorage.h"
#include "platform/net/ProxyLookup.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

const URL kSite = *URL::parse("https://www.example.com/docs/page.html");

TEST(HTTPCookie, ParsesNameValueAndAttributes) {
  auto c = HTTPCookie::parseSetCookie(
      " id = a3fWa ; Expires=Wed, 21 Oct 2065 07:28:00 GMT; Secure; HttpOnly; Path=/docs", kSite);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->name(), "id");
  EXPECT_EQ(c->value(), "a3fWa");
  EXPECT_EQ(c->domain(), "www.example.com");
  EXPECT_TRUE(c->isHostOnly());
  EXPECT_EQ(c->path(), "/docs");
  EXPECT_TRUE(c->isSecure());
  EXPECT_TRUE(c->isHTTPOnly());
  EXPECT_FALSE(c->isSessionOnly());
  auto session = HTTPCookie::parseSetCookie("s=1", kSite);
  ASSERT_TRUE(session);
  EXPECT_TRUE(session->isSessionOnly());
  EXPECT_EQ(session->path(), "/docs");  // the default path
}

TEST(HTTPCookie, IgnoresWhatMustBeIgnored) {
  EXPECT_FALSE(HTTPCookie::parseSetCookie("novalue", kSite));
  EXPECT_FALSE(HTTPCookie::parseSetCookie("=v", kSite));
  EXPECT_FALSE(HTTPCookie::parseSetCookie("a=1; Domain=other.com", kSite));
  EXPECT_FALSE(HTTPCookie::parseSetCookie("a=1; Domain=com", kSite));
  EXPECT_FALSE(HTTPCookie::parseSetCookie("a=1\x01", kSite));
  auto wide = HTTPCookie::parseSetCookie("a=1; Domain=.Example.com; Path=relative", kSite);
  ASSERT_TRUE(wide);
  EXPECT_FALSE(wide->isHostOnly());
  EXPECT_EQ(wide->domain(), "example.com");
  EXPECT_EQ(wide->path(), "/docs");
}

TEST(HTTPCookie, MaxAgeWinsOverExpiresAndDatesParse) {
  auto now = HTTPCookie::Clock::now();
  auto c = HTTPCookie::parseSetCookie("a=1; Max-Age=60; Expires=Thu, 01 Jan 1970 00:00:00 GMT",
                                      kSite, now);
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->isExpired(now));
  EXPECT_TRUE(c->isExpired(now + std::chrono::seconds(61)));
  auto gone = HTTPCookie::parseSetCookie("a=1; Max-Age=0", kSite, now);
  EXPECT_TRUE(gone->isExpired(now));
  auto d = HTTPCookie::parseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT");
  ASSERT_TRUE(d);
  EXPECT_EQ(std::chrono::system_clock::to_time_t(*d), 784111777);
  EXPECT_EQ(HTTPCookie::parseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), d);
  EXPECT_FALSE(HTTPCookie::parseCookieDate("yesterday"));
}

TEST(HTTPCookie, MatchingByDomainPathAndScheme) {
  HTTPCookie hostOnly("a", "1", "example.com", "/docs");
  HTTPCookie domain("b", "2", "example.com", "/");
  domain.setHostOnly(false);
  HTTPCookie secure("c", "3", "example.com", "/");
  secure.setSecure(true);
  EXPECT_TRUE(hostOnly.matchesURL(*URL::parse("http://example.com/docs/x")));
  EXPECT_TRUE(hostOnly.matchesURL(*URL::parse("http://example.com/docs")));
  EXPECT_FALSE(hostOnly.matchesURL(*URL::parse("http://example.com/docsx")));
  EXPECT_FALSE(hostOnly.matchesURL(*URL::parse("http://www.example.com/docs")));
  EXPECT_TRUE(domain.matchesURL(*URL::parse("http://www.example.com/")));
  EXPECT_FALSE(domain.matchesURL(*URL::parse("http://badexample.com/")));
  EXPECT_FALSE(secure.matchesURL(*URL::parse("http://example.com/")));
  EXPECT_TRUE(secure.matchesURL(*URL::parse("https://example.com/")));
}

TEST(HTTPCookieStorage, OrdersReplacesAndPersistsOnlyLastingCookies) {
  test::TempDir dir;
  auto file = dir / "cookies.json";
  URL site = *URL::parse("http://example.com/a/b");
  {
    HTTPCookieStorage store(file);
    auto cookies = HTTPCookie::cookiesWithResponseHeaderFields(
        {"short=1; Path=/", "long=2; Path=/a; Max-Age=3600", "session=3; Path=/"}, site);
    store.setCookies(cookies, site);
    store.setCookies(HTTPCookie::cookiesWithResponseHeaderFields({"short=9; Path=/"}, site), site);
    auto sent = store.cookiesForURL(site);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].name(), "long");  // longest path first
    EXPECT_EQ(sent[1].name(), "short");
    EXPECT_EQ(sent[1].value(), "9");
    EXPECT_EQ(sent[2].name(), "session");
    // An expired cookie deletes its namesake.
    store.setCookies(
        HTTPCookie::cookiesWithResponseHeaderFields({"session=; Max-Age=0; Path=/"}, site), site);
    EXPECT_EQ(store.cookiesForURL(site).size(), 2u);
  }
  HTTPCookieStorage reloaded(file);
  auto kept = reloaded.cookies();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].name(), "long");
  EXPECT_EQ(kept[0].path(), "/a");

  std::ofstream(file) << "{ not json";
  HTTPCookieStorage corrupt(file);
  EXPECT_TRUE(corrupt.cookies().empty());
}

TEST(ProxyLookup, EnvironmentAndExclusions) {
  URL plain = *URL::parse("http://service.example.com/x");
  URL secure = *URL::parse("https://service.example.com/x");
  test::ScopedEnv noProxy("no_proxy", "");
  test::ScopedEnv noProxyUpper("NO_PROXY", "");
  {
    test::ScopedEnv http("http_proxy", "");
    test::ScopedEnv https("https_proxy", "");
    test::ScopedEnv httpsUpper("HTTPS_PROXY", "");
    auto direct = ProxyLookup::proxiesForURL(plain);
    ASSERT_TRUE(direct);
    EXPECT_TRUE(direct->front().isDirect());
  }
  test::ScopedEnv http("http_proxy", "http://proxy.local:3128");
  test::ScopedEnv https("https_proxy", "secure-proxy.local");
  auto p = ProxyLookup::proxiesForURL(plain);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->front().host, "proxy.local");
  EXPECT_EQ(p->front().port, 3128);
  auto s = ProxyLookup::proxiesForURL(secure);
  EXPECT_EQ(s->front().host, "secure-proxy.local");
  EXPECT_EQ(s->front().port, 1080);
  EXPECT_TRUE(ProxyLookup::isExcluded("localhost, .example.com", "service.example.com", 80));
  EXPECT_TRUE(ProxyLookup::isExcluded("example.com", "example.com", 80));
  EXPECT_FALSE(ProxyLookup::isExcluded("example.com", "badexample.com", 80));
  EXPECT_TRUE(ProxyLookup::isExcluded("*", "anything", 1));
  EXPECT_FALSE(ProxyLookup::isExcluded("example.com:8080", "example.com", 80));
  test::ScopedEnv exclude("no_proxy", "example.com");
  EXPECT_TRUE(ProxyLookup::proxiesForURL(plain)->front().isDirect());
  test::ScopedEnv broken("http_proxy", "ftp://x/");
  test::ScopedEnv noExclude("no_proxy", "");
  EXPECT_FALSE(ProxyLookup::proxiesForURL(plain));
}

}  // namespace
}  // namespace glowsnap
