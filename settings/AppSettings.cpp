#include "settings/AppSettings.h"

#include <algorithm>
#include <charconv>

#include "platform/net/URL.h"

namespace glowsnap {

namespace {

Error settingsError(int code, std::string description) {
  Error e;
  e.domain = kSettingsErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<bool> parseBoolean(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (text == "true" || text == "yes" || text == "on" || text == "1") return true;
  if (text == "false" || text == "no" || text == "off" || text == "0") return false;
  return std::nullopt;
}

// A base URL without credentials, query or fragment, of one of the schemes.
bool isBaseURL(const std::string& text, std::initializer_list<const char*> schemes) {
  auto url = URL::parse(text);
  if (!url || url->host().empty() || url->query() || url->fragment()) return false;
  if (!url->user().empty() || !url->password().empty()) return false;
  return std::any_of(schemes.begin(), schemes.end(),
                     [&](const char* s) { return url->scheme() == s; });
}

}  // namespace

const std::vector<SettingInfo>& AppSettings::known() {
  static const std::vector<SettingInfo> settings = {
      {kNatterUsername, SettingKind::Text, "", "Natter user name, for sharing through Pixdrop"},
      {kNatterPassword, SettingKind::Secret, "", "Natter password (kept in the keyring)"},
      {kNatterURL, SettingKind::ServiceURL, kDefaultServiceURL,
       "where Natter's credential check is (https, or http to this machine)"},
      {kPixdropURL, SettingKind::ServiceURL, kDefaultServiceURL,
       "where Pixdrop's upload is (https, or http to this machine)"},
      {kMingleURL, SettingKind::ServiceURL, kDefaultServiceURL,
       "where the Mingle service and its pages are"},
      {kMingleAPIKey, SettingKind::Text, kDefaultMingleAPIKey,
       "the application's Mingle API key (glowsnap-services add-app prints one)"},
      {kMingleAPISecret, SettingKind::Secret, "",
       "the application's Mingle API secret (kept in the keyring; unset: the README's pair)"},
      {kSMTPURL, SettingKind::MailURL, "",
       "mail server, smtp://HOST:PORT (STARTTLS) or smtps://HOST:PORT; unset: the desktop's mail "
       "program"},
      {kSMTPUsername, SettingKind::Text, "", "user name at the mail server (unset: no log-in)"},
      {kSMTPPassword, SettingKind::Secret, "", "password at the mail server (kept in the keyring)"},
      {kMailFrom, SettingKind::Text, "", "sender address of mailed photos"},
      {"resolution", SettingKind::Integer, "2",
       "working resolution: 0 to 5 for 320, 640, 800, 1024, 1600, 2048 pixels", 0, 5},
      {"do_not_show_info", SettingKind::Boolean, "false", "no first-launch notice"},
      {"num_runs", SettingKind::Integer, "0", "how often the application was started", 0,
       INT64_MAX},
  };
  return settings;
}

const SettingInfo* AppSettings::info(const std::string& key) {
  for (const SettingInfo& s : known())
    if (key == s.key) return &s;
  return nullptr;
}

ProtectionSpace AppSettings::secretSpace(const std::string& key) {
  return ProtectionSpace{"settings.glowsnap", 0, "glowsnap", key};
}

AppSettings::AppSettings(Defaults& defaults, CredentialStorage* keyring)
    : defaults_(defaults), keyring_(keyring) {}

std::optional<std::string> AppSettings::text(const std::string& key) const {
  const SettingInfo* s = info(key);
  if (s && s->kind == SettingKind::Secret) return std::nullopt;
  if (defaults_.hasKey(key)) {
    SettingKind kind = s ? s->kind : SettingKind::Text;
    switch (kind) {
      case SettingKind::Integer:
        return std::to_string(defaults_.integerForKey(key));
      case SettingKind::Boolean:
        return defaults_.boolForKey(key) ? "true" : "false";
      default:
        if (auto v = defaults_.stringForKey(key)) return v;
        return std::nullopt;
    }
  }
  if (s && *s->defaultValue) return std::string(s->defaultValue);
  return std::nullopt;
}

bool AppSettings::isSet(const std::string& key) const {
  const SettingInfo* s = info(key);
  if (s && s->kind == SettingKind::Secret) return secret(key).has_value();
  return defaults_.hasKey(key);
}

bool AppSettings::hasPlainCopy(const std::string& key) const {
  const SettingInfo* s = info(key);
  return s && s->kind == SettingKind::Secret && defaults_.hasKey(key);
}

std::optional<std::string> AppSettings::secret(const std::string& key) const {
  if (!keyring_) return std::nullopt;
  auto credential = keyring_->defaultCredential(secretSpace(key));
  if (!credential) return std::nullopt;
  return credential->password;
}

Status AppSettings::set(const std::string& key, const std::string& value) {
  const SettingInfo* s = info(key);
  if (!s) return settingsError(kSettingsUnknownKey, "there is no setting \"" + key + "\"");
  auto invalid = [&](const std::string& why) {
    return settingsError(kSettingsInvalidValue, key + ": \"" + value + "\" " + why);
  };
  switch (s->kind) {
    case SettingKind::Secret: {
      if (!keyring_)
        return settingsError(kSettingsKeyringFailed, key + ": no keyring to keep it in");
      if (value.empty()) return unset(key);
      auto kept = keyring_->setDefaultCredential(Credential{key, value}, secretSpace(key));
      if (!kept)
        return settingsError(kSettingsKeyringFailed,
                             key + ": not kept: " + kept.error().description);
      if (defaults_.hasKey(key)) {
        defaults_.removeObject(key);
        if (!defaults_.synchronize())
          return settingsError(kSettingsNotWritten,
                               "kept in the keyring, but the plain copy in " +
                                   defaults_.file().string() +
                                   " could not be removed: " + defaults_.lastError());
      }
      return {};
    }
    case SettingKind::Integer: {
      auto n = parseInteger(value);
      if (!n) return invalid("is not a whole number");
      if (*n < s->minimum || *n > s->maximum)
        return invalid("is out of range (" + std::to_string(s->minimum) + " to " +
                       std::to_string(s->maximum) + ")");
      defaults_.setInteger(*n, key);
      break;
    }
    case SettingKind::Boolean: {
      auto b = parseBoolean(value);
      if (!b) return invalid("is neither true nor false");
      defaults_.setBool(*b, key);
      break;
    }
    case SettingKind::ServiceURL: {
      if (!isBaseURL(value, {"http", "https"}))
        return invalid("is not an http or https address (such as http://127.0.0.1:8420)");
      std::string trimmed = value;
      while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
      defaults_.setString(trimmed, key);
      break;
    }
    case SettingKind::MailURL:
      if (!isBaseURL(value, {"smtp", "smtps"}))
        return invalid("is not an smtp or smtps address (such as smtp://mail.example.org:587)");
      defaults_.setString(value, key);
      break;
    case SettingKind::Text:
      defaults_.setString(value, key);
      break;
  }
  if (!defaults_.synchronize())
    return settingsError(kSettingsNotWritten,
                         defaults_.file().string() + ": not written: " + defaults_.lastError());
  return {};
}

Status AppSettings::unset(const std::string& key) {
  const SettingInfo* s = info(key);
  if (s && s->kind == SettingKind::Secret && keyring_) {
    if (auto removed = keyring_->removeDefaultCredential(secretSpace(key)); !removed)
      return settingsError(kSettingsKeyringFailed,
                           key + ": not removed: " + removed.error().description);
  }
  if (!s && !defaults_.hasKey(key))
    return settingsError(kSettingsUnknownKey, "there is no setting \"" + key + "\"");
  if (defaults_.hasKey(key)) {
    defaults_.removeObject(key);
    if (!defaults_.synchronize())
      return settingsError(kSettingsNotWritten,
                           defaults_.file().string() + ": not written: " + defaults_.lastError());
  }
  return {};
}

std::vector<std::string> AppSettings::unknownKeysInFile() const {
  std::vector<std::string> out;
  for (const std::string& key : defaults_.keys())
    if (!info(key) && key.rfind("MG", 0) != 0) out.push_back(key);
  return out;
}

std::string AppSettings::mingleAPIKey() const {
  auto key = text(kMingleAPIKey);
  return key && !key->empty() ? *key : kDefaultMingleAPIKey;
}

std::string AppSettings::mingleAPISecret() const {
  auto secretValue = secret(kMingleAPISecret);
  return secretValue && !secretValue->empty() ? *secretValue : kDefaultMingleAPISecret;
}

std::string AppSettings::serviceURL(const char* key) const {
  auto value = defaults_.stringForKey(key);
  if (value && isBaseURL(*value, {"http", "https"})) {
    std::string v = *value;
    while (!v.empty() && v.back() == '/') v.pop_back();
    return v;
  }
  return kDefaultServiceURL;
}

}  // namespace glowsnap
