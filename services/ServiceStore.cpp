#include "services/ServiceStore.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>

#include "platform/foundation/Paths.h"
#include "services/Secrets.h"

namespace glowsnap::services {

namespace {

// Each entry moves the schema one version on. Append; never edit.
const char* const kMigrations[] = {
    // 1: the Mingle service.
    R"sql(
    CREATE TABLE users (
      id INTEGER PRIMARY KEY,
      name TEXT NOT NULL UNIQUE COLLATE NOCASE,
      password_hash TEXT NOT NULL,
      created_at INTEGER NOT NULL);
    CREATE TABLE applications (
      id INTEGER PRIMARY KEY,
      name TEXT NOT NULL,
      api_key TEXT NOT NULL UNIQUE,
      secret TEXT NOT NULL,
      created_at INTEGER NOT NULL);
    CREATE TABLE sessions (
      session_key TEXT PRIMARY KEY,
      user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
      app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
      secret TEXT NOT NULL,
      created_at INTEGER NOT NULL,
      expires_at INTEGER NOT NULL);
    CREATE TABLE auth_tokens (
      token TEXT PRIMARY KEY,
      user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
      app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
      created_at INTEGER NOT NULL,
      expires_at INTEGER NOT NULL);
    CREATE TABLE permissions (
      user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
      app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
      name TEXT NOT NULL,
      granted_at INTEGER NOT NULL,
      PRIMARY KEY (user_id, app_id, name));
    CREATE TABLE albums (
      id INTEGER PRIMARY KEY,
      owner_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
      app_id INTEGER REFERENCES applications(id) ON DELETE SET NULL,
      name TEXT NOT NULL,
      created_at INTEGER NOT NULL);
    CREATE UNIQUE INDEX albums_default ON albums(owner_id, app_id, name);
    CREATE TABLE photos (
      id INTEGER PRIMARY KEY,
      owner_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
      album_id INTEGER NOT NULL REFERENCES albums(id) ON DELETE CASCADE,
      app_id INTEGER REFERENCES applications(id) ON DELETE SET NULL,
      file TEXT NOT NULL UNIQUE,
      content_type TEXT NOT NULL,
      size INTEGER NOT NULL,
      width INTEGER NOT NULL,
      height INTEGER NOT NULL,
      sha256 TEXT NOT NULL,
      caption TEXT NOT NULL,
      created_at INTEGER NOT NULL);
    CREATE INDEX photos_by_owner ON photos(owner_id, created_at);
    )sql",
    // 2: the site's logins (kept in a cookie; only a digest of it here) and
    // the stories of the feed page.
    R"sql(
    CREATE TABLE site_logins (
      token_hash TEXT PRIMARY KEY,
      user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
      created_at INTEGER NOT NULL,
      expires_at INTEGER NOT NULL);
    CREATE TABLE stories (
      id INTEGER PRIMARY KEY,
      user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
      app_id INTEGER REFERENCES applications(id) ON DELETE SET NULL,
      template_id INTEGER NOT NULL,
      template_data TEXT NOT NULL,
      body TEXT NOT NULL,
      created_at INTEGER NOT NULL);
    CREATE INDEX stories_by_user ON stories(user_id, created_at);
    )sql",
};

Error storeError(int code, std::string description) {
  Error e;
  e.domain = kStoreErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

User readUser(const Statement& s) { return User{s.integer(0), s.text(1), s.integer(2)}; }

Application readApplication(const Statement& s) {
  return Application{s.integer(0), s.text(1), s.text(2), s.text(3), s.integer(4)};
}

constexpr const char* kPhotoColumns =
    "id, owner_id, album_id, IFNULL(app_id, 0), file, content_type, size, width, height, sha256, "
    "caption, created_at";

Photo readPhoto(const Statement& s) {
  Photo p;
  p.id = s.integer(0);
  p.ownerId = s.integer(1);
  p.albumId = s.integer(2);
  p.appId = s.integer(3);
  p.file = s.text(4);
  p.contentType = s.text(5);
  p.size = s.integer(6);
  p.width = static_cast<int>(s.integer(7));
  p.height = static_cast<int>(s.integer(8));
  p.sha256 = s.text(9);
  p.caption = s.text(10);
  p.createdAt = s.integer(11);
  return p;
}

// Runs a query of one row through read; nothing when there is no row or
// the query fails.
template <typename T, typename Bind, typename Read>
std::optional<T> queryOne(Database& db, std::string_view sql, Bind bind, Read read) {
  auto s = db.prepare(sql);
  if (!s) return std::nullopt;
  bind(*s);
  if (!s->step()) return std::nullopt;
  return read(*s);
}

template <typename T, typename Bind, typename Read>
std::vector<T> queryAll(Database& db, std::string_view sql, Bind bind, Read read) {
  std::vector<T> out;
  auto s = db.prepare(sql);
  if (!s) return out;
  bind(*s);
  while (s->step()) out.push_back(read(*s));
  return out;
}

}  // namespace

