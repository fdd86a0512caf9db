#include "reachability/NetworkReachability.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "support/ScriptedReachability.h"

namespace glowsnap {
namespace {

using test::ScriptedFactory;
using test::ScriptedHandle;


class NetworkReachabilityTest : public ::testing::Test {
 protected:
  std::shared_ptr<ScriptedFactory> factory = std::make_shared<ScriptedFactory>();
  NetworkReachability reachability{factory};

  ScriptedHandle& network() { return factory->handle(kDefaultRouteKey); }
  ScriptedHandle& linkLocal() { return factory->handle(kLinkLocalAddressKey); }
};

TEST_F(NetworkReachabilityTest, ReachableWithoutRequiringConnection) {
  EXPECT_FALSE(NetworkReachability::isReachableWithoutRequiringConnection(0));
  EXPECT_TRUE(NetworkReachability::isReachableWithoutRequiringConnection(0x2));
  // Reachable but a connection must be brought up first: not reachable,
  // unless the carrier's network brings it up by itself.
  EXPECT_FALSE(NetworkReachability::isReachableWithoutRequiringConnection(0x6));
  EXPECT_TRUE(NetworkReachability::isReachableWithoutRequiringConnection(0x40006));
  EXPECT_FALSE(NetworkReachability::isReachableWithoutRequiringConnection(0x40004));
  EXPECT_FALSE(NetworkReachability::isReachableWithoutRequiringConnection(0x60005));
}

TEST_F(NetworkReachabilityTest, StatusArithmeticOnScriptedFlags) {
  struct Case {
    ReachabilityFlags flags;
    NetworkStatus internet, localWiFi, remote;
  };
  const Case cases[] = {
      {0x0, 0, 0, 0},
      {0x2, 2, 0, 2},
      {0x3, 1, 0, 1},      // transient connection: the carrier's network
      {0x6, 0, 0, 0},      // connection required
      {0x40006, 2, 0, 2},  // WWAN overrides "connection required"
      {0x40007, 1, 0, 1},
      {0x20002, 0, 2, 2},  // direct: an ad-hoc network, no way out
      {0x20003, 0, 2, 1},
      {0x20006, 0, 0, 0},
      {0x20000, 0, 0, 0},
      {kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect,
       0, 2, 2},
  };
  reachability.setAddress("10.1.2.3");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "flags 0x" << c.flags);
    network().value = linkLocal().value = factory->handle("10.1.2.3").value = c.flags;
    EXPECT_EQ(reachability.internetConnectionStatus(), c.internet);
    EXPECT_EQ(reachability.localWiFiConnectionStatus(), c.localWiFi);
    EXPECT_EQ(reachability.remoteHostStatus(), c.remote);
    ReachabilityFlags out = 0xDEAD;
    EXPECT_EQ(reachability.isNetworkAvailableFlags(&out),
              NetworkReachability::isReachableWithoutRequiringConnection(c.flags));
    EXPECT_EQ(out, c.flags);
  }
}

TEST_F(NetworkReachabilityTest, UnreadableFlagsCountAsNotReachable) {
  network().value = std::nullopt;
  linkLocal().value = std::nullopt;
  ReachabilityFlags out = 0x1234;
  EXPECT_FALSE(reachability.isNetworkAvailableFlags(&out));
  EXPECT_EQ(out, 0x1234u);  // left alone
  EXPECT_FALSE(reachability.isAdHocWiFiNetworkAvailableFlags(&out));
  EXPECT_EQ(out, 0x1234u);
  EXPECT_FALSE(reachability.isNetworkAvailableFlags(nullptr));
  EXPECT_EQ(reachability.internetConnectionStatus(), kNotReachable);
  EXPECT_EQ(reachability.localWiFiConnectionStatus(), kNotReachable);
  reachability.setHostName("example.test");
  factory->handle("name:example.test").value = std::nullopt;
  EXPECT_EQ(reachability.remoteHostStatus(), kNotReachable);
}

TEST_F(NetworkReachabilityTest, FixedKeyQueriesAreMadeOnceAndKept) {
  network().value = 0x2;
  reachability.internetConnectionStatus();
  reachability.isNetworkAvailableFlags(nullptr);
  reachability.localWiFiConnectionStatus();
  reachability.localWiFiConnectionStatus();
  EXPECT_EQ(factory->created, 2);
  const auto queries = reachability.reachabilityQueries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries.at(kDefaultRouteKey)->hostNameOrAddress(), kDefaultRouteKey);
  EXPECT_EQ(queries.at(kDefaultRouteKey)->reachabilityRef(), &network());
  EXPECT_EQ(queries.at(kLinkLocalAddressKey)->reachabilityRef(), &linkLocal());
}

