#pragma once
// The embedded store: one SQLite file in WAL mode, so that readers never wait for an import
// nor depend on one finishing (a killed or failed import leaves them the last committed
// data), and see its data as soon as it commits. Hosts are kept normalised (NormalizeHost).
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "services/store/sqlite/Database.h"
#include "services/store/sqlite/PhraseFilter.h"
#include "services/store/Store.h"

namespace quillet::services {

// Version of the tables below, kept in the file's user_version. 2: page text split into words
// by the tokenizer "quillet". 3: the page counts of known phrases. 4: Unicode case folding
// (terms, hosts, words), terms found by the splitter's words, the import that gave a rank.
constexpr std::int64_t kSchemaVersion = 4;

// Creates the tables when they are missing, and brings a file of schema 3 up to this one
// (UpgradeSchema); leaves other data alone. Throws DbError, as CheckSchema, for a file of
// another schema.
void CreateSchema(Database& db);
// Throws DbError, saying what to do, when the file holds tables of another schema version.
void CheckSchema(Database& db);
// Brings a file of schema 3 to this version in one transaction, so that a database made by
// the earlier version keeps working: terms and hosts case folded (names that now fold alike
// become one: the larger count, the better rank), terms found by the splitter's words, the
// text index rebuilt when its words fold differently now, and the known phrases counted
// again where they changed. True when it upgraded the file; nothing to do for other versions.
bool UpgradeSchema(Database& db);

// The known phrase of a term: its folded words joined by blanks, the key of phrase_counts.
// Empty when the service never asks for it (no word, or more than a search may have).
std::string KnownPhrase(std::string_view term);

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
// pages; other phrases are counted by the full-text index.
//
// A file renamed over the served one (a new demo data set) is checked before it is used
// (CheckDatabaseFile), in the background, within a second of the change; the pool then
// starts over on it. A file that fails the check is not used: the reader goes on with the
// connections it holds to the last good file (new ones cannot be opened, so a request may
// wait for one, within its deadline), says why through the note, and checks again when the
// file changes. Damage found while serving (a file damaged in place) fails that read with
// NoAnswer, saying so.
class SqliteReader : public StoreReader {
 public:
  // Where the reader says what became of a replaced file; may be empty.
  using Note = std::function<void(const std::string&)>;
  // Throws DbError when the file is missing, holds no data set or fails the check.
  explicit SqliteReader(std::string path, Note note = nullptr);
  ~SqliteReader() override;

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
  Pooled Borrow(Deadline deadline);
  void Return(Pooled pooled);
  // Looks whether the file was replaced, at most once a second; with the mutex held.
  void LookForNewFile(std::unique_lock<std::mutex>& lock);
  void CheckNewFile(std::string identity, std::string version);

  const std::string path_;
  Note note_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<Pooled> idle_;
  std::uint64_t generation_ = 0;
  std::string identity_;     // of the file served
  bool opensServed_ = true;  // the file at the path is the one served: new connections may be opened
  std::string refused_;      // version of a file that failed the check
  bool checking_ = false;
  std::thread checker_;
  Deadline::Clock::time_point lastLook_;
};

// Why a database file cannot be served, or empty when it can: it opens, holds this
// version's schema, each table can be read, and PRAGMA quick_check finds nothing wrong
// within limits::kSqliteFileCheck (a check that runs out of time passes on what it saw).
std::string CheckDatabaseFile(const std::string& path);

// One import into the file (created with its schema when missing), in one transaction.
// It keeps phrase_counts exact as it goes: a new known phrase is counted once by the
// full-text index; a page stored or changed adds to (or takes from) the counts of the known
// phrases in its title and text, found through a PhraseFilter on a thread beside the writer
// (PhraseCounter). Count changes are gathered in memory (at most about
// limits::kPhraseCountBatch phrases) and written before Commit.
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
  // A savepoint (Durable mode only: a Bulk file has no journal to return with).
  void Mark() override;
  void ReleaseMark() override;
  void RollBackToMark() override;
  void RecordSource(const SourceRecord& source) override;
  bool HasSource(const std::string& address, std::int64_t firstLines) override;
  void Commit() override;

  Database& Db() { return db_; }

 private:
  std::int64_t HostId(const std::string& host);
  // Stores the page's links to other hosts; how many were new.
  int PutLinks(std::int64_t pageId, const std::string& host, const std::vector<std::string>& links);
  void AddKnownPhrase(const std::string& term);
  // Hands a stored or changed page to the phrase counter (made at the first page, with a
  // filter of the known phrases; none while there are none).
  void CountPhrases(std::string oldTitle, std::string oldText, std::string newTitle, std::string newText);
  // Takes the counter's changes into phraseChanges_.
  void GatherPhraseCounts();
  void WritePhraseCounts();

  Database db_;
  Mode mode_;
  Transaction transaction_;
  Statement putKeyword_, findKeyword_, putWord_, findHost_, putHost_, putPage_, findPage_, putText_, readText_,
      setTitle_, setText_, putLink_, findRank_, putRank_, findPhrase_, putPhrase_, countPhrase_, changePhrase_, tally_;
  std::int64_t rankImport_ = 0;  // this import's row in rank_imports, once it puts a rank
  std::int64_t rankImportAtMark_ = 0;
  std::unordered_map<std::string, std::int64_t> hostIds_;
  bool phrasesLoaded_ = false;
  std::unique_ptr<PhraseCounter> phraseCounter_;
  PhraseCounter::Changes phraseChanges_;
  std::vector<SourceRecord> sources_;  // written at Commit
};

}  // namespace quillet::services
