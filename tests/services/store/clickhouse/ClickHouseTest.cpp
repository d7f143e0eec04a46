// The ClickHouse store against two local servers: its wire formats and bounds, the same
// counts and pages as SQLite on the same data, a killed import, and a shard that stops.
#include <gtest/gtest.h>

#include <random>

#include "tests/services/support/Child.h"
#include "tests/services/support/ClickHouseServers.h"
#include "tests/services/support/Fixtures.h"
#include "tests/services/support/Clients.h"
#include "tests/services/support/ProgramRules.h"
#include "tests/services/support/TeeWriter.h"
#include "services/program/Demo.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/store/clickhouse/Http.h"
#include "services/store/clickhouse/KeySet.h"
#include "services/serve/HtmlPages.h"
#include "services/serve/Query.h"
#include "services/text/Hosts.h"
#include "services/text/Strings.h"
#include "services/text/Words.h"
#include "services/serve/Service.h"
#include "services/store/Rules.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

using testing::ClickHouseServers;
using testing::FreshClickHouse;
using testing::MsSince;
using testing::ScratchDir;
using testing::SharedClickHouse;
using testing::TeeWriter;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A count straight from the first server, unfinished imports included.
std::int64_t RawCount(const ClickHouseOptions& options, const std::string& table, const std::string& where) {
  ClickHouseNode node(options.nodes.front());
  std::string name = options.database + "." + table + (options.cluster.empty() ? "" : "_all");
  return std::stoll(node.Run("SELECT count() FROM " + name + " WHERE " + where, Deadline::None(), 100));
}

TEST(ClickHouseWire, FieldsAndLiteralsSurviveTheRoundTrip) {
  const std::vector<std::string> values = {"",
                                           "plain",
                                           "tab\there",
                                           "line\nbreak",
                                           "back\\slash",
                                           "it's",
                                           std::string("nul\0byte", 8),
                                           "cr\r\n",
                                           "\\t not a tab",
                                           "caf\xC3\xA9",
                                           "'; DROP DATABASE x; --",
                                           "\x01\x1F\x7F",
                                           "\xFF\xFE broken utf-8",
                                           "--quillet-table--\r\n"};
  std::string body;
  for (size_t i = 0; i < values.size(); ++i) {
    AppendTsvField(body, values[i]);
    body += i + 1 < values.size() ? '\t' : '\n';
  }
  auto rows = ParseTsv(body);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], values);
  // What the server makes of the literals is the text itself.
  ClickHouseNode node(SharedClickHouse().Url(0));
  for (const std::string& value : values) {
    auto answer = ParseTsv(node.Run("SELECT " + SqlString(value), Deadline::None(), 1000));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].at(0), value);
  }
  // And of a table sent along, a row per value, whatever the rows hold (the form's boundary too).
  std::string table;
  for (const std::string& value : values) {
    AppendTsvField(table, value);
    table += '\n';
  }
  auto answer = ParseTsv(node.Run("SELECT v FROM t", {{"t", "v String", table}}, Deadline::None(), 1000));
  ASSERT_EQ(answer.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(answer[i].at(0), values[i]) << i;
}

TEST(ClickHouseWire, UrlsAndBounds) {
  for (const char* bad : {"", "localhost:8123", "https://localhost", "http://", "http://:8123", "http://host:0",
                          "http://host:99999", "http://host/path", "http://no-such-host.invalid"}) {
    EXPECT_THROW(ClickHouseNode{bad}, ClickHouseError) << bad;
  }
  ClickHouseServers& servers = SharedClickHouse();
  // Parameters of the URL go with every request: an unknown user is refused.
  EXPECT_THROW(ClickHouseNode(servers.Url(0) + "/?user=nobody").Run("SELECT 1", Deadline::None(), 100),
               ClickHouseError);
  ClickHouseNode node(servers.Url(0) + "/");
  EXPECT_EQ(node.Run("SELECT 1", Deadline::None(), 100), "1\n");
  // An answer past the cap is an error, not a shortened answer.
  try {
    node.Run("SELECT number FROM numbers(100000)", Deadline::None(), 100000);
    ADD_FAILURE() << "an answer of 600 kB passed a cap of 100 kB";
  } catch (const ClickHouseError& error) {
    EXPECT_NE(std::string(error.what()).find("larger than"), std::string::npos) << error.what();
  }
  // A server that takes the connection but never answers costs no more than the deadline.
  servers.Pause(0);
  auto start = Clock::now();
  EXPECT_THROW(node.Run("SELECT 1", Deadline::In(milliseconds(300)), 100), ClickHouseError);
  double waited = MsSince(start);
  servers.Resume(0);
  EXPECT_LT(waited, 2000);
  EXPECT_EQ(node.Run("SELECT 1", Deadline::None(), 100), "1\n");
}

