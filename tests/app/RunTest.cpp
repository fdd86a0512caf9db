// Running a filter from the main screen: progress, the result screen, set
// as current, undo, and the guards around a run in progress.
#include <gtest/gtest.h>

#include <QLabel>
#include <QToolButton>
#include <cmath>
#include <thread>

#include "app/BorderedImageView.h"
#include "app/ImageScrollView.h"
#include "engine/PostProcess.h"
#include "filters/FilterCatalogue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Normalize.h"
#include "platform/qt/ActivityIndicator.h"
#include "platform/qt/ImageView.h"
#include "platform/qt/ProgressView.h"
#include "platform/qt/Toolbar.h"
#include "platform/qt/View.h"
#include "support/MainLoop.h"
#include "support/TestImages.h"
#include "tests/app/AppTestSupport.h"

namespace glowsnap::test {
namespace {

using ProcessingRun = ControllerTest;

bool samePixels(const ImageRef& a, const ImageRef& b) {
  return a && b && a->width() == b->width() && a->height() == b->height() &&
         a->pixels() == b->pixels();
}

TEST_F(ProcessingRun, StartingWithoutAPickedImageAsksForOneDespiteThePlaceholder) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  ASSERT_NE(vc.outlets().m_iv->image(), nullptr);
  vc.on_btn_do_pp();
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  const auto alert = AlertView::visibleAlerts().front();
  EXPECT_EQ(alert->message(), "Please, select image and filter first. ");
  EXPECT_EQ(alert->delegate(), nullptr);
  EXPECT_EQ(vc.n_pp_applied(), 0);
  EXPECT_FALSE(vc.isRunInProgress());
}

TEST_F(ProcessingRun, AnUnknownFilterNameLeavesNoFilterToRun) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  pick(solidImage(40, 30, {255, 10, 20, 30}));
  choose("hdr classic");
  EXPECT_EQ(vc.selected_pp(), nullptr);
  EXPECT_EQ(text(vc.outlets().m_label_cur_pp->text()), "hdr classic");
  vc.on_btn_do_pp();
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"Please, select image and filter first. "});
}

Notification progress(const char* percent) {
  Notification n;
  n.name = "progressChanged";
  n.object = std::string(percent);
  return n;
}

TEST_F(ProcessingRun, ProgressTextsAreClampedAndTruncated) {
  GlowsnapViewController& vc = load();
  const auto& o = vc.outlets();
  vc.update_progress(progress("150.000000"));
  EXPECT_EQ(o.m_progress_bar->progress(), 1.0f);
  EXPECT_EQ(text(o.m_progress_label->text()), "Completed - 100 %");
  vc.update_progress(progress("-3.000000"));
  EXPECT_EQ(o.m_progress_bar->progress(), 0.0f);
  EXPECT_EQ(text(o.m_progress_label->text()), "Completed - 0 %");
  vc.update_progress(progress("37.500000"));
  EXPECT_FLOAT_EQ(o.m_progress_bar->progress(), 0.375f);
  EXPECT_EQ(text(o.m_progress_label->text()), "Completed - 37 %");
}

