// What the dialogs' tests share: a window for the dialogs to appear over,
// recorders of what the delegates hear, and waits on the page with a
// deadline.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mingle/MingleTestEnvironment.h"
#include "mingle/ui/MGDialog.h"

#include <ostream>

// Texts of the page read in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace glowsnap::test {

struct DialogRecorder : MGDialogDelegate {
  int succeeded = 0;
  int cancelled = 0;
  std::vector<Error> errors;
  std::vector<QUrl> externalLinks;
  // What shouldOpenURLInExternalBrowser answers.
  bool openExternally = false;
  void dialogDidSucceed(MGDialog&) override { ++succeeded; }
  void dialogDidCancel(MGDialog&) override { ++cancelled; }
  void didFailWithError(MGDialog&, const Error& e) override { errors.push_back(e); }
  bool shouldOpenURLInExternalBrowser(MGDialog&, const QUrl& url) override {
    externalLinks.push_back(url);
    return openExternally;
  }
  int outcomes() const { return succeeded + cancelled + static_cast<int>(errors.size()); }
};

struct LoginRecorder : MGSessionDelegate {
  std::vector<std::uint64_t> logins;
  int logouts = 0;
  void didLogin(MGSession&, std::uint64_t uid) override { logins.push_back(uid); }
  void sessionDidLogout(MGSession&) override { ++logouts; }
};

// Serves Qt's events (and so the main RunLoop) until pred holds or seconds
// have passed; answers pred() at the end.
bool waitUntil(const std::function<bool()>& pred, double seconds = 30.0);
// Runs script in the dialog's page and answers its value as text.
QString runScript(MGDialog& dialog, const QString& script);
// Waits until the page holds an element matching selector.
bool waitForElement(MGDialog& dialog, const QString& selector, double seconds = 30.0);
// Fills the login form and presses "Log in" (events of the page's own).
void submitLogin(MGDialog& dialog, const std::string& name, const std::string& password);

// With GLOWSNAP_DIALOG_SCREENSHOTS set to a directory, saves what window
// shows there as name (for the README); nothing otherwise.
void saveScreenshot(QWidget& window, MGDialog& dialog, const QString& name);

// A running glowsnap-services with the standard accounts, the session on it,
// and a 320 × 480 window the dialogs appear over.
class DialogServerTest : public MingleServerTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<QWidget> window_;
};

}  // namespace glowsnap::test
