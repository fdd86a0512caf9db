// The adapters a desktop user meets: alerts and tables on the keyboard, a
// long press on the zooming view, animation blocks that say when they rest,
// the screen view that scales a fixed screen into a window, the picker's
// folder and camera, the album's file permissions and the help page's link
// colours.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>

#include "platform/graphics/ImageIO.h"
#include "platform/qt/ActionSheet.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/Animation.h"
#include "platform/qt/ImagePicker.h"
#include "platform/qt/ImageView.h"
#include "platform/qt/PhotoAlbum.h"
#include "platform/qt/ScreenView.h"
#include "platform/qt/ScrollView.h"
#include "platform/qt/TableView.h"
#include "platform/qt/View.h"
#include "platform/qt/WebView.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

class Answers : public AlertViewDelegate {
 public:
  void clickedButtonAtIndex(AlertView*, int i) override { clicks.push_back(i); }
  std::vector<int> clicks;
};

// An alert over a host window, and the keys a user would press at it.
class AlertKeys : public ::testing::Test {
 protected:
  AlertKeys() {
    host_.resize(320, 480);
    below_ = new QPushButton("below", &host_);
    below_->setFocusPolicy(Qt::StrongFocus);
    host_.show();
    below_->setFocus();
    Panel::setDefaultHost(&host_);
  }
  ~AlertKeys() override {
    AlertView::closeAll();
    Panel::setDefaultHost(nullptr);
  }
  QWidget* focused() const { return host_.focusWidget(); }

  QWidget host_;
  QPushButton* below_;
  Answers answers_;
};

TEST_F(AlertKeys, ReturnPressesTheDefaultButtonAndEscapeTheCancelButton) {
  auto alert = AlertView::create("", "Sure?", &answers_, "No", {"Yes"});
  EXPECT_EQ(alert->defaultButtonIndex(), 1);
  alert->show();
  QTest::keyClick(focused(), Qt::Key_Return);
  EXPECT_EQ(answers_.clicks, std::vector<int>{1});
  EXPECT_FALSE(alert->isVisible());
  // The keyboard is back where it was.
  EXPECT_EQ(focused(), below_);

  alert = AlertView::create("", "Sure?", &answers_, "No", {"Yes"});
  alert->show();
  QTest::keyClick(focused(), Qt::Key_Escape);
  EXPECT_EQ(answers_.clicks, (std::vector<int>{1, 0}));
}

TEST_F(AlertKeys, AnAlertWithOneButtonClosesWithEitherKey) {
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
    answers_.clicks.clear();
    auto alert = AlertView::create("", "Copied", &answers_, "", {"Ok"});  // no cancel button
    EXPECT_EQ(alert->defaultButtonIndex(), 0);
    alert->show();
    QTest::keyClick(focused(), key);
    EXPECT_EQ(answers_.clicks, std::vector<int>{0});
    EXPECT_FALSE(alert->isVisible());
  }
}

TEST_F(AlertKeys, TabStaysInsideTheAlertAndOtherKeysStopThere) {
  int pressedBelow = 0;
  QObject::connect(below_, &QPushButton::clicked, [&] { ++pressedBelow; });
  auto alert = AlertView::create("", "Three ways", &answers_, "Cancel", {"One", "Two"});
  alert->show();
  QWidget* first = focused();
  ASSERT_NE(first, below_);
  std::set<QWidget*> seen;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(focused(), Qt::Key_Tab);
    seen.insert(focused());
    EXPECT_NE(focused(), below_);
  }
  EXPECT_EQ(seen.size(), 3u);  // the three buttons, round and round
  QTest::keyClick(focused(), Qt::Key_Right);
  QTest::keyClick(focused(), Qt::Key_X);
  EXPECT_TRUE(alert->isVisible());
  EXPECT_EQ(pressedBelow, 0);
  // Return presses the button the keyboard is on.
  QWidget* on = focused();
  const int index = on->objectName().mid(6).toInt();  // "buttonN"
  QTest::keyClick(on, Qt::Key_Return);
  EXPECT_EQ(answers_.clicks, std::vector<int>{index});
}

TEST_F(AlertKeys, AClosingAlertHandsTheKeyboardToTheOneBelow) {
  auto lower = AlertView::create("", "First", &answers_, "Ok");
  lower->show();
  auto upper = AlertView::create("", "Second", &answers_, "Ok");
  upper->show();
  QTest::keyClick(focused(), Qt::Key_Escape);
  EXPECT_FALSE(upper->isVisible());
  EXPECT_TRUE(lower->isVisible());
  QTest::keyClick(focused(), Qt::Key_Escape);
  EXPECT_FALSE(lower->isVisible());
  EXPECT_EQ(focused(), below_);
}

