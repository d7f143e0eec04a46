#include <sqlite3.h>
#include <sys/stat.h>

#include <string>
#include <unordered_map>

#include "services/Limits.h"
#include "services/store/Rules.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Hosts.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

// How often a reader looks whether its file was replaced.
constexpr std::chrono::seconds kIdentityCheck{1};
constexpr std::chrono::milliseconds kWaitSlice{20};

constexpr const char* kFindRank = "SELECT rank FROM ranks WHERE domain = ?1";

// The rank of the host, or of the nearest parent domain that has one (query: kFindRank).
std::optional<std::int64_t> RankOf(Statement& query, std::string_view host) {
  for (const std::string& domain : RankDomains(host)) {
    query.Bind(1, domain);
    bool found = query.Step();
    std::optional<std::int64_t> rank;
    if (found) rank = query.Int(0);
    query.Reset();
    if (found) return rank;
  }
  return std::nullopt;
}

}  // namespace

// A borrowed connection that runs under the request's deadline and goes back to the pool
// (or, when its file was replaced meanwhile, is closed) when the call is done.
class SqliteReader::Lease {
 public:
  Lease(SqliteReader& reader, Deadline deadline) : reader_(reader), pooled_(reader.Borrow(deadline)) {
    pooled_.db->SetDeadline(deadline.At(), deadline.AbandonedFlag());
  }
  ~Lease() {
    pooled_.db->SetDeadline(Deadline::None().At());
    reader_.Return(std::move(pooled_));
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  Database& operator*() { return *pooled_.db; }

 private:
  SqliteReader& reader_;
  Pooled pooled_;
};

namespace {

// Runs a read; a statement stopped by the deadline, and damage found in the file, become
// NoAnswer.
template <typename Read>
auto Budgeted(Read read) {
  try {
    return read();
  } catch (const DbError& error) {
    if (error.Code() == SQLITE_INTERRUPT) throw NoAnswer("the query ran out of time");
    if (error.Code() == SQLITE_CORRUPT || error.Code() == SQLITE_NOTADB)
      throw NoAnswer(std::string("the database file is damaged: ") + error.what());
    throw;
  }
}

// The file's identity: a file renamed over it is another one. Empty on Windows, which does
// not let a file that is open be replaced.
std::string FileIdentity(const std::string& path, bool withVersion) {
#ifdef _WIN32
  (void)path;
  (void)withVersion;
  return {};
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  std::string identity = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  // A refused file is checked again once it changes in place too.
  if (withVersion)
    identity += ":" + std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
                std::to_string(info.st_mtim.tv_nsec);
  return identity;
#endif
}

std::unique_ptr<Database> OpenForReading(const std::string& path) {
  auto db = std::make_unique<Database>(path, Database::Mode::ReadOnly);
  // Reads go through the memory map; the page cache only holds what the map does not cover.
  db->Exec("PRAGMA mmap_size = 268435456; PRAGMA cache_size = -4000;");
  return db;
}

}  // namespace

std::string CheckDatabaseFile(const std::string& path) {
  try {
    Database db(path, Database::Mode::ReadOnly);
    db.SetDeadline(Deadline::Clock::now() + limits::kSqliteFileCheck);
    CheckSchema(db);
    for (const char* table :
         {"keywords", "keyword_words", "hosts", "pages", "page_text", "links", "ranks", "phrase_counts"}) {
      Statement read = db.Prepare(std::string("SELECT * FROM ") + table + " LIMIT 1");
      read.Step();
    }
    Statement check = db.Prepare("PRAGMA quick_check(1)");
    std::string verdict = check.Step() ? check.Text(0) : "no verdict";
    return verdict == "ok" ? std::string() : "PRAGMA quick_check: " + verdict;
  } catch (const DbError& error) {
    // Out of time in the quick check, after the schema and every table were read.
    if (error.Code() == SQLITE_INTERRUPT) return {};
    return error.what();
  }
}

SqliteReader::SqliteReader(std::string path, Note note) : path_(std::move(path)), note_(std::move(note)) {
  // A database left in rollback mode with a hot journal by an older version's killed import
  // can only be repaired by a writer; moving it to WAL mode means that never happens again.
  // A database of the earlier schema is brought up to this one, so that it keeps working.
  std::unique_ptr<Database> writer;
  try {
    writer = std::make_unique<Database>(path_, Database::Mode::ReadWrite);
    writer->Exec("PRAGMA journal_mode = WAL");
  } catch (const DbError&) {
    writer.reset();  // not writable (or not there): the read-only open below tells which
  }
  if (writer) UpgradeSchema(*writer);
  writer.reset();
  identity_ = FileIdentity(path_, false);
  lastLook_ = Deadline::Clock::now();
  // Fails here, at start-up, rather than on the first request when the file is no data set.
  Pooled pooled{OpenForReading(path_), generation_};
  CheckSchema(*pooled.db);
  pooled.db->Prepare("SELECT count(*) FROM keywords, ranks, pages, links, page_text, phrase_counts LIMIT 0");
  Return(std::move(pooled));
}

SqliteReader::~SqliteReader() {
  if (checker_.joinable()) checker_.join();
}

void SqliteReader::LookForNewFile(std::unique_lock<std::mutex>& lock) {
  auto now = Deadline::Clock::now();
  if (checking_ || now - lastLook_ < kIdentityCheck) return;
  lastLook_ = now;
  std::string identity = FileIdentity(path_, false);
  if (identity.empty()) return;
  if (identity == identity_) {
    opensServed_ = true;  // the served file is back (or never left)
    return;
  }
  // No connection may be opened on the path until the new file has passed the check.
  opensServed_ = false;
  std::string version = FileIdentity(path_, true);
  if (version == refused_) return;
  checking_ = true;
  if (checker_.joinable()) {
    lock.unlock();
    checker_.join();  // finished: checking_ was false
    lock.lock();
  }
  checker_ = std::thread([this, identity, version] { CheckNewFile(identity, version); });
}

void SqliteReader::CheckNewFile(std::string identity, std::string version) {
  std::string problem = CheckDatabaseFile(path_);
  // The file may have been replaced again while it was checked: then this verdict is not its.
  bool same = FileIdentity(path_, true) == version;
  std::string said;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    checking_ = false;
    lastLook_ = Deadline::Clock::time_point{};  // look again at the next read
    if (!same) return;
    if (problem.empty()) {
      identity_ = identity;
      ++generation_;
      idle_.clear();
      opensServed_ = true;
      refused_.clear();
      said = path_ + ": a new database file is in place and serves from now on";
    } else {
      refused_ = version;
      said = path_ + ": the new database file is not used (" + problem +
             "); serving goes on with the last good data, and the file is checked again when it changes";
    }
  }
  returned_.notify_all();
  if (note_) note_(said);
}

