// The view adapters: image conversion, frames and alpha in and out of
// animation blocks, alerts and sheets, tables, toolbars, segments, the
// zooming scroll view and the image view's transform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

#include "platform/qt/ActionSheet.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/Animation.h"
#include "platform/qt/ImageView.h"
#include "platform/qt/QtImage.h"
#include "platform/qt/ScrollView.h"
#include "platform/qt/SegmentedControl.h"
#include "platform/qt/TableView.h"
#include "platform/qt/Toolbar.h"
#include "platform/qt/View.h"
#include "support/TestImages.h"

namespace glowsnap {
namespace {

using test::Argb;

bool sameRect(const Rect& a, const Rect& b) {
  return a.origin.x == b.origin.x && a.origin.y == b.origin.y && a.size.width == b.size.width &&
         a.size.height == b.size.height;
}

TEST(QtImage, KeepsTheBytesAndTheirOrderBothWays) {
  std::vector<std::uint8_t> px = {255, 10, 20, 30, 128, 64, 32, 16, 0, 0, 0, 0, 200, 200, 100, 0};
  const ImageRef img = Image::create(2, 2, px);
  const QImage q = QtImage::toQImage(*img);
  ASSERT_EQ(q.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(q.pixel(0, 0), qRgba(10, 20, 30, 255));
  EXPECT_EQ(reinterpret_cast<const QRgb*>(q.constScanLine(0))[1], qRgba(64, 32, 16, 128));
  EXPECT_EQ(reinterpret_cast<const QRgb*>(q.constScanLine(1))[1], qRgba(200, 100, 0, 200));
  const ImageRef back = QtImage::fromQImage(q);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->pixels(), px);
  EXPECT_EQ(QtImage::fromQImage(QImage()), nullptr);
}

TEST(QtImage, UprightAppliesTheOrientationTag) {
  // Stored bitmap 40 × 20; tag Right means it is seen turned clockwise.
  const ImageRef right = test::cornersImage(40, 20, Image::Right);
  const QImage up = QtImage::toUprightQImage(*right);
  ASSERT_EQ(up.width(), 20);
  ASSERT_EQ(up.height(), 40);
  // The stored top-left (red) ends at the top right.
  EXPECT_EQ(up.pixel(17, 2), qRgb(255, 0, 0));
  // Tag Left: turned counter-clockwise, the stored top-left lands bottom left.
  const QImage left = QtImage::toUprightQImage(*right->withOrientation(Image::Left));
  EXPECT_EQ(left.pixel(2, 37), qRgb(255, 0, 0));
  const QImage mirrored = QtImage::toUprightQImage(*right->withOrientation(Image::UpMirrored));
  EXPECT_EQ(mirrored.pixel(37, 2), qRgb(255, 0, 0));
}

TEST(View, FramesTakeTheirNewValueAtOnceInsideAnAnimation) {
  QWidget parent;
  parent.resize(320, 480);
  QWidget* child = new QWidget(&parent);
  View::setFrame(child, Rect(0, 0, 320, 480));
  Animation::setEnabled(true);
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.5);
  View::setFrame(child, Rect(0, -480, 320, 480));
  View::setAlpha(child, 0.0f);
  Animation::commitAnimations();
  EXPECT_TRUE(sameRect(View::frame(child), Rect(0, -480, 320, 480)));
  EXPECT_EQ(View::alpha(child), 0.0f);
  EXPECT_TRUE(child->testAttribute(Qt::WA_TransparentForMouseEvents));
  // A move relative to the current frame starts from the new value.
  Rect f = View::frame(child);
  f.origin.y += 480;
  Animation::beginAnimations();
  View::setFrame(child, f);
  Animation::commitAnimations();
  EXPECT_TRUE(sameRect(View::frame(child), Rect(0, 0, 320, 480)));
  Animation::setEnabled(false);
  View::setAlpha(child, 1.0f);
  EXPECT_FALSE(child->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST(View, SubviewsStackInTheOrderTheyAreAddedOrRaised) {
  QWidget parent;
  auto* a = new QWidget(&parent);
  auto* b = new QWidget(&parent);
  auto* c = new QWidget;
  View::addSubview(&parent, c);
  EXPECT_EQ(View::subviews(&parent), (QList<QWidget*>{a, b, c}));
  View::bringSubviewToFront(&parent, a);
  EXPECT_EQ(View::subviews(&parent), (QList<QWidget*>{b, c, a}));
  View::removeFromSuperview(c);
  EXPECT_EQ(View::superview(c), nullptr);
  EXPECT_EQ(View::subviews(&parent), (QList<QWidget*>{b, a}));
  View::setHidden(b, true);
  EXPECT_TRUE(View::isHidden(b));
  View::addSubview(&parent, c);  // shown again after it was taken out
  EXPECT_FALSE(View::isHidden(c));
}

class RecordingDelegate : public AlertViewDelegate, public ActionSheetDelegate {
 public:
  void clickedButtonAtIndex(AlertView* a, int i) override {
    alertClicks.push_back(i);
    EXPECT_TRUE(a->isVisible());  // told before it closes
  }
  void clickedButtonAtIndex(ActionSheet*, int i) override { sheetClicks.push_back(i); }
  std::vector<int> alertClicks, sheetClicks;
};

TEST(AlertView, ButtonsCountFromTheCancelButtonAndATapClosesTheAlert) {
  RecordingDelegate d;
  auto alert = AlertView::create("", "Sure?", &d, "No", {"Yes", "Maybe"});
  EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"No", "Yes", "Maybe"}));
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  alert->show();
  ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
  alert.reset();  // a shown alert keeps itself
  AlertView::visibleAlerts().front()->dismissWithClickedButtonIndex(1);
  EXPECT_EQ(d.alertClicks, std::vector<int>{1});
  EXPECT_TRUE(AlertView::visibleAlerts().empty());

