#pragma once
// The embedded store: one SQLite file in WAL mode, so that readers never wait for an import
// nor depend on one finishing (a killed or failed import leaves them the last committed
// data), and see its data as soon as it commits. Hosts are kept normalised (NormalizeHost).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "services/store/sqlite/Database.h"
#include "services/store/sqlite/PhraseFilter.h"
#include "services/store/Store.h"

namespace quillet::services {

// Version of the tables below, kept in the file's user_version. 2: page text split into words
// by the tokenizer "quillet". 3: the page counts of known phrases.
constexpr std::int64_t kSchemaVersion = 3;

// Creates the tables when they are missing; leaves existing data alone. Throws DbError, as
// CheckSchema, for a file of another schema.
void CreateSchema(Database& db);
// Throws DbError, saying what to do, when the file holds tables of another schema version.
void CheckSchema(Database& db);

// The recorded sources (table sources), oldest first; none when the file has no such table.
std::vector<SourceRecord> ReadSources(Database& db);
// What the file holds (StoreReader::Counts).
StoreCounts ReadCounts(Database& db);

// FTS5 expression for an exact phrase, or for all the words when quoted is false. Empty when
// the text has nothing a page could match.
std::string MatchExpression(std::string_view text, bool quoted);

// Serving reads: each call borrows a read-only connection of its own from a pool and runs
// under the deadline. The exact-phrase count of a known phrase (a stored term, split and
// folded as the index splits text) is one look-up in phrase_counts, whatever the number of
// pages; other phrases are counted by the full-text index. When the file is replaced (a new demo data set renamed into
// place), the pool starts over on the new file within a second.
class SqliteReader : public StoreReader {
 public:
  // Throws DbError when the file is missing or holds no data set.
  explicit SqliteReader(std::string path);

  std::vector<Suggestion> FindSuggestions(const std::vector<std::string>& words, int limit, Deadline deadline) override;
  std::int64_t CountMatches(const TextQuery& query, Deadline deadline) override;
  std::vector<ResultItem> FindPages(const TextQuery& query, std::int64_t offset, int limit, Deadline deadline) override;
  std::int64_t CountLinks(std::string_view host, Deadline deadline) override;
  std::optional<std::int64_t> FindRank(std::string_view host, Deadline deadline) override;
  std::vector<SourceRecord> Sources() override;
  StoreCounts Counts() override;

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
// It keeps phrase_counts exact as it goes: a new known phrase is counted once by the
// full-text index; a page stored or changed adds to (or takes from) the counts of the known
// phrases in its title and text, found through a PhraseFilter. Count changes are gathered
// in memory (at most limits::kPhraseCountBatch phrases) and written before Commit.
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
  Merge MergePage(const PageInput& page) override;
  void TallyKeyword(const std::string& term, std::int64_t count) override;
  TallyResult StoreTally(std::int64_t multiply, std::int64_t divide) override;
  void RecordSource(const SourceRecord& source) override;
  bool HasSource(const std::string& address, std::int64_t firstLines) override;
  void Commit() override;

  Database& Db() { return db_; }

 private:
  struct PhraseHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };
  std::int64_t HostId(const std::string& host);
  // Stores the page's links to other hosts; how many were new.
  int PutLinks(std::int64_t pageId, const std::string& host, const std::vector<std::string>& links);
  void AddKnownPhrase(const std::string& term);
  // The known phrases that may occur in a title and text (filter candidates).
  // scratch (0 or 1) picks the words the views in *found point into.
  void PagePhrases(std::string_view title, std::string_view text, int scratch,
                   std::unordered_set<std::string_view>* found);
  void ChangePhraseCount(std::string_view phrase, std::int64_t change);
  void WritePhraseCounts();

  Database db_;
  Mode mode_;
  Transaction transaction_;
  Statement putKeyword_, findKeyword_, putWord_, findHost_, putHost_, putPage_, findPage_, putText_, readText_,
      setTitle_, setText_, putLink_, findRank_, putRank_, findPhrase_, putPhrase_, countPhrase_, changePhrase_, tally_;
  std::unordered_map<std::string, std::int64_t> hostIds_;
  std::unique_ptr<PhraseFilter> phraseFilter_;  // built at the first page
  std::unordered_map<std::string, std::int64_t, PhraseHash, std::equal_to<>> phraseChanges_;
  FoldedWords words_[4];               // scratch for the phrases of a page (old and new title and text)
  std::vector<SourceRecord> sources_;  // written at Commit
};

}  // namespace quillet::services