std::int64_t ServiceStore::now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Result<std::unique_ptr<ServiceStore>> ServiceStore::open(
    const std::filesystem::path& dataDirectory) {
  std::error_code ec;
  if (!std::filesystem::exists(dataDirectory, ec)) {
    if (!paths::ensureDirectory(dataDirectory))
      return storeError(kStoreDatabase, dataDirectory.string() + ": cannot create the directory");
    ::chmod(dataDirectory.c_str(), 0700);
  } else if (!std::filesystem::is_directory(dataDirectory, ec)) {
    return storeError(kStoreDatabase, dataDirectory.string() + ": not a directory");
  }
  auto db = Database::open(dataDirectory / kDatabaseFileName);
  if (!db) return db.error();
  std::unique_ptr<ServiceStore> store(new ServiceStore(dataDirectory, std::move(*db)));
  if (auto s = store->migrate(); !s) {
    Error e = s.error();
    e.description = (dataDirectory / kDatabaseFileName).string() + ": " + e.description;
    return e;
  }
  return store;
}

Status ServiceStore::migrate() {
  std::lock_guard lock(mutex_);
  // One writer at a time migrates: the transaction takes the write lock
  // before the version is read.
  if (auto s = db_->execute("BEGIN IMMEDIATE"); !s) return s;
  auto version = queryOne<std::int64_t>(
      *db_, "PRAGMA user_version", [](Statement&) {},
      [](const Statement& s) { return s.integer(0); });
  int from = static_cast<int>(version.value_or(0));
  constexpr int kLatest = static_cast<int>(std::size(kMigrations));
  if (from > kLatest) {
    (void)db_->execute("ROLLBACK");
    return storeError(
        kStoreDatabase,
        "the database was made by a newer glowsnap-services (schema " + std::to_string(from) + ")");
  }
  for (int v = from; v < kLatest; ++v) {
    if (auto s = db_->execute(kMigrations[v]); !s) {
      (void)db_->execute("ROLLBACK");
      return s;
    }
  }
  // The version cannot be a bound parameter; it is this program's own number.
  if (auto s = db_->execute("PRAGMA user_version = " + std::to_string(kLatest)); !s) {
    (void)db_->execute("ROLLBACK");
    return s;
  }
  return db_->execute("COMMIT");
}

int ServiceStore::schemaVersion() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(queryOne<std::int64_t>(
                              *db_, "PRAGMA user_version", [](Statement&) {},
                              [](const Statement& s) { return s.integer(0); })
                              .value_or(0));
}

bool ServiceStore::isValidUserName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  if (!std::isalnum(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '.' || c == '_' || c == '-') || u >= 0x80) return false;
  }
  return true;
}

Result<User> ServiceStore::addUser(const std::string& name, const std::string& password) {
  if (!isValidUserName(name))
    return storeError(kStoreInvalidName,
                      "\"" + name +
                          "\" is not a valid user name (1 to 64 letters, digits, '.', '_' or "
                          "'-', starting with a letter or digit)");
  if (password.empty()) return storeError(kStoreInvalidName, "the password is empty");
  auto hash = hashPassword(password);  // slow on purpose: outside the lock
  if (!hash) return hash.error();
  std::lock_guard lock(mutex_);
  auto s = db_->prepare("INSERT INTO users (name, password_hash, created_at) VALUES (?, ?, ?)");
  if (!s) return s.error();
  std::int64_t created = now();
  s->bind(1, name).bind(2, *hash).bind(3, created);
  if (auto r = s->run(); !r) {
    if ((r.error().code & 0xff) == SQLITE_CONSTRAINT)
      return storeError(kStoreNameTaken, "a user named \"" + name + "\" exists already");
    return r.error();
  }
  return User{db_->lastInsertRowId(), name, created};
}

std::optional<User> ServiceStore::userNamed(const std::string& name) {
  std::lock_guard lock(mutex_);
  return queryOne<User>(
      *db_, "SELECT id, name, created_at FROM users WHERE name = ?",
      [&](Statement& s) { s.bind(1, name); }, readUser);
}

