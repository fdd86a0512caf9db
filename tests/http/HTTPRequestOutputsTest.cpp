// What a request reads and writes on disk, against real servers on
// loopback: bodies made of pieces (the caller's files are read, never
// written), every kind of output a download may be given, resuming after a
// complete part, the bytes that arrived before a connection failure, and a
// body handed to a consumer as it arrives.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "http/GzipCodec.h"
#include "http/HTTPRequest.h"
#include "http/TestEnvironment.h"
#include "support/ChildProcess.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

namespace glowsnap::test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::size_t filesIn(const fs::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

std::shared_ptr<HTTPRequest> requestFor(const std::string& url) {
  return HTTPRequest::requestWithURL(URL::parse(url));
}

std::string pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + i / 251) & 0xff);
  return s;
}

// --- bodies ---------------------------------------------------------------------

TEST(RequestBodyPieces, FileAndTextArriveInOrderAndTheFileIsNeverWritten) {
  TempDir dir;
  const std::string content = pattern(700000);
  writeFile(dir / "data.bin", content);
  const auto before = fs::last_write_time(dir / "data.bin");
  LoopbackServer server([](const RawRequest&, ServerConnection& c) { c.respond(200, "ok"); });
  std::size_t temporaries = filesIn(testTemporaryDirectory());

  auto fileFirst = requestFor(server.url("/a"));
  fileFirst->setShouldStreamPostDataFromDisk(true);
  fileFirst->appendPostDataFromFile((dir / "data.bin").string());
  fileFirst->appendPostData(bytesFromString("TEXT"));
  fileFirst->start();
  ASSERT_EQ(fileFirst->error(), nullptr);

  auto textFirst = requestFor(server.url("/b"));
  textFirst->setShouldStreamPostDataFromDisk(true);
  textFirst->appendPostData(bytesFromString("TEXT"));
  textFirst->appendPostDataFromFile((dir / "data.bin").string());
  textFirst->start();
  ASSERT_EQ(textFirst->error(), nullptr);

  // A caller's own body file, with more appended: the file stays as it was.
  auto own = requestFor(server.url("/c"));
  own->setShouldStreamPostDataFromDisk(true);
  own->setPostBodyFilePath((dir / "data.bin").string());
  own->appendPostData(bytesFromString("TAIL"));
  own->start();
  ASSERT_EQ(own->error(), nullptr);

  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_TRUE(seen[0].body == content + "TEXT");
  EXPECT_TRUE(seen[1].body == "TEXT" + content);
  EXPECT_TRUE(seen[2].body == content + "TAIL");
  EXPECT_EQ(seen[0].header("Content-Length"), std::to_string(content.size() + 4));
  EXPECT_TRUE(readFile(dir / "data.bin") == content);
  EXPECT_EQ(fs::last_write_time(dir / "data.bin"), before);
  EXPECT_TRUE(fs::exists(dir / "data.bin"));
  // Nothing was copied anywhere.
  EXPECT_EQ(filesIn(testTemporaryDirectory()), temporaries);
}

