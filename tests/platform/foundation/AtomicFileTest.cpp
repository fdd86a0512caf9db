#include "platform/foundation/AtomicFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/foundation/TemporaryFiles.h"
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

TEST(AtomicFile, SymlinkIsWrittenThroughAndStaysALink) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "photos");
  ASSERT_TRUE(AtomicFile::writeAll(dir / "photos" / "real.jpg", std::string("old")).ok());
  // A relative link in another folder, and a link to that link.
  std::filesystem::create_symlink("photos/real.jpg", dir / "link.jpg");
  std::filesystem::create_symlink(dir / "link.jpg", dir / "link2.jpg");
  ASSERT_TRUE(AtomicFile::writeAll(dir / "link2.jpg", std::string("new")).ok());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.jpg"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link2.jpg"));
  EXPECT_EQ(slurp(dir / "photos" / "real.jpg"), "new");
  EXPECT_EQ(entries(dir / "photos"), 1u);
  EXPECT_EQ(entries(dir.path()), 3u);
}

TEST(AtomicFile, DanglingSymlinkCreatesItsTarget) {
  test::TempDir dir;
  std::filesystem::create_symlink("made.txt", dir / "link.txt");
  ASSERT_TRUE(AtomicFile::writeAll(dir / "link.txt", std::string("x")).ok());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(slurp(dir / "made.txt"), "x");
}

TEST(AtomicFile, FifoIsWrittenStraightInto) {
  test::TempDir dir;
  auto fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = slurp(fifo); });
  auto s = AtomicFile::writeAll(fifo, std::string("through the pipe"));
  reader.join();
  ASSERT_TRUE(s.ok()) << s.error().description;
  EXPECT_EQ(received, "through the pipe");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, DevicesAreStreamsAndDirectoriesAreRefused) {
  auto devnull = AtomicFile::resolveOutput("/dev/null");
  ASSERT_TRUE(devnull.ok());
  EXPECT_TRUE(devnull->stream);

  test::TempDir dir;
  std::filesystem::create_directory(dir / "out");
  std::filesystem::create_symlink("out", dir / "out-link");
  for (const char* name : {"out", "out-link"}) {
    auto s = AtomicFile::writeAll(dir / name, std::string("x"));
    ASSERT_FALSE(s.ok()) << name;
    EXPECT_EQ(s.error().description, (dir / name).string() + ": is a directory");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out"));
  }
  EXPECT_EQ(entries(dir / "out"), 0u);
  EXPECT_EQ(entries(dir.path()), 2u);
}

TEST(AtomicFile, ReplacedFileKeepsItsPermissions) {
  test::TempDir dir;
  auto target = dir / "private.png";
  ASSERT_TRUE(AtomicFile::writeAll(target, std::string("old")).ok());
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  ASSERT_TRUE(AtomicFile::writeAll(target, std::string("new")).ok());
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(AtomicFile, TemporaryIsTrackedOnlyWhileItExists) {
  test::TempDir dir;
  const int before = TemporaryFiles::count();
  {
    AtomicFile committed(dir / "a");
    ASSERT_TRUE(committed.open().ok());
    EXPECT_EQ(TemporaryFiles::count(), before + 1);
    ASSERT_TRUE(committed.commit().ok());
    EXPECT_EQ(TemporaryFiles::count(), before);
    AtomicFile dropped(dir / "b");
    ASSERT_TRUE(dropped.open().ok());
    EXPECT_EQ(TemporaryFiles::count(), before + 1);
  }
  EXPECT_EQ(TemporaryFiles::count(), before);
}

}  // namespace
}  // namespace glowsnap
