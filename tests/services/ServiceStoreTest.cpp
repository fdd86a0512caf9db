// The service's store: users with slow salted hashes, applications, the
// one-time tokens and the sessions they become, permissions, albums and
// photos, the schema's versions; and the secrets and XML helpers.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "mingle/MGRequest.h"
#include "services/MingleQuery.h"
#include "services/Router.h"
#include "services/Secrets.h"
#include "services/ServiceStore.h"
#include "services/XMLWriter.h"
#include "support/TestSupport.h"

namespace glowsnap::services {
namespace {

class ServiceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = ServiceStore::open(dir_ / "data");
    ASSERT_TRUE(opened) << opened.error().description;
    store_ = std::move(*opened);
  }
  void exec(const std::string& sql, std::int64_t value) {
    store_->withDatabase([&](Database& db) {
      auto s = db.prepare(sql);
      ASSERT_TRUE(s);
      ASSERT_TRUE(s->bind(1, value).run());
    });
  }
  test::TempDir dir_;
  std::unique_ptr<ServiceStore> store_;
};

TEST_F(ServiceStoreTest, UsersHaveUniqueValidNamesAndOnlyAHashOfTheirPassword) {
  auto ann = store_->addUser("ann", "correct horse");
  ASSERT_TRUE(ann) << ann.error().description;
  EXPECT_EQ(ann->id, 1);
  auto again = store_->addUser("ANN", "x");
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().code, kStoreNameTaken) << "names compare without case";
  for (const char* bad : {"", "a b", "ann'; DROP TABLE users;--", "-lead", "caf\xC3\xA9",
                          "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}) {
    auto user = store_->addUser(bad, "pw");
    ASSERT_FALSE(user) << bad;
    EXPECT_EQ(user.error().code, kStoreInvalidName);
  }
  EXPECT_FALSE(store_->addUser("bob", ""));

  EXPECT_TRUE(store_->authenticate("ann", "correct horse"));
  EXPECT_TRUE(store_->authenticate("Ann", "correct horse"));
  EXPECT_FALSE(store_->authenticate("ann", "correct horsE"));
  EXPECT_FALSE(store_->authenticate("nobody", "correct horse"));
  ASSERT_TRUE(store_->setPassword(ann->id, "battery staple"));
  EXPECT_TRUE(store_->authenticate("ann", "battery staple"));
  EXPECT_FALSE(store_->authenticate("ann", "correct horse"));

  // Nowhere on disk in plain text.
  std::string stored;
  store_->withDatabase([&](Database& db) {
    auto s = db.prepare("SELECT password_hash FROM users");
    ASSERT_TRUE(s && s->step());
    stored = s->text(0);
  });
  EXPECT_EQ(stored.rfind("$scrypt$ln=15,r=8,p=1$", 0), 0u) << stored;
  std::ifstream db(dir_ / "data" / ServiceStore::kDatabaseFileName, std::ios::binary);
  std::stringstream bytes;
  bytes << db.rdbuf();
  EXPECT_EQ(bytes.str().find("battery staple"), std::string::npos);
}

TEST_F(ServiceStoreTest, ApplicationsAndValuesThatLookLikeSQL) {
  auto app =
      store_->addApplication("Glow'); DROP TABLE applications;--", std::nullopt, std::nullopt);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->apiKey.size(), 32u);
  EXPECT_EQ(app->secret.size(), 32u);
  EXPECT_NE(app->apiKey, app->secret);
  auto found = store_->applicationWithKey(app->apiKey);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, "Glow'); DROP TABLE applications;--");
  EXPECT_FALSE(store_->applicationWithKey("' OR '1'='1"));
  EXPECT_FALSE(store_->addApplication("Twin", app->apiKey, std::nullopt)) << "keys are unique";
  EXPECT_FALSE(store_->addApplication("Spaced", std::string("a key"), std::nullopt));
  EXPECT_EQ(store_->applications().size(), 1u);
}

