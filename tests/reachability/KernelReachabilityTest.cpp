// Reachability against the real kernel, inside a network namespace of the
// test's own: only veth links and addresses that exist nowhere else, and no
// traffic is sent. Needs root (CAP_SYS_ADMIN and CAP_NET_ADMIN) and the ip
// tool; skipped with the reason otherwise.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sched.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/NetlinkReachabilityHandle.h"
#include "reachability/NetworkReachability.h"

namespace glowsnap {
namespace {

// Runs body on a thread of its own that has moved into a fresh network
// namespace (a thread's namespace is its own; the rest of the process stays
// where it was). Answers why not, when it cannot; body may give a reason too.
std::string inFreshNetworkNamespace(const std::function<void(std::string& skip)>& body) {
  if (std::system("command -v ip >/dev/null 2>&1") != 0) return "the ip tool is not installed";
  std::string skip;
  std::thread([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      skip =
          std::string("cannot make a network namespace (") + std::strerror(errno) + "); needs root";
      return;
    }
    body(skip);
  }).join();
  return skip;
}

// Commands run from the namespaced thread, so they act in its namespace.
void ip(const std::string& arguments) {
  const std::string command = "ip " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
}

// A veth pair (its far end stands for the rest of a network) with an address
// on 10.99.0.0/24. Answers false where the kernel has no veth links.
bool bringUpLinks() {
  ip("link set lo up");
  if (std::system("ip link add gs-veth0 type veth peer name gs-veth1 >/dev/null 2>&1") != 0) {
    return false;
  }
  ip("link set gs-veth1 up");
  ip("link set gs-veth0 up");
  ip("addr add 10.99.0.1/24 dev gs-veth0");
  return true;
}

ReachabilityFlags flagsOf(const char* dotted) {
  const auto flags = NetlinkReachabilityHandle::flagsForAddress(inet_addr(dotted));
  EXPECT_TRUE(flags.has_value()) << dotted;
  return flags.value_or(0xFFFFFFFF);
}

// Runs the loop in its default mode until the condition holds; the bound
// only keeps a broken build from hanging the suite.
bool runUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    RunLoop::current().runInMode(RunLoop::kDefaultMode, 1.0, true);
  }
  return true;
}

TEST(KernelReachabilityTest, FlagsFollowTheRoutingTable) {
  const std::string skip = inFreshNetworkNamespace([](std::string& skip) {
    // A namespace with nothing up reaches nothing, not even itself.
    EXPECT_EQ(flagsOf("0.0.0.0"), 0u);
    EXPECT_EQ(flagsOf("192.0.2.1"), 0u);
    if (!bringUpLinks()) {
      skip = "the kernel cannot make veth links here";
      return;
    }
    if (testing::Test::HasFatalFailure()) return;

    const ReachabilityFlags direct = kReachabilityFlagsReachable | kReachabilityFlagsIsDirect;
    EXPECT_EQ(flagsOf("0.0.0.0"), 0u);        // no default route yet
    EXPECT_EQ(flagsOf("10.99.0.7"), direct);  // on the veth's own network
    EXPECT_EQ(flagsOf("192.0.2.1"), 0u);      // elsewhere: no route
    EXPECT_EQ(flagsOf("127.0.0.1"), direct | kReachabilityFlagsIsLocalAddress);
    EXPECT_EQ(flagsOf("10.99.0.1"), direct | kReachabilityFlagsIsLocalAddress);
    EXPECT_EQ(flagsOf("169.254.0.0"), 0u);

    ip("route add default via 10.99.0.254 dev gs-veth0");
    EXPECT_EQ(flagsOf("0.0.0.0"), kReachabilityFlagsReachable);
    EXPECT_EQ(flagsOf("192.0.2.1"), kReachabilityFlagsReachable);  // through the gateway
    EXPECT_EQ(flagsOf("169.254.0.0"), kReachabilityFlagsReachable);
    ip("route add 169.254.0.0/16 dev gs-veth0");
    EXPECT_EQ(flagsOf("169.254.0.0"), direct);

    // A link that loses its carrier takes its routes' reach with it.
    ip("link set gs-veth1 down");
    EXPECT_EQ(flagsOf("0.0.0.0"), 0u);
    EXPECT_EQ(flagsOf("10.99.0.7"), 0u);
    ip("link set gs-veth1 up");
    ip("route del default");
    EXPECT_EQ(flagsOf("0.0.0.0"), 0u);

    // Host names go through the system resolver.
    auto localhost = NetlinkReachabilityHandle::createWithName("localhost");
    ASSERT_NE(localhost, nullptr);
    EXPECT_EQ(localhost->flags(), direct | kReachabilityFlagsIsLocalAddress);
    auto nowhere = NetlinkReachabilityHandle::createWithName("no-such-host.invalid");
    EXPECT_EQ(nowhere->flags(), 0u);
  });
  if (!skip.empty()) GTEST_SKIP() << skip;
}

