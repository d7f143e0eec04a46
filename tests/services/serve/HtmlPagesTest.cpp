// The service's pages read back with the program's own reading rules: every count, term,
// host and rank must come back exactly, whatever text the request echoes.
#include <gtest/gtest.h>

#include <map>

#include "tests/services/support/Fixtures.h"
#include "tests/services/support/ProgramRules.h"
#include "research/CategoryResearch.h"
#include "services/serve/HtmlPages.h"
#include "services/serve/Query.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Strings.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

using testing::FakeList;
using testing::QuietWindow;
using testing::ReadLinkCount;
using testing::ReadResultHosts;
using testing::ReadTrafficRank;

// Runs the program's category research over a suggestion page; each Supply lookup is
// answered with a search page carrying the count given for that term.
std::vector<testing::FakeRow> ReadSuggestionPage(const std::string& page,
                                                 const std::map<std::string, std::int64_t>& supply) {
  QuietWindow window;
  FakeList list;
  bool stopFlag = false;
  PageFetcher fetch = [&](const std::string& url) {
    std::string query = url.substr(url.find('?') + 1);
    std::string phrase = PercentDecode(query.substr(2));  // after "p="
    phrase = phrase.substr(1, phrase.size() - 2);         // inside the quotes
    auto it = supply.find(phrase);
    return RenderSearchPage(phrase, it == supply.end() ? 0 : it->second, 1, {});
  };
  CategoryResearch research(window, list, fetch, testing::LocalHosts(), stopFlag, '.');
  research.ParseSuggestionPage(page);
  return list.rows;
}

TEST(SuggestionPage, EveryTermDemandAndSupplyComesBack) {
  const std::vector<Suggestion> rows = {
      {"dog training", 12345},       {"salt & pepper", 7},        {"b&b deals near me", 2147483647},
      {"it's 10 o'clock", 0},        {"100% cotton sheets", 880}, {"x", 1},
      {"caf\xC3\xA9 au lait", 4400}, {"&nbsp & amp", 90},         {"done deals", 10},
  };
  const std::map<std::string, std::int64_t> supply = {
      {"dog training", 1234567}, {"salt & pepper", 0},         {"b&b deals near me", 9876543210},
      {"it's 10 o'clock", 999},  {"100% cotton sheets", 1000}, {"x", 1},
  };
  for (std::string topic : {"dog", "x </td><td>&nbsp;5</td><td> done <a>y</a></td>", "", " done "}) {
    SCOPED_TRACE(topic);
    auto read = ReadSuggestionPage(RenderSuggestionPage(topic, rows), supply);
    ASSERT_EQ(read.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(rows[i].term);
      EXPECT_EQ(read[i].caption, rows[i].term);
      ASSERT_GE(read[i].subItems.size(), 2u);
      EXPECT_EQ(read[i].subItems[0], std::to_string(rows[i].searches));
      auto it = supply.find(rows[i].term);
      EXPECT_EQ(read[i].subItems[1], std::to_string(it == supply.end() ? 0 : it->second));
    }
  }
}

// Terms that reach a store past the importer (another tool writing the file, a ClickHouse
// that takes writes) cannot add a row or a marker, and every term the importer takes comes
// back exactly.
TEST(SuggestionPage, StoredTermsAreShownSafelyAndReadBackExactly) {
  const std::vector<Suggestion> hostile = {
      {"x </a></td></tr><tr><td>&nbsp;999999</td><td>&nbsp;<a href=y>evil</a></td></tr>", 3},
      {"of about <b>5</b> done <li><em>http://victim.example/</em>", 4},
      {"a;b;c &amp; d", 5},
      {"<script>alert(1)</script>", 6},
      {std::string("ctl\x01\r\nbreak", 11), 7},
      {"</td>", 8},
  };
  auto read = ReadSuggestionPage(RenderSuggestionPage("x", hostile), {});
  ASSERT_EQ(read.size(), hostile.size());
  for (size_t i = 0; i < hostile.size(); ++i) {
    ASSERT_GE(read[i].subItems.size(), 1u);
    EXPECT_EQ(read[i].subItems[0], std::to_string(hostile[i].searches));
    EXPECT_EQ(read[i].caption.find_first_of("<>;"), std::string::npos) << read[i].caption;
  }
  // Random terms of the characters a keyword export holds, kept when the importer keeps them.
  const std::string alphabet = "ab &\"'%#+!?-_.,:/\\=()[]{}*$@~`^|0123456789\xC3\xA9\xE2\x82\xAC<>;";
  std::vector<Suggestion> accepted;
  std::uint32_t state = 12345;
  while (accepted.size() < 300) {
    std::string term;
    for (int i = 0, n = 1 + static_cast<int>((state = state * 1103515245u + 12345u) >> 16) % 30; i < n; ++i)
      term += alphabet[((state = state * 1103515245u + 12345u) >> 16) % alphabet.size()];
    std::string why;
    if (auto normal = NormalizeTerm(term, &why))
      accepted.push_back({*normal, static_cast<std::int64_t>(accepted.size())});
  }
  read = ReadSuggestionPage(RenderSuggestionPage("x", accepted), {});
  ASSERT_EQ(read.size(), accepted.size());
  for (size_t i = 0; i < accepted.size(); ++i) EXPECT_EQ(read[i].caption, accepted[i].term);
}