  auto only = AlertView::create("Title", "Done", &d, "", {"Ok"});
  EXPECT_EQ(only->cancelButtonIndex(), -1);
  only->show();
  AlertView::forgetDelegate(&d);
  only->dismissWithClickedButtonIndex(0);
  EXPECT_EQ(d.alertClicks.size(), 1u);
}

TEST(AlertView, AClickOnTheRealButtonReachesTheDelegate) {
  QWidget host;
  host.resize(320, 480);
  Panel::setDefaultHost(&host);
  RecordingDelegate d;
  AlertView::create("", "Question", &d, "No", {"Yes"})->show();
  auto* yes = host.findChild<QPushButton*>("button1");
  ASSERT_NE(yes, nullptr);
  EXPECT_EQ(yes->text(), "Yes");
  yes->click();
  EXPECT_EQ(d.alertClicks, std::vector<int>{1});
  Panel::setDefaultHost(nullptr);
}

TEST(ActionSheet, DestructiveFirstCancelLastAndEscapeCancels) {
  QWidget host;
  host.resize(320, 480);
  RecordingDelegate d;
  auto sheet = ActionSheet::create("Where?", &d, "Cancel", "Delete", {"A", "B"});
  EXPECT_EQ(sheet->buttonTitles(), (std::vector<std::string>{"Delete", "A", "B", "Cancel"}));
  EXPECT_EQ(sheet->destructiveButtonIndex(), 0);
  EXPECT_EQ(sheet->cancelButtonIndex(), 3);
  sheet->showInView(&host);
  auto* panel = host.findChild<Panel*>();
  ASSERT_NE(panel, nullptr);
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(panel, &esc);
  EXPECT_EQ(d.sheetClicks, std::vector<int>{3});
  EXPECT_FALSE(sheet->isVisible());
}

class Rows : public TableViewDataSource, public TableViewDelegate {
 public:
  int numberOfSectionsInTableView(TableView*) override { return 2; }
  int numberOfRowsInSection(TableView*, int section) override { return section == 0 ? 2 : 1; }
  std::optional<std::string> titleForHeaderInSection(TableView*, int s) override {
    return s == 0 ? "First" : "Second";
  }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView* t, const IndexPath& p) override {
    auto cell = t->dequeueReusableCellWithIdentifier("c");
    if (cell) ++reused;
    if (!cell) cell = std::make_shared<TableViewCell>("c");
    cell->setText(std::to_string(p.section) + "." + std::to_string(p.row));
    return cell;
  }
  std::optional<IndexPath> willSelectRowAtIndexPath(TableView*, const IndexPath& p) override {
    taps.push_back(p);
    if (p.section == 1) return std::nullopt;
    return p;
  }
  int reused = 0;
  std::vector<IndexPath> taps;
};

TEST(TableView, AsksItsSourceAndMarksOnlyWhatTheDelegateChooses) {
  TableView table;
  Rows rows;
  table.setDataSource(&rows);
  table.setDelegate(&rows);
  table.reloadData();
  EXPECT_EQ(table.numberOfSections(), 2);
  EXPECT_EQ(table.numberOfRowsInSection(1), 1);
  EXPECT_EQ(table.cellForRowAtIndexPath({1, 0})->text(), "1.0");
  EXPECT_EQ(table.count(), 5);  // two headers and three rows
  table.tapRowAtIndexPath({0, 1});
  EXPECT_EQ(table.indexPathForSelectedRow(), (IndexPath{0, 1}));
  table.tapRowAtIndexPath({1, 0});
  EXPECT_FALSE(table.indexPathForSelectedRow().has_value());
  table.reloadData();
  EXPECT_EQ(rows.reused, 3);  // the cells of the first load came back
  EXPECT_EQ(table.cellForRowAtIndexPath({2, 0}), nullptr);
}

