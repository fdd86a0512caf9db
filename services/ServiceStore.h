// ServiceStore: everything glowsnap-services keeps, in one SQLite database
// in its data directory: users (with salted scrypt password hashes),
// applications (API key and secret), sessions, one-time login tokens,
// permissions, albums and photos (whose files live beside the database,
// see PhotoFiles).
//
// The schema grows by numbered migrations (kMigrations in the source); a
// new table is a new migration at the end, never an edit of an old one.
// All operations are safe from several threads; every value reaches SQL
// as a bound parameter.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"
#include "services/Database.h"

namespace glowsnap::services {

struct User {
  std::int64_t id = 0;
  std::string name;
  std::int64_t createdAt = 0;
};

struct Application {
  std::int64_t id = 0;
  std::string name;
  std::string apiKey;
  std::string secret;
  std::int64_t createdAt = 0;
};

struct Session {
  std::string sessionKey;
  std::int64_t userId = 0;
  std::int64_t appId = 0;
  std::string secret;
  std::int64_t createdAt = 0;
  // Seconds since 1970; 0 for a session that does not expire.
  std::int64_t expiresAt = 0;
};

struct AuthToken {
  std::string token;
  std::int64_t userId = 0;
  std::int64_t appId = 0;
  std::int64_t expiresAt = 0;
};

struct Album {
  std::int64_t id = 0;
  std::int64_t ownerId = 0;
  std::int64_t appId = 0;
  std::string name;
  std::int64_t createdAt = 0;
};

struct Photo {
  std::int64_t id = 0;
  std::int64_t ownerId = 0;
  std::int64_t albumId = 0;
  std::int64_t appId = 0;
  // Relative to the data directory.
  std::string file;
  std::string contentType;
  std::int64_t size = 0;
  int width = 0;
  int height = 0;
  std::string sha256;
  std::string caption;
  std::int64_t createdAt = 0;
};

// A story posted through the feed page.
struct Story {
  std::int64_t id = 0;
  std::int64_t userId = 0;
  std::int64_t appId = 0;
  std::int64_t templateId = 0;
  // A JSON text as the application gave it (empty for none).
  std::string templateData;
  std::string body;
  std::int64_t createdAt = 0;
};

inline constexpr const char* kStoreErrorDomain = "GlowsnapServicesStore";
enum StoreErrorCode : int {
  kStoreInvalidName = 1,
  kStoreNameTaken = 2,
  kStoreNotFound = 3,
  kStoreDatabase = 4,
};

class ServiceStore {
 public:
  static constexpr const char* kDatabaseFileName = "services.db";

  // Opens (creating and migrating) the store in dataDirectory, which is
  // made, for its owner only, when missing.
  static Result<std::unique_ptr<ServiceStore>> open(const std::filesystem::path& dataDirectory);

  const std::filesystem::path& dataDirectory() const { return dataDirectory_; }
  // The schema version the database is at (the number of migrations run).
  int schemaVersion();

  // Names: 1 to 64 of A-Z a-z 0-9 . _ -, starting with a letter or digit;
  // compared without regard to case.
  static bool isValidUserName(const std::string& name);
  Result<User> addUser(const std::string& name, const std::string& password);
  std::optional<User> userNamed(const std::string& name);
  std::optional<User> userWithId(std::int64_t id);
  // The user when name and password match, else nothing.
  std::optional<User> authenticate(const std::string& name, const std::string& password);
  Status setPassword(std::int64_t userId, const std::string& password);
  std::vector<User> users();

  // A new application; key and secret are made at random when not given.
  Result<Application> addApplication(const std::string& name,
                                     const std::optional<std::string>& apiKey,
                                     const std::optional<std::string>& secret);
  std::optional<Application> applicationWithKey(const std::string& apiKey);
  std::optional<Application> applicationWithId(std::int64_t id);
  std::vector<Application> applications();

  // A one-time login token of user for app, valid for lifetimeSeconds.
  Result<AuthToken> issueAuthToken(std::int64_t userId, std::int64_t appId,
                                   std::int64_t lifetimeSeconds);
  // Spends the token (whether or not it is still good) and, when it was
  // issued for app and has not expired, starts a session lasting
  // sessionLifetimeSeconds (0: no expiry).
  std::optional<Session> exchangeAuthToken(const std::string& token, std::int64_t appId,
                                           std::int64_t sessionLifetimeSeconds);
  // A session that has not expired, or nothing.
  std::optional<Session> sessionWithKey(const std::string& sessionKey);
  Status endSession(const std::string& sessionKey);

  Status grantPermission(std::int64_t userId, std::int64_t appId, const std::string& permission);
  Status revokePermission(std::int64_t userId, std::int64_t appId, const std::string& permission);
  bool hasPermission(std::int64_t userId, std::int64_t appId, const std::string& permission);

  // The album an application's uploads go to when the caller names none
  // (made on first use).
  Result<Album> defaultAlbum(std::int64_t ownerId, const Application& app);
  std::optional<Album> albumWithId(std::int64_t id);
  // The owner's album of that name that belongs to no application (the
  // uploads of services other than Mingle), made on first use.
  Result<Album> serviceAlbum(std::int64_t ownerId, const std::string& name);

  // Stores the photo's row (its file is already in place); answers it with
  // its id.
  Result<Photo> addPhoto(Photo photo);
  std::optional<Photo> photoWithId(std::int64_t id);
  // Newest first.
  std::vector<Photo> photosOf(std::int64_t ownerId);
  std::int64_t photoCount(std::int64_t ownerId);

  // The site's own login (its cookie): a new random token for user, of
  // which only a digest is stored; the user a token that has not expired
  // stands for; the end of it.
  Result<std::string> startSiteLogin(std::int64_t userId, std::int64_t lifetimeSeconds);
  std::optional<User> siteLoginUser(const std::string& token);
  Status endSiteLogin(const std::string& token);

  // Stories of the feed page, newest first.
  Result<Story> addStory(Story story);
  std::vector<Story> storiesOf(std::int64_t userId);

  // For the next pieces of the service (pages, other services): runs fn
  // with the database under the store's lock.
  template <typename Fn>
  auto withDatabase(Fn fn) {
    std::lock_guard lock(mutex_);
    return fn(*db_);
  }

  static std::int64_t now();

 private:
  ServiceStore(std::filesystem::path dataDirectory, std::unique_ptr<Database> db)
      : dataDirectory_(std::move(dataDirectory)), db_(std::move(db)) {}
  Status migrate();

  std::filesystem::path dataDirectory_;
  std::unique_ptr<Database> db_;
  std::mutex mutex_;
};

}  // namespace glowsnap::services
