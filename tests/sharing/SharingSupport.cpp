#include "tests/sharing/SharingSupport.h"

#include <QApplication>

#include "platform/qt/ActionSheet.h"
#include "platform/qt/Panel.h"
#include "platform/qt/TableView.h"
#include "platform/qt/View.h"

namespace glowsnap::test {

namespace {

class FixedHandle : public ReachabilityHandle {
 public:
  explicit FixedHandle(std::optional<ReachabilityFlags> flags) : flags_(flags) {}
  std::optional<ReachabilityFlags> flags() override { return flags_; }
  bool setCallback(ReachabilityCallback, void*) override { return true; }
  bool scheduleWithRunLoop(RunLoop&, const std::string&) override { return true; }
  bool unscheduleFromRunLoop(RunLoop&, const std::string&) override { return true; }

 private:
  std::optional<ReachabilityFlags> flags_;
};

}  // namespace

std::shared_ptr<ReachabilityHandle> FixedReachability::createWithName(const std::string&) {
  ++made;
  return std::make_shared<FixedHandle>(flags);
}

std::shared_ptr<ReachabilityHandle> FixedReachability::createWithAddress(const sockaddr_in& a) {
  EXPECT_EQ(a.sin_family, AF_INET);
  EXPECT_EQ(a.sin_addr.s_addr, 0u) << "the network test asks about 0.0.0.0";
  ++made;
  return std::make_shared<FixedHandle>(flags);
}

SharingTest::SharingTest() {
  ReachabilityHandleFactory::setCurrent(reachability_);
  settings_->setBool(true, "do_not_show_info");
  app_ = std::make_unique<GlowsnapAppDelegate>(*settings_);
  app_->applicationDidFinishLaunching();
}

SharingTest::~SharingTest() {
  AlertView::closeAll();
  ActionSheet::closeAll();
  app_.reset();
  QApplication::processEvents();
  ReachabilityHandleFactory::setCurrent(nullptr);
}

QAbstractButton* SharingTest::button(const char* name) {
  auto* b = app_->screen()->findChild<QAbstractButton*>(name);
  EXPECT_NE(b, nullptr) << name;
  return b;
}

void SharingTest::clickPanelButton(const std::string& title) {
  QPushButton* found = nullptr;
  for (Panel* panel : app_->screen()->findChildren<Panel*>()) {
    if (!panel->isVisible()) continue;
    for (QPushButton* b : panel->findChildren<QPushButton*>())
      if (b->text().toStdString() == title && b->isVisible()) found = b;
  }
  ASSERT_NE(found, nullptr) << "no button \"" << title << "\" on screen";
  QTest::mouseClick(found, Qt::LeftButton);
}

void SharingTest::makeResult(const ImageRef& image) {
  vc_.reset();  // the window's controller is the one used
  vc().didFinishPickingImage(nullptr, image, {});
  ASSERT_TRUE(spinUntil([&] { return !vc().isLoadingPhoto() && !vc().isMoving(); }))
      << "the photo did not open";
  vc().on_btn_select_pp();
  vc().on_selected_pp("More Colors");
  ASSERT_TRUE(spinUntil([&] { return !vc().isMoving(); }));
  QTest::mouseClick(button("btn_do_pp"), Qt::LeftButton);
  ASSERT_TRUE(spinUntil([&] {
    return !vc().isRunInProgress() &&
           vc().screenState() == GlowsnapViewController::ScreenState::Result;
  })) << "the run did not end on the result screen";
  ASSERT_NE(vc().get_image_to_save(), nullptr);
}

void SharingTest::saveAndUpload() {
  QTest::mouseClick(button("btn_save_result"), Qt::LeftButton);
  ASSERT_EQ(ActionSheet::visibleSheets().size(), 1u) << "the save sheet did not open";
  clickPanelButton("Upload");
}

void SharingTest::clickRow(int row) {
  ASSERT_NE(screen(), nullptr);
  TableView* table = screen()->table_view();
  const QPoint at(table->viewport()->width() / 2,
                  row * ImageServiceSelectViewController::kRowHeight +
                      ImageServiceSelectViewController::kRowHeight / 2);
  QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

std::vector<std::string> SharingTest::alertTitles() const {
  std::vector<std::string> out;
  for (const auto& a : AlertView::visibleAlerts()) out.push_back(a->title());
  return out;
}

bool SharingTest::waitForAlert(const std::string& title) {
  return spinUntil([&] {
    auto titles = alertTitles();
    return titles.size() == 1 && titles.front() == title;
  });
}

}  // namespace glowsnap::test
