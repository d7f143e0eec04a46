#include "services/store/sqlite/SqliteStore.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "services/Limits.h"
#include "services/store/Rules.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

// Words the full-text index gathers in memory before it writes them out (bytes): fewer,
// larger segments to merge later. A setting of the index, kept in the file.
constexpr int kIndexBatch = 16 * 1024 * 1024;
// Rows an upgrade reads at a time.
constexpr int kUpgradeBatch = 10000;

std::int64_t Version(Database& db) {
  Statement version = db.Prepare("PRAGMA user_version");
  return version.Step() ? version.Int(0) : 0;
}

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Calls change(key, value) for the rows of a two-column query "SELECT key, value ... WHERE
// key > ?1 ... ORDER BY key LIMIT n", a batch at a time, so that change may write the table
// (a row it moves is met again, and must then be left as it is).
template <typename Change>
void ForEachRow(Database& db, const std::string& sql, Change change) {
  Statement next = db.Prepare(sql);
  std::string last;
  while (true) {
    std::vector<std::pair<std::string, std::int64_t>> batch;
    next.Bind(1, last).Bind(2, kUpgradeBatch);
    while (next.Step()) batch.emplace_back(next.Text(0), next.Int(1));
    next.Reset();
    if (batch.empty()) return;
    last = batch.back().first;
    for (const auto& [key, value] : batch) change(key, value);
  }
}

// Terms as NormalizeTerm makes them now; terms that now fold alike keep the larger count.
void FoldTerms(Database& db) {
  Statement drop = db.Prepare("DELETE FROM keywords WHERE term = ?1");
  Statement put = db.Prepare(
      "INSERT INTO keywords(term, searches) VALUES(?1, ?2) "
      "ON CONFLICT(term) DO UPDATE SET searches = max(searches, excluded.searches)");
  ForEachRow(db, "SELECT term, searches FROM keywords WHERE term > ?1 ORDER BY term LIMIT ?2",
             [&](const std::string& term, std::int64_t searches) {
               std::optional<std::string> folded = NormalizeTerm(term, nullptr);
               if (folded == term) return;
               drop.Bind(1, term).Run();
               if (folded) put.Bind(1, *folded).Bind(2, searches).Run();
             });
  db.Exec("DELETE FROM keyword_words");
  Statement word = db.Prepare("INSERT OR IGNORE INTO keyword_words(word, term) VALUES(?1, ?2)");
  ForEachRow(db, "SELECT term, 0 FROM keywords WHERE term > ?1 ORDER BY term LIMIT ?2",
             [&](const std::string& term, std::int64_t) {
               for (const std::string& w : SuggestionWords(term)) word.Bind(1, w).Bind(2, term).Run();
             });
}