TEST(ClickHouseKeys, NewAndStoredKeysAreTold) {
  clickhouse::KeySet keys;
  std::vector<clickhouse::KeySet::Entry> entries;
  std::vector<std::uint64_t> stored;
  for (std::uint64_t k = 0; k < 1000; ++k) stored.push_back(k * 7919 % 100003);
  for (std::uint64_t k : stored) entries.emplace_back(k, k + 1);
  keys.Load(entries);
  EXPECT_FALSE(keys.Insert(stored[500]));
  // Values follow their keys, in the sorted part and among the new ones.
  keys.Update(stored[7], 42);
  EXPECT_EQ(keys.Find(stored[7]), 42u);
  EXPECT_EQ(keys.Find(stored[8]), stored[8] + 1);
  // Enough new keys to be merged into the sorted ones several times over.
  for (std::uint64_t k = 200000; k < 600000; ++k) ASSERT_TRUE(keys.Insert(k * 2654435761u)) << k;
  for (std::uint64_t k = 200000; k < 600000; k += 997) ASSERT_FALSE(keys.Insert(k * 2654435761u)) << k;
  for (std::uint64_t k : stored) ASSERT_FALSE(keys.Insert(k));
  EXPECT_TRUE(keys.Insert(100003, 5));
  keys.Update(100003, 6);
  EXPECT_EQ(keys.Find(100003), 6u);
  EXPECT_EQ(keys.Find(std::uint64_t{200000} * 2654435761u), 0u);
  EXPECT_EQ(keys.Find(99), std::nullopt);
}

TEST(ClickHouseStore, ForeignSchemasAreRefused) {
  ClickHouseServers& servers = SharedClickHouse();
  ClickHouseOptions options = FreshClickHouse(false);
  ClickHouseNode node(servers.Url(0));
  node.Run("CREATE DATABASE " + options.database, Deadline::None(), 100);
  node.Run("CREATE TABLE " + options.database + ".schema (version UInt32) ENGINE = TinyLog", Deadline::None(), 100);
  node.Run("INSERT INTO " + options.database + ".schema VALUES (99)", Deadline::None(), 100);
  try {
    ClickHouseReader reader(options);
    ADD_FAILURE() << "a database of schema 99 was read";
  } catch (const ClickHouseError& error) {
    EXPECT_NE(std::string(error.what()).find("schema 99"), std::string::npos) << error.what();
  }
  // A cluster whose second shard has no tables yet: refused, saying what to do.
  ClickHouseOptions cluster = FreshClickHouse(true);
  cluster.nodes.resize(1);
  try {
    ClickHouseReader reader(cluster);
    ADD_FAILURE() << "a cluster with a shard without tables was read";
  } catch (const ClickHouseError& error) {
    EXPECT_NE(std::string(error.what()).find("--clickhouse"), std::string::npos) << error.what();
  }
}

// Pages that catch the ways a phrase search goes wrong on raw text.
void AddTrapPages(StoreWriter& writer) {
  const std::vector<PageInput> pages = {
      {"http://trap.example/1", "Caf\xC3\xA9 au lait", "The dogtraining school; dog-training, DOG TRAINING.", {}},
      {"http://trap.example/2", "dog", "training dog training dog training dog", {"http://other.example/"}},
      {"http://trap.example/3", "one two three four", "five six seven eight one two three four five", {}},
      {"http://trap.example/4", "", "one two three four-five six seven eight", {}},
      {"http://trap.example/5", "two three four five", "one", {}},
      {"http://trap.example/6",
       "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 \xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5",
       "na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E text",
       {}},
      {"http://trap.example/7", "a a a a a", "a a a a a a a a", {}},
      {"http://trap.example/8", "long", std::string(3000, 'x') + " tail words here", {}},
  };
  for (const PageInput& page : pages) writer.AddPage(page);
  writer.AddPage(pages[0]);  // stored already
}

