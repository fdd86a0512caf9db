// `glowsnap http URL... -O DIR` run as a user runs it, against a real
// server on loopback: several files at once, each replaced whole, a failure
// that spares the others, outputs planned before anything is fetched, and
// the bandwidth limit of --limit-rate.
#include <sys/stat.h>

#include <chrono>
#include <set>

#include "CliSupport.h"
#include "cli/HttpDownloads.h"
#include "support/ClosedPort.h"
#include "support/LoopbackServer.h"

namespace glowsnap {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;
using test::RawRequest;
using test::ServerConnection;

// /NAME answers a body of its own for each name; HEAD answers its length.
std::string bodyFor(const std::string& target) {
  std::string body;
  for (int i = 0; body.size() < 70000; ++i) body += target + ":" + std::to_string(i) + "\n";
  return body;
}

void serveFiles(const RawRequest& r, ServerConnection& c) {
  std::string body = bodyFor(r.target);
  if (r.method == "HEAD")
    c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n");
  else
    c.respond(200, body, {{"Connection", "close"}});
  c.close();
}

std::set<std::string> namesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST(HttpDownloads, FileNamesComeFromTheLastSegmentOfThePath) {
  auto name = [](const char* url) { return cli::downloadFileName(*URL::parse(url)); };
  EXPECT_EQ(name("http://h/a/b/photo%20one.jpg?x=1"), "photo one.jpg");
  EXPECT_EQ(name("http://h/a/"), "index.html");
  EXPECT_EQ(name("http://h"), "index.html");
  EXPECT_EQ(name("http://h/a/.."), std::nullopt);
  EXPECT_EQ(name("http://h/a%2Fb"), std::nullopt);
}

TEST(HttpDownloads, SeveralURLsLandWholeInTheDirectory) {
  test::TempDir dir;
  LoopbackServer server(serveFiles);
  fs::path out = dir / "out";
  fs::create_directories(out);
  // An existing file is replaced and keeps its permissions.
  std::ofstream(out / "two.txt") << "old";
  ::chmod((out / "two.txt").c_str(), 0640);
  auto run = glowsnap(dir, {"http", "--progress", "bar", "-O", out.string(),
                            server.url("/one.txt"), server.url("/two.txt"),
                            server.url("/three.txt")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(namesIn(out), (std::set<std::string>{"one.txt", "two.txt", "three.txt"}));
  for (const char* name : {"one.txt", "two.txt", "three.txt"})
    EXPECT_TRUE(slurp(out / name) == bodyFor(std::string("/") + name)) << name;
  struct stat st {};
  ASSERT_EQ(::stat((out / "two.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // One bar for the whole batch, ending at 100 %.
  EXPECT_NE(run.err.find("download 3 files"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("\r", run.err.find("100%")), std::string::npos) << run.err;
  // Each GET was measured by a HEAD first.
  int heads = 0;
  for (const auto& r : server.requests()) heads += r.method == "HEAD";
  EXPECT_EQ(heads, 3);
}

TEST(HttpDownloads, AFailureSparesTheOthersAndLeavesTheOldFile) {
  test::TempDir dir;
  LoopbackServer server(serveFiles);
  fs::path out = dir / "out";
  fs::create_directories(out);
  std::ofstream(out / "gone.txt") << "kept";
  std::string refused = test::closedLoopbackURL() + "gone.txt";
  auto run = glowsnap(dir, {"http", "-O", out.string(), server.url("/fine.txt"), refused});
  EXPECT_EQ(run.status, 11) << run.err;
  EXPECT_NE(run.err.find(refused + ": HTTPRequestErrorDomain 1: A connection failure occurred"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(namesIn(out), (std::set<std::string>{"fine.txt", "gone.txt"}));
  EXPECT_TRUE(slurp(out / "fine.txt") == bodyFor("/fine.txt"));
  EXPECT_EQ(slurp(out / "gone.txt"), "kept");
}

TEST(HttpDownloads, OutputsArePlannedBeforeAnythingIsFetched) {
  test::TempDir dir;
  LoopbackServer server(serveFiles);
  auto same = glowsnap(dir, {"http", "-O", (dir / "out").string(), server.url("/a/x.txt"),
                             server.url("/b/x.txt")});
  EXPECT_EQ(same.status, 2);
  EXPECT_NE(same.err.find("would both be saved as"), std::string::npos) << same.err;
  auto unnamed = glowsnap(dir, {"http", "-O", (dir / "out").string(), server.url("/a%2F..")});
  EXPECT_EQ(unnamed.status, 2);
  auto several = glowsnap(dir, {"http", server.url("/a"), server.url("/b")});
  EXPECT_EQ(several.status, 2);
  EXPECT_NE(several.err.find("-O DIR"), std::string::npos) << several.err;
  auto withBody = glowsnap(dir, {"http", "-O", (dir / "out").string(), "-d", "x", server.url("/a")});
  EXPECT_EQ(withBody.status, 2);
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST(HttpDownloads, LimitRateHoldsTheTransferToItsBytesPerSecond) {
  test::TempDir dir;
  LoopbackServer server(serveFiles);
  auto bad = glowsnap(dir, {"http", "--limit-rate", "fast", server.url("/a")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--limit-rate 'fast'"), std::string::npos) << bad.err;
  EXPECT_EQ(server.requestCount(), 0u);
  // 70 kB at 32 KiB/s: two seconds' worth, so at least one wait.
  auto start = std::chrono::steady_clock::now();
  auto run = glowsnap(dir, {"http", "--limit-rate", "32k", "-o", (dir / "slow").string(),
                            server.url("/slow")});
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(slurp(dir / "slow") == bodyFor("/slow"));
  EXPECT_GT(seconds, 0.9);
  EXPECT_LT(seconds, 8.0);
}

}  // namespace
}  // namespace glowsnap
