// glowsnap-gui-screenshots: renders the real application's screens to PNG
// files for the documentation: the main screen with a photo, the filter
// list, a result, the same result held to show the photo it was made from,
// the result in a resized, wide window, the sharing screen and its
// progress alert. It drives the same controller
// as glowsnap-gui, with animations off, and waits for the run through Qt's
// event loop. Usage: glowsnap-gui-screenshots PHOTO OUTPUT_DIR [SCALE [--all]]
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/GlowsnapAppDelegate.h"
#include "app/GlowsnapViewController.h"
#include "platform/foundation/Defaults.h"
#include "platform/qt/ActionSheet.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/Animation.h"
#include "platform/qt/RunLoopDriver.h"

namespace {

bool save(QWidget* window, const std::filesystem::path& file) {
  QApplication::processEvents();
  const QPixmap shot = window->grab();
  if (!shot.save(QString::fromStdString(file.string()), "PNG")) {
    std::cerr << "glowsnap-gui-screenshots: cannot write " << file << "\n";
    return false;
  }
  std::cout << "wrote " << file.string() << "\n";
  return true;
}

// Lets Qt's loop run until done() holds; false after two minutes.
template <typename F>
bool waitFor(F done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 120000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  return done();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: glowsnap-gui-screenshots PHOTO OUTPUT_DIR [SCALE [--all]]\n";
    return 2;
  }
  const std::filesystem::path photo = argv[1];
  const std::filesystem::path out = argv[2];
  const double scale = argc > 3 ? std::atof(argv[3]) : 1.5;
  if (scale <= 0 || scale > 10) {
    std::cerr << "glowsnap-gui-screenshots: the scale must be between 0 and 10\n";
    return 2;
  }
  QApplication app(argc, argv);
  glowsnap::RunLoopDriver driver;
  glowsnap::Animation::setEnabled(false);
  std::filesystem::create_directories(out);

  glowsnap::Defaults settings(std::filesystem::temp_directory_path() /
                              "glowsnap-screenshots-defaults.json");
  settings.setBool(true, "do_not_show_info");
  settings.setInteger(3, "num_runs");
  settings.setInteger(2, "resolution");
  glowsnap::GlowsnapAppDelegate delegate(settings);
  delegate.setPreferredScale(scale);
  delegate.applicationDidFinishLaunching();
  glowsnap::AlertView::closeAll();
  glowsnap::GlowsnapViewController* vc = delegate.viewController();
  QWidget* window = delegate.window();
  // The window at the scale asked for, whatever the offscreen desktop's size.
  window->resize(static_cast<int>(320 * scale), static_cast<int>(480 * scale));

  if (!delegate.openFile(photo) || !waitFor([&] { return !vc->isLoadingPhoto(); }) ||
      !vc->selected_image()) {
    std::cerr << "glowsnap-gui-screenshots: cannot open " << photo << "\n";
    return 1;
  }
  vc->on_btn_select_pp();
  bool ok = save(window, out / "filter-list.png");
  vc->on_selected_pp("HDR Color+");
  ok = save(window, out / "main.png") && ok;

  vc->on_btn_do_pp();
  if (!waitFor([&] { return !vc->isRunInProgress(); }) || !vc->result_iv()) {
    std::cerr << "glowsnap-gui-screenshots: the filter run did not finish\n";
    return 1;
  }
  ok = save(window, out / "result.png") && ok;
  vc->setShowsOriginal(true);
  ok = save(window, out / "before.png") && ok;
  vc->setShowsOriginal(false);
  // A wide window: the portrait screen fits its height, the result is upright.
  window->resize(static_cast<int>(640 * scale), static_cast<int>(400 * scale));
  ok = save(window, out / "wide-window.png") && ok;
  window->resize(static_cast<int>(320 * scale), static_cast<int>(480 * scale));
  // The sharing screen over the result, then its progress alert part-way.
  vc->select_image_service();
  if (glowsnap::ImageServiceSelectViewController* share = vc->image_service_select_vc()) {
    ok = save(window, out / "sharing.png") && ok;
    share->show_waiting_with_progress(true);
    share->setImage_length(1843200);
    share->setProgress(0.4f);
    ok = save(window, out / "upload-progress.png") && ok;
    share->hide_waiting();
    share->on_cancel_touched();
    QApplication::processEvents();
  } else {
    std::cerr << "glowsnap-gui-screenshots: the sharing screen did not open\n";
    ok = false;
  }
  if (argc > 4 && std::string(argv[4]) == "--all") {
    // Further screens, for looking at rather than for the README.
    vc->on_btn_save_result();
    ok = save(window, out / "save-sheet.png") && ok;
    glowsnap::ActionSheet::closeAll();
    vc->on_btn_back_from_result();
    vc->on_btn_undo();
    ok = save(window, out / "undo-alert.png") && ok;
    glowsnap::AlertView::closeAll();
    vc->on_btn_help();
    ok = save(window, out / "help.png") && ok;
  }
  return ok ? 0 : 1;
}