TEST_F(ServiceStoreTest, TokensAreSpentOnceAndBecomeSessionsOfTheirApplication) {
  auto ann = *store_->addUser("ann", "pw");
  auto app = *store_->addApplication("A", std::nullopt, std::nullopt);
  auto other = *store_->addApplication("B", std::nullopt, std::nullopt);

  auto token = store_->issueAuthToken(ann.id, app.id, 600);
  ASSERT_TRUE(token);
  auto session = store_->exchangeAuthToken(token->token, app.id, 3600);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->userId, ann.id);
  EXPECT_EQ(session->secret.size(), 32u);
  EXPECT_NEAR(static_cast<double>(session->expiresAt), ServiceStore::now() + 3600.0, 5.0);
  EXPECT_FALSE(store_->exchangeAuthToken(token->token, app.id, 3600)) << "spent";
  EXPECT_TRUE(store_->sessionWithKey(session->sessionKey));

  auto forOther = *store_->issueAuthToken(ann.id, other.id, 600);
  EXPECT_FALSE(store_->exchangeAuthToken(forOther.token, app.id, 3600));
  EXPECT_FALSE(store_->exchangeAuthToken(forOther.token, other.id, 3600))
      << "a token tried with the wrong application is spent as well";

  auto old = *store_->issueAuthToken(ann.id, app.id, 600);
  exec("UPDATE auth_tokens SET expires_at = ?", ServiceStore::now() - 1);
  EXPECT_FALSE(store_->exchangeAuthToken(old.token, app.id, 3600));

  auto forever =
      store_->exchangeAuthToken(store_->issueAuthToken(ann.id, app.id, 60)->token, app.id, 0);
  ASSERT_TRUE(forever);
  EXPECT_EQ(forever->expiresAt, 0);
  exec("UPDATE sessions SET expires_at = ? WHERE expires_at != 0", ServiceStore::now() - 1);
  EXPECT_FALSE(store_->sessionWithKey(session->sessionKey)) << "expired";
  EXPECT_TRUE(store_->sessionWithKey(forever->sessionKey));
  EXPECT_FALSE(store_->issueAuthToken(99, app.id, 60)) << "no such user";
}

TEST_F(ServiceStoreTest, PermissionsAlbumsAndPhotos) {
  auto ann = *store_->addUser("ann", "pw");
  auto app = *store_->addApplication("Glowsnap", std::nullopt, std::nullopt);
  EXPECT_FALSE(store_->hasPermission(ann.id, app.id, "photo_upload"));
  ASSERT_TRUE(store_->grantPermission(ann.id, app.id, "photo_upload"));
  ASSERT_TRUE(store_->grantPermission(ann.id, app.id, "photo_upload"));
  EXPECT_TRUE(store_->hasPermission(ann.id, app.id, "photo_upload"));
  ASSERT_TRUE(store_->revokePermission(ann.id, app.id, "photo_upload"));
  EXPECT_FALSE(store_->hasPermission(ann.id, app.id, "photo_upload"));
  EXPECT_FALSE(store_->grantPermission(42, app.id, "photo_upload"));

  auto album = store_->defaultAlbum(ann.id, app);
  ASSERT_TRUE(album);
  EXPECT_EQ(album->name, "Glowsnap Photos");
  EXPECT_EQ(store_->defaultAlbum(ann.id, app)->id, album->id) << "made once";
  for (int i = 0; i < 3; ++i) {
    Photo p;
    p.ownerId = ann.id;
    p.albumId = album->id;
    p.appId = app.id;
    p.file = "photos/1/" + std::to_string(i) + ".jpg";
    p.contentType = "image/jpeg";
    p.caption = i == 2 ? "x'); DELETE FROM photos;--" : "";
    p.createdAt = 1000 + i;
    ASSERT_TRUE(store_->addPhoto(p));
  }
  auto photos = store_->photosOf(ann.id);
  ASSERT_EQ(photos.size(), 3u);
  EXPECT_EQ(photos[0].createdAt, 1002) << "newest first";
  EXPECT_EQ(photos[0].caption, "x'); DELETE FROM photos;--");
  EXPECT_EQ(store_->photoCount(ann.id), 3);
}

TEST_F(ServiceStoreTest, ReopeningKeepsTheDataAndANewerSchemaIsRefused) {
  ASSERT_TRUE(store_->addUser("ann", "pw"));
  EXPECT_EQ(store_->schemaVersion(), 2);
  store_.reset();
  auto again = ServiceStore::open(dir_ / "data");
  ASSERT_TRUE(again);
  EXPECT_TRUE((*again)->userNamed("ann"));
  ASSERT_TRUE(
      (*again)->withDatabase([](Database& db) { return db.execute("PRAGMA user_version = 99"); }));
  again->reset();
  auto newer = ServiceStore::open(dir_ / "data");
  ASSERT_FALSE(newer);
  EXPECT_NE(newer.error().description.find("newer glowsnap-services"), std::string::npos);
  EXPECT_NE(newer.error().description.find("services.db"), std::string::npos);
}