// A later import that completes and extends stored pages, as crawl metadata does for crawl
// text, and sums demand over files. Run twice, changing nothing the second time.
void MergeLater(StoreWriter& writer, const std::vector<std::string>& urls) {
  using M = StoreWriter::Merge;
  struct Case {
    PageInput page;
    M first, again;
  };
  const std::vector<Case> cases = {
      // A title for a page without one, links to new hosts and to its own.
      {{urls[3], "Merged title about dog training", "", {"http://fresh.example/", urls[3]}}, M::Updated, M::Unchanged},
      // A page that has text keeps it: crawls repeat pages.
      {{"http://trap.example/4", "", "one two three four-five six seven eight", {}}, M::Unchanged, M::Unchanged},
      {{urls[5], "", "lorem ipsum dolor", {}}, M::Unchanged, M::Unchanged},
      // Another title replaces the old one: its phrases count no more.
      {{"http://trap.example/3", "nine ten eleven", "", {}}, M::Updated, M::Unchanged},
      // Links already there change nothing.
      {{"http://trap.example/2", "", "", {"http://other.example/x"}}, M::Unchanged, M::Unchanged},
      // A page stored by metadata alone, then given its text by the crawl text.
      {{"http://merged.example/only-meta", "Only metadata", "", {"http://trap.example/"}}, M::Added, M::Unchanged},
      {{"http://merged.example/only-meta", "", "text arriving after the metadata", {}}, M::Updated, M::Unchanged},
  };
  for (const Case& c : cases) EXPECT_EQ(writer.MergePage(c.page), c.first) << c.page.url;
  for (const Case& c : cases) EXPECT_EQ(writer.MergePage(c.page), c.again) << c.page.url;
  writer.TallyKeyword("dog training", 3);
  writer.TallyKeyword("merged demand", 1);
  writer.TallyKeyword("dog training", 4);
  writer.StoreTally(720, 2);
}

