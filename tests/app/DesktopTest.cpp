// The application in its desktop window, driven as a user drives it:
// double clicks, the keyboard, files dropped on the window, resizing, and
// holding the mouse or a key down on a result. Animations run as they do
// for the user.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QToolButton>

#include "app/AboutView.h"
#include "app/BorderedImageView.h"
#include "app/GlowsnapAppDelegate.h"
#include "app/ImageScrollView.h"
#include "app/PhotoLoader.h"
#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"
#include "platform/qt/ActionSheet.h"
#include "platform/qt/Animation.h"
#include "platform/qt/ImageView.h"
#include "platform/qt/ScreenView.h"
#include "platform/qt/TableView.h"
#include "platform/qt/View.h"
#include "support/TestImages.h"
#include "tests/app/AppTestSupport.h"

namespace glowsnap::test {
namespace {

using S = GlowsnapViewController::ScreenState;

class Desktop : public ControllerTest {
 protected:
  Desktop() {
    settings_->setBool(true, "do_not_show_info");
    app_ = std::make_unique<GlowsnapAppDelegate>(*settings_);
    app_->applicationDidFinishLaunching();
    Animation::setEnabled(true);
  }
  ~Desktop() override {
    Animation::setEnabled(false);
    AlertView::closeAll();
    ActionSheet::closeAll();
    app_.reset();
  }

  GlowsnapViewController& vc() { return *app_->viewController(); }
  QAbstractButton* button(const char* name) {
    auto* b = app_->screen()->findChild<QAbstractButton*>(name);
    EXPECT_NE(b, nullptr) << name;
    return b;
  }
  // What a double click sends: a click, then a press that is a double click.
  static void doubleClick(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
    QTest::mouseDClick(w, Qt::LeftButton);
    QTest::mouseRelease(w, Qt::LeftButton);
  }
  // Waits (bounded) until the controller rests on screen.
  void settleOn(S screen) {
    ASSERT_TRUE(spinUntil([&] { return vc().screenState() == screen; }))
        << "still " << GlowsnapViewController::screenStateName(vc().screenState()) << ", not "
        << GlowsnapViewController::screenStateName(screen);
  }
  void openPhoto(const ImageRef& image) {
    const std::filesystem::path file = dir_.path() / "photo.png";
    ASSERT_TRUE(imageio::writeFile(*image, file).ok());
    ASSERT_TRUE(vc().openPhotoFile(file));
    ASSERT_TRUE(spinUntil([&] { return !vc().isLoadingPhoto() && !vc().isMoving(); }));
  }
  void drop(const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QWidget* window = app_->window();
    const QPointF at(window->width() / 2.0, window->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &dropped);
  }
  void expectHome() {
    const auto& o = vc().outlets();
    EXPECT_TRUE(sameRect(frameOf(o.m_v_result), Rect(0, 0, 320, 480)));
    EXPECT_TRUE(sameRect(frameOf(o.m_v_select_pp), Rect(0, 480, 320, 480)));
    EXPECT_TRUE(sameRect(frameOf(o.m_result_view), Rect(0, -480, 320, 480)));
    EXPECT_TRUE(o.m_v_result->isVisible());
    EXPECT_FALSE(o.m_v_select_pp->isVisible());
    EXPECT_FALSE(o.m_result_view->isVisible());
  }