// Rank domains and host names as ValidHost and NormalizeHost fold them now. Only names
// with non-ASCII letters can fold otherwise (ASCII was lower-cased already).
void FoldHosts(Database& db) {
  Statement drop = db.Prepare("DELETE FROM ranks WHERE domain = ?1");
  Statement put = db.Prepare(
      "INSERT INTO ranks(domain, rank) VALUES(?1, ?2) ON CONFLICT(domain) DO UPDATE SET rank = min(rank, "
      "excluded.rank)");
  ForEachRow(db, "SELECT domain, rank FROM ranks WHERE domain > ?1 AND domain GLOB '*[^ -~]*' ORDER BY domain LIMIT ?2",
             [&](const std::string& domain, std::int64_t rank) {
               std::string folded = ValidHost(domain);
               if (folded == domain) return;
               drop.Bind(1, domain).Run();
               if (!folded.empty()) put.Bind(1, folded).Bind(2, rank).Run();
             });
  // A host that now folds to another one's name hands it its pages and links.
  db.Exec("CREATE TEMP TABLE upgrade_moves(from_id INTEGER PRIMARY KEY, to_id INTEGER NOT NULL)");
  Statement find = db.Prepare("SELECT id FROM hosts WHERE name = ?1");
  Statement rename = db.Prepare("UPDATE hosts SET name = ?2 WHERE name = ?1");
  Statement move = db.Prepare("INSERT INTO temp.upgrade_moves(from_id, to_id) VALUES(?1, ?2)");
  bool moved = false;
  ForEachRow(db, "SELECT name, id FROM hosts WHERE name > ?1 AND name GLOB '*[^ -~]*' ORDER BY name LIMIT ?2",
             [&](const std::string& name, std::int64_t id) {
               std::string folded = NormalizeHost(name);
               if (folded == name) return;
               find.Bind(1, folded);
               bool taken = find.Step();
               std::int64_t other = taken ? find.Int(0) : 0;
               find.Reset();
               if (!taken) {
                 rename.Bind(1, name).Bind(2, folded).Run();
               } else {
                 move.Bind(1, id).Bind(2, other).Run();
                 moved = true;
               }
             });
  if (moved)
    db.Exec(R"sql(
      UPDATE pages SET host_id = (SELECT to_id FROM temp.upgrade_moves WHERE from_id = pages.host_id)
        WHERE host_id IN (SELECT from_id FROM temp.upgrade_moves);
      INSERT OR IGNORE INTO links(host_id, page_id)
        SELECT m.to_id, l.page_id FROM links l JOIN temp.upgrade_moves m ON l.host_id = m.from_id;
      DELETE FROM links WHERE host_id IN (SELECT from_id FROM temp.upgrade_moves);
      DELETE FROM hosts WHERE id IN (SELECT from_id FROM temp.upgrade_moves);
    )sql");
  db.Exec("DROP TABLE temp.upgrade_moves");
}

// Rebuilds the text index when a word in it folds otherwise now; true when it did.
bool RefoldIndex(Database& db) {
  db.Exec("CREATE VIRTUAL TABLE temp.upgrade_vocab USING fts5vocab(main, page_text, row)");
  bool stale = false;
  {
    Statement words = db.Prepare("SELECT term FROM temp.upgrade_vocab");
    while (!stale && words.Step()) {
      std::string word = words.Text(0);
      stale = !IsAscii(word) && NormalizedText(word) != word;
    }
  }
  db.Exec("DROP TABLE temp.upgrade_vocab");
  if (stale) db.Exec("INSERT INTO page_text(page_text) VALUES('rebuild')");
  return stale;
}

// The known phrases of the terms as the splitter makes them now: all of them counted again
// after a rebuilt index, else those of terms with non-ASCII letters (the others split as
// they did).
void RecountPhrases(Database& db, bool all) {
  if (all) {
    db.Exec("DELETE FROM phrase_counts");
  } else {
    Statement drop = db.Prepare("DELETE FROM phrase_counts WHERE phrase = ?1");
    ForEachRow(
        db, "SELECT phrase, 0 FROM phrase_counts WHERE phrase > ?1 AND phrase GLOB '*[^ -~]*' ORDER BY phrase LIMIT ?2",
        [&](const std::string& phrase, std::int64_t) {
          if (NormalizedText(phrase) != phrase) drop.Bind(1, phrase).Run();
        });
  }
  Statement count = db.Prepare("SELECT count(*) FROM page_text WHERE page_text MATCH ?1");
  Statement put = db.Prepare("INSERT OR IGNORE INTO phrase_counts(phrase, pages) VALUES(?1, ?2)");
  Statement known = db.Prepare("SELECT 1 FROM phrase_counts WHERE phrase = ?1");
  ForEachRow(db, "SELECT term, 0 FROM keywords WHERE term > ?1 ORDER BY term LIMIT ?2",
             [&](const std::string& term, std::int64_t) {
               if (!all && IsAscii(term)) return;
               std::string phrase = KnownPhrase(term);
               if (phrase.empty()) return;
               known.Bind(1, phrase);
               bool there = known.Step();
               known.Reset();
               if (there) return;
               count.Bind(1, MatchExpression(phrase, true));
               std::int64_t pages = count.Step() ? count.Int(0) : 0;
               count.Reset();
               put.Bind(1, phrase).Bind(2, pages).Run();
             });
}

}  // namespace