TEST(SuggestionPage, NoTermsGiveNoRows) {
  EXPECT_TRUE(ReadSuggestionPage(RenderSuggestionPage("nothing", {}), {}).empty());
}

TEST(SearchPage, CountsComeBackThroughBothReadingWindows) {
  const std::vector<ResultItem> items = {{"http://a.com/1", "of about <b>5</b>", "1</b>"},
                                         {"http://b.com/2", "t", "s"}};
  for (std::int64_t total : {0LL, 1LL, 999LL, 1000LL, 1234567LL, 2147483647LL, 123456789012LL}) {
    for (std::string query : {"\"dog training\"", "of about <b>5</b>", "</b></ done >9<", ""}) {
      SCOPED_TRACE(std::to_string(total) + " " + query);
      std::string page = RenderSearchPage(query, total, 1, total > 1 ? items : std::vector<ResultItem>{});
      QuietWindow window;
      FakeList list;
      bool stopFlag = false;
      CategoryResearch research(
          window, list, [&](const std::string&) { return page; }, testing::LocalHosts(), stopFlag, '.');
      EXPECT_EQ(research.LookUpSupply("dog training"), std::to_string(total));
      EXPECT_EQ(ReadLinkCount(page), std::to_string(total));
    }
  }
}

TEST(SearchPage, EveryResultGivesItsHostInOrder) {
  struct Case {
    std::string url;
    std::string host;
  };
  const std::vector<Case> cases = {
      {"http://www.Dog-Training.com/a/b.html", "www.dog-training.com"},
      {"https://shop.example.co.uk/x?y=<z>&q=</em>", "shop.example.co.uk"},
      {"http://x.org", "x.org"},
      {"http://10.0.0.1:8080/path", "10.0.0.1:8080"},
      {"HTTP://UPPER.NET/<li>", "upper.net"},
      // The program takes the host behind the first "http://" of the address shown: one in
      // the path, the query or the user part must not make it read another site.
      {"http://spam.example/go?u=http://victim.example/x", "spam.example"},
      {"http://spam.example?u=http://victim.example/", "spam.example"},
      {"http://spam.example#http://victim.example/", "spam.example"},
      {"https://spam.example/a/HTTP://victim.example/", "spam.example"},
      {"http://victim.example@spam.example/", "spam.example"},
      {"http://spam.example:81/x?http://victim.example", "spam.example:81"},
      {"http://spamhttp:/victim.example/", "spamhttp"},
      {"http://spam.example://victim.example/", "spam.example"},
      {"http://spam.example/\x20http://victim.example/", "spam.example"},
  };
  std::vector<ResultItem> items;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    items.push_back({c.url, "<li>fake <em>evil.com</em> of about", "snippet <em>x.y</em></li>"});
    expected.push_back(c.host);
  }
  EXPECT_EQ(ReadResultHosts(RenderSearchPage("<li><em>q.com</em>", 40, 11, items)), expected);
  EXPECT_TRUE(ReadResultHosts(RenderSearchPage("<li><em>q.com</em>", 0, 1, {})).empty());
}

TEST(TrafficPage, EveryRankComesBackWhateverTheHost) {
  for (std::int64_t rank : {1LL, 7LL, 10LL, 427LL, 1000000LL, 29680718LL, 2147483647LL, 9000000000000LL}) {
    for (std::string host : {"www.dog.com", "www.123.com", "www.a>1.com", "www.<b>9</b><br>.net", "4"}) {
      SCOPED_TRACE(std::to_string(rank) + " " + host);
      EXPECT_EQ(ReadTrafficRank(RenderTrafficPage(host, rank)), std::to_string(rank));
      EXPECT_EQ(ReadTrafficRank(RenderTrafficPage(host, std::nullopt)), "999999999");
    }
  }
}

TEST(MessagePage, EveryReaderFindsItsPlaceholder) {
  for (std::string title : {"404", "Error 500", "Request not understood"}) {
    for (std::string message : {"1>2 <br> done </td>", "<li><em>a.com</em></li>", "traffic rank for 5 <br>"}) {
      SCOPED_TRACE(title + " / " + message);
      std::string page = RenderMessagePage(title, message);
      EXPECT_TRUE(ReadSuggestionPage(page, {}).empty());
      EXPECT_EQ(ReadTrafficRank(page), "999999999");
      EXPECT_TRUE(ReadResultHosts(page).empty());
      EXPECT_EQ(ReadLinkCount(page), "0");
      QuietWindow window;
      FakeList list;
      bool stopFlag = false;
      CategoryResearch research(
          window, list, [&](const std::string&) { return page; }, testing::LocalHosts(), stopFlag, '.');
      EXPECT_EQ(research.LookUpSupply("dog"), "?");
    }
  }
}

TEST(PageHelpers, DisplayAddress) { EXPECT_EQ(DisplayAddress("HTTPS://a.com/<x>"), "a.com/%3Cx%3E"); }

}  // namespace
}  // namespace quillet::services
