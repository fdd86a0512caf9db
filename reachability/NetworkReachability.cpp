#include "reachability/NetworkReachability.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "platform/foundation/RunLoop.h"

namespace glowsnap {

namespace {

// The internal-consistency failures: the caller is told "nothing" and the
// process goes on; the line on stderr says why.
void reportInconsistency(const std::string& text) {
  std::fprintf(stderr, "NetworkReachability: %s\n", text.c_str());
}

std::mutex& liveMutex() {
  static std::mutex mutex;
  return mutex;
}

std::set<NetworkReachability*>& liveInstances() {
  static std::set<NetworkReachability*> instances;
  return instances;
}

}  // namespace

// Made on a thread after its run loop, so destroyed before it at thread exit.
struct ThreadExitWatch {
  RunLoop* loop = nullptr;
  std::set<NetworkReachability*> instances;
  ~ThreadExitWatch() {
    std::lock_guard lock(liveMutex());
    for (NetworkReachability* instance : instances) {
      if (liveInstances().count(instance)) instance->forgetRunLoop(loop);
    }
  }
};

void NetworkReachability::watchCurrentThreadExit() {
  RunLoop& loop = RunLoop::current();
  thread_local ThreadExitWatch watch;
  watch.loop = &loop;
  watch.instances.insert(this);
}

void NetworkReachability::forgetRunLoop(RunLoop* loop) {
  std::lock_guard lock(mutex_);
  for (auto& [key, query] : reachabilityQueries_) {
    if (!query || !query->isScheduledOnRunLoop(loop)) continue;
    if (query->reachabilityRef() != nullptr) {
      query->reachabilityRef()->unscheduleFromRunLoop(*loop, RunLoop::kDefaultMode);
    }
    std::vector<RunLoop*> loops = query->runLoops();
    std::erase(loops, loop);
    query->setRunLoops(std::move(loops));
  }
}

NetworkReachability& NetworkReachability::sharedNetworkReachability() {
  static NetworkReachability* shared = new NetworkReachability();  // lives for the process
  return *shared;
}

NetworkReachability::NetworkReachability(std::shared_ptr<ReachabilityHandleFactory> factory)
    : factory_(factory ? std::move(factory) : ReachabilityHandleFactory::current()) {
  std::lock_guard lock(liveMutex());
  liveInstances().insert(this);
}

NetworkReachability::~NetworkReachability() {
  {
    std::lock_guard lock(liveMutex());
    liveInstances().erase(this);
  }
  stopListeningForReachabilityChanges();
}

bool NetworkReachability::networkStatusNotificationsEnabled() const {
  std::lock_guard lock(mutex_);
  return networkStatusNotificationsEnabled_;
}

void NetworkReachability::setNetworkStatusNotificationsEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  networkStatusNotificationsEnabled_ = enabled;
}

std::string NetworkReachability::hostName() const {
  std::lock_guard lock(mutex_);
  return hostName_;
}

void NetworkReachability::setHostName(std::string hostName) {
  std::lock_guard lock(mutex_);
  hostName_ = std::move(hostName);
}

std::string NetworkReachability::address() const {
  std::lock_guard lock(mutex_);
  return address_;
}

void NetworkReachability::setAddress(std::string address) {
  std::lock_guard lock(mutex_);
  address_ = std::move(address);
}

NetworkReachability::QueryMap NetworkReachability::reachabilityQueries() const {
  std::lock_guard lock(mutex_);
  return reachabilityQueries_;
}

void NetworkReachability::setReachabilityQueries(QueryMap queries) {
  std::lock_guard lock(mutex_);
  reachabilityQueries_ = std::move(queries);
}

bool NetworkReachability::isReachableWithoutRequiringConnection(ReachabilityFlags flags) {
  const bool reachable = (flags & kReachabilityFlagsReachable) != 0;
  const bool wwan = (flags & kReachabilityFlagsIsWWAN) != 0;
  const bool connectionRequired = (flags & kReachabilityFlagsConnectionRequired) != 0;
  return reachable && (wwan || !connectionRequired);
}

bool NetworkReachability::isFixedKeyAvailable(const char* key, ReachabilityFlags* flags) {
  ReachabilityHandle* handle = nullptr;
  {
    std::lock_guard lock(mutex_);
    std::shared_ptr<NetworkReachabilityQuery>& query = reachabilityQueries_[key];
    if (!query || query->reachabilityRef() == nullptr) {
      sockaddr_in address{};
      addressFromString(key, &address);
      auto created = factory_->createWithAddress(address);
      if (!created) {
        if (!query) reachabilityQueries_.erase(key);
        reportInconsistency(std::string("Failed to create SCNetworkReachabilityRef for address: ") +
                            key);
        return false;
      }
      query = std::make_shared<NetworkReachabilityQuery>(this);
      query->setHostNameOrAddress(key);
      query->setReachabilityRef(std::move(created));
    }
    query->scheduleOnRunLoop(&RunLoop::current());
    handle = query->reachabilityRef();
  }
  // Read outside the lock: the handle lives as long as its query, and queries
  // are never removed.
  const std::optional<ReachabilityFlags> read = handle->flags();
  if (!read) return false;
  if (flags != nullptr) *flags = *read;
  return isReachableWithoutRequiringConnection(*read);
}