TEST_F(NetworkReachabilityTest, NothingIsScheduledWhileNotificationsAreOff) {
  network().value = 0x2;
  reachability.setHostName("example.test");
  EXPECT_EQ(reachability.internetConnectionStatus(), 2);
  EXPECT_EQ(reachability.remoteHostStatus(), 0);
  reachability.localWiFiConnectionStatus();
  for (const auto& [key, handle] : factory->handles) {
    EXPECT_EQ(handle->scheduleCalls, 0) << key;
    EXPECT_EQ(handle->callback, nullptr) << key;
  }
  for (const auto& [key, query] : reachability.reachabilityQueries()) {
    EXPECT_TRUE(query->runLoops().empty()) << key;
  }
  // Switching on schedules nothing by itself.
  reachability.setNetworkStatusNotificationsEnabled(true);
  EXPECT_EQ(network().scheduleCalls, 0);
}

TEST_F(NetworkReachabilityTest, FixedKeyQueryIsScheduledOncePerRunLoop) {
  reachability.setNetworkStatusNotificationsEnabled(true);
  network().value = 0x2;
  reachability.internetConnectionStatus();
  reachability.internetConnectionStatus();
  EXPECT_EQ(network().scheduleCalls, 1);
  EXPECT_TRUE(network().isScheduledOn(RunLoop::current()));
  EXPECT_EQ(network().callback, &NetworkReachabilityCallback);

  // Used on another thread, it reports there too, until the thread ends and
  // takes its run loop along.
  std::thread([&] {
    reachability.internetConnectionStatus();
    reachability.internetConnectionStatus();
    EXPECT_TRUE(network().isScheduledOn(RunLoop::current()));
    EXPECT_EQ(reachability.reachabilityQueries().at(kDefaultRouteKey)->runLoops().size(), 2u);
  }).join();
  EXPECT_EQ(network().scheduleCalls, 2);
  ASSERT_EQ(network().scheduled.size(), 1u);
  EXPECT_TRUE(network().isScheduledOn(RunLoop::current()));
  EXPECT_EQ(reachability.reachabilityQueries().at(kDefaultRouteKey)->runLoops(),
            std::vector<RunLoop*>{&RunLoop::current()});
}

TEST_F(NetworkReachabilityTest, AThreadThatEndsLeavesNothingScheduled) {
  reachability.setNetworkStatusNotificationsEnabled(true);
  for (int round = 0; round < 3; ++round) {
    std::thread([&] {
      reachability.localWiFiConnectionStatus();
      reachability.reachabilityRefForAddress("192.0.2." + std::to_string(round));
    }).join();
  }
  for (const auto& [key, handle] : factory->handles) EXPECT_TRUE(handle->scheduled.empty()) << key;
  for (const auto& [key, query] : reachability.reachabilityQueries()) {
    EXPECT_TRUE(query->runLoops().empty()) << key;
  }
  EXPECT_EQ(linkLocal().scheduleCalls, 3);  // each new thread's loop is a new loop
  // A thread whose instance went first has nothing left to do at its end.
  std::thread([&] {
    auto other = std::make_unique<NetworkReachability>(factory);
    other->setNetworkStatusNotificationsEnabled(true);
    other->internetConnectionStatus();
    other.reset();
  }).join();
  EXPECT_TRUE(network().scheduled.empty());
}

TEST_F(NetworkReachabilityTest, HostNameHandleIsMadeAndScheduledOnce) {
  reachability.setNetworkStatusNotificationsEnabled(true);
  ReachabilityHandle* first = reachability.reachabilityRefForHostName("example.test");
  ReachabilityHandle* second = reachability.reachabilityRefForHostName("example.test");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(factory->created, 1);
  auto& handle = factory->handle("name:example.test");
  EXPECT_EQ(first, &handle);
  EXPECT_EQ(handle.scheduleCalls, 1);
  EXPECT_EQ(reachability.reachabilityQueries().at("example.test")->hostNameOrAddress(),
            "example.test");

  // On another thread the existing query is answered, not scheduled again.
  std::thread([&] { reachability.reachabilityRefForHostName("example.test"); }).join();
  EXPECT_EQ(handle.scheduleCalls, 1);

  EXPECT_EQ(reachability.reachabilityRefForHostName(""), nullptr);
  EXPECT_EQ(reachability.reachabilityRefForAddress(""), nullptr);
  EXPECT_EQ(factory->created, 1);
}

