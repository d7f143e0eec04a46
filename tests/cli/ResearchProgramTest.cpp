// The real quillet-research against the real data service on its demo data: its rows are the
// ones the research core gives the program's lists for the same topics, its CSV stays valid
// when Ctrl-C ends it, and a service that does not answer gives exit code 1 and the
// placeholders the program shows.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "net/FetchPage.h"
#include "research/AffiliateSearch.h"
#include "research/CategoryResearch.h"
#include "research/IdeaList.h"
#include "tests/cli/ChildProgram.h"
#include "tests/research/Fakes.h"
#include "tests/support/LoopbackServer.h"

namespace quillet {
namespace {

using Table = std::vector<std::vector<std::string>>;
using namespace std::chrono_literals;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// RFC 4180 as written: CR LF after every record, quoted fields with doubled quotes, as many
// fields in each record as in the header. Empty for anything else, a cut-off record too.
Table ParseCsv(const std::string& text) {
  Table records{{}};
  std::string field;
  bool inQuotes = false, wasQuoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inQuotes) {
      if (c != '"') field += c;
      else if (i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
      else inQuotes = false;
    } else if (c == '"' && field.empty() && !wasQuoted) {
      inQuotes = wasQuoted = true;
    } else if (c == ',' || text.compare(i, 2, "\r\n") == 0) {
      records.back().push_back(std::move(field));
      field.clear();
      wasQuoted = false;
      if (c == ',') continue;
      ++i;
      if (records.back().size() != records.front().size()) return {};
      records.emplace_back();
    } else if (c == '"' || c == '\r' || c == '\n' || wasQuoted) {
      return {};
    } else {
      field += c;
    }
  }
  if (inQuotes || !field.empty() || wasQuoted || !records.back().empty() || records.size() < 2) return {};
  records.pop_back();
  return records;
}

struct Finished {
  int exitCode;
  std::string output, errors;
};

class ResearchProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-cli-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    const std::string db = (dir_ / "demo.db").string();
    test::ChildProgram demo(QUILLET_SERVICES_EXE, {"demo", "--db", db, "--pages", "3000", "--hosts", "100"},
                            File("demo.out"), File("demo.err"));
    ASSERT_EQ(demo.Wait(), 0) << ReadFile(dir_ / "demo.err");
    port_ = test::RefusingPort();
    base_ = "http://127.0.0.1:" + std::to_string(port_);
    service_ = new test::ChildProgram(QUILLET_SERVICES_EXE,
                                      {"serve", "--db", db, "--listen", "127.0.0.1:" + std::to_string(port_)},
                                      File("serve.out"), File("serve.err"));
    const auto start = std::chrono::steady_clock::now();
    while (FetchPage(base_ + "/data/details/?url=www.example.com").empty() &&
           std::chrono::steady_clock::now() - start < 20s)
      std::this_thread::sleep_for(50ms);
  }
  static void TearDownTestSuite() {
    delete service_;
    std::filesystem::remove_all(dir_);
  }

  static std::string File(const std::string& name) { return (dir_ / name).string(); }

  static Finished Research(const std::vector<std::string>& args) {
    test::ChildProgram cli(QUILLET_RESEARCH_EXE, args, File("cli.out"), File("cli.err"), {"LC_ALL=C"});
    const int exitCode = cli.Wait();
    return {exitCode, ReadFile(dir_ / "cli.out"), ReadFile(dir_ / "cli.err")};
  }

  // What the research core puts into the program's list for the topic.
  static Table CategoryRows(const std::string& topic, const PageFetcher& fetch) {
    test::FakeWindow window;
    test::FakeList list;
    bool stop = false;
    CategoryResearch(window, list, fetch, {base_, base_, base_}, stop, '.').ResearchCategory(topic);
    return list.Table();
  }
  static Table AffiliateRows(const std::string& term, std::int32_t n, std::int32_t s) {
    test::FakeWindow window;
    test::FakeList list;
    bool stop = false;
    AffiliateSearch(
        window, list, [](const std::string& url) { return FetchPage(url); }, {base_, base_, base_}, stop)
        .SearchAffiliatePrograms(term, n, s);
    return list.Table();
  }
  static PageFetcher Fetch() {
    return [](const std::string& url) { return FetchPage(url); };
  }

  static Table WithTopic(const std::string& topic, Table rows) {
    for (auto& row : rows) row.insert(row.begin(), topic);
    return rows;
  }

  static std::filesystem::path dir_;
  static std::uint16_t port_;
  static std::string base_;
  static test::ChildProgram* service_;
};

std::filesystem::path ResearchProgram::dir_;
std::uint16_t ResearchProgram::port_ = 0;
std::string ResearchProgram::base_;
test::ChildProgram* ResearchProgram::service_ = nullptr;

