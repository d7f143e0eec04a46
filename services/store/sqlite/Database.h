#pragma once
// A thin RAII layer over SQLite: one owner per connection and per prepared statement, errors
// turned into exceptions so that an importer's transaction is rolled back by unwinding.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace quillet::services {

class DbError : public std::runtime_error {
 public:
  explicit DbError(const std::string& what, int code = 0) : std::runtime_error(what), code_(code) {}
  // SQLite's primary result code (SQLITE_FULL, SQLITE_INTERRUPT, ...), 0 when not from SQLite.
  int Code() const { return code_ & 0xFF; }

 private:
  int code_;
};

class Statement;

// Makes the tokenizer "quillet" (services/Tokens.h) known to a connection.
void RegisterWordSplitter(sqlite3* db);

// Every connection knows the tokenizer "quillet" of the full-text index.
class Database {
 public:
  enum class Mode { ReadOnly, ReadWrite, Create };
  // Throws DbError when the file cannot be opened in that mode. ReadOnly never creates.
  Database(const std::string& path, Mode mode);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  Database(Database&& other) noexcept;
  Database& operator=(Database&& other) noexcept;

  // Runs one or more statements without results.
  void Exec(std::string_view sql);
  Statement Prepare(std::string_view sql);
  std::int64_t LastInsertId() const;
  int Changes() const;
  sqlite3* Handle() const { return db_; }

  // Statements run after this point in time, or once *abandoned is set, fail with
  // SQLITE_INTERRUPT; time_point::max() and no flag lift the limit. Call again after moving
  // the object.
  void SetDeadline(std::chrono::steady_clock::time_point at, const std::atomic<bool>* abandoned = nullptr);

 private:
  static int OnProgress(void* self);

  sqlite3* db_ = nullptr;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
  const std::atomic<bool>* abandoned_ = nullptr;
};

// One transaction, rolled back when it is destroyed without Commit (an exception, an
// interruption), so a failed import leaves the database as it was.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();
  // Undoes everything now; never throws.
  void Rollback() noexcept;

 private:
  Database& db_;
  bool open_ = true;
};

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept;

  // Parameters count from 1.
  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindNull(int index);
  // Advances to the next row; false when done. Throws DbError on failure.
  bool Step();
  // Runs a statement that yields no rows, then resets it for reuse.
  void Run();
  void Reset();

  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace quillet::services
