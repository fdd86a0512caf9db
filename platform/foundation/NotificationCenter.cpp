#include "platform/foundation/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace glowsnap {

struct NotificationCenter::Impl {
  struct Entry {
    Token token;
    std::string name;
    const void* sender;
    Observer observer;
    // Cleared on removal, so a post already under way skips the observer.
    std::shared_ptr<std::atomic<bool>> alive;
  };
  std::mutex mutex;
  std::vector<Entry> entries;
  Token next = 1;
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::NotificationCenter() : d_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name,
                                                          const void* sender, Observer observer) {
  std::lock_guard lock(d_->mutex);
  Token token = d_->next++;
  d_->entries.push_back({token, name, sender, std::move(observer),
                         std::make_shared<std::atomic<bool>>(true)});
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(d_->mutex);
  for (auto it = d_->entries.begin(); it != d_->entries.end(); ++it) {
    if (it->token == token) {
      it->alive->store(false);
      d_->entries.erase(it);
      return;
    }
  }
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<Impl::Entry> matching;
  {
    std::lock_guard lock(d_->mutex);
    for (const auto& e : d_->entries) {
      if (!e.name.empty() && e.name != notification.name) continue;
      if (e.sender && e.sender != notification.sender) continue;
      matching.push_back(e);
    }
  }
  // Observers run without the lock so that they may add or remove observers
  // and post further notifications.
  for (const auto& e : matching) {
    if (e.alive->load()) e.observer(notification);
  }
}

void NotificationCenter::post(const std::string& name, std::any object, const void* sender) {
  Notification n;
  n.name = name;
  n.object = std::move(object);
  n.sender = sender;
  post(n);
}

}  // namespace glowsnap
