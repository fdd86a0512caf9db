// The dialogs against a real glowsnap-services, in Qt WebEngine offscreen.
// Each test starts one browser engine, so related cases share a test.
#include <QPushButton>
#include <QTest>

#include "mingle/ui/DialogTestSupport.h"
#include "mingle/ui/MGFeedDialog.h"
#include "mingle/ui/MGLoginButton.h"
#include "mingle/ui/MGLoginDialog.h"
#include "mingle/ui/MGPermissionDialog.h"
#include "platform/foundation/Defaults.h"
#include "platform/qt/Application.h"
#include "services/ServiceStore.h"
#include "support/ClosedPort.h"
#include "support/LoopbackServer.h"

namespace glowsnap::test {
namespace {

using services::ServiceStore;

class Dialogs : public DialogServerTest {
 protected:
  void SetUp() override {
    DialogServerTest::SetUp();
    Application::setURLOpener([this](const QUrl& url) {
      opened.push_back(url);
      return true;
    });
  }
  void TearDown() override {
    Application::setURLOpener(nullptr);
    DialogServerTest::TearDown();
  }

  // The user's id in the server's store.
  std::int64_t annId() {
    auto store = ServiceStore::open(server_->dataDirectory());
    EXPECT_TRUE(store);
    auto user = (*store)->userNamed(server_->userName);
    return user ? user->id : 0;
  }

  std::vector<QUrl> opened;
};

TEST_F(Dialogs, LoginThroughTheRealPageWithCancelWrongPasswordAndTheButton) {
  LoginRecorder logins;
  session_->addDelegate(&logins);
  MGLoginButton button(window_.get());
  button.setSession(session_);
  button.move(85, 400);
  button.show();
  EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/login.png");

  // The close button cancels.
  {
    DialogRecorder heard;
    QPointer<MGLoginDialog> dialog = new MGLoginDialog(session_);
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#email")) << "the login page did not load";
    EXPECT_TRUE(waitUntil([&] { return dialog->title() == "Log in to Mingle"; }, 10))
        << "the title comes from the page: " << dialog->title().toStdString();
    QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);
    EXPECT_EQ(heard.cancelled, 1);
    EXPECT_EQ(heard.outcomes(), 1);
    ASSERT_TRUE(waitUntil([&] { return dialog.isNull(); }, 10)) << "a closed dialog goes";
  }

