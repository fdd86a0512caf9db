// HTTP client against curl on the same loopback server, in one run:
// a 1 GiB download to a file and to standard output, a 256 MiB multipart
// upload from disk, and a
// request that waits 9 s on a silent server. Both tools run as child
// processes of this benchmark, so wall time, peak resident memory and CPU
// time are measured the same way for each. The server lives in this process
// on 127.0.0.1 and never stores what it receives.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kDownloadBytes = 1ull << 30;
constexpr std::uint64_t kUploadBytes = 256ull << 20;
constexpr double kSilentSeconds = 9.0;
constexpr std::uint64_t kThrottledBytes = 16ull << 20;
constexpr std::uint64_t kThrottleLimit = 1ull << 20;

// A minimal HTTP/1.1 server: GET /big sends kDownloadBytes, GET /throttled
// kThrottledBytes, POST reads and drops its body, GET /silent never
// answers. One thread per connection.
class BenchServer {
 public:
  BenchServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { acceptLoop(); });
  }
  ~BenchServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void acceptLoop() {
    while (!stop_) {
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      std::thread([c] { serve(c); }).detach();
    }
  }
  static void serve(int c) {
    std::string head;
    char buf[1 << 16];
    while (head.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) return (void)::close(c);
      head.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t end = head.find("\r\n\r\n") + 4;
    std::uint64_t already = head.size() - end;
    if (head.rfind("GET /silent", 0) == 0) {
      // Hold the connection until the client gives up.
      while (::recv(c, buf, sizeof buf, 0) > 0) {
      }
      return (void)::close(c);
    }
    if (head.rfind("POST", 0) == 0) {
      std::uint64_t length = 0;
      auto at = head.find("Content-Length:");
      if (at == std::string::npos) at = head.find("content-length:");
      if (at != std::string::npos) length = std::strtoull(head.c_str() + at + 15, nullptr, 10);
      std::uint64_t got = already;
      while (got < length) {
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        got += static_cast<std::uint64_t>(n);
      }
      std::string body = std::to_string(got);
      std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body;
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      return (void)::close(c);
    }
    const std::uint64_t total =
        head.rfind("GET /throttled", 0) == 0 ? kThrottledBytes : kDownloadBytes;
    std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: " +
        std::to_string(total) + "\r\nConnection: close\r\n\r\n";
    ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
    std::uint64_t sent = 0;
    while (sent < total) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), total - sent));
      ssize_t w = ::send(c, block.data(), n, MSG_NOSIGNAL);
      if (w <= 0) break;
      sent += static_cast<std::uint64_t>(w);
    }
    ::close(c);
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;
  double maxRssMiB = 0;
  int status = -1;
  std::string output;
};

fs::path workDir();

// Runs argv as a child; its stdout is kept in Run::output, stderr dropped.
Run runChild(const std::vector<std::string>& args) {
  fs::path outFile = workDir() / "child-output";
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    std::FILE* devnull = std::fopen("/dev/null", "w");
    std::FILE* out = std::fopen(outFile.c_str(), "w");
    ::dup2(::fileno(out), 1);
    ::dup2(::fileno(devnull), 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::FILE* in = std::fopen(outFile.c_str(), "r");
  char buf[256];
  std::size_t n = in ? std::fread(buf, 1, sizeof buf, in) : 0;
  if (in) std::fclose(in);
  r.output.assign(buf, n);
  return r;
}

BenchServer& server() {
  static BenchServer s;
  return s;
}

fs::path workDir() {
  static fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "glowsnap-http-bench-XXXXXX").string();
    return fs::path(::mkdtemp(pattern.data()));
  }();
  return dir;
}

fs::path uploadFile() {
  fs::path p = workDir() / "upload.bin";
  if (!fs::exists(p)) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 17);
    for (std::uint64_t i = 0; i < kUploadBytes / block.size(); ++i)
      std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
  }
  return p;
}

std::map<std::string, Run> g_runs;

