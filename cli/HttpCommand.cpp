#include "cli/HttpCommand.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/ApplyCommand.h"
#include "cli/HttpAccessOptions.h"
#include "cli/HttpDownloads.h"
#include "cli/HttpProgressBar.h"
#include "http/FormDataRequest.h"
#include "http/HTTPRequest.h"

namespace glowsnap::cli {
namespace {

struct HttpOptions {
  std::string method;
  std::vector<std::string> headers;
  std::vector<std::string> data;
  std::vector<std::string> form;
  std::string output;
  bool resume = false;
  double timeout = 10.0;
  bool noVerify = false;
  bool include = false;
  std::string progress = "none";
  std::string limitRate;
  std::string outputDirectory;
  // Every URL given; url is the first.
  std::vector<std::string> urls;
  std::string url;
  HttpAccessOptions access;
};

using ProgressBar = HttpProgressBar;

bool splitHeader(const std::string& text, std::string& name, std::string& value) {
  auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  name = text.substr(0, colon);
  value = text.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
  return true;
}

// "RATE" in bytes per second, with an optional k, m or g (1024-based) as
// curl reads it; nothing when it is not one.
std::optional<std::uint32_t> parseRate(const std::string& text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  std::size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (...) {
    return std::nullopt;
  }
  std::string unit = text.substr(used);
  double scale = 1;
  if (unit == "k" || unit == "K")
    scale = 1024.0;
  else if (unit == "m" || unit == "M")
    scale = 1024.0 * 1024;
  else if (unit == "g" || unit == "G")
    scale = 1024.0 * 1024 * 1024;
  else if (!unit.empty())
    return std::nullopt;
  double bytes = value * scale;
  if (!(bytes >= 0) || bytes > 4294967295.0) return std::nullopt;
  return static_cast<std::uint32_t>(bytes);
}

int run(const HttpOptions& o) {
  HTTPRequest::setApplicationInfo({{"CFBundleName", "glowsnap"}, {"CFBundleVersion", "0.1.0"}});
  if (!o.limitRate.empty()) {
    auto rate = parseRate(o.limitRate);
    if (!rate) {
      std::fprintf(stderr,
                   "glowsnap http: --limit-rate '%s': expected bytes per second, optionally "
                   "with k, m or g (1024-based)\n",
                   o.limitRate.c_str());
      return kExitUsage;
    }
    // 0 leaves the transfer unlimited.
    HTTPRequest::setMaxBandwidthPerSecond(*rate);
  }
  if (!o.outputDirectory.empty()) {
    if (!o.output.empty() || o.resume || o.include || !o.data.empty() || !o.form.empty() ||
        !o.method.empty()) {
      std::fprintf(stderr,
                   "glowsnap http: -O downloads with GET; it cannot be combined with -o, "
                   "--resume, -i, -d, -F or -X\n");
      return kExitUsage;
    }
    HttpDownloadOptions d;
    d.urls = o.urls;
    d.directory = o.outputDirectory;
    for (const auto& h : o.headers) {
      std::string name, value;
      if (!splitHeader(h, name, value)) {
        std::fprintf(stderr, "glowsnap http: -H '%s': expected 'Name: value'\n", h.c_str());
        return kExitUsage;
      }
      d.headers.emplace_back(name, value);
    }
    d.timeout = o.timeout;
    d.noVerify = o.noVerify;
    d.progressBar = o.progress == "bar";
    d.access = &o.access;
    return runDownloads(d);
  }
  if (o.urls.size() != 1) {
    std::fprintf(stderr, "glowsnap http: several URLs are downloaded with -O DIR\n");
    return kExitUsage;
  }
  std::optional<URL> url = URL::parse(o.url);
  std::shared_ptr<HTTPRequest> request;
  std::shared_ptr<FormDataRequest> form;
  if (!o.form.empty()) {
    form = FormDataRequest::requestWithURL(url);
    request = form;
  } else {
    request = HTTPRequest::requestWithURL(url);
  }
  for (const auto& h : o.headers) {
    std::string name, value;
    if (!splitHeader(h, name, value)) {
      std::fprintf(stderr, "glowsnap http: -H '%s': expected 'Name: value'\n", h.c_str());
      return kExitUsage;
    }
    request->addRequestHeader(name, value);
  }
  for (const auto& f : o.form) {
    auto eq = f.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "glowsnap http: -F '%s': expected name=value or name=@file\n",
                   f.c_str());
      return kExitUsage;
    }
    std::string name = f.substr(0, eq);
    std::string value = f.substr(eq + 1);
    if (!value.empty() && value[0] == '@')
      form->setFile(value.substr(1), name);
    else
      form->setPostValue(value, name);
  }
  // With a file among them the body is made of pieces in order, each
  // sent from where it is: the caller's files are read, never written.
  bool fromFiles = false;
  for (const auto& d : o.data) fromFiles |= !d.empty() && d[0] == '@';
  if (fromFiles) request->setShouldStreamPostDataFromDisk(true);
  for (const auto& d : o.data) {
    if (!d.empty() && d[0] == '@')
      request->appendPostDataFromFile(d.substr(1));
    else
      request->appendPostData(Bytes(d.begin(), d.end()));
  }
  if (!o.method.empty()) request->setRequestMethod(o.method);
  if (auto problem = o.access.applyTo(*request)) {
    std::fprintf(stderr, "glowsnap http: %s\n", problem->c_str());
    return kExitUsage;
  }
  const bool toStdout = o.output.empty() || o.output == "-";
  // The status and headers come before the body's first byte (or at the
  // end, for a body that is empty).
  bool headPrinted = false;
  auto printHead = [&] {
    if (headPrinted || !o.include) return;
    headPrinted = true;
    std::printf("HTTP %d\n", request->responseStatusCode());
    if (request->responseHeaders())
      for (const auto& [name, value] : *request->responseHeaders())
        std::printf("%s: %s\n", name.c_str(), value.c_str());
    std::printf("\n");
  };
  if (toStdout) {
    // Written as it arrives, so memory stays flat however long the body.
    request->setResponseBodyConsumer(
        [&](const std::uint8_t* bytes, std::size_t count) -> std::optional<std::string> {
          printHead();
          if (std::fwrite(bytes, 1, count, stdout) == count) return std::nullopt;
          return std::string("cannot write to standard output: ") + std::strerror(errno);
        });
  } else {
    request->setDownloadDestinationPath(o.output);
    if (o.resume) {
      request->setAllowResumeForFileDownloads(true);
      request->setTemporaryFileDownloadPath(o.output + ".part");
    }
  }
  request->setTimeOutSeconds(o.timeout);
  request->setValidatesSecureCertificate(!o.noVerify);
  std::unique_ptr<ProgressBar> upload, download;
  if (o.progress == "bar") {
    upload = std::make_unique<ProgressBar>("upload  ");
    download = std::make_unique<ProgressBar>("download");
    if (request->postBodyFilePath() || request->postBody() || form ||
        !request->postBodyPieces().empty())
      request->setUploadProgressDelegate(upload.get());
    request->setDownloadProgressDelegate(download.get());
  }

