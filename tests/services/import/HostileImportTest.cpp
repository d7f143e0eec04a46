// Import files as they come from the wild, and worse: every bad line is skipped and counted
// by reason, every good line around it is stored, memory stays bounded whatever the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/services/support/Child.h"
#include "tests/services/support/Fixtures.h"
#include "services/import/Importers.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

using testing::Child;
using testing::Gzip;
using testing::ImportFile;
using testing::ScratchDir;

std::string Utf16Le(const std::u16string& text) {
  std::string out = "\xFF\xFE";
  for (char16_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

// Every row of the tables an import writes, as short readable strings.
std::vector<std::string> Stored(const std::string& path) {
  Database db(path, Database::Mode::ReadOnly);
  std::vector<std::string> rows;
  for (const char* sql : {"SELECT 'k:' || term || '=' || searches FROM keywords ORDER BY 1",
                          "SELECT 'r:' || domain || '=' || rank FROM ranks ORDER BY 1",
                          "SELECT 'p:' || url || '|' || title FROM pages ORDER BY id"}) {
    Statement query = db.Prepare(sql);
    while (query.Step()) rows.push_back(query.Text(0));
  }
  return rows;
}

TEST(HostileImport, BadLinesAreSkippedByReasonAndTheRestIsStored) {
  const std::string longTerm(limits::kMaxTableLine + 10, 'x');
  std::string manyFields = "a";
  for (size_t i = 0; i <= limits::kMaxFields; ++i) manyFields += ",1";
  std::string manyLinks = R"({"url":"http://many.com/","links":[)";
  for (size_t i = 0; i <= limits::kMaxLinksPerPage; ++i) manyLinks += std::string(i ? "," : "") + "\"http://l.com/\"";
  manyLinks += "]}";
  const std::string pagesFile = R"({"url":"http://ok.com/1","title":"T\u0007itle","text":"caf)"
                                "\xE9"
                                R"( au lait","links":["http://a\u0000b.com/","http://fine.org/"]})"
                                "\n" +
                                std::string(R"({"url":"http://a.com/x\r\nSet-Cookie: y"})") + "\n" +
                                R"({"url":"http://b.com/\ud800"})"
                                "\n" +
                                manyLinks + "\n" +
                                R"({"url":"http://ok.com/2","title":"Two"})"
                                "\n";
  struct Case {
    const char* name;
    const char* kind;
    std::string bytes;
    std::vector<std::string> stored;
    std::map<std::string, std::int64_t> skipped;
  };
  const std::vector<Case> cases = {
      {"overlong line among good ones",
       "keywords",
       "dog training,100\n" + longTerm + ",5\ncat toys,5\n",
       {"k:cat toys=5", "k:dog training=100"},
       {{"line too long", 1}}},
      {"lone surrogate in UTF-16",
       "keywords",
       Utf16Le(u"a,1\r\nb\xD800,2\r\nc,3\r\n"),
       {"k:a=1", "k:c=3"},
       {{"lone UTF-16 surrogate in term", 1}}},
      {"UTF-16 broken off in a character",
       "keywords",
       Utf16Le(u"a,1\nb,2\n") + "x",
       {"k:a=1", "k:b=2"},
       {{"too few columns", 1}}},
      {"bad bytes and numbers",
       "keywords",
       "caf\xE9,4\na\x01"
       "b,5\nbig,99999999999\nfine,6\n" +
           manyFields + "\n",
       {"k:fine=6"},
       {{"invalid UTF-8 in term", 1},
        {"control character in term", 1},
        {"search count not a whole number from 0 to 2147483647", 1},
        {"too many fields", 1}}},
      {"hosts with control bytes",
       "ranks",
       std::string("1,ex\0ample.com\n2,good.com\n3,a\x7F.com\n", 33),
       {"r:good.com=2"},
       {{"not a domain name", 2}}},
      {"pages: addresses refused, text repaired",
       "pages",
       pagesFile,
       {"p:http://ok.com/1|T itle", "p:http://ok.com/2|Two"},
       {{"control character in url", 1}, {"lone UTF-16 surrogate in url", 1}, {"too many links", 1}}},
      {"gzip of two members", "keywords", Gzip("a,1\nb,") + Gzip("2\nc,3\n"), {"k:a=1", "k:b=2", "k:c=3"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ImportReport report = ImportFile(c.kind, dir.File("d.db"), dir.Write("in", c.bytes));
    EXPECT_EQ(Stored(dir.File("d.db")), c.stored);
    EXPECT_EQ(report.skipped, c.skipped);
    EXPECT_EQ(report.added, static_cast<std::int64_t>(c.stored.size()));
    EXPECT_TRUE(report.damage.empty()) << report.damage;
  }
  // What the pages case stored carries no control byte or broken UTF-8 anywhere.
  ScratchDir dir;
  ImportReport report = ImportFile("pages", dir.File("d.db"), dir.Write("in", pagesFile));
  EXPECT_EQ(report.linksDropped, 1);
  SqliteReader store(dir.File("d.db"));
  auto pages = store.FindPages({"au lait", true}, 0, 10, Deadline::None());
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].snippet, "caf\xEF\xBF\xBD au lait");
  EXPECT_EQ(store.CountLinks("fine.org", Deadline::None()), 1);
}

TEST(HostileImport, ADamagedArchiveKeepsTheLinesBeforeTheDamage) {
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += "term " + std::to_string(i) + "," + std::to_string(i) + "\n";
  const std::string packed = Gzip(lines);
  std::string corrupt = packed;
  corrupt[packed.size() / 2] ^= 0x55;
  struct Case {
    std::string name, bytes;
    bool kept;  // a cut keeps what inflated before it; damaged data stores nothing of its member
    std::string said;
  };
  const std::vector<Case> cases = {
      {"cut short", packed.substr(0, packed.size() * 2 / 3), true, "the file ends early"},
      {"corrupt in the middle", corrupt, false, "the file is damaged"},
      {"trailing junk", packed + "not gzip", true, "the file ends early"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ImportReport report = ImportFile("keywords", dir.File("d.db"), dir.Write("in.gz", c.bytes));
    EXPECT_FALSE(report.damage.empty());
    if (c.kept) EXPECT_GT(report.added, 500);
    else EXPECT_EQ(report.added, 0);
    EXPECT_NE(report.Describe().find(c.said), std::string::npos);
  }
}

// The real program on files made to exhaust memory: it streams them and skips what is too
// long, so its peak stays far below the file's size.
TEST(HostileImport, HugeFilesImportInBoundedMemory) {
  ScratchDir dir;
  const std::string good = R"({"url":"http://good.com/","text":"after the flood"})"
                           "\n";
  const std::string hugeLine =
      R"({"url":"http://huge.com/","links":[)" + std::string(30 << 20, ' ') + "\"http://x.com/\"]}\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"blank lines", std::string(30 << 20, '\n') + good},
      {"one line of 30 MB", hugeLine + good},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    std::string db = dir.File(name + ".db");
    Child child({"import", "pages", dir.Write(name, bytes), "--db", db}, {0, dir.File("out")});
    EXPECT_EQ(child.WaitMeasuring(), 0) << testing::ReadFile(dir.File("out"));
    EXPECT_LT(child.PeakMb(), 96.0);
    EXPECT_EQ(Stored(db), std::vector<std::string>{"p:http://good.com/|"});
  }
  EXPECT_NE(testing::ReadFile(dir.File("out")).find("1 line too long"), std::string::npos);
  // Only a file that could not be read, or of which nothing could be stored, fails the run.
  const std::vector<std::pair<std::string, std::string>> failing = {
      {dir.Write("bad.jsonl", "not json\n{\"url\":\"ftp://x.com/\"}\n"), "2 skipped"},
      {dir.File("missing.jsonl"), "could not be read"},
  };
  for (const auto& [file, message] : failing) {
    Child child({"import", "pages", file, "--db", dir.File("x.db")}, {0, dir.File("out")});
    EXPECT_EQ(child.Wait(), 1);
    EXPECT_NE(testing::ReadFile(dir.File("out")).find(message), std::string::npos)
        << testing::ReadFile(dir.File("out"));
  }
}

// Crawl archives and demand files made to exhaust memory or the stack: the real program keeps
// at most its caps of any record, skips what is past them, and stores the records after.
TEST(HostileImport, HugeRecordsAndEndlessTermsImportInBoundedMemory) {
  ScratchDir dir;
  auto record = [](const std::string& type, const std::string& uri, const std::string& block,
                   const std::string& length) {
    return "WARC/1.0\r\nWARC-Type: " + type + "\r\nWARC-Target-URI: " + uri + "\r\nContent-Length: " + length +
           "\r\n\r\n" + block + "\r\n\r\n";
  };
  auto page = [&](const std::string& uri, const std::string& text) {
    return record("conversion", uri, text, std::to_string(text.size()));
  };
  auto meta = [&](const std::string& json) {
    return record("metadata", "http://x.com/", json, std::to_string(json.size()));
  };
  const std::string goodMeta =
      R"({"Envelope":{"WARC-Header-Metadata":{"WARC-Type":"response","WARC-Target-URI":"http://good.com/"},)"
      R"("Payload-Metadata":{"HTTP-Response-Metadata":{"HTML-Metadata":{"Head":{"Title":"after the flood"}}}}}})";
  std::string manyHeaders = "WARC/1.0\r\n";
  for (int i = 0; i < 200000; ++i) manyHeaders += "X-Filler: " + std::to_string(i) + "\r\n";
  std::string titles;
  for (int i = 0; i < 100000; ++i) titles += "en Title_number_" + std::to_string(i) + "_of_many 1 0\n";
  struct Case {
    const char* name;
    std::string kind;
    std::string bytes;
    std::string shown;  // in the summary
    double mostMb;
  };
  const std::vector<Case> cases = {
      {"a page of 40 MB", "wet",
       page("http://big.com/", std::string(40 << 20, 'a') + " tail") + page("http://good.com/", "after the flood"),
       "2 added", 96},
      {"a length of a petabyte", "wet",
       page("http://good.com/", "after the flood") +
           record("conversion", "http://big.com/", std::string(30 << 20, 'b'), "999999999999999"),
       "1 record cut short by the end of the file", 96},
      {"200,000 header lines", "wet", manyHeaders + "\r\n" + page("http://good.com/", "after the flood"),
       "1 more than 256 header lines", 96},
      {"metadata of 20 MB", "wat", meta("{\"x\":\"" + std::string(20 << 20, 'c') + "\"}") + meta(goodMeta),
       "1 metadata record too long", 96},
      {"JSON nested a million deep", "wat",
       meta(std::string(1 << 20, '[') + std::string(1 << 20, ']')) + meta(goodMeta), "nesting too deep", 96},
      // The run's sums are kept in the store: its page cache, in pages of 16 KiB, comes on top.
      {"100,000 distinct titles", "pageviews", Gzip(titles), "100,000 terms stored", 104},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string db = dir.File(std::string(c.name) + ".db");
    Child child({"import", c.kind, dir.Write("in", c.bytes), "--db", db}, {0, dir.File("out")});
    EXPECT_EQ(child.WaitMeasuring(), 0) << testing::ReadFile(dir.File("out"));
    EXPECT_LT(child.PeakMb(), c.mostMb);
    EXPECT_NE(testing::ReadFile(dir.File("out")).find(c.shown), std::string::npos)
        << testing::ReadFile(dir.File("out"));
    if (c.kind != "pageviews") {
      SqliteReader store(db);
      EXPECT_EQ(store.CountMatches({"after the flood", true}, Deadline::None()), 1);
    }
  }
}

// A full disk, as SQLite meets it: writes past a size limit fail.
TEST(HostileImport, AFullDiskLeavesEverythingAsItWas) {
  ScratchDir dir;
  const std::string db = dir.File("d.db");
  ImportFile("keywords", db, dir.Write("k.csv", "seed,1\n"));
  const std::string before = testing::Fingerprint(db);
  std::string pages;
  for (int i = 0; i < 20000; ++i)
    pages += "{\"url\":\"http://h" + std::to_string(i % 97) + ".com/" + std::to_string(i) +
             "\",\"text\":\"some words to fill the index with " + std::to_string(i) + "\"}\n";
  const long long room = static_cast<long long>(std::filesystem::file_size(db)) + 256 * 1024;

  Child import({"import", "pages", dir.Write("p.jsonl", pages), "--db", db}, {room, dir.File("import.out")});
  EXPECT_EQ(import.Wait(), 1);
  EXPECT_NE(testing::ReadFile(dir.File("import.out")).find("is the disk full?"), std::string::npos);
  // --replace: the file holds imports, and it is the build that must fail here.
  Child demo({"demo", "--db", db, "--pages", "20000", "--replace"}, {room, dir.File("demo.out")});
  EXPECT_EQ(demo.Wait(), 1);
  EXPECT_NE(testing::ReadFile(dir.File("demo.out")).find("any file there is as it was"), std::string::npos);
  // Nothing is left behind but the database and the inputs (a reader's look would add its log).
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File(""))) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"d.db", "demo.out", "import.out", "k.csv", "p.jsonl"}));
  EXPECT_EQ(testing::Fingerprint(db), before);
}

}  // namespace
}  // namespace quillet::services