TEST(ClickHouseStore, SameCountsAndPagesAsSqlite) {
  ScratchDir dir;
  std::string path = dir.File("demo.db");
  ClickHouseOptions options = FreshClickHouse(true);
  DemoOptions demo;
  demo.pages = 3000;
  demo.hosts = 150;
  std::vector<std::string> texts, hosts, urls;
  {
    SqliteWriter sqlite(path);
    ClickHouseWriter clickhouse(options);
    TeeWriter tee(sqlite, clickhouse);
    WriteDemo(tee, demo, nullptr);
    AddTrapPages(tee);
    tee.Commit();
    texts = std::move(tee.texts);
    hosts = std::move(tee.hosts);
  }
  {
    SqliteReader sqlite(path);
    for (const ResultItem& item : sqlite.FindPages({"the", true}, 0, 10, Deadline::None())) urls.push_back(item.url);
    ASSERT_GE(urls.size(), 6u);
  }
  for (bool commit : {false, true}) {
    // Abandoned first: its merges must show nowhere.
    SqliteWriter sqlite(path);
    ClickHouseWriter clickhouse(options);
    TeeWriter tee(sqlite, clickhouse);
    MergeLater(tee, urls);
    if (!commit) continue;
    tee.Commit();
    texts.insert(texts.end(), tee.texts.begin(), tee.texts.end());
    hosts.insert(hosts.end(), tee.hosts.begin(), tee.hosts.end());
  }
  SqliteReader sqlite(path);
  ClickHouseReader clickhouse(options);

  // Phrases cut from the stored texts (as written there, with their punctuation and case),
  // word runs of 1 to 7, the same words as separate words, and words of different pages.
  std::mt19937 random(15);
  std::vector<TextQuery> queries = {{"dog training", true},
                                    {"DOG-training", true},
                                    {"dogtraining", true},
                                    {"one two three four five", true},
                                    {"two three four five", true},
                                    {"four five six", true},
                                    {"a a a a a a", true},
                                    {"a a a a a a a a a", true},
                                    {"cafe", true},
                                    {"CAF\xC3\x89 au", true},
                                    {"kalhmera", true},
                                    {"\xCE\xBA\xCE\xBF\xCF\x83\xCE\xBC\xCE\xB5", true},
                                    {"resume naive", false},
                                    {"dog -training", false},
                                    {"training, dog", false},
                                    {"x tail", true}};
  std::vector<std::string> words;
  for (const std::string& text : texts)
    for (std::string& word : Words(text)) words.push_back(std::move(word));
  while (queries.size() < 700) {
    const std::string& text = texts[random() % texts.size()];
    std::vector<std::pair<size_t, size_t>> spans;
    ForEachWord(text, [&](std::string_view, size_t begin, size_t end) { spans.emplace_back(begin, end); });
    if (spans.empty()) continue;
    size_t first = random() % spans.size();
    size_t last = std::min(spans.size() - 1, first + random() % 7);
    std::string cut = text.substr(spans[first].first, spans[last].second - spans[first].first);
    queries.push_back({cut, true});
    if (queries.size() % 5 == 0) queries.push_back({cut, false});
    if (queries.size() % 7 == 0)
      queries.push_back({words[random() % words.size()] + " " + words[random() % words.size()], random() % 2 == 0});
  }
  int differences = 0, found = 0;
  for (const TextQuery& query : queries) {
    std::int64_t expected = sqlite.CountMatches(query, Deadline::None());
    std::int64_t got = clickhouse.CountMatches(query, Deadline::None());
    found += expected > 0;
    if (got != expected && ++differences <= 20)
      ADD_FAILURE() << (query.phrase ? "\"" : "") << query.text << (query.phrase ? "\"" : "") << ": SQLite " << expected
                    << ", ClickHouse " << got;
  }
  EXPECT_EQ(differences, 0) << "of " << queries.size() << " searches";
  EXPECT_GT(found, static_cast<int>(queries.size()) / 2);

  // The pages the program reads, byte for byte, for searches with long result lists, later
  // result pages, link counts and traffic ranks.
  Service a(sqlite), b(clickhouse);
  std::vector<std::pair<std::string, std::string>> requests;
  for (size_t i = 0; i < 60; ++i) {
    const TextQuery& query = queries[i * 11 % queries.size()];
    std::string p = PercentEncode(query.phrase ? "\"" + query.text + "\"" : query.text);
    requests.push_back({"/search", "p=" + p + "&n=100&b=1"});
    requests.push_back({"/search", "p=" + p + "&n=7&b=" + std::to_string(1 + i % 9)});
    const std::string& host = hosts[random() % hosts.size()];
    requests.push_back({"/search", "p=link%3Ahttp%3A%2F%2F" + host});
    requests.push_back({"/data/details/", "url=www." + host});
    requests.push_back({"/d/searchinventory/suggestion/", "term=" + PercentEncode(Words(query.text).front())});
  }
  for (std::string common : {"the", "dog", "training", "best"}) {
    requests.push_back({"/search", "p=%22" + common + "%22&n=100&b=1"});
    requests.push_back({"/search", "p=%22" + common + "%22&n=100&b=901"});
  }
  for (const auto& [path, query] : requests) {
    Reply want = a.Respond(path, query);
    Reply got = b.Respond(path, query);
    EXPECT_EQ(got.status, want.status) << path << "?" << query;
    EXPECT_EQ(got.body, want.body) << path << "?" << query;
  }
}

// A pages file of count pages whose texts hold the phrase (and enough words to fill a few
// batches of inserts).
std::string PagesFile(const ScratchDir& dir, const std::string& name, int count, const std::string& phrase,
                      int filler) {
  std::string lines;
  for (int i = 0; i < count; ++i) {
    std::string text = phrase;
    for (int w = 0; w < filler; ++w) text += " word" + std::to_string((i * 31 + w * 17) % 5000);
    lines += "{\"url\": \"http://host" + std::to_string(i % 40) + ".example/" + name + std::to_string(i) +
             "\", \"title\": \"" + name + "\", \"text\": \"" + text + "\", \"links\": [\"http://hub.example/\"]}\n";
  }
  return dir.Write(name + ".jsonl", lines);
}

