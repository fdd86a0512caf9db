#include "tests/app/AppTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <fstream>
#include <iterator>

#include "platform/qt/ActionSheet.h"
#include "platform/qt/Animation.h"
#include "platform/qt/View.h"

namespace glowsnap::test {

ControllerTest::ControllerTest()
    : documents_("GLOWSNAP_DOCUMENTS_DIR", (dir_.path() / "documents").string()),
      pictures_("GLOWSNAP_PICTURES_DIR", (dir_.path() / "pictures").string()),
      resources_("GLOWSNAP_RESOURCES_DIR", std::string(GLOWSNAP_SOURCE_DIR) + "/resources") {
  Animation::setEnabled(false);
  settings_ = std::make_unique<Defaults>(dir_.path() / "defaults.json");
  driver_ = std::make_unique<RunLoopDriver>();
}

ControllerTest::~ControllerTest() {
  vc_.reset();
  AlertView::closeAll();
  ActionSheet::closeAll();
  QApplication::processEvents();
}

GlowsnapViewController& ControllerTest::load() {
  vc_ = std::make_unique<GlowsnapViewController>(*settings_);
  vc_->view();
  return *vc_;
}

void ControllerTest::clearAlerts() { AlertView::closeAll(); }

std::vector<std::string> ControllerTest::alertMessages() const {
  std::vector<std::string> out;
  for (const auto& a : AlertView::visibleAlerts()) out.push_back(a->message());
  return out;
}

void ControllerTest::pick(const ImageRef& image) {
  vc_->didFinishPickingImage(nullptr, image, {});
  waitForPhoto();
}

void ControllerTest::waitForPhoto() {
  ASSERT_TRUE(spinUntil([this] { return !vc_->isLoadingPhoto(); })) << "the photo did not open";
}

void ControllerTest::choose(const std::string& name) {
  vc_->on_btn_select_pp();
  vc_->on_selected_pp(name);
}

void ControllerTest::runToEnd() {
  vc_->on_btn_do_pp();
  ASSERT_TRUE(spinUntil([this] { return !vc_->isRunInProgress(); })) << "the run did not end";
}

bool ControllerTest::spinUntilImpl(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 60000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  return done();
}

Rect frameOf(const QWidget* w) { return View::frame(w); }

bool sameRect(const Rect& a, const Rect& b) {
  return a.origin.x == b.origin.x && a.origin.y == b.origin.y && a.size.width == b.size.width &&
         a.size.height == b.size.height;
}

std::string text(const QString& s) { return s.toStdString(); }

}  // namespace glowsnap::test