std::optional<User> ServiceStore::userWithId(std::int64_t id) {
  std::lock_guard lock(mutex_);
  return queryOne<User>(
      *db_, "SELECT id, name, created_at FROM users WHERE id = ?",
      [&](Statement& s) { s.bind(1, id); }, readUser);
}

std::optional<User> ServiceStore::authenticate(const std::string& name,
                                               const std::string& password) {
  std::optional<std::pair<User, std::string>> row;
  {
    std::lock_guard lock(mutex_);
    row = queryOne<std::pair<User, std::string>>(
        *db_, "SELECT id, name, created_at, password_hash FROM users WHERE name = ?",
        [&](Statement& s) { s.bind(1, name); },
        [](const Statement& s) { return std::make_pair(readUser(s), s.text(3)); });
  }
  if (!row) {
    // As slow for an unknown name as for a wrong password.
    static const std::string dummy = [] {
      auto hash = hashPassword("glowsnap");
      return hash ? *hash : std::string();
    }();
    verifyPassword(password, dummy);
    return std::nullopt;
  }
  if (!verifyPassword(password, row->second)) return std::nullopt;
  return row->first;
}

Status ServiceStore::setPassword(std::int64_t userId, const std::string& password) {
  if (password.empty()) return storeError(kStoreInvalidName, "the password is empty");
  auto hash = hashPassword(password);
  if (!hash) return hash.error();
  std::lock_guard lock(mutex_);
  auto s = db_->prepare("UPDATE users SET password_hash = ? WHERE id = ?");
  if (!s) return s.error();
  s->bind(1, *hash).bind(2, userId);
  if (auto r = s->run(); !r) return r;
  if (db_->changes() == 0) return storeError(kStoreNotFound, "no such user");
  return {};
}

std::vector<User> ServiceStore::users() {
  std::lock_guard lock(mutex_);
  return queryAll<User>(
      *db_, "SELECT id, name, created_at FROM users ORDER BY name", [](Statement&) {}, readUser);
}

Result<Application> ServiceStore::addApplication(const std::string& name,
                                                 const std::optional<std::string>& apiKey,
                                                 const std::optional<std::string>& secret) {
  if (name.empty() || name.size() > 200)
    return storeError(kStoreInvalidName, "an application needs a name of 1 to 200 characters");
  auto printable = [](const std::string& v) {
    for (char c : v)
      if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
        return false;
    return !v.empty() && v.size() <= 200;
  };
  Application app;
  app.name = name;
  app.apiKey = apiKey.value_or(randomHex(16));
  app.secret = secret.value_or(randomHex(16));
  if (!printable(app.apiKey) || !printable(app.secret))
    return storeError(kStoreInvalidName,
                      "API keys and secrets are 1 to 200 printable characters without spaces");
  app.createdAt = now();
  std::lock_guard lock(mutex_);
  auto s = db_->prepare(
      "INSERT INTO applications (name, api_key, secret, created_at) VALUES (?, ?, ?, ?)");
  if (!s) return s.error();
  s->bind(1, app.name).bind(2, app.apiKey).bind(3, app.secret).bind(4, app.createdAt);
  if (auto r = s->run(); !r) {
    if ((r.error().code & 0xff) == SQLITE_CONSTRAINT)
      return storeError(kStoreNameTaken, "an application with that API key exists already");
    return r.error();
  }
  app.id = db_->lastInsertRowId();
  return app;
}

std::optional<Application> ServiceStore::applicationWithKey(const std::string& apiKey) {
  std::lock_guard lock(mutex_);
  return queryOne<Application>(
      *db_, "SELECT id, name, api_key, secret, created_at FROM applications WHERE api_key = ?",
      [&](Statement& s) { s.bind(1, apiKey); }, readApplication);
}

std::optional<Application> ServiceStore::applicationWithId(std::int64_t id) {
  std::lock_guard lock(mutex_);
  return queryOne<Application>(
      *db_, "SELECT id, name, api_key, secret, created_at FROM applications WHERE id = ?",
      [&](Statement& s) { s.bind(1, id); }, readApplication);
}

std::vector<Application> ServiceStore::applications() {
  std::lock_guard lock(mutex_);
  return queryAll<Application>(
      *db_, "SELECT id, name, api_key, secret, created_at FROM applications ORDER BY id",
      [](Statement&) {}, readApplication);
}