std::vector<std::string> ImportArgs(const ClickHouseOptions& options, const std::string& file) {
  std::string nodes;
  for (const std::string& node : options.nodes) nodes += (nodes.empty() ? "" : ",") + node;
  return {"import",          "pages",         file, "--clickhouse", nodes, "--clickhouse-cluster", options.cluster,
          "--clickhouse-db", options.database};
}

// What an import writes after a mark is undone by a rollback in both stores alike, rows the
// ClickHouse store sent already (a page read back for a merge) included, and what the import
// remembers of its writes with it.
TEST(ClickHouseStore, ARollBackUndoesEveryWriteSinceTheMark) {
  ScratchDir dir;
  ClickHouseOptions options = FreshClickHouse(true);
  {
    SqliteWriter sqlite(dir.File("m.db"));
    ClickHouseWriter clickhouse(options);
    TeeWriter both(sqlite, clickhouse);
    both.PutKeyword("kept term", 1);
    both.PutRank("a.com", 5);
    both.AddPage({"http://a.com/", "", "first page", {}});
    both.Mark();
    both.PutKeyword("gone term", 2);
    both.PutRank("a.com", 1);
    both.AddPage({"http://b.com/", "", "gone page", {"http://c.com/"}});
    both.MergePage({"http://b.com/", "gone title", "", {"http://d.com/"}});
    both.TallyKeyword("gone tally", 3);
    both.RollBackToMark();
    EXPECT_EQ(both.PutRank("a.com", 3), StoreWriter::Put::Replaced);  // 1 is undone: 3 beats 5
    EXPECT_EQ(both.PutKeyword("gone term", 4), StoreWriter::Put::Added);
    EXPECT_TRUE(both.AddPage({"http://b.com/", "", "new page", {}}));
    EXPECT_EQ(both.StoreTally(1, 1).added, 0);
    both.Commit();
  }
  SqliteReader sqlite(dir.File("m.db"));
  ClickHouseReader clickhouse(options);
  for (StoreReader* store : std::initializer_list<StoreReader*>{&sqlite, &clickhouse}) {
    const Deadline none = Deadline::None();
    EXPECT_EQ(store->FindRank("a.com", none), 3);
    auto terms = store->FindSuggestions({"term"}, 10, none);
    ASSERT_EQ(terms.size(), 2u);
    EXPECT_EQ(terms[0].term, "gone term");
    EXPECT_EQ(terms[0].searches, 4);
    EXPECT_EQ(store->CountMatches({"gone", false}, none), 0);
    EXPECT_EQ(store->CountMatches({"new page", true}, none), 1);
    EXPECT_EQ(store->CountLinks("c.com", none) + store->CountLinks("d.com", none), 0);
    EXPECT_TRUE(store->FindSuggestions({"tally"}, 10, none).empty());
  }
}

