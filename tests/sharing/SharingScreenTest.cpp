// The sharing screen on its own: its table of three icons, its layout with
// and without the toolbar, the progress alert and the byte-count texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QToolButton>

#include "platform/qt/Toolbar.h"

#include "platform/foundation/Defaults.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/View.h"
#include "sharing/ImageServiceSelectViewController.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

namespace glowsnap::test {
namespace {

using Screen = ImageServiceSelectViewController;

class Presenter : public ImageServiceSelectViewControllerDelegate {
 public:
  bool implementsMail = true;
  int cancels = 0;
  std::vector<ImageRef> mailed;
  bool respondsToSelector(const std::string& s) const override {
    return s == kOnCancel || (implementsMail && s == kUploadImageByMail);
  }
  void image_service_select_view_controller_on_cancel(Screen*) override { ++cancels; }
  void upload_image_by_mail(Screen*, const ImageRef& image) override { mailed.push_back(image); }
};

class SharingScreen : public ControllerTest {
 protected:
  std::unique_ptr<Screen> make(bool toolbarHidden) {
    auto s = std::make_unique<Screen>("ImageServiceSelectViewController",
                                      AppSettings(*settings_, nullptr));
    s->setIs_toolbar_hidden(toolbarHidden);
    s->setImage(Image::create(4, 4, std::vector<std::uint8_t>(64, 255)));
    s->setDelegate(&presenter_);
    s->view();
    return s;
  }
  Presenter presenter_;
};

TEST_F(SharingScreen, ThreeRowsOfIconsCentredBelowTheToolbar) {
  auto s = make(false);
  EXPECT_EQ(s->service_names(), (std::vector<std::string>{"Mingle", "Natter", "Mail"}));
  TableView* table = s->table_view();
  ASSERT_EQ(table->numberOfRowsInSection(0), 3);
  for (int row = 0; row < 3; ++row) {
    auto cell = table->cellForRowAtIndexPath({0, row});
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(), "");
    ASSERT_EQ(cell->imageViews().size(), 1u) << row;
    const auto& iv = cell->imageViews().front();
    ASSERT_FALSE(iv.image.isNull()) << "icon of row " << row;
    const float w = static_cast<float>(iv.image.width());
    const float h = static_cast<float>(iv.image.height());
    EXPECT_TRUE(sameRect(iv.frame, Rect((320 - w) * 0.5f - 15, (100 - h) * 0.5f, w, h)));
  }
  // 300 points of rows, centred in the 436 points below the 44-point toolbar.
  EXPECT_TRUE(sameRect(frameOf(table), Rect(0, 44 + (436 - 300) / 2.0f, 320, 300)))
      << frameOf(table).origin.y;
  EXPECT_FALSE(View::isHidden(s->tbr_main()));
  EXPECT_TRUE(s->shouldAutorotateToInterfaceOrientation(1));
  for (int o : {2, 3, 4}) EXPECT_FALSE(s->shouldAutorotateToInterfaceOrientation(o));

  auto hidden = make(true);
  EXPECT_TRUE(View::isHidden(hidden->tbr_main()));
  EXPECT_TRUE(sameRect(frameOf(hidden->table_view()), Rect(0, 90, 320, 300)));
}

TEST_F(SharingScreen, CancelAndMailGoToThePresenterOnlyWhenItListens) {
  auto s = make(false);
  QTest::mouseClick(s->view()->findChild<QToolButton*>("btn_cancel"), Qt::LeftButton);
  EXPECT_EQ(presenter_.cancels, 1);
  QTest::keyClick(s->table_view(), Qt::Key_Escape);
  EXPECT_EQ(presenter_.cancels, 2) << "Escape is the cancel button";

  TableView* table = s->table_view();
  QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(160, 250));
  ASSERT_EQ(presenter_.mailed.size(), 1u);
  EXPECT_EQ(presenter_.mailed.front(), s->image());
  EXPECT_FALSE(table->indexPathForSelectedRow()) << "the row is deselected";

  presenter_.implementsMail = false;
  QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(160, 250));
  EXPECT_EQ(presenter_.mailed.size(), 1u);
  EXPECT_FALSE(table->indexPathForSelectedRow());
}

TEST_F(SharingScreen, TheProgressAlertAndItsTexts) {
  auto s = make(false);
  s->show_waiting_with_progress(true);
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  const auto alert = AlertView::visibleAlerts().front();
  EXPECT_EQ(alert, s->alert_waiting());
  EXPECT_EQ(alert->title(), "Uploading...");
  EXPECT_EQ(alert->message(), "\n ");
  EXPECT_EQ(alert->numberOfButtons(), 0);
  EXPECT_EQ(alert->translation().y, 70);
  ASSERT_TRUE(s->lbl_bytes_sent() && s->prg_uploading_indicator() && s->waiting_indicator());
  EXPECT_EQ(text(s->lbl_bytes_sent()->text()), "Preparing...");
  EXPECT_TRUE(sameRect(frameOf(s->lbl_bytes_sent()), Rect(12, 75, 260, 25)));
  EXPECT_TRUE(sameRect(frameOf(s->prg_uploading_indicator()), Rect(12, 120, 260, 25)));
  EXPECT_TRUE(sameRect(frameOf(s->waiting_indicator()), Rect(242, 75, 30, 30)));
  EXPECT_TRUE(s->waiting_indicator()->isAnimating());
  EXPECT_EQ(s->lbl_bytes_sent()->parentWidget(), alert->box());

  s->setImage_length(300000);
  s->setProgress(0.5f);
  EXPECT_EQ(text(s->lbl_bytes_sent()->text()), "146 kb of 292 kb");
  EXPECT_FLOAT_EQ(s->prg_uploading_indicator()->progress(), 0.5f);
  s->setProgress(1.0f);
  EXPECT_EQ(text(s->lbl_bytes_sent()->text()), "Finishing upload...");
  // Beyond 16 MiB a float cannot hold every byte count: still the end.
  s->setImage_length((20u << 20) + 1);
  s->setProgress(1.0f);
  EXPECT_EQ(text(s->lbl_bytes_sent()->text()), "Finishing upload...");
  s->setProgress(0.25f);
  EXPECT_EQ(text(s->lbl_bytes_sent()->text()), "5120 kb of 20480 kb");
  EXPECT_EQ(Screen::progressText(5ull << 32, 6ull << 32), "20971520 kb of 25165824 kb");

  s->hide_waiting();
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  s->hide_waiting();      // again: nothing happens
  s->setProgress(0.75f);  // a late update: the label is gone with its alert
  EXPECT_EQ(s->lbl_bytes_sent(), nullptr);

  s->show_waiting_with_progress(false);
  EXPECT_TRUE(sameRect(frameOf(s->waiting_indicator()), Rect(121, 75, 30, 30)));
  EXPECT_TRUE(View::isHidden(s->lbl_bytes_sent()));
  EXPECT_TRUE(View::isHidden(s->prg_uploading_indicator()));
  s->requestFailed(nullptr);
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_EQ(AlertView::visibleAlerts().front()->title(), "Network Error");
  EXPECT_EQ(AlertView::visibleAlerts().front()->message(), "Please, try again later");
  EXPECT_EQ(AlertView::visibleAlerts().front()->buttonTitles(),
            std::vector<std::string>{"Dismiss"});
}

}  // namespace
}  // namespace glowsnap::test