  std::unique_ptr<GlowsnapAppDelegate> app_;
};

TEST_F(Desktop, ADoubleClickOnFiltersThenBackComesHome) {
  doubleClick(button("btn_select_pp"));
  settleOn(S::FilterList);
  EXPECT_TRUE(sameRect(frameOf(vc().outlets().m_v_select_pp), Rect(0, 0, 320, 480)));
  QTest::mouseClick(button("btn_select_pp_back"), Qt::LeftButton);
  settleOn(S::Main);
  expectHome();
}

TEST_F(Desktop, ADoubleClickOnEveryBackButtonComesHomeOnce) {
  openPhoto(photoLikeImage(90, 60));
  const struct {
    const char* open;
    const char* back;
    S screen;
  } screens[] = {{"btn_select_pp", "btn_select_pp_back", S::FilterList},
                 {"btn_options", "btn_back_from_options", S::Options},
                 {"btn_show_image", "btn_back_from_result", S::Result}};
  for (const auto& s : screens) {
    SCOPED_TRACE(s.back);
    QTest::mouseClick(button(s.open), Qt::LeftButton);
    settleOn(s.screen);
    doubleClick(button(s.back));
    settleOn(S::Main);
    expectHome();
    // And the way there still works.
    QTest::mouseClick(button(s.open), Qt::LeftButton);
    settleOn(s.screen);
    QTest::mouseClick(button(s.back), Qt::LeftButton);
    settleOn(S::Main);
    expectHome();
  }
}

TEST_F(Desktop, FiltersThenSpaceThenBackComesHome) {
  QAbstractButton* filters = button("btn_select_pp");
  QTest::mouseClick(filters, Qt::LeftButton);
  // Space on the button still focused while the list rises.
  QTest::keyClick(filters, Qt::Key_Space);
  settleOn(S::FilterList);
  QWidget* focused = app_->screen()->focusWidget();
  ASSERT_NE(focused, nullptr);
  EXPECT_TRUE(focused->isVisible());
  QTest::keyClick(focused, Qt::Key_Space);  // the list has the keyboard: it takes the row
  settleOn(S::Main);
  expectHome();
}

TEST_F(Desktop, TabReachesOnlyTheControlsOfTheScreenShown) {
  app_->window()->activateWindow();
  QApplication::setActiveWindow(app_->window());
  openPhoto(photoLikeImage(90, 60));
  const auto& o = vc().outlets();
  const struct {
    const char* open;
    QWidget* screen;
    S state;
  } screens[] = {{nullptr, o.m_v_result, S::Main},
                 {"btn_select_pp", o.m_v_select_pp, S::FilterList},
                 {"btn_options", o.m_options_view, S::Options},
                 {"btn_show_image", o.m_result_view, S::Result}};
  for (const auto& s : screens) {
    SCOPED_TRACE(GlowsnapViewController::screenStateName(s.state));
    if (s.open) {
      QTest::mouseClick(button(s.open), Qt::LeftButton);
      settleOn(s.state);
    }
    int reached = 0;
    for (int i = 0; i < 25; ++i) {
      QWidget* focused = app_->screen()->focusWidget();
      ASSERT_NE(focused, nullptr);
      QTest::keyClick(focused, Qt::Key_Tab);
      QWidget* now = app_->screen()->focusWidget();
      ASSERT_NE(now, nullptr);
      EXPECT_TRUE(now->isVisible()) << text(now->objectName());
      if (now != vc().view()) {
        EXPECT_TRUE(s.screen->isAncestorOf(now)) << text(now->objectName());
        ++reached;
      }
    }
    EXPECT_GT(reached, 0);
    if (s.open) {
      QTest::keyClick(app_->screen()->focusWidget(), Qt::Key_Escape);
      settleOn(S::Main);
    }
  }
}

TEST_F(Desktop, TheFilterListFollowsTheArrowKeysAndMarksTheFilterInUse) {
  QTest::keyClick(vc().view(), Qt::Key_Return);  // no photo yet: the alert says so
  ASSERT_EQ(alertMessages(), std::vector<std::string>{"Please, select image and filter first. "});
  QTest::keyClick(app_->screen()->focusWidget(), Qt::Key_Return);  // Return closes it
  EXPECT_TRUE(AlertView::visibleAlerts().empty());

  QTest::mouseClick(button("btn_select_pp"), Qt::LeftButton);
  settleOn(S::FilterList);
  TableView* table = vc().outlets().m_tv_select_pp;
  EXPECT_EQ(app_->screen()->focusWidget(), table);
  // The list opens on the filter in use, which has the check mark.
  const auto current = vc().selectPostProcessVC()->indexPathForName("HDR Classic");
  EXPECT_EQ(table->cursorIndexPath(), current);
  EXPECT_EQ(table->cellForRowAtIndexPath(*current)->accessoryType(),
            TableViewCell::AccessoryCheckmark);
  QTest::keyClick(table, Qt::Key_Down);
  QTest::keyClick(table, Qt::Key_Down);
  QTest::keyClick(table, Qt::Key_Up);
  QTest::keyClick(table, Qt::Key_Return);
  settleOn(S::Main);
  EXPECT_EQ(vc().current_pp_name(), "HDR Color+");
  EXPECT_EQ(text(vc().outlets().m_label_cur_pp->text()), "HDR Color+");
  const auto marked = vc().selectPostProcessVC()->indexPathForName("HDR Color+");
  EXPECT_EQ(table->cellForRowAtIndexPath(*marked)->accessoryType(),
            TableViewCell::AccessoryCheckmark);
  EXPECT_EQ(table->cellForRowAtIndexPath(*current)->accessoryType(), TableViewCell::AccessoryNone);
}

TEST_F(Desktop, EscapeAndReturnAnswerTheUndoQuestion) {
  openPhoto(photoLikeImage(60, 40));
  QTest::keyClick(vc().view(), Qt::Key_Return);  // Apply
  ASSERT_TRUE(spinUntil([&] { return vc().screenState() == S::Result; }));
  QTest::keyClick(vc().view(), Qt::Key_Escape);
  settleOn(S::Main);
  QTest::keyClick(vc().view(), Qt::Key_Z, Qt::ControlModifier);
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  // Keys go to the question now, not to the screen below.
  QTest::keyClick(app_->screen()->focusWidget(), Qt::Key_F1);
  EXPECT_EQ(vc().screenState(), S::Main);
  QTest::keyClick(app_->screen()->focusWidget(), Qt::Key_Escape);  // "No"
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
  EXPECT_EQ(vc().n_pp_applied(), 1);
  QTest::keyClick(vc().view(), Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(app_->screen()->focusWidget(), Qt::Key_Return);  // "Yes"
  EXPECT_EQ(vc().n_pp_applied(), 0);
  // The one-button answer closes with Escape as well.
  QTest::keyClick(vc().view(), Qt::Key_Z, Qt::ControlModifier);
  ASSERT_EQ(alertMessages(), std::vector<std::string>{"Nothing to undo."});
  QTest::keyClick(app_->screen()->focusWidget(), Qt::Key_Escape);
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
}

TEST_F(Desktop, F1OpensTheHelpOverAnyScreenAndEscapeGoesBackToIt) {
  openPhoto(photoLikeImage(60, 40));
  QTest::mouseClick(button("btn_options"), Qt::LeftButton);
  settleOn(S::Options);
  QTest::keyClick(vc().view(), Qt::Key_F1);
  settleOn(S::Help);
  EXPECT_TRUE(vc().aboutView()->isVisible());
  EXPECT_FALSE(vc().outlets().m_options_view->isVisible());
  QTest::keyClick(vc().view(), Qt::Key_Escape);
  settleOn(S::Options);
  EXPECT_FALSE(vc().aboutView()->isVisible());
  EXPECT_TRUE(vc().outlets().m_options_view->isVisible());
}

TEST_F(Desktop, ADropOnTheResultScreenBecomesTheCurrentPhotoOnTheMainScreen) {
  openPhoto(photoLikeImage(90, 60));
  QTest::keyClick(vc().view(), Qt::Key_Return);
  settleOn(S::Result);
  ASSERT_NE(vc().result_iv(), nullptr);
  QTest::mouseClick(button("btn_save_result"), Qt::LeftButton);
  ASSERT_EQ(ActionSheet::visibleSheets().size(), 1u);

  const ImageRef dropped = cornersImage(70, 50);
  const std::filesystem::path file = dir_.path() / "dropped.png";
  ASSERT_TRUE(imageio::writeFile(*dropped, file).ok());
  drop({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
  EXPECT_TRUE(vc().isLoadingPhoto());
  EXPECT_EQ(View::superview(vc().outlets().m_waiting_view), vc().view());
  EXPECT_TRUE(ActionSheet::visibleSheets().empty());  // the save no longer applies
  settleOn(S::Main);
  ASSERT_TRUE(spinUntil([&] { return !vc().isLoadingPhoto(); }));
  ASSERT_NE(vc().selected_image(), nullptr);
  EXPECT_EQ(vc().selected_image()->pixels(), dropped->pixels());
  EXPECT_EQ(vc().outlets().m_iv->image(), vc().selected_image());
  // The old result is gone: nothing can bring it back over the new photo.
  EXPECT_EQ(vc().result_iv(), nullptr);
  EXPECT_EQ(vc().n_pp_applied(), 0);
  EXPECT_EQ(View::superview(vc().outlets().m_waiting_view), nullptr);
  expectHome();
}

TEST_F(Desktop, DropsThatCannotBeTakenAreRefusedSayingWhy) {
  openPhoto(photoLikeImage(200, 150));
  const ImageRef before = vc().selected_image();
  const std::string undo = readFile(vc().undo_get_image_path());
  const QUrl good =
      QUrl::fromLocalFile(QString::fromStdString((dir_.path() / "photo.png").string()));

  drop({good, good});
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_EQ(AlertView::visibleAlerts().front()->message(), "Please drop one photo at a time.");
  AlertView::closeAll();

  drop({QUrl("https://example.org/photo.jpg")});
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("on this computer"),
            std::string::npos);
  AlertView::closeAll();

  const std::filesystem::path bad = dir_.path() / "notes.jpg";
  std::FILE* f = std::fopen(bad.c_str(), "wb");
  std::fputs("not a photo at all", f);
  std::fclose(f);
  drop({QUrl::fromLocalFile(QString::fromStdString(bad.string()))});
  ASSERT_TRUE(spinUntil([&] { return !AlertView::visibleAlerts().empty(); }));
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("notes.jpg"), std::string::npos);
  AlertView::closeAll();

  // During a run.
  QTest::keyClick(vc().view(), Qt::Key_Return);
  ASSERT_TRUE(vc().isRunInProgress());
  drop({good});
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("filter is being applied"),
            std::string::npos);
  EXPECT_FALSE(vc().isLoadingPhoto());
  AlertView::closeAll();
  ASSERT_TRUE(spinUntil([&] { return vc().screenState() == S::Result; }));

  EXPECT_EQ(vc().n_pp_applied(), 1);
  EXPECT_EQ(readFile(vc().undo_get_image_path()), undo);
  EXPECT_EQ(vc().selected_image()->width(), before->width());
}

TEST_F(Desktop, APhotoIsReadBehindTheWaitingViewAndKeptAtTheWorkingSize) {
  // A sideways photo larger than any run can use.
  const ImageRef big = cornersImage(3000, 1000, Image::Right);
  const std::filesystem::path file = dir_.path() / "big.png";
  ASSERT_TRUE(imageio::writeFile(*big, file).ok());
  ASSERT_TRUE(vc().openPhotoFile(file));
  EXPECT_TRUE(vc().isLoadingPhoto());
  auto* label = vc().outlets().m_waiting_view->findChild<QLabel*>("waiting_label");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(text(label->text()), "Opening photo...");
  EXPECT_TRUE(vc().outlets().m_waiting_view->isVisible());
  EXPECT_FALSE(button("btn_do_pp")->isEnabled());
  EXPECT_FALSE(button("btn_import_from_library")->isEnabled());
  // A second photo now waits for no one: it is refused, saying why.
  EXPECT_FALSE(vc().openPhotoFile(file));
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("still being opened"),
            std::string::npos);
  AlertView::closeAll();

