#include "services/store/sqlite/SqliteStore.h"

#include "services/store/Rules.h"

namespace quillet::services {
namespace {

// Words the full-text index gathers in memory before it writes them out (bytes): fewer,
// larger segments to merge later. A setting of the index, kept in the file.
constexpr int kIndexBatch = 16 * 1024 * 1024;

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
  // Added to files of this schema as they are written, so no version changes for it: readers
  // take a file without the table for one without recorded sources.
  db.Exec(R"sql(
    CREATE TABLE IF NOT EXISTS sources(id INTEGER PRIMARY KEY, import_id INTEGER NOT NULL, address TEXT NOT NULL,
                                       kind TEXT NOT NULL, bytes INTEGER NOT NULL, stored INTEGER NOT NULL,
                                       first_lines INTEGER NOT NULL, at TEXT NOT NULL);
    CREATE INDEX IF NOT EXISTS sources_by_address ON sources(address);
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