TEST_F(ProcessingRun, PickRunSetAsCurrentRunUndoAndNothingLeftToUndo) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  const auto& o = vc.outlets();
  choose("More Contrast");
  const ImageRef photo = photoLikeImage(160, 120);
  pick(photo);
  const ImageRef undoFile = vc.undo_get_image();
  ASSERT_NE(undoFile, nullptr);

  vc.on_btn_do_pp();
  EXPECT_TRUE(vc.isRunInProgress());
  EXPECT_EQ(vc.n_pp_applied(), 1);  // counted when the run starts
  EXPECT_FALSE(vc.rotate_result_image());
  EXPECT_FALSE(View::isHidden(o.m_progress_indicator));
  EXPECT_TRUE(o.m_progress_indicator->isAnimating());
  ASSERT_TRUE(spinUntil([&] { return !vc.isRunInProgress(); }));

  // The result screen shows the filter's result; the progress display is gone.
  ImageView* first = vc.result_iv();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(samePixels(first->image(), vc.selected_pp()->get_result()));
  EXPECT_EQ(View::superview(first), o.m_result_sv);
  EXPECT_TRUE(sameRect(frameOf(o.m_result_view), Rect(0, 0, 320, 480)));
  EXPECT_TRUE(sameRect(frameOf(o.m_v_result), Rect(0, 480, 320, 480)));
  EXPECT_TRUE(View::isHidden(o.m_progress_bar));
  EXPECT_TRUE(View::isHidden(o.m_progress_label));
  EXPECT_FALSE(o.m_progress_indicator->isAnimating());
  EXPECT_FLOAT_EQ(o.m_result_sv->maximumZoomScale(), 4.0f);
  EXPECT_FLOAT_EQ(o.m_result_sv->minimumZoomScale(), 1.0f);
  EXPECT_EQ(vc.viewForZoomingInScrollView(o.m_result_sv), first);
  EXPECT_EQ(o.m_result_sv->delegate(), &vc);
  // The current image is the picked one, normalised; the result is not current.
  EXPECT_NE(vc.selected_image(), first->image());
  const ImageRef result1 = first->image();

  vc.on_btn_set_as_current();
  EXPECT_EQ(vc.selected_image(), result1);
  EXPECT_EQ(o.m_iv->image(), result1);
  EXPECT_TRUE(sameRect(frameOf(o.m_v_result), Rect(0, 0, 320, 480)));
  EXPECT_EQ(vc.n_pp_applied(), 1);

  runToEnd();
  EXPECT_EQ(vc.n_pp_applied(), 2);
  ASSERT_NE(vc.result_iv(), nullptr);
  // A second run works on the result and leaves exactly one result view.
  EXPECT_EQ(o.m_result_sv->findChildren<ImageView*>().size(), 1);
  EXPECT_FALSE(samePixels(vc.result_iv()->image(), result1));
  vc.on_btn_back_from_result();

  vc.on_btn_undo();
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  auto confirm = AlertView::visibleAlerts().front();
  EXPECT_EQ(confirm->message(), "Are you sure you want to return to original image?\n\n");
  EXPECT_EQ(confirm->buttonTitles(), (std::vector<std::string>{"No", "Yes"}));
  confirm->dismissWithClickedButtonIndex(0);  // "No"
  EXPECT_EQ(vc.n_pp_applied(), 2);
  vc.on_btn_undo();
  AlertView::visibleAlerts().front()->dismissWithClickedButtonIndex(1);  // "Yes"
  EXPECT_EQ(vc.n_pp_applied(), 0);
  EXPECT_FALSE(vc.rotate_result_image());
  EXPECT_TRUE(samePixels(vc.selected_image(), undoFile));
  EXPECT_EQ(vc.outlets().m_iv->image(), vc.selected_image());

  vc.on_btn_undo();
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"Nothing to undo."});
}

TEST_F(ProcessingRun, TheFirstRunNormalisesTheCurrentImageOnce) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  choose("More Colors");
  pick(cornersImage(1000, 500, Image::Right));
  runToEnd();
  const ImageRef normalised = vc.selected_image();
  ASSERT_NE(normalised, nullptr);
  EXPECT_EQ(normalised->orientation(), Image::Up);
  EXPECT_EQ(normalised->width(), 400);
  EXPECT_EQ(normalised->height(), 800);
  vc.on_btn_back_from_result();
  runToEnd();
  EXPECT_EQ(vc.selected_image(), normalised);
}

