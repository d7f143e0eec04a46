// Files in the shapes real tools write them, imported by the readers into each store and read
// back through the service with the program's own readers and request builder.
#include <gtest/gtest.h>

#include "services/import/Run.h"
#include "tests/services/support/Fixtures.h"
#include "tests/services/support/ProgramRules.h"
#include "tests/services/support/StoreUnderTest.h"

namespace quillet::services {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class RealFiles : public ::testing::TestWithParam<std::string> {
 protected:
  // Imports files of a kind (name, bytes) as `import` would; the run's exit status.
  int Import(std::string_view kind, const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) paths.push_back(dir_.Write(name, bytes));
    RunConsole console;
    console.said = console.failed = [this](const std::string& line) { said_ += line + "\n"; };
    return RunImport(
        *FindImporter(kind), paths, {}, [this] { return store_->Writer(); }, console);
  }
  bool Said(std::string_view text) const { return said_.find(text) != std::string::npos; }
  // A category research of the topic, the first columns of its rows: term, Demand, Supply.
  Rows Research(const std::string& topic, std::size_t columns = 2) {
    auto reader = store_->Reader();
    Service service(*reader);
    Rows rows = testing::ResearchRows(service, topic);
    for (auto& row : rows) row.resize(columns);
    return rows;
  }
  std::string Rank(const std::string& host) {
    auto reader = store_->Reader();
    Service service(*reader);
    return testing::ReadTrafficRank(service.Respond("/data/details/", "url=www." + host).body);
  }
  std::int64_t Count(const std::string& phrase) {
    return store_->Reader()->CountMatches({phrase, true}, Deadline::None());
  }

  std::unique_ptr<testing::StoreUnderTest> store_ = testing::MakeStore(GetParam());
  testing::ScratchDir dir_;
  std::string said_;
};
INSTANTIATE_TEST_SUITE_P(Stores, RealFiles, ::testing::ValuesIn(testing::StoreKinds()),
                         [](const auto& info) { return info.param; });

// A page record of JSON Lines.
std::string Page(const std::string& url, const std::string& text, const std::string& link = "") {
  return R"({"url":")" + url + R"(","text":")" + text + R"(","links":[)" + (link.empty() ? "" : "\"" + link + "\"") +
         "]}\n";
}

// Keyword lines "prefix N,N".
std::string Terms(const std::string& prefix, int first, int last) {
  std::string out;
  for (int i = first; i <= last; ++i) out += prefix + " " + std::to_string(i) + "," + std::to_string(i) + "\n";
  return out;
}

TEST_P(RealFiles, AHostKeepsItsBestRankOfAnImportAndTheNextImportReplacesIt) {
  std::string list = "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev\n";
  for (const auto& [position, host] : std::vector<std::pair<int, std::string>>{{1, "com.facebook.www"},
                                                                               {3, "org.example"},
                                                                               {9, "org.example.www"},
                                                                               {4, "de.MÜNCHEN"},
                                                                               {27, "com.facebook"}})
    list += std::to_string(position) + "\t1.0\t" + std::to_string(position) + "\t0.1\t" + host + "\n";
  ASSERT_EQ(Import("hostranks", {{"a.txt", list}}), 0) << said_;
  EXPECT_TRUE(Said("2 ranked better by an earlier line")) << said_;
  for (const auto& [host, rank] : std::vector<std::pair<std::string, std::string>>{
           {"facebook.com", "1"}, {"example.org", "3"}, {"münchen.de", "4"}, {"MÜNCHEN.de", "4"}})
    EXPECT_EQ(Rank(host), rank) << host;
  ASSERT_EQ(Import("ranks", {{"b.csv", "rank,domain\n5,www.facebook.com\n"}}), 0) << said_;
  EXPECT_EQ(Rank("facebook.com"), "5");
}

TEST_P(RealFiles, TermsAreFoldedAndFoundByTheWordsOfATopic) {
  ASSERT_EQ(Import("keywords", {{"k.csv",
                                 "Éclair recipe,100\néclair RECIPE,150\nÜBER uns,50\nМОСКВА hotels,70\n"
                                 "Nestlé products,300\nqust al-hindi pulver,20\n\"\"\"hope\"\" movie\",40\n"
                                 "Jr. Smith (album),10\n"}}),
            0)
      << said_;
  const std::vector<std::pair<std::string, Rows>> cases = {
      {"éclair", {{"éclair recipe", "150"}}},
      {"über", {{"über uns", "50"}}},
      {"москва", {{"москва hotels", "70"}}},
      {"nestle", {{"nestlé products", "300"}}},
      {"qust al hindi", {{"qust al-hindi pulver", "20"}}},
      {"hope", {{"\"hope\" movie", "40"}}},
      {"jr smith album", {{"jr. smith (album)", "10"}}},
  };
  for (const auto& [topic, rows] : cases) EXPECT_EQ(Research(topic), rows) << topic;
}

