#include "platform/net/NetlinkReachabilityHandle.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>

#include "platform/foundation/RunLoop.h"

namespace glowsnap {

namespace {

constexpr unsigned kWatchedGroups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;

// A question to the kernel should come back at once; the time-out only keeps
// a broken kernel interface from hanging the caller.
constexpr long kAnswerTimeoutMicroseconds = 2'000'000;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

int openRouteSocket(unsigned groups, bool nonBlocking) {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0),
                          NETLINK_ROUTE);
  if (fd < 0) return -1;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = groups;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends one request and hands every answer message to each. Answers 0 when
// the kernel answered, the negated errno it reported otherwise, or -EIO
// (-errno) when the socket itself failed.
int transact(nlmsghdr* request, const std::function<void(const nlmsghdr*)>& each) {
  static std::atomic<std::uint32_t> sequence{1};
  Fd fd(openRouteSocket(0, false));
  if (fd.get() < 0) return -errno;
  timeval timeout{};
  timeout.tv_sec = kAnswerTimeoutMicroseconds / 1'000'000;
  timeout.tv_usec = kAnswerTimeoutMicroseconds % 1'000'000;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  request->nlmsg_seq = sequence++;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd.get(), request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) < 0) {
    return -errno;
  }
  alignas(nlmsghdr) char buffer[32768];
  while (true) {
    const ssize_t received = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (received < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN ? -ETIMEDOUT : -errno;
    }
    if (received == 0) return -EIO;
    int length = static_cast<int>(received);
    bool finished = false;
    for (auto* h = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(h, length);
         h = NLMSG_NEXT(h, length)) {
      if (h->nlmsg_seq != request->nlmsg_seq) continue;
      if (h->nlmsg_type == NLMSG_DONE) return 0;
      if (h->nlmsg_type == NLMSG_ERROR) {
        const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
        return error->error;
      }
      each(h);
      if (!(h->nlmsg_flags & NLM_F_MULTI)) finished = true;
    }
    if (finished) return 0;
  }
}

template <typename Request>
void addAttribute(Request& request, unsigned short type, const void* data, unsigned short size) {
  auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                              NLMSG_ALIGN(request.header.nlmsg_len));
  attribute->rta_type = type;
  attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
  std::memcpy(RTA_DATA(attribute), data, size);
  request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

struct Route {
  unsigned char type = RTN_UNSPEC;
  int outputInterface = 0;
  bool viaGateway = false;
  std::uint32_t priority = 0;
  std::uint32_t table = RT_TABLE_UNSPEC;
  unsigned char destinationLength = 0;
};

Route parseRoute(const nlmsghdr* h) {
  Route route;
  const auto* message = static_cast<const rtmsg*>(NLMSG_DATA(h));
  route.type = message->rtm_type;
  route.table = message->rtm_table;
  route.destinationLength = message->rtm_dst_len;
  int length = static_cast<int>(RTM_PAYLOAD(h));
  for (auto* a = RTM_RTA(message); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
    switch (a->rta_type) {
      case RTA_OIF:
        std::memcpy(&route.outputInterface, RTA_DATA(a), sizeof(int));
        break;
      case RTA_GATEWAY:
        route.viaGateway = true;
        break;
      case RTA_PRIORITY:
        std::memcpy(&route.priority, RTA_DATA(a), sizeof(std::uint32_t));
        break;
      case RTA_TABLE:
        std::memcpy(&route.table, RTA_DATA(a), sizeof(std::uint32_t));
        break;
      case RTA_MULTIPATH:
        // A route over several next hops: the first one speaks for it.
        if (route.outputInterface == 0 && RTA_PAYLOAD(a) >= sizeof(rtnexthop)) {
          const auto* hop = static_cast<const rtnexthop*>(RTA_DATA(a));
          route.outputInterface = hop->rtnh_ifindex;
          int hopLength = static_cast<int>(hop->rtnh_len) - static_cast<int>(sizeof(rtnexthop));
          for (auto* h2 = RTNH_DATA(hop); RTA_OK(h2, hopLength); h2 = RTA_NEXT(h2, hopLength)) {
            if (h2->rta_type == RTA_GATEWAY) route.viaGateway = true;
          }
        }
        break;
      default:
        break;
    }
  }
  return route;
}