TEST_F(ProcessingRun, LandscapeResultsAreTurnedAndOthersAreNot) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  choose("More Contrast");
  pick(solidImage(200, 100, {255, 90, 90, 90}));
  runToEnd();
  ImageView* iv = vc.result_iv();
  ASSERT_NE(iv, nullptr);
  const AffineTransform t = iv->transform();
  EXPECT_NEAR(t.a, 0.0f, 1e-6f);
  EXPECT_FLOAT_EQ(t.b, 1.0f);
  EXPECT_FLOAT_EQ(t.c, -1.0f);
  EXPECT_NEAR(t.d, 0.0f, 1e-6f);
  EXPECT_FLOAT_EQ(t.tx, 80.0f);
  EXPECT_FLOAT_EQ(t.ty, -100.0f);
  // Turned, it fills the area above the toolbar (the scroll view) exactly.
  const Rect f = iv->frame();
  const Rect area = frameOf(vc.outlets().m_result_sv);
  EXPECT_TRUE(sameRect(area, Rect(0, 0, 320, 436)));
  EXPECT_NEAR(f.origin.x, 0.0f, 1e-3f);
  EXPECT_NEAR(f.origin.y, 0.0f, 1e-3f);
  EXPECT_NEAR(f.size.width, 320.0f, 1e-3f);
  EXPECT_NEAR(f.size.height, 436.0f, 1e-3f);
  EXPECT_NEAR(iv->boundsSize().width, 436.0f, 1e-3f);  // the picture lies on its side
  EXPECT_NEAR(iv->boundsSize().height, 320.0f, 1e-3f);
  EXPECT_NEAR(vc.outlets().m_result_sv->contentSize().width, 320.0f, 1e-3f);
  EXPECT_NEAR(vc.outlets().m_result_sv->contentSize().height, 436.0f, 1e-3f);
  EXPECT_EQ(iv->contentMode(), ImageView::ScaleAspectFit);
  EXPECT_FALSE(iv->isUserInteractionEnabled());

  vc.on_btn_back_from_result();
  pick(solidImage(100, 100, {255, 90, 90, 90}));
  runToEnd();
  EXPECT_EQ(vc.result_iv()->transform(), AffineTransform::identity());
  EXPECT_TRUE(sameRect(vc.result_iv()->frame(), Rect(0, 0, 320, 436)));
}

TEST_F(ProcessingRun, ShowImageWithoutAPickDoesNothing) {
  GlowsnapViewController& vc = load();
  vc.on_btn_show_image();
  EXPECT_EQ(vc.result_iv(), nullptr);
  EXPECT_TRUE(sameRect(frameOf(vc.outlets().m_v_result), Rect(0, 0, 320, 480)));
  EXPECT_TRUE(sameRect(frameOf(vc.outlets().m_result_view), Rect(0, -480, 320, 480)));
}

TEST_F(ProcessingRun, SetAsCurrentLeavesForShowImageAndComesBackAtPositionTwo) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  const auto& o = vc.outlets();
  QWidget* button = o.m_btn_set_as_current;
  ASSERT_EQ(o.m_toolbar_see_result->items().value(2), button);
  const int count = o.m_toolbar_see_result->items().size();
  ASSERT_GE(count, 4);

  pick(cornersImage(900, 1200));
  vc.on_btn_show_image();
  const QList<QWidget*> without = o.m_toolbar_see_result->items();
  EXPECT_FALSE(without.contains(button));
  EXPECT_EQ(without.size(), count - 1);
  EXPECT_NE(without.value(2), nullptr);
  // The current image, normalised, is what the result screen shows.
  EXPECT_FALSE(vc.rotate_result_image());
  ASSERT_NE(vc.result_iv(), nullptr);
  EXPECT_EQ(vc.result_iv()->image(), vc.selected_image());
  EXPECT_EQ(vc.selected_image()->height(), 800);
  EXPECT_EQ(vc.get_image_to_save(), vc.selected_image());
  vc.on_btn_back_from_result();

  choose("More Colors");
  runToEnd();
  EXPECT_EQ(o.m_toolbar_see_result->items().value(2), button);
  EXPECT_EQ(o.m_toolbar_see_result->items().size(), count);
  EXPECT_FALSE(View::isHidden(button));
}