// A database of the earlier schema keeps working: the first reader brings its rows up to
// the rules of this version, on one server and on a cluster.
TEST(ClickHouseStore, ADatabaseOfTheEarlierSchemaIsUpgraded) {
  for (bool cluster : {false, true}) {
    SCOPED_TRACE(cluster ? "cluster" : "one server");
    ClickHouseOptions options = FreshClickHouse(cluster);
    std::string id;
    {
      ClickHouseWriter writer(options);
      writer.PutKeyword("dog toys", 8);
      writer.Commit();
      id = std::to_string(writer.ImportId());
    }
    // Rows as the earlier version wrote them: terms, words and hosts lower-cased in ASCII
    // only, a final sigma left as it was; and its schema version.
    const std::string db = options.database + ".", page = id + "000",
                      hash = std::to_string(clickhouse::KeyHash("http://a.com/"));
    ClickHouseNode first(options.nodes.front());
    for (const std::string& sql :
         {"keywords VALUES ('Éclair recipe', 1, 100, 1, " + id + "), ('éclair recipe', 2, 150, 2, " + id +
              "), ('МОСКВА hotels', 3, 70, 3, " + id + ")",
          "keyword_words VALUES ('Éclair', 'Éclair recipe', " + id + "), ('МОСКВА', 'МОСКВА hotels', " + id + ")",
          "ranks VALUES ('mÜnchen.de', 4, 7, 4, " + id + "), ('münchen.de', 5, 3, 5, " + id + ")",
          "pages VALUES (" + page + ", " + page + ", 1, " + id + ", " + hash +
              ", 'a.com', 'http://a.com/', '', 'λόγος', '  ', ' λογος ', 'bÜcher.de')",
          "grams VALUES ('λογος', " + page + ", 1, " + id + ")",
          "links VALUES ('bÜcher.de', " + page + ", 1, " + id + ")"})
      first.Run("INSERT INTO " + db + sql, Deadline::None(), 1000);
    for (const std::string& url : options.nodes) {
      ClickHouseNode(url).Run("TRUNCATE TABLE " + db + "schema", Deadline::None(), 100);
      ClickHouseNode(url).Run("INSERT INTO " + db + "schema VALUES (2)", Deadline::None(), 100);
    }

    ClickHouseReader reader(options);
    const Deadline none = Deadline::None();
    auto suggested = [&](const std::string& topic) {
      std::vector<std::pair<std::string, std::int64_t>> out;
      for (const Suggestion& s : reader.FindSuggestions(SuggestionWords(topic), 10, none))
        out.emplace_back(s.term, s.searches);
      return out;
    };
    using Terms = std::vector<std::pair<std::string, std::int64_t>>;
    EXPECT_EQ(suggested("ECLAIR"), (Terms{{"éclair recipe", 150}}));
    EXPECT_EQ(suggested("москва"), (Terms{{"москва hotels", 70}}));
    EXPECT_EQ(suggested("toys"), (Terms{{"dog toys", 8}}));
    EXPECT_EQ(reader.FindRank("www.MÜNCHEN.de", none), 3);
    EXPECT_EQ(reader.CountMatches({"ΛΌΓΟΣ", true}, none), 1);
    EXPECT_EQ(reader.CountLinks("bücher.de", none), 1);
    for (const std::string& url : options.nodes)
      EXPECT_EQ(ClickHouseNode(url).Run("SELECT version FROM " + db + "schema", none, 100), "3\n");
    EXPECT_EQ(RawCount(options, "keyword_words", "word = 'Éclair'"), 0);
  }
}