Result<AuthToken> ServiceStore::issueAuthToken(std::int64_t userId, std::int64_t appId,
                                               std::int64_t lifetimeSeconds) {
  AuthToken token{randomHex(16), userId, appId, now() + std::max<std::int64_t>(lifetimeSeconds, 1)};
  std::lock_guard lock(mutex_);
  // Spent and expired tokens are of no use to anyone.
  if (auto purge = db_->prepare("DELETE FROM auth_tokens WHERE expires_at <= ?")) {
    purge->bind(1, now());
    (void)purge->run();
  }
  auto s = db_->prepare(
      "INSERT INTO auth_tokens (token, user_id, app_id, created_at, expires_at) VALUES (?, ?, ?, "
      "?, "
      "?)");
  if (!s) return s.error();
  s->bind(1, token.token).bind(2, userId).bind(3, appId).bind(4, now()).bind(5, token.expiresAt);
  if (auto r = s->run(); !r) {
    if ((r.error().code & 0xff) == SQLITE_CONSTRAINT)
      return storeError(kStoreNotFound, "no such user or application");
    return r.error();
  }
  return token;
}

std::optional<Session> ServiceStore::exchangeAuthToken(const std::string& token, std::int64_t appId,
                                                       std::int64_t sessionLifetimeSeconds) {
  std::lock_guard lock(mutex_);
  if (!db_->execute("BEGIN IMMEDIATE")) return std::nullopt;
  auto found = queryOne<AuthToken>(
      *db_, "SELECT token, user_id, app_id, expires_at FROM auth_tokens WHERE token = ?",
      [&](Statement& s) { s.bind(1, token); },
      [](const Statement& s) {
        return AuthToken{s.text(0), s.integer(1), s.integer(2), s.integer(3)};
      });
  auto rollback = [&] {
    (void)db_->execute("ROLLBACK");
    return std::nullopt;
  };
  if (!found) return rollback();
  auto spend = db_->prepare("DELETE FROM auth_tokens WHERE token = ?");
  if (!spend || !spend->bind(1, token).run()) return rollback();
  if (found->appId != appId || found->expiresAt <= now()) {
    (void)db_->execute("COMMIT");
    return std::nullopt;
  }
  Session session;
  session.sessionKey = randomHex(20);
  session.userId = found->userId;
  session.appId = appId;
  session.secret = randomHex(16);
  session.createdAt = now();
  session.expiresAt = sessionLifetimeSeconds > 0 ? session.createdAt + sessionLifetimeSeconds : 0;
  auto s = db_->prepare(
      "INSERT INTO sessions (session_key, user_id, app_id, secret, created_at, expires_at) VALUES "
      "(?, ?, ?, ?, ?, ?)");
  if (!s) return rollback();
  s->bind(1, session.sessionKey)
      .bind(2, session.userId)
      .bind(3, appId)
      .bind(4, session.secret)
      .bind(5, session.createdAt)
      .bind(6, session.expiresAt);
  if (!s->run()) return rollback();
  if (!db_->execute("COMMIT")) return rollback();
  return session;
}

std::optional<Session> ServiceStore::sessionWithKey(const std::string& sessionKey) {
  std::lock_guard lock(mutex_);
  return queryOne<Session>(
      *db_,
      "SELECT session_key, user_id, app_id, secret, created_at, expires_at FROM sessions "
      "WHERE session_key = ? AND (expires_at = 0 OR expires_at > ?)",
      [&](Statement& s) { s.bind(1, sessionKey).bind(2, now()); },
      [](const Statement& s) {
        return Session{s.text(0), s.integer(1), s.integer(2),
                       s.text(3), s.integer(4), s.integer(5)};
      });
}

Status ServiceStore::endSession(const std::string& sessionKey) {
  std::lock_guard lock(mutex_);
  auto s = db_->prepare("DELETE FROM sessions WHERE session_key = ?");
  if (!s) return s.error();
  return s->bind(1, sessionKey).run();
}

Status ServiceStore::grantPermission(std::int64_t userId, std::int64_t appId,
                                     const std::string& permission) {
  if (permission.empty() || permission.size() > 100)
    return storeError(kStoreInvalidName, "a permission has a name of 1 to 100 characters");
  std::lock_guard lock(mutex_);
  auto s = db_->prepare(
      "INSERT OR IGNORE INTO permissions (user_id, app_id, name, granted_at) VALUES (?, ?, ?, ?)");
  if (!s) return s.error();
  s->bind(1, userId).bind(2, appId).bind(3, permission).bind(4, now());
  if (auto r = s->run(); !r) {
    if ((r.error().code & 0xff) == SQLITE_CONSTRAINT)
      return storeError(kStoreNotFound, "no such user or application");
    return r;
  }
  return {};
}