TEST(RequestBodyPieces, AMissingFileFailsNamingItAndNothingIsSent) {
  TempDir dir;
  LoopbackServer server([](const RawRequest&, ServerConnection& c) { c.respond(200, "ok"); });
  for (bool onDisk : {true, false}) {
    SCOPED_TRACE(onDisk ? "on disk" : "in memory");
    auto request = requestFor(server.url("/"));
    request->setShouldStreamPostDataFromDisk(onDisk);
    request->appendPostDataFromFile((dir / "missing.txt").string());
    request->start();
    ASSERT_NE(request->error(), nullptr);
    EXPECT_EQ(request->error()->code, 8);
    EXPECT_NE(request->error()->description.find((dir / "missing.txt").string()),
              std::string::npos)
        << request->error()->description;
  }
  auto directory = requestFor(server.url("/"));
  directory->setShouldStreamPostDataFromDisk(true);
  directory->appendPostDataFromFile(dir.path().string());
  directory->start();
  ASSERT_NE(directory->error(), nullptr);
  EXPECT_EQ(directory->error()->code, 8);
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST(RequestBodyPieces, EveryAttemptSendsTheWholeBodyAgainAndItsGzipFormIsRemoved) {
  TempDir dir;
  const std::string content = pattern(300000);
  writeFile(dir / "data.bin", content);
  LoopbackServer server([&](const RawRequest& r, ServerConnection& c) {
    if (r.target == "/first")
      c.respond(307, "", {{"Location", "/second"}});
    else
      c.respond(200, "ok");
  });
  std::size_t temporaries = filesIn(testTemporaryDirectory());
  auto request = requestFor(server.url("/first"));
  request->setShouldStreamPostDataFromDisk(true);
  request->appendPostData(bytesFromString("head:"));
  request->appendPostDataFromFile((dir / "data.bin").string());
  request->setShouldCompressRequestBody(true);
  request->start();
  ASSERT_EQ(request->error(), nullptr) << request->error()->description;
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& r : seen) {
    EXPECT_EQ(r.header("Content-Encoding"), "gzip");
    auto decoded = GzipCodec::uncompressZippedData(bytesFromString(r.body), 1 << 30);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(stringFromBytes(*decoded) == "head:" + content);
  }
  EXPECT_EQ(filesIn(testTemporaryDirectory()), temporaries);
  EXPECT_TRUE(readFile(dir / "data.bin") == content);
}

// --- outputs --------------------------------------------------------------------

TEST(DownloadOutputs, ASymlinkIsWrittenThroughAndStays) {
  TempDir dir;
  LoopbackServer server([](const RawRequest&, ServerConnection& c) { c.respond(200, "new"); });
  writeFile(dir / "target.txt", "old");
  fs::create_symlink("target.txt", dir / "link.txt");
  auto request = requestFor(server.url("/"));
  request->setDownloadDestinationPath((dir / "link.txt").string());
  request->start();
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(readFile(dir / "target.txt"), "new");
  EXPECT_EQ(filesIn(dir.path()), 2u);
}

TEST(DownloadOutputs, AFifoIsWrittenStraightIntoAndADirectoryIsRefused) {
  TempDir dir;
  const std::string body = pattern(200000);
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) { c.respond(200, body); });
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  // The test holds a writer of its own while the request runs, so the
  // reader sees the end only after both, and never waits past its deadline.
  int readEnd = ::open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(readEnd, 0);
  int ownWriter = ::open((dir / "pipe").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(ownWriter, 0);
  std::atomic<bool> ownWriterClosed{false};
  std::string received;
  std::thread reader([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buffer[65536];
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{readEnd, POLLIN, 0};
      ::poll(&p, 1, 100);
      ssize_t n = ::read(readEnd, buffer, sizeof buffer);
      if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
      if (n == 0 && ownWriterClosed) break;
    }
  });
  auto request = requestFor(server.url("/"));
  request->setDownloadDestinationPath((dir / "pipe").string());
  request->start();
  ::close(ownWriter);
  ownWriterClosed = true;
  reader.join();
  ::close(readEnd);
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_TRUE(received == body);
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  fs::create_directory(dir / "empty");
  auto refused = requestFor(server.url("/"));
  refused->setDownloadDestinationPath((dir / "empty").string());
  refused->start();
  ASSERT_NE(refused->error(), nullptr);
  EXPECT_EQ(refused->error()->code, 8);
  EXPECT_NE(refused->error()->description.find("is a directory"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(dir / "empty"));
  // Refused before anything was sent.
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST(DownloadOutputs, ACharacterDeviceStaysADevice) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
  TempDir dir;
  LoopbackServer server([](const RawRequest&, ServerConnection& c) { c.respond(200, "gone"); });
  // A private node of the null device, so the system's own is never at stake.
  ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  auto request = requestFor(server.url("/"));
  request->setDownloadDestinationPath((dir / "null").string());
  request->start();
  ASSERT_EQ(request->error(), nullptr);
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "null").c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST(DownloadOutputs, AFailedDownloadLeavesTheDestinationAndNoTemporary) {
  TempDir dir;
  LoopbackServer server([](const RawRequest&, ServerConnection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'));
    c.reset();
  });
  writeFile(dir / "out.bin", "precious");
  auto request = requestFor(server.url("/"));
  request->setDownloadDestinationPath((dir / "out.bin").string());
  request->start();
  ASSERT_NE(request->error(), nullptr);
  EXPECT_EQ(readFile(dir / "out.bin"), "precious");
  EXPECT_EQ(filesIn(dir.path()), 1u);
}

