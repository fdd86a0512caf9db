// NetlinkReachabilityHandle: Linux reachability of an IPv4 address or a host
// name, read from the kernel's routing table and interfaces over rtnetlink.
//
// An address is reachable when the kernel has a usable route to it over an
// interface that is up and running; 0.0.0.0 stands for "the network" and is
// reachable when a default route exists. A route without a gateway makes the
// target direct, an address of this host is local and direct, and a route
// over a cellular modem link counts as the carrier data network (WWAN with a
// transient connection). Host names are resolved with the system resolver;
// the flags are those of the first IPv4 address.
//
// Scheduled on a run loop, the handle listens to the kernel's route, link
// and address announcements on an rtnetlink socket that the loop watches,
// and calls back when the flags differ from the ones last reported there.
// A host name is then resolved again on a helper thread, so the loop waits
// for nothing; the result comes back through RunLoop::perform.
#pragma once

#include <netinet/in.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/ReachabilityHandle.h"

namespace glowsnap {

class NetlinkReachabilityHandle : public ReachabilityHandle,
                                  public std::enable_shared_from_this<NetlinkReachabilityHandle> {
 public:
  static std::shared_ptr<NetlinkReachabilityHandle> createWithAddress(const sockaddr_in& address);
  static std::shared_ptr<NetlinkReachabilityHandle> createWithName(const std::string& name);
  ~NetlinkReachabilityHandle() override;

  std::optional<ReachabilityFlags> flags() override;
  bool setCallback(ReachabilityCallback callback, void* info) override;
  bool scheduleWithRunLoop(RunLoop& loop, const std::string& mode) override;
  bool unscheduleFromRunLoop(RunLoop& loop, const std::string& mode) override;

  // What the kernel says about one IPv4 address (network byte order) now;
  // nullopt when rtnetlink cannot be asked at all.
  static std::optional<ReachabilityFlags> flagsForAddress(in_addr_t address);

  // Whether a link is a cellular modem's: the kernel's WWAN device type, or a
  // PPP point-to-point link as a modem brings up.
  static bool isCarrierLink(const std::string& devtype, unsigned short linkType,
                            unsigned interfaceFlags);

 private:
  struct Schedule;
  struct Target;

  explicit NetlinkReachabilityHandle(std::shared_ptr<Target> target);
  void networkChanged(const std::shared_ptr<Schedule>& schedule);
  void deliver(const std::shared_ptr<Schedule>& schedule, std::optional<ReachabilityFlags> flags);

  std::shared_ptr<Target> target_;
  std::mutex mutex_;
  ReachabilityCallback callback_ = nullptr;
  void* info_ = nullptr;
  std::vector<std::shared_ptr<Schedule>> schedules_;
};

}  // namespace glowsnap
