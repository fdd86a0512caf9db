// The bandwidth meter and its throttling: the meter's arithmetic with the
// time given, throttled transfers against a real server on loopback, the
// carrier-network switch driven by scripted reachability, and the waits
// that must never hold the lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "http/BandwidthMeter.h"
#include "http/HTTPRequest.h"
#include "http/TestEnvironment.h"
#include "reachability/NetworkReachability.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedReachability.h"

namespace glowsnap::test {
namespace {

using Clock = BandwidthMeter::Clock;
using std::chrono::milliseconds;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(BandwidthMeter, RecordingKeepsAShortHistoryAndDropsOneSamplePerSecondPassed) {
  BandwidthMeter m;
  auto t = Clock::now();
  EXPECT_TRUE(m.isDue(t));
  m.record(t);  // an empty first second
  EXPECT_EQ(m.samples().size(), 1u);
  EXPECT_EQ(m.average(), 0u);
  for (std::uint32_t i = 1; i <= 8; ++i) {
    t += std::chrono::seconds(1);
    EXPECT_TRUE(m.isDue(t));
    m.add(i * 100);
    m.record(t);
    EXPECT_LE(m.samples().size(), BandwidthMeter::kMaxSamples);
  }
  // The last six seconds: 300 .. 800.
  ASSERT_EQ(m.samples().size(), 6u);
  EXPECT_EQ(m.samples().front(), 300u);
  EXPECT_EQ(m.average(), (300u + 400 + 500 + 600 + 700 + 800) / 6);
  EXPECT_FALSE(m.isDue(t + milliseconds(999)));

  // A recording a moment after the date keeps the history (trimmed to six).
  m.add(900);
  m.record(*m.measurementDate() + milliseconds(3));
  ASSERT_EQ(m.samples().size(), 6u);
  EXPECT_EQ(m.samples().front(), 400u);
  // 2.5 seconds past the date, two whole seconds went unrecorded: the two
  // oldest go.
  m.add(50);
  m.record(*m.measurementDate() + milliseconds(2500));
  ASSERT_EQ(m.samples().size(), 5u);
  EXPECT_EQ(m.samples().front(), 600u);
  EXPECT_EQ(m.samples().back(), 50u);
  EXPECT_EQ(m.average(), (600u + 700 + 800 + 900 + 50) / 5);

  // A second without traffic clears the history.
  m.record(*m.measurementDate());
  ASSERT_EQ(m.samples().size(), 1u);
  EXPECT_EQ(m.average(), 0u);
}

TEST(BandwidthMeter, ReadSizesUnderALimit) {
  BandwidthMeter m;
  // No limit: reads are what the transfer asks for.
  EXPECT_EQ(m.downloadReadSize(65536), 65536u);
  EXPECT_GT(m.uploadAllowance(), 1u << 30);
  EXPECT_FALSE(m.isSpent());

  m.setLimit(14800);
  m.record(Clock::now());
  // Uploads: a quarter of the limit while the budget lasts, then the rest.
  std::vector<std::uint32_t> reads;
  for (int i = 0; i < 6; ++i) {
    std::uint32_t a = m.uploadAllowance();
    reads.push_back(a);
    m.add(a);
  }
  EXPECT_EQ(reads, (std::vector<std::uint32_t>{3700, 3700, 3700, 3700, 0, 0}));
  EXPECT_TRUE(m.isSpent());

  m.record(*m.measurementDate());
  m.add(14800 - 100);
  EXPECT_EQ(m.uploadAllowance(), 100u);
  // Downloads: at most a quarter of what is left, at least one byte.
  EXPECT_EQ(m.downloadReadSize(2048), 25u);
  m.add(99);
  EXPECT_TRUE(m.isSpent());
  EXPECT_EQ(m.downloadReadSize(2048), 1u);
  m.add(500);  // overspent by another request
  EXPECT_EQ(m.remaining(), -499);
  EXPECT_EQ(m.downloadReadSize(65536), 1u);
  EXPECT_EQ(m.uploadAllowance(), 0u);

  // A limit below four bytes a second still moves a byte at a time.
  BandwidthMeter tiny;
  tiny.setLimit(3);
  tiny.record(Clock::now());
  EXPECT_EQ(tiny.uploadAllowance(), 1u);
}

class Bandwidth : public ::testing::Test {
 protected:
  void SetUp() override { HTTPRequest::resetBandwidthMeter(); }
  void TearDown() override { HTTPRequest::resetBandwidthMeter(); }
};

std::string patternBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 131) >> 3);
  return body;
}

TEST_F(Bandwidth, WithoutALimitNothingIsThrottledAndTheMeterStillCounts) {
  std::string body = patternBody(300000);
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) { c.respond(200, body); });
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
  auto request = HTTPRequest::requestWithURL(URL::parse(server.url("/")));
  request->start();
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_EQ(request->responseData()->size(), body.size());
  auto meter = HTTPRequest::bandwidthMeter();
  std::uint64_t counted = meter.usedInCurrentSecond();
  for (auto s : meter.samples()) counted += s;
  EXPECT_GE(counted, body.size());
}

