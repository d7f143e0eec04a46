// The real quillet-research against the real data service on its demo data: its rows are the
// ones the research core gives the program's lists for the same topics, its CSV stays valid
// when Ctrl-C ends it, and a service that does not answer gives exit code 1 and the
// placeholders the program shows.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "cli/Output.h"
#include "net/FetchPage.h"
#include "research/AffiliateSearch.h"
#include "research/CategoryResearch.h"
#include "research/IdeaList.h"
#include "tests/support/ChildProcess.h"
#include "tests/research/Fakes.h"
#include "tests/support/LoopbackServer.h"

namespace quillet {
namespace {

using Table = std::vector<std::vector<std::string>>;
using namespace std::chrono_literals;

using test::ReadFile;

// The whole CSV the program should write: the header, then the rows (CsvRecord has tests of
// its own).
std::string Csv(const std::vector<std::string>& header, const Table& rows) {
  std::string text = cli::CsvRecord(header, ',');
  for (const auto& row : rows) text += cli::CsvRecord(row, ',');
  return text;
}

const std::vector<std::string> kCategoryHeader{"Category", "Demand", "Supply", "Profitability"};

struct Finished {
  int exitCode;
  std::string output, errors;
};

PageFetcher Fetch() {
  return [](const std::string& url) { return FetchPage(url); };
}

class ResearchProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-cli-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    const std::string db = File("demo.db");
    test::ChildProcess demo(QUILLET_SERVICES_EXE, {"demo", "--db", db, "--pages", "3000", "--hosts", "100"},
                            {.output = File("demo.out"), .error = File("demo.err")});
    ASSERT_EQ(demo.Wait(), 0) << ReadFile(File("demo.err"));
    address_ = "127.0.0.1:" + std::to_string(test::RefusingPort());
    base_ = "http://" + address_;
    service_ = std::make_unique<test::ChildProcess>(
        QUILLET_SERVICES_EXE, std::vector<std::string>{"serve", "--db", db, "--listen", address_},
        test::ChildProcess::Options{.output = File("serve.out"), .error = File("serve.err")});
    const auto start = std::chrono::steady_clock::now();
    while (FetchPage(base_ + "/data/details/?url=www.example.com").empty() &&
           std::chrono::steady_clock::now() - start < 20s)
      std::this_thread::sleep_for(50ms);
  }
  static void TearDownTestSuite() {
    service_.reset();
    std::filesystem::remove_all(dir_);
  }

  static std::string File(const std::string& name) { return (dir_ / name).string(); }

  static Finished Research(const std::vector<std::string>& args) {
    test::ChildProcess cli(QUILLET_RESEARCH_EXE, args,
                           {.output = File("cli.out"), .error = File("cli.err"), .env = {"LC_ALL=C"}});
    const int exitCode = cli.Wait();
    return {exitCode, ReadFile(File("cli.out")), ReadFile(File("cli.err"))};
  }

  // What the research core puts into the program's lists, with a topic column when given one.
  static Table CategoryRows(const std::string& topic, const PageFetcher& fetch, const char* column = nullptr) {
    test::FakeWindow window;
    test::FakeList list;
    bool stop = false;
    CategoryResearch(window, list, fetch, {base_, base_, base_}, stop, '.').ResearchCategory(topic);
    return WithTopic(column, list.Table());
  }
  static Table AffiliateRows(const std::string& term, std::int32_t n, std::int32_t s) {
    test::FakeWindow window;
    test::FakeList list;
    bool stop = false;
    AffiliateSearch(window, list, Fetch(), {base_, base_, base_}, stop).SearchAffiliatePrograms(term, n, s);
    return WithTopic(term.c_str(), list.Table());
  }
  static Table WithTopic(const char* topic, Table rows) {
    if (topic)
      for (auto& row : rows) row.insert(row.begin(), topic);
    return rows;
  }

  inline static std::filesystem::path dir_;
  inline static std::string address_, base_;
  inline static std::unique_ptr<test::ChildProcess> service_;
};

TEST_F(ResearchProgram, OneTopicGivesExactlyTheCoresRows) {
  const Table core = CategoryRows("dog training", Fetch());
  ASSERT_GE(core.size(), 10u);
  const Finished run = Research({"category", "dog training", "--service", address_});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.output, Csv(kCategoryHeader, core));
}

TEST_F(ResearchProgram, SeveralTopicsFromArgumentsAndAFileGetATopicColumn) {
  // The service matches a topic by its words, punctuation aside; the last topic is in no term.
  std::ofstream(File("topics.txt"), std::ios::binary) << "\xEF\xBB\xBF"
                                                         "cat care\r\n\r\n  bed & breakfast \t\ndog training, tips\n"
                                                         "zqxv plover\n";
  const std::string quoted = "\"dog training\"";
  const Finished run = Research(
      {"category", quoted, "--topics", File("topics.txt"), "--excel", "-o", File("rows.csv"), "--service=" + address_});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.output, "");
  Table expected;
  for (const std::string& topic : {quoted, std::string("cat care"), std::string("bed & breakfast"),
                                   std::string("dog training, tips"), std::string("zqxv plover")}) {
    const Table rows = CategoryRows(topic, Fetch(), topic.c_str());
    EXPECT_EQ(rows.empty(), topic == "zqxv plover") << topic;
    expected.insert(expected.end(), rows.begin(), rows.end());
  }
  std::vector<std::string> header = kCategoryHeader;
  header.insert(header.begin(), "Topic");
  const std::string text = ReadFile(File("rows.csv"));
  EXPECT_EQ(text, "\xEF\xBB\xBF" + Csv(header, expected));
  EXPECT_NE(text.find("\r\n\"\"\"dog training\"\"\",dog training,"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n\"dog training, tips\","), std::string::npos) << text;
}

