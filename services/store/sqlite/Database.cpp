#include "services/store/sqlite/Database.h"

#include <sqlite3.h>

#include <utility>

#include "services/Limits.h"

namespace quillet::services {
namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw DbError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"),
                db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM);
}

// How many virtual machine steps a statement runs between looks at the clock.
constexpr int kProgressSteps = 1000;

}  // namespace

Database::Database(const std::string& path, Mode mode) {
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::ReadOnly: flags |= SQLITE_OPEN_READONLY; break;
    case Mode::ReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
    case Mode::Create: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
  }
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string message = "cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError(message, code);
  }
  sqlite3_extended_result_codes(db_, 1);
  try {
    RegisterWordSplitter(db_);
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
  // A writer holding the file briefly (an import committing) should delay readers, not fail them.
  sqlite3_busy_timeout(db_, static_cast<int>(limits::kSqliteBusyTimeout.count()));
}

Database::~Database() { sqlite3_close(db_); }

Database::Database(Database&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {
  if (db_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
}

Database& Database::operator=(Database&& other) noexcept {
  if (this != &other) {
    sqlite3_close(db_);
    db_ = std::exchange(other.db_, nullptr);
    if (db_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    deadline_ = std::chrono::steady_clock::time_point::max();
    abandoned_ = nullptr;
  }
  return *this;
}

void Database::SetDeadline(std::chrono::steady_clock::time_point at, const std::atomic<bool>* abandoned) {
  deadline_ = at;
  abandoned_ = abandoned;
  if (at == std::chrono::steady_clock::time_point::max() && !abandoned)
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  else sqlite3_progress_handler(db_, kProgressSteps, &Database::OnProgress, this);
}

int Database::OnProgress(void* self) {
  const auto* db = static_cast<Database*>(self);
  if (db->abandoned_ && db->abandoned_->load(std::memory_order_relaxed)) return 1;
  return std::chrono::steady_clock::now() >= db->deadline_ ? 1 : 0;
}

void Database::Exec(std::string_view sql) {
  std::string text(sql);
  char* error = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw DbError(message, sqlite3_extended_errcode(db_));
  }
}

Statement Database::Prepare(std::string_view sql) { return Statement(db_, sql); }

std::int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Database::Changes() const { return sqlite3_changes(db_); }

Transaction::Transaction(Database& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() { Rollback(); }

void Transaction::Rollback() noexcept {
  if (open_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  open_ = false;
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
    Fail(db, "prepare");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Fail(db_, "bind");
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK)
    Fail(db_, "bind");
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) Fail(db_, "bind");
  return *this;
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(db_, "step");
}

void Statement::Run() {
  while (Step()) {
  }
  Reset();
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

}  // namespace quillet::services
