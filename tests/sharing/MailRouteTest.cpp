// The Mail row end to end: the composer over the sharing screen with
// "image.jpg" (the result as JPEG of quality 0.7) attached; Send delivers to
// a real SMTP server on loopback, which receives the attachment byte for
// byte; without a mail server the message goes to the desktop's mail
// program (a stand-in xdg-email on PATH); a failure keeps the composer.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <fstream>

#include "app/MailComposeViewController.h"
#include "platform/graphics/ImageIO.h"
#include "platform/qt/ModalView.h"
#include "support/SMTPServer.h"
#include "support/TestImages.h"
#include "tests/mail/MailTestSupport.h"
#include "tests/sharing/SharingSupport.h"

namespace glowsnap::test {
namespace {

class MailRoute : public SharingTest {
 protected:
  MailComposeViewController* composer() { return vc().mail_composer(); }
  void openComposer() {
    makeResult(cornersImage(96, 64));
    saveAndUpload();
    ASSERT_NE(screen(), nullptr);
    clickRow(2);
    ASSERT_NE(composer(), nullptr) << "no composer";
    ASSERT_TRUE(ModalView::isPresented(composer()->view()));
    EXPECT_EQ(composer()->view()->parentWidget(), screen()->view());
  }
  Bytes expectedAttachment() { return *imageio::encodeJpeg(*vc().get_image_to_save(), 0.7f); }
  void waitClosed() {
    ASSERT_TRUE(spinUntil([&] { return composer() == nullptr; })) << "the composer stayed";
    EXPECT_TRUE(vc().isSharing()) << "the sharing screen is still there";
  }
};

TEST_F(MailRoute, SendDeliversTheAttachmentOverSMTP) {
  std::string why;
  if (!SMTPServer::available(&why)) GTEST_SKIP() << why;
  auto server = SMTPServer::start(&why);
  ASSERT_NE(server, nullptr) << why;
  AppSettings settings(*settings_, nullptr);
  ASSERT_TRUE(settings.set(AppSettings::kSMTPURL, server->url()).ok());
  ASSERT_TRUE(settings.set(AppSettings::kMailFrom, "ann@example.org").ok());
  openComposer();
  ASSERT_EQ(composer()->attachments().size(), 1u);
  const MailAttachment& a = composer()->attachments().front();
  EXPECT_EQ(a.fileName, "image.jpg");
  EXPECT_EQ(a.mimeType, "image/jpeg");
  EXPECT_EQ(a.data, expectedAttachment()) << "the attachment is the result at quality 0.7";
  EXPECT_EQ(text(composer()->attachmentLabel()->text()),
            "Attached: " + MailComposeViewController::attachmentText(a));
  EXPECT_TRUE(composer()->toField()->text().isEmpty());
  EXPECT_TRUE(composer()->subjectField()->text().isEmpty());

  // Send without a recipient: said, nothing sent, the composer stays.
  QTest::mouseClick(composer()->sendButton(), Qt::LeftButton);
  ASSERT_EQ(alertTitles(), std::vector<std::string>{"Mail Not Sent"});
  clickPanelButton("Ok");

  QTest::keyClicks(composer()->toField(), "bob@example.org");
  QTest::keyClicks(composer()->subjectField(), "My photo");
  QTest::keyClicks(composer()->bodyField(), "Made with Glowsnap.");
  QTest::mouseClick(composer()->sendButton(), Qt::LeftButton);
  waitClosed();
  auto got = server->messages();
  ASSERT_EQ(got.size(), 1u) << server->log();
  EXPECT_EQ(got[0].recipients, std::vector<std::string>{"bob@example.org"});
  EXPECT_EQ(attachmentNamed(got[0].data, "image.jpg"), expectedAttachment());
  EXPECT_NE(got[0].data.find("Subject: My photo\r\n"), std::string::npos);
  EXPECT_NE(got[0].data.find("Made with Glowsnap."), std::string::npos);
  EXPECT_TRUE(alertTitles().empty());
}

TEST_F(MailRoute, AFailedSendKeepsTheComposerAndWhatWasTyped) {
  AppSettings settings(*settings_, nullptr);
  ASSERT_TRUE(settings.set(AppSettings::kSMTPURL, "smtp://127.0.0.1:1").ok());
  openComposer();
  QTest::keyClicks(composer()->toField(), "bob@example.org");
  QTest::keyClicks(composer()->bodyField(), "Keep me.");
  QTest::mouseClick(composer()->sendButton(), Qt::LeftButton);
  ASSERT_TRUE(waitForAlert("Mail Not Sent"));
  EXPECT_NE(AlertView::visibleAlerts().front()->message().find("127.0.0.1:1"), std::string::npos)
      << AlertView::visibleAlerts().front()->message();
  ASSERT_NE(composer(), nullptr);
  EXPECT_EQ(text(composer()->bodyField()->toPlainText()), "Keep me.");
  EXPECT_TRUE(composer()->sendButton()->isEnabled());
  clickPanelButton("Ok");
  QTest::mouseClick(composer()->cancelButton(), Qt::LeftButton);
  waitClosed();
}

TEST_F(MailRoute, WithoutAMailServerTheDesktopsMailProgramGetsIt) {
  // A stand-in for xdg-email that keeps its arguments and the attachment.
  const auto bin = dir_.path() / "bin";
  std::filesystem::create_directories(bin);
  const auto record = dir_.path() / "xdg-email.args";
  const auto copy = dir_.path() / "attached.jpg";
  {
    std::ofstream script(bin / "xdg-email");
    script << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << record.string() << "'\n"
           << "while [ $# -gt 0 ]; do [ \"$1\" = --attach ] && cp \"$2\" '" << copy.string()
           << "'; shift; done\n";
  }
  std::filesystem::permissions(bin / "xdg-email", std::filesystem::perms::owner_all);
  ScopedEnv path("PATH", bin.string() + ":" + std::getenv("PATH"));
  ScopedEnv tmp("GLOWSNAP_TMPDIR", (dir_.path() / "tmp").string());
  openComposer();
  EXPECT_EQ(text(composer()->sendButton()->text()), "Open in Mail Program");
  EXPECT_NE(text(composer()->statusLabel()->text()).find("No mail server is set"),
            std::string::npos);
  QTest::keyClicks(composer()->toField(), "bob@example.org");
  QTest::keyClicks(composer()->subjectField(), "My photo");
  QTest::mouseClick(composer()->sendButton(), Qt::LeftButton);
  waitClosed();
  const std::string args = readFile(record);
  EXPECT_NE(args.find("--subject\nMy photo\n"), std::string::npos) << args;
  EXPECT_NE(args.find("--attach\n"), std::string::npos) << args;
  EXPECT_NE(args.find("image.jpg\nbob@example.org\n"), std::string::npos) << args;
  EXPECT_TRUE(readFile(copy) == stringFromBytes(expectedAttachment()));
}

}  // namespace
}  // namespace glowsnap::test
