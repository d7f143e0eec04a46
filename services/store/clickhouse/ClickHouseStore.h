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
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/Limits.h"
#include "services/store/Store.h"
#include "services/store/clickhouse/Http.h"

namespace quillet::services {

// Version of the tables below, kept in the table schema of each node. 3: Unicode case
// folding (terms, hosts, words), terms found by the splitter's words.
constexpr std::int64_t kClickHouseSchemaVersion = 3;

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

// Brings a database of schema 2 to this version, so that it keeps working: one import that
// writes terms, rank domains and pages as the text rules fold them now (terms that now fold
// alike keep the larger count, domains the better rank) and the words of every term, then
// deletes the words as they were and notes the new version on every node. Nothing to do for
// a database of this version. Readers and writers call it first.
void UpgradeClickHouse(const ClickHouseOptions& options);

class ClickHouseReader : public StoreReader {
 public:
  // Upgrades a database of schema 2, creates the schema when missing, throws
  // ClickHouseError when a node or shard holds another version or cannot be reached,
  // deletes the rows of imports found dead.
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
  // The rank of each host, as FindRank gives it, in one read.
  std::vector<std::optional<std::int64_t>> Ranks(const std::vector<std::string>& hosts, Deadline deadline) const;

  std::unique_ptr<clickhouse::ClickHouseDatabase> db_;
};

// One import. Rows go out in large inserts as they come; readers see them once Commit has
// marked the import complete. Only one import runs at a time: a second one is refused.
// A mark starts a part of the import under an id of its own, so that a rollback is one
// id marked abandoned (its rows are never seen, and deleted) rather than a delete of rows.
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
  void Mark() override;
  void ReleaseMark() override;
  void RollBackToMark() override;
  void RecordSource(const SourceRecord& source) override;
  bool HasSource(const std::string& address, std::int64_t firstLines) override;
  void Commit() override;

  std::uint32_t ImportId() const { return importId_; }

 private:
  friend void UpgradeClickHouse(const ClickHouseOptions& options);
  ClickHouseWriter(const ClickHouseOptions& options, bool upgrading);
  // What UpgradeClickHouse writes.
  void Refold();
  // Reads a table's keys with their values (of complete imports; only: a further condition),
  // folds each key, and calls write once per folded key with the kept value of all the keys
  // that fold to it (keep: max or min) and whether any of them folded otherwise.
  void RefoldKeys(const std::string& table, const std::string& key, const std::string& value, const std::string& only,
                  const std::function<std::string(const std::string&)>& fold, const char* keep,
                  const std::function<void(const std::string&, std::int64_t, bool)>& write);
  // Slices for reading rows whose count and bytes a query ("SELECT count, bytes ...") gives.
  std::uint64_t Parts(const std::string& sizes);
  struct Batch {
    const char* table;
    const char* columns;
    std::string rows;
    std::uint64_t flushes = 0;
  };
  // What a rollback returns to.
  struct MarkPoint {
    std::uint32_t part = 0;                                      // the id rows were written with before the mark
    std::vector<std::pair<std::size_t, std::uint64_t>> batches;  // size and flushes of each batch
  };
  std::vector<Batch*> Batches();
  std::string IdList() const;
  void Row(Batch& batch, std::initializer_list<std::string_view> fields);
  void Flush(Batch& batch);
  void Beat(bool force = false);
  // Keys of a table with a value each, from rows of complete imports and of this one (grouped
  // by group, having ...).
  void LoadKeys(clickhouse::KeySet& keys, const char* table, const char* column, const std::string& value,
                const char* group, const char* having);
  void LoadTerms();
  void LoadDomains();
  void LoadUrls();
  // The rows of a page with the sign given (1 to store it, -1 to retract it).
  struct StoredPage {
    std::uint64_t id = 0, ord = 0, urlHash = 0;
    std::string host, url, title, snippet, titleWords, bodyWords;
    std::vector<std::string> linkHosts;
  };
  void WritePage(const StoredPage& page, int sign);
  StoredPage ReadPage(std::uint64_t id);
  static StoredPage ParsePage(std::vector<std::string>& row);
  // Retracts a stored page and stores its new version under a new id.
  void Replace(const StoredPage& old, StoredPage page);
  // Ids and versions: the id of the import (or of its part) above a count of what it wrote.
  std::uint64_t LastVersion() const { return (static_cast<std::uint64_t>(partId_) << 40) | sequence_; }
  std::uint64_t NextVersion() {
    ++sequence_;
    return LastVersion();
  }

  std::unique_ptr<clickhouse::ClickHouseDatabase> db_;
  std::uint32_t importId_ = 0;
  std::uint32_t partId_ = 0;        // the id rows are written with: importId_, or a part's
  std::vector<std::uint32_t> ids_;  // importId_ and its parts not abandoned: complete together
  std::optional<MarkPoint> mark_;
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
  std::vector<StoredPage> readAhead_;  // stored pages read with the last one merged, by id
  Batch keywords_{"keywords", "term, key, searches, version, import_id", {}};
  Batch keywordWords_{"keyword_words", "word, term, import_id", {}};
  Batch ranks_{"ranks", "domain, key, rank, version, import_id", {}};
  std::unique_ptr<clickhouse::KeySet> urls_, terms_, domains_;
  std::vector<SourceRecord> sources_;  // sent at Commit
};

}  // namespace quillet::services
