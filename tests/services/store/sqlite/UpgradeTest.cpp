// A database made under the earlier rules (schema 3) keeps working: the first reader or
// writer brings it up to this schema.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "services/store/Rules.h"
#include "tests/services/support/Fixtures.h"

namespace quillet::services {
namespace {

// A file as the earlier version wrote it. Its splitter folded less: the built-in "ascii"
// tokenizer stands in for it (it leaves every non-ASCII letter as it is).
void WriteSchema3(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  fts5_api* api = nullptr;
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr);
  sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
  sqlite3_step(statement);
  sqlite3_finalize(statement);
  ASSERT_NE(api, nullptr);
  void* user = nullptr;
  fts5_tokenizer ascii{};
  ASSERT_EQ(api->xFindTokenizer(api, "ascii", &user, &ascii), SQLITE_OK);
  ASSERT_EQ(api->xCreateTokenizer(api, "quillet", user, &ascii, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, R"sql(
    CREATE TABLE keywords(term TEXT PRIMARY KEY, searches INTEGER NOT NULL) WITHOUT ROWID;
    CREATE TABLE keyword_words(word TEXT NOT NULL, term TEXT NOT NULL, PRIMARY KEY(word, term)) WITHOUT ROWID;
    CREATE TABLE hosts(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
    CREATE TABLE pages(id INTEGER PRIMARY KEY, url TEXT NOT NULL UNIQUE, host_id INTEGER NOT NULL, title TEXT NOT NULL);
    CREATE VIRTUAL TABLE page_text USING fts5(title, body, tokenize = 'quillet');
    CREATE TABLE links(host_id INTEGER NOT NULL, page_id INTEGER NOT NULL, PRIMARY KEY(host_id, page_id)) WITHOUT ROWID;
    CREATE TABLE ranks(domain TEXT PRIMARY KEY, rank INTEGER NOT NULL) WITHOUT ROWID;
    CREATE TABLE phrase_counts(phrase TEXT PRIMARY KEY, pages INTEGER NOT NULL) WITHOUT ROWID;
    INSERT INTO keywords VALUES ('Éclair recipe', 100), ('éclair recipe', 150), ('c# tutorial', 20),
                                ('ԲԱՐԵՎ ձեզ', 30), ('bad' || char(133) || 'term', 5), ('dog toys', 8);
    INSERT INTO keyword_words VALUES ('Éclair', 'Éclair recipe'), ('recipe', 'Éclair recipe'),
                                     ('éclair', 'éclair recipe'), ('recipe', 'éclair recipe'),
                                     ('c#', 'c# tutorial'), ('tutorial', 'c# tutorial'), ('dog', 'dog toys'),
                                     ('toys', 'dog toys');
    INSERT INTO phrase_counts VALUES ('eclair recipe', 0), ('c tutorial', 0), ('ԲԱՐԵՎ ձեզ', 1), ('dog toys', 1);
    INSERT INTO ranks VALUES ('MÜNCHEN.de', 7), ('münchen.de', 3), ('example.com', 1);
    INSERT INTO hosts VALUES (1, 'BÜCHER.de'), (2, 'bücher.de'), (3, 'shop.com');
    INSERT INTO pages VALUES (1, 'http://BÜCHER.de/', 1, ''), (2, 'http://bücher.de/a', 2, ''),
                             (3, 'http://shop.com/', 3, '');
    INSERT INTO page_text(rowid, title, body) VALUES (1, '', 'ԲԱՐԵՎ ձեզ'), (2, '', 'dog toys'), (3, '', 'shop');
    INSERT INTO links VALUES (1, 3), (2, 3), (2, 1);
    PRAGMA user_version = 3;
  )sql",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(UpgradeSchema, ADatabaseOfTheEarlierSchemaKeepsWorking) {
  testing::ScratchDir dir;
  const std::string path = dir.File("old.db");
  WriteSchema3(path);
  SqliteReader store(path);
  const Deadline none = Deadline::None();
  auto suggested = [&](const std::string& topic) {
    std::vector<std::pair<std::string, std::int64_t>> out;
    for (const Suggestion& s : store.FindSuggestions(SuggestionWords(topic), 10, none))
      out.emplace_back(s.term, s.searches);
    return out;
  };
  using Terms = std::vector<std::pair<std::string, std::int64_t>>;
  // Terms that now fold alike are one, with the larger count; what a term cannot carry is gone.
  EXPECT_EQ(suggested("ECLAIR"), (Terms{{"éclair recipe", 150}}));
  EXPECT_EQ(suggested("tutorial"), (Terms{{"c tutorial", 20}}));
  EXPECT_EQ(suggested("term"), Terms{});
  EXPECT_EQ(suggested("բարեվ"), (Terms{{"բարեվ ձեզ", 30}}));
  // The index folds the letters it left as they were: rebuilt, and the phrases counted again.
  EXPECT_EQ(store.CountMatches({"բարեվ ձեզ", true}, none), 1);
  EXPECT_EQ(store.CountMatches({"ԲԱՐԵՎ", false}, none), 1);
  EXPECT_EQ(store.CountMatches({"dog toys", true}, none), 1);
  // Hosts that fold alike are one: the better rank, the links of both.
  EXPECT_EQ(store.FindRank("www.MÜNCHEN.de", none), 3);
  EXPECT_EQ(store.FindRank("example.com", none), 1);
  EXPECT_EQ(store.CountLinks("bücher.de", none), 2);
  {
    Database db(path, Database::Mode::ReadOnly);
    Statement version = db.Prepare("PRAGMA user_version");
    ASSERT_TRUE(version.Step());
    EXPECT_EQ(version.Int(0), kSchemaVersion);
  }
  // Imports go on as into a new file.
  testing::ImportFile("ranks", path, dir.Write("r.csv", "2,example.com\n"));
  EXPECT_EQ(store.FindRank("example.com", none), 2);
}

}  // namespace
}  // namespace quillet::services
