// The application in its window with the sharing path at hand: a scripted
// reachability handle for the default route, clicks on the real buttons of
// the save sheet and alerts, and the way from a picked photo to the sharing
// screen.
#pragma once

#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <memory>
#include <optional>
#include <string>

#include "app/GlowsnapAppDelegate.h"
#include "platform/net/ReachabilityHandle.h"
#include "sharing/ImageServiceSelectViewController.h"
#include "tests/app/AppTestSupport.h"

namespace glowsnap::test {

// Answers every target with the flags it is given (nothing: unreadable).
class FixedReachability : public ReachabilityHandleFactory {
 public:
  std::optional<ReachabilityFlags> flags = kReachabilityFlagsReachable;
  int made = 0;
  std::shared_ptr<ReachabilityHandle> createWithName(const std::string&) override;
  std::shared_ptr<ReachabilityHandle> createWithAddress(const sockaddr_in& address) override;
};

class SharingTest : public ControllerTest {
 protected:
  SharingTest();
  ~SharingTest() override;

  GlowsnapViewController& vc() { return *app_->viewController(); }
  ImageServiceSelectViewController* screen() { return vc().image_service_select_vc(); }
  QAbstractButton* button(const char* name);
  // Clicks the button titled title on the alert or sheet on screen.
  void clickPanelButton(const std::string& title);
  // Picks image, applies "More Colors" and lands on the result screen.
  void makeResult(const ImageRef& image);
  // Save, then "Upload" in the sheet.
  void saveAndUpload();
  // Clicks the sharing screen's row of service (0 Mingle, 1 Natter, 2 Mail).
  void clickRow(int row);
  // Waits (bounded) until no alert is on screen but those titled title, and
  // one of them is.
  bool waitForAlert(const std::string& title);
  std::vector<std::string> alertTitles() const;

  std::shared_ptr<FixedReachability> reachability_ = std::make_shared<FixedReachability>();
  std::unique_ptr<GlowsnapAppDelegate> app_;
};

}  // namespace glowsnap::test