  request->start();
  upload.reset();
  download.reset();
  std::fflush(stdout);

  // Named without user information: a password never reaches the terminal.
  const std::string shown = url ? url->wireString() : URL::withoutUserInfo(o.url);
  if (auto note = request->keychainError())
    std::fprintf(stderr, "glowsnap http: %s: %s\n", shown.c_str(), note->description.c_str());
  if (auto error = request->error()) {
    std::fprintf(stderr, "glowsnap http: %s: %s %d: %s\n", shown.c_str(), error->domain.c_str(),
                 error->code, error->description.c_str());
    for (auto cause = error->underlying; cause; cause = cause->underlying)
      std::fprintf(stderr, "  caused by %s %d: %s\n", cause->domain.c_str(), cause->code,
                   cause->description.c_str());
    return HttpCommand::kExitRequestFailedBase + error->code;
  }
  printHead();
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "glowsnap http: %s: cannot write to standard output: %s\n",
                 shown.c_str(), std::strerror(errno));
    return kExitOutput;
  }
  return kExitOk;
}

}  // namespace

void HttpCommand::add(CLI::App& app, int& exitCode) {
  auto o = std::make_shared<HttpOptions>();
  auto* cmd = app.add_subcommand(
      "http",
      "Run one HTTP request with Glowsnap's own client (a diagnostic tool in the manner of "
      "curl). The body goes to standard output as it arrives (gzip decoded on the way), or "
      "with -o to FILE, which is replaced only once the whole body is there; a symlink is "
      "written through to its target, a device or FIFO written straight into, a directory "
      "refused. A 401 or 407 is answered (Basic, Digest, NTLM) with -u, --proxy-user or the "
      "URL's own user:password@; no password is ever printed. SIGINT, SIGTERM or SIGHUP "
      "removes every temporary file (keeping FILE.part with --resume) and exits with 128 + "
      "the signal. On failure the exit status is 10 + the client's error code (11 "
      "connection, 12 time-out, 13 authentication, 15 bad request, 16 proxy or stream "
      "set-up, 17 credentials could not be applied, 18 file, 19 redirects); bytes received "
      "before a connection failure are written first.");
  cmd->add_option("-X,--request", o->method, "Method (default GET, or POST with a body)");
  cmd->add_option("-H,--header", o->headers, "Header 'Name: value' (repeatable)");
  cmd->add_option("-d,--data", o->data,
                  "Body bytes, or @FILE sent from the file itself (repeatable: the pieces go "
                  "in order; a FILE is only read)");
  cmd->add_option("-F,--form", o->form,
                  "Multipart field name=value, or name=@FILE for a file part (repeatable)");
  cmd->add_option("-o,--output", o->output,
                  "Write the body to FILE instead of standard output ('-': standard output)");
  cmd->add_flag("--resume", o->resume,
                "With -o: download into FILE.part, resume it with a Range request, keep it "
                "on failure or interrupt (a part the server says is complete becomes FILE)");
  cmd->add_option("--timeout", o->timeout, "Seconds of inactivity before giving up (0: never)");
  cmd->add_flag("--no-verify", o->noVerify, "Do not validate the server's TLS certificate");
  cmd->add_flag("-i,--include", o->include, "Print the status and headers before the body");
  cmd->add_option("--progress", o->progress, "Progress display")
      ->check(CLI::IsMember({"bar", "none"}));
  o->access.add(*cmd);
  cmd->add_option("-O,--output-dir", o->outputDirectory,
                  "Instead of one request, download every URL given into DIR (made if "
                  "missing), each named after the last segment of its path, four at a time, "
                  "with one combined progress bar");
  cmd->add_option("--limit-rate", o->limitRate,
                  "Hold every transfer to RATE bytes per second (k, m, g: 1024-based; 0: no "
                  "limit)");
  cmd->add_option("url", o->urls,
                  "http or https URL (may hold user:password@); several with -O DIR")
      ->required();
  cmd->callback([o, &exitCode] {
    if (!o->urls.empty()) o->url = o->urls.front();
    exitCode = run(*o);
  });
}

}  // namespace glowsnap::cli