// The route the kernel would use for address; nullopt with the kernel's
// errno when it has none.
std::optional<Route> routeTo(in_addr_t address, int* errorOut) {
  struct {
    nlmsghdr header;
    rtmsg message;
    char attributes[64];
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.message.rtm_family = AF_INET;
  request.message.rtm_dst_len = 32;
  addAttribute(request, RTA_DST, &address, sizeof address);
  std::optional<Route> route;
  const int error = transact(&request.header, [&](const nlmsghdr* h) {
    if (h->nlmsg_type == RTM_NEWROUTE) route = parseRoute(h);
  });
  *errorOut = error;
  return error == 0 ? route : std::nullopt;
}

// The preferred default route of the main table. false when the table could
// not be read.
bool defaultRoute(std::optional<Route>* out) {
  struct {
    nlmsghdr header;
    rtmsg message;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.message.rtm_family = AF_INET;
  std::optional<Route> best;
  const int error = transact(&request.header, [&](const nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWROUTE) return;
    const Route route = parseRoute(h);
    if (route.destinationLength != 0 || route.table != RT_TABLE_MAIN || route.type != RTN_UNICAST ||
        route.outputInterface == 0) {
      return;
    }
    if (!best || route.priority < best->priority) best = route;
  });
  if (error != 0) return false;
  *out = best;
  return true;
}

struct Link {
  unsigned flags = 0;
  unsigned short type = 0;
  std::string name;
};

std::optional<Link> linkWithIndex(int index) {
  struct {
    nlmsghdr header;
    ifinfomsg message;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
  request.header.nlmsg_type = RTM_GETLINK;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.message.ifi_family = AF_UNSPEC;
  request.message.ifi_index = index;
  std::optional<Link> link;
  const int error = transact(&request.header, [&](const nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWLINK) return;
    const auto* message = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
    Link found;
    found.flags = message->ifi_flags;
    found.type = message->ifi_type;
    int length = static_cast<int>(IFLA_PAYLOAD(h));
    for (auto* a = IFLA_RTA(message); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
      if (a->rta_type == IFLA_IFNAME) {
        found.name.assign(static_cast<const char*>(RTA_DATA(a)),
                          strnlen(static_cast<const char*>(RTA_DATA(a)), RTA_PAYLOAD(a)));
      }
    }
    link = found;
  });
  return error == 0 ? link : std::nullopt;
}

// The kernel's device type of a link ("wwan" for cellular modems), from the
// link's sysfs entry; empty when it has none.
std::string deviceType(const std::string& linkName) {
  if (linkName.empty() || linkName.find('/') != std::string::npos || linkName[0] == '.') return {};
  std::ifstream uevent("/sys/class/net/" + linkName + "/uevent");
  std::string line;
  while (std::getline(uevent, line)) {
    if (line.rfind("DEVTYPE=", 0) == 0) return line.substr(8);
  }
  return {};
}

std::vector<in_addr_t> resolve(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  std::vector<in_addr_t> addresses;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return addresses;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
      addresses.push_back(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
    }
  }
  ::freeaddrinfo(list);
  return addresses;
}

void drain(int fd) {
  alignas(nlmsghdr) char buffer[8192];
  while (true) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) continue;
    // ENOBUFS: announcements were lost; the flags are read afresh anyway.
    if (n < 0 && (errno == EINTR || errno == ENOBUFS)) continue;
    return;
  }
}

}  // namespace

struct NetlinkReachabilityHandle::Target {
  bool isName = false;
  in_addr_t address = 0;
  std::string name;

  std::optional<ReachabilityFlags> flagsOfAddresses(const std::vector<in_addr_t>& addresses) const {
    if (addresses.empty()) return ReachabilityFlags{0};
    return flagsForAddress(addresses.front());
  }
};

