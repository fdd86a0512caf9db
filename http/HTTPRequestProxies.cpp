// Proxies: which proxy an attempt goes through.
#include "http/HTTPRequest.h"
#include "platform/net/ProxyLookup.h"

namespace glowsnap {

std::shared_ptr<const Error> HTTPRequest::applyProxySettings(HTTPReadStream& stream) {
  if (!proxyHost_ && proxyPort_ == 0) {
    auto proxies = ProxyLookup::proxiesForURL(*url_);
    if (!proxies)
      return makeError(kInternalErrorWhileBuildingRequestType,
                       "Unable to obtain information on proxy servers needed for request");
    if (!proxies->empty() && !proxies->front().isDirect()) {
      proxyHost_ = proxies->front().host;
      proxyPort_ = proxies->front().port;
    }
  }
  if (proxyHost_ && proxyPort_ != 0) stream.setHTTPProxy(*proxyHost_, proxyPort_);
  return nullptr;
}

void HTTPRequest::proxyRedirected(const URL&) {
  // The proxy chosen for the first URL stays for the ones it redirects to.
}

}  // namespace glowsnap
