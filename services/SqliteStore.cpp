#include "services/SqliteStore.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "services/Limits.h"
#include "services/Query.h"
#include "services/Tokens.h"

namespace quillet::services {
namespace {

// How often a reader looks whether its file was replaced.
constexpr std::chrono::seconds kIdentityCheck{1};
// Page cache of an import (KiB, negative as SQLite takes it): large imports touch their
// indexes all over; the default 2 MB makes them read the same pages again and again.
constexpr const char* kImportCache = "-32768";
// Words the full-text index gathers in memory before it writes them out (bytes): fewer,
// larger segments to merge later. A setting of the index, kept in the file.
constexpr int kIndexBatch = 16 * 1024 * 1024;
// The write-ahead log is cut back to this after an import, whether it committed or not.
constexpr const char* kJournalLimit = "67108864";

Database OpenForWriting(const std::string& path, SqliteWriter::Mode mode) {
  Database db(path, Database::Mode::Create);
  if (mode == SqliteWriter::Mode::Bulk) {
    db.Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -200000;");
  } else {
    db.Exec(std::string("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA journal_size_limit = ") +
            kJournalLimit + "; PRAGMA cache_size = " + kImportCache + ";");
  }
  CreateSchema(db);
  // The sums of one run, per connection: nothing of them outlives the import.
  db.Exec("CREATE TEMP TABLE IF NOT EXISTS tally(term TEXT PRIMARY KEY, total INTEGER NOT NULL) WITHOUT ROWID");
  return db;
}

}  // namespace

void CreateSchema(Database& db) {
  CheckSchema(db);
  db.Exec(R"sql(
    CREATE TABLE IF NOT EXISTS keywords(term TEXT PRIMARY KEY, searches INTEGER NOT NULL) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS keyword_words(word TEXT NOT NULL, term TEXT NOT NULL,
                                             PRIMARY KEY(word, term)) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS hosts(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
    CREATE TABLE IF NOT EXISTS pages(id INTEGER PRIMARY KEY, url TEXT NOT NULL UNIQUE,
                                     host_id INTEGER NOT NULL, title TEXT NOT NULL);
    CREATE VIRTUAL TABLE IF NOT EXISTS page_text USING fts5(title, body, tokenize = 'quillet');
    CREATE TABLE IF NOT EXISTS links(host_id INTEGER NOT NULL, page_id INTEGER NOT NULL,
                                     PRIMARY KEY(host_id, page_id)) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS ranks(domain TEXT PRIMARY KEY, rank INTEGER NOT NULL) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS phrase_counts(phrase TEXT PRIMARY KEY, pages INTEGER NOT NULL) WITHOUT ROWID;
  )sql");
  Statement batch = db.Prepare("SELECT 1 FROM page_text_config WHERE k = 'hashsize'");
  if (!batch.Step())
    db.Exec("INSERT INTO page_text(page_text, rank) VALUES('hashsize', " + std::to_string(kIndexBatch) + ")");
  db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
}

void CheckSchema(Database& db) {
  Statement version = db.Prepare("PRAGMA user_version");
  std::int64_t found = version.Step() ? version.Int(0) : 0;
  Statement tables = db.Prepare("SELECT count(*) FROM sqlite_master");
  bool empty = tables.Step() && tables.Int(0) == 0;
  if (!empty && found != kSchemaVersion)
    throw DbError("the database was made by " + std::string(found < kSchemaVersion ? "an earlier" : "a later") +
                  " version of quillet-services (schema " + std::to_string(found) + ", this version reads " +
                  std::to_string(kSchemaVersion) + "); build it again with demo, or import into a new file");
}

std::string MatchExpression(std::string_view text, bool quoted) {
  auto quote = [](std::string_view part) {
    std::string out = "\"";
    for (char c : part) {
      // The query parser stops at a NUL; other control bytes are no part of any word either.
      out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
      if (c == '"') out += '"';
    }
    return out + "\"";
  };
  if (Words(text).empty()) return {};
  if (quoted) return quote(text);
  std::string expression;
  for (const std::string& word : SplitWords(text)) {
    if (Words(word).empty()) continue;
    if (!expression.empty()) expression += ' ';
    expression += quote(word);
  }
  return expression;
}

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
    for (int scanned = 0; static_cast<int>(chosen.size()) < limit && scanned < kMaxCandidates && matches.Step();
         ++scanned) {
      if (++perHost[matches.Int(1)] > kResultsPerHost) continue;
      if (skipped < offset) {
        ++skipped;
        continue;
      }
      chosen.push_back(matches.Int(0));
    }
    Statement page = (*db).Prepare(
        "SELECT p.url, p.title, substr(t.body, 1, ?2) FROM pages p JOIN page_text t ON t.rowid = p.id "
        "WHERE p.id = ?1");
    for (std::int64_t id : chosen) {
      page.Bind(1, id).Bind(2, static_cast<std::int64_t>(kSnippetLength));
      if (page.Step()) items.push_back({page.Text(0), page.Text(1), page.Text(2)});
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
    std::string domain = NormalizeHost(host);
    Statement query = (*db).Prepare("SELECT rank FROM ranks WHERE domain = ?1");
    // blog.example.com falls back to example.com, but never to a bare top-level name.
    while (!domain.empty()) {
      query.Bind(1, domain);
      if (query.Step()) return query.Int(0);
      query.Reset();
      size_t dot = domain.find('.');
      if (dot == std::string::npos || domain.find('.', dot + 1) == std::string::npos) break;
      domain.erase(0, dot + 1);
    }
    return std::nullopt;
  });
}

