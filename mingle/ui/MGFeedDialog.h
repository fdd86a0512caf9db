// MGFeedDialog: the page that publishes a story to the user's own feed. The
// story goes to the page as "feed_info", a JSON object of the template id,
// the template data (a JSON object text, passed on as it is) and the
// general body text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "mingle/ui/MGDialog.h"

namespace glowsnap {

class MGFeedDialog : public MGDialog {
  Q_OBJECT

 public:
  static constexpr const char* kFeedURL = "/connect/feed";

  MGFeedDialog();
  explicit MGFeedDialog(std::shared_ptr<MGSession> session);
  ~MGFeedDialog() override;

  // 0 for none.
  std::int64_t templateBundleId() const { return _templateBundleId; }
  void setTemplateBundleId(std::int64_t id) { _templateBundleId = id; }
  const std::optional<std::string>& templateData() const { return _templateData; }
  void setTemplateData(const std::optional<std::string>& data) { _templateData = data; }
  const std::optional<std::string>& bodyGeneral() const { return _bodyGeneral; }
  void setBodyGeneral(const std::optional<std::string>& body) { _bodyGeneral = body; }

  void load() override;
  // "{...}" with "template_id", "template_data" and "body_general" in this
  // order, each only when set; the body is a JSON string (escaped).
  std::string generateFeedInfo() const;

 private:
  std::int64_t _templateBundleId = 0;
  std::optional<std::string> _templateData;
  std::optional<std::string> _bodyGeneral;
};

}  // namespace glowsnap
