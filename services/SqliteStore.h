#pragma once
// The embedded store: one SQLite file in WAL mode, so that readers never wait for an import
// nor depend on one finishing (a killed or failed import leaves them the last committed
// data), and see its data as soon as it commits. Hosts are kept normalised (NormalizeHost).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "services/Database.h"
#include "services/Store.h"

namespace quillet::services {

// Version of the tables below, kept in the file's user_version. 2: page text split into words
// by the tokenizer "quillet".
constexpr std::int64_t kSchemaVersion = 2;

// Creates the tables when they are missing; leaves existing data alone. Throws DbError, as
// CheckSchema, for a file of another schema.
void CreateSchema(Database& db);
// Throws DbError, saying what to do, when the file holds tables of another schema version.
void CheckSchema(Database& db);

// FTS5 expression for an exact phrase, or for all the words when quoted is false. Empty when
// the text has nothing a page could match.
std::string MatchExpression(std::string_view text, bool quoted);

// Serving reads: each call borrows a read-only connection of its own from a pool and runs
// under the deadline. When the file is replaced (a new demo data set renamed into place),
// the pool starts over on the new file within a second.
class SqliteReader : public StoreReader {
 public:
  // Throws DbError when the file is missing or holds no data set.
  explicit SqliteReader(std::string path);

  std::vector<Suggestion> FindSuggestions(const std::vector<std::string>& words, int limit,
                                          Deadline deadline) override;
  std::int64_t CountMatches(const TextQuery& query, Deadline deadline) override;
  std::vector<ResultItem> FindPages(const TextQuery& query, std::int64_t offset, int limit,
                                    Deadline deadline) override;
  std::int64_t CountLinks(std::string_view host, Deadline deadline) override;
  std::optional<std::int64_t> FindRank(std::string_view host, Deadline deadline) override;

 private:
  class Lease;
  struct Pooled {
    std::unique_ptr<Database> db;
    std::uint64_t generation;
  };
  Pooled Borrow();
  void Return(Pooled pooled);
  std::string FileIdentity() const;

  const std::string path_;
  std::mutex mutex_;
  std::vector<Pooled> idle_;
  std::uint64_t generation_ = 0;
  std::string identity_;
  Deadline::Clock::time_point lastCheck_;
};

// One import into the file (created with its schema when missing), in one transaction.
class SqliteWriter : public StoreWriter {
 public:
  // Durable: WAL mode, safe beside a running server. Bulk: for a new file that is thrown
  // away when the build fails (no journal, large cache); Commit also compacts the index.
  enum class Mode { Durable, Bulk };
  explicit SqliteWriter(const std::string& path, Mode mode = Mode::Durable);
  ~SqliteWriter() override;

  Put PutKeyword(const std::string& term, std::int64_t searches) override;
  Put PutRank(const std::string& host, std::int64_t rank) override;
  bool AddPage(const PageInput& page) override;
  void Commit() override;

  Database& Db() { return db_; }

 private:
  std::int64_t HostId(const std::string& host);

  Database db_;
  Mode mode_;
  Transaction transaction_;
  Statement putKeyword_, findKeyword_, putWord_, findHost_, putHost_, putPage_, putText_, putLink_, findRank_,
      putRank_;
  std::unordered_map<std::string, std::int64_t> hostIds_;
};

}  // namespace quillet::services
