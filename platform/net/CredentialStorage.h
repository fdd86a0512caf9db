// CredentialStorage: the lasting store of credentials, kept in the
// desktop's keyring through the Secret Service (libsecret).
//
// Each protection space (host, port, protocol, realm) has at most one
// default credential. The password lives only in the keyring, which keeps it
// encrypted; nothing is written to disk here. Where no Secret Service is
// running (no session bus, or no keyring on it), saving fails with an error
// that says nothing was kept, and lookups find nothing.
//
// The calls block until the service answers (D-Bus's own time-out bounds
// them); they may be made from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Result.h"

namespace glowsnap {

struct ProtectionSpace {
  std::string host;
  int port = 0;
  // The URL's scheme ("http", "https").
  std::string protocol;
  std::string realm;

  bool operator==(const ProtectionSpace& other) const {
    return host == other.host && port == other.port && protocol == other.protocol &&
           realm == other.realm;
  }
  bool operator<(const ProtectionSpace& other) const;
};

struct Credential {
  std::string user;
  std::string password;
};

class CredentialStorage {
 public:
  static constexpr const char* kErrorDomain = "CredentialStorageErrorDomain";
  // The schema's name as the keyring shows it.
  static constexpr const char* kSchemaName = "org.glowsnap.Credential";

  static CredentialStorage& sharedCredentialStorage();

  // Makes credential the default of space, replacing the one it had. On
  // failure nothing was kept, and the error says why.
  Result<void> setDefaultCredential(const Credential& credential, const ProtectionSpace& space);
  // The default credential of space; nothing when there is none or no
  // keyring can be reached.
  std::optional<Credential> defaultCredential(const ProtectionSpace& space);
  // Removes the default credential of space (nothing to remove is no error).
  Result<void> removeDefaultCredential(const ProtectionSpace& space);

 private:
  CredentialStorage() = default;
};

}  // namespace glowsnap