// --- resuming ---------------------------------------------------------------------

TEST(DownloadResume, A416ForACompletePartFinishesAndAnyOther416KeepsThePart) {
  TempDir dir;
  const std::string content = pattern(1000);
  std::string total = "1000";
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) {
    c.respond(416, "<html>Requested Range Not Satisfiable</html>",
              {{"Content-Range", "bytes */" + total}});
  });
  auto resume = [&] {
    auto request = requestFor(server.url("/file"));
    request->setDownloadDestinationPath((dir / "file").string());
    request->setTemporaryFileDownloadPath((dir / "file.part").string());
    request->setAllowResumeForFileDownloads(true);
    request->start();
    return request;
  };
  writeFile(dir / "file.part", content);
  auto complete = resume();
  ASSERT_EQ(complete->error(), nullptr);
  EXPECT_EQ(server.requests().back().header("Range"), "bytes=1000-");
  EXPECT_TRUE(readFile(dir / "file") == content);
  EXPECT_FALSE(fs::exists(dir / "file.part"));

  fs::remove(dir / "file");
  writeFile(dir / "file.part", content);
  total = "5000";
  auto refused = resume();
  ASSERT_NE(refused->error(), nullptr);
  EXPECT_EQ(refused->error()->code, 8);
  EXPECT_NE(refused->error()->description.find("416"), std::string::npos);
  EXPECT_TRUE(readFile(dir / "file.part") == content);
  EXPECT_FALSE(fs::exists(dir / "file"));
}

// --- connection failures ------------------------------------------------------------

// Sends a head announcing 10,000,000 bytes, then 5,000,000 of them, waits
// until the peer has acknowledged them all and resets the connection.
void sendHalfThenReset(ServerConnection& c, const std::string& half) {
  c.send("HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n");
  c.send(half);
  waitUntil(
      [&] {
        int pending = 0;
        return ::ioctl(c.fd(), SIOCOUTQ, &pending) == 0 && pending == 0;
      },
      std::chrono::seconds(20));
  c.reset();
}

TEST(ConnectionFailure, EveryByteReceivedBeforeAResetIsKept) {
  TempDir dir;
  const std::string half = pattern(5000000);
  LoopbackServer server([&](const RawRequest&, ServerConnection& c) { sendHalfThenReset(c, half); });

  auto toFile = requestFor(server.url("/big"));
  toFile->setDownloadDestinationPath((dir / "big").string());
  toFile->setTemporaryFileDownloadPath((dir / "big.part").string());
  toFile->setAllowResumeForFileDownloads(true);
  toFile->start();
  ASSERT_NE(toFile->error(), nullptr);
  EXPECT_EQ(toFile->error()->code, 1);
  EXPECT_EQ(fs::file_size(dir / "big.part"), half.size());
  EXPECT_TRUE(readFile(dir / "big.part") == half);

  // A slow consumer, so that the stream holds bytes it has not handed over
  // yet when the reset comes (whether it does at that very moment depends on
  // timing: a few rounds).
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string consumed;
    bool failedWhenConsumed = false;
    auto toConsumer = requestFor(server.url("/big"));
    toConsumer->setResponseBodyConsumer([&](const std::uint8_t* b, std::size_t n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(4));
      failedWhenConsumed |= toConsumer->error() != nullptr;
      consumed.append(reinterpret_cast<const char*>(b), n);
      return std::optional<std::string>();
    });
    toConsumer->start();
    ASSERT_NE(toConsumer->error(), nullptr);
    EXPECT_EQ(toConsumer->error()->code, 1);
    EXPECT_EQ(consumed.size(), half.size());
    EXPECT_TRUE(consumed == half);
    EXPECT_FALSE(failedWhenConsumed);
    toConsumer->setResponseBodyConsumer(nullptr);
  }
}

