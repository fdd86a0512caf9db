#include "cli/HttpAccessOptions.h"

#include <CLI/CLI.hpp>

#include "cli/Terminal.h"
#include "http/HTTPRequest.h"

namespace glowsnap::cli {

namespace {

// "user:password", or "user" and the password asked for on the terminal;
// nothing (and the usage error in *problem) when it cannot be had.
std::optional<std::pair<std::string, std::string>> credentials(const std::string& option,
                                                               const std::string& text,
                                                               std::string* problem) {
  auto colon = text.find(':');
  std::string user = text.substr(0, colon);
  if (colon != std::string::npos) return std::make_pair(user, text.substr(colon + 1));
  auto asked = askPassword("Password for " + user + ": ");
  if (!asked) {
    *problem = option + " " + user + ": no password given and no terminal to ask for one";
    return std::nullopt;
  }
  return std::make_pair(user, *asked);
}

}  // namespace

void HttpAccessOptions::add(CLI::App& command) {
  command.add_option("-u,--user", user_,
                     "Credentials USER:PASSWORD for the server (USER alone: the password is asked "
                     "for on the terminal)");
  command.add_option("-x,--proxy", proxy_,
                     "HTTP proxy HOST[:PORT] (default port 1080); without it the environment "
                     "(http_proxy, https_proxy, all_proxy, no_proxy) or the desktop's settings "
                     "decide");
  command.add_flag("--no-proxy", noProxy_, "Connect directly, whatever the system's settings say");
  command.add_option("--proxy-user", proxyUser_,
                     "Credentials USER:PASSWORD for the proxy (USER alone: asked for)");
  command.add_option("--pac", pac_,
                     "Proxy auto-configuration script (http, https or file URL), fetched "
                     "without a proxy");
  command.add_flag("--keyring", keyring_,
                   "Look credentials up in the desktop's keyring and keep the ones that work "
                   "there");
}

std::optional<std::string> HttpAccessOptions::applyTo(HTTPRequest& request) const {
  std::string problem;
  if (!user_.empty()) {
    if (!server_) server_ = credentials("-u", user_, &problem);
    if (!server_) return problem;
    request.setUsername(server_->first);
    request.setPassword(server_->second);
  }
  if (!proxy_.empty()) {
    std::string text = proxy_.find("://") == std::string::npos ? "http://" + proxy_ : proxy_;
    auto proxy = URL::parse(text);
    int port = proxy ? proxy->port().value_or(1080) : 0;
    if (!proxy || proxy->scheme() != "http" || proxy->host().empty() || proxy->hasUser() ||
        port <= 0 || port > 65535)
      return "-x '" + URL::withoutUserInfo(proxy_) + "': expected HOST[:PORT] or http://HOST:PORT";
    request.setProxyHost(proxy->host());
    request.setProxyPort(port);
  } else if (noProxy_) {
    // A host without a port: no proxy, and none is looked up.
    request.setProxyHost(std::string());
    request.setProxyPort(0);
  }
  if (!proxyUser_.empty()) {
    if (!proxyCredentials_) proxyCredentials_ = credentials("--proxy-user", proxyUser_, &problem);
    if (!proxyCredentials_) return problem;
    request.setProxyUsername(proxyCredentials_->first);
    request.setProxyPassword(proxyCredentials_->second);
  }
  if (!pac_.empty()) {
    auto pac = URL::parse(pac_);
    if (!pac || (pac->scheme() != "http" && pac->scheme() != "https" && pac->scheme() != "file"))
      return "--pac '" + URL::withoutUserInfo(pac_) + "': expected an http, https or file URL";
    request.setPACurl(pac);
  }
  request.setUseKeychainPersistance(keyring_);
  return std::nullopt;
}

}  // namespace glowsnap::cli
