// Scripted reachability for tests: handles whose flag words the test
// writes and whose scheduling it can see, made by a factory that hands out
// one handle per target ("name:HOST" or the dotted address) and counts
// what it made. Install it with ReachabilityHandleFactory::setCurrent (or
// give it to a NetworkReachability of the test's own).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/net/ReachabilityHandle.h"

namespace glowsnap::test {

// A handle whose flags the test writes and whose scheduling it can see.
class ScriptedHandle : public ReachabilityHandle {
 public:
  std::optional<ReachabilityFlags> value = ReachabilityFlags{0};
  ReachabilityCallback callback = nullptr;
  void* info = nullptr;
  std::vector<std::pair<RunLoop*, std::string>> scheduled;
  int scheduleCalls = 0;
  int reads = 0;

  std::optional<ReachabilityFlags> flags() override {
    ++reads;
    return value;
  }
  bool setCallback(ReachabilityCallback cb, void* i) override {
    callback = cb;
    info = i;
    return true;
  }
  bool scheduleWithRunLoop(RunLoop& loop, const std::string& mode) override {
    ++scheduleCalls;
    scheduled.emplace_back(&loop, mode);
    return true;
  }
  bool unscheduleFromRunLoop(RunLoop& loop, const std::string& mode) override {
    auto it = std::find(scheduled.begin(), scheduled.end(), std::make_pair(&loop, mode));
    if (it == scheduled.end()) return false;
    scheduled.erase(it);
    return true;
  }
  bool isScheduledOn(RunLoop& loop) const {
    return std::find(scheduled.begin(), scheduled.end(),
                     std::make_pair(&loop, std::string(RunLoop::kDefaultMode))) != scheduled.end();
  }
  void fire() { callback(this, *value, info); }
};

// Hands out one scripted handle per target, made on first request, and
// counts what it made.
class ScriptedFactory : public ReachabilityHandleFactory {
 public:
  std::map<std::string, std::shared_ptr<ScriptedHandle>> handles;  // name or dotted address
  std::map<std::string, ReachabilityFlags> initialFlags;
  int created = 0;
  bool fail = false;

  std::shared_ptr<ReachabilityHandle> createWithName(const std::string& name) override {
    return make("name:" + name);
  }
  std::shared_ptr<ReachabilityHandle> createWithAddress(const sockaddr_in& address) override {
    EXPECT_EQ(address.sin_family, AF_INET);
    EXPECT_EQ(address.sin_port, 0);
    return make(inet_ntoa(address.sin_addr));
  }
  ScriptedHandle& handle(const std::string& key) {
    auto& h = handles[key];
    if (!h) h = std::make_shared<ScriptedHandle>();
    return *h;
  }

 private:
  std::shared_ptr<ReachabilityHandle> make(const std::string& key) {
    if (fail) return nullptr;
    ++created;
    auto& h = handles[key];
    if (!h) h = std::make_shared<ScriptedHandle>();
    return h;
  }
};

}  // namespace glowsnap::test