TEST_F(ResearchProgram, AffiliateSearchesTheCategoriesOfAnIdeaListFile) {
  const std::vector<IdeaEntry> ideas{{"dog training", "1"},     {"dog, training", "2"}, {"", "3"},
                                     {"dog \"training\"", "4"}, {"DOG TRAINING", "5"},  {"\"cat care\"", "6"}};
  std::ofstream(File("ideas.qlc"), std::ios::binary) << IdeaListText(ideas);
  const Finished run =
      Research({"affiliate", "--ideas", File("ideas.qlc"), "--max", "3", "--skip", "1", "--service", address_});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  // As the category box lists them: empty ones and case-folded duplicates left out.
  Table expected;
  for (const char* term : {"dog training", "dog, training", "dog \"training\"", "\"cat care\""}) {
    const Table rows = AffiliateRows(term, 3, 1);
    EXPECT_EQ(rows.size(), 3u) << term;
    expected.insert(expected.end(), rows.begin(), rows.end());
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected[0][2], "2") << "ranks start behind the skipped result";
  EXPECT_EQ(run.output,
            Csv({"Category", "Website URL", "Rank #", "Estimated # of affiliates", "Alexa traffic rank"}, expected));
}

TEST_F(ResearchProgram, CtrlCEndsAfterTheRowInProgressAndLeavesValidCsv) {
  // A relay in front of the service holds the third Supply request until the signal is in.
  std::promise<void> held, released;
  std::shared_future<void> release = released.get_future().share();
  int searches = 0;
  test::LoopbackServer relay([&](const std::string& target) {
    if (target.rfind("/search", 0) == 0 && ++searches == 3) {
      held.set_value();
      release.wait_for(30s);
    }
    return test::HttpResponse("200 OK", FetchPage(base_ + target));
  });
  test::ChildProcess cli(
      QUILLET_RESEARCH_EXE,
      {"category", "dog training", "cat care", "--service", "127.0.0.1:" + std::to_string(relay.Port())},
      {.output = File("cut.out"), .error = File("cut.err"), .env = {"LC_ALL=C"}});
  ASSERT_EQ(held.get_future().wait_for(30s), std::future_status::ready);
  ASSERT_EQ(kill(cli.Pid(), SIGINT), 0);
  // Released once the signal has been taken, so that the row in progress is the one it ends.
  const auto start = std::chrono::steady_clock::now();
  for (std::string status; std::chrono::steady_clock::now() - start < 10s; std::this_thread::sleep_for(5ms)) {
    status = ReadFile("/proc/" + std::to_string(cli.Pid()) + "/status");
    const std::size_t at = status.find("ShdPnd:");
    if (at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) & (1u << (SIGINT - 1))) == 0) break;
  }
  released.set_value();
  EXPECT_EQ(cli.Wait(), 130) << ReadFile(File("cut.err"));

  Table firstThree = CategoryRows("dog training", Fetch(), "dog training");
  firstThree.resize(3);
  std::vector<std::string> header = kCategoryHeader;
  header.insert(header.begin(), "Topic");
  EXPECT_EQ(ReadFile(File("cut.out")), Csv(header, firstThree))
      << "whole records only: three rows, the third with its real Supply, and no second topic";
}

TEST_F(ResearchProgram, AServiceThatDoesNotAnswerGivesExitCode1AndThePlaceholders) {
  const Finished refused =
      Research({"category", "dog training", "--service", "127.0.0.1:" + std::to_string(test::RefusingPort())});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.output, "Category,Demand,Supply,Profitability\r\n");
  EXPECT_NE(refused.errors.find("dog training: 1 of 1 requests got no page"), std::string::npos) << refused.errors;

  // The service goes away once the suggestion page has come: every Supply is missing.
  test::LoopbackServer relay([](const std::string& target) {
    return target.rfind("/search", 0) == 0 ? std::string() : test::HttpResponse("200 OK", FetchPage(base_ + target));
  });
  const Finished gone =
      Research({"category", "dog training", "--service", "127.0.0.1:" + std::to_string(relay.Port())});
  EXPECT_EQ(gone.exitCode, 1);
  const Table placeholders = CategoryRows("dog training", [](const std::string& url) {
    return url.find("/search?") != std::string::npos ? std::string() : FetchPage(url);
  });
  ASSERT_FALSE(placeholders.empty());
  EXPECT_EQ(placeholders[0][2], "?");
  EXPECT_EQ(gone.output, Csv(kCategoryHeader, placeholders));
}

}  // namespace
}  // namespace quillet