Status ServiceStore::revokePermission(std::int64_t userId, std::int64_t appId,
                                      const std::string& permission) {
  std::lock_guard lock(mutex_);
  auto s = db_->prepare("DELETE FROM permissions WHERE user_id = ? AND app_id = ? AND name = ?");
  if (!s) return s.error();
  return s->bind(1, userId).bind(2, appId).bind(3, permission).run();
}

bool ServiceStore::hasPermission(std::int64_t userId, std::int64_t appId,
                                 const std::string& permission) {
  std::lock_guard lock(mutex_);
  return queryOne<bool>(
             *db_, "SELECT 1 FROM permissions WHERE user_id = ? AND app_id = ? AND name = ?",
             [&](Statement& s) { s.bind(1, userId).bind(2, appId).bind(3, permission); },
             [](const Statement&) { return true; })
      .value_or(false);
}

Result<Album> ServiceStore::defaultAlbum(std::int64_t ownerId, const Application& app) {
  std::string name = app.name + " Photos";
  std::lock_guard lock(mutex_);
  auto read = [](const Statement& s) {
    return Album{s.integer(0), s.integer(1), s.integer(2), s.text(3), s.integer(4)};
  };
  auto insert = db_->prepare(
      "INSERT OR IGNORE INTO albums (owner_id, app_id, name, created_at) VALUES (?, ?, ?, ?)");
  if (!insert) return insert.error();
  insert->bind(1, ownerId).bind(2, app.id).bind(3, name).bind(4, now());
  if (auto r = insert->run(); !r) return r.error();
  auto album = queryOne<Album>(
      *db_,
      "SELECT id, owner_id, IFNULL(app_id, 0), name, created_at FROM albums "
      "WHERE owner_id = ? AND app_id = ? AND name = ?",
      [&](Statement& s) { s.bind(1, ownerId).bind(2, app.id).bind(3, name); }, read);
  if (!album) return storeError(kStoreDatabase, "the album could not be made");
  return *album;
}

Result<Album> ServiceStore::serviceAlbum(std::int64_t ownerId, const std::string& name) {
  std::lock_guard lock(mutex_);
  auto read = [](const Statement& s) {
    return Album{s.integer(0), s.integer(1), 0, s.text(2), s.integer(3)};
  };
  // The unique index does not cover rows without an application (NULLs
  // differ in SQL), so the look-up and the insert happen under the lock.
  auto find = [&] {
    return queryOne<Album>(
        *db_,
        "SELECT id, owner_id, name, created_at FROM albums "
        "WHERE owner_id = ? AND app_id IS NULL AND name = ? ORDER BY id LIMIT 1",
        [&](Statement& s) { s.bind(1, ownerId).bind(2, name); }, read);
  };
  if (auto album = find()) return *album;
  auto insert = db_->prepare(
      "INSERT INTO albums (owner_id, app_id, name, created_at) VALUES (?, NULL, ?, ?)");
  if (!insert) return insert.error();
  insert->bind(1, ownerId).bind(2, name).bind(3, now());
  if (auto r = insert->run(); !r) return r.error();
  if (auto album = find()) return *album;
  return storeError(kStoreDatabase, "the album could not be made");
}

std::optional<Album> ServiceStore::albumWithId(std::int64_t id) {
  std::lock_guard lock(mutex_);
  return queryOne<Album>(
      *db_, "SELECT id, owner_id, IFNULL(app_id, 0), name, created_at FROM albums WHERE id = ?",
      [&](Statement& s) { s.bind(1, id); },
      [](const Statement& s) {
        return Album{s.integer(0), s.integer(1), s.integer(2), s.text(3), s.integer(4)};
      });
}

