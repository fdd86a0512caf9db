#include "platform/foundation/TemporaryFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/foundation/FileIdentity.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

void touch(const std::filesystem::path& p) { std::ofstream(p) << "x"; }

// Runs `body` in a child process and returns its wait status; gives up
// (and kills the child) after ten seconds.
int inChild(const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "the child did not end within ten seconds";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

TEST(TemporaryFiles, TerminatingSignalsRemoveTrackedFilesAndExitWith128PlusSignal) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    test::TempDir dir;
    touch(dir / "partial.tmp");
    touch(dir / "forgotten.tmp");
    touch(dir / "users-file.jpg");
    int status = inChild([&] {
      TemporaryFiles::removeOnSignals();
      TemporaryFiles::track(dir / "partial.tmp");
      TemporaryFiles::track(dir / "forgotten.tmp");
      TemporaryFiles::untrack(dir / "forgotten.tmp");
      ::raise(sig);
      ::_exit(99);  // not reached: the handler ends the process
    });
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << sig;
    EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
    EXPECT_FALSE(std::filesystem::exists(dir / "partial.tmp")) << "signal " << sig;
    EXPECT_TRUE(std::filesystem::exists(dir / "forgotten.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / "users-file.jpg"));
  }
}

TEST(TemporaryFiles, TracksFromManyThreadsAndFreesTheSlots) {
  const int before = TemporaryFiles::count();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) {
        auto p = "/nonexistent/glowsnap-" + std::to_string(t) + "-" + std::to_string(i);
        ASSERT_TRUE(TemporaryFiles::track(p));
        TemporaryFiles::untrack(p);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(TemporaryFiles::count(), before);
  EXPECT_FALSE(TemporaryFiles::track(std::string(5000, 'a')));  // longer than a path can be
}

TEST(FileIdentity, NamesOfOneFileCompareEqual) {
  test::TempDir dir;
  touch(dir / "photo.jpg");
  touch(dir / "other.jpg");
  std::filesystem::create_symlink("photo.jpg", dir / "link.jpg");
  std::filesystem::create_hard_link(dir / "photo.jpg", dir / "hard.jpg");
  auto id = FileIdentity::of(dir / "photo.jpg");
  ASSERT_TRUE(id);
  EXPECT_EQ(FileIdentity::of(dir / "link.jpg"), id);
  EXPECT_EQ(FileIdentity::of(dir / "hard.jpg"), id);
  EXPECT_EQ(FileIdentity::of(dir / "." / ".." / dir.path().filename() / "photo.jpg"), id);
  EXPECT_NE(FileIdentity::of(dir / "other.jpg"), id);
  EXPECT_FALSE(FileIdentity::of(dir / "missing.jpg"));
}

}  // namespace
}  // namespace glowsnap