  ASSERT_TRUE(spinUntil([&] { return !vc().isLoadingPhoto(); }));
  const ImageRef current = vc().selected_image();
  ASSERT_NE(current, nullptr);
  // Still the photo as picked (its tag kept), only no larger than 2048.
  EXPECT_EQ(current->orientation(), Image::Right);
  EXPECT_EQ(current->width(), 2048);
  EXPECT_EQ(current->height(), 682);
  EXPECT_TRUE(vc().rotate_result_image());
  EXPECT_TRUE(button("btn_do_pp")->isEnabled());
  EXPECT_FALSE(vc().outlets().m_waiting_view->isVisible());
  // The undo file is the normalised photo.
  const ImageRef undo = vc().undo_get_image();
  ASSERT_NE(undo, nullptr);
  EXPECT_EQ(undo->width(), 266);
  EXPECT_EQ(undo->height(), 800);
}

TEST(PhotoLoaderReduction, ScalesTheBitmapAndKeepsTheTag) {
  const ImageRef big = cornersImage(3000, 1000, Image::Left);
  const ImageRef reduced = reduceToWorkingSide(big, 2048);
  ASSERT_NE(reduced, nullptr);
  EXPECT_EQ(reduced->orientation(), Image::Left);
  const ImageRef expected = scaleAndRotateImage(big->withOrientation(Image::Up), 2048, 2048);
  EXPECT_EQ(reduced->pixels(), expected->pixels());
  const ImageRef small = cornersImage(2048, 100);
  EXPECT_EQ(reduceToWorkingSide(small, 2048), small);  // not copied
  EXPECT_EQ(reduceToWorkingSide(big, 0), big);
}

TEST_F(Desktop, TheWindowResizesAndTheScreenFitsIt) {
  QWidget* window = app_->window();
  EXPECT_NE(window->minimumSize(), window->maximumSize());
  window->resize(1000, 600);
  QApplication::processEvents();
  ScreenView* view = app_->screenView();
  EXPECT_DOUBLE_EQ(view->scale(), 1.25);
  EXPECT_EQ(view->screenRect(), QRect(300, 0, 400, 600));
  EXPECT_TRUE(vc().isWindowWide());
  // A click on the window lands on the control drawn there.
  QAbstractButton* filters = button("btn_select_pp");
  const QPointF centre =
      QPointF(filters->mapTo(app_->screen(), filters->rect().center())) * 1.25 + QPointF(300, 0);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
  settleOn(S::FilterList);
  window->resize(640, 1200);
  QApplication::processEvents();
  EXPECT_DOUBLE_EQ(view->scale(), 2.0);
  EXPECT_EQ(view->screenRect(), QRect(0, 120, 640, 960));
  EXPECT_FALSE(vc().isWindowWide());
}

TEST(FirstWindowSize, IsThePreferredScaleUnlessTheDesktopIsSmaller) {
  const QSize screen(320, 480);
  EXPECT_EQ(GlowsnapAppDelegate::firstWindowSize(screen, 1.5, QSize(1920, 1080)), QSize(480, 720));
  // 1024 pixels high, less the frame: 960 / 480 = 2.
  EXPECT_EQ(GlowsnapAppDelegate::firstWindowSize(screen, 3.0, QSize(1280, 1024)), QSize(640, 960));
  EXPECT_EQ(GlowsnapAppDelegate::firstWindowSize(screen, 1.5, QSize(800, 600)), QSize(357, 536));
  EXPECT_EQ(GlowsnapAppDelegate::firstWindowSize(screen, 1.0, QSize()), QSize(320, 480));
}

TEST_F(Desktop, ALandscapeResultIsUprightInAWideWindowAndTurnedInATallOne) {
  openPhoto(solidImage(300, 200, {255, 90, 120, 150}));
  QTest::mouseClick(button("btn_show_image"), Qt::LeftButton);
  settleOn(S::Result);
  ImageView* iv = vc().result_iv();
  ASSERT_NE(iv, nullptr);
  app_->window()->resize(480, 720);
  QApplication::processEvents();
  EXPECT_NEAR(iv->transform().b, 1.0f, 1e-6f);  // turned a quarter
  app_->window()->resize(1200, 700);
  QApplication::processEvents();
  EXPECT_EQ(iv->transform(), AffineTransform::identity());
  // Upright, fitted into the area above the toolbar at 1x.
  EXPECT_TRUE(sameRect(iv->frame(), Rect(0, 0, 320, 436)));
  EXPECT_FLOAT_EQ(vc().outlets().m_result_sv->zoomScale(), 1.0f);
  const QRectF picture = iv->pictureRect();
  EXPECT_NEAR(picture.width(), 320.0, 1e-3);
  EXPECT_NEAR(picture.height(), 320.0 * 200 / 300, 1e-3);
}

TEST_F(Desktop, HoldingTheResultOrBShowsThePhotoItWasMadeFrom) {
  openPhoto(photoLikeImage(120, 90));
  QTest::keyClick(vc().view(), Qt::Key_Return);
  settleOn(S::Result);
  ImageView* iv = vc().result_iv();
  ASSERT_NE(iv, nullptr);
  const ImageRef result = iv->image();
  const ImageRef source = vc().result_source();
  ASSERT_NE(source, nullptr);
  EXPECT_NE(source, result);
  auto* badge = vc().view()->findChild<QLabel*>("label_before");
  ASSERT_NE(badge, nullptr);

  ImageScrollView* sv = vc().outlets().m_result_sv;
  sv->setZoomScale(2.0f);
  QTest::mousePress(sv, Qt::LeftButton, Qt::NoModifier, sv->rect().center());
  ASSERT_TRUE(spinUntil([&] { return vc().isShowingOriginal(); })) << "no long press";
  EXPECT_EQ(iv->alternateImage(), source);
  EXPECT_TRUE(badge->isVisible());
  EXPECT_FLOAT_EQ(sv->zoomScale(), 2.0f);       // the same place and zoom
  EXPECT_EQ(vc().get_image_to_save(), result);  // the result is still what is kept
  QTest::mouseRelease(sv, Qt::LeftButton, Qt::NoModifier, sv->rect().center());
  EXPECT_FALSE(vc().isShowingOriginal());
  EXPECT_FALSE(badge->isVisible());

  // A drag pans instead.
  QTest::mousePress(sv, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
  QTest::mouseMove(sv, QPoint(160, 160));
  QTest::qWait(ScrollView::kLongPressMilliseconds + 200);
  EXPECT_FALSE(vc().isShowingOriginal());
  QTest::mouseRelease(sv, Qt::LeftButton, Qt::NoModifier, QPoint(160, 160));

  QTest::keyPress(vc().view(), Qt::Key_B);
  EXPECT_TRUE(vc().isShowingOriginal());
  QTest::keyRelease(vc().view(), Qt::Key_B);
  EXPECT_FALSE(vc().isShowingOriginal());

  // The current photo shown with View has nothing before it.
  QTest::keyClick(vc().view(), Qt::Key_Escape);
  settleOn(S::Main);
  QTest::mouseClick(button("btn_show_image"), Qt::LeftButton);
  settleOn(S::Result);
  QTest::keyPress(vc().view(), Qt::Key_B);
  EXPECT_FALSE(vc().isShowingOriginal());
  QTest::keyRelease(vc().view(), Qt::Key_B);
}

TEST_F(Desktop, TheFileDialogOpensWhereTheLastPhotoCameFrom) {
  const std::filesystem::path folder = dir_.path() / "holiday";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "beach.png";
  ASSERT_TRUE(imageio::writeFile(*photoLikeImage(40, 30), file).ok());
  QTest::keyClick(vc().view(), Qt::Key_O, Qt::ControlModifier);
  ASSERT_NE(vc().picker(), nullptr);
  auto* dialog = qobject_cast<QFileDialog*>(vc().picker()->presentedWidget());
  ASSERT_NE(dialog, nullptr);
  // A dialog of the desktop window, not drawn on the scaled screen.
  EXPECT_EQ(dialog->parentWidget(), app_->window());
  dialog->selectFile(QString::fromStdString(file.string()));
  QTest::keyClick(dialog, Qt::Key_Return);  // "Open"
  ASSERT_TRUE(spinUntil([&] { return !vc().isLoadingPhoto() && vc().selected_image(); }));
  EXPECT_EQ(settings_->stringForKey("last_photo_folder"), folder.string());

  // The next launch's dialog opens there.
  app_.reset();
  ImagePicker::setDirectory({});
  app_ = std::make_unique<GlowsnapAppDelegate>(*settings_);
  app_->applicationDidFinishLaunching();
  QTest::keyClick(vc().view(), Qt::Key_O, Qt::ControlModifier);
  ASSERT_NE(vc().picker(), nullptr);
  dialog = qobject_cast<QFileDialog*>(vc().picker()->presentedWidget());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(std::filesystem::path(dialog->directory().absolutePath().toStdString()), folder);
  QTest::keyClick(dialog, Qt::Key_Escape);
}

}  // namespace
}  // namespace glowsnap::test
