// The system's proxies: all_proxy, and the desktop's settings through
// libproxy (which reads the environment too when no desktop is running).
#include <gtest/gtest.h>

#include "platform/net/ProxyLookup.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

using test::ScopedEnv;

TEST(ProxyLookup, AllProxyServesEitherSchemeAfterTheSchemesOwn) {
  ScopedEnv a("http_proxy", ""), b("https_proxy", ""), c("HTTPS_PROXY", ""), d("no_proxy", ""),
      e("NO_PROXY", ""), f("ALL_PROXY", "");
  ScopedEnv all("all_proxy", "http://everything.local:8000");
  auto secure = ProxyLookup::proxiesForURL(*URL::parse("https://example.org/"));
  ASSERT_TRUE(secure);
  EXPECT_EQ(secure->front().host, "everything.local");
  EXPECT_EQ(secure->front().port, 8000);
  ScopedEnv own("http_proxy", "http://plain.local:3128");
  EXPECT_EQ(ProxyLookup::proxiesForURL(*URL::parse("http://example.org/"))->front().host,
            "plain.local");
  ScopedEnv socks("all_proxy", "socks5://s.local:1080");
  EXPECT_FALSE(ProxyLookup::proxiesForURL(*URL::parse("https://example.org/")));
}

TEST(ProxyLookup, ReadsLibproxyAnswers) {
  int unusable = 0;
  auto list = ProxyLookup::fromProxyURLs(
      {"socks5://s:1080", "http://cache.local:3128", "pac+http://wpad.local/proxy.pac", "direct://",
       "http://noport.local"},
      &unusable);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(unusable, 1);
  EXPECT_EQ(list[0].host, "cache.local");
  EXPECT_EQ(list[0].port, 3128);
  EXPECT_EQ(list[1].autoConfigurationURL, "http://wpad.local/proxy.pac");
  EXPECT_FALSE(list[1].isDirect());
  EXPECT_TRUE(list[2].isDirect());
  EXPECT_EQ(list[3].port, 80);
}

TEST(ProxyLookup, TheDesktopsAnswerHonoursNoProxy) {
#ifndef GLOWSNAP_HAVE_LIBPROXY
  GTEST_SKIP() << "built without libproxy";
#endif
  ScopedEnv a("https_proxy", ""), b("HTTPS_PROXY", ""), c("all_proxy", ""), d("ALL_PROXY", "");
  ScopedEnv http("http_proxy", "http://desk.local:3129");
  ScopedEnv none("no_proxy", "intranet.local");
  auto list = ProxyLookup::desktopProxiesForURL(*URL::parse("http://example.org/page"));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->front().host, "desk.local");
  EXPECT_EQ(list->front().port, 3129);
  auto inside = ProxyLookup::desktopProxiesForURL(*URL::parse("http://intranet.local/"));
  ASSERT_TRUE(inside);
  EXPECT_TRUE(inside->front().isDirect());
}

}  // namespace
}  // namespace glowsnap
