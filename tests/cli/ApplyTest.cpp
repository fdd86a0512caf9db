// `glowsnap apply` on what users hand it: damaged photos, odd sizes and
// names, directories, batches; its messages one line each.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli/CliSupport.h"
#include "cli/ProgressReporter.h"
#include "platform/graphics/ImageIO.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

using test::pixelAt;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t occurrences(const std::string& text, const std::string& word) {
  std::size_t n = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<std::uint8_t> jpegOf(const ImageRef& image) {
  return *imageio::encodeJpeg(*image, 0.9f);
}

TEST(Apply, EveryErrorIsOneLineNamingTheFileAndTheCause) {
  test::TempDir dir;
  auto in = writePng(dir, "a.png", makePhoto(16, 12));
  const auto out = (dir / "b.png").string();
  // An unknown filter: the suggestion on the same line.
  auto r = glowsnap(dir, {"apply", "-f", "hdr clasic", in.string(), "-o", out});
  EXPECT_EQ(r.status, 2);
  ASSERT_EQ(linesOf(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("did you mean \"HDR Classic\""), std::string::npos) << r.err;
  // Numbers: short messages, whatever was typed.
  r = glowsnap(dir, {"apply", "--max-res", "0", in.string(), "-o", out});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "glowsnap: --max-res must be at least 1\n");
  for (const std::string bad :
       {std::string(300, '9'), std::string("1e300"), std::string("-3"), std::string("12px")}) {
    r = glowsnap(dir, {"apply", "--max-res", bad, in.string(), "-o", out});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
    EXPECT_LT(r.err.size(), 80u) << r.err;
  }
  for (const char* bad : {"nan", "inf", "-0.5", "1.5", "high"}) {
    r = glowsnap(dir, {"apply", "--quality", bad, in.string(), "-o", out});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.err, "glowsnap: --quality must be a number from 0 to 1\n") << bad;
  }
  // A format that contradicts the file's name is refused, nothing written.
  r = glowsnap(dir, {"apply", "--format", "png", in.string(), "-o", (dir / "x.jpg").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("x.jpg"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.jpg"));
  // A newline in a name cannot split the line.
  r = glowsnap(dir, {"apply", (dir / "two\nlines.png").string(), "-o", out});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("two\\nlines.png"), std::string::npos) << r.err;
  // The output directory cannot be made: why.
  std::ofstream(dir / "plain.txt") << "a file";
  r = glowsnap(dir, {"apply", in.string(), "-o", (dir / "plain.txt" / "sub/").string()});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("cannot create the output directory (Not a directory)"), std::string::npos)
      << r.err;
  // A write error names the file once.
  r = glowsnap(dir, {"apply", "--progress", "none", in.string(), "-o",
                     (dir / "missing" / "b.png").string()});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
  EXPECT_EQ(occurrences(r.err, "b.png"), 1u) << r.err;
  // Parse errors too.
  r = glowsnap(dir, {"apply", in.string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
}

TEST(Apply, ATrailingSlashOrAnExistingDirectoryMeansDirectoryOutput) {
  test::TempDir dir;
  auto in = writePng(dir, "one.png", makePhoto(20, 10));
  auto r = glowsnap(
      dir, {"apply", "--progress", "none", in.string(), "-o", (dir / "newdir").string() + "/"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "newdir" / "one.png"));
  std::filesystem::create_directory(dir / "there");
  r = glowsnap(dir, {"apply", "--progress", "none", "--format", "jpg", in.string(), "-o",
                     (dir / "there").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "there" / "one.jpg"));
}

TEST(Apply, DamagedJpegsAreFilteredWithAWarningOrRefusedWithStrict) {
  test::TempDir dir;
  auto whole = jpegOf(makePhoto(96, 64));
  // Only the end marker missing: every pixel is there.
  writeBytes(dir / "noend.jpg", {whole.begin(), whole.end() - 2});
  auto r = glowsnap(dir, {"apply", "--progress", "none", (dir / "noend.jpg").string(), "-o",
                          (dir / "noend.png").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(linesOf(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("noend.jpg: warning:"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "noend.png"));
  r = glowsnap(dir, {"apply", "--strict", "--progress", "none", (dir / "noend.jpg").string(), "-o",
                     (dir / "strict.png").string()});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "strict.png"));
  // Scan data overwritten: filtered, but never without a word.
  auto garbled = whole;
  std::mt19937 gen(3);
  for (std::size_t i = garbled.size() * 2 / 3; i < garbled.size() - 20; ++i)
    garbled[i] = static_cast<std::uint8_t>(gen() % 255);
  writeBytes(dir / "garbled.jpg", garbled);
  r = glowsnap(dir, {"apply", "--progress", "none", (dir / "garbled.jpg").string(), "-o",
                     (dir / "garbled.png").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("garbled.jpg: warning: damaged JPEG data"), std::string::npos) << r.err;
  r = glowsnap(dir, {"apply", "--strict", "--progress", "none", (dir / "garbled.jpg").string(),
                     "-o", (dir / "garbled2.png").string()});
  EXPECT_EQ(r.status, 3);
}

TEST(Apply, DevicesAreReadWithTheLimitAndPickedOutAtOnce) {
  test::TempDir dir;
  auto r =
      glowsnap(dir, {"apply", "--progress", "none", "/dev/zero", "-o", (dir / "z.jpg").string()});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "glowsnap: /dev/zero: not a JPEG or PNG image\n");
}

TEST(Apply, OpaqueInOpaqueOutAtEverySize) {
  test::TempDir dir;
  auto in = writePng(dir, "thin.png", test::solidImage(1, 3000, {255, 255, 255, 255}));
  auto r = glowsnap(dir, {"apply", "-f", "More Colors", "--progress", "none", in.string(), "-o",
                          (dir / "thin-out.png").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto out = imageio::decodeFile(dir / "thin-out.png");
  ASSERT_TRUE(out.ok());
  ASSERT_EQ((*out)->width(), 1);
  ASSERT_EQ((*out)->height(), 800);
  for (int y = 0; y < 800; ++y) {
    ASSERT_EQ(pixelAt(**out, 0, y).a, 255) << y;
    ASSERT_GE(pixelAt(**out, 0, y).g, 240) << y;  // white through More Colors: 250
  }
}

TEST(Apply, JpegOutputOfATranslucentPictureIsLaidOverWhite) {
  test::TempDir dir;
  // Grey 128 at half alpha (stored premultiplied: 64).
  auto in = writePng(dir, "ghost.png", test::solidImage(32, 32, {128, 64, 64, 64}));
  auto r = glowsnap(dir, {"apply", "-f", "More Colors", "--progress", "none", in.string(), "-o",
                          (dir / "ghost.jpg").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto out = imageio::decodeFile(dir / "ghost.jpg");
  ASSERT_TRUE(out.ok());
  EXPECT_NEAR(pixelAt(**out, 16, 16).g, 191, 4);
  auto help = glowsnap(dir, {"apply", "--help"});
  EXPECT_NE(help.out.find("laid over white"), std::string::npos);
}

TEST(Apply, ABatchGivesWhatOneByOneRunsGive) {
  test::TempDir dir;
  std::vector<std::string> names;
  for (int i = 0; i < 7; ++i) {
    const std::string name = "p" + std::to_string(i) + (i % 2 ? ".png" : ".jpg");
    if (i % 2)
      writePng(dir, name, makePhoto(300 + i * 37, 200 + i * 11, i));
    else
      writeBytes(dir / name, jpegOf(makePhoto(1200 + i * 50, 900, i)));
    names.push_back(name);
  }
  std::ofstream(dir / "p7.jpg") << "not a photo";
  names.push_back("p7.jpg");
  auto whole = jpegOf(makePhoto(200, 100, 9));
  writeBytes(dir / "p8.jpg", {whole.begin(), whole.end() - 2});  // a warning
  names.push_back("p8.jpg");
  std::vector<std::string> args = {"apply", "-f",         "HDR Color+", "--max-res",
                                   "500",   "--progress", "none"};
  for (const auto& n : names) args.push_back((dir / n).string());
  args.push_back("-o");
  args.push_back((dir / "batch").string());
  auto batch = glowsnap(dir, args);
  EXPECT_EQ(batch.status, 3) << batch.err;

  std::string oneByOne;
  int firstFailure = 0;
  std::filesystem::create_directory(dir / "single");
  for (const auto& n : names) {
    auto r = glowsnap(dir, {"apply", "-f", "HDR Color+", "--max-res", "500", "--progress", "none",
                            (dir / n).string(), "-o", (dir / "single").string() + "/"});
    oneByOne += r.err;
    if (firstFailure == 0) firstFailure = r.status;
  }
  EXPECT_EQ(batch.status, firstFailure);
  EXPECT_EQ(batch.err, oneByOne);
  std::size_t compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "single")) {
    const auto name = entry.path().filename();
    ASSERT_TRUE(std::filesystem::exists(dir / "batch" / name)) << name;
    EXPECT_TRUE(slurp(entry.path()) == slurp(dir / "batch" / name)) << name << " differs";
    ++compared;
  }
  EXPECT_EQ(compared, 8u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "batch"), {}), 8);
}

TEST(Apply, NeverWritesOverAnInput) {
  test::TempDir dir;
  writeBytes(dir / "a.jpg", jpegOf(makePhoto(40, 30, 1)));
  writeBytes(dir / "b.jpg", jpegOf(makePhoto(40, 30, 2)));
  const std::string a = slurp(dir / "a.jpg"), b = slurp(dir / "b.jpg");
  std::filesystem::create_symlink(dir / "a.jpg", dir / "link.jpg");
  std::filesystem::create_hard_link(dir / "b.jpg", dir / "hard.jpg");
  const std::string in = (dir / "a.jpg").string();
  for (const std::vector<std::string>& outputs :
       {std::vector<std::string>{in, "-o", in},                            // itself
        {in, (dir / "b.jpg").string(), "-o", dir.path().string() + "/"},   // dir/*.jpg -o dir/
        {in, "-o", dir.path().string() + "/."},                            // -o . in the folder
        {in, "-o", (dir / "link.jpg").string()},                           // through a link
        {(dir / "b.jpg").string(), "-o", (dir / "hard.jpg").string()}}) {  // another name
    std::vector<std::string> args = {"apply", "--progress", "none"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    auto r = glowsnap(dir, args);
    EXPECT_EQ(r.status, 2) << outputs.back() << ": " << r.err;
    EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("would replace this input"), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(dir / "a.jpg") == a);
    EXPECT_TRUE(slurp(dir / "b.jpg") == b);
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.jpg"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 6);  // + std*.txt
}

TEST(Apply, OutputsAreWrittenThroughLinksAndStraightIntoDevicesAndPipes) {
  test::TempDir dir;
  auto in = writePng(dir, "in.png", makePhoto(30, 20));
  // A symlink: its target gets the result, the link stays.
  std::filesystem::create_directory(dir / "real");
  std::ofstream(dir / "real" / "target.png") << "old";
  std::filesystem::create_symlink(dir / "real" / "target.png", dir / "out.png");
  auto r =
      glowsnap(dir, {"apply", "--progress", "none", in.string(), "-o", (dir / "out.png").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "out.png"));
  EXPECT_TRUE(imageio::decodeFile(dir / "real" / "target.png").ok());
  // A device: written into, left a device.
  r = glowsnap(dir,
               {"apply", "--progress", "none", "--format", "jpg", in.string(), "-o", "/dev/null"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
  // A named pipe: the reader gets the picture.
  const auto fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = slurp(fifo); });
  r = glowsnap(
      dir, {"apply", "--progress", "none", "--format", "png", in.string(), "-o", fifo.string()});
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  const std::vector<std::uint8_t> bytes(received.begin(), received.end());
  EXPECT_TRUE(imageio::decode(bytes).ok());
  // Standard output through /dev/stdout, into a pipe.
  const std::string piped = (dir / "piped.png").string();
  const std::string command = quote(GLOWSNAP_CLI_PATH) + " apply --progress none --format png " +
                              quote(in.string()) + " -o /dev/stdout | cat > " + quote(piped);
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(imageio::decodeFile(piped).ok());
  // A directory where a file should go is an error, and stays.
  std::filesystem::create_directories(dir / "batch" / "in.png");
  r = glowsnap(dir,
               {"apply", "--progress", "none", in.string(), "-o", (dir / "batch").string() + "/"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("is a directory"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::is_directory(dir / "batch" / "in.png"));
}

// Runs glowsnap on a batch writing into out, sends sig as soon as a
// temporary file appears there, and answers the raw wait status.
int interruptWhileWriting(const std::vector<std::string>& inputs, const std::filesystem::path& out,
                          int sig, bool& sawTemporary) {
  std::filesystem::create_directories(out);
  const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  EXPECT_GE(watch, 0);
  ::inotify_add_watch(watch, out.c_str(), IN_CREATE);
  std::vector<std::string> args = {GLOWSNAP_CLI_PATH, "apply", "--progress", "none",
                                   "--max-res",       "4096"};
  args.insert(args.end(), inputs.begin(), inputs.end());
  args.push_back("-o");
  args.push_back(out.string());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  sawTemporary = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  bool exited = false;
  while (!sawTemporary && std::chrono::steady_clock::now() < deadline) {
    pollfd p{watch, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      alignas(inotify_event) char buffer[4096];
      const ssize_t n = ::read(watch, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        if (e->len > 0 && e->name[0] == '.') sawTemporary = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      break;
    }
  }
  if (!exited) {
    ::kill(pid, sig);
    while (std::chrono::steady_clock::now() < deadline && ::waitpid(pid, &status, WNOHANG) != pid)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "glowsnap did not end within a minute of signal " << sig;
    }
  }
  ::close(watch);
  return status;
}

TEST(Apply, AnInterruptRemovesTheTemporaryFilesAndExitsWith128PlusTheSignal) {
  test::TempDir dir;
  std::vector<std::string> inputs;
  for (int i = 0; i < 5; ++i)
    inputs.push_back(
        writePng(dir, "big" + std::to_string(i) + ".png", makePhoto(1200, 900, i)).string());
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE("signal " + std::to_string(sig));
    const auto out = dir / ("out" + std::to_string(sig));
    bool sawTemporary = false;
    const int status = interruptWhileWriting(inputs, out, sig, sawTemporary);
    ASSERT_TRUE(sawTemporary) << "no temporary file appeared before the batch ended";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal, not by its handler";
    EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
    for (const auto& entry : std::filesystem::directory_iterator(out))
      EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  }
}

TEST(ProgressBar, FitsTheTerminalShortensTheNameAndSaysEncoding) {
  std::FILE* err = std::tmpfile();
  ASSERT_NE(err, nullptr);
  cli::ProgressReporter reporter(cli::ProgressReporter::Style::Bar, stdout, err, 80);
  const std::string name =
      "a_photo_with_a_name_much_longer_than_any_terminal_is_wide_"
      "really_much_longer_than_that.jpg";
  reporter.begin(name, "HDR Color+", 3, 16);
  reporter.progress("42.500000");
  reporter.end();
  const std::string encoding = reporter.barLine(1.0, true);
  reporter.finish();
  std::fflush(err);
  std::rewind(err);
  std::string all;
  for (int c; (c = std::fgetc(err)) != EOF;) all += static_cast<char>(c);
  std::fclose(err);
  // Every drawing of the line fits 79 columns (the last one stays free).
  std::size_t drawings = 0;
  for (std::size_t at = 0; (at = all.find("\r\033[K", at)) != std::string::npos; at += 4) {
    const std::size_t end = std::min(all.find('\r', at + 4), all.find('\n', at + 4));
    std::string line = all.substr(at + 4, end - at - 4);
    int columns = 0;
    for (unsigned char c : line) columns += (c & 0xC0) != 0x80;
    EXPECT_LE(columns, 79) << line;
    EXPECT_NE(line.find("\xE2\x80\xA6"), std::string::npos) << "not shortened: " << line;
    EXPECT_NE(line.find("photo 3 of 16"), std::string::npos) << line;
    EXPECT_NE(line.find("a_photo_with"), std::string::npos) << line;
    EXPECT_NE(line.find("that.jpg"), std::string::npos) << line;
    ++drawings;
  }
  EXPECT_GE(drawings, 4u);
  EXPECT_NE(encoding.find("100%"), std::string::npos);
  EXPECT_NE(encoding.find("encoding"), std::string::npos);
  // Once written, the line is closed without "encoding".
  const auto last = all.rfind("\r\033[K");
  EXPECT_EQ(all.substr(last).find("encoding"), std::string::npos);
  EXPECT_EQ(all.back(), '\n');
}

}  // namespace
}  // namespace glowsnap