// The ratios use each tool's best repetition: the machine may be busy with
// other work, and the best run is the least disturbed one.
void report(benchmark::State& state, const std::string& key, const Run& r, double bytes) {
  auto it = g_runs.find(key);
  if (it == g_runs.end() || r.seconds < it->second.seconds) g_runs[key] = r;
  state.SetIterationTime(r.seconds);
  state.counters["MiB/s"] = bytes / r.seconds / (1 << 20);
  state.counters["maxRSS_MiB"] = r.maxRssMiB;
  state.counters["cpu_s"] = r.cpuSeconds;
  state.counters["exit"] = r.status;
}

void BM_Download1GiB(benchmark::State& state, bool glowsnap) {
  fs::path out = workDir() / (glowsnap ? "download-glowsnap.bin" : "download-curl.bin");
  for (auto _ : state) {
    Run r = glowsnap ? runChild({GLOWSNAP_CLI, "http", "-o", out.string(), server().url("/big")})
                     : runChild({"curl", "-sS", "-o", out.string(), server().url("/big")});
    report(state, std::string("download/") + (glowsnap ? "glowsnap" : "curl"), r,
           static_cast<double>(kDownloadBytes));
    std::error_code ec;
    state.counters["complete"] = fs::file_size(out, ec) == kDownloadBytes ? 1 : 0;
    fs::remove(out, ec);
  }
}

// The body to standard output (redirected to a file), as `glowsnap http URL
// > out` is used: the stream is written as it arrives.
void BM_DownloadStdout1GiB(benchmark::State& state, bool glowsnap) {
  for (auto _ : state) {
    Run r = glowsnap ? runChild({GLOWSNAP_CLI, "http", server().url("/big")})
                     : runChild({"curl", "-sS", server().url("/big")});
    report(state, std::string("stdout/") + (glowsnap ? "glowsnap" : "curl"), r,
           static_cast<double>(kDownloadBytes));
    std::error_code ec;
    state.counters["complete"] =
        fs::file_size(workDir() / "child-output", ec) == kDownloadBytes ? 1 : 0;
  }
}

// curl is told not to send "Expect: 100-continue" (and wait up to a second
// for an answer the server never gives); the client never sends it.
void BM_Upload256MiB(benchmark::State& state, bool glowsnap) {
  std::string file = uploadFile().string();
  for (auto _ : state) {
    Run r = glowsnap ? runChild({GLOWSNAP_CLI, "http", "-F", "note=bench", "-F", "media=@" + file,
                                 server().url("/upload")})
                     : runChild({"curl", "-sS", "-H", "Expect:", "-F", "note=bench", "-F",
                                 "media=@" + file, server().url("/upload")});
    report(state, std::string("upload/") + (glowsnap ? "glowsnap" : "curl"), r,
           static_cast<double>(kUploadBytes));
    // The server answers with the number of body bytes it received.
    state.counters["received_MiB"] = std::strtod(r.output.c_str(), nullptr) / (1 << 20);
  }
}

void BM_SilentServer9s(benchmark::State& state, bool glowsnap) {
  std::string seconds = std::to_string(static_cast<int>(kSilentSeconds));
  for (auto _ : state) {
    Run r = glowsnap
                ? runChild({GLOWSNAP_CLI, "http", "--timeout", seconds, server().url("/silent")})
                : runChild({"curl", "-sS", "-m", seconds, server().url("/silent")});
    report(state, std::string("silent/") + (glowsnap ? "glowsnap" : "curl"), r, 0);
    state.counters["cpu_percent"] = 100.0 * r.cpuSeconds / r.seconds;
  }
}

BENCHMARK_CAPTURE(BM_Download1GiB, curl, false)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Download1GiB, glowsnap, true)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DownloadStdout1GiB, curl, false)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DownloadStdout1GiB, glowsnap, true)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Upload256MiB, curl, false)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Upload256MiB, glowsnap, true)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
// The same file sent as a plain body straight from disk (-d @FILE): the
// form upload sends its file part the same way, after the form's text.
void BM_UploadRaw256MiB(benchmark::State& state) {
  std::string file = uploadFile().string();
  for (auto _ : state) {
    Run r = runChild({GLOWSNAP_CLI, "http", "-d", "@" + file, server().url("/upload")});
    report(state, "upload-raw/glowsnap", r, static_cast<double>(kUploadBytes));
    state.counters["received_MiB"] = std::strtod(r.output.c_str(), nullptr) / (1 << 20);
  }
}
BENCHMARK(BM_UploadRaw256MiB)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