struct NetlinkReachabilityHandle::Schedule {
  RunLoop* loop = nullptr;
  std::string mode;
  std::mutex mutex;  // guards active and fd against unscheduling from another thread
  bool active = true;
  int fd = -1;
  RunLoop::Handle source = 0;
  std::optional<ReachabilityFlags> last;  // only touched on the loop's thread
  std::atomic<std::uint64_t> generation{0};
};

std::optional<ReachabilityFlags> NetlinkReachabilityHandle::flagsForAddress(in_addr_t address) {
  std::optional<Route> route;
  if (address == htonl(INADDR_ANY)) {
    if (!defaultRoute(&route)) return std::nullopt;
    if (!route) return ReachabilityFlags{0};
  } else {
    int error = 0;
    route = routeTo(address, &error);
    if (!route) {
      // Socket trouble is "cannot tell"; an answer without a route is "no".
      if (error == -EAFNOSUPPORT || error == -EPROTONOSUPPORT || error == -EACCES ||
          error == -EPERM || error == -EMFILE || error == -ENFILE || error == -ENOBUFS ||
          error == -ETIMEDOUT || error == -ENOMEM) {
        return std::nullopt;
      }
      return ReachabilityFlags{0};
    }
    if (route->type == RTN_LOCAL) {
      return kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress |
             kReachabilityFlagsIsDirect;
    }
    if (route->type != RTN_UNICAST) return ReachabilityFlags{0};
  }
  const std::optional<Link> link = linkWithIndex(route->outputInterface);
  if (!link || !(link->flags & IFF_UP) || !(link->flags & IFF_RUNNING)) return ReachabilityFlags{0};

  ReachabilityFlags flags = kReachabilityFlagsReachable;
  // The default route stands for the whole network, which is never "direct".
  if (address != htonl(INADDR_ANY) && !route->viaGateway) flags |= kReachabilityFlagsIsDirect;
  if (isCarrierLink(deviceType(link->name), link->type, link->flags)) {
    flags |= kReachabilityFlagsIsWWAN | kReachabilityFlagsTransientConnection;
  }
  return flags;
}

bool NetlinkReachabilityHandle::isCarrierLink(const std::string& devtype, unsigned short linkType,
                                              unsigned interfaceFlags) {
  if (devtype == "wwan") return true;
  return linkType == ARPHRD_PPP && (interfaceFlags & IFF_POINTOPOINT) != 0;
}

std::shared_ptr<NetlinkReachabilityHandle> NetlinkReachabilityHandle::createWithAddress(
    const sockaddr_in& address) {
  if (address.sin_family != AF_INET) return nullptr;
  auto target = std::make_shared<Target>();
  target->address = address.sin_addr.s_addr;
  return std::shared_ptr<NetlinkReachabilityHandle>(new NetlinkReachabilityHandle(target));
}

std::shared_ptr<NetlinkReachabilityHandle> NetlinkReachabilityHandle::createWithName(
    const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return nullptr;
  auto target = std::make_shared<Target>();
  target->isName = true;
  target->name = name;
  return std::shared_ptr<NetlinkReachabilityHandle>(new NetlinkReachabilityHandle(target));
}

NetlinkReachabilityHandle::NetlinkReachabilityHandle(std::shared_ptr<Target> target)
    : target_(std::move(target)) {}

NetlinkReachabilityHandle::~NetlinkReachabilityHandle() {
  std::vector<std::shared_ptr<Schedule>> schedules;
  {
    std::lock_guard lock(mutex_);
    schedules.swap(schedules_);
  }
  for (auto& schedule : schedules) {
    std::lock_guard lock(schedule->mutex);
    schedule->active = false;
    schedule->loop->removeFdSource(schedule->source);
    ::close(schedule->fd);
    schedule->fd = -1;
  }
}

std::optional<ReachabilityFlags> NetlinkReachabilityHandle::flags() {
  if (!target_->isName) return flagsForAddress(target_->address);
  return target_->flagsOfAddresses(resolve(target_->name));
}

