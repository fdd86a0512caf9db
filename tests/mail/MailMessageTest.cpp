// The wire form of a mail with an attachment, byte for byte, and the
// address checks the composer relies on.
#include <gtest/gtest.h>

#include "mail/MailMessage.h"
#include "tests/mail/MailTestSupport.h"

namespace glowsnap {
namespace {

TEST(MailMessage, TheWireFormIsExact) {
  MailMessage m;
  m.from = "ann@example.org";
  m.to = {"bob@example.org", "eve@example.net"};
  m.subject = "Look";
  m.body = "Hi =\nsee below \nbye";
  m.attachments.push_back({Bytes{0x00, 0x01, 0xff, 0x61, 0x62, 0x63}, "image/jpeg", "image.jpg"});
  const std::string expected =
      "From: ann@example.org\r\n"
      "To: bob@example.org, eve@example.net\r\n"
      "Subject: Look\r\n"
      "Date: Tue, 08 Dec 2026 23:00:00 +0000\r\n"
      "Message-ID: <1.2@host>\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n"
      "\r\n"
      "--B\r\n"
      "Content-Type: text/plain; charset=UTF-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "\r\n"
      "Hi =3D\r\nsee below=20\r\nbye\r\n"
      "--B\r\n"
      "Content-Type: image/jpeg; name=\"image.jpg\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"image.jpg\"\r\n"
      "\r\n"
      "AAH/YWJj\r\n"
      "--B--\r\n";
  EXPECT_EQ(m.format("Tue, 08 Dec 2026 23:00:00 +0000", "1.2@host", "B"), expected);
}

TEST(MailMessage, LongTextsAndForeignLettersStayWithinTheLines) {
  MailMessage m;
  m.from = "a@b.example";
  m.subject = "Grüße aus der Dunkelkammer, mit einem sehr langen Betreff über Fotos";
  m.body = std::string(200, 'x') + " é";
  Bytes big(1000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  m.attachments.push_back({big, "application/octet-stream", "a \"b\".bin"});
  const std::string wire = m.format("d", "id", "B");
  std::size_t at = 0;
  while (at < wire.size()) {
    auto end = wire.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    EXPECT_LE(end - at, 76u) << wire.substr(at, end - at);
    for (std::size_t i = at; i < end; ++i)
      EXPECT_LT(static_cast<unsigned char>(wire[i]), 0x80) << "8-bit byte on the wire";
    at = end + 2;
  }
  EXPECT_NE(wire.find("Subject: =?UTF-8?B?"), std::string::npos);
  EXPECT_NE(wire.find("=C3=A9"), std::string::npos);
  EXPECT_EQ(test::attachmentNamed(wire, "a \\\"b\\\".bin"), big);
}

TEST(MailMessage, AddressesAreSingleAndPlain) {
  for (const char* good : {"a@b.example", "first.last+tag@mail.example.org", "x@localhost"})
    EXPECT_TRUE(MailMessage::isValidAddress(good)) << good;
  for (const char* bad : {"", "a", "@b", "a@", "a b@c", "<a@b>", "a@b,c@d", "a@.b", "a@b.",
                          "a@b\r\nRCPT TO:<c@d>", "\"a\"@b"})
    EXPECT_FALSE(MailMessage::isValidAddress(bad)) << bad;
  auto list = MailMessage::parseAddresses(" ann@example.org, bob@example.org;eve@x.example ");
  ASSERT_TRUE(list);
  EXPECT_EQ(*list,
            (std::vector<std::string>{"ann@example.org", "bob@example.org", "eve@x.example"}));
  EXPECT_EQ(MailMessage::parseAddresses(""), std::vector<std::string>{});
  EXPECT_FALSE(MailMessage::parseAddresses("ann@example.org, not an address"));
}

}  // namespace
}  // namespace glowsnap
