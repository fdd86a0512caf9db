// Start-up, settings and the slides between the screens of the main
// controller, driven through its handlers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>

#include "app/AboutView.h"
#include "app/BorderedImageView.h"
#include "app/GlowsnapAppDelegate.h"
#include "app/SelectPostProcessVC.h"
#include "engine/PostProcess.h"
#include "platform/qt/Animation.h"
#include "platform/qt/ProgressView.h"
#include "platform/qt/SegmentedControl.h"
#include "platform/qt/TableView.h"
#include "platform/qt/View.h"
#include "support/TestImages.h"
#include "tests/app/AppTestSupport.h"

namespace glowsnap::test {
namespace {

#define EXPECT_FRAME(widget, X_, Y_, W_, H_)                                                    \
  do {                                                                                          \
    const Rect f_ = frameOf(widget);                                                            \
    EXPECT_TRUE(sameRect(f_, Rect(X_, Y_, W_, H_)))                                             \
        << #widget << " is at (" << f_.origin.x << ", " << f_.origin.y << ", " << f_.size.width \
        << ", " << f_.size.height << ")";                                                       \
  } while (0)

const char* kReview =
    "Dear friend! Thank you for using Glowsnap!\n\n We just want to note that we would really "
    "appreciate "
    "if you could write your review about Glowsnap in the app store. Your feedback is very "
    "important to us! "
    "\n Thanks in advance for your time! \n\n\n With profound respect, developers of Glowsnap :) ";
const char* kFirstTime =
    "Thanks for downloading Glowsnap!\n\n\nIf you experience a problem, try restarting your "
    "phone.\n"
    "This often helps out with graphics heavy apps like Glowsnap.";

using Launch = ControllerTest;

TEST_F(Launch, FirstLaunchShowsTheNoticeCountsAndAppliesTheDefaultResolution) {
  GlowsnapViewController& vc = load();
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  const auto alert = AlertView::visibleAlerts().front();
  EXPECT_EQ(alert->message(), kFirstTime);
  EXPECT_EQ(alert->title(), "");
  EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"Ok"});
  EXPECT_EQ(alert->delegate(), &vc);

  EXPECT_EQ(settings_->integerForKey("num_runs"), 1);
  EXPECT_TRUE(settings_->boolForKey("do_not_show_info"));
  EXPECT_EQ(vc.outlets().m_options_sc->selectedSegmentIndex(), 2);
  ASSERT_EQ(vc.filters().size(), 8u);
  for (const auto& pp : vc.filters()) EXPECT_EQ(pp->max_res(), 800);

  // The first filter is selected; the placeholder is shown but not current.
  EXPECT_EQ(vc.selected_pp(), vc.filters().front().get());
  EXPECT_EQ(text(vc.outlets().m_label_cur_pp->text()), "HDR Classic");
  EXPECT_EQ(vc.selected_image(), nullptr);
  EXPECT_NE(vc.outlets().m_iv->image(), nullptr);
  EXPECT_TRUE(vc.rotate_result_image());
  EXPECT_FALSE(vc.take_photo());
  EXPECT_EQ(vc.n_pp_applied(), 0);

  // Progress display hidden; the splash faded out and lets clicks through.
  EXPECT_TRUE(View::isHidden(static_cast<QWidget*>(vc.outlets().m_progress_bar)));
  EXPECT_EQ(text(vc.outlets().m_progress_label->text()), "  ");
  EXPECT_EQ(View::alpha(vc.outlets().m_start_view), 0.0f);
  EXPECT_TRUE(vc.outlets().m_start_view->testAttribute(Qt::WA_TransparentForMouseEvents));

  // The notice's only button does nothing.
  alert->dismissWithClickedButtonIndex(0);
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
  EXPECT_EQ(vc.n_pp_applied(), 0);
}

TEST_F(Launch, OnlyTheThirtiethLaunchAsksForAReview) {
  settings_->setBool(true, "do_not_show_info");
  for (int n = 28; n <= 30; ++n) {
    settings_->setInteger(n, "num_runs");
    load();
    const auto messages = alertMessages();
    if (n == 29) {
      EXPECT_EQ(messages, std::vector<std::string>{kReview}) << "launch " << n + 1;
    } else {
      EXPECT_TRUE(messages.empty()) << "launch " << n + 1;
    }
    EXPECT_EQ(settings_->integerForKey("num_runs"), n + 1);
    clearAlerts();
    vc_.reset();
  }
}

