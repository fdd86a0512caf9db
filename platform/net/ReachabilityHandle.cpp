#include "platform/net/ReachabilityHandle.h"

#include <mutex>

#include "platform/net/NetlinkReachabilityHandle.h"

namespace glowsnap {

namespace {

class SystemReachabilityFactory : public ReachabilityHandleFactory {
 public:
  std::shared_ptr<ReachabilityHandle> createWithName(const std::string& name) override {
    return NetlinkReachabilityHandle::createWithName(name);
  }
  std::shared_ptr<ReachabilityHandle> createWithAddress(const sockaddr_in& address) override {
    return NetlinkReachabilityHandle::createWithAddress(address);
  }
};

std::mutex& factoryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<ReachabilityHandleFactory>& replacedFactory() {
  static std::shared_ptr<ReachabilityHandleFactory> factory;
  return factory;
}

}  // namespace

std::shared_ptr<ReachabilityHandleFactory> ReachabilityHandleFactory::system() {
  static const auto factory = std::make_shared<SystemReachabilityFactory>();
  return factory;
}

std::shared_ptr<ReachabilityHandleFactory> ReachabilityHandleFactory::current() {
  std::lock_guard lock(factoryMutex());
  if (replacedFactory()) return replacedFactory();
  return system();
}

void ReachabilityHandleFactory::setCurrent(std::shared_ptr<ReachabilityHandleFactory> factory) {
  std::lock_guard lock(factoryMutex());
  replacedFactory() = std::move(factory);
}

}  // namespace glowsnap