std::string KnownPhrase(std::string_view term) {
  std::string phrase = NormalizedText(term);
  std::size_t words = phrase.empty() ? 0 : 1 + static_cast<std::size_t>(std::count(phrase.begin(), phrase.end(), ' '));
  return words == 0 || words > limits::kMaxWords ? std::string() : phrase;
}

void CreateSchema(Database& db) {
  UpgradeSchema(db);
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
    CREATE TABLE IF NOT EXISTS ranks(domain TEXT PRIMARY KEY, rank INTEGER NOT NULL,
                                     import_id INTEGER NOT NULL DEFAULT 0) WITHOUT ROWID;
    CREATE TABLE IF NOT EXISTS rank_imports(id INTEGER PRIMARY KEY);
    CREATE TABLE IF NOT EXISTS phrase_counts(phrase TEXT PRIMARY KEY, pages INTEGER NOT NULL) WITHOUT ROWID;
  )sql");
  // Added to files of this schema as they are written, so no version changes for it: readers
  // take a file without the table for one without recorded sources.
  db.Exec(R"sql(
    CREATE TABLE IF NOT EXISTS sources(id INTEGER PRIMARY KEY, import_id INTEGER NOT NULL, address TEXT NOT NULL,
                                       kind TEXT NOT NULL, bytes INTEGER NOT NULL, stored INTEGER NOT NULL,
                                       first_lines INTEGER NOT NULL, at TEXT NOT NULL);
    CREATE INDEX IF NOT EXISTS sources_by_address ON sources(address);
  )sql");
  Statement batch = db.Prepare("SELECT 1 FROM page_text_config WHERE k = 'hashsize'");
  if (!batch.Step()) {
    db.Exec("INSERT INTO page_text(page_text, rank) VALUES('hashsize', " + std::to_string(kIndexBatch) + ")");
    // Index pages that fill the file's pages (the index's default suits 4 KiB ones).
    Statement pageSize = db.Prepare("PRAGMA page_size");
    if (pageSize.Step() && pageSize.Int(0) > 4096)
      db.Exec("INSERT INTO page_text(page_text, rank) VALUES('pgsz', " + std::to_string(pageSize.Int(0) - 384) + ")");
  }
  db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
}

void CheckSchema(Database& db) {
  std::int64_t found = Version(db);
  Statement tables = db.Prepare("SELECT count(*) FROM sqlite_master");
  bool empty = tables.Step() && tables.Int(0) == 0;
  if (!empty && found != kSchemaVersion)
    throw DbError("the database was made by " + std::string(found < kSchemaVersion ? "an earlier" : "a later") +
                  " version of quillet-services (schema " + std::to_string(found) + ", this version reads " +
                  std::to_string(kSchemaVersion) + "); build it again with demo, or import into a new file");
}

bool UpgradeSchema(Database& db) {
  constexpr std::int64_t kUpgradable = 3;
  if (Version(db) != kUpgradable) return false;
  Transaction transaction(db);
  if (Version(db) != kUpgradable) return false;  // another process upgraded it meanwhile
  db.Exec(
      "ALTER TABLE ranks ADD COLUMN import_id INTEGER NOT NULL DEFAULT 0; "
      "CREATE TABLE rank_imports(id INTEGER PRIMARY KEY);");
  FoldTerms(db);
  FoldHosts(db);
  RecountPhrases(db, RefoldIndex(db));
  db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
  transaction.Commit();
  return true;
}

std::string MatchExpression(std::string_view text, bool quoted) {
  // Folded words hold neither quotes nor control bytes: each phrase is quoted as it is.
  std::string expression;
  for (const std::vector<std::string>& words : QueryPhrases({std::string(text), quoted})) {
    if (!expression.empty()) expression += ' ';
    expression += '"';
    for (std::size_t i = 0; i < words.size(); ++i) expression += (i > 0 ? " " : "") + words[i];
    expression += '"';
  }
  return expression;
}

}  // namespace quillet::services
