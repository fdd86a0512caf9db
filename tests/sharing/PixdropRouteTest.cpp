// The Natter row end to end against a real glowsnap-services: the photo
// arrives as the JPEG of quality 1.0 of the result, byte for byte, while the
// alert counts up; wrong, missing or unsafe credentials and refused uploads
// end in the right alert with nothing stored; the screen can go while an
// upload runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <regex>

#include "platform/graphics/ImageIO.h"
#include "platform/net/Bytes.h"
#include "support/ClosedPort.h"
#include "support/PrivateKeyring.h"
#include "support/ServicesProcess.h"
#include "support/TestImages.h"
#include "tests/sharing/SharingSupport.h"

namespace glowsnap::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> photosUnder(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(e.path());
  return out;
}

class PixdropRoute : public SharingTest {
 protected:
  void SetUp() override {
    std::string why;
    if (!PrivateKeyring::keyring(&why)) GTEST_SKIP() << why;
    server_ = std::make_unique<ServicesProcess>(GLOWSNAP_SERVICES_EXE);
    ASSERT_TRUE(server_->addStandardAccounts(why)) << why;
    ASSERT_TRUE(server_->start(why)) << why;
    account(server_->userName, server_->password);
    ASSERT_TRUE(settings().set(AppSettings::kNatterURL, server_->baseURL()).ok());
    ASSERT_TRUE(settings().set(AppSettings::kPixdropURL, server_->baseURL()).ok());
  }
  void TearDown() override {
    if (PrivateKeyring::keyringStarted()) (void)settings().unset(AppSettings::kNatterPassword);
  }

  AppSettings settings() {
    return AppSettings(*settings_, &CredentialStorage::sharedCredentialStorage());
  }
  void account(const std::string& name, const std::string& password) {
    ASSERT_TRUE(settings().set(AppSettings::kNatterUsername, name).ok());
    if (password.empty()) {
      ASSERT_TRUE(settings().unset(AppSettings::kNatterPassword).ok());
    } else {
      ASSERT_TRUE(settings().set(AppSettings::kNatterPassword, password).ok());
    }
  }
  fs::path photos() const { return server_->dataDirectory() / "photos"; }
  // Natter from the sharing screen; waits until the upload has ended.
  void shareThroughNatter() {
    saveAndUpload();
    ASSERT_NE(screen(), nullptr) << "no sharing screen";
    clickRow(1);
    ASSERT_TRUE(spinUntil([&] { return !screen()->isUploading(); })) << "the upload did not end";
  }

  std::unique_ptr<ServicesProcess> server_;
};

TEST_F(PixdropRoute, ThePhotoArrivesAsTheResultsJpegWhileTheAlertCountsUp) {
  makeResult(photoLikeImage(1400, 1000));
  saveAndUpload();
  ASSERT_NE(screen(), nullptr);
  clickRow(1);
  ASSERT_EQ(alertTitles(), std::vector<std::string>{"Uploading..."});
  ASSERT_TRUE(spinUntil([&] {
    return !screen()->isUploading() && AlertView::visibleAlerts().empty();
  })) << "the upload did not end; alerts: "
      << alertTitles().size();

  const auto stored = photosUnder(photos());
  ASSERT_EQ(stored.size(), 1u) << server_->log();
  auto expected = imageio::encodeJpeg(*vc().get_image_to_save(), 1.0f);
  ASSERT_TRUE(expected);
  EXPECT_TRUE(readFile(stored.front()) == stringFromBytes(*expected))
      << "the server holds something else than the result's JPEG at quality 1.0";
  EXPECT_EQ(screen()->image_length(), expected->size());

  const auto& texts = screen()->progress_texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts.back(), "Finishing upload...");
  const std::regex counted("([0-9]+) kb of ([0-9]+) kb");
  long last = -1;
  int counts = 0;
  for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(texts[i], m, counted)) << texts[i];
    EXPECT_EQ(std::stoul(m[2]), expected->size() / 1024);
    EXPECT_GE(std::stol(m[1]), last) << "counts up";
    last = std::stol(m[1]);
    ++counts;
  }
  EXPECT_GE(counts, 1) << "no byte count was shown";
  EXPECT_TRUE(alertTitles().empty()) << "a success ends silently";

  // The service took it as an upload.
  EXPECT_NE(server_->log().find("\"POST /api/upload\" 200"), std::string::npos) << server_->log();

  // A second upload from a fresh screen.
  QTest::mouseClick(screen()->view()->findChild<QToolButton*>("btn_cancel"), Qt::LeftButton);
  ASSERT_TRUE(spinUntil([&] { return !vc().isSharing(); }));
  shareThroughNatter();
  ASSERT_TRUE(spinUntil([&] { return AlertView::visibleAlerts().empty(); }));
  EXPECT_EQ(photosUnder(photos()).size(), 2u);
}