TEST_F(Launch, ScreenStacksTheSlidingViewsAndNeverRotates) {
  GlowsnapViewController& vc = load();
  const auto& o = vc.outlets();
  const QList<QWidget*> stack = View::subviews(vc.view());
  const auto pos = [&](QWidget* w) { return stack.indexOf(w); };
  EXPECT_LT(pos(static_cast<QWidget*>(vc.aboutView())), pos(o.m_options_view));
  EXPECT_LT(pos(o.m_options_view), pos(o.m_v_select_pp));
  EXPECT_LT(pos(o.m_v_select_pp), pos(o.m_result_view));
  EXPECT_LT(pos(o.m_result_view), pos(o.m_v_result));
  EXPECT_LT(pos(o.m_v_result), pos(o.m_start_view));
  EXPECT_EQ(pos(o.m_start_view), stack.size() - 1);

  EXPECT_TRUE(vc.shouldAutorotateToInterfaceOrientation(GlowsnapViewController::Portrait));
  EXPECT_FALSE(vc.shouldAutorotateToInterfaceOrientation(GlowsnapViewController::LandscapeLeft));
  EXPECT_FALSE(
      vc.shouldAutorotateToInterfaceOrientation(GlowsnapViewController::PortraitUpsideDown));
}

TEST_F(Launch, TheWindowShowsTheScreenWithTheLaunchAlertOnTop) {
  GlowsnapAppDelegate delegate(*settings_);
  delegate.applicationDidFinishLaunching();
  QWidget* screen = delegate.screen();
  EXPECT_EQ(screen->size(), QSize(320, 480));
  EXPECT_EQ(View::superview(delegate.viewController()->view()), screen);
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  const QList<QWidget*> stack = View::subviews(screen);
  ASSERT_FALSE(stack.isEmpty());
  EXPECT_NE(qobject_cast<Panel*>(stack.back()), nullptr);
  AlertView::closeAll();
}

using Settings = ControllerTest;

TEST_F(Settings, ResolutionRoundTripsThroughTheOptionsScreen) {
  settings_->setBool(true, "do_not_show_info");
  settings_->setInteger(0, "resolution");
  GlowsnapViewController& vc = load();
  EXPECT_EQ(vc.outlets().m_options_sc->selectedSegmentIndex(), 0);
  for (const auto& pp : vc.filters()) EXPECT_EQ(pp->max_res(), 320);

  vc.on_btn_options();
  vc.outlets().m_options_sc->setSelectedSegmentIndex(5);
  vc.on_btn_back_from_options();
  EXPECT_EQ(settings_->integerForKey("resolution"), 5);
  for (const auto& pp : vc.filters()) EXPECT_EQ(pp->max_res(), 2048);

  // No segment selected stores -1 and means 800.
  vc.on_btn_options();
  vc.outlets().m_options_sc->setSelectedSegmentIndex(-1);
  vc.on_btn_back_from_options();
  EXPECT_EQ(settings_->integerForKey("resolution"), -1);
  EXPECT_EQ(vc.get_max_resolution(), 800);

  // A new launch reads the file the options screen wrote.
  vc_.reset();
  settings_->setInteger(4, "resolution");
  settings_ = std::make_unique<Defaults>(dir_.path() / "defaults.json");
  GlowsnapViewController& again = load();
  EXPECT_EQ(again.outlets().m_options_sc->selectedSegmentIndex(), 4);
  for (const auto& pp : again.filters()) EXPECT_EQ(pp->max_res(), 1600);
}

using Slides = ControllerTest;

