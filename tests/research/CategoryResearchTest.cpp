#include "research/CategoryResearch.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "net/FetchPage.h"
#include "net/Text.h"
#include "research/RunSequencer.h"
#include "tests/research/Fakes.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedServices.h"

namespace quillet {
namespace {

using test::FakeList;
using test::FakeWeb;
using test::FakeWindow;
using Table = std::vector<std::vector<std::string>>;

const ServiceHosts kHosts{"http://suggest.test", "http://search.test", "http://traffic.test"};

std::string SuggestUrl(const std::string& term) {
  return kHosts.suggestion + "/d/searchinventory/suggestion/?term=" + term + "&mkt=us&lang=en_US";
}
std::string SupplyUrl(const std::string& term) { return kHosts.search + "/search?p=%22" + term + "%22"; }

std::string Pair(const std::string& count, const std::string& term) {
  return "<tr><td>&nbsp;" + count + "</td><td>&nbsp;<a href=\"/t\">" + term + "</a></td></tr>\n";
}
std::string SuggestionPage(const std::string& rows) {
  return "<html><body><table><tr><td>Searches</td></tr></table> Done <table>" + rows + "</table></body></html>";
}
std::string CountPage(const std::string& count) {
  return "<p>Results 1 - 10 of about <B>" + count + "</B> for <b>x</b></p>";
}

struct Session {
  FakeWindow window;
  FakeList list;
  FakeWeb web;
  bool stopFlag = true;
  CategoryResearch research{window, list, web.Fetcher(), kHosts, stopFlag, '.'};
};

TEST(ExtractDemand, CutsTheCountCell) {
  const struct {
    const char* cell;
    const char* demand;
  } cases[] = {
      {"<td>&nbsp;12345", "12345"},
      {"<td class=\"c\">&nbsp;678</td", "678"},
      {"<td>&nbsp;90<br></td>", "90<br>"},
      {"<td>&nbsp;7</b>x</i>", "7"},
      {"<td>&nbsp;</b>5", "</b>5"},  // a "</" right at the start does not cut
      {"<td>12345", "2345"},         // without "&nbsp;" from the sixth character on
      {"<td>", ""},
      {"", ""},
      {"<td>&nbsp;-", "-"},
      {"<td>&nbsp; 1,234 ", " 1,234 "},  // no trimming
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractDemand(c.cell), c.demand) << c.cell;
}

TEST(ExtractCategory, TakesTheTextBehindTheLastTagEndOrEntity) {
  const struct {
    const char* cell;
    const char* term;
  } cases[] = {
      {"<td>&nbsp;<a href=\"x\">dog training</a>", "dog training"},
      {"<td><a href=\"x\">cats</a>", "cats"},
      {"<td>&nbsp;<a href=\"x\">dog &amp; cat</a>", " cat"},  // an entity keeps only what follows it
      {"<td>&nbsp;dogs</a>", "dogs"},                         // only ';'
      {"<td>&nbsp;<a>x;y>z</a><a>w</a>", "z"},                // first "</a>", last delimiter before it
      {"<td>no link at all", ""},
      {"<td>plain</a>", "plain"},  // '>' of the cell's own tag
      {"plain</a>", ""},           // neither character
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractCategory(c.cell), c.term) << c.cell;
}

TEST(ComputeProfitability, ScoresAndFormats) {
  const struct {
    const char* demand;
    const char* supply;
    char separator;
    const char* score;
  } cases[] = {
      {"1000", "50000", '.', "20"},
      {"150", "2000", '.', "11.25"},
      {"7", "3", '.', "16.33"},
      {"2", "?", '.', "4"},
      {"2", "0", '.', "4"},
      {"2", "", '.', "4"},
      {"-", "10", '.', "0"},
      {"", "10", '.', "0"},
      {"150", "2000", ',', "11,25"},
      {"3", "8", '.', "1.13"},       // 1.125: halves go away from zero
      {"1", "8", '.', "0.13"},       // 0.125
      {"107", "4280", '.', "2.68"},  // 2.675 exactly; binary noise must not flip it
      {"3", "2", '.', "4.5"},        // trailing zero dropped
      {"10", "4", '.', "25"},        // bare separator dropped
      {"199", "39800", '.', "1"},    // 0.995 carries into the integer part
      {"1", "1000", '.', "0"},       // 0.001
      {"1", "300", '.', "0"},        // 0.0033
      {"1", "200", '.', "0.01"},     // 0.005
      {"2", "-4", '.', "-1"},
      {"-3", "2", '.', "4.5"},
      {"2147483647", "1", '.', "4611686014132420609"},
      {"2147483648", "1", '.', "0"},  // out of range reads as 0
      {"-2147483648", "2147483647", '.', "2147483649"},
      {"12a", "3", '.', "0"},
      {"+5", "+5", '.', "5"},
      {" 5", "1", '.', "0"},
      {"1,000", "1", '.', "0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ComputeProfitability(c.demand, c.supply, c.separator), c.score) << c.demand << " / " << c.supply;
}

TEST(CategoryResearch, RunsATopicEndToEnd) {
  Session run;
  run.web.pages[SuggestUrl("Car%20Hire")] =
      SuggestionPage(Pair("1000", "Car Hire Spain") + Pair("150", "cheap car hire") + Pair("7", "car hire & co"));
  run.web.pages[SupplyUrl("car+hire+spain")] = CountPage("50,000");
  run.web.pages[SupplyUrl("cheap+car+hire")] = CountPage("2.000");
  run.web.pages[SupplyUrl("car+hire+&+co")] = "<html>nothing found</html>";

  run.research.ResearchCategory("\"Car Hire\"");

  EXPECT_EQ(run.web.requests, (std::vector<std::string>{SuggestUrl("Car%20Hire"), SupplyUrl("car+hire+spain"),
                                                        SupplyUrl("cheap+car+hire"), SupplyUrl("car+hire+&+co")}));
  EXPECT_EQ(run.list.Table(), (Table{{"car hire spain", "1000", "50000", "20"},
                                     {"cheap car hire", "150", "2000", "11.25"},
                                     {"car hire & co", "7", "?", "49"}}));
  for (const auto& row : run.list.rows) EXPECT_FALSE(row.checked);
  EXPECT_EQ(run.window.statuses,
            (std::vector<std::string>{"\"Car Hire\"", "car hire spain", "cheap car hire", "car hire & co"}));
  EXPECT_EQ(run.window.pumps, 2 + 3 * 7);
  EXPECT_FALSE(run.stopFlag);
}

TEST(CategoryResearch, CuttingFallbacks) {
  const struct {
    const char* name;
    std::string page;
    Table rows;
  } cases[] = {
      {"no done: scanned from the start", Pair("5", "a b"), {{"a b", "5", "3", "8.33"}}},
      {"done but no cell end", "x done <td>&nbsp;5", {}},
      {"no cell end anywhere", "<td>5<td>6", {}},
      {"trailing single cell",
       " done " + Pair("5", "a b") + "<td>&nbsp;9</td>",
       {{"a b", "5", "3", "8.33"}, {"", "9", "", "81"}}},
      {"count cell without &nbsp;",
       " done <td>12345</td>" + std::string("<td><a>a b</a></td>"),
       {{"a b", "2345", "3", "1833008.33"}}},
      {"cell without <td>: through the '<' of </td>", " done 77</td>xx</td>", {{"", " 77<", "", "0"}}},
      {"<td> behind </td>: empty cell",
       " done x</td><td>&nbsp;4</td><td><a>a b</a></td>",
       {{"", "", "", "0"}, {"", "a>a b", "", "0"}}},
      {"empty term: no fetch", " done <td>&nbsp;6</td><td>&nbsp;<a></a></td>", {{"", "6", "", "36"}}},
      {"upper case page", " DONE " + Pair("5", "A B"), {{"a b", "5", "3", "8.33"}}},
  };
  for (const auto& c : cases) {
    Session run;
    run.web.pages[SupplyUrl("a+b")] = CountPage("3");
    run.research.ParseSuggestionPage(c.page);
    EXPECT_EQ(run.list.Table(), c.rows) << c.name;
    for (const std::string& url : run.web.requests) EXPECT_EQ(url, SupplyUrl("a+b")) << c.name;
  }
}

TEST(CategoryResearch, SupplyReading) {
  const struct {
    const char* page;
    const char* supply;
  } cases[] = {
      {"of about <b>1,234,567</b>", "1234567"},
      {"OF ABOUT <B>1.234</B>", "1234"},
      {"no marker here", "?"},
      {"of about <b></b>", "0"},
      {"of about 42</p", "ofabout42"},  // no '>': from the window's start, separators stripped
      {"of about <b>42", "0"},          // no "</"
      {"of about 1</b> <b>2", "0"},     // "</" before '>'
      {"", "?"},
  };
  for (const auto& c : cases) {
    Session run;
    run.web.pages[SupplyUrl("t")] = c.page;
    EXPECT_EQ(run.research.LookUpSupply("t"), c.supply) << c.page;
  }
  // The count must start within 200 characters of the marker.
  Session run;
  run.web.pages[SupplyUrl("t")] = "of about" + std::string(187, ' ') + "<b>5</b>";
  EXPECT_EQ(run.research.LookUpSupply("t"), "0");
  run.web.pages[SupplyUrl("t")] = "of about" + std::string(186, ' ') + "<b>5</b>";
  EXPECT_EQ(run.research.LookUpSupply("t"), "5");
}

// The bytes on the wire of a whole run: n + 1 requests, one connection each, in order.
TEST(CategoryResearch, RequestsOfARunOnTheWire) {
  test::LoopbackServer server(test::CategoryAnswer);
  const std::string base = server.BaseUrl();
  FakeWindow window;
  FakeList list;
  bool stop = true;
  CategoryResearch research(
      window, list, [](const std::string& url) { return FetchPage(url); }, {base, base, base}, stop, '.');
  research.ResearchCategory("Dog \"Training\"");
  const auto request = [](const std::string& target) {
    return "GET " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n"
           "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";
  };
  EXPECT_EQ(server.Requests(),
            (std::vector<std::string>{request("/d/searchinventory/suggestion/?term=Dog%20Training&mkt=us&lang=en_US"),
                                      request("/search?p=%22dog+training%22"), request("/search?p=%22dog+collars%22"),
                                      request("/search?p=%22puppy%22")}));
  EXPECT_EQ(list.Table(), (Table{{"dog training", "1000", "50000", "20"},
                                 {"dog collars", "150", "2000", "11.25"},
                                 {"puppy", "7", "?", "49"}}));
}

// Three rows, each of 7 pumps after the 2 around the suggestion fetch.
void ThreeRows(Session& run) {
  run.web.pages[SuggestUrl("t")] = SuggestionPage(Pair("1", "a") + Pair("2", "b") + Pair("3", "c"));
  for (const char* term : {"a", "b", "c"}) run.web.pages[SupplyUrl(term)] = CountPage("1");
}

// A search page that never came (no byte) leaves the count unknown, so the row must not
// score D x D and outrank the counted ones; any page that came, even one without a count,
// keeps the score D x D.
TEST(CategoryResearch, ASupplyPageThatNeverCameLeavesProfitabilityUnknown) {
  const struct {
    const char* name;
    std::string page;
    std::vector<std::string> row;
  } cases[] = {
      {"no byte", "", {"a b", "5", "?", "?"}},
      {"a page without a count", "<html>nothing found</html>", {"a b", "5", "?", "25"}},
      {"a single blank", " ", {"a b", "5", "?", "25"}},
      {"a count", CountPage("2"), {"a b", "5", "2", "12.5"}},
  };
  for (const auto& c : cases) {
    Session run;
    run.web.pages[SupplyUrl("a+b")] = c.page;
    run.research.ParseSuggestionPage(" done " + Pair("5", "a b"));
    EXPECT_EQ(run.list.Table(), Table{c.row}) << c.name;
  }
  // The service stops between two rows: every row after it is unknown, the ones before keep
  // their counts, and the run still ends normally.
  Session run;
  ThreeRows(run);
  run.web.onFetch = [&](const std::string& url) {
    if (url == SupplyUrl("b")) run.web.pages.clear();
  };
  run.research.ResearchCategory("t");
  EXPECT_EQ(run.list.Table(), (Table{{"a", "1", "1", "1"}, {"b", "2", "?", "?"}, {"c", "3", "?", "?"}}));
}

// A failure inside a row completes the row from what is known, ends the run quietly and is
// reported for the developer.
TEST(CategoryResearch, AFailingRowIsCompletedReportedAndEndsTheRun) {
  Session run;
  run.window.expectReports = true;
  ThreeRows(run);
  run.web.onFetch = [](const std::string& url) {
    if (url == SupplyUrl("b")) throw std::runtime_error("lost");
  };
  run.research.ResearchCategory("t");
  EXPECT_EQ(run.list.Table(), (Table{{"a", "1", "1", "1"}, {"b", "2", "", "4"}}));
  EXPECT_EQ(run.window.reported, std::vector<std::string>{"CategoryResearch::ParseSuggestionPage"});
}

TEST(CategoryResearch, StopAndEscapeEndTheRunAfterTheRowInProgress) {
  {
    Session run;  // Stop pressed while the suggestion page is fetched is forgotten.
    ThreeRows(run);
    run.web.onFetch = [&](const std::string& url) {
      if (url == SuggestUrl("t")) run.stopFlag = true;
    };
    run.research.ResearchCategory("t");
    EXPECT_EQ(run.list.rows.size(), 3u);
  }
  for (int pump = 3; pump <= 9; ++pump) {  // anywhere in the first row
    Session run;
    ThreeRows(run);
    run.window.atPump[pump] = [&] { run.stopFlag = true; };
    run.research.ResearchCategory("t");
    EXPECT_EQ(run.list.Table(), (Table{{"a", "1", "1", "1"}})) << "stop at pump " << pump;
    EXPECT_EQ(run.web.requests.size(), 2u);
  }
  {
    Session run;  // Esc is looked at once per finished row.
    ThreeRows(run);
    run.window.atPump[10] = [&] { run.window.escapeHeld = true; };
    run.research.ResearchCategory("t");
    EXPECT_EQ(run.list.rows.size(), 2u);
  }
  {
    Session run;  // Esc released before the check is not remembered.
    ThreeRows(run);
    run.window.atPump[4] = [&] { run.window.escapeHeld = true; };
    run.window.atPump[5] = [&] { run.window.escapeHeld = false; };
    run.research.ResearchCategory("t");
    EXPECT_EQ(run.list.rows.size(), 3u);
  }
}

TEST(CategoryResearch, RowInProgressIsFilledThroughItsHandleAfterASort) {
  Session run;
  ThreeRows(run);
  run.window.atPump[12] = [&] { run.list.Reverse(); };                   // second row's Supply lookup
  run.window.atPump[11] = [&] { run.list.rows.back().checked = true; };  // the user ticks it
  run.research.ResearchCategory("t");
  EXPECT_EQ(run.list.Table(), (Table{{"b", "2", "1", "4"}, {"a", "1", "1", "1"}, {"c", "3", "1", "9"}}));
  for (const auto& row : run.list.rows) EXPECT_FALSE(row.checked);
  EXPECT_EQ(run.list.staleWrites, 0);
}

// A Start pressed during a run (nested in its pump) stops it and begins afresh only after it
// has returned, so the old run never writes into the new list.
TEST(CategoryResearch, StartDuringARunRestartsAfterItReturns) {
  FakeWindow window;
  FakeList list;
  FakeWeb web;
  bool stopFlag = true;
  web.pages[SuggestUrl("old")] = SuggestionPage(Pair("1", "a") + Pair("2", "b") + Pair("3", "c"));
  web.pages[SuggestUrl("new")] = SuggestionPage(Pair("5", "x") + Pair("6", "y"));
  for (const char* term : {"x", "y"}) web.pages[SupplyUrl(term)] = CountPage("1");
  RunSequencer sequencer;
  std::string topic = "old";
  int runs = 0;
  std::function<void()> start = [&] {
    sequencer.Start([&] { stopFlag = true; },
                    [&] {
                      ++runs;
                      sequencer.ForgetPending();
                      stopFlag = false;
                      CategoryResearch(window, list, web.Fetcher(), kHosts, stopFlag, '.').ResearchCategory(topic);
                    });
  };
  window.atPump[5] = [&] {  // in the old run's first row
    topic = "new";
    start();
  };
  start();
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(list.Table(), (Table{{"x", "5", "1", "25"}, {"y", "6", "1", "36"}}));
  EXPECT_EQ(list.staleWrites, 0);
  EXPECT_EQ(web.requests, (std::vector<std::string>{SuggestUrl("old"), SupplyUrl("a"), SuggestUrl("new"),
                                                    SupplyUrl("x"), SupplyUrl("y")}));
  EXPECT_FALSE(sequencer.Busy());
}

}  // namespace
}  // namespace quillet