TEST_F(ResearchProgram, OneTopicGivesExactlyTheCoresRows) {
  const Table core = CategoryRows("dog training", Fetch());
  ASSERT_GE(core.size(), 10u);
  const Finished run = Research({"category", "dog training", "--service", "127.0.0.1:" + std::to_string(port_)});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  Table csv = ParseCsv(run.output);
  ASSERT_FALSE(csv.empty()) << run.output;
  EXPECT_EQ(csv.front(), (std::vector<std::string>{"Category", "Demand", "Supply", "Profitability"}));
  csv.erase(csv.begin());
  EXPECT_EQ(csv, core);
}

TEST_F(ResearchProgram, SeveralTopicsFromArgumentsAndAFileGetATopicColumn) {
  // The suggestion service finds nothing for a topic with a comma.
  std::ofstream(File("topics.txt"), std::ios::binary) << "\xEF\xBB\xBF"
                                                         "cat care\r\n\r\n  bed & breakfast \t\ndog training, tips\n";
  const std::string topicWithQuotes = "\"dog training\"";
  const Finished run = Research({"category", topicWithQuotes, "--topics", File("topics.txt"), "--excel", "-o",
                                 File("rows.csv"), "--service=127.0.0.1:" + std::to_string(port_)});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.output, "");
  const std::string text = ReadFile(dir_ / "rows.csv");
  ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0) << "--excel starts with a byte order mark";
  Table csv = ParseCsv(text.substr(3));
  ASSERT_FALSE(csv.empty()) << text;
  EXPECT_EQ(csv.front(), (std::vector<std::string>{"Topic", "Category", "Demand", "Supply", "Profitability"}));
  csv.erase(csv.begin());
  Table expected;
  for (const std::string& topic :
       {topicWithQuotes, std::string("cat care"), std::string("bed & breakfast"), std::string("dog training, tips")}) {
    const Table rows = WithTopic(topic, CategoryRows(topic, Fetch()));
    EXPECT_EQ(rows.empty(), topic == "dog training, tips") << topic;
    expected.insert(expected.end(), rows.begin(), rows.end());
  }
  EXPECT_EQ(csv, expected);
  EXPECT_NE(text.find("\r\n\"\"\"dog training\"\"\",dog training,"), std::string::npos) << text;
}

TEST_F(ResearchProgram, AffiliateSearchesTheCategoriesOfAnIdeaListFile) {
  const std::vector<IdeaEntry> ideas{{"dog training", "1"},     {"dog, training", "2"}, {"", "3"},
                                     {"dog \"training\"", "4"}, {"DOG TRAINING", "5"},  {"\"cat care\"", "6"}};
  std::ofstream(File("ideas.qlc"), std::ios::binary) << IdeaListText(ideas);
  const Finished run = Research({"affiliate", "--ideas", File("ideas.qlc"), "--max", "3", "--skip", "1", "--service",
                                 "127.0.0.1:" + std::to_string(port_)});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  Table csv = ParseCsv(run.output);
  ASSERT_FALSE(csv.empty()) << run.output;
  EXPECT_EQ(csv.front(), (std::vector<std::string>{"Category", "Website URL", "Rank #", "Estimated # of affiliates",
                                                   "Alexa traffic rank"}));
  csv.erase(csv.begin());
  // As the category box lists them: empty ones and case-folded duplicates left out.
  Table expected;
  for (const char* term : {"dog training", "dog, training", "dog \"training\"", "\"cat care\""}) {
    const Table rows = WithTopic(term, AffiliateRows(term, 3, 1));
    EXPECT_EQ(rows.size(), 3u) << term;
    expected.insert(expected.end(), rows.begin(), rows.end());
  }
  EXPECT_EQ(csv, expected);
  ASSERT_FALSE(csv.empty());
  EXPECT_EQ(csv[0][2], "2") << "ranks start behind the skipped result";
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
  test::ChildProgram cli(
      QUILLET_RESEARCH_EXE,
      {"category", "dog training", "cat care", "--service", "127.0.0.1:" + std::to_string(relay.Port())},
      File("cut.out"), File("cut.err"), {"LC_ALL=C"});
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
  EXPECT_EQ(cli.Wait(), 130) << ReadFile(dir_ / "cut.err");

  Table csv = ParseCsv(ReadFile(dir_ / "cut.out"));
  ASSERT_FALSE(csv.empty()) << ReadFile(dir_ / "cut.out");
  csv.erase(csv.begin());
  Table firstThree = WithTopic("dog training", CategoryRows("dog training", Fetch()));
  firstThree.resize(3);
  EXPECT_EQ(csv, firstThree) << "three rows, the third complete with its real Supply, and no second topic";
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
  Table csv = ParseCsv(gone.output);
  ASSERT_FALSE(csv.empty()) << gone.output;
  csv.erase(csv.begin());
  const Table placeholders = CategoryRows("dog training", [](const std::string& url) {
    return url.find("/search?") != std::string::npos ? std::string() : FetchPage(url);
  });
  ASSERT_FALSE(placeholders.empty());
  EXPECT_EQ(placeholders[0][2], "?");
  EXPECT_EQ(csv, placeholders);
}

}  // namespace
}  // namespace quillet
