#include <sqlite3.h>
#include <sys/stat.h>

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

}  // namespace

// A borrowed connection that runs under the request's deadline and goes back to the pool
// (or, when its file was replaced meanwhile, is closed) when the call is done.
class SqliteReader::Lease {
 public:
  Lease(SqliteReader& reader, Deadline deadline) : reader_(reader), pooled_(reader.Borrow()) {
    pooled_.db->SetDeadline(deadline.At());
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

// Runs a read; a statement stopped by the deadline becomes NoAnswer.
template <typename Read>
auto Budgeted(Read read) {
  try {
    return read();
  } catch (const DbError& error) {
    if (error.Code() == SQLITE_INTERRUPT) throw NoAnswer("the query ran out of time");
    throw;
  }
}

}  // namespace

SqliteReader::SqliteReader(std::string path) : path_(std::move(path)) {
  // A database left in rollback mode with a hot journal by an older version's killed import
  // can only be repaired by a writer; moving it to WAL mode means that never happens again.
  try {
    Database writer(path_, Database::Mode::ReadWrite);
    writer.Exec("PRAGMA journal_mode = WAL");
  } catch (const DbError&) {
    // Not writable (or not there): the read-only open below tells which.
  }
  identity_ = FileIdentity();
  lastCheck_ = Deadline::Clock::now();
  Pooled pooled = Borrow();
  // Fails here, at start-up, rather than on the first request when the file is no data set.
  CheckSchema(*pooled.db);
  pooled.db->Prepare("SELECT count(*) FROM keywords, ranks, pages, links, page_text, phrase_counts LIMIT 0");
  Return(std::move(pooled));
}

std::string SqliteReader::FileIdentity() const {
#ifdef _WIN32
  // Windows does not let a file that is open be replaced.
  return {};
#else
  struct stat info {};
  if (stat(path_.c_str(), &info) != 0) return {};
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
#endif
}

SqliteReader::Pooled SqliteReader::Borrow() {
  std::uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto now = Deadline::Clock::now();
    if (now - lastCheck_ >= kIdentityCheck) {
      lastCheck_ = now;
      std::string identity = FileIdentity();
      if (!identity.empty() && identity != identity_) {
        identity_ = identity;
        ++generation_;
        idle_.clear();
      }
    }
    generation = generation_;
    if (!idle_.empty()) {
      Pooled pooled = std::move(idle_.back());
      idle_.pop_back();
      return pooled;
    }
  }
  auto db = std::make_unique<Database>(path_, Database::Mode::ReadOnly);
  // Reads go through the memory map; the page cache only holds what the map does not cover.
  db->Exec("PRAGMA mmap_size = 268435456; PRAGMA cache_size = -4000;");
  return {std::move(db), generation};
}

void SqliteReader::Return(Pooled pooled) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pooled.generation == generation_) idle_.push_back(std::move(pooled));
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
    // Walks the matches in stored order and stops as soon as it has enough, so a common word
    // costs no more than a rare one.
    Statement matches = (*db).Prepare(
        "SELECT t.rowid, p.host_id FROM page_text t JOIN pages p ON p.id = t.rowid "
        "WHERE page_text MATCH ?1 ORDER BY t.rowid");
    matches.Bind(1, expression);
    std::unordered_map<std::int64_t, int> perHost;
    std::vector<std::int64_t> chosen;
    std::int64_t skipped = 0;
    for (int scanned = 0; static_cast<int>(chosen.size()) < limit && scanned < limits::kMaxCandidates && matches.Step();
         ++scanned) {
      if (++perHost[matches.Int(1)] > kResultsPerHost) continue;
      if (skipped < offset) {
        ++skipped;
        continue;
      }
      chosen.push_back(matches.Int(0));
    }
    Statement page = (*db).Prepare(
        "SELECT p.url, p.title, substr(CAST(t.body AS BLOB), 1, ?2) FROM pages p JOIN page_text t ON t.rowid = p.id "
        "WHERE p.id = ?1");
    for (std::int64_t id : chosen) {
      page.Bind(1, id).Bind(2, static_cast<std::int64_t>(kSnippetBytes));
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
  return Budgeted([&]() -> std::optional<std::int64_t> {
    Lease db(*this, deadline);
    Statement query = (*db).Prepare("SELECT rank FROM ranks WHERE domain = ?1");
    for (const std::string& domain : RankDomains(host)) {
      query.Bind(1, domain);
      if (query.Step()) return query.Int(0);
      query.Reset();
    }
    return std::nullopt;
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
