#include "services/ServiceServer.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "services/Html.h"

namespace glowsnap::services {

namespace {

Error serverError(std::string description) {
  Error e;
  e.domain = "GlowsnapServicesServer";
  e.code = 1;
  e.description = std::move(description);
  return e;
}

// The note of the request this thread answered last, for its log line
// (the library logs on the thread that served the request).
thread_local std::string t_logNote;

std::mutex& logMutex() {
  static std::mutex m;
  return m;
}

// The answer to a body over the limit, in the form the caller reads.
void tooLarge(const std::string& path, std::size_t limit, ServiceResponse& response) {
  response.status = 413;
  std::string message =
      "the request body is larger than the limit of " + std::to_string(limit) + " bytes";
  if (path == MingleAPI::kPath) {
    response.contentType = "text/xml; charset=utf-8";
    response.body = MingleAPI::errorDocument({kMingleRequestTooLarge, message}, {});
  } else {
    response.body = htmlPage("Too large", "<p>" + htmlEscape(message) + ".</p>");
  }
  response.logNote = "body over the limit";
}

}  // namespace

ServiceServer::ServiceServer(ServiceContext& context)
    : context_(context),
      mingle_(context),
      natter_(context),
      pixdrop_(context),
      pages_(context),
      connect_(context) {
  mingle_.registerRoutes(router_);
  natter_.registerRoutes(router_);
  pixdrop_.registerRoutes(router_);
  pages_.registerRoutes(router_);
  connect_.registerRoutes(router_);
}

ServiceServer::~ServiceServer() { stop(); }

std::string ServiceServer::baseURL() const {
  const std::string& host = context_.options.listenHost;
  std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return std::string(tls_ ? "https" : "http") + "://" + shown + ":" + std::to_string(port_);
}

Result<int> ServiceServer::bind() {
  const ServiceOptions& options = context_.options;
  if (options.certificateFile.has_value() != options.privateKeyFile.has_value())
    return serverError("TLS needs both --cert and --key");
  if (options.certificateFile) {
    auto tls = std::make_unique<httplib::SSLServer>(options.certificateFile->c_str(),
                                                    options.privateKeyFile->c_str());
    if (!tls->is_valid())
      return serverError(options.certificateFile->string() + ", " +
                         options.privateKeyFile->string() +
                         ": the certificate or its key cannot be loaded");
    server_ = std::move(tls);
    tls_ = true;
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  httplib::Server& server = *server_;
  // Bodies announced as too large are refused before they are read; chunked
  // ones are counted as they arrive (see serve).
  server.set_payload_max_length(options.maxBodyBytes);
  server.set_read_timeout(30, 0);
  server.set_write_timeout(30, 0);
  server.set_keep_alive_timeout(5);
  server.Get(".*",
             [this](const httplib::Request& rq, httplib::Response& rs) { serve(rq, rs, nullptr); });
  server.Post(".*", [this](const httplib::Request& rq, httplib::Response& rs,
                           const httplib::ContentReader& reader) { serve(rq, rs, &reader); });
  server.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request& rq,
                                                                       httplib::Response& rs) {
    if (!rs.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    ServiceResponse response;
    if (rs.status == 413) {
      tooLarge(rq.path, context_.options.maxBodyBytes, response);
    } else {
      response.status = rs.status;
      response.body =
          htmlPage("Error " + std::to_string(rs.status), "<p>The request could not be served.</p>");
    }
    t_logNote = response.logNote;
    rs.set_content(response.body, response.contentType);
    return httplib::Server::HandlerResponse::Handled;
  }));
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& rs, std::exception_ptr) {
        rs.status = 500;
        rs.set_content(htmlPage("Server error", "<p>Something went wrong on the server.</p>"),
                       "text/html; charset=utf-8");
      });
  if (!options.quiet) {
    server.set_logger([](const httplib::Request& rq, const httplib::Response& rs) {
      std::string note = std::move(t_logNote);
      t_logNote.clear();
      std::lock_guard lock(logMutex());
      std::cerr << rq.remote_addr << " \"" << rq.method << " " << rq.path << "\" " << rs.status
                << " " << rs.body.size() << (note.empty() ? "" : " " + note) << "\n";
    });
  }
  int port = options.listenPort;
  if (port == 0) {
    port = server.bind_to_any_port(options.listenHost);
    if (port <= 0) return serverError(options.listenHost + ": cannot listen on any port");
  } else if (!server.bind_to_port(options.listenHost, port)) {
    return serverError(options.listenHost + ":" + std::to_string(port) +
                       ": cannot listen there (in use, or not an address of this machine)");
  }
  port_ = port;
  return port;
}

bool ServiceServer::listen() { return server_ && server_->listen_after_bind(); }

void ServiceServer::stop() {
  if (server_) server_->stop();
}

void ServiceServer::serve(const httplib::Request& rq, httplib::Response& rs,
                          const httplib::ContentReader* reader) {
  ServiceRequest request;
  request.method = rq.method;
  request.path = rq.path;
  request.remoteAddress = rq.remote_addr;
  for (const auto& [name, value] : rq.params) request.query.emplace(name, value);
  for (const auto& [name, value] : rq.headers) {
    std::string lowerName = name;
    for (char& c : lowerName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    request.headers.emplace(lowerName, value);
  }
  std::string host = rq.get_header_value("Host");
  request.baseURL = host.empty() ? baseURL() : std::string(tls_ ? "https" : "http") + "://" + host;

  ServiceResponse response;
  bool routed = router_.matches(rq.method, rq.path);
  if (reader && routed) {
    // The library would read a multipart body itself and refuses one
    // without the closing delimiter, which the Mingle client never sends;
    // with the Content-Type out of sight it hands over the raw bytes, which
    // the service's own lenient reader takes apart (FormData).
    auto& mutableRequest = const_cast<httplib::Request&>(rq);
    std::string contentType = rq.get_header_value("Content-Type");
    mutableRequest.headers.erase("Content-Type");
    std::size_t limit = context_.options.maxBodyBytes;
    bool over = false;
    std::size_t discarded = 0;
    bool read = (*reader)([&](const char* data, std::size_t length) {
      if (!over && request.body.size() + length <= limit) {
        request.body.append(data, length);
        return true;
      }
      // Past the limit the rest is read and dropped (up to as much again,
      // at least 16 MiB), so that the client, still sending, gets to read
      // the 413 rather than a connection reset.
      if (!over) request.body.clear();
      over = true;
      discarded += length;
      return discarded <= std::max<std::size_t>(limit, 16u << 20);
    });
    mutableRequest.headers.emplace("Content-Type", contentType);
    // The library refuses an announced length over the limit itself (413).
    if (over || (!read && rs.status == 413)) {
      tooLarge(rq.path, limit, response);
    } else if (!read) {
      response.status = 400;
      response.body = htmlPage("Bad request", "<p>The request body could not be read.</p>");
    } else {
      router_.dispatch(request, response);
    }
  } else {
    router_.dispatch(request, response);
  }
  rs.status = response.status;
  for (const auto& [name, value] : response.headers) rs.set_header(name.c_str(), value);
  t_logNote = response.logNote;
  rs.set_content(std::move(response.body), response.contentType.c_str());
}

}  // namespace glowsnap::services