// --- a consumer of the body ------------------------------------------------------------

TEST(BodyConsumer, GetsTheDecodedBodyAndNothingIsKept) {
  const std::string plain = pattern(3000000);
  auto gzip = GzipCodec::compressData(bytesFromString(plain));
  ASSERT_TRUE(gzip.has_value());
  std::string body = stringFromBytes(*gzip);
  LoopbackServer server([&](const RawRequest& r, ServerConnection& c) {
    if (r.target == "/corrupt")
      c.respond(200, body.substr(0, 100) + std::string(5000, 'z'), {{"Content-Encoding", "gzip"}});
    else
      c.respond(200, body, {{"Content-Encoding", "gzip"}});
  });
  std::string got;
  auto collect = [&](const std::uint8_t* b, std::size_t n) {
    got.append(reinterpret_cast<const char*>(b), n);
    return std::optional<std::string>();
  };
  auto request = requestFor(server.url("/gz"));
  request->setResponseBodyConsumer(collect);
  request->start();
  ASSERT_EQ(request->error(), nullptr);
  EXPECT_TRUE(got == plain);
  EXPECT_FALSE(request->rawResponseData().has_value());

  auto corrupt = requestFor(server.url("/corrupt"));
  corrupt->setResponseBodyConsumer(collect);
  corrupt->start();
  ASSERT_NE(corrupt->error(), nullptr);
  EXPECT_EQ(corrupt->error()->code, 8);
  EXPECT_NE(corrupt->error()->description.find("could not be decoded"), std::string::npos);

  auto refusing = requestFor(server.url("/gz"));
  refusing->setResponseBodyConsumer([](const std::uint8_t*, std::size_t) {
    return std::optional<std::string>("the disk is full");
  });
  refusing->start();
  ASSERT_NE(refusing->error(), nullptr);
  EXPECT_EQ(refusing->error()->description, "the disk is full");
}

TEST(BodyInMemory, AGzipBodyOverTheLimitSaysSoRatherThanCorrupt) {
  const std::string zeros(4u << 20, '\0');
  auto gzip = GzipCodec::compressData(bytesFromString(zeros));
  ASSERT_TRUE(gzip.has_value());
  std::string body = stringFromBytes(*gzip);
  LoopbackServer server([&](const RawRequest& r, ServerConnection& c) {
    c.respond(200, r.target == "/bad" ? "\x1f\x8b\x08\x00junk" : body,
              {{"Content-Encoding", "gzip"}});
  });
  const auto limit = HTTPRequest::maxUncompressedDataLength();
  HTTPRequest::setMaxUncompressedDataLength(1u << 20);
  auto large = requestFor(server.url("/large"));
  large->start();
  auto bad = requestFor(server.url("/bad"));
  bad->start();
  HTTPRequest::setMaxUncompressedDataLength(limit);
  ASSERT_EQ(large->error(), nullptr);
  HTTPRequest::setMaxUncompressedDataLength(1u << 20);
  EXPECT_FALSE(large->responseData().has_value());
  auto why = large->responseDataProblem();
  ASSERT_TRUE(why.has_value());
  EXPECT_NE(why->find("more than the in-memory limit of 1048576 bytes"), std::string::npos) << *why;
  auto corrupt = bad->responseDataProblem();
  ASSERT_TRUE(corrupt.has_value());
  EXPECT_EQ(*corrupt, "The gzip-encoded body could not be decoded");
  HTTPRequest::setMaxUncompressedDataLength(limit);
  EXPECT_TRUE(large->responseData().has_value());
  EXPECT_FALSE(large->responseDataProblem().has_value());
}

}  // namespace
}  // namespace glowsnap::test
