// The credential store against a real gnome-keyring daemon on a private
// session bus, and on a bus without any Secret Service.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/net/CredentialStorage.h"
#include "support/PrivateKeyring.h"

namespace glowsnap {
namespace {

namespace fs = std::filesystem;
using test::PrivateKeyring;

CredentialStorage& store() { return CredentialStorage::sharedCredentialStorage(); }

bool anyFileContains(const fs::path& root, const std::string& needle) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    if (bytes.find(needle) != std::string::npos) return true;
  }
  return false;
}

class KeyringCredentialStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    keyring_ = PrivateKeyring::keyring(&why);
    if (!keyring_) GTEST_SKIP() << why;
  }
  PrivateKeyring* keyring_ = nullptr;
};

TEST_F(KeyringCredentialStorage, KeepsOneDefaultPerProtectionSpace) {
  ProtectionSpace space{"example.org", 8443, "https", "Members only"};
  ASSERT_TRUE(store().setDefaultCredential({"alice", "first secret"}, space).ok());
  auto found = store().defaultCredential(space);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->user, "alice");
  EXPECT_EQ(found->password, "first secret");

  // A new default replaces the old one, even for another user.
  ASSERT_TRUE(store().setDefaultCredential({"bob", "p\xC3\xA4ss: \"w\xC3\xB6rd\""}, space).ok());
  found = store().defaultCredential(space);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->user, "bob");
  EXPECT_EQ(found->password, "p\xC3\xA4ss: \"w\xC3\xB6rd\"");

  // Every part of the space counts.
  for (const ProtectionSpace& other :
       {ProtectionSpace{"example.com", 8443, "https", "Members only"},
        ProtectionSpace{"example.org", 443, "https", "Members only"},
        ProtectionSpace{"example.org", 8443, "http", "Members only"},
        ProtectionSpace{"example.org", 8443, "https", "members only"},
        ProtectionSpace{"example.org", 8443, "https", ""}})
    EXPECT_FALSE(store().defaultCredential(other).has_value()) << other.host << other.port;

  ASSERT_TRUE(store().removeDefaultCredential(space).ok());
  EXPECT_FALSE(store().defaultCredential(space).has_value());
  EXPECT_TRUE(store().removeDefaultCredential(space).ok());
}

TEST_F(KeyringCredentialStorage, WritesNoPasswordToDiskInPlainText) {
  const std::string password = "plain-text-canary-7c1f9e";
  ProtectionSpace space{"127.0.0.1", 8080, "http", "canary"};
  ASSERT_TRUE(store().setDefaultCredential({"carol", password}, space).ok());
  ASSERT_EQ(store().defaultCredential(space)->password, password);
  EXPECT_FALSE(anyFileContains(keyring_->dataDirectory(), password));
  EXPECT_FALSE(anyFileContains(keyring_->dataDirectory().parent_path(), password));
  ASSERT_TRUE(store().removeDefaultCredential(space).ok());
}

TEST(CredentialStorageWithoutSecretService, SavingReportsThatNothingWasKept) {
  if (PrivateKeyring::keyringStarted())
    GTEST_SKIP() << "this process's bus already has a keyring (CTest runs this test on its own)";
  std::string why;
  if (!PrivateKeyring::bus(&why)) GTEST_SKIP() << why;
  ProtectionSpace space{"example.org", 443, "https", "r"};
  auto saved = store().setDefaultCredential({"dave", "pw-canary-31d7"}, space);
  ASSERT_FALSE(saved.ok());
  EXPECT_EQ(saved.error().domain, CredentialStorage::kErrorDomain);
  EXPECT_NE(saved.error().description.find("was not kept"), std::string::npos)
      << saved.error().description;
  EXPECT_EQ(saved.error().description.find("pw-canary-31d7"), std::string::npos);
  EXPECT_FALSE(store().defaultCredential(space).has_value());
}

}  // namespace
}  // namespace glowsnap
