#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>

#include "services/Limits.h"
#include "services/store/Rules.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Hosts.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

// Page cache of an import (KiB, negative as SQLite takes it): large imports touch their
// indexes all over; the default 2 MB makes them read the same pages again and again.
constexpr const char* kImportCache = "-32768";
// The write-ahead log is cut back to this after an import, whether it committed or not.
constexpr const char* kJournalLimit = "67108864";

Database OpenForWriting(const std::string& path, SqliteWriter::Mode mode) {
  Database db(path, Database::Mode::Create);
  // Only a new file takes it. An import writes each page about four times (the log, the
  // file, the index's merges): larger pages make a quarter of the calls for the same bytes.
  db.Exec("PRAGMA page_size = 16384");
  if (mode == SqliteWriter::Mode::Bulk) {
    db.Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -200000;");
  } else {
    db.Exec(std::string("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA journal_size_limit = ") +
            kJournalLimit + "; PRAGMA cache_size = " + kImportCache + ";");
  }
  {
    // All of it or none: a schema half made on a full disk would leave a file that every
    // later import refuses as one of another version.
    Transaction schema(db);
    CreateSchema(db);
    schema.Commit();
  }
  // The sums of one run, per connection: nothing of them outlives the import.
  db.Exec("CREATE TEMP TABLE IF NOT EXISTS tally(term TEXT PRIMARY KEY, total INTEGER NOT NULL) WITHOUT ROWID");
  return db;
}

}  // namespace

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
      findRank_(db_.Prepare("SELECT rank, import_id FROM ranks WHERE domain = ?1")),
      putRank_(db_.Prepare("INSERT OR REPLACE INTO ranks(domain, rank, import_id) VALUES(?1, ?2, ?3)")),
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
    for (const std::string& word : SuggestionWords(term)) putWord_.Bind(1, word).Bind(2, term).Run();
    AddKnownPhrase(term);
  }
  return existed ? Put::Replaced : Put::Added;
}

void SqliteWriter::AddKnownPhrase(const std::string& term) {
  std::string phrase = KnownPhrase(term);
  if (phrase.empty()) return;
  findPhrase_.Bind(1, phrase);
  bool known = findPhrase_.Step();
  findPhrase_.Reset();
  if (known) return;  // "Salt & pepper" and "salt pepper" are one phrase
  countPhrase_.Bind(1, MatchExpression(phrase, true));
  std::int64_t pages = countPhrase_.Step() ? countPhrase_.Int(0) : 0;
  countPhrase_.Reset();
  putPhrase_.Bind(1, phrase).Bind(2, pages).Run();
  if (!phraseCounter_) return;
  // Pages already stored are in the index's count, so a change gathered for them while the
  // phrase was no known one (the filter lets a few through) must go.
  GatherPhraseCounts();
  auto gathered = phraseChanges_.find(std::string_view(phrase));
  if (gathered != phraseChanges_.end()) phraseChanges_.erase(gathered);
  phraseCounter_->Filter().Add(phrase);
}

void SqliteWriter::CountPhrases(std::string oldTitle, std::string oldText, std::string newTitle, std::string newText) {
  if (!phrasesLoaded_) {
    phrasesLoaded_ = true;
    Statement count = db_.Prepare("SELECT count(*) FROM phrase_counts");
    auto filter = std::make_unique<PhraseFilter>(count.Step() ? static_cast<std::size_t>(count.Int(0)) : 0);
    Statement all = db_.Prepare("SELECT phrase FROM phrase_counts");
    while (all.Step()) filter->Add(all.Text(0));
    phraseCounter_ = std::make_unique<PhraseCounter>(std::move(filter));
  }
  // Without known phrases a page changes no count; a phrase learned later is counted by the
  // index, pages stored until then included.
  if (phraseCounter_->Filter().Phrases() == 0) return;
  phraseCounter_->Post(std::move(oldTitle), std::move(oldText), std::move(newTitle), std::move(newText));
  if (phraseCounter_->Changed() + phraseChanges_.size() >= limits::kPhraseCountBatch) WritePhraseCounts();
}

