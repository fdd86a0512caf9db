// NotificationCenter: observers by notification name and optional sender.
// A post calls the matching observers on the posting thread, in the order
// they were added; an observer removed during a post is not called again.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace glowsnap {

struct Notification {
  std::string name;
  std::any object;               // what the poster attaches (a std::string for "progressChanged")
  const void* sender = nullptr;  // identity observers may filter on
  std::map<std::string, std::any> userInfo;
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;
  using Token = std::uint64_t;

  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // name empty: every notification; sender null: from any sender.
  Token addObserver(const std::string& name, const void* sender, Observer observer);
  void removeObserver(Token token);

  void post(const Notification& notification);
  void post(const std::string& name, std::any object = {}, const void* sender = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace glowsnap