TEST_F(Slides, EveryScreenReturnsTheViewsToTheirHomePositions) {
  GlowsnapViewController& vc = load();
  const auto& o = vc.outlets();
  auto expectHome = [&] {
    EXPECT_FRAME(o.m_v_result, 0, 0, 320, 480);
    EXPECT_FRAME(o.m_v_select_pp, 0, 480, 320, 480);
    EXPECT_FRAME(o.m_result_view, 0, -480, 320, 480);
  };
  expectHome();

  vc.on_btn_select_pp();
  EXPECT_FRAME(o.m_v_result, 0, -480, 320, 480);
  EXPECT_FRAME(o.m_v_select_pp, 0, 0, 320, 480);
  vc.on_btn_select_pp_back();
  expectHome();

  vc.on_btn_options();
  EXPECT_FRAME(o.m_options_view, 0, 0, 320, 480);
  EXPECT_FRAME(o.m_v_result, -320, 0, 320, 480);
  vc.on_btn_back_from_options();
  EXPECT_FRAME(o.m_options_view, 320, 0, 320, 480);
  expectHome();

  pick(cornersImage(64, 48));
  vc.on_btn_show_image();
  EXPECT_FRAME(o.m_v_result, 0, 480, 320, 480);
  EXPECT_FRAME(o.m_result_view, 0, 0, 320, 480);
  vc.on_btn_back_from_result();
  expectHome();

  // Choosing a row closes the list like its Back button.
  vc.on_btn_select_pp();
  vc.selectPostProcessVC()->willSelectRowAtIndexPath(o.m_tv_select_pp, {0, 1});
  expectHome();
  EXPECT_EQ(text(o.m_label_cur_pp->text()), "Bloom");
}

TEST_F(Slides, AnimatedMovesAnswerTheirNewFramesAtOnceAndRefuseASecondMove) {
  Animation::setEnabled(true);
  GlowsnapViewController& vc = load();
  clearAlerts();
  using S = GlowsnapViewController::ScreenState;
  vc.on_btn_select_pp();
  EXPECT_FRAME(vc.outlets().m_v_select_pp, 0, 0, 320, 480);
  EXPECT_EQ(vc.screenState(), S::ToFilterList);
  EXPECT_GT(Animation::running(), 0);
  // Back while the list still rises, or the same button again: refused.
  vc.on_btn_select_pp_back();
  vc.on_btn_select_pp();
  EXPECT_FALSE(vc.go_to_screen(S::Main));
  EXPECT_FRAME(vc.outlets().m_v_select_pp, 0, 0, 320, 480);
  EXPECT_FRAME(vc.outlets().m_v_result, 0, -480, 320, 480);
  ASSERT_TRUE(spinUntil([&] { return vc.screenState() == S::FilterList; }));
  vc.on_btn_select_pp_back();
  EXPECT_EQ(vc.screenState(), S::FromFilterList);
  ASSERT_TRUE(spinUntil([&] { return vc.screenState() == S::Main; }));
  EXPECT_FRAME(vc.outlets().m_v_select_pp, 0, 480, 320, 480);
  EXPECT_FRAME(vc.outlets().m_v_result, 0, 0, 320, 480);
  Animation::setEnabled(false);
}

TEST_F(Slides, TheInterfaceFilesButtonsReachTheirHandlers) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  const auto& o = vc.outlets();
  auto click = [&](const char* name) {
    auto* b = vc.view()->findChild<QAbstractButton*>(name);
    ASSERT_NE(b, nullptr) << name;
    b->click();
  };
  int wired = 0;
  for (QAbstractButton* b : vc.view()->findChildren<QAbstractButton*>()) {
    if (b->property("action").isValid()) ++wired;
  }
  EXPECT_EQ(wired, 13);

  click("btn_select_pp");
  EXPECT_FRAME(o.m_v_select_pp, 0, 0, 320, 480);
  click("btn_select_pp_back");
  EXPECT_FRAME(o.m_v_select_pp, 0, 480, 320, 480);
  click("btn_options");
  EXPECT_FRAME(o.m_options_view, 0, 0, 320, 480);
  click("btn_back_from_options");
  EXPECT_FRAME(o.m_v_result, 0, 0, 320, 480);
  click("btn_do_pp");
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"Please, select image and filter first. "});
  clearAlerts();
  click("btn_undo");
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"Nothing to undo."});
  clearAlerts();
  click("btn_help");
  EXPECT_FALSE(vc.aboutView()->isHidden());
}

using Help = ControllerTest;