TEST_F(ProcessingRun, NothingCanBeStartedChosenPickedOrRestoredDuringARun) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  choose("HDR Classic");
  const ImageRef photo = photoLikeImage(400, 300);
  pick(photo);
  runToEnd();  // something to undo
  vc.on_btn_back_from_result();

  vc.on_btn_do_pp();
  ASSERT_TRUE(vc.isRunInProgress());
  PostProcess* running = vc.selected_pp();
  const ImageRef current = vc.selected_image();
  const int applied = vc.n_pp_applied();

  vc.on_btn_do_pp();
  EXPECT_EQ(vc.n_pp_applied(), applied);
  choose("Bloom");
  EXPECT_EQ(vc.selected_pp(), running);
  vc.on_btn_import_from_library();
  EXPECT_EQ(vc.picker(), nullptr);
  vc.on_btn_undo();
  vc.do_undo();
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
  EXPECT_EQ(vc.selected_image(), current);
  // A photo arriving now (from the camera, a drop) is refused, saying why.
  vc.didFinishPickingImage(nullptr, solidImage(10, 10, {255, 1, 2, 3}), {});
  EXPECT_FALSE(vc.isLoadingPhoto());
  EXPECT_EQ(vc.selected_image(), current);
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("filter is being applied"),
            std::string::npos);
  clearAlerts();
  // Every button is disabled until the end.
  for (QAbstractButton* b : vc.view()->findChildren<QAbstractButton*>()) {
    if (b->property("action").isValid()) EXPECT_FALSE(b->isEnabled()) << text(b->objectName());
  }

  ASSERT_TRUE(spinUntil([&] { return !vc.isRunInProgress(); }));
  // Then the result screen's buttons take input, and only they.
  const QWidget* resultScreen = vc.outlets().m_result_view;
  for (QAbstractButton* b : vc.view()->findChildren<QAbstractButton*>()) {
    if (!b->property("action").isValid()) continue;
    EXPECT_EQ(b->isEnabled(), resultScreen->isAncestorOf(b)) << text(b->objectName());
  }
  EXPECT_NE(vc.result_iv(), nullptr);
}

TEST_F(ProcessingRun, ARunTheEngineCannotStartEndsWithAnAlertInsteadOfASpinner) {
  GlowsnapViewController& vc = load();
  clearAlerts();
  choose("More Contrast");
  pick(solidImage(60, 60, {255, 50, 60, 70}));

  // Another run holds the process-wide pixel buffer; it waits for the main
  // thread to take its first notification, so it is still holding it when
  // the controller's run asks for it.
  FilterCatalogue other;
  PostProcess* blocker = other.get_pp_with_name("More Colors");
  blocker->prepare(solidImage(60, 60, {255, 1, 1, 1}));
  std::atomic<bool> blockerDone{false};
  std::thread t([&] {
    blocker->process();
    blockerDone = true;
  });
  // On a failure the blocker is let finish first, so that its thread joins.
  auto finishBlocker = [&] {
    spinUntil([&] { return blockerDone.load(); });
    t.join();
  };
  const bool taken = waitUntil([] { return PostProcess::is_run_in_progress(); });
  if (!taken) finishBlocker();
  ASSERT_TRUE(taken) << "the blocking run never took the pixel buffer";

  vc.on_btn_do_pp();
  // Qt's loop would let the blocker finish; it runs only once the engine has
  // turned the controller's run away.
  const bool turnedAway = waitUntil([&] { return vc.selected_pp()->last_run_failed(); });
  if (!turnedAway) finishBlocker();
  ASSERT_TRUE(turnedAway) << "the engine did not turn the controller's run away";
  ASSERT_TRUE(spinUntil([&] { return !vc.isRunInProgress() && blockerDone.load(); }));
  t.join();
  EXPECT_EQ(vc.result_iv(), nullptr);
  EXPECT_TRUE(View::isHidden(vc.outlets().m_progress_indicator));
  EXPECT_FALSE(vc.outlets().m_progress_indicator->isAnimating());
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("could not run"), std::string::npos);

  // The next run works.
  runToEnd();
  EXPECT_NE(vc.result_iv(), nullptr);
}

}  // namespace
}  // namespace glowsnap::test
