// Natter's credential check and Pixdrop's upload as the sharing screen meets
// them: a real glowsnap-services on loopback, Basic authorization, multipart
// uploads stored byte for byte and shown on the user's page, and refusals
// that keep nothing.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>

#include "base64/Base64.h"
#include "platform/graphics/ImageIO.h"
#include "platform/net/Bytes.h"
#include "services/NatterAPI.h"
#include "support/ServicesProcess.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap::services {
namespace {

namespace fs = std::filesystem;
using test::ServicesProcess;

std::string basic(const std::string& name, const std::string& password) {
  std::string text = name + ":" + password;
  return "Basic " + *Base64::stringByEncodingBytes(text.data(), text.size());
}

using test::filesUnder;

class NatterPixdropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServicesProcess>(GLOWSNAP_SERVICES_EXE);
    std::string error;
    ASSERT_TRUE(server_->addStandardAccounts(error)) << error;
    auto colon = server_->run({"add-user", "bob"}, "pass:with:colons\n");
    ASSERT_EQ(colon.status, 0) << colon.err;
    ASSERT_TRUE(server_->start(error)) << error;
  }

  httplib::Client client() {
    httplib::Client c("127.0.0.1", server_->port());
    c.set_read_timeout(30, 0);
    return c;
  }

  httplib::Result verify(const std::optional<std::string>& authorization) {
    httplib::Headers headers;
    if (authorization) headers.emplace("Authorization", *authorization);
    return client().Get("/account/verify.xml", headers);
  }

  httplib::Result upload(const std::string& name, const std::string& password,
                         const std::string& media, bool withMedia = true) {
    httplib::MultipartFormDataItems items = {{"username", name, "", ""},
                                             {"password", password, "", ""}};
    if (withMedia) items.push_back({"media", media, "file", "application/octet-stream"});
    return client().Post("/api/upload", items);
  }

  std::unique_ptr<ServicesProcess> server_;
};

TEST_F(NatterPixdropTest, TheCredentialCheckAcceptsTheUsersOwnAndChallengesTheRest) {
  auto good = verify(basic("ann", "correct horse"));
  ASSERT_TRUE(good);
  EXPECT_EQ(good->status, 200);
  EXPECT_NE(good->body.find("<screen_name>ann</screen_name>"), std::string::npos) << good->body;

  // Everything after the first colon is the password.
  auto colons = verify(basic("bob", "pass:with:colons"));
  ASSERT_TRUE(colons);
  EXPECT_EQ(colons->status, 200);

  std::string lowerScheme = basic("ann", "correct horse");
  lowerScheme.replace(0, 5, "basic");
  auto lower = verify(lowerScheme);
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->status, 200) << "the scheme's name is not case-sensitive";

  for (const std::optional<std::string>& refused :
       {std::optional<std::string>(basic("ann", "wrong")), std::optional<std::string>(std::nullopt),
        std::optional<std::string>(basic("nobody", "correct horse")),
        std::optional<std::string>("Basic !!!not-base64"),
        std::optional<std::string>("Bearer " + basic("ann", "correct horse").substr(6)),
        std::optional<std::string>("Basic " + *Base64::stringByEncodingBytes("ann", 3))}) {
    auto r = verify(refused);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401) << refused.value_or("(none)");
    EXPECT_EQ(r->get_header_value("WWW-Authenticate"), "Basic realm=\"Natter\", charset=\"UTF-8\"");
    EXPECT_EQ(r->body.find("screen_name"), std::string::npos);
  }
}

TEST_F(NatterPixdropTest, AnUploadIsStoredByteForByteAndShownOnTheUsersPage) {
  std::string jpeg = stringFromBytes(*imageio::encodeJpeg(*test::photoLikeImage(80, 60), 1.0f));
  auto r = upload("ann", "correct horse", jpeg);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_NE(r->body.find("<stat>ok</stat>"), std::string::npos);
  EXPECT_NE(r->body.find("<mediaurl>" + server_->baseURL() + "/photos/1.jpg</mediaurl>"),
            std::string::npos)
      << r->body;

  auto c = client();
  auto photo = c.Get("/photos/1.jpg");
  ASSERT_TRUE(photo);
  EXPECT_TRUE(photo->body == jpeg) << "the stored photo differs from the upload";
  auto page = c.Get("/users/ann");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("<img src=\"/photos/1.jpg\""), std::string::npos);
  EXPECT_NE(page->body.find("80 × 60"), std::string::npos);
  EXPECT_NE(page->body.find("from Pixdrop"), std::string::npos);

  // A second upload lands in the same album, as a photo of its own.
  auto again = upload("ann", "correct horse", jpeg);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 200);
  EXPECT_EQ(filesUnder(server_->dataDirectory() / "photos"), 2u);
}

TEST_F(NatterPixdropTest, RefusedUploadsAreNotSuccessesAndKeepNothing) {
  std::string jpeg = stringFromBytes(*imageio::encodeJpeg(*test::gradientImage(32, 32), 1.0f));
  struct Case {
    const char* what;
    std::string name, password, media;
    bool withMedia;
    int status;
  } cases[] = {
      {"wrong password", "ann", "wrong", jpeg, true, 403},
      {"unknown user", "nobody", "correct horse", jpeg, true, 403},
      {"no user name", "", "", jpeg, true, 403},
      {"no picture", "ann", "correct horse", "", false, 400},
      {"not a picture", "ann", "correct horse", "GIF89a not really", true, 415},
      {"half a JPEG", "ann", "correct horse", jpeg.substr(0, jpeg.size() / 2), true, 415},
  };
  for (const Case& k : cases) {
    auto r = upload(k.name, k.password, k.media, k.withMedia);
    ASSERT_TRUE(r) << k.what;
    EXPECT_EQ(r->status, k.status) << k.what << ": " << r->body;
    EXPECT_NE(r->body.find("<stat>fail</stat>"), std::string::npos) << k.what;
  }
  EXPECT_EQ(filesUnder(server_->dataDirectory() / "photos"), 0u);
  auto page = client().Get("/users/ann");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("Nothing shared yet"), std::string::npos);
}

TEST(NatterBasicCredentials, SplitsAtTheFirstColonAndRefusesWhatIsNotBasic) {
  auto c = NatterAPI::basicCredentials(basic("ann", "a:b: c"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->first, "ann");
  EXPECT_EQ(c->second, "a:b: c");
  auto empty = NatterAPI::basicCredentials(basic("ann", ""));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->second, "");
  EXPECT_FALSE(NatterAPI::basicCredentials("Basic"));
  EXPECT_FALSE(NatterAPI::basicCredentials("Basic "));
  EXPECT_FALSE(NatterAPI::basicCredentials("Digest " + basic("a", "b").substr(6)));
  EXPECT_FALSE(NatterAPI::basicCredentials("Basic " + std::string(5000, 'A')));
}

TEST(NatterBasicCredentials, CredentialsComeOnlyOverTLSOrFromThisMachine) {
  ServiceRequest rq;
  rq.baseURL = "http://example.org:8420";
  rq.remoteAddress = "192.0.2.7";
  EXPECT_FALSE(NatterAPI::mayCarryCredentials(rq));
  rq.baseURL = "https://example.org:8420";
  EXPECT_TRUE(NatterAPI::mayCarryCredentials(rq));
  rq.baseURL = "http://127.0.0.1:8420";
  for (const char* loopback : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"}) {
    rq.remoteAddress = loopback;
    EXPECT_TRUE(NatterAPI::mayCarryCredentials(rq)) << loopback;
  }
}

}  // namespace
}  // namespace glowsnap::services
