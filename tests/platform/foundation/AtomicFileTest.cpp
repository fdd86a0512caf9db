#include "platform/foundation/AtomicFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/TestSupport.h"

namespace glowsnap {
namespace {

std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t entries(const std::filesystem::path& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(AtomicFile, ReplacesOnlyOnCommit) {
  test::TempDir dir;
  auto target = dir / "undo0.jpg";
  ASSERT_TRUE(AtomicFile::writeAll(target, std::string("old")).ok());
  {
    AtomicFile f(target);
    ASSERT_TRUE(f.open().ok());
    ASSERT_TRUE(f.write("new content", 11).ok());
    EXPECT_EQ(slurp(target), "old");  // readers still see the old file
    ASSERT_TRUE(f.commit().ok());
  }
  EXPECT_EQ(slurp(target), "new content");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, AbandonedWriteLeavesTargetAndNoTemporary) {
  test::TempDir dir;
  auto target = dir / "out.png";
  ASSERT_TRUE(AtomicFile::writeAll(target, std::string("keep")).ok());
  {
    AtomicFile f(target);
    ASSERT_TRUE(f.open().ok());
    ASSERT_TRUE(f.write("half", 4).ok());
  }
  EXPECT_EQ(slurp(target), "keep");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, ErrorsNameTheFile) {
  test::TempDir dir;
  auto target = dir / "missing-dir" / "x.jpg";
  auto s = AtomicFile::writeAll(target, std::string("x"));
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.error().description.find("x.jpg"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace glowsnap