  // A wrong password keeps the dialog on the page with the site's message;
  // the page's own Cancel (a redirect to minglekit:cancel) is a cancel.
  {
    DialogRecorder heard;
    QPointer<MGLoginDialog> dialog = new MGLoginDialog(session_);
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#email"));
    submitLogin(*dialog, server_->userName, "wrong horse");
    ASSERT_TRUE(waitForElement(*dialog, "#error")) << "no message for a wrong password";
    saveScreenshot(*window_, *dialog, "mingle-login.png");
    EXPECT_EQ(runScript(*dialog, "document.getElementById('error').textContent"),
              "The user name or the password is wrong.");
    EXPECT_EQ(heard.outcomes(), 0);
    EXPECT_TRUE(dialog->isShowing());
    EXPECT_FALSE(session_->isConnected());
    runScript(*dialog, "document.getElementById('cancel_button').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; })) << "Cancel was not heard";
    EXPECT_EQ(heard.cancelled, 1);
    EXPECT_TRUE(heard.errors.empty()) << heard.errors[0].description;
    ASSERT_TRUE(waitUntil([&] { return dialog.isNull(); }, 10));
  }

  // The button shows a login dialog; the right password starts the session.
  {
    QTest::mouseClick(&button, Qt::LeftButton);
    MGLoginDialog* dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] {
      dialog = window_->findChild<MGLoginDialog*>();
      return dialog != nullptr;
    }));
    QPointer<MGLoginDialog> shown(dialog);
    ASSERT_TRUE(waitForElement(*dialog, "#email"));
    submitLogin(*dialog, server_->userName, server_->password);
    ASSERT_TRUE(waitUntil([&] { return session_->isConnected(); })) << "no session started";
    ASSERT_EQ(logins.logins.size(), 1u);
    EXPECT_EQ(logins.logins[0], static_cast<std::uint64_t>(annId()));
    EXPECT_EQ(session_->uid(), static_cast<std::uint64_t>(annId()));
    ASSERT_TRUE(session_->sessionSecret());
    ASSERT_TRUE(session_->expirationDate()) << "the server's sessions expire";
    EXPECT_GT(*session_->expirationDate(), std::chrono::system_clock::now());
    EXPECT_EQ(Defaults::standard().stringForKey(MGSession::kSessionKeyKey).value_or(""),
              *session_->sessionKey())
        << "the session is saved";
    EXPECT_TRUE(waitUntil([&] { return shown.isNull(); }, 10));
    EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/logout.png");
  }

  // The server knows the session: a signed call on it works.
  {
    struct Calls : MGRequestDelegate {
      std::optional<MGValue> result;
      std::optional<Error> error;
      void didLoad(MGRequest&, const MGValue& r) override { result = r; }
      void didFailWithError(MGRequest&, const Error& e) override { error = e; }
    } calls;
    auto request = MGRequest::requestWithSession(session_, &calls);
    request->call("mingle.query",
                  {{"query", "select name from user where uid == " + std::to_string(annId())}});
    ASSERT_TRUE(waitUntil([&] { return calls.result || calls.error; }));
    ASSERT_TRUE(calls.result) << calls.error->description;
  }

  // Pressed, the button shows its pressed picture; the click logs out.
  QTest::mousePress(&button, Qt::LeftButton);
  EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/logout_down.png");
  QTest::mouseRelease(&button, Qt::LeftButton);
  EXPECT_FALSE(session_->isConnected());
  EXPECT_EQ(logins.logouts, 1);
  EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/login.png");
  button.setStyle(MGLoginButton::Wide);
  EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/login2.png");

  // The site's own login went with the session: the next dialog asks for
  // the password again instead of offering to continue as ann.
  {
    QTest::mouseClick(&button, Qt::LeftButton);
    MGLoginDialog* dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] {
      dialog = window_->findChild<MGLoginDialog*>();
      return dialog != nullptr;
    }));
    ASSERT_TRUE(waitUntil([&] {
      return runScript(*dialog,
                       "document.querySelector('#email, #continue_button') ? "
                       "document.querySelector('#email, #continue_button').id : ''") != "";
    }));
    EXPECT_EQ(runScript(*dialog, "document.querySelector('#email, #continue_button').id"), "email");
    dialog->cancel();
  }
  session_->removeDelegate(&logins);
}