SqliteWriter::SqliteWriter(const std::string& path, Mode mode)
    : db_(OpenForWriting(path, mode)),
      mode_(mode),
      transaction_(db_),
      putKeyword_(db_.Prepare("INSERT OR REPLACE INTO keywords(term, searches) VALUES(?1, ?2)")),
      findKeyword_(db_.Prepare("SELECT 1 FROM keywords WHERE term = ?1")),
      putWord_(db_.Prepare("INSERT OR IGNORE INTO keyword_words(word, term) VALUES(?1, ?2)")),
      findHost_(db_.Prepare("SELECT id FROM hosts WHERE name = ?1")),
      putHost_(db_.Prepare("INSERT INTO hosts(name) VALUES(?1)")),
      putPage_(db_.Prepare("INSERT OR IGNORE INTO pages(url, host_id, title) VALUES(?1, ?2, ?3)")),
      findPage_(db_.Prepare("SELECT id FROM pages WHERE url = ?1")),
      putText_(db_.Prepare("INSERT INTO page_text(rowid, title, body) VALUES(?1, ?2, ?3)")),
      readText_(db_.Prepare("SELECT title, body FROM page_text WHERE rowid = ?1")),
      setTitle_(db_.Prepare("UPDATE pages SET title = ?2 WHERE id = ?1")),
      setText_(db_.Prepare("UPDATE page_text SET title = ?2, body = ?3 WHERE rowid = ?1")),
      putLink_(db_.Prepare("INSERT OR IGNORE INTO links(host_id, page_id) VALUES(?1, ?2)")),
      findRank_(db_.Prepare("SELECT 1 FROM ranks WHERE domain = ?1")),
      putRank_(db_.Prepare("INSERT OR REPLACE INTO ranks(domain, rank) VALUES(?1, ?2)")),
      findPhrase_(db_.Prepare("SELECT 1 FROM phrase_counts WHERE phrase = ?1")),
      putPhrase_(db_.Prepare("INSERT INTO phrase_counts(phrase, pages) VALUES(?1, ?2)")),
      countPhrase_(db_.Prepare("SELECT count(*) FROM page_text WHERE page_text MATCH ?1")),
      changePhrase_(db_.Prepare("UPDATE phrase_counts SET pages = pages + ?2 WHERE phrase = ?1")),
      tally_(db_.Prepare("INSERT INTO temp.tally(term, total) VALUES(?1, min(?2, ?3)) "
                         "ON CONFLICT(term) DO UPDATE SET total = min(total + excluded.total, ?3)")) {}

