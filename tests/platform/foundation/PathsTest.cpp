#include "platform/foundation/Paths.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TestSupport.h"

namespace glowsnap {
namespace {

TEST(Paths, EnvironmentOverridesWin) {
  test::ScopedEnv a("GLOWSNAP_CONFIG_DIR", "/x/config");
  test::ScopedEnv b("GLOWSNAP_DOCUMENTS_DIR", "/x/docs");
  test::ScopedEnv c("GLOWSNAP_TMPDIR", "/x/tmp");
  test::ScopedEnv d("GLOWSNAP_PICTURES_DIR", "/x/pics");
  test::ScopedEnv e("GLOWSNAP_RESOURCES_DIR", "/x/res");
  EXPECT_EQ(paths::configDirectory(), "/x/config");
  EXPECT_EQ(paths::documentsDirectory(), "/x/docs");
  EXPECT_EQ(paths::temporaryDirectory(), "/x/tmp");
  EXPECT_EQ(paths::picturesDirectory(), "/x/pics");
  EXPECT_EQ(paths::resourcePath("help.html"), "/x/res/help.html");
}

TEST(Paths, XdgFallbacks) {
  test::TempDir dir;
  test::ScopedEnv a("GLOWSNAP_CONFIG_DIR", "");
  test::ScopedEnv b("GLOWSNAP_PICTURES_DIR", "");
  test::ScopedEnv b2("XDG_PICTURES_DIR", "");
  test::ScopedEnv c("XDG_CONFIG_HOME", dir.path().string());
  test::ScopedEnv h("HOME", "/home/someone");
  EXPECT_EQ(paths::configDirectory(), dir.path() / "glowsnap");
  std::ofstream(dir / "user-dirs.dirs") << "# comment\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  EXPECT_EQ(paths::picturesDirectory(), "/home/someone/Bilder");
}

TEST(Paths, ResourcesFoundWithoutOverride) {
  test::ScopedEnv e("GLOWSNAP_RESOURCES_DIR", "");
  EXPECT_TRUE(std::filesystem::exists(paths::resourcePath("samples/coffee.png")));
}

TEST(Paths, EnsureDirectoryCreatesParents) {
  test::TempDir dir;
  EXPECT_TRUE(paths::ensureDirectory(dir / "a/b/c"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
}

}  // namespace
}  // namespace glowsnap