TEST_F(Dialogs, PermissionGrantedAndRefusedAndAStoryPosted) {
  ASSERT_TRUE(logIn(*session_));
  ASSERT_EQ(server_->run({"revoke", server_->userName, "photo_upload"}).status, 0);
  auto store = ServiceStore::open(server_->dataDirectory());
  ASSERT_TRUE(store);
  auto app = (*store)->applicationWithKey(server_->apiKey);
  ASSERT_TRUE(app);
  const std::int64_t uid = annId();

  {
    DialogRecorder heard;
    auto* dialog = new MGPermissionDialog(session_);
    dialog->setPermission("photo_upload");
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#allow_button")) << "the permission page did not load";
    EXPECT_NE(runScript(*dialog, "document.body.textContent").indexOf("upload photos"), -1);
    saveScreenshot(*window_, *dialog, "mingle-permission.png");
    runScript(*dialog, "document.getElementById('allow_button').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; })) << "Allow was not heard";
    EXPECT_EQ(heard.succeeded, 1);
    EXPECT_TRUE((*store)->hasPermission(uid, app->id, "photo_upload"));
  }
  {
    DialogRecorder heard;
    auto* dialog = new MGPermissionDialog(session_);
    dialog->setPermission("photo_upload");
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#deny_button"));
    runScript(*dialog, "document.getElementById('deny_button').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; }));
    EXPECT_EQ(heard.cancelled, 1);
    EXPECT_FALSE((*store)->hasPermission(uid, app->id, "photo_upload")) << "the refusal is kept";
  }

  // "offline_access" granted goes on to the login page in the same dialog,
  // and the login there ends it with a new session.
  {
    DialogRecorder heard;
    const std::string before = *session_->sessionKey();
    QPointer<MGPermissionDialog> dialog = new MGPermissionDialog(session_);
    dialog->setPermission("offline_access");
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#allow_button"));
    runScript(*dialog, "document.getElementById('allow_button').click(); 1");
    ASSERT_TRUE(waitForElement(*dialog, "#email")) << "no login page after the grant";
    EXPECT_EQ(heard.outcomes(), 0);
    EXPECT_TRUE((*store)->hasPermission(uid, app->id, "offline_access"));
    submitLogin(*dialog, server_->userName, server_->password);
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; }));
    EXPECT_EQ(heard.succeeded, 1);
    ASSERT_TRUE(session_->sessionKey());
    EXPECT_NE(*session_->sessionKey(), before) << "the login's session was not taken";
  }

  // A story with quotes, a line break and markup reaches the user's page
  // as it was written.
  const std::string story = "Glowing \"HDR\" <b>sunset</b>\nsecond line \\ end";
  {
    DialogRecorder heard;
    auto* dialog = new MGFeedDialog(session_);
    dialog->setBodyGeneral(story);
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#post_button")) << "the feed page did not load";
    EXPECT_EQ(runScript(*dialog, "document.getElementById('story').textContent"),
              QString::fromStdString(story));
    saveScreenshot(*window_, *dialog, "mingle-feed.png");
    runScript(*dialog, "document.getElementById('post_button').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; }));
    EXPECT_EQ(heard.succeeded, 1);
  }
  auto stories = (*store)->storiesOf(uid);
  ASSERT_EQ(stories.size(), 1u);
  EXPECT_EQ(stories[0].body, story);
  {
    // Shown on the user's page.
    DialogRecorder heard;
    auto* page = new MGDialog(session_);
    page->setDelegate(&heard);
    page->show();
    page->webView()->loadRequest({QUrl(QString::fromStdString(server_->baseURL() + "/users/ann"))});
    ASSERT_TRUE(waitForElement(*page, "article.story"));
    EXPECT_TRUE(runScript(*page, "document.querySelector('article.story').textContent")
                    .startsWith(QString::fromStdString(story)));
    page->cancel();
  }
}

// A login dialog whose page is on the same server under another name
// ("localhost" instead of the configured 127.0.0.1): another site.
class ElsewhereLoginDialog : public MGLoginDialog {
 public:
  ElsewhereLoginDialog(std::shared_ptr<MGSession> session, std::string url)
      : MGLoginDialog(std::move(session)), url_(std::move(url)) {}
  void load() override {
    WebView::setCookie("test_cookie", "1", "localhost");
    loadURL(url_ + kLoginURL, "GET",
            {{"api_key", session()->apiKey()}, {"next", "minglekit://success"}}, {});
  }

 private:
  std::string url_;
};

