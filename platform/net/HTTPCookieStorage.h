// HTTPCookieStorage: the process-wide cookie store that requests share.
//
// Cookies are stored and matched as RFC 6265 says. Cookies with an expiry
// date outlive the process: the shared store keeps them in "cookies.json"
// under the configuration directory, rewritten atomically after every
// change; session cookies live in memory only. A file that cannot be read is
// ignored (the store starts empty) and replaced by the next change.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/net/HTTPCookie.h"
#include "platform/net/URL.h"

namespace glowsnap {

class HTTPCookieStorage {
 public:
  // The shared store, persisted under paths::configDirectory().
  static HTTPCookieStorage& sharedStorage();

  // A store persisted in file, or kept in memory only without one.
  explicit HTTPCookieStorage(std::optional<std::filesystem::path> file);

  // Cookies a request to url sends, longest path first, then oldest first.
  std::vector<HTTPCookie> cookiesForURL(const URL& url);
  // Stores cookies received from url, each replacing one of the same name,
  // domain and path; an already expired cookie deletes its namesake.
  void setCookies(const std::vector<HTTPCookie>& cookies, const URL& url,
                  const std::optional<URL>& mainDocumentURL = std::nullopt);
  void setCookie(const HTTPCookie& cookie);
  void deleteCookie(const HTTPCookie& cookie);
  std::vector<HTTPCookie> cookies();
  void removeAllCookies();

  const std::optional<std::filesystem::path>& file() const { return file_; }
  // Reads the file again (drops what is in memory).
  void reload();

 private:
  void loadLocked();
  void saveLocked();
  void setCookieLocked(const HTTPCookie& cookie);

  std::mutex mutex_;
  std::optional<std::filesystem::path> file_;
  std::vector<HTTPCookie> cookies_;
};

}  // namespace glowsnap
