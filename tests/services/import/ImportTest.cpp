#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/services/support/Fixtures.h"
#include "services/import/Importers.h"
#include "services/import/Json.h"
#include "services/import/ReaderKit.h"
#include "services/store/Store.h"

namespace quillet::services {
namespace {

using testing::ScratchDir;

// UTF-8 to UTF-16 with a byte order mark.
std::string Utf16(const std::string& utf8, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  auto put = [&](std::uint32_t unit) {
    char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
    out += little ? lo : hi;
    out += little ? hi : lo;
  };
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += 1 + extra;
    if (code >= 0x10000) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

std::map<std::string, std::int64_t> Keywords(Database& db) {
  std::map<std::string, std::int64_t> out;
  Statement query = db.Prepare("SELECT term, searches FROM keywords");
  while (query.Step()) out[query.Text(0)] = query.Int(1);
  return out;
}

std::vector<int> RejectedLines(const ImportReport& report) {
  std::vector<int> lines;
  for (const std::string& problem : report.examples) lines.push_back(std::stoi(problem.substr(5)));
  return lines;
}

using testing::ImportFile;

TEST(ImportKeywords, EachFileLayout) {
  const std::string planner =
      "Keyword Stats 2026-12-01 at 10_00_00\nAll locations\n"
      "Keyword\tCurrency\tAvg. monthly searches\tCompetition\n"
      "Dog  Training\tUSD\t12,100\tHigh\n"
      "caf\xC3\xA9 \xF0\x9F\x98\x80 & co\tUSD\t880\tLow\n";
  const std::map<std::string, std::int64_t> plannerTerms = {{"dog training", 12100},
                                                            {"caf\xC3\xA9 \xF0\x9F\x98\x80 & co", 880}};
  struct Case {
    const char* name;
    std::string bytes;
    std::map<std::string, std::int64_t> terms;
    std::vector<int> rejected;
  };
  const std::vector<Case> cases = {
      {"planner UTF-16LE", Utf16(planner, true), plannerTerms, {}},
      {"planner UTF-16BE", Utf16(planner, false), plannerTerms, {}},
      {"planner UTF-8", planner, plannerTerms, {}},
      {"csv, columns swapped, BOM, CRLF",
       "\xEF\xBB\xBF\"Avg. monthly searches\",Keyword\r\n1300,\"cats, dogs\"\r\n\"2,400\",\"say \"\"hi\"\"\"\r\n",
       {{"cats, dogs", 1300}, {"say \"hi\"", 2400}},
       {}},
      {"two plain columns with bad lines",
       "dog training,5400\nno count here\ncat toys,abc\n<b>x</b>,5\nok term, 1 000\n\n a;b ,1\nbig,2147483648\n",
       {{"dog training", 5400}, {"ok term", 1000}},
       {2, 3, 4, 7, 8}},
      {"two plain columns, tabs", "fly rods\t90\nfly reels\t0\n", {{"fly rods", 90}, {"fly reels", 0}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ImportReport report = ImportFile("keywords", dir.File("k.db"), dir.Write("k.csv", c.bytes));
    Database db(dir.File("k.db"), Database::Mode::ReadOnly);
    EXPECT_EQ(Keywords(db), c.terms);
    EXPECT_EQ(RejectedLines(report), c.rejected);
    EXPECT_EQ(report.added, static_cast<std::int64_t>(c.terms.size()));
    EXPECT_EQ(report.Skipped(), static_cast<std::int64_t>(c.rejected.size()));
  }
}

TEST(ImportKeywords, CountsAndRangesAsKeywordToolsWriteThem) {
  struct Case {
    std::string text;
    std::optional<std::int64_t> searches;
    bool range = false;
  };
  const std::vector<Case> cases = {
      {"12,100", 12100},
      {"12.100", 12100},
      {"1\u00A0234", 1234},
      {"2.5", std::nullopt},
      {"1K – 10K", 3162, true},
      {"10 – 100", 32, true},
      {"100 k – 1 M", 316228, true},
      {"1 mil – 10 mil", 3162, true},
      {"1万～10万", 31623, true},
      {"1,000-10,000", 3162, true},
      {"10K – 1K", std::nullopt},
      {"1M – 10G", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<Volume> volume = ParseVolume(c.text);
    ASSERT_EQ(volume.has_value(), c.searches.has_value()) << c.text;
    if (volume) {
      EXPECT_EQ(std::make_pair(volume->searches, volume->range), std::make_pair(*c.searches, c.range)) << c.text;
    }
  }
}

TEST(ImportKeywords, ALaterCountReplacesAnEarlierOne) {
  ScratchDir dir;
  ImportFile("keywords", dir.File("k.db"), dir.Write("a.csv", "dog toys,10\n"));
  ImportReport report = ImportFile("keywords", dir.File("k.db"), dir.Write("b.csv", "Dog Toys,20\ncat toys,5\n"));
  EXPECT_EQ(report.added, 1);
  EXPECT_EQ(report.replaced, 1);
  Database db(dir.File("k.db"), Database::Mode::ReadOnly);
  EXPECT_EQ(Keywords(db), (std::map<std::string, std::int64_t>{{"dog toys", 20}, {"cat toys", 5}}));
  EXPECT_EQ(SqliteReader(dir.File("k.db")).FindSuggestions({"toys"}, 10, Deadline::None()).size(), 2u);
}

TEST(ImportPages, RecordsLinksAndRejectedLines) {
  ScratchDir dir;
  const std::string lines =
      R"({"url":"http://www.a.com/1","title":"Dog training","text":"Dog training at home","links":["http://b.com/x","http://www.a.com/2","https://www.b.com/"]})"
      "\n"
      R"({"url":"http://b.com/1","title":"B","text":"all about dog\u0020training \ud83d\ude00","links":["http://www.a.com/"],"lang":{"x":[1,2.5e3,null]}})"
      "\n{\"url\":\"http://c.com/\",\"title\":7}\n"
      "{\"url\":\"ftp://c.com/\"}\n"
      "{\"url\":\"http://a.com/1\"}\n"
      "{\"url\":\"http://www.a.com/1\"}\n"
      "not json\n\n"
      "{\"url\":\"http://nodot/\"}\n"
      R"({"url":"http://c.com/2","links":[]} )"
      "\n";
  ImportReport report = ImportFile("pages", dir.File("p.db"), dir.Write("p.jsonl", lines));
  EXPECT_EQ(report.added, 4);
  EXPECT_EQ(RejectedLines(report), (std::vector<int>{3, 4, 6, 7, 9}));
  SqliteReader db(dir.File("p.db"));
  const Deadline none = Deadline::None();
  EXPECT_EQ(db.CountMatches({"dog training", true}, none), 2);
  EXPECT_EQ(db.CountMatches({"training dog", true}, none), 0);
  EXPECT_EQ(db.CountMatches({"training dog", false}, none), 2);
  // One page of b.com links to a.com; a.com's link to itself does not count, and two links
  // from one page to b.com count once.
  EXPECT_EQ(db.CountLinks("www.a.com", none), 1);
  EXPECT_EQ(db.CountLinks("b.com", none), 1);
  EXPECT_EQ(db.CountLinks("c.com", none), 0);
  auto pages = db.FindPages({"dog training", true}, 0, 10, none);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].url, "http://www.a.com/1");
  EXPECT_EQ(pages[1].snippet, "all about dog training \xF0\x9F\x98\x80");
}

TEST(ImportRanks, HeaderBadLinesAndParentDomains) {
  ScratchDir dir;
  ImportReport report = ImportFile(
      "ranks", dir.File("r.db"),
      dir.Write("r.csv",
                "rank,domain\n1,Example.com\n2,www.dogs.co.uk\nx,a.com\n0,b.com\n3,nodot\n4\n5,c.org\n6,c.org\n"));
  EXPECT_EQ(RejectedLines(report), (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(report.added, 3);
  // Within one import the better rank of a host stays.
  EXPECT_EQ(report.replaced, 0);
  EXPECT_EQ(report.kept, 1);
  SqliteReader db(dir.File("r.db"));
  auto rank = [&](const char* host) { return db.FindRank(host, Deadline::None()); };
  EXPECT_EQ(rank("www.example.com"), 1);
  EXPECT_EQ(rank("shop.blog.example.com"), 1);
  EXPECT_EQ(rank("dogs.co.uk"), 2);
  EXPECT_EQ(rank("c.org"), 5);
  EXPECT_EQ(rank("co.uk"), std::nullopt);
  EXPECT_EQ(rank("unknown.com"), std::nullopt);
}

// A database with some of everything, and a large file of each kind.
struct Loaded {
  ScratchDir dir;
  std::string db = dir.File("d.db");
  std::string keywords, pages, ranks, wet, wat, hostRanks, pageviews;
  Loaded() {
    ImportFile("keywords", db, dir.Write("k0", "seed term,5\n"));
    ImportFile("pages", db, dir.Write("p0", "{\"url\":\"http://seed.com/\",\"text\":\"seed\"}\n"));
    ImportFile("ranks", db, dir.Write("r0", "9,seed.com\n"));
    std::string k, p, r;
    for (int i = 0; i < 5000; ++i) {
      k += "term " + std::to_string(i) + "," + std::to_string(i) + "\n";
      p += "{\"url\":\"http://h" + std::to_string(i % 50) + ".com/" + std::to_string(i) +
           "\",\"text\":\"page text\",\"links\":[\"http://seed.com/\"]}\n";
      r += std::to_string(i + 1) + ",h" + std::to_string(i) + ".com\n";
    }
    keywords = dir.Write("k.csv", k);
    pages = dir.Write("p.jsonl", p);
    ranks = dir.Write("r.csv", r);
    std::string text, meta, graph, views;
    auto record = [](const char* type, const std::string& url, const std::string& block) {
      return std::string("WARC/1.0\r\nWARC-Type: ") + type + "\r\nWARC-Target-URI: " + url +
             "\r\nContent-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block + "\r\n\r\n";
    };
    for (int i = 0; i < 5000; ++i) {
      std::string url = "http://h" + std::to_string(i % 50) + ".com/" + std::to_string(i);
      text += record("conversion", url, "page text " + std::to_string(i));
      meta +=
          record("metadata", url,
                 R"({"Envelope":{"WARC-Header-Metadata":{"WARC-Type":"response","WARC-Target-URI":")" + url +
                     R"("},"Payload-Metadata":{"HTTP-Response-Metadata":{"HTML-Metadata":{"Head":{"Title":"T"}}}}}})");
      graph += std::to_string(i + 1) + "\t1.0\t" + std::to_string(i + 1) + "\t0.1\tcom.h" + std::to_string(i) + "\n";
      views += "en Term_" + std::to_string(i) + " 5 0\n";
    }
    wet = dir.Write("t.warc.wet", text);
    wat = dir.Write("t.warc.wat", meta);
    hostRanks = dir.Write("ranks.txt", graph);
    pageviews = dir.Write("pageviews", views);
  }
};

TEST(Import, AnInterruptedImportLeavesTheDatabaseAsItWas) {
  Loaded loaded;
  const std::string before = testing::Fingerprint(loaded.db);
  const std::vector<std::pair<const char*, std::string>> runs = {{"keywords", loaded.keywords},
                                                                 {"pages", loaded.pages},
                                                                 {"ranks", loaded.ranks},
                                                                 {"wet", loaded.wet},
                                                                 {"wat", loaded.wat},
                                                                 {"hostranks", loaded.hostRanks},
                                                                 {"pageviews", loaded.pageviews}};
  for (const auto& [kind, file] : runs) {
    SCOPED_TRACE(file);
    SqliteWriter writer(loaded.db);
    int calls = 0;
    EXPECT_THROW(testing::ReadAs(kind, writer, file, [&](std::int64_t, std::int64_t) { return ++calls < 2; }),
                 ImportInterrupted);
    EXPECT_EQ(calls, 2);
  }
  EXPECT_EQ(testing::Fingerprint(loaded.db), before);
}

TEST(Import, AProcessKilledDuringAnImportLeavesTheDatabaseAsItWas) {
  Loaded loaded;
  const std::string before = testing::Fingerprint(loaded.db);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SqliteWriter writer(loaded.db);
    // A tiny page cache makes the import write changed pages out before it commits.
    writer.Db().Exec("PRAGMA cache_size = 2");
    // Dies half-way, with rows written inside the open transaction.
    testing::ReadAs("pages", writer, loaded.pages, [](std::int64_t done, std::int64_t total) {
      if (done * 2 > total) _exit(0);
      return true;
    });
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The dead import's pages sit in the write-ahead log, uncommitted: readers never see them
  // and need nobody to clean up after it.
  EXPECT_GT(std::filesystem::file_size(loaded.db + "-wal"), 0u);
  EXPECT_EQ(testing::Fingerprint(loaded.db), before);
  // The next import goes through as if nothing had happened.
  EXPECT_EQ(ImportFile("pages", loaded.db, loaded.pages).added, 5000);
  EXPECT_EQ(SqliteReader(loaded.db).CountLinks("seed.com", Deadline::None()), 5000);
}

}  // namespace
}  // namespace quillet::services