TEST_F(NetworkReachabilityTest, AddressHandlesAndBadAddresses) {
  reachability.setNetworkStatusNotificationsEnabled(true);
  ReachabilityHandle* handle = reachability.reachabilityRefForAddress("192.0.2.7");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle, &factory->handle("192.0.2.7"));
  EXPECT_EQ(reachability.reachabilityRefForAddress("192.0.2.7"), handle);
  EXPECT_EQ(factory->handle("192.0.2.7").scheduleCalls, 1);
  // inet_aton's forms: a short form is an address, an out-of-range part not.
  EXPECT_NE(reachability.reachabilityRefForAddress("127.1"), nullptr);
  EXPECT_NE(factory->handles.count("127.0.0.1"), 0u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(reachability.reachabilityRefForAddress("192.0.2.256"), nullptr);
  EXPECT_EQ(reachability.reachabilityRefForAddress("example.test"), nullptr);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Failed to convert an IP address string to a sockaddr_in: 192.0.2.256"),
            std::string::npos);
  EXPECT_EQ(factory->created, 2);
}

TEST_F(NetworkReachabilityTest, FailuresAnswerNothingAndSayWhy) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(reachability.remoteHostStatus(), kNotReachable);
  factory->fail = true;
  EXPECT_EQ(reachability.reachabilityRefForHostName("example.test"), nullptr);
  EXPECT_EQ(reachability.reachabilityRefForAddress("192.0.2.7"), nullptr);
  EXPECT_EQ(reachability.internetConnectionStatus(), kNotReachable);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("No hostName or address specified. Cannot determine reachability."),
            std::string::npos);
  EXPECT_NE(log.find("Failed to create SCNetworkReachabilityRef for host: example.test"),
            std::string::npos);
  EXPECT_NE(log.find("Failed to create SCNetworkReachabilityRef for address: 192.0.2.7"),
            std::string::npos);
  // Nothing half-made is kept: the next try with a working factory succeeds.
  factory->fail = false;
  EXPECT_NE(reachability.reachabilityRefForHostName("example.test"), nullptr);
  network().value = 0x2;
  EXPECT_EQ(reachability.internetConnectionStatus(), 2);
}

TEST_F(NetworkReachabilityTest, HostNameWinsOverAddress) {
  factory->handle("name:example.test").value = 0x3;
  factory->handle("192.0.2.7").value = 0x2;
  reachability.setAddress("192.0.2.7");
  EXPECT_EQ(reachability.remoteHostStatus(), 2);
  reachability.setHostName("example.test");
  EXPECT_EQ(reachability.remoteHostStatus(), 1);
  EXPECT_EQ(reachability.hostName(), "example.test");
  EXPECT_EQ(reachability.address(), "192.0.2.7");
}

TEST_F(NetworkReachabilityTest, IsHostReachableCachesAndSchedulesNothing) {
  reachability.setNetworkStatusNotificationsEnabled(true);
  EXPECT_FALSE(reachability.isHostReachable(""));
  EXPECT_EQ(factory->created, 0);  // the platform was not touched
  factory->handle("name:example.test").value = 0x2;
  EXPECT_TRUE(reachability.isHostReachable("example.test"));
  factory->handle("name:example.test").value = 0x6;
  EXPECT_FALSE(reachability.isHostReachable("example.test"));
  factory->handle("name:example.test").value = std::nullopt;
  EXPECT_FALSE(reachability.isHostReachable("example.test"));
  EXPECT_EQ(factory->created, 3);
  EXPECT_EQ(factory->handle("name:example.test").scheduleCalls, 0);
  EXPECT_TRUE(reachability.reachabilityQueries().empty());
}