TEST_F(PixdropRoute, AWrongPasswordIsTheAuthorizationAlertAndNothingIsStored) {
  account("ann", "not the password");
  makeResult(cornersImage(64, 48));
  shareThroughNatter();
  ASSERT_TRUE(waitForAlert("Natter Authorization Failed")) << alertTitles().size();
  EXPECT_EQ(AlertView::visibleAlerts().front()->message(),
            "Please, specify correct natter username and password in application settings.");
  EXPECT_EQ(AlertView::visibleAlerts().front()->buttonTitles(),
            std::vector<std::string>{"Dismiss"});
  EXPECT_TRUE(photosUnder(photos()).empty());
  EXPECT_EQ(server_->log().find("/api/upload"), std::string::npos) << "no upload after a refusal";
}

TEST_F(PixdropRoute, WithoutAPasswordNothingIsSent) {
  account("ann", "");
  makeResult(cornersImage(64, 48));
  saveAndUpload();
  clickRow(1);
  ASSERT_EQ(alertTitles(), std::vector<std::string>{"Natter Authorization Failed"});
  EXPECT_FALSE(screen()->isUploading());
  EXPECT_EQ(server_->log().find("verify.xml"), std::string::npos) << server_->log();
}

TEST_F(PixdropRoute, ARefusedUploadOrAFailedCheckIsTheNetworkAlertNeverASuccess) {
  makeResult(cornersImage(64, 48));
  // The service answers the upload, but not with a success (404).
  ASSERT_TRUE(settings().set(AppSettings::kPixdropURL, server_->baseURL() + "/nowhere").ok());
  shareThroughNatter();
  ASSERT_TRUE(waitForAlert("Network Error")) << alertTitles().size();
  EXPECT_EQ(AlertView::visibleAlerts().front()->message(), "Please, try again later");
  EXPECT_TRUE(photosUnder(photos()).empty());
  clickPanelButton("Dismiss");

  // Nothing listens where the check goes: not a pass, and not a refusal.
  ASSERT_TRUE(settings().set(AppSettings::kPixdropURL, server_->baseURL()).ok());
  ASSERT_TRUE(settings().set(AppSettings::kNatterURL, closedLoopbackURL()).ok());
  clickRow(1);
  ASSERT_TRUE(spinUntil([&] { return !screen()->isUploading(); }));
  ASSERT_TRUE(waitForAlert("Network Error")) << alertTitles().size();
  EXPECT_TRUE(photosUnder(photos()).empty());
  clickPanelButton("Dismiss");

  // Plain http to another machine: the password is not sent at all.
  ASSERT_TRUE(settings().set(AppSettings::kNatterURL, "http://192.0.2.1:8420").ok());
  clickRow(1);
  EXPECT_FALSE(screen()->isUploading());
  ASSERT_EQ(alertTitles(), std::vector<std::string>{"Natter Authorization Failed"});
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("only over https"),
            std::string::npos);
}

TEST_F(PixdropRoute, TheScreenMayGoWhileAnUploadRuns) {
  makeResult(photoLikeImage(1400, 1000));
  saveAndUpload();
  clickRow(1);
  ASSERT_TRUE(screen()->isUploading());
  // The window, the controller and the screen go at once; nothing calls back.
  app_.reset();
  AlertView::closeAll();
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace
}  // namespace glowsnap::test
