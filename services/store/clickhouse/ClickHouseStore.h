#pragma once
// The store for teams: pages, keywords and ranks on a ClickHouse server or cluster, reached
// over its HTTP interface. It gives the same answers as the SQLite store for the same data:
// text is split by the same word splitter (services/Tokens.h) in this process, and a phrase
// is found through posting tables of the word 1-, 2- and 3-grams of every page; a longer
// phrase through its 3-grams, checked against the page's normalised text.
//
// Rows are never changed in place: a page that a later import completes (crawl metadata for
// crawl text) is retracted, every row of it again with sign -1, and stored anew under a new
// id, so that counts are sums of signs and an unfinished import changes nothing.
//
// On a cluster every table lives on each shard, behind a Distributed table over all of them.
// Pages are sharded by page id, and a page's grams and links go with it, so that each shard
// answers its share of every query on its own; keywords by term, ranks by domain.
//
// ClickHouse has no transactions: every row carries the id of its import, and readers see
// only imports marked complete in the table imports (kept on the first node). An import that
// dies is found by its silent heartbeat and its rows deleted.
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "services/Limits.h"
#include "services/store/Store.h"
#include "services/store/clickhouse/Http.h"

namespace quillet::services {

// Version of the tables below, kept in the table schema of each node.
constexpr std::int64_t kClickHouseSchemaVersion = 2;

struct ClickHouseOptions {
  // Servers by URL. The first takes every query and insert; on a cluster, the schema is also
  // created on (and unfinished imports deleted from) the others listed.
  std::vector<std::string> nodes;
  // Cluster as named in the servers' remote_servers configuration; empty for one server.
  std::string cluster;
  std::string database = "quillet";
  std::chrono::milliseconds staleImport = limits::kStaleImport;
};

// "URL,URL,..." as given on the command line.
std::vector<std::string> SplitNodeList(const std::string& list);

namespace clickhouse {
class ClickHouseDatabase;
class KeySet;
}  // namespace clickhouse

class ClickHouseReader : public StoreReader {
 public:
  // Creates the schema when missing, throws ClickHouseError when a node or shard holds
  // another version or cannot be reached, deletes the rows of imports found dead.
  explicit ClickHouseReader(const ClickHouseOptions& options);
  ~ClickHouseReader() override;

  std::vector<Suggestion> FindSuggestions(const std::vector<std::string>& words, int limit, Deadline deadline) override;
  std::int64_t CountMatches(const TextQuery& query, Deadline deadline) override;
  std::vector<ResultItem> FindPages(const TextQuery& query, std::int64_t offset, int limit, Deadline deadline) override;
  std::int64_t CountLinks(std::string_view host, Deadline deadline) override;
  std::optional<std::int64_t> FindRank(std::string_view host, Deadline deadline) override;
  std::vector<SourceRecord> Sources() override;
  StoreCounts Counts() override;

 private:
  std::string Ask(const std::string& sql, Deadline deadline) const;

  std::unique_ptr<clickhouse::ClickHouseDatabase> db_;
};

// One import. Rows go out in large inserts as they come; readers see them once Commit has
// marked the import complete. Only one import runs at a time: a second one is refused.
class ClickHouseWriter : public StoreWriter {
 public:
  explicit ClickHouseWriter(const ClickHouseOptions& options);
  // Without Commit: marks the import abandoned and deletes what it sent (best effort; the
  // rows are never seen either way).
  ~ClickHouseWriter() override;

  Put PutKeyword(const std::string& term, std::int64_t searches) override;
  Put PutRank(const std::string& host, std::int64_t rank) override;
  bool AddPage(const PageInput& page) override;
  Merge MergePage(const PageInput& page) override;
  void TallyKeyword(const std::string& term, std::int64_t count) override;
  TallyResult StoreTally(std::int64_t multiply, std::int64_t divide) override;
  void RecordSource(const SourceRecord& source) override;
  bool HasSource(const std::string& address, std::int64_t firstLines) override;
  void Commit() override;

  std::uint32_t ImportId() const { return importId_; }

 private:
  struct Batch {
    const char* table;
    const char* columns;
    std::string rows;
  };
  void Row(Batch& batch, std::initializer_list<std::string_view> fields);
  void Flush(Batch& batch);
  void Beat(bool force = false);
  // Keys of a table with a value each, from rows of complete imports (grouped, having ...).
  void LoadKeys(clickhouse::KeySet& keys, const char* table, const char* column, const char* value, const char* having);
  void LoadUrls();
  // The rows of a page with the sign given (1 to store it, -1 to retract it).
  struct StoredPage;
  void WritePage(const StoredPage& page, int sign);
  StoredPage ReadPage(std::uint64_t id);
  // Ids and versions: the import's id above a count of what it wrote.
  std::uint64_t LastVersion() const { return (static_cast<std::uint64_t>(importId_) << 40) | sequence_; }
  std::uint64_t NextVersion() {
    ++sequence_;
    return LastVersion();
  }

  std::unique_ptr<clickhouse::ClickHouseDatabase> db_;
  std::uint32_t importId_ = 0;
  std::uint64_t owner_ = 0;
  std::uint64_t sequence_ = 0;
  bool committed_ = false;
  std::chrono::steady_clock::time_point lastBeat_;
  Batch pages_{"pages",
               "page, ord, sign, import_id, url_hash, host, url, title, snippet, title_words, body_words, "
               "link_hosts",
               {}};
  Batch grams_{"grams", "gram, page, sign, import_id", {}};
  Batch links_{"links", "host, page, sign, import_id", {}};
  Batch tally_{"tally", "term, count, round, import_id", {}};
  std::uint32_t tallyRound_ = 0;
  bool tallied_ = false;
  // Pages of this import with ids up to this one are on the server.
  std::uint64_t pagesSent_ = 0;
  Batch keywords_{"keywords", "term, key, searches, version, import_id", {}};
  Batch keywordWords_{"keyword_words", "word, term, import_id", {}};
  Batch ranks_{"ranks", "domain, key, rank, version, import_id", {}};
  std::unique_ptr<clickhouse::KeySet> urls_, terms_, domains_;
  std::vector<SourceRecord> sources_;  // sent at Commit
};

}  // namespace quillet::services
