// SessionCredentials: credentials that worked during this process, kept by
// protection space (scheme, host, port, realm) under a lock.
//
// A request reuses them only for its own origin (same scheme, host and
// port) before it is asked, and never for another host: the space is part
// of every look-up.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/net/CredentialStorage.h"
#include "platform/net/HTTPAuthentication.h"
#include "platform/net/URL.h"

namespace glowsnap {

class SessionCredentials {
 public:
  struct Entry {
    ProtectionSpace space;
    HTTPAuthentication::Credentials credentials;
    std::shared_ptr<HTTPAuthentication> authentication;
  };

  // The space a URL and a challenge's realm make.
  static ProtectionSpace spaceFor(const URL& url, const std::string& realm);

  // Keeps credentials (and the challenge they answered) for space,
  // replacing what it had.
  void store(const ProtectionSpace& space, HTTPAuthentication::Credentials credentials,
             std::shared_ptr<HTTPAuthentication> authentication);
  // The entry stored last for the URL's scheme, host and port, whatever its
  // realm; nothing for any other origin.
  std::optional<Entry> forURL(const URL& url) const;
  std::optional<Entry> forSpace(const ProtectionSpace& space) const;
  void remove(const ProtectionSpace& space);
  void clear();
  bool empty() const;

 private:
  struct Stored {
    Entry entry;
    std::uint64_t serial = 0;
  };
  mutable std::mutex lock_;
  std::map<ProtectionSpace, Stored> entries_;
  std::uint64_t serial_ = 0;
};

}  // namespace glowsnap
