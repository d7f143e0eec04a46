// The real quillet-research against the real data service on its demo data: its rows are the
// ones the research core gives the program's lists for the same topics, its CSV stays valid
// when Ctrl-C ends it, and a service that does not answer gives exit code 1 and the
// placeholders the program shows.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "services/text/Utf8.h"

namespace quillet {
namespace {

using Table = std::vector<std::vector<std::string>>;
using namespace std::chrono_literals;

using test::ReadFile;

// The whole CSV the program should write: the header, then the rows, whose first
// textColumns columns are text and the others counts (CsvRecord has tests of its own).
std::string Csv(const std::vector<std::string>& header, const Table& rows, std::size_t textColumns = 1) {
  std::vector<cli::Column> kinds(header.size(), cli::Column::kCount);
  std::fill_n(kinds.begin(), std::min(textColumns, kinds.size()), cli::Column::kText);
  std::string text = cli::CsvRecord(header, ',', {});
  for (const auto& row : rows) text += cli::CsvRecord(row, ',', kinds);
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
    // Terms as a keyword export or a page title brings them: a spreadsheet would run most.
    std::ofstream(File("hostile.csv"), std::ios::binary)
        << "=1+2 quokka grooming,900\n+quokka grooming deals,800\n@quokka grooming,700\n"
           "=cmd|' /c calc'!a1 quokka grooming,600\n"
           "\"=hyperlink(\"\"http://evil.example/x\"\",\"\"quokka grooming\"\")\",500\n"
           "-quokka grooming tips,400\nquokka grooming,300\nquokka grooming - a how-to,200\n";
    test::ChildProcess import(QUILLET_SERVICES_EXE, {"import", "keywords", File("hostile.csv"), "--db", db},
                              {.output = File("import.out")});
    ASSERT_EQ(import.Wait(), 0) << ReadFile(File("import.out"));
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

  static Finished Research(const std::vector<std::string>& args, long long fileSizeLimit = 0) {
    test::ChildProcess cli(
        QUILLET_RESEARCH_EXE, args,
        {.fileSizeLimit = fileSizeLimit, .output = File("cli.out"), .error = File("cli.err"), .env = {"LC_ALL=C"}});
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
  EXPECT_EQ(text, "\xEF\xBB\xBF" + Csv(header, expected, 2));
  EXPECT_NE(text.find("\r\n\"\"\"dog training\"\"\",dog training,"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n\"dog training, tips\","), std::string::npos) << text;
}

TEST_F(ResearchProgram, AffiliateSearchesTheCategoriesOfAnIdeaListFile) {
  const std::vector<IdeaEntry> ideas{{"dog training", "1"},     {"dog, training", "2"}, {"", "3"},
                                     {"dog \"training\"", "4"}, {"DOG TRAINING", "5"},  {"\"cat care\"", "6"}};
  std::ofstream(File("ideas.qlc"), std::ios::binary) << IdeaListText(ideas);
  const Finished run =
      Research({"affiliate", "--ideas", File("ideas.qlc"), "--max", "2", "--skip", "1", "--service", address_});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  // As the category box lists them: empty ones and case-folded duplicates left out.
  Table expected;
  for (const char* term : {"dog training", "dog, training", "dog \"training\"", "\"cat care\""}) {
    const Table rows = AffiliateRows(term, 2, 1);
    EXPECT_EQ(rows.size(), 2u) << term;
    expected.insert(expected.end(), rows.begin(), rows.end());
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected[0][2], "2") << "ranks start behind the skipped result";
  EXPECT_EQ(run.output,
            Csv({"Category", "Website URL", "Rank #", "Estimated # of affiliates", "Alexa traffic rank"}, expected, 2));
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
  EXPECT_EQ(ReadFile(File("cut.out")), Csv(header, firstThree, 2))
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

// The rows of "quokka grooming" on the service: no page holds a term, so Supply is 0.
constexpr const char* kQuokkaCsv =
    "\"'=1+2 quokka grooming\",900,0,810000\r\n"
    "\"'+quokka grooming deals\",800,0,640000\r\n"
    "\"'@quokka grooming\",700,0,490000\r\n"
    "\"'=cmd|' /c calc'!a1 quokka grooming\",600,0,360000\r\n"
    "\"'=hyperlink(\"\"http://evil.example/x\"\",\"\"quokka grooming\"\")\",500,0,250000\r\n"
    "\"'-quokka grooming tips\",400,0,160000\r\n"
    "quokka grooming,300,0,90000\r\n"
    "quokka grooming - a how-to,200,0,40000\r\n";

TEST_F(ResearchProgram, TermsASpreadsheetWouldRunAreWrittenAsText) {
  const Finished excel = Research({"category", "quokka grooming", "--excel", "--service", address_});
  EXPECT_EQ(excel.exitCode, 0) << excel.errors;
  EXPECT_EQ(excel.output, std::string("\xEF\xBB\xBF"
                                      "Category,Demand,Supply,Profitability\r\n") +
                              kQuokkaCsv);

  // Topics are text too.
  const Finished topics = Research({"category", "=1+2 quokka grooming", "@quokka grooming", "--service", address_});
  EXPECT_EQ(topics.exitCode, 0) << topics.errors;
  for (const char* line : {"\r\n\"'=1+2 quokka grooming\",\"'=1+2 quokka grooming\",900,0,810000\r\n",
                           "\r\n\"'@quokka grooming\",\"'-quokka grooming tips\",400,0,160000\r\n",
                           "\r\n\"'@quokka grooming\",quokka grooming,300,0,90000\r\n"})
    EXPECT_NE(topics.output.find(line), std::string::npos) << line << " in\n" << topics.output;

  // JSON Lines are for programs: the texts as they are.
  const Finished json = Research({"category", "quokka grooming", "--json", "--service", address_});
  EXPECT_EQ(json.exitCode, 0) << json.errors;
  EXPECT_NE(json.output.find("{\"category\":\"=hyperlink(\\\"http://evil.example/x\\\",\\\"quokka grooming\\\")\","
                             "\"demand\":\"500\",\"supply\":\"0\",\"profitability\":\"250000\"}\n"),
            std::string::npos)
      << json.output;
}

// A hostile answer (a NUL, bytes that are no UTF-8, a formula for a count) and a topics
// file in ISO 8859-1 give a valid UTF-8 file.
TEST_F(ResearchProgram, BytesThatAreNoUtf8AreRepairedInCsv) {
  test::LoopbackServer relay([](const std::string& target) {
    if (target.rfind("/search", 0) == 0) return test::HttpResponse("200 OK", "of about <b>7</b>");
    std::string page = FetchPage(base_ + target);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"&nbsp;200<", std::string("&nbsp;2\0"
                                                                                                 "00<",
                                                                                                 11)},
                                   {">quokka grooming - a how-to<", ">quokka grooming \xE9\xFF<"},
                                   {"&nbsp;300<", "&nbsp;=HYPERLINK(\"http://evil.example/\")<"}}) {
      const std::size_t at = page.find(from);
      if (at != std::string::npos) page.replace(at, from.size(), to);
    }
    return test::HttpResponse("200 OK", page);
  });
  std::ofstream(File("latin1.txt"), std::ios::binary) << "quokka grooming \xE9\n";
  const Finished run = Research(
      {"category", "--topics", File("latin1.txt"), "x", "--service", "127.0.0.1:" + std::to_string(relay.Port())});
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(services::Utf8Problem(run.output), "");
  EXPECT_EQ(run.output.find('\0'), std::string::npos);
  for (const char* line : {"\r\nquokka grooming \xC3\xA9,quokka grooming \xC3\xA9\xC3\xBF,2\xEF\xBF\xBD"
                           "00,7,0\r\n",
                           "\r\nquokka grooming \xC3\xA9,quokka grooming,"
                           "\"'=hyperlink(\"\"http://evil.example/\"\")\",7,0\r\n"})
    EXPECT_NE(run.output.find(line), std::string::npos) << line << " in\n" << run.output;
}

// A write that fails (a full disk, a file-size limit) is said, ends the run with exit code 1
// and takes back a record written in part: the file ends with the last whole record.
TEST_F(ResearchProgram, AFullDiskLeavesWholeRecordsAndAMessage) {
  const std::vector<std::string> research{"category", "quokka grooming", "dog training", "--service", address_};
  const Finished whole = Research(research);
  ASSERT_EQ(whole.exitCode, 0) << whole.errors;
  ASSERT_GT(whole.output.size(), 400u);
  // The limit holds for standard error too, which must still take the message.
  const struct {
    long long limit;
    bool toFile;  // -o FILE, else standard output into a file
  } cases[] = {{100, false}, {120, true}, {static_cast<long long>(whole.output.size()) - 3, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    std::vector<std::string> args = research;
    if (c.toFile) args.insert(args.end(), {"-o", File("limited.csv")});
    const Finished cut = Research(args, c.limit);
    const std::string written = c.toFile ? ReadFile(File("limited.csv")) : cut.output;
    EXPECT_EQ(cut.exitCode, 1) << cut.errors;
    EXPECT_NE(cut.errors.find(" failed: File too large"), std::string::npos) << cut.errors;
    std::size_t fits = 0;  // the whole records within the limit
    for (std::size_t end;
         (end = whole.output.find("\r\n", fits)) != std::string::npos && end + 2 <= static_cast<std::size_t>(c.limit);)
      fits = end + 2;
    EXPECT_EQ(written, whole.output.substr(0, fits));
  }
  const Finished full = Research({"category", "quokka grooming", "-o", "/dev/full", "--service", address_});
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.errors.find("writing /dev/full failed: No space left on device"), std::string::npos) << full.errors;
}

// The data service stopped between two rows: the rows that had their count keep it, every
// later one shows Supply "?" and Profitability "?" (not Demand x Demand, which would put the
// rows nobody could count first when sorted), and the run says so with exit code 1.
TEST_F(ResearchProgram, AServiceStoppedBetweenTwoRowsLeavesTheRestUnknown) {
  const std::string second = "127.0.0.1:" + std::to_string(test::RefusingPort());
  auto service = std::make_unique<test::ChildProcess>(
      QUILLET_SERVICES_EXE, std::vector<std::string>{"serve", "--db", File("demo.db"), "--listen", second},
      test::ChildProcess::Options{.output = File("second.out")});
  const auto start = std::chrono::steady_clock::now();
  while (FetchPage("http://" + second + "/data/details/?url=www.example.com").empty() &&
         std::chrono::steady_clock::now() - start < 20s)
    std::this_thread::sleep_for(50ms);
  int searches = 0;
  test::LoopbackServer relay([&](const std::string& target) {
    if (target.rfind("/search", 0) == 0 && ++searches == 3) {
      kill(service->Pid(), SIGINT);
      service->Wait();
    }
    const std::string page = FetchPage("http://" + second + target);
    return page.empty() ? std::string() : test::HttpResponse("200 OK", page);
  });
  const Finished run = Research({"category", "dog training", "--service", "127.0.0.1:" + std::to_string(relay.Port())});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find("got no page from the data service"), std::string::npos) << run.errors;
  Table expected = CategoryRows("dog training", Fetch());
  ASSERT_GE(expected.size(), 4u);
  for (std::size_t i = 2; i < expected.size(); ++i) expected[i][2] = expected[i][3] = "?";
  EXPECT_EQ(run.output, Csv(kCategoryHeader, expected));
}

}  // namespace
}  // namespace quillet
