// A main controller in a scratch world: its own settings file, documents,
// pictures and the source tree's resources, animations off, and helpers to
// drive it the way a user would.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <memory>
#include <string>

#include "app/GlowsnapViewController.h"
#include "platform/foundation/Defaults.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/RunLoopDriver.h"
#include "support/TestSupport.h"

namespace glowsnap::test {

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest();
  ~ControllerTest() override;

  // Makes the controller and loads its view (viewDidLoad).
  GlowsnapViewController& load();
  // Closes the alerts shown at launch, so that a test sees only its own.
  void clearAlerts();
  // The messages of the alerts on screen, oldest first.
  std::vector<std::string> alertMessages() const;
  // Picks image as if from the library and waits until it is the current
  // photo (it is prepared on a worker thread).
  void pick(const ImageRef& image);
  // Waits (bounded) until no photo is being opened.
  void waitForPhoto();
  // Chooses a filter the way a user does: opens the list, takes the row.
  void choose(const std::string& name);
  // Starts the selected filter and lets Qt's loop run until it has ended.
  void runToEnd();
  // Lets Qt's event loop run until done() holds (bounded).
  template <typename F>
  bool spinUntil(F done);
  bool spinUntilImpl(const std::function<bool()>& done);

  TempDir dir_;
  ScopedEnv documents_;
  ScopedEnv pictures_;
  ScopedEnv resources_;
  std::unique_ptr<Defaults> settings_;
  std::unique_ptr<RunLoopDriver> driver_;
  std::unique_ptr<GlowsnapViewController> vc_;
};

template <typename F>
bool ControllerTest::spinUntil(F done) {
  return spinUntilImpl(std::function<bool()>(done));
}

Rect frameOf(const QWidget* w);
bool sameRect(const Rect& a, const Rect& b);
std::string text(const QString& s);

}  // namespace glowsnap::test