TEST_F(Dialogs, FailuresForgeriesLinksAndTheSessionProxy) {
  // A page that cannot load closes the dialog with the engine's error.
  {
    auto dead = MGSession::initWithKey(server_->apiKey, server_->secret, std::nullopt);
    MGServerConfiguration configuration;
    ASSERT_TRUE(MGServerConfiguration::forServer(closedLoopbackURL(), configuration));
    dead->setServerConfiguration(configuration);
    DialogRecorder heard;
    auto* dialog = new MGLoginDialog(dead);
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; })) << "no failure reported";
    ASSERT_EQ(heard.errors.size(), 1u);
    EXPECT_EQ(heard.errors[0].domain, kWebViewConnectionErrorDomain);
    EXPECT_NE(heard.errors[0].code, 0);
  }

  // Plain http to another machine is refused before anything is sent.
  {
    auto remote = MGSession::initWithKey(server_->apiKey, server_->secret, std::nullopt);
    MGServerConfiguration configuration;
    ASSERT_TRUE(MGServerConfiguration::forServer("http://192.0.2.1:8420", configuration));
    remote->setServerConfiguration(configuration);
    DialogRecorder heard;
    auto* dialog = new MGLoginDialog(remote);
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; }));
    ASSERT_EQ(heard.errors.size(), 1u);
    EXPECT_EQ(heard.errors[0].domain, kMGErrorDomain);
    EXPECT_EQ(heard.errors[0].code, kMGInsecureTransportError);
    EXPECT_NE(heard.errors[0].description.find("192.0.2.1"), std::string::npos);
  }

  // Another site's page cannot make the dialog succeed or hand it a token:
  // the outcome navigation is caught (never loaded) and ignored.
  {
    DialogRecorder heard;
    std::string elsewhere = "http://localhost:" + std::to_string(server_->port());
    QPointer<ElsewhereLoginDialog> dialog = new ElsewhereLoginDialog(session_, elsewhere);
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#email"));
    submitLogin(*dialog, server_->userName, server_->password);
    // The login takes place and its token is issued; the page then goes on
    // to minglekit://success?auth_token=…, which must change nothing.
    auto store = ServiceStore::open(server_->dataDirectory());
    ASSERT_TRUE(store);
    auto count = [&](const char* sql) {
      return (*store)->withDatabase([&](services::Database& db) {
        auto s = db.prepare(sql);
        return s && s->step() ? s->integer(0) : -1;
      });
    };
    ASSERT_TRUE(waitUntil([&] { return count("SELECT COUNT(*) FROM site_logins") == 1; }, 15))
        << "the page's login did not happen: "
        << runScript(*dialog, "document.body.textContent").toStdString();
    ASSERT_TRUE(waitUntil([&] { return !dialog->webView()->isLoading(); }, 10));
    QTest::qWait(500);
    EXPECT_EQ(count("SELECT COUNT(*) FROM auth_tokens"), 1) << "the token was spent";
    EXPECT_EQ(heard.outcomes(), 0);
    EXPECT_FALSE(dialog->getSessionRequest()) << "a forged token was exchanged";
    EXPECT_FALSE(session_->isConnected());
    EXPECT_TRUE(dialog->isShowing());

    // A link the user clicks goes to the browser outside (the delegate
    // says no here), and the page stays.
    const QString before = runScript(*dialog, "location.href");
    runScript(*dialog, "document.querySelector('a.brand').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return !heard.externalLinks.empty(); }, 10));
    EXPECT_EQ(heard.externalLinks[0].path(), "/");
    EXPECT_TRUE(opened.empty()) << "the delegate kept it from the browser";
    EXPECT_EQ(runScript(*dialog, "location.href"), before);
    heard.openExternally = true;
    runScript(*dialog, "document.querySelector('a.brand').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return !opened.empty(); }, 10)) << "not sent to the browser";
    EXPECT_EQ(opened[0].path(), "/");
    EXPECT_EQ(runScript(*dialog, "location.href"), before) << "the dialog stays where it was";
    dialog->cancel();
  }

  // A session with a proxy and no secret: the proxy is asked (with
  // "generate_session_secret"), and an answer without a user id fails the
  // login instead of starting a session.
  {
    LoopbackServer proxy([](const RawRequest&, ServerConnection& c) {
      c.respond(200,
                "<?xml version=\"1.0\"?><mingle_auth_getSession_response>"
                "<session_key>k</session_key><expires>0</expires>"
                "</mingle_auth_getSession_response>",
                {{"Content-Type", "text/xml"}});
    });
    auto proxied = MGSession::sessionForApplication(
        server_->apiKey, MGSession::GetSessionProxy{proxy.url("/session")}, nullptr);
    proxied->setServerConfiguration(session_->serverConfiguration());
    DialogRecorder heard;
    auto* dialog = new MGLoginDialog(proxied);
    dialog->setDelegate(&heard);
    dialog->show();
    ASSERT_TRUE(waitForElement(*dialog, "#email"));
    submitLogin(*dialog, server_->userName, server_->password);
    ASSERT_TRUE(waitUntil([&] { return heard.outcomes() > 0; }));
    ASSERT_EQ(heard.errors.size(), 1u) << "a session without a user id was accepted";
    EXPECT_EQ(heard.errors[0].code, kMGInvalidAnswerError);
    EXPECT_FALSE(proxied->isConnected());
    ASSERT_EQ(proxy.requestCount(), 1u);
    const std::string target = proxy.requests()[0].target;
    EXPECT_NE(target.find("generate_session_secret=1"), std::string::npos) << target;
    EXPECT_NE(target.find("auth_token="), std::string::npos) << target;
  }
}

}  // namespace
}  // namespace glowsnap::test