Result<Photo> ServiceStore::addPhoto(Photo photo) {
  if (photo.createdAt == 0) photo.createdAt = now();
  std::lock_guard lock(mutex_);
  auto s = db_->prepare(
      "INSERT INTO photos (owner_id, album_id, app_id, file, content_type, size, width, height, "
      "sha256, caption, created_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (!s) return s.error();
  s->bind(1, photo.ownerId).bind(2, photo.albumId);
  if (photo.appId)
    s->bind(3, photo.appId);
  else
    s->bindNull(3);
  s->bind(4, photo.file)
      .bind(5, photo.contentType)
      .bind(6, photo.size)
      .bind(7, static_cast<std::int64_t>(photo.width))
      .bind(8, static_cast<std::int64_t>(photo.height))
      .bind(9, photo.sha256)
      .bind(10, photo.caption)
      .bind(11, photo.createdAt);
  if (auto r = s->run(); !r) return r.error();
  photo.id = db_->lastInsertRowId();
  return photo;
}

std::optional<Photo> ServiceStore::photoWithId(std::int64_t id) {
  std::lock_guard lock(mutex_);
  return queryOne<Photo>(
      *db_, std::string("SELECT ") + kPhotoColumns + " FROM photos WHERE id = ?",
      [&](Statement& s) { s.bind(1, id); }, readPhoto);
}

std::vector<Photo> ServiceStore::photosOf(std::int64_t ownerId) {
  std::lock_guard lock(mutex_);
  return queryAll<Photo>(
      *db_,
      std::string("SELECT ") + kPhotoColumns +
          " FROM photos WHERE owner_id = ? ORDER BY created_at DESC, id DESC",
      [&](Statement& s) { s.bind(1, ownerId); }, readPhoto);
}

Result<std::string> ServiceStore::startSiteLogin(std::int64_t userId,
                                                 std::int64_t lifetimeSeconds) {
  std::string token = randomHex(24);
  std::lock_guard lock(mutex_);
  if (auto purge = db_->prepare("DELETE FROM site_logins WHERE expires_at <= ?")) {
    purge->bind(1, now());
    (void)purge->run();
  }
  auto s = db_->prepare(
      "INSERT INTO site_logins (token_hash, user_id, created_at, expires_at) VALUES (?, ?, ?, ?)");
  if (!s) return s.error();
  s->bind(1, sha256Hex(token)).bind(2, userId).bind(3, now()).bind(4, now() + lifetimeSeconds);
  if (auto r = s->run(); !r) return r.error();
  return token;
}

std::optional<User> ServiceStore::siteLoginUser(const std::string& token) {
  if (token.empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  return queryOne<User>(
      *db_,
      "SELECT users.id, users.name, users.created_at FROM site_logins JOIN users ON users.id = "
      "site_logins.user_id WHERE token_hash = ? AND expires_at > ?",
      [&](Statement& s) { s.bind(1, sha256Hex(token)).bind(2, now()); }, readUser);
}

Status ServiceStore::endSiteLogin(const std::string& token) {
  std::lock_guard lock(mutex_);
  auto s = db_->prepare("DELETE FROM site_logins WHERE token_hash = ?");
  if (!s) return s.error();
  return s->bind(1, sha256Hex(token)).run();
}

Result<Story> ServiceStore::addStory(Story story) {
  if (story.createdAt == 0) story.createdAt = now();
  std::lock_guard lock(mutex_);
  auto s = db_->prepare(
      "INSERT INTO stories (user_id, app_id, template_id, template_data, body, created_at) "
      "VALUES (?, ?, ?, ?, ?, ?)");
  if (!s) return s.error();
  s->bind(1, story.userId);
  if (story.appId)
    s->bind(2, story.appId);
  else
    s->bindNull(2);
  s->bind(3, story.templateId).bind(4, story.templateData).bind(5, story.body).bind(6, story.createdAt);
  if (auto r = s->run(); !r) return r.error();
  story.id = db_->lastInsertRowId();
  return story;
}

std::vector<Story> ServiceStore::storiesOf(std::int64_t userId) {
  std::lock_guard lock(mutex_);
  return queryAll<Story>(
      *db_,
      "SELECT id, user_id, IFNULL(app_id, 0), template_id, template_data, body, created_at FROM "
      "stories WHERE user_id = ? ORDER BY created_at DESC, id DESC",
      [&](Statement& s) { s.bind(1, userId); },
      [](const Statement& s) {
        return Story{s.integer(0), s.integer(1), s.integer(2), s.integer(3),
                     s.text(4),    s.text(5),    s.integer(6)};
      });
}

std::int64_t ServiceStore::photoCount(std::int64_t ownerId) {
  std::lock_guard lock(mutex_);
  return queryOne<std::int64_t>(
             *db_, "SELECT COUNT(*) FROM photos WHERE owner_id = ?",
             [&](Statement& s) { s.bind(1, ownerId); },
             [](const Statement& s) { return s.integer(0); })
      .value_or(0);
}

}  // namespace glowsnap::services