void SqliteWriter::GatherPhraseCounts() {
  if (!phraseCounter_) return;
  for (auto& [phrase, change] : phraseCounter_->Take()) phraseChanges_[phrase] += change;
}

void SqliteWriter::WritePhraseCounts() {
  GatherPhraseCounts();
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
  for (const std::string& target : LinkHosts(host, links)) {
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
  CountPhrases({}, {}, page.title, page.text);
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
  std::string title = page.title.empty() ? oldTitle : page.title;
  std::string text = oldText.empty() ? page.text : oldText;
  bool changed = title != oldTitle || text != oldText;
  if (changed) {
    setTitle_.Bind(1, pageId).Bind(2, title).Run();
    setText_.Bind(1, pageId).Bind(2, title).Bind(3, text).Run();
    CountPhrases(std::move(oldTitle), std::move(oldText), std::move(title), std::move(text));
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
  while (totals.Step()) PutTallied(*this, totals.Text(0), totals.Int(1), multiply, divide, &result);
  db_.Exec("DELETE FROM temp.tally");
  return result;
}

StoreWriter::Put SqliteWriter::PutRank(const std::string& host, std::int64_t rank) {
  if (rankImport_ == 0) {
    db_.Exec("INSERT INTO rank_imports DEFAULT VALUES");
    rankImport_ = db_.LastInsertId();
  }
  std::string domain = NormalizeHost(host);
  findRank_.Bind(1, domain);
  bool existed = findRank_.Step();
  bool better = existed && (findRank_.Int(1) != rankImport_ || rank < findRank_.Int(0));
  findRank_.Reset();
  if (existed && !better) return Put::Kept;
  putRank_.Bind(1, domain).Bind(2, rank).Bind(3, rankImport_).Run();
  return existed ? Put::Replaced : Put::Added;
}

void SqliteWriter::Mark() {
  if (mode_ == Mode::Bulk) throw std::logic_error("a bulk SQLite import cannot return to a mark");
  // The counts gathered so far belong before the mark.
  WritePhraseCounts();
  rankImportAtMark_ = rankImport_;
  db_.Exec("SAVEPOINT mark");
}

void SqliteWriter::ReleaseMark() { db_.Exec("RELEASE mark"); }

void SqliteWriter::RollBackToMark() {
  GatherPhraseCounts();  // of pages since the mark only: Mark wrote the others
  phraseChanges_.clear();
  // Rows made since the mark are gone with it, and so are the ids the writer keeps of them.
  hostIds_.clear();
  rankImport_ = rankImportAtMark_;
  db_.Exec("ROLLBACK TO mark; RELEASE mark");
}

void SqliteWriter::RecordSource(const SourceRecord& source) { sources_.push_back(source); }

bool SqliteWriter::HasSource(const std::string& address, std::int64_t firstLines) {
  // Within the import's transaction, which holds the file's write lock from its start.
  Statement query = db_.Prepare("SELECT first_lines FROM sources WHERE address = ?1");
  query.Bind(1, address);
  while (query.Step()) {
    SourceRecord found;
    found.firstLines = query.Int(0);
    if (Covers(found, firstLines)) return true;
  }
  return false;
}

void SqliteWriter::Commit() {
  if (!sources_.empty()) {
    Statement next = db_.Prepare("SELECT coalesce(max(import_id), 0) + 1 FROM sources");
    std::int64_t importId = next.Step() ? next.Int(0) : 1;
    Statement put = db_.Prepare(
        "INSERT INTO sources(import_id, address, kind, bytes, stored, first_lines, at) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, datetime('now'))");
    for (const SourceRecord& source : sources_)
      put.Bind(1, importId)
          .Bind(2, source.address)
          .Bind(3, source.kind)
          .Bind(4, source.bytes)
          .Bind(5, source.stored)
          .Bind(6, source.firstLines)
          .Run();
  }
  WritePhraseCounts();
  transaction_.Commit();
  if (mode_ == Mode::Bulk) {
    db_.Exec("INSERT INTO page_text(page_text) VALUES('optimize')");
    // Served files are in WAL mode from the start, so that imports never block their readers.
    db_.Exec("PRAGMA journal_mode = WAL");
  }
}

}  // namespace quillet::services