SqliteWriter::~SqliteWriter() {
  transaction_.Rollback();
  // Whatever the import left in the log (all of it, when it failed on a full disk) goes.
  if (mode_ == Mode::Durable) sqlite3_exec(db_.Handle(), "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
}

StoreWriter::Put SqliteWriter::PutKeyword(const std::string& term, std::int64_t searches) {
  findKeyword_.Bind(1, term);
  bool existed = findKeyword_.Step();
  findKeyword_.Reset();
  putKeyword_.Bind(1, term).Bind(2, searches).Run();
  if (!existed) {
    for (const std::string& word : SplitWords(term)) putWord_.Bind(1, word).Bind(2, term).Run();
    AddKnownPhrase(term);
  }
  return existed ? Put::Replaced : Put::Added;
}

void SqliteWriter::AddKnownPhrase(const std::string& term) {
  std::string phrase = NormalizedText(term);
  // Phrases the service would refuse to count are never asked for.
  std::size_t words = phrase.empty() ? 0 : 1 + static_cast<std::size_t>(std::count(phrase.begin(), phrase.end(), ' '));
  if (words == 0 || words > limits::kMaxWords) return;
  findPhrase_.Bind(1, phrase);
  bool known = findPhrase_.Step();
  findPhrase_.Reset();
  if (known) return;  // "Salt & pepper" and "salt pepper" are one phrase
  countPhrase_.Bind(1, MatchExpression(phrase, true));
  std::int64_t pages = countPhrase_.Step() ? countPhrase_.Int(0) : 0;
  countPhrase_.Reset();
  putPhrase_.Bind(1, phrase).Bind(2, pages).Run();
  // A change gathered for it while it was no known phrase (the filter lets a few through)
  // is already in the index's count.
  auto gathered = phraseChanges_.find(std::string_view(phrase));
  if (gathered != phraseChanges_.end()) phraseChanges_.erase(gathered);
  if (phraseFilter_) phraseFilter_->Add(phrase);
}

void SqliteWriter::PagePhrases(std::string_view title, std::string_view text, int scratch,
                               std::unordered_set<std::string_view>* found) {
  if (!phraseFilter_) {
    Statement count = db_.Prepare("SELECT count(*) FROM phrase_counts");
    phraseFilter_ = std::make_unique<PhraseFilter>(count.Step() ? static_cast<std::size_t>(count.Int(0)) : 0);
    Statement all = db_.Prepare("SELECT phrase FROM phrase_counts");
    while (all.Step()) phraseFilter_->Add(all.Text(0));
  }
  if (phraseFilter_->Phrases() == 0) return;
  FoldedWords& titleWords = words_[2 * scratch];
  FoldedWords& textWords = words_[2 * scratch + 1];
  titleWords.Assign(title);
  textWords.Assign(text);
  // The index matches a phrase within one column: title and text are looked at apart.
  phraseFilter_->Candidates(titleWords, found);
  phraseFilter_->Candidates(textWords, found);
}

void SqliteWriter::ChangePhraseCount(std::string_view phrase, std::int64_t change) {
  auto it = phraseChanges_.find(phrase);
  if (it == phraseChanges_.end()) it = phraseChanges_.emplace(std::string(phrase), 0).first;
  it->second += change;
  if (phraseChanges_.size() >= limits::kPhraseCountBatch) WritePhraseCounts();
}

void SqliteWriter::WritePhraseCounts() {
  // Candidates that are no known phrase change no row.
  for (const auto& [phrase, change] : phraseChanges_)
    if (change != 0) changePhrase_.Bind(1, phrase).Bind(2, change).Run();
  phraseChanges_.clear();
}

std::int64_t SqliteWriter::HostId(const std::string& host) {
  auto it = hostIds_.find(host);
  if (it != hostIds_.end()) return it->second;
  std::int64_t id;
  findHost_.Bind(1, host);
  if (findHost_.Step()) {
    id = findHost_.Int(0);
    findHost_.Reset();
  } else {
    findHost_.Reset();
    putHost_.Bind(1, host).Run();
    id = db_.LastInsertId();
  }
  // Link targets of a large crawl run into the millions: the cache stays bounded.
  if (hostIds_.size() >= limits::kHostCacheEntries) hostIds_.clear();
  hostIds_.emplace(host, id);
  return id;
}

int SqliteWriter::PutLinks(std::int64_t pageId, const std::string& host, const std::vector<std::string>& links) {
  int added = 0;
  for (const std::string& link : links) {
    std::string target = NormalizeHost(link);
    if (target.empty() || target == host) continue;
    putLink_.Bind(1, HostId(target)).Bind(2, pageId).Run();
    added += db_.Changes();
  }
  return added;
}

bool SqliteWriter::AddPage(const PageInput& page) {
  std::string host = NormalizeHost(page.url);
  std::int64_t hostId = HostId(host);
  putPage_.Bind(1, page.url).Bind(2, hostId).Bind(3, page.title).Run();
  if (db_.Changes() == 0) return false;
  std::int64_t pageId = db_.LastInsertId();
  putText_.Bind(1, pageId).Bind(2, page.title).Bind(3, page.text).Run();
  PutLinks(pageId, host, page.links);
  std::unordered_set<std::string_view> phrases;
  PagePhrases(page.title, page.text, 0, &phrases);
  for (std::string_view phrase : phrases) ChangePhraseCount(phrase, 1);
  return true;
}

StoreWriter::Merge SqliteWriter::MergePage(const PageInput& page) {
  findPage_.Bind(1, page.url);
  bool stored = findPage_.Step();
  std::int64_t pageId = stored ? findPage_.Int(0) : 0;
  findPage_.Reset();
  if (!stored) return AddPage(page) ? Merge::Added : Merge::Unchanged;
  readText_.Bind(1, pageId);
  std::string oldTitle, oldText;
  if (readText_.Step()) {
    oldTitle = readText_.Text(0);
    oldText = readText_.Text(1);
  }
  readText_.Reset();
  const std::string& title = page.title.empty() ? oldTitle : page.title;
  const std::string& text = oldText.empty() ? page.text : oldText;
  bool changed = title != oldTitle || text != oldText;
  if (changed) {
    setTitle_.Bind(1, pageId).Bind(2, title).Run();
    setText_.Bind(1, pageId).Bind(2, title).Bind(3, text).Run();
    std::unordered_set<std::string_view> before, after;
    PagePhrases(oldTitle, oldText, 0, &before);
    PagePhrases(title, text, 1, &after);
    for (std::string_view phrase : after)
      if (!before.count(phrase)) ChangePhraseCount(phrase, 1);
    for (std::string_view phrase : before)
      if (!after.count(phrase)) ChangePhraseCount(phrase, -1);
  }
  if (PutLinks(pageId, NormalizeHost(page.url), page.links) > 0) changed = true;
  return changed ? Merge::Updated : Merge::Unchanged;
}

void SqliteWriter::TallyKeyword(const std::string& term, std::int64_t count) {
  tally_.Bind(1, term).Bind(2, count).Bind(3, limits::kMaxDemandTotal).Run();
}

TallyResult SqliteWriter::StoreTally(std::int64_t multiply, std::int64_t divide) {
  CheckTallyScale(multiply, divide);
  TallyResult result;
  Statement totals = db_.Prepare("SELECT term, total FROM temp.tally ORDER BY term");
  while (totals.Step()) {
    if (PutKeyword(totals.Text(0), TalliedSearches(totals.Int(1), multiply, divide)) == Put::Added) ++result.added;
    else ++result.replaced;
  }
  db_.Exec("DELETE FROM temp.tally");
  return result;
}

StoreWriter::Put SqliteWriter::PutRank(const std::string& host, std::int64_t rank) {
  std::string domain = NormalizeHost(host);
  findRank_.Bind(1, domain);
  bool existed = findRank_.Step();
  findRank_.Reset();
  putRank_.Bind(1, domain).Bind(2, rank).Run();
  return existed ? Put::Replaced : Put::Added;
}

void SqliteWriter::Commit() {
  WritePhraseCounts();
  transaction_.Commit();
  if (mode_ == Mode::Bulk) {
    db_.Exec("INSERT INTO page_text(page_text) VALUES('optimize')");
    // Served files are in WAL mode from the start, so that imports never block their readers.
    db_.Exec("PRAGMA journal_mode = WAL");
  }
}

}  // namespace quillet::services
