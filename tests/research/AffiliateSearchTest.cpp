#include "research/AffiliateSearch.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "research/RunSequencer.h"
#include "tests/research/Fakes.h"

namespace quillet {
namespace {

using test::FakeList;
using test::FakeWeb;
using test::FakeWindow;
using Table = std::vector<std::vector<std::string>>;
using Urls = std::vector<std::string>;

const ServiceHosts kHosts{"http://suggest.test", "http://search.test", "http://traffic.test"};

std::string ResultsUrl(const std::string& category, int n, int b) {
  return kHosts.search + "/search?p=%22" + category + "%22&ei=UTF-8&n=" + std::to_string(n) + "&b=" + std::to_string(b);
}
std::string LinkUrl(const std::string& encodedSite) {
  return kHosts.search + "/search?p=link%3Ahttp%3A%2F%2F" + encodedSite;
}
std::string TrafficUrl(const std::string& host) { return kHosts.traffic + "/data/details/?url=www." + host; }

// One result item as the search engine lays it out: title link, abstract, display address.
std::string Item(const std::string& address) {
  return "<li><div><a class=yschttl href=\"http://r.test/x\">Some <b>Title</b></a></div>"
         "<div class=abstr>An abstract.</div><em class=yschurl>" +
         address + "</em></li>\n";
}
// A results page: a navigation list before the count (its items are not results), then items.
std::string ResultsPage(const std::string& items) {
  return "<html><ul><li><a href=/images>Images</a></li></ul><p>Results 6 - 9 of about <b>1,200</b> for "
         "Dog Training</p><ol>" +
         items + "</ol></html>";
}
std::string LinkPage(const std::string& count) {
  return "<p>Results 1 - 10 of about <B>" + count + "</B> for link:x</p>";
}
std::string TrafficPage(const std::string& host, const std::string& figure) {
  return "<html><B>Traffic Rank for " + host + ":</B> " + figure + "<br>Reach</html>";
}

struct Session {
  FakeWindow window;
  FakeList list;
  FakeWeb web;
  bool stop2Flag = true;
  AffiliateSearch search{window, list, web.Fetcher(), kHosts, stop2Flag};
};

TEST(ExtractHost, CutsSchemeAndPath) {
  const struct {
    const char* address;
    const char* host;
    const char* withoutWww;
  } cases[] = {
      {"HTTP://WWW.Dog-Training.COM/Path/Index.HTML", "www.dog-training.com", "dog-training.com"},
      {"www.dogs.com", "www.dogs.com", "dogs.com"},
      {"dogs.com/a/b", "dogs.com", "dogs.com"},
      {"https://secure.com/x", "https:", "https:"},  // only "http://" is a scheme here
      {"x/y http://a.b/c http://d", "a.b", "a.b"},   // the scheme goes first, then the path
      {"shop.www.dogs.com:8080/", "shop.www.dogs.com:8080", "dogs.com:8080"},
      {"wwwdogs.com", "wwwdogs.com", "wwwdogs.com"},
      {"http://", "", ""},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractHost(c.address), c.host) << c.address;
    EXPECT_EQ(StripWww(c.address), c.withoutWww) << c.address;
  }
}

TEST(ParseNextResult, ReadsOneItemAndMovesOn) {
  const struct {
    const char* name;
    const char* rest;
    const char* site;
    const char* after;
  } cases[] = {
      {"address with scheme and path", "<li><em>http://www.a.com/x/y</em><li>next", "www.a.com", "<li>next"},
      {"tag attributes before the address", "<li><em class=u>b.org/p</em></li>", "b.org",
       "<em class=u>b.org/p</em></li>"},
      {"two characters", "<li><em>a.</em><li>z", "", "<li>z"},
      {"three characters", "<li><em>a.b</em>", "a.b", "<em>a.b</em>"},
      {"no dot", "<li><em>abcdef</em>", "", "<em>abcdef</em>"},
      {"no <em: from the item's third character", "<li>xyz.com</em>", "z.com", "xyz.com</em>"},
      {"</em> before <em", "<li></em><em>a.com</em>", "", "</em><em>a.com</em>"},
      {"no </em>", "<li><em>a.com<li>b", "", "<li>b"},
      {"tags inside the address", "<li><em>www.<b>dog</b>.com</em>", "www.<b>dog<", "<em>www.<b>dog</b>.com</em>"},
      {"text before the first <li> is skipped", "of about 9 <li><em>c.net</em>", "c.net", "<em>c.net</em>"},
      {"an item without <em borrows the next one's", "<li>plain<li><em>c.net</em>", "c.net", "<li><em>c.net</em>"},
      {"no <li> at all: from the fourth character", "abcd.com</em>", "", "d.com</em>"},
      {"empty", "", "", ""},
  };
  for (const auto& c : cases) {
    const std::string page = c.rest;
    ResultsText rest(page);
    EXPECT_EQ(ParseNextResult(rest), c.site) << c.name;
    EXPECT_EQ(rest.Rest(), c.after) << c.name;
  }
}

TEST(AffiliateSearch, RunsACategoryEndToEnd) {
  Session run;
  const std::string page =
      ResultsPage(Item("WWW.DogTrainingPros.COM/start/index.html") + Item("http://Clicker.org/dogs") + Item("ab") +
                  Item("www.dogtrainingpros.com/again"));
  run.web.pages[ResultsUrl("Dog+Training", 10, 6)] = page;
  run.web.pages[LinkUrl("www.dogtrainingpros.com")] = LinkPage("1,234,567");
  run.web.pages[LinkUrl("clicker.org")] = "<html>No results</html>";
  run.web.pages[TrafficUrl("dogtrainingpros.com")] =
      TrafficPage("dogtrainingpros.com", "<a href=x>4</a><a href=x>2</a><a href=x>7</a>");

  run.search.SearchAffiliatePrograms("Dog Training", 10, 5);

  EXPECT_EQ(run.web.requests,
            (Urls{ResultsUrl("Dog+Training", 10, 6), LinkUrl("www.dogtrainingpros.com"),
                  TrafficUrl("dogtrainingpros.com"), LinkUrl("clicker.org"), TrafficUrl("clicker.org"), LinkUrl(""),
                  TrafficUrl(""), LinkUrl("www.dogtrainingpros.com"), TrafficUrl("dogtrainingpros.com")}));
  EXPECT_EQ(run.list.Table(), (Table{{"www.dogtrainingpros.com", "6", "1234567", "427"},
                                     {"clicker.org", "7", "0", "999999999"},
                                     {"", "8", "0", "999999999"},
                                     {"www.dogtrainingpros.com", "9", "1234567", "427"}}));
  EXPECT_EQ(run.window.statuses,
            (Urls{"Dog Training", "www.dogtrainingpros.com", "clicker.org", "", "www.dogtrainingpros.com"}));
  EXPECT_EQ(run.window.pumps, 2 + 4 * 8);
  EXPECT_FALSE(run.stop2Flag);
}

TEST(AffiliateSearch, QueryOfTheResultsPage) {
  const struct {
    const char* category;
    std::int32_t n, s;
    std::string url;
  } cases[] = {
      {"dog training", 20, 0, ResultsUrl("dog+training", 20, 1)},
      {"Cats & Dogs", 10, 0, ResultsUrl("Cats+&+Dogs", 10, 1)},
      {"x", 2, -3, ResultsUrl("x", 2, -2)},
      {"x", 30, 2147483647, kHosts.search + "/search?p=%22x%22&ei=UTF-8&n=30&b=2147483648"},
  };
  for (const auto& c : cases) {
    Session run;
    run.search.SearchAffiliatePrograms(c.category, c.n, c.s);
    EXPECT_EQ(run.web.requests, Urls{c.url}) << c.category;
    EXPECT_TRUE(run.list.rows.empty());
  }
}

TEST(AffiliateSearch, OneRowPerItemBehindTheCount) {
  const struct {
    const char* name;
    std::string page;
    Table rows;
  } cases[] = {
      {"no <li> behind the count", "<li>x</li> of about 3 <p>none</p>", {}},
      {"no count: items from the start",
       Item("a.com") + Item("b.com"),
       {{"a.com", "1", "0", "999999999"}, {"b.com", "2", "0", "999999999"}}},
      {"upper case page", "OF ABOUT 2 <LI><EM>A.COM</EM>", {{"a.com", "1", "0", "999999999"}}},
      {"empty page", "", {}},
  };
  for (const auto& c : cases) {
    Session run;
    run.list.AddRow();  // a previous search's row
    run.search.ReadSearchResults(c.page, 0);
    EXPECT_EQ(run.list.Table(), c.rows) << c.name;
  }
}

TEST(AffiliateSearch, LinkCountReading) {
  const struct {
    std::string page;
    const char* count;
  } cases[] = {
      {LinkPage("1,234,567"), "1234567"},
      {"OF ABOUT <B>1.234</B>", "1234"},
      {"of about <b>12 345</b>", "12345"},
      {"no marker here", "0"},
      {"of about <b></b>", "0"},
      {"of about <b>42", "0"},           // no "</"
      {"of about 1</b> <b>2</b>", "0"},  // "</" before the first '>'
      {"of about 42</p", "ofabout42"},   // no '>': from the window's start
      {"", "0"},
      {"of about" + std::string(286, ' ') + "<b>5</b>", "5"},  // "</" ends the 300 characters
      {"of about" + std::string(287, ' ') + "<b>5</b>", "0"},  // "</" straddles their end
  };
  for (const auto& c : cases) {
    Session run;
    run.web.pages[LinkUrl("dogs.com")] = c.page;
    EXPECT_EQ(run.search.EstimateAffiliates("dogs.com"), c.count) << c.page;
    EXPECT_EQ(run.window.statuses, Urls{"dogs.com"});
    EXPECT_EQ(run.window.pumps, 3);
  }
  Session run;  // spaces, then ':', then '/' are encoded; nothing else
  run.search.EstimateAffiliates("www.a b.com/x?y=1&z");
  EXPECT_EQ(run.web.requests, Urls{LinkUrl("www.a%20b.com%2Fx?y=1&z")});
}

TEST(AffiliateSearch, TrafficRankReading) {
  const struct {
    std::string page;
    const char* rank;
  } cases[] = {
      {TrafficPage("dogs.com", "<b>4</b><b>2</b><b>7</b>"), "427"},
      {TrafficPage("dogs.com", "<b>427</b>"), "4"},                  // only digits directly behind a '>'
      {"traffic rank for dogs.com: <b>4</b><b>2</b>", "999999999"},  // no "<br>"
      {"<p>>5</p><br>", "5"},                                        // no marker: from the start
      {"5>6<br>", "6"},
      {">9 traffic rank for x: >1<br>", "1"},     // digits before the marker
      {"traffic rank for x: >1<br>>2<br>", "1"},  // up to the first "<br>"
      {"x<br>traffic rank for y: >3<br>", "3"},
      {"traffic rank for x: >1,>2.> 3<br>", "12"},
      {"TRAFFIC RANK FOR X: <B>8</B><BR>", "8"},
      {"traffic rank for x: no figure<br>", "999999999"},
      {"", "999999999"},
  };
  for (const auto& c : cases) {
    Session run;
    run.web.pages[TrafficUrl("dogs.com")] = c.page;
    EXPECT_EQ(run.search.LookupTrafficRank("dogs.com"), c.rank) << c.page;
    EXPECT_TRUE(run.window.statuses.empty());
    EXPECT_EQ(run.window.pumps, 1);
  }
  const struct {
    const char* site;
    std::string url;
  } sites[] = {{"www.dogs.com", TrafficUrl("dogs.com")},
               {"dogs.com", TrafficUrl("dogs.com")},
               {"HTTP://Shop.WWW.Dogs.com/x", TrafficUrl("dogs.com")},
               {"", TrafficUrl("")}};
  for (const auto& s : sites) {
    Session run;
    run.search.LookupTrafficRank(s.site);
    EXPECT_EQ(run.web.requests, Urls{s.url}) << s.site;
  }
}

TEST(AffiliateSearch, UnexpectedErrorsInLookups) {
  Session run;
  run.window.expectReports = true;
  run.web.onFetch = [](const std::string&) { throw std::runtime_error("lost"); };
  EXPECT_EQ(run.search.EstimateAffiliates("dogs.com"), "");
  EXPECT_EQ(run.search.LookupTrafficRank("dogs.com"), "999999999");
  EXPECT_EQ(run.window.reported,
            (std::vector<std::string>{"AffiliateSearch::EstimateAffiliates", "AffiliateSearch::LookupTrafficRank"}));
}

// Five items, so that a stop can be placed in any row.
void FiveItems(Session& run) {
  run.web.pages[ResultsUrl("t", 20, 1)] =
      ResultsPage(Item("a.com") + Item("b.com") + Item("c.com") + Item("d.com") + Item("e.com"));
}

TEST(AffiliateSearch, StopAndEscapeEndTheRunAfterTheRowInProgress) {
  {
    Session run;  // Stop while the results page is requested: the run goes on.
    FiveItems(run);
    run.web.onFetch = [&](const std::string& url) {
      if (url == ResultsUrl("t", 20, 1)) run.stop2Flag = true;
    };
    run.search.SearchAffiliatePrograms("t", 20, 0);
    EXPECT_EQ(run.list.rows.size(), 5u);
  }
  {
    Session run;  // Stop during the fourth row's traffic lookup: that row is completed, no fifth.
    FiveItems(run);
    run.web.onFetch = [&](const std::string& url) {
      if (url == TrafficUrl("d.com")) run.stop2Flag = true;
    };
    run.search.SearchAffiliatePrograms("t", 20, 0);
    ASSERT_EQ(run.list.rows.size(), 4u);
    EXPECT_EQ(run.list.Table().back(), (std::vector<std::string>{"d.com", "4", "0", "999999999"}));
    EXPECT_EQ(run.web.requests.back(), TrafficUrl("d.com"));
  }
  for (int pump = 3; pump <= 10; ++pump) {  // any pump of the first row
    Session run;
    FiveItems(run);
    run.window.atPump[pump] = [&] { run.stop2Flag = true; };
    run.search.SearchAffiliatePrograms("t", 20, 0);
    EXPECT_EQ(run.list.Table(), (Table{{"a.com", "1", "0", "999999999"}})) << "stop at pump " << pump;
  }
  {
    Session run;  // Esc held at the second row's check
    FiveItems(run);
    run.window.atPump[17] = [&] { run.window.escapeHeld = true; };
    run.search.SearchAffiliatePrograms("t", 20, 0);
    EXPECT_EQ(run.list.rows.size(), 2u);
  }
  {
    Session run;  // Esc released before the check is not remembered
    FiveItems(run);
    run.window.atPump[4] = [&] { run.window.escapeHeld = true; };
    run.window.atPump[5] = [&] { run.window.escapeHeld = false; };
    run.search.SearchAffiliatePrograms("t", 20, 0);
    EXPECT_EQ(run.list.rows.size(), 5u);
  }
}

TEST(AffiliateSearch, AFailingRowIsCompletedAndEndsTheRun) {
  constexpr const char* kRow = "AffiliateSearch::ReadSearchResults";
  const struct {
    int pump;
    std::size_t rows;
    std::vector<std::string> second;
    const char* reportedAt;
  } cases[] = {
      {11, 2, {"b.com", "2", "", "999999999"}, kRow},  // right after the second row got its rank
      {14, 5, {"b.com", "2", "", "5"}, "AffiliateSearch::EstimateAffiliates"},           // inside its link count lookup
      {15, 2, {"b.com", "2", "77", "999999999"}, kRow},                                  // after its link count was set
      {16, 5, {"b.com", "2", "77", "999999999"}, "AffiliateSearch::LookupTrafficRank"},  // inside its traffic lookup
      {18, 2, {"b.com", "2", "77", "5"}, kRow},                                          // at its last pump
  };
  for (const auto& c : cases) {
    Session run;
    run.window.expectReports = true;
    FiveItems(run);
    run.web.pages[LinkUrl("b.com")] = LinkPage("77");
    run.web.pages[TrafficUrl("b.com")] = TrafficPage("b.com", ">5");
    run.window.atPump[c.pump] = [] { throw std::runtime_error("broken"); };
    run.search.SearchAffiliatePrograms("t", 20, 0);
    ASSERT_EQ(run.list.rows.size(), c.rows) << c.pump;
    EXPECT_EQ(run.list.Table()[1], c.second) << c.pump;
    EXPECT_EQ(run.window.reported, std::vector<std::string>{c.reportedAt}) << c.pump;
  }
}

// A row whose caption cannot be written still gets its other three columns.
TEST(AffiliateSearch, ARowWhoseCaptionFailsIsCompletedWithoutIt) {
  struct BrittleList : FakeList {
    void SetCaption(RowHandle h, const std::string& text) override {
      if (text == "b.com") throw std::runtime_error("no room");
      FakeList::SetCaption(h, text);
    }
  };
  FakeWindow window;
  window.expectReports = true;
  BrittleList list;
  FakeWeb web;
  bool stop2Flag = true;
  web.pages[ResultsUrl("t", 20, 1)] = ResultsPage(Item("a.com") + Item("b.com") + Item("c.com"));
  AffiliateSearch(window, list, web.Fetcher(), kHosts, stop2Flag).SearchAffiliatePrograms("t", 20, 0);
  EXPECT_EQ(list.Table(), (Table{{"a.com", "1", "0", "999999999"}, {"", "2", "", "999999999"}}));
  EXPECT_EQ(web.requests.size(), 3u);
  EXPECT_EQ(window.reported, std::vector<std::string>{"AffiliateSearch::ReadSearchResults"});
}

TEST(AffiliateSearch, RowInProgressIsFilledThroughItsHandleAfterASort) {
  Session run;
  FiveItems(run);
  run.window.atPump[12] = [&] { run.list.Reverse(); };    // during the second row's lookups
  run.window.atPump[26] = [&] { run.stop2Flag = true; };  // in the third row
  run.search.SearchAffiliatePrograms("t", 20, 0);
  EXPECT_EQ(
      run.list.Table(),
      (Table{{"b.com", "2", "0", "999999999"}, {"a.com", "1", "0", "999999999"}, {"c.com", "3", "0", "999999999"}}));
  EXPECT_EQ(run.list.staleWrites, 0);
}

// Search as the main window runs it: a Search arriving during a run presses Stop and asks
// for a restart once the run has returned; the run notices the newer request before it
// touches the list.
struct Searcher {
  FakeWindow window;
  FakeList list;
  FakeWeb web;
  bool stop2Flag = true;
  RunSequencer sequencer;
  unsigned requests = 0;
  std::string category;
  int runs = 0;

