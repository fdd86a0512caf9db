// Proxies: which proxy an attempt goes through. An explicit proxyHost and
// proxyPort stay; one the request looked up itself (the system's settings,
// a PAC script) is looked up again when a redirect leads to another host.
#include <fstream>

#include "http/HTTPRequest.h"
#include "platform/net/ProxyAutoConfiguration.h"
#include "platform/net/ProxyLookup.h"

namespace glowsnap {

namespace {

bool sameOrigin(const URL& a, const URL& b) {
  return a.scheme() == b.scheme() && a.host() == b.host() && a.effectivePort() == b.effectivePort();
}

}  // namespace

Result<std::vector<ProxyEntry>> HTTPRequest::proxiesForURL(const URL& url, const URL& pacURL) {
  // Asked once as the platform does; the answer is not used.
  (void)ProxyLookup::proxiesForURL(url);
  std::string script;
  if (pacURL.scheme() == "file") {
    std::ifstream in(percentDecode(pacURL.path()), std::ios::binary);
    if (!in) {
      Error e;
      e.domain = kNetworkRequestErrorDomain;
      e.code = kInternalErrorWhileBuildingRequestType;
      e.description =
          "The proxy auto-configuration script " + pacURL.wireString() + " could not be read";
      return e;
    }
    script.assign(std::istreambuf_iterator<char>(in), {});
  } else {
    // Fetched directly: a proxy host without a port is no proxy and no
    // look-up.
    auto fetch = requestWithURL(pacURL);
    fetch->setProxyHost(std::string());
    fetch->setProxyPort(0);
    fetch->setUseCookiePersistance(false);
    fetch->setUseSessionPersistance(false);
    fetch->start();
    if (auto error = fetch->error()) {
      Error e = *error;
      e.description = "The proxy auto-configuration script " + pacURL.wireString() +
                      " could not be fetched: " + error->description;
      return e;
    }
    if (fetch->responseStatusCode() >= 400) {
      Error e;
      e.domain = kNetworkRequestErrorDomain;
      e.code = kInternalErrorWhileBuildingRequestType;
      e.description = "The proxy auto-configuration script " + pacURL.wireString() +
                      " could not be fetched: status " +
                      std::to_string(fetch->responseStatusCode());
      return e;
    }
    script = fetch->responseString().value_or("");
  }
  return ProxyAutoConfiguration::proxiesForURL(script, url);
}

std::shared_ptr<const Error> HTTPRequest::chooseProxy() {
  if (!proxyHost_ && proxyPort_ == 0) {
    std::optional<std::vector<ProxyEntry>> list;
    std::shared_ptr<const Error> cause;
    auto fromScript = [&](const URL& pac) {
      auto r = proxiesForURL(*url_, pac);
      if (r.ok())
        list = r.value();
      else
        cause = std::make_shared<Error>(r.error());
    };
    if (PACurl_) {
      fromScript(*PACurl_);
    } else {
      list = ProxyLookup::proxiesForURL(*url_);
      if (list && !list->empty() && list->front().autoConfigurationURL) {
        auto pac = URL::parse(*list->front().autoConfigurationURL);
        list.reset();
        if (pac) fromScript(*pac);
      }
    }
    if (!list)
      return makeError(kInternalErrorWhileBuildingRequestType,
                       "Unable to obtain information on proxy servers needed for request", cause);
    if (!list->empty()) {
      // Only the first entry is used; a direct one means no proxy.
      proxyHost_ = list->front().host;
      proxyPort_ = list->front().port;
      proxyLookedUp_ = true;
    }
  }
  return nullptr;
}

std::shared_ptr<const Error> HTTPRequest::applyProxySettings(HTTPReadStream& stream) {
  if (proxyHost_ && !proxyHost_->empty() && proxyPort_ != 0)
    stream.setHTTPProxy(*proxyHost_, proxyPort_);
  return nullptr;
}

void HTTPRequest::proxyRedirected(const URL& previous) {
  authenticationRedirected(previous);
  if (!proxyLookedUp_ || sameOrigin(previous, *url_)) return;
  // Another host may have another proxy: chosen again for the next
  // attempt, and the old proxy's challenge and credentials go with it.
  proxyHost_.reset();
  proxyPort_ = 0;
  proxyLookedUp_ = false;
  proxyAuthentication_.reset();
  proxyCredentials_.reset();
  pendingProxyCredentials_.reset();
}

}  // namespace glowsnap