TEST(SheetKeys, ASheetHasNoDefaultButEscapeCancels) {
  QWidget host;
  host.resize(320, 480);
  host.show();
  struct Choices : ActionSheetDelegate {
    void clickedButtonAtIndex(ActionSheet*, int i) override { clicks.push_back(i); }
    std::vector<int> clicks;
  } choices;
  auto sheet = ActionSheet::create("Where?", &choices, "Cancel", "", {"A", "B"});
  sheet->showInView(&host);
  QTest::keyClick(host.focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(sheet->isVisible());  // nothing chosen yet
  QTest::keyClick(host.focusWidget(), Qt::Key_Tab);
  QTest::keyClick(host.focusWidget(), Qt::Key_Return);
  EXPECT_EQ(choices.clicks, std::vector<int>{0});
  sheet->showInView(&host);
  QTest::keyClick(host.focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(choices.clicks, (std::vector<int>{0, 2}));
}

class Names : public TableViewDataSource, public TableViewDelegate {
 public:
  int numberOfRowsInSection(TableView*, int) override { return 4; }
  std::optional<std::string> titleForHeaderInSection(TableView*, int) override { return "Title"; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView*, const IndexPath& p) override {
    auto cell = std::make_shared<TableViewCell>("c");
    cell->setText("row " + std::to_string(p.row));
    if (p.row == marked) cell->setAccessoryType(TableViewCell::AccessoryCheckmark);
    return cell;
  }
  std::optional<IndexPath> willSelectRowAtIndexPath(TableView*, const IndexPath& p) override {
    taps.push_back(p.row);
    return std::nullopt;
  }
  int marked = 2;
  std::vector<int> taps;
};

TEST(TableKeys, ArrowsMoveTheCursorAndReturnTapsItsRow) {
  TableView table;
  Names names;
  table.setDataSource(&names);
  table.setDelegate(&names);
  table.reloadData();
  table.resize(320, 300);
  table.show();
  EXPECT_FALSE(table.cursorIndexPath().has_value());
  QTest::keyClick(&table, Qt::Key_Down);
  EXPECT_EQ(table.cursorIndexPath(), (IndexPath{0, 0}));
  QTest::keyClick(&table, Qt::Key_Up);  // stays at the top
  EXPECT_EQ(table.cursorIndexPath(), (IndexPath{0, 0}));
  QTest::keyClick(&table, Qt::Key_End);
  EXPECT_EQ(table.cursorIndexPath(), (IndexPath{0, 3}));
  QTest::keyClick(&table, Qt::Key_Down);  // stays at the bottom
  QTest::keyClick(&table, Qt::Key_Up);
  QTest::keyClick(&table, Qt::Key_Return);
  EXPECT_EQ(names.taps, std::vector<int>{2});
  EXPECT_FALSE(table.indexPathForSelectedRow().has_value());
  QTest::keyClick(&table, Qt::Key_Home);
  QTest::keyClick(&table, Qt::Key_Space);
  EXPECT_EQ(names.taps, (std::vector<int>{2, 0}));
  // The check mark is the data source's; a reload keeps the cursor.
  EXPECT_EQ(table.cellForRowAtIndexPath({0, 2})->accessoryType(),
            TableViewCell::AccessoryCheckmark);
  table.reloadData();
  EXPECT_EQ(table.cursorIndexPath(), (IndexPath{0, 0}));
  // A click puts the cursor on the row too.
  QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier,
                    table.visualItemRect(table.item(4)).center());  // item 0 is the title
  EXPECT_EQ(names.taps.back(), 3);
  EXPECT_EQ(table.cursorIndexPath(), (IndexPath{0, 3}));
}

class Holds : public ScrollViewDelegate {
 public:
  void longPressBegan(ScrollView*) override { events.push_back("began"); }
  void longPressEnded(ScrollView*) override { events.push_back("ended"); }
  std::vector<std::string> events;
};

TEST(LongPress, IsAPressHeldStillAndEndsWithTheRelease) {
  ScrollView sv;
  sv.resize(200, 200);
  sv.show();
  Holds holds;
  sv.setDelegate(&holds);
  const QPoint at(100, 100);
  QTest::mousePress(&sv, Qt::LeftButton, Qt::NoModifier, at);
  QTest::qWait(ScrollView::kLongPressMilliseconds + 150);
  EXPECT_EQ(holds.events, std::vector<std::string>{"began"});
  EXPECT_TRUE(sv.isLongPressed());
  QTest::mouseRelease(&sv, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(holds.events, (std::vector<std::string>{"began", "ended"}));

  // A quick click, and a double click, are no long presses.
  QTest::mouseClick(&sv, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(&sv, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(&sv, Qt::LeftButton, Qt::NoModifier, at);
  QTest::qWait(ScrollView::kLongPressMilliseconds + 150);
  EXPECT_EQ(holds.events.size(), 2u);
}

TEST(ImageViewAlternate, ShowsAnotherPictureAndKeepsItsImage) {
  ImageView iv(test::solidImage(40, 20, {255, 255, 0, 0}));
  iv.resize(40, 20);
  const ImageRef other = test::solidImage(40, 20, {255, 0, 0, 255});
  iv.setAlternateImage(other);
  EXPECT_EQ(iv.alternateImage(), other);
  EXPECT_EQ(iv.image()->pixels(), test::solidImage(40, 20, {255, 255, 0, 0})->pixels());
  EXPECT_EQ(iv.grab().toImage().pixel(20, 10), qRgb(0, 0, 255));
  iv.setAlternateImage(nullptr);
  EXPECT_EQ(iv.grab().toImage().pixel(20, 10), qRgb(255, 0, 0));
}

TEST(AnimationDidStop, RunsOnceWhenTheBlockComesToRest) {
  QWidget parent;
  parent.resize(100, 100);
  auto* child = new QWidget(&parent);
  View::setFrame(child, Rect(0, 0, 50, 50));
  parent.show();
  int stopped = 0;

  // Nothing to animate: at commit.
  Animation::setEnabled(false);
  Animation::beginAnimations();
  Animation::setAnimationDidStop([&] { ++stopped; });
  View::setFrame(child, Rect(10, 0, 50, 50));
  Animation::commitAnimations();
  EXPECT_EQ(stopped, 1);

  Animation::setEnabled(true);
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.1);
  Animation::setAnimationDidStop([&] { ++stopped; });
  View::setFrame(child, Rect(40, 0, 50, 50));
  View::setAlpha(child, 0.5f);
  Animation::commitAnimations();
  EXPECT_EQ(stopped, 1);
  QElapsedTimer t;
  t.start();
  while (stopped < 2 && t.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(stopped, 2) << "the block never came to rest";
  EXPECT_EQ(child->geometry(), QRect(40, 0, 50, 50));
  QTest::qWait(150);
  EXPECT_EQ(stopped, 2);

  // A newer change of the same view ends the old block too.
  Animation::beginAnimations();
  Animation::setAnimationDuration(5.0);
  Animation::setAnimationDidStop([&] { ++stopped; });
  View::setFrame(child, Rect(0, 0, 50, 50));
  Animation::commitAnimations();
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.05);
  View::setFrame(child, Rect(20, 0, 50, 50));
  Animation::commitAnimations();
  t.restart();
  while (stopped < 3 && t.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(stopped, 3);
  Animation::setEnabled(false);
}

TEST(ScreenView, ScalesTheScreenToFitAndLetterboxes) {
  QWidget window;
  auto* screen = new QWidget;
  screen->resize(320, 480);
  auto* button = new QPushButton("Press", screen);
  button->setGeometry(10, 400, 100, 40);
  int pressed = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++pressed; });
  auto* view = new ScreenView(screen, &window);
  view->resize(640, 480);
  window.resize(640, 480);
  window.show();
  QApplication::processEvents();
  EXPECT_DOUBLE_EQ(view->scale(), 1.0);
  EXPECT_EQ(view->screenRect(), QRect(160, 0, 320, 480));
  view->resize(320, 960);
  QApplication::processEvents();
  EXPECT_DOUBLE_EQ(view->scale(), 1.0);
  EXPECT_EQ(view->screenRect(), QRect(0, 240, 320, 480));
  view->resize(960, 1440);
  QApplication::processEvents();
  EXPECT_DOUBLE_EQ(view->scale(), 3.0);
  // Clicks reach the widget drawn under them, in its own points.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60 * 3, 420 * 3));
  EXPECT_EQ(pressed, 1);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(200 * 3, 420 * 3));
  EXPECT_EQ(pressed, 1);
  // Dialogs of the screen's widgets belong to the desktop window.
  EXPECT_EQ(ScreenView::desktopWindow(button), &window);
  EXPECT_EQ(ScreenView::desktopWindow(&window), &window);
}

class Picks : public ImagePickerControllerDelegate {
 public:
  bool didFinishPickingFile(ImagePicker*, const std::filesystem::path& file) override {
    files.push_back(file);
    return readsFiles;
  }
  void didFinishPickingImage(ImagePicker*, ImageRef image,
                             const std::map<std::string, std::string>&) override {
    images.push_back(image);
  }
  void imagePickerControllerDidCancel(ImagePicker*) override { ++cancels; }
  void didFailPickingImage(ImagePicker*, const Error& e) override { errors.push_back(e); }
  bool readsFiles = true;
  std::vector<std::filesystem::path> files;
  std::vector<ImageRef> images;
  std::vector<Error> errors;
  int cancels = 0;
};

TEST(ImagePickerFolder, TheDialogOpensInTheFolderOfTheLastPick) {
  test::TempDir dir;
  test::ScopedEnv pictures("GLOWSNAP_PICTURES_DIR", dir.path().string());
  ImagePicker::setDirectory({});
  EXPECT_EQ(ImagePicker::directory(), dir.path());
  const std::filesystem::path folder = dir.path() / "trip";
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(imageio::writeFile(*test::cornersImage(20, 10), folder / "a.png").ok());

  Picks picks;
  ImagePicker picker;
  picker.setDelegate(&picks);
  QWidget parent;
  parent.show();
  picker.present(&parent);
  auto* dialog = qobject_cast<QFileDialog*>(picker.presentedWidget());
  ASSERT_NE(dialog, nullptr);
  dialog->selectFile(QString::fromStdString((folder / "a.png").string()));
  QTest::keyClick(dialog, Qt::Key_Return);
  ASSERT_EQ(picks.files.size(), 1u);
  EXPECT_EQ(picks.files[0], folder / "a.png");
  EXPECT_TRUE(picks.images.empty());  // the delegate reads it itself
  EXPECT_FALSE(dialog->isVisible());  // gone before the photo is read
  EXPECT_EQ(ImagePicker::directory(), folder);

  // A delegate that leaves the reading to the picker gets the image.
  picks.readsFiles = false;
  picker.pickFile(folder / "a.png");
  ASSERT_EQ(picks.images.size(), 1u);
  EXPECT_EQ(picks.images[0]->width(), 20);
  // A folder that has gone is forgotten.
  std::filesystem::remove_all(folder);
  EXPECT_EQ(ImagePicker::directory(), dir.path());
  ImagePicker::setDirectory({});
}

TEST(ImagePickerCamera, TheCameraWindowCancelsOrReportsWhyItCannotShoot) {
  if (!ImagePicker::supportsCamera()) GTEST_SKIP() << "built without Qt Multimedia";
  Picks picks;
  ImagePicker picker;
  picker.setDelegate(&picks);
  picker.setSourceType(ImagePicker::Camera);
  QWidget parent;
  parent.show();
  picker.present(&parent);
  QWidget* window = picker.presentedWidget();
  ASSERT_NE(window, nullptr);
  auto* shoot = window->findChild<QPushButton*>("camera_shoot");
  auto* cancel = window->findChild<QPushButton*>("camera_cancel");
  ASSERT_NE(shoot, nullptr);
  ASSERT_NE(cancel, nullptr);
  QApplication::processEvents();
  if (ImagePicker::isSourceTypeAvailable(ImagePicker::Camera)) {
    SUCCEED() << "a camera is attached";
  } else {
    // Without a camera nothing can be taken.
    EXPECT_FALSE(shoot->isEnabled());
  }
  if (window->isVisible()) {
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_EQ(picks.cancels, 1);
  } else {
    // The camera failed at once, and said so.
    ASSERT_FALSE(picks.errors.empty());
    EXPECT_EQ(picks.errors[0].description.rfind("Camera: ", 0), 0u);
  }
  EXPECT_TRUE(picks.images.empty());
}

TEST(PhotoAlbumFiles, GetTheUsersUsualPermissions) {
  test::TempDir dir;
  test::ScopedEnv pictures("GLOWSNAP_PICTURES_DIR", dir.path().string());
  const mode_t old = ::umask(027);
  Result<std::filesystem::path> r = PhotoAlbum::save(*test::cornersImage(8, 8));
  ::umask(022);
  Result<std::filesystem::path> r2 = PhotoAlbum::save(*test::cornersImage(8, 8));
  ::umask(old);
  ASSERT_TRUE(r.ok()) << r.error().description;
  ASSERT_TRUE(r2.ok()) << r2.error().description;
  struct stat st {};
  ASSERT_EQ(::stat(r.value().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_EQ(::stat(r2.value().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(HelpLinks, ReadOnADarkPage) {
  WebView wv;
  wv.setBackgroundColor(Qt::black);
  EXPECT_GT(wv.palette().color(QPalette::Link).lightness(), 150);
  EXPECT_GT(wv.palette().color(QPalette::LinkVisited).lightness(), 150);
  wv.setBackgroundColor(Qt::white);
  EXPECT_LT(wv.palette().color(QPalette::Link).lightness(), 128);
}

}  // namespace
}  // namespace glowsnap
