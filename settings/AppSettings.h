// AppSettings: the settings the user may change, by key, over the settings
// store (Defaults) and the keyring (CredentialStorage): the application's
// own keys, the Natter account, where the three sharing services are, and
// the mail server. `glowsnap config` edits them; the desktop application
// reads them.
//
// Secrets (the Natter and SMTP passwords) live in the keyring only, under a
// protection space of their own per key; they are never written to the
// settings file, and a copy found there is not used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Defaults.h"
#include "platform/foundation/Result.h"
#include "platform/net/CredentialStorage.h"

namespace glowsnap {

enum class SettingKind {
  Text,
  Integer,
  Boolean,
  // An http or https base URL.
  ServiceURL,
  // An smtp or smtps URL.
  MailURL,
  // Kept in the keyring.
  Secret,
};

struct SettingInfo {
  const char* key;
  SettingKind kind;
  // As `config get` shows it when unset; empty for none.
  const char* defaultValue;
  const char* help;
  // Integer settings: the range allowed.
  std::int64_t minimum = 0;
  std::int64_t maximum = 0;
};

inline constexpr const char* kSettingsErrorDomain = "GlowsnapSettings";
enum SettingsErrorCode : int {
  kSettingsUnknownKey = 1,
  kSettingsInvalidValue = 2,
  kSettingsNotWritten = 3,
  kSettingsKeyringFailed = 4,
};

class AppSettings {
 public:
  static constexpr const char* kNatterUsername = "natter_username_preference";
  static constexpr const char* kNatterPassword = "natter_password_preference";
  static constexpr const char* kNatterURL = "natter_url";
  static constexpr const char* kPixdropURL = "pixdrop_url";
  static constexpr const char* kMingleURL = "mingle_url";
  static constexpr const char* kMingleAPIKey = "mingle_api_key";
  static constexpr const char* kMingleAPISecret = "mingle_api_secret";
  // The application's Mingle credentials when none are set: the pair the
  // README registers with glowsnap-services (add-app --api-key).
  static constexpr const char* kDefaultMingleAPIKey = "5e0a7c21b9d84f36a1e2c07d93b65f18";
  static constexpr const char* kDefaultMingleAPISecret = "7b3f90d2e4a61c58f0d9b2a7e3c41d06";
  static constexpr const char* kSMTPURL = "smtp_url";
  static constexpr const char* kSMTPUsername = "smtp_username";
  static constexpr const char* kSMTPPassword = "smtp_password";
  static constexpr const char* kMailFrom = "mail_from";
  // The one glowsnap-services on this machine, which serves all three.
  static constexpr const char* kDefaultServiceURL = "http://127.0.0.1:8420";

  // Every key, in the order `config list` shows them.
  static const std::vector<SettingInfo>& known();
  static const SettingInfo* info(const std::string& key);
  // The keyring's place for a secret setting.
  static ProtectionSpace secretSpace(const std::string& key);

  // keyring: nullptr for none (secrets then read as unset and cannot be set).
  AppSettings(Defaults& defaults, CredentialStorage* keyring);

  // The value as text (integers in decimal, booleans "true"/"false"); the
  // default when unset; nothing when unset without a default. Never a
  // secret's value: use secret().
  std::optional<std::string> text(const std::string& key) const;
  // Whether the user gave the key a value (in the file, or in the keyring).
  bool isSet(const std::string& key) const;
  // Checks value against the key's kind and stores it (a secret in the
  // keyring, removing any copy in the file). Nothing changes on failure.
  Status set(const std::string& key, const std::string& value);
  Status unset(const std::string& key);
  // A secret setting's value from the keyring.
  std::optional<std::string> secret(const std::string& key) const;
  // A secret setting that also stands, in plain text, in the settings file
  // (written there by hand or by another program).
  bool hasPlainCopy(const std::string& key) const;

  // Keys in the file that no setting knows.
  std::vector<std::string> unknownKeysInFile() const;

  // Service base URLs (no trailing "/"): the setting, or the default.
  std::string natterURL() const { return serviceURL(kNatterURL); }
  std::string pixdropURL() const { return serviceURL(kPixdropURL); }
  std::string mingleURL() const { return serviceURL(kMingleURL); }
  std::string mingleAPIKey() const;
  std::string mingleAPISecret() const;
  Defaults& defaults() const { return defaults_; }

 private:
  std::string serviceURL(const char* key) const;

  Defaults& defaults_;
  CredentialStorage* keyring_;
};

}  // namespace glowsnap