bool NetworkReachability::isNetworkAvailableFlags(ReachabilityFlags* flags) {
  return isFixedKeyAvailable(kDefaultRouteKey, flags);
}

bool NetworkReachability::isAdHocWiFiNetworkAvailableFlags(ReachabilityFlags* flags) {
  return isFixedKeyAvailable(kLinkLocalAddressKey, flags);
}

NetworkStatus NetworkReachability::internetConnectionStatus() {
  ReachabilityFlags flags = 0;
  if (!isNetworkAvailableFlags(&flags)) return kNotReachable;
  if (flags & kReachabilityFlagsIsDirect) return kNotReachable;
  if (flags & kReachabilityFlagsTransientConnection) return kReachableViaCarrierDataNetwork;
  return kReachableViaWiFiNetwork;
}

NetworkStatus NetworkReachability::localWiFiConnectionStatus() {
  ReachabilityFlags flags = 0;
  if (isAdHocWiFiNetworkAvailableFlags(&flags) && (flags & kReachabilityFlagsIsDirect)) {
    return kReachableViaWiFiNetwork;
  }
  return kNotReachable;
}

NetworkStatus NetworkReachability::remoteHostStatus() {
  ReachabilityHandle* handle = nullptr;
  const std::string name = hostName();
  const std::string addressText = address();
  if (!name.empty()) {
    handle = reachabilityRefForHostName(name);
  } else if (!addressText.empty()) {
    handle = reachabilityRefForAddress(addressText);
  } else {
    reportInconsistency("No hostName or address specified. Cannot determine reachability.");
    return kNotReachable;
  }
  if (handle == nullptr) return kNotReachable;
  const std::optional<ReachabilityFlags> flags = handle->flags();
  if (!flags || !isReachableWithoutRequiringConnection(*flags)) return kNotReachable;
  return (*flags & kReachabilityFlagsTransientConnection) ? kReachableViaCarrierDataNetwork
                                                          : kReachableViaWiFiNetwork;
}

bool NetworkReachability::isHostReachable(const std::string& hostName) {
  if (hostName.empty()) return false;
  std::shared_ptr<ReachabilityHandle> handle;
  {
    std::lock_guard lock(mutex_);
    handle = factory_->createWithName(hostName);
  }
  if (!handle) return false;
  const std::optional<ReachabilityFlags> flags = handle->flags();
  return flags && isReachableWithoutRequiringConnection(*flags);
}

ReachabilityHandle* NetworkReachability::handleForTarget(const std::string& key, bool isName) {
  if (key.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  sockaddr_in address{};
  if (!isName && !addressFromString(key, &address)) {
    reportInconsistency("Failed to convert an IP address string to a sockaddr_in: " + key);
    return nullptr;
  }
  auto found = reachabilityQueries_.find(key);
  if (found != reachabilityQueries_.end() && found->second &&
      found->second->reachabilityRef() != nullptr) {
    return found->second->reachabilityRef();
  }
  auto handle = isName ? factory_->createWithName(key) : factory_->createWithAddress(address);
  if (!handle) {
    reportInconsistency(std::string("Failed to create SCNetworkReachabilityRef for ") +
                        (isName ? "host: " : "address: ") + key);
    return nullptr;
  }
  auto query = std::make_shared<NetworkReachabilityQuery>(this);
  query->setHostNameOrAddress(key);
  query->setReachabilityRef(std::move(handle));
  query->scheduleOnRunLoop(&RunLoop::current());
  reachabilityQueries_[key] = query;
  return query->reachabilityRef();
}

ReachabilityHandle* NetworkReachability::reachabilityRefForHostName(const std::string& hostName) {
  return handleForTarget(hostName, true);
}

ReachabilityHandle* NetworkReachability::reachabilityRefForAddress(const std::string& address) {
  return handleForTarget(address, false);
}

bool NetworkReachability::addressFromString(const std::string& text, sockaddr_in* address) {
  if (text.empty() || address == nullptr) return false;
  // inet_aton stops at the first NUL; text with one inside is not an address.
  if (text.find('\0') != std::string::npos) return false;
  std::memset(address, 0, sizeof *address);
  address->sin_family = AF_INET;
  return ::inet_aton(text.c_str(), &address->sin_addr) != 0;
}

void NetworkReachability::stopListeningForReachabilityChanges() {
  std::lock_guard lock(mutex_);
  for (auto& [key, query] : reachabilityQueries_) {
    if (!query) continue;
    for (RunLoop* loop : query->runLoops()) {
      if (query->reachabilityRef() != nullptr) {
        query->reachabilityRef()->unscheduleFromRunLoop(*loop, RunLoop::kDefaultMode);
      }
    }
    query->setRunLoops({});
  }
}

}  // namespace glowsnap