TEST_P(RealFiles, ExportsInTheirLanguagesAndShapes) {
  // Search-console exports, impressions summed over the files of a run.
  ASSERT_EQ(Import("gsc", {{"fr.csv",
                            "Requêtes les plus fréquentes,Clics,Impressions,CTR,Position\n"
                            "chaussures rouges,3,120,2.5%,4.1\n"},
                           {"de.csv",
                            "Häufigste Suchanfragen,Klicks,Impressionen,CTR,Position\n"
                            "chaussures rouges,1,\"1.000\",\"0,1 %\",\"7,5\"\n"},
                           {"ja.csv", "上位のクエリ,クリック数,表示回数,CTR,掲載順位\nred shoes sale,0,7,0%,12\n"},
                           {"xx.csv",
                            "Zapytania,Klik,Pokazy,CTR,Poz\n\"multi\nline query\",1,50,1%,1\nred shoes,2,30,1%,3\n"}}),
            0)
      << said_;
  EXPECT_TRUE(Said("warning: header \"Zapytania,Klik,Pokazy,CTR,Poz\" not recognised: read by position")) << said_;
  EXPECT_EQ(Research("shoes"), (Rows{{"red shoes", "30"}, {"red shoes sale", "7"}}));
  EXPECT_EQ(Research("chaussures"), (Rows{{"chaussures rouges", "1120"}}));
  EXPECT_TRUE(Research("line query").empty());  // the line break in the query refuses it

  // Keyword exports: the planner's ranges and blanks, semicolons, other tools' columns.
  ASSERT_EQ(Import("keywords",
                   {{"planner.csv",
                     "Keyword Stats 2026-01-01\nKeyword\tCurrency\tAvg. monthly searches\n"
                     "wool socks\tUSD\t1K – 10K\nsilk socks\tUSD\t\ncotton socks\tUSD\t10 – 100\n"
                     "hemp socks\tUSD\t100 k – 1 M\n"},
                    {"europe.csv", "Keyword;Volume;CPC\nbamboo socks;1.200;0,35\n\"knee socks, long\";\"40\";1\n"},
                    {"tool.csv", "Keyword,Intent,Volume,Trend\nsocks for men,Commercial,2400,\"0.8,1.0\"\n"}}),
            0)
      << said_;
  EXPECT_TRUE(Said("3 volumes were ranges")) << said_;
  EXPECT_TRUE(Said("1 no search volume (blank)")) << said_;
  EXPECT_EQ(Research("socks"), (Rows{{"hemp socks", "316228"},
                                     {"wool socks", "3162"},
                                     {"socks for men", "2400"},
                                     {"bamboo socks", "1200"},
                                     {"knee socks, long", "40"},
                                     {"cotton socks", "32"}}));
}

TEST_P(RealFiles, DamagedCompressedFilesStoreNothingGarbled) {
  // Stored blocks: a changed byte of the member is a changed byte of its lines, which only
  // the check value at the member's end tells.
  std::string damaged = testing::Gzip(Terms("beta", 1, 3000), 0);
  for (const char* line : {"beta 2990,", "beta 2995,", "beta 2999,"}) damaged[damaged.rfind(line)] = 's';
  EXPECT_EQ(Import("keywords", {{"k.gz", testing::Gzip(Terms("alpha", 1, 5)) + damaged}}), 1);
  EXPECT_TRUE(Said("3,000 lines read from the damaged compressed member were not stored")) << said_;
  EXPECT_EQ(Research("alpha").size(), 5u);
  EXPECT_TRUE(Research("beta").empty());
  EXPECT_TRUE(Research("seta").empty());

  // Cut short: the lines before the cut are kept, the cut one is dropped and counted.
  std::string whole = testing::Gzip("gamma one,1\ngamma two,123456\n", 0);
  EXPECT_EQ(Import("keywords", {{"cut.gz", whole.substr(0, whole.find("123456") + 2)}}), 1);
  EXPECT_TRUE(Said("1 line cut short by the end of the file")) << said_;
  EXPECT_EQ(Research("gamma"), (Rows{{"gamma one", "1"}}));

  // Pages of a damaged member are undone with all the store learnt of them: stored again
  // from a sound file, they are new.
  std::string pages =
      testing::Gzip(Page("http://b.com/x", "delta page", "http://c.com/") + Page("http://c.com/y", "delta more"), 0);
  pages[pages.size() - 30] ^= 0x01;
  EXPECT_EQ(Import("pages", {{"p.gz", testing::Gzip(Page("http://a.com/", "delta")) + pages}}), 1);
  EXPECT_EQ(Count("delta"), 1);
  ASSERT_EQ(Import("pages", {{"again.jsonl", Page("http://b.com/x", "delta page", "http://c.com/")}}), 0) << said_;
  EXPECT_TRUE(Said("1 line: 1 imported (1 added")) << said_;
  EXPECT_EQ(store_->Reader()->CountLinks("c.com", Deadline::None()), 1);
}

TEST_P(RealFiles, EveryStoredTermComesBackAsTheSamePhrase) {
  ASSERT_EQ(
      Import("pages", {{"p.jsonl", Page("http://a.com/1", "zebra p dog") + Page("http://a.com/2", "a zebra") +
                                       Page("http://a.com/3", "the c tutorial") + Page("http://a.com/4", "c books") +
                                       Page("http://a.com/5", "100 juice and a 41b shoes") +
                                       Page("http://a.com/6", "b b deals, b deals")}}),
      0)
      << said_;
  ASSERT_EQ(
      Import("keywords",
             {{"k.csv", "zebra &p=dog,10\nc# tutorial,20\nc++ books,30\n100% juice,40\na%41b shoes,7\nb&b deals,9\n"}}),
      0)
      << said_;
  // The program's request for each term, built by its own code, counts the term's phrase.
  const std::vector<std::pair<std::string, std::string>> terms = {{"zebra", "zebra &p=dog"}, {"tutorial", "c tutorial"},
                                                                  {"books", "c++ books"},    {"juice", "100% juice"},
                                                                  {"shoes", "a 41b shoes"},  {"deals", "b&b deals"}};
  for (const auto& [topic, term] : terms) {
    Rows rows = Research(topic, 3);
    ASSERT_EQ(rows.size(), 1u) << topic;
    EXPECT_EQ(rows[0][0], term);
    EXPECT_EQ(rows[0][2], "1") << term;
    EXPECT_EQ(Count(term), 1) << term;
  }
}

}  // namespace
}  // namespace quillet::services