SqliteReader::Pooled SqliteReader::Borrow(Deadline deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  LookForNewFile(lock);
  for (;;) {
    if (!idle_.empty()) {
      Pooled pooled = std::move(idle_.back());
      idle_.pop_back();
      return pooled;
    }
    if (opensServed_) break;
    // Only the last good file can answer, through the connections already open to it.
    if (deadline.Passed()) throw NoAnswer("no connection to the last good database file was free in time");
    // In slices, so that a client that has gone is noticed too.
    returned_.wait_for(lock, kWaitSlice);
  }
  std::uint64_t generation = generation_;
  std::string identity = identity_;
  lock.unlock();
  auto db = OpenForReading(path_);
  // Renamed over between the look and the open: this connection may be to an unchecked file.
  if (FileIdentity(path_, false) != identity) throw NoAnswer("the database file was replaced; it is being checked");
  return {std::move(db), generation};
}

void SqliteReader::Return(Pooled pooled) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pooled.generation != generation_) return;
    idle_.push_back(std::move(pooled));
  }
  returned_.notify_one();
}

std::vector<Suggestion> SqliteReader::FindSuggestions(const std::vector<std::string>& words, int limit,
                                                      Deadline deadline) {
  std::vector<Suggestion> rows;
  if (words.empty()) return rows;
  std::string sql = "SELECT k.term, k.searches FROM keywords k WHERE k.term IN (";
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) sql += " INTERSECT ";
    sql += "SELECT term FROM keyword_words WHERE word = ?" + std::to_string(i + 1);
  }
  sql += ") ORDER BY k.searches DESC, k.term LIMIT ?" + std::to_string(words.size() + 1);
  return Budgeted([&] {
    Lease db(*this, deadline);
    Statement query = (*db).Prepare(sql);
    for (size_t i = 0; i < words.size(); ++i) query.Bind(static_cast<int>(i + 1), words[i]);
    query.Bind(static_cast<int>(words.size() + 1), limit);
    while (query.Step()) rows.push_back({query.Text(0), query.Int(1)});
    return rows;
  });
}

