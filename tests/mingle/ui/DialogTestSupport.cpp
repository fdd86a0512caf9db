#include "mingle/ui/DialogTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdlib>

namespace glowsnap::test {

bool waitUntil(const std::function<bool()>& pred, double seconds) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > seconds * 1000) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(10);
  }
  return true;
}

QString runScript(MGDialog& dialog, const QString& script) {
  return dialog.webView()->stringByEvaluatingJavaScriptFromString(script, 10000);
}

bool waitForElement(MGDialog& dialog, const QString& selector, double seconds) {
  const QString probe = QStringLiteral("document.querySelector('%1') ? 'yes' : 'no'").arg(selector);
  return waitUntil([&] { return runScript(dialog, probe) == QLatin1String("yes"); }, seconds);
}

void submitLogin(MGDialog& dialog, const std::string& name, const std::string& password) {
  const QString script = QStringLiteral(
                             "document.getElementById('email').value = %1;"
                             "document.getElementById('pass').value = %2;"
                             "document.getElementById('login_button').click(); 'sent'")
                             .arg(QStringLiteral("'%1'").arg(QString::fromStdString(name)),
                                  QStringLiteral("'%1'").arg(QString::fromStdString(password)));
  runScript(dialog, script);
}

void saveScreenshot(QWidget& window, MGDialog& dialog, const QString& name) {
  const char* dir = std::getenv("GLOWSNAP_DIALOG_SCREENSHOTS");
  if (!dir || !*dir) return;
  // The page is drawn once it has loaded and the engine has painted it.
  waitUntil([&] { return !dialog.webView()->isLoading(); }, 10);
  QTest::qWait(800);
  const QString path = QString::fromUtf8(dir) + "/" + name;
  EXPECT_TRUE(window.grab().save(path)) << "cannot write " << path.toStdString();
}

void DialogServerTest::SetUp() {
  MingleServerTest::SetUp();
  if (HasFatalFailure()) return;
  if (!WebView::usesWebEngine()) GTEST_SKIP() << "this build has no Qt WebEngine";
  window_ = std::make_unique<QWidget>();
  window_->resize(320, 480);
  QPalette dark = window_->palette();
  dark.setColor(QPalette::Window, QColor(0x1b, 0x1b, 0x1b));
  window_->setPalette(dark);
  window_->setAutoFillBackground(true);
  window_->show();
  MGDialog::setDefaultHost(window_.get());
}

void DialogServerTest::TearDown() {
  MGDialog::setDefaultHost(nullptr);
  // Dialogs that closed go now, before the window they lay over.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  window_.reset();
  MingleServerTest::TearDown();
}

}  // namespace glowsnap::test