bool NetlinkReachabilityHandle::setCallback(ReachabilityCallback callback, void* info) {
  std::lock_guard lock(mutex_);
  callback_ = callback;
  info_ = callback != nullptr ? info : nullptr;
  return true;
}

bool NetlinkReachabilityHandle::scheduleWithRunLoop(RunLoop& loop, const std::string& mode) {
  {
    std::lock_guard lock(mutex_);
    for (const auto& s : schedules_) {
      if (s->loop == &loop && s->mode == mode) return true;
    }
  }
  // Listening starts before the first reading, so no change falls between.
  Fd fd(openRouteSocket(kWatchedGroups, true));
  if (fd.get() < 0) return false;
  auto schedule = std::make_shared<Schedule>();
  schedule->loop = &loop;
  schedule->mode = mode;
  schedule->fd = fd.release();
  if (!target_->isName) schedule->last = flagsForAddress(target_->address);

  std::weak_ptr<NetlinkReachabilityHandle> weakSelf = weak_from_this();
  std::weak_ptr<Schedule> weakSchedule = schedule;
  schedule->source = loop.addFdSource(
      schedule->fd, RunLoop::Readable,
      [weakSelf, weakSchedule](unsigned) {
        auto self = weakSelf.lock();
        auto schedule = weakSchedule.lock();
        if (!self || !schedule) return;
        {
          std::lock_guard lock(schedule->mutex);
          if (!schedule->active) return;
          drain(schedule->fd);
        }
        self->networkChanged(schedule);
      },
      mode);
  {
    std::lock_guard lock(mutex_);
    schedules_.push_back(schedule);
  }
  // A name has no flags until it is resolved; resolving it off the loop
  // reports the first answer as a change, as a watched name does.
  if (target_->isName) networkChanged(schedule);
  return true;
}

bool NetlinkReachabilityHandle::unscheduleFromRunLoop(RunLoop& loop, const std::string& mode) {
  std::shared_ptr<Schedule> schedule;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(schedules_.begin(), schedules_.end(),
                           [&](const auto& s) { return s->loop == &loop && s->mode == mode; });
    if (it == schedules_.end()) return false;
    schedule = *it;
    schedules_.erase(it);
  }
  std::lock_guard lock(schedule->mutex);
  schedule->active = false;
  loop.removeFdSource(schedule->source);
  ::close(schedule->fd);
  schedule->fd = -1;
  return true;
}

void NetlinkReachabilityHandle::networkChanged(const std::shared_ptr<Schedule>& schedule) {
  if (!target_->isName) {
    deliver(schedule, flagsForAddress(target_->address));
    return;
  }
  // Only the newest resolution of a burst of changes is reported.
  const std::uint64_t generation = ++schedule->generation;
  std::weak_ptr<NetlinkReachabilityHandle> weakSelf = weak_from_this();
  std::weak_ptr<Schedule> weakSchedule = schedule;
  std::thread([weakSelf, weakSchedule, target = target_, generation] {
    const std::optional<ReachabilityFlags> flags = target->flagsOfAddresses(resolve(target->name));
    auto schedule = weakSchedule.lock();
    if (!schedule) return;
    std::lock_guard lock(schedule->mutex);
    if (!schedule->active) return;  // the loop may be gone: do not touch it
    schedule->loop->perform(
        [weakSelf, weakSchedule, generation, flags] {
          auto self = weakSelf.lock();
          auto schedule = weakSchedule.lock();
          if (!self || !schedule || schedule->generation != generation) return;
          self->deliver(schedule, flags);
        },
        schedule->mode);
  }).detach();
}

void NetlinkReachabilityHandle::deliver(const std::shared_ptr<Schedule>& schedule,
                                        std::optional<ReachabilityFlags> flags) {
  if (!flags) return;
  {
    std::lock_guard lock(schedule->mutex);
    if (!schedule->active) return;
  }
  if (schedule->last == flags) return;
  schedule->last = flags;
  ReachabilityCallback callback;
  void* info;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;
    info = info_;
  }
  if (callback != nullptr) callback(this, *flags, info);
}

}  // namespace glowsnap