TEST_F(NetworkReachabilityTest, StopListeningThenOnlyFixedKeysComeBack) {
  reachability.setNetworkStatusNotificationsEnabled(true);
  network().value = 0x2;
  reachability.internetConnectionStatus();
  reachability.reachabilityRefForHostName("example.test");
  auto& host = factory->handle("name:example.test");
  ASSERT_TRUE(network().isScheduledOn(RunLoop::current()));
  ASSERT_TRUE(host.isScheduledOn(RunLoop::current()));

  reachability.stopListeningForReachabilityChanges();
  EXPECT_TRUE(network().scheduled.empty());
  EXPECT_TRUE(host.scheduled.empty());
  for (const auto& [key, query] : reachability.reachabilityQueries()) {
    EXPECT_TRUE(query->runLoops().empty()) << key;
    EXPECT_NE(query->reachabilityRef(), nullptr) << key;  // queries and handles stay
  }

  reachability.internetConnectionStatus();
  testing::internal::CaptureStderr();
  reachability.remoteHostStatus();  // no target: answers 0, schedules nothing
  testing::internal::GetCapturedStderr();
  reachability.setHostName("example.test");
  reachability.remoteHostStatus();
  EXPECT_TRUE(network().isScheduledOn(RunLoop::current()));
  EXPECT_TRUE(host.scheduled.empty());
  EXPECT_EQ(factory->created, 2);
}

TEST_F(NetworkReachabilityTest, CallbackPostsTheNotificationWithoutObject) {
  reachability.setNetworkStatusNotificationsEnabled(true);
  network().value = 0x2;
  reachability.internetConnectionStatus();
  int posts = 0;
  bool hadObject = true;
  auto token = NotificationCenter::defaultCenter().addObserver(
      "NetworkStatusChangedNotification", nullptr, [&](const Notification& n) {
        ++posts;
        hadObject = n.object.has_value() || n.sender != nullptr;
      });
  network().value = 0x0;
  network().fire();
  NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(posts, 1);
  EXPECT_FALSE(hadObject);
  EXPECT_EQ(reachability.internetConnectionStatus(), 0);
}

TEST_F(NetworkReachabilityTest, DestructionUnschedulesEverything) {
  auto other = std::make_unique<NetworkReachability>(factory);
  other->setNetworkStatusNotificationsEnabled(true);
  other->internetConnectionStatus();
  ASSERT_FALSE(network().scheduled.empty());
  other.reset();
  EXPECT_TRUE(network().scheduled.empty());
  EXPECT_EQ(network().callback, nullptr);  // the handle no longer calls a query that is gone
}

TEST(NetworkReachabilityAddressTest, AddressFromStringFollowsInetAton) {
  sockaddr_in address;
  std::memset(&address, 0xAB, sizeof address);
  ASSERT_TRUE(NetworkReachability::addressFromString("169.254.0.0", &address));
  EXPECT_EQ(sizeof address, 16u);
  EXPECT_EQ(address.sin_family, AF_INET);
  EXPECT_EQ(address.sin_port, 0);
  EXPECT_EQ(address.sin_addr.s_addr, htonl(0xA9FE0000));
  for (unsigned char b : address.sin_zero) EXPECT_EQ(b, 0);
  EXPECT_TRUE(NetworkReachability::addressFromString("0.0.0.0", &address));
  EXPECT_EQ(address.sin_addr.s_addr, 0u);
  EXPECT_TRUE(NetworkReachability::addressFromString("0x7f.1", &address));
  EXPECT_EQ(address.sin_addr.s_addr, htonl(0x7F000001));
  EXPECT_FALSE(NetworkReachability::addressFromString("", &address));
  EXPECT_FALSE(NetworkReachability::addressFromString("1.2.3.4.5", &address));
  EXPECT_FALSE(NetworkReachability::addressFromString("host.example", &address));
  EXPECT_FALSE(NetworkReachability::addressFromString(std::string("1.2.3.4\0x", 9), &address));
}

TEST(NetworkReachabilitySharedTest, SharedInstanceStartsQuiet) {
  NetworkReachability& shared = NetworkReachability::sharedNetworkReachability();
  EXPECT_EQ(&shared, &NetworkReachability::sharedNetworkReachability());
  EXPECT_FALSE(shared.networkStatusNotificationsEnabled());
  EXPECT_TRUE(shared.hostName().empty());
  EXPECT_TRUE(shared.address().empty());
  EXPECT_TRUE(shared.reachabilityQueries().empty());
}

}  // namespace
}  // namespace glowsnap
