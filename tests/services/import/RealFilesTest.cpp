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
  int Import(std::string_view kind, const std::vector<std::pair<std::string, std::string>>& files,
             const ImportSettings& settings = {}) {
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) paths.push_back(dir_.Write(name, bytes));
    RunConsole console;
    console.said = [this](const std::string& line) { said_ += line + "\n"; };
    console.failed = [this](const std::string& line) { said_ += line + "\n"; };
    return RunImport(
        *FindImporter(kind), paths, settings, [this] { return store_->Writer(); }, console);
  }
  // A category research of the topic: term, Demand, Supply, Profitability per row.
  Rows Research(const std::string& topic) {
    auto reader = store_->Reader();
    Service service(*reader);
    return testing::ResearchRows(service, topic);
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

std::string HostRanks(const std::vector<std::pair<int, std::string>>& lines) {
  std::string out = "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev\n";
  for (const auto& [position, reversed] : lines)
    out += std::to_string(position) + "\t1.0\t" + std::to_string(position) + "\t0.1\t" + reversed + "\n";
  return out;
}

TEST_P(RealFiles, AHostKeepsItsBestRankOfAnImportAndTheNextImportReplacesIt) {
  ASSERT_EQ(Import("hostranks", {{"a.txt", HostRanks({{1, "com.facebook.www"},
                                                      {3, "org.example"},
                                                      {9, "org.example.www"},
                                                      {4, "de.M\xC3\x9CNCHEN"},
                                                      {27, "com.facebook"}})}}),
            0)
      << said_;
  EXPECT_NE(said_.find("2 ranked better by an earlier line"), std::string::npos) << said_;
  for (const auto& [host, rank] : std::vector<std::pair<std::string, std::string>>{
           {"facebook.com", "1"}, {"example.org", "3"}, {"m\xC3\xBCnchen.de", "4"}, {"M\xC3\x9CNCHEN.de", "4"}})
    EXPECT_EQ(Rank(host), rank) << host;
  ASSERT_EQ(Import("ranks", {{"b.csv", "rank,domain\n5,www.facebook.com\n"}}), 0) << said_;
  EXPECT_EQ(Rank("facebook.com"), "5");
}

TEST_P(RealFiles, TermsAreFoldedAndFoundByTheWordsOfATopic) {
  ASSERT_EQ(Import("keywords", {{"k.csv",
                                 "\xC3\x89"
                                 "clair recipe,100\n\xC3\xA9"
                                 "clair RECIPE,150\n\xC3\x9C"
                                 "BER uns,50\n"
                                 "\xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90 hotels,70\n"
                                 "Nestl\xC3\xA9 products,300\nqust al-hindi pulver,20\n\"\"\"hope\"\" movie\",40\n"
                                 "Jr. Smith (album),10\n"}}),
            0)
      << said_;
  struct Case {
    std::string topic;
    Rows terms;  // term and Demand
  };
  const std::vector<Case> cases = {
      {"\xC3\xA9"
       "clair",
       {{"\xC3\xA9"
         "clair recipe",
         "150"}}},
      {"\xC3\xBC"
       "ber",
       {{"\xC3\xBC"
         "ber uns",
         "50"}}},
      {"\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0",
       {{"\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 hotels", "70"}}},
      {"nestle", {{"nestl\xC3\xA9 products", "300"}}},
      {"qust al hindi", {{"qust al-hindi pulver", "20"}}},
      {"hope", {{"\"hope\" movie", "40"}}},
      {"jr smith album", {{"jr. smith (album)", "10"}}},
  };
  for (const Case& c : cases) {
    Rows rows = Research(c.topic);
    for (auto& row : rows) row.resize(2);
    EXPECT_EQ(rows, c.terms) << c.topic;
  }
}

TEST_P(RealFiles, ExportsInTheirLanguagesAndShapes) {
  // Search-console exports: impressions summed over the files of a run.
  ASSERT_EQ(
      Import("gsc",
             {{"fr.csv",
               "Requ\xC3\xAAtes les plus fr\xC3\xA9quentes,Clics,Impressions,CTR,Position\n"
               "chaussures rouges,3,120,2.5%,4.1\n"},
              {"de.csv",
               "H\xC3\xA4ufigste Suchanfragen,Klicks,Impressionen,CTR,Position\n"
               "chaussures rouges,1,\"1.000\",\"0,1 %\",\"7,5\"\n"},
              {"ja.csv",
               "\xE4\xB8\x8A\xE4\xBD\x8D\xE3\x81\xAE\xE3\x82\xAF\xE3\x82\xA8\xE3\x83\xAA,"
               "\xE3\x82\xAF\xE3\x83\xAA\xE3\x83\x83\xE3\x82\xAF\xE6\x95\xB0,"
               "\xE8\xA1\xA8\xE7\xA4\xBA\xE5\x9B\x9E\xE6\x95\xB0,CTR,\xE6\x8E\xB2\xE8\xBC\x89\xE9\xA0\x86\xE4\xBD\x8D\n"
               "red shoes sale,0,7,0%,12\n"},
              {"xx.csv", "Zapytania,Klik,Pokazy,CTR,Poz\n\"multi\nline query\",1,50,1%,1\nred shoes,2,30,1%,3\n"}}),
      0)
      << said_;
  EXPECT_NE(said_.find("warning: header \"Zapytania,Klik,Pokazy,CTR,Poz\" not recognised: read by position"),
            std::string::npos)
      << said_;
  Rows shoes = Research("shoes");
  for (auto& row : shoes) row.resize(2);
  EXPECT_EQ(shoes, (Rows{{"red shoes", "30"}, {"red shoes sale", "7"}}));
  EXPECT_EQ(Research("chaussures").at(0).at(1), "1120");
  EXPECT_TRUE(Research("line query").empty());  // the line break in the query refuses it

  // Keyword exports: the planner's ranges and blanks, semicolons, other tools' columns.
  ASSERT_EQ(Import("keywords",
                   {{"planner.csv",
                     "Keyword Stats 2026-01-01\nKeyword\tCurrency\tAvg. monthly searches\n"
                     "wool socks\tUSD\t1K \xE2\x80\x93 10K\nsilk socks\tUSD\t\n"
                     "cotton socks\tUSD\t10 \xE2\x80\x93 100\nhemp socks\tUSD\t100 k \xE2\x80\x93 1 M\n"},
                    {"europe.csv", "Keyword;Volume;CPC\nbamboo socks;1.200;0,35\n\"knee socks, long\";\"40\";1\n"},
                    {"tool.csv", "Keyword,Intent,Volume,Trend\nsocks for men,Commercial,2400,\"0.8,1.0\"\n"}}),
            0)
      << said_;
  EXPECT_NE(said_.find("3 volumes were ranges"), std::string::npos) << said_;
  EXPECT_NE(said_.find("1 no search volume (blank)"), std::string::npos) << said_;
  Rows socks = Research("socks");
  for (auto& row : socks) row.resize(2);
  EXPECT_EQ(socks, (Rows{{"hemp socks", "316228"},
                         {"wool socks", "3162"},
                         {"socks for men", "2400"},
                         {"bamboo socks", "1200"},
                         {"knee socks, long", "40"},
                         {"cotton socks", "32"}}));
}

// Keyword lines "termN,N" from first to last.
std::string Terms(const std::string& prefix, int first, int last) {
  std::string out;
  for (int i = first; i <= last; ++i) out += prefix + " " + std::to_string(i) + "," + std::to_string(i) + "\n";
  return out;
}

TEST_P(RealFiles, DamagedCompressedFilesStoreNothingGarbled) {
  // Stored blocks: a flipped byte of the member is a flipped byte of its lines, which only
  // the check value at the member's end tells.
  std::string damaged = testing::Gzip(Terms("beta", 1, 3000), 0);
  for (const char* line : {"beta 2990,", "beta 2995,", "beta 2999,"}) damaged[damaged.rfind(line)] = 's';
  EXPECT_EQ(Import("keywords", {{"k.gz", testing::Gzip(Terms("alpha", 1, 5)) + damaged}}), 1);
  EXPECT_NE(said_.find("3,000 lines read from the damaged compressed member were not stored"), std::string::npos)
      << said_;
  EXPECT_EQ(Research("alpha").size(), 5u);
  EXPECT_TRUE(Research("beta").empty());
  EXPECT_TRUE(Research("seta").empty());

  // Cut short: the lines before the cut are kept, the cut one is dropped and counted.
  std::string whole = testing::Gzip("gamma one,1\ngamma two,123456\n", 0);
  std::string cut = whole.substr(0, whole.find("123456") + 2);
  EXPECT_EQ(Import("keywords", {{"cut.gz", cut}}), 1);
  EXPECT_NE(said_.find("1 line cut short by the end of the file"), std::string::npos) << said_;
  Rows gamma = Research("gamma");
  ASSERT_EQ(gamma.size(), 1u);
  EXPECT_EQ(gamma[0][0], "gamma one");

  // Pages of a damaged member are undone with all the store learnt of them: stored again
  // from a sound file, they are new.
  const std::string pageB = R"({"url":"http://b.com/x","text":"delta page","links":["http://c.com/"]})"
                            "\n";
  std::string pages = testing::Gzip(pageB + R"({"url":"http://c.com/y","text":"delta more"})"
                                            "\n",
                                    0);
  pages[pages.size() - 30] ^= 0x01;
  EXPECT_EQ(Import("pages", {{"p.gz", testing::Gzip(R"({"url":"http://a.com/","text":"delta"})"
                                                    "\n") +
                                          pages}}),
            1);
  EXPECT_EQ(Count("delta"), 1);
  ASSERT_EQ(Import("pages", {{"again.jsonl", pageB}}), 0) << said_;
  EXPECT_NE(said_.find("1 lines: 1 imported (1 added"), std::string::npos) << said_;
  EXPECT_EQ(Count("delta page"), 1);
  auto reader = store_->Reader();
  EXPECT_EQ(reader->CountLinks("c.com", Deadline::None()), 1);
}

TEST_P(RealFiles, EveryStoredTermComesBackAsTheSamePhrase) {
  ASSERT_EQ(Import("pages", {{"p.jsonl", R"({"url":"http://a.com/1","text":"zebra p dog"})"
                                         "\n"
                                         R"({"url":"http://a.com/2","text":"a zebra"})"
                                         "\n"
                                         R"({"url":"http://a.com/3","text":"the c tutorial"})"
                                         "\n"
                                         R"({"url":"http://a.com/4","text":"c books"})"
                                         "\n"
                                         R"({"url":"http://a.com/5","text":"100 juice and a 41b shoes"})"
                                         "\n"
                                         R"({"url":"http://a.com/6","text":"b b deals, b deals"})"
                                         "\n"}}),
            0)
      << said_;
  ASSERT_EQ(Import("keywords", {{"k.csv",
                                 "zebra &p=dog,10\nc# tutorial,20\nc++ books,30\n100% juice,40\n"
                                 "a%41b shoes,7\nb&b deals,9\n"}}),
            0)
      << said_;
  // The program's request for each term, built by its own code, counts the term's phrase.
  for (std::string topic : {"zebra", "tutorial", "books", "juice", "shoes", "deals"}) {
    Rows rows = Research(topic);
    ASSERT_EQ(rows.size(), 1u) << topic;
    EXPECT_EQ(rows[0][2], "1") << topic << ": " << rows[0][0];
    EXPECT_EQ(Count(rows[0][0]), 1) << rows[0][0];
  }
  EXPECT_EQ(Research("tutorial")[0][0], "c tutorial");
  EXPECT_EQ(Research("shoes")[0][0], "a 41b shoes");
}

}  // namespace
}  // namespace quillet::services
