#include "mingle/ui/MGFeedDialog.h"

#include <cstdio>

#include "mingle/MGGlobal.h"

namespace glowsnap {

namespace {

// text as a JSON string: quotes, backslashes and control characters
// escaped; other bytes (UTF-8) as they are.
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace

MGFeedDialog::MGFeedDialog() : MGFeedDialog(MGSession::session()) {}

MGFeedDialog::MGFeedDialog(std::shared_ptr<MGSession> session) : MGDialog(std::move(session)) {}

MGFeedDialog::~MGFeedDialog() = default;

std::string MGFeedDialog::generateFeedInfo() const {
  std::string members;
  auto add = [&members](const std::string& member) {
    if (!members.empty()) members += ",";
    members += member;
  };
  if (_templateBundleId != 0) add("\"template_id\": " + std::to_string(_templateBundleId));
  if (_templateData) add("\"template_data\": " + *_templateData);
  if (_bodyGeneral) add("\"body_general\": " + jsonString(*_bodyGeneral));
  return "{" + members + "}";
}

void MGFeedDialog::load() {
  if (!session() || !session()->sessionKey()) {
    Error e;
    e.domain = kMGErrorDomain;
    e.code = kMGNoSessionError;
    e.description = "a story is posted by a logged-in user only";
    failSoon(e);
    return;
  }
  loadURL(siteURL() + kFeedURL, "POST", {{"display", "touch"}},
          {{"api_key", session()->apiKey()},
           {"session_key", *session()->sessionKey()},
           {"preview", "1"},
           {"callback", "minglekit:success"},
           {"cancel", "minglekit:cancel"},
           {"feed_info", generateFeedInfo()},
           {"feed_target_type", "self_feed"}});
}

}  // namespace glowsnap
