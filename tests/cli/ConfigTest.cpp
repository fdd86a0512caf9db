// `glowsnap config` as a user runs it: the real program on a settings file
// of the test's own and, for passwords, a gnome-keyring on a private bus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/CliSupport.h"
#include "settings/AppSettings.h"
#include "support/PrivateKeyring.h"

namespace glowsnap {
namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<test::ScopedEnv>("GLOWSNAP_CONFIG_DIR", dir_.path().string());
  }

  // glowsnap with input on its standard input (not a terminal).
  glowsnap::Run config(const std::vector<std::string>& args, const std::string& input = "") {
    auto in = dir_ / "stdin.txt";
    std::ofstream(in, std::ios::binary) << input;
    std::string cmd = quote(GLOWSNAP_CLI_PATH) + " config";
    for (const auto& a : args) cmd += " " + quote(a);
    cmd += " >" + quote((dir_ / "out.txt").string()) + " 2>" + quote((dir_ / "err.txt").string()) +
           " <" + quote(in.string());
    int raw = std::system(cmd.c_str());
    glowsnap::Run r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(dir_ / "out.txt");
    r.err = slurp(dir_ / "err.txt");
    return r;
  }

  nlohmann::json file() {
    auto text = slurp(dir_ / "defaults.json");
    return text.empty() ? nlohmann::json::object() : nlohmann::json::parse(text);
  }

  test::TempDir dir_;
  std::unique_ptr<test::ScopedEnv> env_;
};

TEST_F(ConfigTest, SetGetUnsetAndListWithDefaultsAndChecks) {
  glowsnap::Run r = config({"get", "pixdrop_url"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "http://127.0.0.1:8420\n") << "the default is the server on this machine";
  EXPECT_EQ(config({"get", "natter_username_preference"}).status, 1) << "unset, no default";

  EXPECT_EQ(config({"set", "natter_username_preference", "ann"}).status, 0);
  EXPECT_EQ(config({"set", "pixdrop_url", "https://pix.example.org/"}).status, 0);
  EXPECT_EQ(config({"set", "resolution", "4"}).status, 0);
  EXPECT_EQ(config({"set", "do_not_show_info", "yes"}).status, 0);
  auto json = file();
  EXPECT_EQ(json["natter_username_preference"], "ann");
  EXPECT_EQ(json["pixdrop_url"], "https://pix.example.org") << "no trailing slash";
  EXPECT_EQ(json["resolution"], 4) << "integers are stored as numbers, as the app reads them";
  EXPECT_EQ(json["do_not_show_info"], true);

  struct Bad {
    std::vector<std::string> args;
    int status;
    const char* says;
  } bad[] = {
      {{"set", "resolution", "6"}, 2, "out of range"},
      {{"set", "resolution", "two"}, 2, "not a whole number"},
      {{"set", "pixdrop_url", "ftp://pix.example.org"}, 2, "not an http or https address"},
      {{"set", "mingle_url", "http://user:pw@example.org"}, 2, "not an http or https address"},
      {{"set", "smtp_url", "http://mail.example.org"}, 2, "not an smtp or smtps address"},
      {{"set", "no_such_key", "1"}, 2, "no such setting"},
      {{"set", "natter_username_preference"}, 2, "which value?"},
      {{"get", "no_such_key"}, 2, "no such setting"},
  };
  for (const Bad& b : bad) {
    glowsnap::Run e = config(b.args);
    EXPECT_EQ(e.status, b.status) << b.args[1];
    EXPECT_NE(e.err.find(b.says), std::string::npos) << e.err;
    EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << "one line: " << e.err;
  }
  EXPECT_EQ(file(), json) << "refused values change nothing";

  glowsnap::Run list = config({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("natter_username_preference = ann\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("natter_url = http://127.0.0.1:8420 (default)\n"), std::string::npos);
  EXPECT_NE(list.out.find("smtp_url (not set)\n"), std::string::npos);

  EXPECT_EQ(config({"unset", "pixdrop_url"}).status, 0);
  EXPECT_EQ(config({"get", "pixdrop_url"}).out, "http://127.0.0.1:8420\n");
  EXPECT_FALSE(file().contains("pixdrop_url"));
}

TEST_F(ConfigTest, APasswordGoesToTheKeyringOnlyAndIsNeverShown) {
  std::string why;
  if (!test::PrivateKeyring::keyring(&why)) GTEST_SKIP() << why;
  const std::string password = "s3cret: with spaces";
  // A copy left in plain text by hand is reported, and removed by the set.
  std::ofstream(dir_ / "defaults.json") << R"({"natter_password_preference": "old plain"})";
  glowsnap::Run warned = config({"list"});
  EXPECT_NE(warned.err.find("plain text"), std::string::npos) << warned.err;

  glowsnap::Run onCommandLine = config({"set", "natter_password_preference", password});
  EXPECT_EQ(onCommandLine.status, 2);
  EXPECT_NE(onCommandLine.err.find("not given on the command line"), std::string::npos);

  glowsnap::Run set = config({"set", "natter_password_preference"}, password + "\n");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_FALSE(file().contains("natter_password_preference"));
  EXPECT_EQ(slurp(dir_ / "defaults.json").find("s3cret"), std::string::npos);

  Defaults defaults(dir_ / "defaults.json");
  AppSettings settings(defaults, &CredentialStorage::sharedCredentialStorage());
  EXPECT_EQ(settings.secret(AppSettings::kNatterPassword), password);

  glowsnap::Run get = config({"get", "natter_password_preference"});
  EXPECT_EQ(get.status, 0);
  glowsnap::Run list = config({"list"});
  for (const glowsnap::Run& r : {get, list, set}) {
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("s3cret"), std::string::npos) << r.err;
  }
  EXPECT_NE(list.out.find("natter_password_preference = (set, kept in the keyring)"),
            std::string::npos);

  EXPECT_EQ(config({"set", "natter_password_preference"}, "\n").status, 2) << "empty";
  EXPECT_EQ(settings.secret(AppSettings::kNatterPassword), password) << "unchanged";
  EXPECT_EQ(config({"unset", "natter_password_preference"}).status, 0);
  EXPECT_FALSE(settings.secret(AppSettings::kNatterPassword));
  EXPECT_EQ(config({"get", "natter_password_preference"}).status, 1);
}

}  // namespace
}  // namespace glowsnap
