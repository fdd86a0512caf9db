// "Upload" in the save sheet: the network test, the network alert, the
// sharing screen laid over the result and taken away again, and a second
// screen replacing the first.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QPointer>
#include <cstdio>

#include "platform/qt/ActionSheet.h"
#include "platform/qt/ModalView.h"
#include "support/TestImages.h"
#include "tests/sharing/SharingSupport.h"

namespace glowsnap::test {
namespace {

using HandOff = SharingTest;

TEST_F(HandOff, WithoutANetworkTheAlertAndNoScreen) {
  makeResult(cornersImage(64, 48));
  struct Case {
    const char* what;
    std::optional<ReachabilityFlags> flags;
  } cases[] = {
      {"not reachable", ReachabilityFlags{0}},
      {"reachable, but a connection is needed first",
       kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired},
      {"the flags cannot be read", std::nullopt},
  };
  for (const Case& c : cases) {
    reachability_->flags = c.flags;
    saveAndUpload();
    ASSERT_EQ(alertTitles(), std::vector<std::string>{"Network is not available"}) << c.what;
    const auto alert = AlertView::visibleAlerts().front();
    EXPECT_EQ(alert->message(), "Please, try again later");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"Dismiss"});
    EXPECT_EQ(alert->delegate(), nullptr);
    EXPECT_EQ(screen(), nullptr) << c.what;
    EXPECT_FALSE(vc().isSharing());
    clickPanelButton("Dismiss");
    EXPECT_TRUE(AlertView::visibleAlerts().empty());
  }
}

TEST_F(HandOff, UnreadableFlagsAreSaidOnStandardOutput) {
  reachability_->flags = std::nullopt;
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  const bool connected = vc().connectedToNetwork();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(connected);
  EXPECT_EQ(out, "Error. Could not recover network reachability flags\n");
  reachability_->flags = kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN;
  EXPECT_TRUE(vc().connectedToNetwork());
}

TEST_F(HandOff, TheScreenLiesOverTheResultUntilCancelledAndASecondOneReplacesIt) {
  makeResult(cornersImage(64, 48));
  saveAndUpload();
  ImageServiceSelectViewController* first = screen();
  ASSERT_NE(first, nullptr) << "no sharing screen";
  EXPECT_TRUE(ModalView::isPresented(first->view()));
  EXPECT_EQ(first->view()->parentWidget(), vc().view());
  EXPECT_TRUE(sameRect(frameOf(first->view()), Rect(0, 0, 320, 480)));
  EXPECT_FALSE(first->is_toolbar_hidden());
  EXPECT_EQ(first->image(), vc().get_image_to_save());
  EXPECT_EQ(first->delegate(), &vc());
  EXPECT_TRUE(vc().isSharing());
  // The screen below takes nothing while the sharing screen is up.
  EXPECT_FALSE(button("btn_save_result")->isEnabled());
  EXPECT_FALSE(button("btn_back_from_result")->isEnabled());
  QTest::keyClick(first->table_view(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(ActionSheet::visibleSheets().empty()) << "Ctrl+S reached the result screen";

  QTest::mouseClick(first->view()->findChild<QToolButton*>("btn_cancel"), Qt::LeftButton);
  ASSERT_TRUE(spinUntil([&] { return !vc().isSharing(); }));
  EXPECT_EQ(first->view()->parentWidget(), nullptr);
  EXPECT_EQ(vc().screenState(), GlowsnapViewController::ScreenState::Result);
  EXPECT_TRUE(button("btn_save_result")->isEnabled());
  EXPECT_EQ(screen(), first) << "kept until the next one";

  QPointer<QWidget> firstView = first->view();
  saveAndUpload();
  ASSERT_NE(screen(), nullptr);
  EXPECT_NE(screen(), first);
  EXPECT_TRUE(firstView.isNull()) << "the first screen was released";
  EXPECT_TRUE(ModalView::isPresented(screen()->view()));
  QTest::keyClick(screen()->table_view(), Qt::Key_Escape);
  ASSERT_TRUE(spinUntil([&] { return !vc().isSharing(); }));
}

}  // namespace
}  // namespace glowsnap::test