TEST_F(Help, HelpPageOpensOnTopAndGoesAwayWithBack) {
  GlowsnapViewController& vc = load();
  AboutView* av = vc.aboutView();
  EXPECT_TRUE(View::isHidden(static_cast<QWidget*>(av)));
  vc.on_btn_help();
  EXPECT_FALSE(View::isHidden(static_cast<QWidget*>(av)));
  EXPECT_EQ(View::subviews(vc.view()).back(), static_cast<QWidget*>(av));
  av->on_btn_back();
  EXPECT_TRUE(View::isHidden(static_cast<QWidget*>(av)));
}

TEST_F(Help, ThePageTurnsOverTheScreenWhenAnimated) {
  GlowsnapViewController& vc = load();
  QWidget* screen = vc.view();
  screen->show();
  Animation::setEnabled(true);
  const int before = Animation::running();
  vc.on_btn_help();
  EXPECT_FALSE(vc.aboutView()->isHidden());
  EXPECT_GT(Animation::running(), before);
  // The turning pages are pictures laid over the screen, not the views.
  EXPECT_GE(screen->findChildren<QLabel*>(Qt::FindDirectChildrenOnly).size(), 2);
  vc.aboutView()->on_btn_back();
  EXPECT_TRUE(vc.aboutView()->isHidden());
  Animation::setEnabled(false);
}

using Picking = ControllerTest;

TEST_F(Picking, NoCameraShowsSorryAndChangesNothing) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  if (ImagePicker::isSourceTypeAvailable(ImagePicker::Camera))
    GTEST_SKIP() << "a camera is attached";
  vc.on_btn_take_photo();
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_EQ(AlertView::visibleAlerts().front()->title(), "Sorry");
  EXPECT_EQ(AlertView::visibleAlerts().front()->message(),
            "Photo camera is not available on this device.");
  EXPECT_FALSE(vc.take_photo());
  EXPECT_EQ(vc.picker(), nullptr);
}

TEST_F(Picking, APickResetsTheImageStateAndWritesTheUndoFile) {
  GlowsnapViewController& vc = load();
  const ImageRef photo = cornersImage(1600, 1200, Image::Right);  // a portrait photo
  pick(photo);
  EXPECT_EQ(vc.selected_image(), photo);
  EXPECT_EQ(vc.outlets().m_iv->image(), photo);  // shown as picked, upright by its tag
  EXPECT_TRUE(vc.rotate_result_image());
  EXPECT_EQ(vc.n_pp_applied(), 0);
  // The main screen is the one shown; the filter list waits off screen, hidden.
  EXPECT_FALSE(View::isHidden(vc.outlets().m_v_result));
  EXPECT_TRUE(View::isHidden(vc.outlets().m_v_select_pp));

  const ImageRef undo = vc.undo_get_image();
  ASSERT_NE(undo, nullptr);
  EXPECT_EQ(undo->width(), 600);
  EXPECT_EQ(undo->height(), 800);
  EXPECT_EQ(vc.undo_get_image_path(), (dir_.path() / "documents" / "undo0.jpg").string());
  // Written whole through a temporary file that is gone afterwards.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path() / "documents")) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(Picking, ADroppedOrNamedFileIsPickedAndABadOneReported) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  const std::filesystem::path good = std::string(GLOWSNAP_SOURCE_DIR) + "/resources/nophoto.jpg";
  EXPECT_TRUE(vc.openPhotoFile(good));
  waitForPhoto();
  ASSERT_NE(vc.selected_image(), nullptr);
  EXPECT_TRUE(alertMessages().empty());

  const std::filesystem::path bad = dir_.path() / "broken.jpg";
  {
    std::FILE* f = std::fopen(bad.c_str(), "wb");
    std::fputs("not a photo", f);
    std::fclose(f);
  }
  const ImageRef before = vc.selected_image();
  const std::string undoBefore = readFile(vc.undo_get_image_path());
  EXPECT_TRUE(vc.openPhotoFile(bad));  // taken; found broken when read
  waitForPhoto();
  EXPECT_EQ(vc.selected_image(), before);
  EXPECT_EQ(readFile(vc.undo_get_image_path()), undoBefore);
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("broken.jpg"), std::string::npos);
}

}  // namespace
}  // namespace glowsnap::test
