#include "services/Database.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace glowsnap::services {

Error databaseError(sqlite3* db, const std::string& what) {
  Error e;
  e.domain = kDatabaseErrorDomain;
  e.code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
  e.description = what + ": " + (db ? sqlite3_errmsg(db) : "the database is not open");
  return e;
}

Statement::~Statement() {
  if (stmt_) sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), stmt_(other.stmt_), status_(other.status_) {
  other.stmt_ = nullptr;
}

Statement& Statement::bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK && status_)
    status_ = databaseError(db_, "binding a parameter");
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  if (sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
          SQLITE_OK &&
      status_)
    status_ = databaseError(db_, "binding a parameter");
  return *this;
}

Statement& Statement::bindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK && status_)
    status_ = databaseError(db_, "binding a parameter");
  return *this;
}

bool Statement::step() {
  if (!status_) return false;
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) status_ = databaseError(db_, "running a statement");
  return false;
}

Status Statement::run() {
  while (step()) {
  }
  return status_;
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::text(int column) const {
  const auto* p = sqlite3_column_text(stmt_, column);
  int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : "";
}

bool Statement::isNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Result<std::unique_ptr<Database>> Database::open(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  // The file holds password hashes and signing secrets: its owner only.
  mode_t old = ::umask(077);
  int rc =
      sqlite3_open_v2(file.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  ::umask(old);
  if (rc != SQLITE_OK) {
    Error e = databaseError(db, file.string() + ": cannot open the database");
    sqlite3_close(db);
    return e;
  }
  std::unique_ptr<Database> database(new Database(db, file));
  sqlite3_busy_timeout(db, 10000);
  sqlite3_extended_result_codes(db, 1);
  for (const char* pragma :
       {"PRAGMA foreign_keys = ON", "PRAGMA journal_mode = WAL", "PRAGMA synchronous = NORMAL"}) {
    if (auto s = database->execute(pragma); !s) {
      Error e = s.error();
      e.description = file.string() + ": " + e.description;
      return e;
    }
  }
  return database;
}

Database::~Database() { sqlite3_close(db_); }

Result<Statement> Database::prepare(std::string_view sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK)
    return databaseError(db_, "preparing a statement");
  return Statement(db_, stmt);
}

Status Database::execute(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    Error e;
    e.domain = kDatabaseErrorDomain;
    e.code = sqlite3_extended_errcode(db_);
    e.description = message ? message : "the statement failed";
    sqlite3_free(message);
    return e;
  }
  return {};
}

std::int64_t Database::lastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }
int Database::changes() const { return sqlite3_changes(db_); }

}  // namespace glowsnap::services