TEST(Toolbar, ItemsLeftOutAreHiddenAndCanComeBack) {
  Toolbar bar;
  auto* a = new QToolButton(&bar);
  auto* b = new QToolButton(&bar);
  auto* c = new QToolButton(&bar);
  QWidget* flex = Toolbar::flexibleSpace(&bar);
  bar.setItems({a, flex, b, c});
  bar.show();
  EXPECT_EQ(bar.items(), (QList<QWidget*>{a, flex, b, c}));
  bar.setItems({a, flex, c});
  EXPECT_TRUE(b->isHidden());
  bar.setItems({a, flex, b, c});
  EXPECT_EQ(bar.items().value(2), b);
  EXPECT_FALSE(b->isHidden());
}

TEST(SegmentedControl, SelectsOneSegmentOrNone) {
  SegmentedControl sc;
  sc.setSegments({"a", "b", "c"});
  EXPECT_EQ(sc.selectedSegmentIndex(), -1);
  sc.setSelectedSegmentIndex(2);
  EXPECT_EQ(sc.selectedSegmentIndex(), 2);
  sc.setSelectedSegmentIndex(7);
  EXPECT_EQ(sc.selectedSegmentIndex(), -1);
  int changed = -2;
  QObject::connect(&sc, &SegmentedControl::valueChanged, [&](int i) { changed = i; });
  sc.findChildren<QToolButton*>().at(1)->click();
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(sc.selectedSegmentIndex(), 1);
}

TEST(ImageView, TheFrameIsTheBoxAroundTheTransformedBounds) {
  ImageView iv(test::solidImage(200, 100, Argb{}));
  EXPECT_TRUE(sameRect(iv.frame(), Rect(0, 0, 200, 100)));  // made at the image's display size
  iv.setFrame(Rect(0, 0, 320, 480));
  iv.setTransform(AffineTransform::makeTranslation(80, -100).rotated(static_cast<float>(M_PI_2)));
  const Rect turned = iv.frame();
  EXPECT_NEAR(turned.origin.x, 0, 1e-3);
  EXPECT_NEAR(turned.origin.y, -20, 1e-3);
  EXPECT_NEAR(turned.size.width, 480, 1e-3);
  EXPECT_NEAR(turned.size.height, 320, 1e-3);
  iv.setFrame(Rect(0, -20, 320, 480));
  EXPECT_NEAR(iv.boundsSize().width, 480, 1e-3);
  EXPECT_NEAR(iv.boundsSize().height, 320, 1e-3);
  EXPECT_NEAR(iv.center().x, 80, 1e-3);
  EXPECT_NEAR(iv.center().y, 320, 1e-3);
}

class ZoomDelegate : public ScrollViewDelegate {
 public:
  QWidget* viewForZoomingInScrollView(ScrollView*) override { return view; }
  QWidget* view = nullptr;
};

TEST(ScrollView, ZoomStaysBetweenItsLimitsAndPansWithinTheContent) {
  ScrollView sv;
  sv.resize(320, 480);
  auto* iv = new ImageView(test::solidImage(32, 48, Argb{}));
  iv->setFrame(Rect(0, 0, 320, 480));
  ZoomDelegate d;
  d.view = iv;
  sv.setDelegate(&d);
  sv.setContentSize(Size{320, 480});
  sv.setMinimumZoomScale(1.0f);
  sv.setMaximumZoomScale(4.0f);
  sv.addSubview(iv);

  sv.setZoomScale(9.0f);
  EXPECT_FLOAT_EQ(sv.zoomScale(), 4.0f);
  EXPECT_EQ(iv->geometry().width(), 1280);                   // the view is shown four times larger
  EXPECT_TRUE(sameRect(iv->frame(), Rect(0, 0, 320, 480)));  // its frame is unchanged
  sv.setContentOffset(Point{5000, -10});
  EXPECT_FLOAT_EQ(sv.contentOffset().x, 1280.0f - 320.0f);
  EXPECT_FLOAT_EQ(sv.contentOffset().y, 0.0f);
  sv.setZoomScale(0.2f);
  EXPECT_FLOAT_EQ(sv.zoomScale(), 1.0f);
  EXPECT_FLOAT_EQ(sv.contentOffset().x, 0.0f);

  // The wheel zooms about the pointer, a double click toggles.
  QWheelEvent wheel(QPointF(160, 240), sv.mapToGlobal(QPointF(160, 240)), QPoint(), QPoint(0, 240),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&sv, &wheel);
  EXPECT_NEAR(sv.zoomScale(), 1.5625f, 1e-4);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(10, 10), sv.mapToGlobal(QPointF(10, 10)),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&sv, &dbl);
  EXPECT_FLOAT_EQ(sv.zoomScale(), 1.0f);
  QApplication::sendEvent(&sv, &dbl);
  EXPECT_FLOAT_EQ(sv.zoomScale(), 2.0f);
}

}  // namespace
}  // namespace glowsnap