  void Search(const std::string& what) {
    category = what;
    ++requests;
    sequencer.Start([&] { stop2Flag = true; },
                    [&] {
                      ++runs;
                      stop2Flag = false;
                      sequencer.ForgetPending();
                      const unsigned mine = requests;
                      AffiliateSearch(window, list, web.Fetcher(), kHosts, stop2Flag, [this, mine] {
                        return requests != mine;
                      }).SearchAffiliatePrograms(category, 20, 0);
                    });
  }
};

TEST(AffiliateSearch, SearchTwiceDuringARun) {
  Searcher s;
  s.web.pages[ResultsUrl("old", 20, 1)] = ResultsPage(Item("a.com") + Item("b.com") + Item("c.com"));
  s.web.pages[ResultsUrl("new", 20, 1)] = ResultsPage(Item("x.com") + Item("y.com"));
  s.window.atPump[12] = [&] { s.Search("new"); };  // twice, in the old run's second row
  s.window.atPump[13] = [&] { s.Search("new"); };
  s.Search("old");
  EXPECT_EQ(s.runs, 2);
  EXPECT_EQ(s.list.Table(), (Table{{"x.com", "1", "0", "999999999"}, {"y.com", "2", "0", "999999999"}}));
  EXPECT_EQ(s.list.staleWrites, 0);
  EXPECT_FALSE(s.sequencer.Busy());
}

TEST(AffiliateSearch, SearchWhileTheResultsPageIsFetchedLeavesTheListAlone) {
  Searcher s;
  s.web.pages[ResultsUrl("old", 20, 1)] = ResultsPage(Item("a.com"));
  s.web.pages[ResultsUrl("new", 20, 1)] = ResultsPage(Item("x.com"));
  s.list.AddRow();
  s.web.onFetch = [&](const std::string& url) {
    if (url == ResultsUrl("old", 20, 1)) s.window.atPump[s.window.pumps + 1] = [&] { s.Search("new"); };
  };
  s.Search("old");
  EXPECT_EQ(s.web.requests,
            (Urls{ResultsUrl("old", 20, 1), ResultsUrl("new", 20, 1), LinkUrl("x.com"), TrafficUrl("x.com")}));
  EXPECT_EQ(s.list.Table(), (Table{{"x.com", "1", "0", "999999999"}}));
}

}  // namespace
}  // namespace quillet
