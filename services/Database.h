// Database: one SQLite connection and its prepared statements. Values only
// ever reach SQL as bound parameters, never inside the text of a statement.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"

struct sqlite3;
struct sqlite3_stmt;

namespace glowsnap::services {

inline constexpr const char* kDatabaseErrorDomain = "GlowsnapServicesDatabase";

class Statement {
 public:
  Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  // Parameters from 1, in the order of the statement's "?".
  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, std::string_view text);
  Statement& bindNull(int index);

  // The next row: true while there is one. An error ends the rows and is
  // kept for status().
  bool step();
  // Runs a statement that answers no rows.
  Status run();
  Status status() const { return status_; }

  std::int64_t integer(int column) const;
  std::string text(int column) const;
  bool isNull(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  Status status_;
};

class Database {
 public:
  // Opens (creating) the database file, with foreign keys on, write-ahead
  // logging and a busy time-out so that the command-line tools can change
  // it while the server runs.
  static Result<std::unique_ptr<Database>> open(const std::filesystem::path& file);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // A prepared statement; errors name the cause.
  Result<Statement> prepare(std::string_view sql);
  // Runs statements without parameters (schema changes).
  Status execute(const std::string& sql);
  std::int64_t lastInsertRowId() const;
  int changes() const;

  const std::filesystem::path& file() const { return file_; }

 private:
  Database(sqlite3* db, std::filesystem::path file) : db_(db), file_(std::move(file)) {}
  sqlite3* db_;
  std::filesystem::path file_;
};

// An error of the database domain naming what failed.
Error databaseError(sqlite3* db, const std::string& what);

}  // namespace glowsnap::services
