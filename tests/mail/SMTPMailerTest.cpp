// Delivery over SMTP to a real server on loopback (aiosmtpd): the message
// and its attachment arrive byte for byte; logging in, a refused password,
// a server that is not there and a cancelled send.
#include <gtest/gtest.h>

#include "mail/SMTPMailer.h"
#include "support/ClosedPort.h"
#include "support/SMTPServer.h"
#include "tests/mail/MailTestSupport.h"

namespace glowsnap {
namespace {

MailMessage photoMail(std::size_t size) {
  MailMessage m;
  m.to = {"bob@example.org"};
  m.subject = "A photo";
  m.body = "Here it is.\n.\nA line of a dot alone, too.";
  Bytes jpeg(size);
  for (std::size_t i = 0; i < size; ++i) jpeg[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 8));
  m.attachments.push_back({jpeg, "image/jpeg", "image.jpg"});
  return m;
}

TEST(SMTPMailer, TheMessageAndItsAttachmentArriveByteForByte) {
  std::string why;
  if (!test::SMTPServer::available(&why)) GTEST_SKIP() << why;
  auto server = test::SMTPServer::start(&why);
  ASSERT_NE(server, nullptr) << why;
  MailMessage m = photoMail(300000);
  std::uint64_t lastSent = 0, total = 0;
  Status sent = SMTPMailer::send({server->url(), std::nullopt, std::nullopt, "ann@example.org"}, m,
                                 nullptr, [&](std::uint64_t s, std::uint64_t t) {
                                   EXPECT_GE(s, lastSent);
                                   lastSent = s;
                                   total = t;
                                 });
  ASSERT_TRUE(sent) << sent.error().description << "\n" << server->log();
  EXPECT_EQ(lastSent, total);
  auto got = server->messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].mailFrom, "ann@example.org");
  EXPECT_EQ(got[0].recipients, std::vector<std::string>{"bob@example.org"});
  EXPECT_EQ(test::attachmentNamed(got[0].data, "image.jpg"), m.attachments[0].data);
  EXPECT_NE(got[0].data.find("\r\n.\r\nA line of a dot"), std::string::npos)
      << "a line holding one dot arrives as it was written";
  EXPECT_NE(got[0].data.find("From: ann@example.org\r\n"), std::string::npos);
}

TEST(SMTPMailer, LogsInAndIsRefusedWithAWrongPassword) {
  std::string why;
  if (!test::SMTPServer::available(&why)) GTEST_SKIP() << why;
  auto server = test::SMTPServer::start(&why, "ann", "s3cret pass");
  ASSERT_NE(server, nullptr) << why;
  MailMessage m = photoMail(2000);
  Status wrong = SMTPMailer::send({server->url(), "ann", "wrong", "ann@example.org"}, m);
  ASSERT_FALSE(wrong);
  EXPECT_EQ(wrong.error().code, kMailSendFailed);
  EXPECT_NE(wrong.error().description.find("127.0.0.1:" + std::to_string(server->port())),
            std::string::npos)
      << wrong.error().description;
  EXPECT_EQ(wrong.error().description.find("wrong"), std::string::npos) << "no password in it";
  EXPECT_TRUE(server->messages().empty());
  Status without =
      SMTPMailer::send({server->url(), std::nullopt, std::nullopt, "ann@example.org"}, m);
  EXPECT_FALSE(without) << "the server wants a log-in";

  Status right = SMTPMailer::send({server->url(), "ann", "s3cret pass", "ann@example.org"}, m);
  ASSERT_TRUE(right) << right.error().description << "\n" << server->log();
  ASSERT_EQ(server->messages().size(), 1u);
}

TEST(SMTPMailer, BadSettingsAndNoServerAreClearErrors) {
  MailMessage m = photoMail(10);
  Status closed = SMTPMailer::send(
      {"smtp://127.0.0.1:" + std::to_string(test::closedLoopbackPort()), {}, {}, "a@b.example"}, m);
  ASSERT_FALSE(closed);
  EXPECT_EQ(closed.error().code, kMailSendFailed);
  EXPECT_EQ(SMTPMailer::send({"http://mail.example.org", {}, {}, "a@b.example"}, m).error().code,
            kMailInvalidConfiguration);
  MailMessage nobody = m;
  nobody.to.clear();
  EXPECT_EQ(SMTPMailer::send({"smtp://127.0.0.1:25", {}, {}, "a@b.example"}, nobody).error().code,
            kMailInvalidRecipient);
  MailMessage injected = m;
  injected.to = {"bob@example.org>\r\nRCPT TO:<eve@example.org"};
  EXPECT_EQ(SMTPMailer::send({"smtp://127.0.0.1:25", {}, {}, "a@b.example"}, injected).error().code,
            kMailInvalidRecipient);
}

TEST(SMTPMailer, ACancelledSendStopsAndDeliversNothing) {
  std::string why;
  if (!test::SMTPServer::available(&why)) GTEST_SKIP() << why;
  auto server = test::SMTPServer::start(&why);
  ASSERT_NE(server, nullptr) << why;
  std::atomic<bool> cancelled{true};
  Status s =
      SMTPMailer::send({server->url(), {}, {}, "a@b.example"}, photoMail(500000), &cancelled);
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().code, kMailCancelled);
  EXPECT_TRUE(server->messages().empty());
}

}  // namespace
}  // namespace glowsnap