// A 16 MiB download held to 1 MiB/s by each tool's --limit-rate; the
// figure is the rate each one kept to.
void BM_Throttled16MiB(benchmark::State& state, bool glowsnap) {
  fs::path out = workDir() / (glowsnap ? "throttled-glowsnap.bin" : "throttled-curl.bin");
  std::string limit = std::to_string(kThrottleLimit);
  for (auto _ : state) {
    Run r = glowsnap ? runChild({GLOWSNAP_CLI, "http", "--limit-rate", limit, "-o", out.string(),
                                 server().url("/throttled")})
                     : runChild({"curl", "-sS", "--limit-rate", limit, "-o", out.string(),
                                 server().url("/throttled")});
    report(state, std::string("throttled/") + (glowsnap ? "glowsnap" : "curl"), r,
           static_cast<double>(kThrottledBytes));
    std::error_code ec;
    state.counters["complete"] = fs::file_size(out, ec) == kThrottledBytes ? 1 : 0;
    state.counters["percent_of_limit"] =
        100.0 * static_cast<double>(kThrottledBytes) / r.seconds / static_cast<double>(kThrottleLimit);
    fs::remove(out, ec);
  }
}
BENCHMARK_CAPTURE(BM_Throttled16MiB, curl, false)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Throttled16MiB, glowsnap, true)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_SilentServer9s, curl, false)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SilentServer9s, glowsnap, true)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void printRatios() {
  auto ratio = [](const char* what) {
    auto c = g_runs.find(std::string(what) + "/curl");
    auto g = g_runs.find(std::string(what) + "/glowsnap");
    if (c == g_runs.end() || g == g_runs.end()) return;
    std::printf(
        "%-9s glowsnap %.2f s (max RSS %.1f MiB, exit %d), curl %.2f s (max RSS %.1f MiB):"
        " throughput %.0f%% of curl's\n",
        what, g->second.seconds, g->second.maxRssMiB, g->second.status, c->second.seconds,
        c->second.maxRssMiB, 100.0 * c->second.seconds / g->second.seconds);
  };
  ratio("download");
  ratio("stdout");
  ratio("upload");
  auto raw = g_runs.find("upload-raw/glowsnap");
  auto curlUp = g_runs.find("upload/curl");
  if (raw != g_runs.end() && curlUp != g_runs.end())
    std::printf(
        "upload    as a plain body (-d @FILE): %.2f s, %.0f%% of curl's form upload\n",
        raw->second.seconds, 100.0 * curlUp->second.seconds / raw->second.seconds);
  auto tg = g_runs.find("throttled/glowsnap");
  auto tc = g_runs.find("throttled/curl");
  if (tg != g_runs.end() && tc != g_runs.end()) {
    auto rate = [](const Run& r) {
      return 100.0 * static_cast<double>(kThrottledBytes) / r.seconds /
             static_cast<double>(kThrottleLimit);
    };
    std::printf(
        "throttled glowsnap %.2f s (%.1f%% of the limit, exit %d), curl %.2f s (%.1f%% of the "
        "limit)\n",
        tg->second.seconds, rate(tg->second), tg->second.status, tc->second.seconds,
        rate(tc->second));
  }
  auto g = g_runs.find("silent/glowsnap");
  auto c = g_runs.find("silent/curl");
  if (g != g_runs.end() && c != g_runs.end())
    std::printf("silent    glowsnap %.2f%% of a core over %.1f s (exit %d), curl %.2f%%\n",
                100.0 * g->second.cpuSeconds / g->second.seconds, g->second.seconds,
                g->second.status, 100.0 * c->second.cpuSeconds / c->second.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printRatios();
  std::error_code ec;
  fs::remove_all(workDir(), ec);
  return 0;
}
