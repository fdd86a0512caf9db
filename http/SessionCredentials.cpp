#include "http/SessionCredentials.h"

namespace glowsnap {

ProtectionSpace SessionCredentials::spaceFor(const URL& url, const std::string& realm) {
  return ProtectionSpace{url.host(), url.effectivePort(), url.scheme(), realm};
}

void SessionCredentials::store(const ProtectionSpace& space,
                               HTTPAuthentication::Credentials credentials,
                               std::shared_ptr<HTTPAuthentication> authentication) {
  std::lock_guard guard(lock_);
  entries_[space] =
      Stored{Entry{space, std::move(credentials), std::move(authentication)}, ++serial_};
}

std::optional<SessionCredentials::Entry> SessionCredentials::forURL(const URL& url) const {
  std::lock_guard guard(lock_);
  const Stored* latest = nullptr;
  for (const auto& [space, stored] : entries_) {
    if (space.host != url.host() || space.port != url.effectivePort() ||
        space.protocol != url.scheme())
      continue;
    if (!latest || stored.serial > latest->serial) latest = &stored;
  }
  if (!latest) return std::nullopt;
  return latest->entry;
}

std::optional<SessionCredentials::Entry> SessionCredentials::forSpace(
    const ProtectionSpace& space) const {
  std::lock_guard guard(lock_);
  auto it = entries_.find(space);
  if (it == entries_.end()) return std::nullopt;
  return it->second.entry;
}

void SessionCredentials::remove(const ProtectionSpace& space) {
  std::lock_guard guard(lock_);
  entries_.erase(space);
}

void SessionCredentials::clear() {
  std::lock_guard guard(lock_);
  entries_.clear();
}

bool SessionCredentials::empty() const {
  std::lock_guard guard(lock_);
  return entries_.empty();
}

}  // namespace glowsnap
