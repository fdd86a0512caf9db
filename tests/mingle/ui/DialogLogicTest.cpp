// What the dialogs make of URLs and answers, and the login button's
// pictures: no page is loaded, so no browser engine starts.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "mingle/ui/MGDialog.h"
#include "mingle/ui/MGFeedDialog.h"
#include "mingle/ui/MGLoginButton.h"
#include "mingle/ui/MGLoginDialog.h"
#include "platform/foundation/Defaults.h"
#include "platform/qt/ScreenView.h"
#include "services/ConnectPages.h"

namespace glowsnap::test {
namespace {

TEST(MGLoginDialogToken, IsTheExactParameterPercentDecoded) {
  auto token = [](const char* url) { return MGLoginDialog::authTokenFromURL(QUrl(url)); };
  EXPECT_EQ(token("minglekit://success?auth_token=abc"), "abc");
  EXPECT_EQ(token("minglekit://success?x=1&auth_token=abc&y=2"), "abc");
  EXPECT_EQ(token("minglekit:success?auth_token=a%2Bb%26c%3D"), "a+b&c=");
  EXPECT_EQ(token("minglekit://success?xauth_token=abc"), std::nullopt) << "another name";
  EXPECT_EQ(token("minglekit://success?xauth_token=abc&auth_token=def"), "def");
  EXPECT_EQ(token("minglekit://success?auth_token="), std::nullopt);
  EXPECT_EQ(token("minglekit://success"), std::nullopt);
  EXPECT_EQ(token("minglekit://success#auth_token=abc"), std::nullopt) << "not in the query";
}

MGValue answer(std::initializer_list<std::pair<const char*, const char*>> entries) {
  MGDictionary d;
  for (const auto& [k, v] : entries) d.set(k, MGValue(v));
  return MGValue(d);
}

TEST(MGLoginDialogAnswer, IsReadExactlyOrRefused) {
  auto good = MGLoginDialog::sessionFromAnswer(answer({{"uid", "9007199254740993"},
                                                       {"session_key", "k"},
                                                       {"secret", "s"},
                                                       {"expires", "4102444801"}}));
  ASSERT_TRUE(good) << good.error().description;
  EXPECT_EQ(good->uid, 9007199254740993u) << "all 64 bits of the user id";
  EXPECT_EQ(good->sessionKey, "k");
  EXPECT_EQ(good->secret, "s");
  ASSERT_TRUE(good->expires);
  EXPECT_EQ(good->expires->time_since_epoch().count(), 4102444801)
      << "the expiry to the second, past 2038 (a float would round it)";

  auto noExpiry = MGLoginDialog::sessionFromAnswer(
      answer({{"uid", "5"}, {"session_key", "k"}, {"expires", "0"}}));
  ASSERT_TRUE(noExpiry);
  EXPECT_FALSE(noExpiry->expires) << "0 is no expiry";
  EXPECT_FALSE(noExpiry->secret);

  for (const MGValue& bad : {
           answer({{"session_key", "k"}}),
           answer({{"uid", "0"}, {"session_key", "k"}}),
           answer({{"uid", "-3"}, {"session_key", "k"}}),
           answer({{"uid", "12x"}, {"session_key", "k"}}),
           answer({{"uid", "5"}}),
           answer({{"uid", "5"}, {"session_key", ""}}),
           answer({{"uid", "5"}, {"session_key", "k"}, {"expires", "1.7e9"}}),
           answer({{"uid", "5"}, {"session_key", "k"}, {"expires", "soon"}}),
           MGValue("just text"),
           MGValue(MGList{answer({{"uid", "5"}, {"session_key", "k"}})}),
       }) {
    auto read = MGLoginDialog::sessionFromAnswer(bad);
    ASSERT_FALSE(read) << bad.description();
    EXPECT_EQ(read.error().domain, kMGErrorDomain);
    EXPECT_EQ(read.error().code, kMGInvalidAnswerError);
  }
}

TEST(MGFeedDialogInfo, MembersInOrderAndTheBodyEscaped) {
  MGFeedDialog feed(nullptr);
  EXPECT_EQ(feed.generateFeedInfo(), "{}");
  feed.setBodyGeneral(std::string("say \"hi\"\\\n\t\x01 ünï"));
  EXPECT_EQ(feed.generateFeedInfo(), "{\"body_general\": \"say \\\"hi\\\"\\\\\\n\\t\\u0001 ünï\"}");
  feed.setTemplateBundleId(4294967297);
  feed.setTemplateData(std::string("{\"images\": [1]}"));
  feed.setBodyGeneral(std::string("b"));
  EXPECT_EQ(feed.generateFeedInfo(),
            "{\"template_id\": 4294967297,\"template_data\": {\"images\": [1]},"
            "\"body_general\": \"b\"}");
}

TEST(MGDialogRequests, URLsBodiesAndTheSite) {
  EXPECT_EQ(MGDialog::generateURL("http://h/login", {}), "http://h/login");
  EXPECT_EQ(MGDialog::generateURL("http://h/login",
                                  {{"next", "minglekit://success"}, {"api_key", "a b&c=ü"}}),
            "http://h/login?next=minglekit%3A%2F%2Fsuccess&api_key=a%20b%26c%3D%C3%BC");

  auto body = MGDialog::generatePostBody({{"display", "touch"}});
  ASSERT_TRUE(body);
  const std::string boundary = MGDialog::kStringBoundary;
  EXPECT_EQ(std::string(body->begin(), body->end()),
            "--" + boundary +
                "\r\nContent-Disposition: form-data; name=\"display\"\r\n\r\ntouch\r\n--" +
                boundary + "\r\n");
  EXPECT_FALSE(MGDialog::generatePostBody({{"x", "a\r\n--" + boundary + "\r\n"}}))
      << "a value holding the boundary line";
  EXPECT_TRUE(MGDialog::generatePostBody({})->empty());

  const std::string site = "http://127.0.0.1:8420";
  EXPECT_TRUE(MGDialog::isSiteURL(QUrl("http://127.0.0.1:8420/login?x=1"), site));
  EXPECT_FALSE(MGDialog::isSiteURL(QUrl("http://127.0.0.1:8421/login"), site)) << "port";
  EXPECT_FALSE(MGDialog::isSiteURL(QUrl("https://127.0.0.1:8420/login"), site)) << "scheme";
  EXPECT_FALSE(MGDialog::isSiteURL(QUrl("http://localhost:8420/login"), site)) << "host";
  EXPECT_FALSE(MGDialog::isSiteURL(QUrl("http://127.0.0.1.evil.example:8420/"), site));
  EXPECT_FALSE(MGDialog::isSiteURL(QUrl(), site));
  EXPECT_TRUE(
      MGDialog::isSiteURL(QUrl("https://Mingle.example.org/x"), "https://mingle.example.org"));
}

TEST(ConnectPagesOutcome, StaysWithTheClientOrTheSite) {
  using services::ConnectPages;
  EXPECT_EQ(ConnectPages::outcomeURL("minglekit://success"), "minglekit://success");
  EXPECT_EQ(ConnectPages::outcomeURL("/users/ann"), "/users/ann");
  for (const char* elsewhere : {"https://evil.example/", "//evil.example/", "/\\evil.example",
                                "javascript:alert(1)", "", "MINGLEKIT:x"})
    EXPECT_FALSE(ConnectPages::outcomeURL(elsewhere)) << elsewhere;
  EXPECT_EQ(ConnectPages::withQueryParameter("minglekit://success", "auth_token", "a&b"),
            "minglekit://success?auth_token=a%26b");
  EXPECT_EQ(ConnectPages::withQueryParameter("minglekit:x?y=1#f", "auth_token", "t"),
            "minglekit:x?y=1&auth_token=t#f");
}

TEST(MGDialogLayout, FillsTheWindowAndRotatesOnlyWhenItShould) {
  QWidget window;
  window.resize(320, 480);
  window.show();
  auto* dialog = new MGDialog(nullptr);
  dialog->setParent(&window);
  // Laid out as show() lays it out, without loading a page.
  dialog->setGeometry(10, 10, 300, 460);
  dialog->QWidget::show();
  EXPECT_EQ(dialog->webView()->geometry().x(), 11);
  EXPECT_EQ(dialog->webView()->geometry().width(), 300 - 22);
  EXPECT_EQ(dialog->webView()->geometry().bottom() + 1, 460 - 11)
      << "the page ends 11 points above the dialog's bottom";
  EXPECT_EQ(dialog->closeButton()->geometry().right() + 1, 300 - 10);
  EXPECT_EQ(dialog->title(), MGDialog::kDefaultTitle);

  MGDialog::setStatusBarOrientation(1);
  dialog->deviceOrientationDidChange(1);
  const QRect before = dialog->geometry();
  dialog->keyboardWillShow();
  dialog->deviceOrientationDidChange(3);
  EXPECT_EQ(dialog->orientation(), 1) << "no relayout while the keyboard is up";
  EXPECT_EQ(dialog->geometry(), before);
  dialog->keyboardWillHide();
  MGDialog::setStatusBarOrientation(1);
}

TEST(MGDialogLayout, OverAScaledScreenLiesOnTheDesktopWindow) {
  auto* screen = new QWidget;
  screen->resize(320, 480);
  ScreenView view(screen);
  view.resize(640, 960);
  view.show();
  QCoreApplication::processEvents();
  MGDialog::setDefaultHost(screen);
  struct Heard : MGDialogDelegate {
    int cancelled = 0;
    void dialogDidCancel(MGDialog&) override { ++cancelled; }
  } heard;
  QPointer<MGDialog> dialog = new MGDialog(nullptr);
  dialog->setDelegate(&heard);
  dialog->show();
  EXPECT_EQ(dialog->parentWidget(), view.window()) << "not inside the graphics scene";
  const QRect shown = view.screenRect();
  EXPECT_EQ(dialog->geometry(), shown.adjusted(10, 10, -10, -10));
  QTest::keyClick(dialog, Qt::Key_Escape);
  EXPECT_EQ(heard.cancelled, 1);
  MGDialog::setDefaultHost(nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(dialog.isNull()) << "a closed dialog goes";
}

TEST(MGLoginButtonImages, FollowTheSessionAndTheStyle) {
  auto session = MGSession::initWithKey("key", std::string("secret"), std::nullopt);
  MGLoginButton button;
  button.setSession(session);
  EXPECT_EQ(button.buttonImage(), "MingleKit.bundle/images/login.png");
  EXPECT_EQ(button.buttonHighlightedImage(), "MingleKit.bundle/images/login_down.png");
  EXPECT_FALSE(button.sizeThatFits().isEmpty()) << "the picture is in the resources";
  button.setStyle(MGLoginButton::Wide);
  EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/login2.png");
  button.setStyle(7);
  EXPECT_EQ(button.currentImageName(), "");
  button.setStyle(MGLoginButton::Normal);

  // The session's news changes the picture.
  session->begin(42, std::string("key-of-42"), std::string("s"), std::nullopt);
  session->resume();
  EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/logout.png");
  EXPECT_EQ(button.buttonHighlightedImage(), "MingleKit.bundle/images/logout_down.png");
  session->logout();
  EXPECT_EQ(button.currentImageName(), "MingleKit.bundle/images/login.png");

  // Another session: the button leaves the old one's delegates.
  auto other = MGSession::initWithKey("key2", std::string("secret"), std::nullopt);
  button.setSession(other);
  EXPECT_EQ(std::count(session->delegates().begin(), session->delegates().end(),
                       static_cast<MGSessionDelegate*>(&button)),
            0);
  EXPECT_EQ(other->delegates().size(), 1u);
}

}  // namespace
}  // namespace glowsnap::test
