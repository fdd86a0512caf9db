// The request's rules that need no server: the time-out decision, read
// sizes, how lengths and charsets are read from headers, body measuring.
#include <gtest/gtest.h>

#include "http/HTTPRequest.h"
#include "http/StringAdditions.h"
#include "http/TestEnvironment.h"

namespace glowsnap::test {
namespace {

using Clock = HTTPRequest::Clock;

TEST(HTTPRequestTimeOut, CountsInactivityUnlessAnUploadHasNotStarted) {
  auto r = HTTPRequest::requestWithURL(URL::parse("http://127.0.0.1/"));
  auto start = Clock::now();
  EXPECT_FALSE(r->hasTimedOut(start + std::chrono::seconds(60)));  // never started
  r->setLastActivityTime(start);
  EXPECT_FALSE(r->hasTimedOut(start + std::chrono::milliseconds(9900)));
  EXPECT_TRUE(r->hasTimedOut(start + std::chrono::milliseconds(10100)));
  // A body larger than the platform's buffer with nothing sent yet: the
  // connection is still being made, not idle.
  r->setPostLength(1000000);
  r->setUploadBufferSize(0);
  EXPECT_FALSE(r->hasTimedOut(start + std::chrono::seconds(60)));
  r->setTotalBytesSent(1);
  EXPECT_TRUE(r->hasTimedOut(start + std::chrono::seconds(60)));
  r->setTotalBytesSent(0);
  r->setUploadBufferSize(1000000);
  EXPECT_TRUE(r->hasTimedOut(start + std::chrono::seconds(60)));
  // 0 or less: no time-out at all.
  r->setTimeOutSeconds(0);
  EXPECT_FALSE(r->hasTimedOut(start + std::chrono::hours(1)));
  r->setTimeOutSeconds(-1);
  EXPECT_FALSE(r->hasTimedOut(start + std::chrono::hours(1)));
}

TEST(HTTPRequestRules, ReadSizeFollowsTheAnnouncedLength) {
  EXPECT_EQ(HTTPRequest::readSizeForContentLength(0), 2048u);
  EXPECT_EQ(HTTPRequest::readSizeForContentLength(65536), 2048u);
  EXPECT_EQ(HTTPRequest::readSizeForContentLength(65537), 16384u);
  EXPECT_EQ(HTTPRequest::readSizeForContentLength(262144), 16384u);
  EXPECT_EQ(HTTPRequest::readSizeForContentLength(262145), 65536u);
}

TEST(HTTPRequestRules, LengthIsTheLeadingNumber) {
  EXPECT_EQ(HTTPRequest::leadingLength("1234"), 1234u);
  EXPECT_EQ(HTTPRequest::leadingLength(" 12abc"), 12u);
  EXPECT_EQ(HTTPRequest::leadingLength("abc"), 0u);
  EXPECT_EQ(HTTPRequest::leadingLength("-5"), 0u);
  EXPECT_EQ(HTTPRequest::leadingLength("5000000000"), 5000000000u);
  EXPECT_EQ(HTTPRequest::readSizeForContentLength(HTTPRequest::leadingLength("many")), 2048u);
}

TEST(HTTPRequestRules, CharsetIsReadAfterTheFirstCharsetEquals) {
  EXPECT_EQ(HTTPRequest::charsetFromContentType("text/html; charset=utf-8"), "utf-8");
  EXPECT_EQ(HTTPRequest::charsetFromContentType("text/html; charset=\"UTF-8\"; x=y"), "UTF-8");
  EXPECT_EQ(HTTPRequest::charsetFromContentType("charset=utf-8"), std::nullopt);
  EXPECT_EQ(HTTPRequest::charsetFromContentType("text/html"), std::nullopt);
}

TEST(HTTPRequestRules, DefaultsOfANewRequest) {
  auto r = HTTPRequest::requestWithURL(URL::parse("http://example.invalid/"));
  EXPECT_EQ(r->requestMethod(), "GET");
  EXPECT_TRUE(r->shouldRedirect());
  EXPECT_TRUE(r->showAccurateProgress());
  EXPECT_TRUE(r->allowCompressedResponse());
  EXPECT_EQ(r->defaultResponseEncoding(), TextEncoding::kISOLatin1);
  EXPECT_EQ(r->timeOutSeconds(), 10.0);
  EXPECT_TRUE(r->useSessionPersistance());
  EXPECT_TRUE(r->useCookiePersistance());
  EXPECT_TRUE(r->validatesSecureCertificate());
  EXPECT_EQ(r->didFinishSelector(), "requestFinished:");
  EXPECT_EQ(r->didFailSelector(), "requestFailed:");
  EXPECT_FALSE(r->requestHeaders().has_value());
  EXPECT_FALSE(r->isFinished());
  EXPECT_EQ(HTTPRequest::mimeTypeForFileAtPath("/x/y.jpg"), "application/octet-stream");
}

TEST(HTTPRequestRules, BuildPostBodyMeasuresAndSwitchesToPost) {
  auto empty = HTTPRequest::requestWithURL(URL::parse("http://example.invalid/"));
  empty->appendPostData({});
  empty->buildPostBody();
  EXPECT_EQ(empty->requestMethod(), "GET");
  EXPECT_FALSE(empty->requestHeaders().has_value());

  auto put = HTTPRequest::requestWithURL(URL::parse("http://example.invalid/"));
  put->setRequestMethod("PUT");
  put->appendPostData(bytesFromString("0123456789"));
  put->buildPostBody();
  EXPECT_EQ(put->requestMethod(), "PUT");
  EXPECT_EQ(put->requestHeaders()->at("Content-Length"), "10");
  EXPECT_EQ(put->postLength(), 10u);
}

TEST(HTTPRequestRules, SessionCookiesReplaceTheirNamesake) {
  HTTPRequest::setSessionCookies(std::nullopt);
  HTTPRequest::addSessionCookie(HTTPCookie("a", "1", "example.com", "/"));
  HTTPRequest::addSessionCookie(HTTPCookie("a", "2", "example.com", "/"));
  HTTPRequest::addSessionCookie(HTTPCookie("a", "3", "example.com", "/x"));
  auto list = HTTPRequest::sessionCookies();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].value(), "2");
  EXPECT_EQ(list[1].path(), "/x");
  HTTPRequest::setSessionCookies(std::nullopt);
}

TEST(StringAdditions, CookieValueEscapes) {
  EXPECT_EQ(encodedCookieValue("a b"), "a%20b");
  EXPECT_EQ(encodedCookieValue("Abc123"), "Abc123");
  EXPECT_EQ(encodedCookieValue("caf\xc3\xa9"), "caf%C3%A9");
  EXPECT_EQ(decodedCookieValue("a+b%20c"), "a b c");
  EXPECT_EQ(decodedCookieValue("caf%C3%A9"), "caf\xc3\xa9");
  EXPECT_EQ(decodedCookieValue("bad%2"), std::nullopt);
  EXPECT_EQ(decodedCookieValue("%FF"), std::nullopt);
}

}  // namespace
}  // namespace glowsnap::test