TEST_F(Bandwidth, AThrottledDownloadKeepsToTheLimitEverySecond) {
  constexpr std::uint32_t kLimit = 64 * 1024;
  std::string body = patternBody(4 * kLimit);
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) { c.respond(200, body); });
  HTTPRequest::setMaxBandwidthPerSecond(kLimit);
  ASSERT_TRUE(HTTPRequest::isBandwidthThrottled());
  auto request = HTTPRequest::requestWithURL(URL::parse(server.url("/big")));
  auto start = Clock::now();
  request->start();
  double seconds = secondsSince(start);
  ASSERT_EQ(request->error(), nullptr);
  ASSERT_TRUE(request->responseData() == Bytes(body.begin(), body.end()));
  // Four seconds' worth: each second takes its budget at its start, and a
  // few bytes of each are left for the next.
  EXPECT_GT(seconds, 2.8);
  EXPECT_LT(seconds, 6.0);
  // Every whole second of the transfer moved the limit, within 10 % (the
  // first sample is the empty second before the first byte).
  auto meter = HTTPRequest::bandwidthMeter();
  ASSERT_GE(meter.samples().size(), 4u);
  EXPECT_EQ(meter.samples().front(), 0u);
  for (std::size_t i = 1; i < meter.samples().size(); ++i) {
    EXPECT_GT(meter.samples()[i], kLimit * 0.9) << "second " << i;
    EXPECT_LT(meter.samples()[i], kLimit * 1.1) << "second " << i;
  }
}

TEST_F(Bandwidth, AThrottledUploadPausesAndResumesWithoutEndingItsBody) {
  constexpr std::uint32_t kLimit = 32 * 1024;
  std::string body = patternBody(3 * kLimit);
  LoopbackServer server([](const RawRequest& r, ServerConnection& c) {
    c.respond(200, std::to_string(r.body.size()));
  });
  HTTPRequest::setMaxBandwidthPerSecond(kLimit);
  auto request = HTTPRequest::requestWithURL(URL::parse(server.url("/upload")));
  request->appendPostData(Bytes(body.begin(), body.end()));
  auto start = Clock::now();
  request->start();
  double seconds = secondsSince(start);
  ASSERT_EQ(request->error(), nullptr) << request->error()->description;
  EXPECT_EQ(request->responseString(), std::to_string(body.size()));
  EXPECT_TRUE(server.requests().at(0).body == body);
  EXPECT_GT(seconds, 1.8);
  EXPECT_LT(seconds, 6.0);
}

TEST_F(Bandwidth, ALimitOfZeroLiftsTheLimitAndWakesWaitingLoops) {
  HTTPRequest::setMaxBandwidthPerSecond(1000);
  HTTPRequest::measureBandwidthUsage();  // starts the second
  HTTPRequest::incrementBandwidthUsedInLastSecond(5000);
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    HTTPRequest::measureBandwidthUsage();
    done = true;
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(done);
  // The lock is free while the loop waits.
  auto asked = Clock::now();
  EXPECT_TRUE(HTTPRequest::isBandwidthThrottled());
  EXPECT_LT(secondsSince(asked), 0.1);
  HTTPRequest::setMaxBandwidthPerSecond(0);
  waiter.join();
  EXPECT_LT(secondsSince(asked), 0.5);

  // A request cancelled while its loop waits stops waiting.
  HTTPRequest::setMaxBandwidthPerSecond(1000);
  HTTPRequest::incrementBandwidthUsedInLastSecond(5000);
  auto request = HTTPRequest::requestWithURL(URL::parse("http://127.0.0.1:9/"));
  done = false;
  std::thread loop([&] {
    HTTPRequest::measureBandwidthUsage(request.get());
    done = true;
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(done);
  auto cancelled = Clock::now();
  request->cancel();
  loop.join();
  EXPECT_LT(secondsSince(cancelled), 0.5);
  HTTPRequest::setMaxBandwidthPerSecond(0);
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
  // With no limit the upload allowance is unbounded, never one byte.
  EXPECT_GT(HTTPRequest::maxUploadReadLength(), 1u << 30);
}

TEST_F(Bandwidth, CarrierNetworkThrottlingFollowsReachability) {
  auto factory = std::make_shared<ScriptedFactory>();
  ReachabilityHandleFactory::setCurrent(factory);
  constexpr ReachabilityFlags kCarrier = kReachabilityFlagsReachable |
                                         kReachabilityFlagsTransientConnection |
                                         kReachabilityFlagsIsWWAN;
  factory->handle(kDefaultRouteKey).value = kCarrier;
  // The shared instance is made with the scripted factory on first use.
  auto& shared = NetworkReachability::sharedNetworkReachability();
  HTTPRequest::setShouldThrottleBandwidthForWWAN(true);
  EXPECT_TRUE(shared.networkStatusNotificationsEnabled());
  EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 14800u);
  EXPECT_TRUE(HTTPRequest::isBandwidthThrottled());
  EXPECT_EQ(HTTPRequest::maxUploadReadLength(), 3700u);

  // Off the carrier's network the limit stays set but throttles nothing,
  // and a spent second makes no loop wait.
  auto& handle = factory->handle(kDefaultRouteKey);
  handle.value = kReachabilityFlagsReachable;
  ASSERT_NE(handle.callback, nullptr);
  handle.fire();
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
  HTTPRequest::incrementBandwidthUsedInLastSecond(20000);
  auto start = Clock::now();
  HTTPRequest::measureBandwidthUsage();
  EXPECT_LT(secondsSince(start), 0.1);

  handle.value = kCarrier;
  handle.fire();
  EXPECT_TRUE(HTTPRequest::isBandwidthThrottled());

  // Switched off: no limit at all.
  HTTPRequest::setShouldThrottleBandwidthForWWAN(false);
  EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 0u);
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
  handle.fire();
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
}

}  // namespace
}  // namespace glowsnap::test