TEST(Secrets, HashesAreSaltedAndForeignFormsNeverMatch) {
  ScryptCost cheap{10, 8, 1};
  auto a = hashPassword("pw", cheap);
  auto b = hashPassword("pw", cheap);
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_TRUE(verifyPassword("pw", *a));
  EXPECT_FALSE(verifyPassword("pW", *a));
  for (const char* foreign : {"pw", "", "$scrypt$ln=99,r=8,p=1$AAAA$BBBB", "$md5$x$y"})
    EXPECT_FALSE(verifyPassword("pw", foreign)) << foreign;
  EXPECT_EQ(randomHex(20).size(), 40u);
  EXPECT_NE(randomHex(16), randomHex(16));
  EXPECT_TRUE(constantTimeEquals("abc", "abc"));
  EXPECT_FALSE(constantTimeEquals("abc", "abd"));
  EXPECT_FALSE(constantTimeEquals("abc", "ab"));
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(XMLWriter, EscapesWhatXMLCannotHoldAndTheClientReadsItBack) {
  EXPECT_EQ(XMLWriter::escape("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&apos;");
  EXPECT_EQ(XMLWriter::escape(std::string("x\x01y", 3)), "x\xEF\xBF\xBDy");
  EXPECT_EQ(XMLWriter::escape("\xC3\xA9\xF0\x9F\x93\xB7"), "\xC3\xA9\xF0\x9F\x93\xB7");
  EXPECT_EQ(XMLWriter::escape("\xC3(\xED\xA0\x80"),
            "\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD")
      << "bad UTF-8 and surrogates are replaced";

  XMLWriter xml;
  xml.open("r").element("caption", "<b> & \x02 \xff").open("l", true);
  xml.open("i").element("k", "v").close();
  auto parsed = MGRequest::parseXMLResponse(bytesFromString(xml.finish()), "h");
  ASSERT_TRUE(parsed) << parsed.error().description;
  EXPECT_EQ(parsed->description(),
            "{caption: \"<b> & \xEF\xBF\xBD \xEF\xBF\xBD\", l: [{k: \"v\"}]}");
}

TEST(MingleQuery, TheClientsQueryAndWhatIsRefused) {
  auto q = MingleQuery::parse("select uid,name from user where uid == 4294967297");
  ASSERT_TRUE(q) << q.error().description;
  EXPECT_EQ(q->fields, (std::vector<std::string>{"uid", "name"}));
  EXPECT_EQ(q->table, "user");
  EXPECT_EQ(q->whereValue, 4294967297);
  auto star = MingleQuery::parse("SELECT * FROM photo WHERE owner = 3");
  ASSERT_TRUE(star);
  EXPECT_EQ(star->fields.size(), 6u);
  for (const char* bad :
       {"", "select", "select uid from", "select uid from nothing where uid == 1",
        "select password from user where uid == 1", "select uid from user",
        "select uid from user where name == 1", "select uid from user where uid == x",
        "select uid from user where uid == 1; drop table users",
        "select uid from user where uid == 99999999999999999999"}) {
    EXPECT_FALSE(MingleQuery::parse(bad)) << bad;
  }
}

TEST(Router, RoutesByMethodAndPatternWithCapturesAnd404And405) {
  Router router;
  std::string seen;
  router.add("GET", "/users/([a-z]+)", [&](const ServiceRequest& r, ServiceResponse& s) {
    seen = r.captures.at(0);
    s.body = "user";
  });
  router.add("POST", "/api/rest",
             [](const ServiceRequest&, ServiceResponse& s) { s.body = "api"; });
  ServiceRequest request;
  ServiceResponse response;
  request.method = "GET";
  request.path = "/users/ann";
  router.dispatch(request, response);
  EXPECT_EQ(seen, "ann");
  EXPECT_EQ(response.status, 200);

  ServiceResponse missing;
  request.path = "/users/ann/extra";
  router.dispatch(request, missing);
  EXPECT_EQ(missing.status, 404);

  ServiceResponse wrongMethod;
  request.path = "/api/rest";
  router.dispatch(request, wrongMethod);
  EXPECT_EQ(wrongMethod.status, 405);
  ASSERT_EQ(wrongMethod.headers.size(), 1u);
  EXPECT_EQ(wrongMethod.headers[0], (std::pair<std::string, std::string>{"Allow", "POST"}));
  EXPECT_TRUE(router.matches("HEAD", "/users/bob"));
}

}  // namespace
}  // namespace glowsnap::services