TEST(ClickHouseStore, KilledImportShowsNothingAndIsCleanedUp) {
  ScratchDir dir;
  ClickHouseOptions options = FreshClickHouse(true);
  std::string first = PagesFile(dir, "first", 50, "alpha beta", 5);
  std::string second = PagesFile(dir, "second", 3000, "gamma delta", 200);
  {
    testing::Child child(ImportArgs(options, first), {0, dir.File("first.out")});
    ASSERT_EQ(child.Wait(), 0) << testing::ReadFile(dir.File("first.out"));
  }
  {
    testing::Child child(ImportArgs(options, second), {0, dir.File("second.out")});
    // Killed once some of its rows are on the servers.
    auto until = Clock::now() + std::chrono::seconds(120);
    while (RawCount(options, "grams", "gram = 'gamma delta'") == 0 && Clock::now() < until)
      std::this_thread::sleep_for(milliseconds(20));
    child.Kill();
    child.Wait();
  }
  std::int64_t sent = RawCount(options, "grams", "gram = 'gamma delta'");
  ASSERT_GT(sent, 0);
  ASSERT_LT(sent, 3000) << "the import finished before it was killed";
  ClickHouseReader reader(options);
  EXPECT_EQ(reader.CountMatches({"gamma delta", true}, Deadline::None()), 0);
  EXPECT_EQ(reader.CountMatches({"alpha beta", true}, Deadline::None()), 50);
  EXPECT_EQ(reader.CountLinks("hub.example", Deadline::None()), 50);
  // Sources are recorded with their import: the killed one's not at all.
  ASSERT_EQ(reader.Sources().size(), 1u);
  EXPECT_EQ(reader.Sources()[0].address, AbsolutePath(first));
  EXPECT_EQ(reader.Sources()[0].stored, 50);
  EXPECT_EQ(reader.Counts().pages, 50);
  // While its heartbeat is recent it may still be running: another import is refused.
  EXPECT_THROW(ClickHouseWriter{options}, ClickHouseError);
  // Once silent for long enough, the next import deletes its rows and goes ahead.
  ClickHouseOptions impatient = options;
  impatient.staleImport = milliseconds(0);
  {
    ClickHouseWriter writer(impatient);
    EXPECT_TRUE(writer.HasSource(AbsolutePath(first), 0));
    EXPECT_FALSE(writer.HasSource(AbsolutePath(second), 0));
    writer.Commit();
  }
  auto until = Clock::now() + std::chrono::seconds(60);
  while (RawCount(options, "grams", "gram = 'gamma delta'") > 0 && Clock::now() < until)
    std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(RawCount(options, "grams", "gram = 'gamma delta'"), 0);
  EXPECT_EQ(RawCount(options, "pages", "1"), 50);
  testing::Child again(ImportArgs(options, second), {0, dir.File("again.out")});
  ASSERT_EQ(again.Wait(), 0) << testing::ReadFile(dir.File("again.out"));
  EXPECT_EQ(reader.CountMatches({"gamma delta", true}, Deadline::None()), 3000);
  EXPECT_EQ(reader.CountLinks("hub.example", Deadline::None()), 3050);
  ASSERT_EQ(reader.Sources().size(), 2u);
  EXPECT_EQ(reader.Sources()[1].address, AbsolutePath(second));
  EXPECT_EQ(reader.Counts().pages, 3050);
}

TEST(ClickHouseStore, StoppedShardGivesPagesWithoutData) {
  ClickHouseServers& servers = SharedClickHouse();
  ClickHouseOptions options = FreshClickHouse(true);
  {
    ClickHouseWriter writer(options);
    for (int i = 0; i < 200; ++i)
      writer.AddPage(
          {"http://site" + std::to_string(i) + ".example/", "Epsilon", "epsilon zeta", {"http://hub.example/"}});
    writer.PutRank("hub.example", 77);
    writer.Commit();
  }
  ClickHouseReader reader(options);
  Service service(reader, milliseconds(1000));
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"/search", "p=%22epsilon+zeta%22&n=10&b=1"},
      {"/search", "p=link%3Ahttp%3A%2F%2Fhub.example"},
      {"/data/details/", "url=www.hub.example"},
      {"/d/searchinventory/suggestion/", "term=epsilon"},
  };
  auto whole = [&] {
    EXPECT_EQ(testing::ReadLinkCount(service.Respond("/search", "p=link%3Ahttp%3A%2F%2Fhub.example").body), "200");
    Reply search = service.Respond("/search", "p=%22epsilon+zeta%22&n=10&b=1");
    EXPECT_NE(search.body.find("of about <b>200</b>"), std::string::npos);
    EXPECT_EQ(testing::ReadResultHosts(search.body).size(), 10u);
    EXPECT_EQ(testing::ReadTrafficRank(service.Respond("/data/details/", "url=www.hub.example").body), "77");
  };
  auto withoutData = [&](const char* how) {
    for (const auto& [path, query] : requests) {
      auto start = Clock::now();
      Reply reply = service.Respond(path, query);
      double ms = MsSince(start);
      EXPECT_EQ(reply.status, 503) << how << " " << path;
      EXPECT_LT(ms, 4000) << how << " " << path;
      EXPECT_EQ(reply.body.find("of about"), std::string::npos);
      EXPECT_EQ(testing::ReadTrafficRank(reply.body), "999999999");
    }
  };
  whole();
  servers.Pause(1);
  withoutData("shard paused");
  servers.Resume(1);
  whole();
  servers.Stop(1);
  withoutData("shard stopped");
  // Nothing can be imported meanwhile.
  EXPECT_THROW(ClickHouseWriter{options}, ClickHouseError);
  servers.Start(1);
  whole();
}

}  // namespace
}  // namespace quillet::services