TEST(KernelReachabilityTest, DefaultRouteFlipsTheStatusAndPostsTheNotification) {
  const std::string skip = inFreshNetworkNamespace([](std::string& skip) {
    if (!bringUpLinks()) {
      skip = "the kernel cannot make veth links here";
      return;
    }
    if (testing::Test::HasFatalFailure()) return;
    NetworkReachability reachability(ReachabilityHandleFactory::system());
    reachability.setNetworkStatusNotificationsEnabled(true);

    int posts = 0;
    const auto thread = std::this_thread::get_id();
    bool onThisThread = true;
    auto token = NotificationCenter::defaultCenter().addObserver(
        kNetworkStatusChangedNotification, nullptr, [&](const Notification&) {
          if (std::this_thread::get_id() != thread) {
            onThisThread = false;
            return;  // another test's namespace
          }
          ++posts;
        });

    EXPECT_EQ(reachability.internetConnectionStatus(), kNotReachable);
    EXPECT_EQ(reachability.localWiFiConnectionStatus(), kNotReachable);

    ip("route add default via 10.99.0.254 dev gs-veth0");
    EXPECT_TRUE(runUntil([&] { return posts > 0; })) << "no notification for the new route";
    EXPECT_EQ(reachability.internetConnectionStatus(), kReachableViaWiFiNetwork);

    posts = 0;
    ip("route add 169.254.0.0/16 dev gs-veth0");
    EXPECT_TRUE(runUntil([&] { return posts > 0; })) << "no notification for link-local";
    EXPECT_EQ(reachability.localWiFiConnectionStatus(), kReachableViaWiFiNetwork);

    posts = 0;
    ip("route del default");
    EXPECT_TRUE(runUntil([&] { return posts > 0; })) << "no notification for the lost route";
    EXPECT_EQ(reachability.internetConnectionStatus(), kNotReachable);

    // A watched host name is resolved off the loop; its first answer comes
    // back through the loop and is announced.
    posts = 0;
    reachability.setHostName("localhost");
    EXPECT_EQ(reachability.remoteHostStatus(), kReachableViaWiFiNetwork);
    EXPECT_TRUE(runUntil([&] { return posts > 0; })) << "no announcement for the resolved name";

    // After stopListening nothing more is announced until asked again.
    reachability.stopListeningForReachabilityChanges();
    posts = 0;
    ip("route add default via 10.99.0.254 dev gs-veth0");
    RunLoop::current().runInMode(RunLoop::kDefaultMode, 0.2, false);
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(reachability.internetConnectionStatus(), kReachableViaWiFiNetwork);
    ip("route del default");
    EXPECT_TRUE(runUntil([&] { return posts > 0; })) << "not listening again after a question";

    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_TRUE(onThisThread);
  });
  if (!skip.empty()) GTEST_SKIP() << skip;
}

TEST(KernelReachabilityTest, CarrierLinks) {
  // No modem here: the classification itself, as the kernel reports links.
  EXPECT_TRUE(NetlinkReachabilityHandle::isCarrierLink("wwan", ARPHRD_ETHER, IFF_UP));
  EXPECT_TRUE(NetlinkReachabilityHandle::isCarrierLink("", ARPHRD_PPP, IFF_UP | IFF_POINTOPOINT));
  EXPECT_FALSE(NetlinkReachabilityHandle::isCarrierLink("", ARPHRD_NONE, IFF_POINTOPOINT));  // tun
  EXPECT_FALSE(NetlinkReachabilityHandle::isCarrierLink("wlan", ARPHRD_ETHER, IFF_UP));
  EXPECT_FALSE(NetlinkReachabilityHandle::isCarrierLink("", ARPHRD_ETHER, IFF_UP));
}

}  // namespace
}  // namespace glowsnap
