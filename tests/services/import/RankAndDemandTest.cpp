// Web-graph rank lists, hourly pageview dumps and search-console exports, written here in
// their published forms, imported by the real program, and read back through the service
// with the program's own page readers.
#include <gtest/gtest.h>

#include "tests/services/support/Child.h"
#include "tests/services/support/Fixtures.h"
#include "tests/services/support/ProgramRules.h"
#include "services/import/Importers.h"

namespace quillet::services {
namespace {

using testing::Child;
using testing::ReadFile;
using testing::ReadTrafficRank;
using testing::ResearchRows;
using testing::ScratchDir;

const char* const kHeader = "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev";

TEST(ImportHostRanks, ListsWithAndWithoutHostCountsByEitherRank) {
  const std::string rows =
      "1\t3.4626736E7\t3\t0.005384977821460953\tcom.example\n"
      "2\t3.42356E7\t1\t0.007010813553170503\torg.dogs.blog\n"
      "3\t3.007577E7\t2\t0.008634952900502719\tuk.co.cats.www\n";
  auto withHosts = [](std::string text) {
    std::string out;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      out += text.substr(at, end - at) + "\t" + std::to_string(at % 7 + 1) + "\n";
    return out;
  };
  const std::string odd =
      "x\t1\t4\t1\tcom.bad\n5\t1\n6\t1\t6\t1\tcom\n0\t1\t0\t1\tnet.zero\n7\t1.0\t7\t1.0\tnet.fine\n";
  struct Case {
    const char* name;
    RankBy by;
    std::string bytes;
    std::vector<std::string> ranks;  // example.com, blog.dogs.org, www.cats.co.uk, fine.net
    std::int64_t skipped;
  };
  const std::vector<Case> cases = {
      {"domain list with #n_hosts",
       RankBy::Harmonic,
       std::string(kHeader) + "\t#n_hosts\n" + withHosts(rows),
       {"1", "2", "3", "999999999"},
       0},
      {"host list, by PageRank", RankBy::PageRank, std::string(kHeader) + "\n" + rows, {"3", "1", "2", "999999999"}, 0},
      {"no header, CR LF, bad lines", RankBy::Harmonic, rows + odd, {"1", "2", "3", "7"}, 4},
      {"columns in another order",
       RankBy::PageRank,
       "#host_rev\t#pr_pos\n com.example\t9\norg.dogs.blog\t8\n",
       {"9", "8", "999999999", "999999999"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    SqliteWriter writer(dir.File("r.db"));
    std::string bytes = c.bytes;
    if (std::string(c.name).find("CR LF") != std::string::npos)
      for (size_t at = 0; (at = bytes.find('\n', at)) != std::string::npos; at += 2) bytes.insert(at, "\r");
    ImportSettings settings;
    settings.rankBy = c.by;
    ImportReport report = testing::ReadAs("hostranks", writer, dir.Write("ranks.txt", bytes), nullptr, settings);
    writer.Commit();
    EXPECT_EQ(report.Skipped(), c.skipped) << report.Describe();
    SqliteReader store(dir.File("r.db"));
    Service service(store);
    std::vector<std::string> ranks;
    for (const char* host : {"example.com", "blog.dogs.org", "cats.co.uk", "fine.net"})
      ranks.push_back(ReadTrafficRank(service.Respond("/data/details/", std::string("url=www.") + host).body));
    EXPECT_EQ(ranks, c.ranks);
  }
}

// The real program's import of several files as one run, and what the research then shows.
struct ProgramRun {
  ScratchDir dir;
  std::string db = dir.File("d.db");
  int Import(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"import"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--db", db});
    Child child(all, {0, dir.File("out")});
    return child.Wait();
  }
  std::string Output() { return ReadFile(dir.File("out")); }
  // Term, Demand and Supply of each row (Profitability follows from them).
  std::vector<std::vector<std::string>> Research(const std::string& topic) {
    SqliteReader store(db);
    Service service(store);
    auto rows = ResearchRows(service, topic);
    for (auto& row : rows) row.resize(3);
    return rows;
  }
};

TEST(ImportPageviews, HoursSummedOverFilesAndScaledToAMonth) {
  ProgramRun run;
  const std::string hour1 =
      "aa Main_Page 5 0\nde Hund_training 100 0\nen Dog_training 10 0\nen.m Dog_training 5 0\n"
      "en Caf%C3%A9_au_lait 3 0\nen Dog__Training_tips 2 0\nen.m.d dog_training 9 0\nen Dog_training_kit 4\n"
      "en Dog_training_x x 0\nen Dog training club 1 0\nen Dog_%FF 1 0\nen <b>Dog_training</b> 1 0\n";
  const std::string hour2 = "en Dog_training 15 0\nen Dog_training_tips 1 0\n";
  const std::string h1 = run.dir.Write("pageviews-20240101-000000.gz", testing::Gzip(hour1));
  const std::string h2 = run.dir.Write("pageviews-20240101-010000", hour2);
  ASSERT_EQ(run.Import({"pageviews", h1, h2}), 0) << run.Output();
  // (10 + 5 + 15) views in 2 hours: 10,800 a month; (2 + 1) in 2 hours: 1,080.
  EXPECT_EQ(run.Research("dog training"), (std::vector<std::vector<std::string>>{{"dog training", "10800", "0"},
                                                                                 {"dog training tips", "1080", "0"}}));
  EXPECT_EQ(run.Research("caf\xC3\xA9"), (std::vector<std::vector<std::string>>{{"caf\xC3\xA9 au lait", "1080", "0"}}));
  const std::string out = run.Output();
  for (const char* shown :
       {"left out: 3 lines of other projects", "2 not four fields", "1 term holds '<'", "1 invalid UTF-8 in term",
        "1 view count not a whole number", "covering 2 hours", "3 terms stored (3 added, 0 replaced)"})
    EXPECT_NE(out.find(shown), std::string::npos) << shown << "\n" << out;

  // Imported again, a term gets the new value: 15 views over 7 hours, rounded.
  ASSERT_EQ(run.Import({"pageviews", h2, "--hours", "7"}), 0) << run.Output();
  EXPECT_EQ(run.Research("dog training")[0], (std::vector<std::string>{"dog training", "1543", "0"}));
  ASSERT_EQ(run.Import({"pageviews", h1, "--project", "de"}), 0) << run.Output();
  EXPECT_EQ(run.Research("hund")[0], (std::vector<std::string>{"hund training", "72000", "0"}));
}

TEST(ImportSearchConsole, ExportsSummedAndBadFilesRefused) {
  ProgramRun run;
  const std::string csv =
      "\xEF\xBB\xBFTop queries,Clicks,Impressions,CTR,Position\r\n"
      "dog training,12,\"1,234\",0.97%,3.2\r\nCat Toys,1,56,1.8%,7\r\n<b>bold</b>,1,5,1%,1\r\nfly rods,0,n/a,0%,0\r\n";
  const std::string tsv = "Search analytics export\nTop queries\tImpressions\tClicks\ndog training\t1 000\t3\n";
  ASSERT_EQ(run.Import({"gsc", run.dir.Write("Queries.csv", csv), run.dir.Write("more.tsv", tsv)}), 0) << run.Output();
  EXPECT_EQ(run.Research("dog training"), (std::vector<std::vector<std::string>>{{"dog training", "2234", "0"}}));
  EXPECT_EQ(run.Research("cat"), (std::vector<std::vector<std::string>>{{"cat toys", "56", "0"}}));
  EXPECT_NE(run.Output().find("1 impressions not a whole number"), std::string::npos) << run.Output();

  // A file without the columns, or one that cannot be read, stores nothing of its run.
  EXPECT_EQ(run.Import({"gsc", run.dir.Write("other.csv", "Query,Visits\ndog training,5\n")}), 1);
  EXPECT_NE(run.Output().find("no header with a query and an impressions column"), std::string::npos);
  EXPECT_EQ(run.Import({"gsc", run.dir.Write("new.csv", "Top queries,Impressions\ndog training,1\n"),
                        run.dir.File("missing.csv")}),
            1);
  EXPECT_NE(run.Output().find("nothing of this run was stored"), std::string::npos) << run.Output();
  EXPECT_EQ(run.Research("dog training")[0][1], "2234");
}

}  // namespace
}  // namespace quillet::services
