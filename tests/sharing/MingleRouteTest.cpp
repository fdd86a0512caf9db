// The Mingle row end to end in Qt WebEngine against a real glowsnap-services:
// the login page, the "photo_upload" permission page, "photos.upload" with
// the result (stored, shown on the user's page), the user query after the
// login, a saved session resumed by the next screen, and a second upload
// from a fresh screen.
#include <gtest/gtest.h>

#include <QPointer>
#include <filesystem>

#include "mingle/ui/DialogTestSupport.h"
#include "mingle/ui/MGLoginDialog.h"
#include "mingle/ui/MGPermissionDialog.h"
#include "support/PrivateKeyring.h"
#include "support/ServicesProcess.h"
#include "support/TestImages.h"
#include "tests/sharing/SharingSupport.h"

namespace glowsnap::test {
namespace {

namespace fs = std::filesystem;

std::size_t photosUnder(const fs::path& dir) {
  std::size_t n = 0;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) ++n;
  return n;
}

class MingleRoute : public SharingTest {
 protected:
  void SetUp() override {
    std::string why;
    if (!WebView::usesWebEngine()) GTEST_SKIP() << "this build has no Qt WebEngine";
    if (!PrivateKeyring::keyring(&why)) GTEST_SKIP() << why;
    server_ = std::make_unique<ServicesProcess>(GLOWSNAP_SERVICES_EXE);
    ASSERT_TRUE(server_->addStandardAccounts(why)) << why;
    ASSERT_TRUE(server_->start(why)) << why;
    AppSettings s(*settings_, &CredentialStorage::sharedCredentialStorage());
    ASSERT_TRUE(s.set(AppSettings::kMingleURL, server_->baseURL()).ok());
    ASSERT_TRUE(s.set(AppSettings::kMingleAPIKey, server_->apiKey).ok());
    ASSERT_TRUE(s.set(AppSettings::kMingleAPISecret, server_->secret).ok());
  }
  void TearDown() override { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  template <typename D>
  D* waitForDialog(const char* what) {
    D* found = nullptr;
    EXPECT_TRUE(waitUntil([&] {
      found = screen() ? dynamic_cast<D*>(screen()->mingle_dialog()) : nullptr;
      return found != nullptr;
    })) << "no "
        << what << " dialog";
    return found;
  }
  void allow() {
    auto* permission = waitForDialog<MGPermissionDialog>("permission");
    ASSERT_NE(permission, nullptr);
    EXPECT_EQ(permission->permission(), "photo_upload");
    ASSERT_TRUE(waitForElement(*permission, "#allow_button")) << "the permission page did not load";
    runScript(*permission, "document.getElementById('allow_button').click(); 1");
  }
  void waitForUpload(std::size_t photos) {
    ASSERT_TRUE(
        waitUntil([&] { return photosUnder(server_->dataDirectory() / "photos") == photos; }, 60))
        << server_->log();
    ASSERT_TRUE(waitUntil([&] { return AlertView::visibleAlerts().empty(); }))
        << "the alert stayed: " << (alertTitles().empty() ? "" : alertTitles().front());
  }

  std::unique_ptr<ServicesProcess> server_;
};

TEST_F(MingleRoute, LoginPermissionUploadThenTheSavedSessionAndASecondUpload) {
  makeResult(cornersImage(96, 64));
  saveAndUpload();
  ASSERT_NE(screen(), nullptr);
  EXPECT_EQ(MGSession::session(), screen()->session()) << "the screen's session is the shared one";
  EXPECT_FALSE(screen()->session()->isConnected());
  clickRow(0);
  auto* login = waitForDialog<MGLoginDialog>("login");
  ASSERT_NE(login, nullptr);
  EXPECT_EQ(dynamic_cast<MGPermissionDialog*>(login), nullptr);
  ASSERT_TRUE(waitForElement(*login, "#email")) << "the login page did not load";
  submitLogin(*login, server_->userName, server_->password);
  allow();
  // While the photo goes, the alert shows only the spinner.
  waitForUpload(1);
  EXPECT_TRUE(screen()->session()->isConnected());
  EXPECT_NE(server_->log().find("mingle.query"), std::string::npos) << "the user query after login";
  EXPECT_NE(server_->log().find("photos.upload"), std::string::npos);

  // The next screen resumes the saved session: straight to the permission.
  QTest::mouseClick(screen()->view()->findChild<QToolButton*>("btn_cancel"), Qt::LeftButton);
  ASSERT_TRUE(spinUntil([&] { return !vc().isSharing(); }));
  saveAndUpload();
  ASSERT_NE(screen(), nullptr);
  EXPECT_TRUE(screen()->session()->isConnected()) << "the saved session was not resumed";
  EXPECT_EQ(MGSession::session(), screen()->session());
  clickRow(0);
  allow();
  waitForUpload(2);
}

TEST_F(MingleRoute, CancellingThePermissionUploadsNothingAndTheScreenMayGoWithADialogUp) {
  makeResult(cornersImage(64, 48));
  saveAndUpload();
  clickRow(0);
  auto* login = waitForDialog<MGLoginDialog>("login");
  ASSERT_NE(login, nullptr);
  ASSERT_TRUE(waitForElement(*login, "#email"));
  submitLogin(*login, server_->userName, server_->password);
  auto* permission = waitForDialog<MGPermissionDialog>("permission");
  ASSERT_NE(permission, nullptr);
  ASSERT_TRUE(waitForElement(*permission, "#allow_button"));
  QPointer<MGDialog> guarded(permission);
  QTest::mouseClick(permission->closeButton(), Qt::LeftButton);
  ASSERT_TRUE(waitUntil([&] { return guarded.isNull(); }, 10));
  EXPECT_TRUE(alertTitles().empty());
  EXPECT_EQ(photosUnder(server_->dataDirectory() / "photos"), 0u);

  // A dialog still up when everything goes is closed first; nothing calls
  // back into the screen.
  clickRow(0);
  auto* again = waitForDialog<MGPermissionDialog>("permission");
  ASSERT_NE(again, nullptr);
  QPointer<MGDialog> open(again);
  app_.reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(waitUntil([&] { return open.isNull(); }, 10));
}

}  // namespace
}  // namespace glowsnap::test