std::int64_t SqliteReader::CountMatches(const TextQuery& text, Deadline deadline) {
  std::string expression = MatchExpression(text.text, text.phrase);
  if (expression.empty()) return 0;
  return Budgeted([&] {
    Lease db(*this, deadline);
    if (text.phrase) {
      Statement known = (*db).Prepare("SELECT pages FROM phrase_counts WHERE phrase = ?1");
      known.Bind(1, NormalizedText(text.text));
      if (known.Step()) return known.Int(0);
    }
    Statement query = (*db).Prepare("SELECT count(*) FROM page_text WHERE page_text MATCH ?1");
    query.Bind(1, expression);
    return query.Step() ? query.Int(0) : std::int64_t{0};
  });
}

std::vector<ResultItem> SqliteReader::FindPages(const TextQuery& text, std::int64_t offset, int limit,
                                                Deadline deadline) {
  std::vector<ResultItem> items;
  std::string expression = MatchExpression(text.text, text.phrase);
  if (expression.empty() || limit <= 0) return items;
  return Budgeted([&] {
    Lease db(*this, deadline);
    // The first matches in stored order, so that a common word costs no more than a rare one.
    Statement matches = (*db).Prepare(
        "SELECT t.rowid, h.name, p.title FROM page_text t JOIN pages p ON p.id = t.rowid "
        "JOIN hosts h ON h.id = p.host_id WHERE page_text MATCH ?1 ORDER BY t.rowid LIMIT ?2");
    matches.Bind(1, expression).Bind(2, limits::kMaxCandidates);
    std::vector<std::vector<std::string>> phrases = QueryPhrases(text);
    Statement findRank = (*db).Prepare(kFindRank);
    std::unordered_map<std::string, std::optional<std::int64_t>> ranks;
    std::vector<Candidate> candidates;
    while (matches.Step()) {
      Candidate candidate{matches.Int(0), matches.Text(1), std::nullopt, TitleHolds(matches.Text(2), phrases)};
      auto known = ranks.find(candidate.host);
      if (known == ranks.end()) known = ranks.emplace(candidate.host, RankOf(findRank, candidate.host)).first;
      candidate.rank = known->second;
      candidates.push_back(std::move(candidate));
    }
    std::vector<Candidate> chosen = RankResults(std::move(candidates), offset, limit);
    Statement page = (*db).Prepare(
        "SELECT p.url, p.title, substr(CAST(t.body AS BLOB), 1, ?2) FROM pages p JOIN page_text t ON t.rowid = p.id "
        "WHERE p.id = ?1");
    for (const Candidate& candidate : chosen) {
      page.Bind(1, candidate.page).Bind(2, static_cast<std::int64_t>(kSnippetBytes));
      if (page.Step()) items.push_back({page.Text(0), page.Text(1), Snippet(page.Text(2))});
      page.Reset();
    }
    return items;
  });
}

std::int64_t SqliteReader::CountLinks(std::string_view host, Deadline deadline) {
  return Budgeted([&] {
    Lease db(*this, deadline);
    Statement query =
        (*db).Prepare("SELECT count(*) FROM links WHERE host_id = (SELECT id FROM hosts WHERE name = ?1)");
    query.Bind(1, NormalizeHost(host));
    return query.Step() ? query.Int(0) : std::int64_t{0};
  });
}

std::optional<std::int64_t> SqliteReader::FindRank(std::string_view host, Deadline deadline) {
  return Budgeted([&] {
    Lease db(*this, deadline);
    Statement query = (*db).Prepare(kFindRank);
    return RankOf(query, host);
  });
}

std::vector<SourceRecord> SqliteReader::Sources() {
  Lease db(*this, Deadline::None());
  return ReadSources(*db);
}

StoreCounts SqliteReader::Counts() {
  Lease db(*this, Deadline::None());
  return ReadCounts(*db);
}

std::vector<SourceRecord> ReadSources(Database& db) {
  std::vector<SourceRecord> sources;
  Statement table = db.Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'sources'");
  if (!table.Step()) return sources;
  Statement query =
      db.Prepare("SELECT address, kind, bytes, stored, first_lines, at, import_id FROM sources ORDER BY id");
  while (query.Step())
    sources.push_back(
        {query.Text(0), query.Text(1), query.Int(2), query.Int(3), query.Int(4), query.Text(5), query.Int(6)});
  return sources;
}

StoreCounts ReadCounts(Database& db) {
  StoreCounts counts;
  Statement query =
      db.Prepare("SELECT (SELECT count(*) FROM pages), (SELECT count(*) FROM keywords), (SELECT count(*) FROM ranks)");
  if (query.Step()) counts = {query.Int(0), query.Int(1), query.Int(2)};
  return counts;
}

}  // namespace quillet::services
