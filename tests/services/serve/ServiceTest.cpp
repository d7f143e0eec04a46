#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/services/support/Clients.h"
#include "tests/services/support/Fixtures.h"
#include "net/FetchPage.h"
#include "tests/services/support/ProgramRules.h"
#include "research/AffiliateSearch.h"
#include "research/CategoryResearch.h"
#include "services/serve/HttpServer.h"
#include "services/serve/HtmlPages.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Hosts.h"
#include "tests/services/support/StoreUnderTest.h"

namespace quillet::services {
namespace {

using testing::Exchange;
using testing::FakeList;
using testing::ProgramRequest;
using testing::QuietWindow;
using testing::ReadLinkCount;
using testing::ReadResultHosts;
using testing::ReadTrafficRank;
using testing::ScratchDir;
using testing::ServiceFetcher;

// The same tests for every store: each kind is written once, with the same calls.
class ServiceTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    auto& store = (*stores_)[GetParam()];
    if (store) return;
    store = testing::MakeStore(GetParam());
    auto writer = store->Writer();
    for (const auto& [term, searches] : Searches()) writer->PutKeyword(term, searches);
    for (int i = 0; i < 150; ++i) writer->PutKeyword("widget " + std::to_string(i), i);
    // Pages are listed in the order they are stored.
    writer->AddPage({"http://www.top.com/a", "Dog training", "dog training made easy", {"http://www.b.com/"}});
    writer->AddPage(
        {"http://shop.b.com/x", "Collars", "dog training collars for sale", {"http://top.com/", "http://b.com/"}});
    writer->AddPage({"https://c.org/p?q=1", "Puppies", "puppy dog training", {"http://www.top.com/z"}});
    writer->AddPage({"http://top.com/b", "Cats", "cat toys", {"http://c.org/"}});
    for (int i = 1; i <= 3; ++i) writer->AddPage({"http://x.com/" + std::to_string(i), "Rods", "fly rods", {}});
    writer->AddPage({"http://y.com/", "Rods", "fly rods", {}});
    writer->PutRank("top.com", 4271);
    writer->PutRank("b.com", 2147483647);
    writer->Commit();
  }
  static void SetUpTestSuite() { stores_ = new std::map<std::string, std::unique_ptr<testing::StoreUnderTest>>; }
  static void TearDownTestSuite() { delete stores_; }

  static const std::map<std::string, std::int64_t>& Searches() {
    static const std::map<std::string, std::int64_t> kSearches = {
        {"dog training", 5000},     {"dog training collars", 900}, {"puppy dog training", 700}, {"dogs", 100000},
        {"salt & pepper", 300},     {"salt & pepper mills", 200},  {"salt pepper", 250},        {"c++ books", 40},
        {"caf\xC3\xA9 au lait", 30}};
    return kSearches;
  }

  std::unique_ptr<StoreReader> Reader() { return (*stores_)[GetParam()]->Reader(); }

  // The program's category research, run against the service.
  std::vector<testing::FakeRow> Research(Service& service, const std::string& topic, std::vector<std::string>* urls) {
    QuietWindow window;
    FakeList list;
    bool stopFlag = false;
    CategoryResearch research(window, list, ServiceFetcher(service, urls), testing::LocalHosts(), stopFlag, '.');
    research.ResearchCategory(topic);
    return list.rows;
  }

  static std::map<std::string, std::unique_ptr<testing::StoreUnderTest>>* stores_;
};
std::map<std::string, std::unique_ptr<testing::StoreUnderTest>>* ServiceTest::stores_ = nullptr;
INSTANTIATE_TEST_SUITE_P(Stores, ServiceTest, ::testing::ValuesIn(testing::StoreKinds()),
                         [](const auto& info) { return info.param; });

TEST_P(ServiceTest, CategoryResearchRoundTrip) {
  auto store = Reader();
  Service service(*store);
  struct Case {
    std::string topic;
    std::vector<std::string> terms;
  };
  const std::vector<Case> cases = {
      {"Dog Training", {"dog training", "dog training collars", "puppy dog training"}},
      {"training \"dog\"", {"dog training", "dog training collars", "puppy dog training"}},
      {"salt & pepper", {"salt & pepper", "salt pepper", "salt & pepper mills"}},
      {"dog trainin", {}},
      {"dogs", {"dogs"}},
      {"C++", {"c++ books"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topic);
    std::vector<std::string> urls;
    auto rows = Research(service, c.topic, &urls);
    ASSERT_EQ(rows.size(), c.terms.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].caption, c.terms[i]);
      ASSERT_EQ(rows[i].subItems.size(), 3u);
      EXPECT_EQ(rows[i].subItems[0], std::to_string(Searches().at(c.terms[i])));
      EXPECT_EQ(rows[i].subItems[1], std::to_string(store->CountMatches({c.terms[i], true}, Deadline::None())));
    }
    EXPECT_EQ(urls.size(), c.terms.size() + 1);
  }
}

TEST_P(ServiceTest, AffiliateSearchRoundTrip) {
  auto store = Reader();
  Service service(*store);
  struct Case {
    std::string category;
    std::int32_t n, s;
    std::vector<std::vector<std::string>> rows;  // Website URL, Rank #, affiliates, traffic rank
  };
  const std::vector<Case> cases = {
      {"Dog Training",
       20,
       0,
       {{"www.top.com", "1", "2", "4271"}, {"shop.b.com", "2", "0", "2147483647"}, {"c.org", "3", "1", "999999999"}}},
      {"dog training", 1, 1, {{"shop.b.com", "2", "0", "2147483647"}}},
      {"cat toys", 20, 0, {{"top.com", "1", "2", "4271"}}},
      {"dog training", 20, 3, {}},
      {"no such phrase", 20, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.category + " " + std::to_string(c.s));
    QuietWindow window;
    FakeList list;
    bool stop2Flag = false;
    std::vector<std::string> urls;
    AffiliateSearch search(window, list, ServiceFetcher(service, &urls), testing::LocalHosts(), stop2Flag);
    search.SearchAffiliatePrograms(c.category, c.n, c.s);
    ASSERT_EQ(list.rows.size(), c.rows.size());
    for (size_t i = 0; i < c.rows.size(); ++i) {
      std::vector<std::string> shown = {list.rows[i].caption};
      shown.insert(shown.end(), list.rows[i].subItems.begin(), list.rows[i].subItems.end());
      EXPECT_EQ(shown, c.rows[i]);
    }
    EXPECT_EQ(urls.size(), 1 + 2 * c.rows.size());
  }
}

// Rows written past the importer (another tool, a ClickHouse that takes writes) are shown
// safely by every store's pages: no extra row or marker, and no other site read off a page.
TEST_P(ServiceTest, StoredValuesWrittenPastTheImporterAreShownSafely) {
  auto fresh = testing::MakeStore(GetParam());
  {
    auto writer = fresh->Writer();
    writer->PutKeyword("zq </a></td></tr><tr><td>&nbsp;999999</td><td>&nbsp;<a href=x>evil", 3);
    writer->PutKeyword("zq of about <b>7</b> <li><em>http://victim.example/</em>", 2);
    writer->PutKeyword("zq salt & pepper", 1);
    for (const char* url : {"http://spam1.example/go?u=http://victim.example/x", "http://victim.example@spam2.example/",
                            "http://spam3.example?u=http://victim.example/"})
      writer->AddPage({url, "</a><li><em>http://victim.example/</em>", "zqpage <li><em>victim.example</em>", {}});
    writer->Commit();
  }
  auto store = fresh->Reader();
  Service service(*store);
  std::vector<std::string> urls;
  auto rows = Research(service, "zq", &urls);
  ASSERT_EQ(rows.size(), 3u);
  const char* demands[] = {"3", "2", "1"};
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_FALSE(rows[i].subItems.empty());
    EXPECT_EQ(rows[i].subItems[0], demands[i]);
  }
  EXPECT_EQ(rows[2].caption, "zq salt & pepper");
  EXPECT_EQ(ReadResultHosts(service.Respond("/search", "p=zqpage&n=10&b=1").body),
            (std::vector<std::string>{"spam1.example", "spam2.example", "spam3.example"}));
}

TEST_P(ServiceTest, SuggestionsAreCappedAndMostSearchedFirst) {
  auto store = Reader();
  Service service(*store);
  Reply reply = service.Respond("/d/searchinventory/suggestion", "term=WIDGET&mkt=us&lang=en_US");
  EXPECT_EQ(reply.status, 200);
  QuietWindow window;
  FakeList list;
  bool stopFlag = false;
  CategoryResearch research(
      window, list, [](const std::string&) { return std::string(); }, testing::LocalHosts(), stopFlag, '.');
  research.ParseSuggestionPage(reply.body);
  ASSERT_EQ(list.rows.size(), 100u);
  for (size_t i = 0; i < list.rows.size(); ++i) {
    EXPECT_EQ(list.rows[i].caption, "widget " + std::to_string(149 - i));
    EXPECT_EQ(list.rows[i].subItems[0], std::to_string(149 - i));
  }
}

TEST_P(ServiceTest, ResultListLinkCountsAndRanks) {
  auto store = Reader();
  Service service(*store);
  struct Case {
    std::string query;
    std::vector<std::string> hosts;
  };
  const std::vector<Case> lists = {
      {"p=%22dog+training%22&ei=UTF-8&n=20&b=1", {"www.top.com", "shop.b.com", "c.org"}},
      {"p=%22dog+training%22&ei=UTF-8&n=2&b=2", {"shop.b.com", "c.org"}},
      {"p=%22dog+training%22&ei=UTF-8&n=20&b=4", {}},
      {"p=%22Cat+Toys%22&ei=UTF-8&n=2&b=1", {"top.com"}},
      {"p=%22toys+cat%22&ei=UTF-8&n=2&b=1", {}},
      // One page of each site.
      {"p=%22fly+rods%22&ei=UTF-8&n=20&b=1", {"x.com", "y.com"}},
      {"p=%22fly+rods%22&ei=UTF-8&n=20&b=2", {"y.com"}},
      {"p=%22fly+rods%22&ei=UTF-8&n=20&b=3", {}},
  };
  for (const Case& c : lists) EXPECT_EQ(ReadResultHosts(service.Respond("/search", c.query).body), c.hosts) << c.query;

  struct Count {
    std::string site;
    std::string links;
    std::string rank;
  };
  // The program's own requests for a site: link:http://SITE, and url=www. + SITE without www.
  const std::vector<Count> counts = {
      {"www.top.com", "2", "4271"}, {"top.com", "2", "4271"},          {"shop.b.com", "0", "2147483647"},
      {"c.org", "1", "999999999"},  {"nowhere.net", "0", "999999999"}, {"", "0", "999999999"},
  };
  for (const Count& c : counts) {
    SCOPED_TRACE(c.site);
    std::string q = "link%3Ahttp%3A%2F%2F" + c.site;
    EXPECT_EQ(ReadLinkCount(service.Respond("/search", "p=" + q).body), c.links);
    std::string host = c.site.rfind("www.", 0) == 0 ? c.site.substr(4) : c.site;
    EXPECT_EQ(ReadTrafficRank(service.Respond("/data/details/", "url=www." + host).body), c.rank);
  }
}

// The urls of a result list of at most 10 from the offset-th on.
std::vector<std::string> ListedUrls(StoreReader& reader, const TextQuery& query, std::int64_t offset) {
  std::vector<std::string> urls;
  for (const ResultItem& item : reader.FindPages(query, offset, 10, Deadline::None())) urls.push_back(item.url);
  return urls;
}

TEST_P(ServiceTest, ResultListsPutRankedSitesAndTitlesFirst) {
  auto store = testing::MakeStore(GetParam());
  {
    auto writer = store->Writer();
    for (const PageInput& page : std::vector<PageInput>{{"http://late.net/1", "Other", "garden hose", {}},
                                                        {"http://titled.net/1", "A garden hose", "garden hose", {}},
                                                        {"http://blog.ranked.org/", "Blog", "the garden hose", {}},
                                                        {"http://best.com/a", "Best", "garden hose", {}},
                                                        {"http://best.com/b", "Best", "garden hose", {}},
                                                        {"http://www.best.com/c", "Garden Hose", "garden hose", {}},
                                                        {"http://ranked.org/1", "Garden hose", "garden hose", {}}})
      writer->AddPage(page);
    writer->PutRank("ranked.org", 50);
    writer->PutRank("best.com", 3);
    writer->Commit();
  }
  // A later import that ranks a site and retitles a page moves both.
  auto later = store->Writer();
  later->PutRank("late.net", 60);
  later->MergePage({"http://ranked.org/1", "Reels", "", {}});
  later->Commit();
  auto reader = store->Reader();
  EXPECT_EQ(ListedUrls(*reader, {"Garden Hose", true}, 0),
            (std::vector<std::string>{"http://www.best.com/c", "http://blog.ranked.org/", "http://ranked.org/1",
                                      "http://late.net/1", "http://titled.net/1"}));
  EXPECT_EQ(ListedUrls(*reader, {"hose garden", false}, 3),
            (std::vector<std::string>{"http://late.net/1", "http://titled.net/1"}));
}

// The affiliate finder lists competing sites: on crawl data, where a site has many pages
// stored one after another, a list of n shows n sites, each at its best-placed page, and
// the next result page goes on with the next sites.
TEST_P(ServiceTest, ResultListsShowEachSiteOnceAtItsBestPlacedPage) {
  auto store = testing::MakeStore(GetParam());
  auto url = [](int site, int page) {
    return "http://" + std::string(page == 2 ? "www." : "") + "site" + std::to_string(site) + ".example/" +
           std::to_string(page);
  };
  {
    auto writer = store->Writer();
    for (int site = 0; site < 10; ++site)
      for (int page = 0; page < 3; ++page)
        writer->AddPage({url(site, page), site == 7 && page == 2 ? "Kite surfing" : "Lessons", "kite surfing", {}});
    writer->PutRank("site4.example", 10);
    writer->Commit();
  }
  auto reader = store->Reader();
  const struct {
    std::int64_t offset;
    std::vector<std::string> urls;
  } lists[] = {
      {0,
       {url(4, 0), url(7, 2), url(0, 0), url(1, 0), url(2, 0), url(3, 0), url(5, 0), url(6, 0), url(8, 0), url(9, 0)}},
      {4, {url(2, 0), url(3, 0), url(5, 0), url(6, 0), url(8, 0), url(9, 0)}},
      {9, {url(9, 0)}},
      {10, {}},
  };
  for (const auto& list : lists)
    EXPECT_EQ(ListedUrls(*reader, {"kite surfing", true}, list.offset), list.urls) << list.offset;

  // What the program lists for a search of 8: eight sites.
  Service service(*reader);
  QuietWindow window;
  FakeList rows;
  bool stop2Flag = false;
  AffiliateSearch(window, rows, ServiceFetcher(service, nullptr), testing::LocalHosts(), stop2Flag)
      .SearchAffiliatePrograms("kite surfing", 8, 0);
  std::vector<std::string> sites;
  for (const auto& row : rows.rows) sites.push_back(row.caption);
  EXPECT_EQ(sites, (std::vector<std::string>{"site4.example", "www.site7.example", "site0.example", "site1.example",
                                             "site2.example", "site3.example", "site5.example", "site6.example"}));
}

// The ranks of thousands of sites, as a common phrase brings them, are looked up in parts
// (ClickHouse takes a query of bounded length): a rank in any part counts.
TEST_P(ServiceTest, ResultListsRankSitesOfEveryPartOfAManySitedList) {
  auto store = testing::MakeStore(GetParam());
  auto url = [](int i) { return "http://site" + std::to_string(i) + "-" + std::string(48, 'q') + ".example/"; };
  {
    auto writer = store->Writer();
    for (int i = 0; i < 6000; ++i) writer->AddPage({url(i), "", "lawn mower " + std::to_string(i), {}});
    // Names sort as "site1...", "site10..", ..., "site5999..": these fall in different parts.
    for (int i : {5999, 10, 3000}) writer->PutRank(NormalizeHost(url(i)), i);
    writer->Commit();
  }
  std::vector<std::string> urls = ListedUrls(*store->Reader(), {"lawn mower", true}, 0);
  urls.resize(4);
  EXPECT_EQ(urls, (std::vector<std::string>{url(10), url(3000), url(5999), url(0)}));
}

TEST_P(ServiceTest, BadRequestsGetAPageWithoutMarkers) {
  auto store = Reader();
  Service service(*store);
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"/", ""},
      {"/nowhere", "term=dog"},
      {"/search", ""},
      {"/search", "p="},
      {"/search", "p=%22%22"},
      {"/search", "p=link%3A"},
      {"/search", "q=dog"},
      {"/data/details/", ""},
      {"/data/details/", "url="},
      {"/d/searchinventory/suggestion/", "mkt=us&lang=en_US"},
      {"/d/searchinventory/suggestion/", "term=a%20b%20c%20d%20e%20f%20g%20h%20i%20j%20k%20l%20m%20n%20o%20p%20q"},
      {"/d/searchinventory/suggestion/", "term=" + std::string(5000, 'x')},
      {"/search", "p=" + std::string(100000, '%')},
  };
  for (const auto& [path, query] : requests) {
    SCOPED_TRACE(path + "?" + query.substr(0, 60));
    Reply reply = service.Respond(path, query);
    EXPECT_GE(reply.status, 400);
    EXPECT_EQ(reply.body.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(reply.body.substr(reply.body.size() - 8), "</html>\n");
    EXPECT_EQ(ReadTrafficRank(reply.body), "999999999");
    EXPECT_EQ(ReadLinkCount(reply.body), "0");
    EXPECT_TRUE(ReadResultHosts(reply.body).empty());
    EXPECT_EQ(reply.body.find(" done "), std::string::npos);
    EXPECT_EQ(reply.body.find("of about"), std::string::npos);
  }
}

TEST_P(ServiceTest, OddButValidQueriesAreAnswered) {
  auto store = Reader();
  Service service(*store);
  // Search syntax in the phrase is only text; bytes of every value are harmless.
  for (std::string p : {"%22a%22+OR+%22b", "%22NEAR(dog+training)%22", "%22%00%FF%22", "*", "%22dog%22%22%22", "-dog",
                        "%22dog+training%22+AND", "%5E%5E"}) {
    SCOPED_TRACE(p);
    Reply reply = service.Respond("/search", "p=" + p + "&n=-5&b=99999999999999999999");
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("of about <b>"), std::string::npos);
  }
  EXPECT_EQ(ReadLinkCount(service.Respond("/search", "p=%22dog+training%22").body), "3");
}

TEST_P(ServiceTest, RandomQueriesAlwaysGetAWholePage) {
  auto store = Reader();
  Service service(*store);
  const std::vector<std::string> pieces = {
      "p=",    "term=",    "url=", "n=",       "b=", "&", "=", "%", "%2", "%22", "%3A", "+",
      "link:", "http://",  "www.", "\"",       "<",  ">", ";", "*", "-",  "(",   ")",   std::string(1, '\0'),
      "\xFF",  "\xC3\xA9", "dog",  "training", "9",  " "};
  std::uint64_t state = 12345;
  int answered = 0;
  // A store over the network answers a few times slower: fewer queries, the same kinds.
  const int queries = GetParam() == "Sqlite" ? 3000 : 600;
  for (int i = 0; i < queries; ++i) {
    std::string query;
    int length = static_cast<int>((state = state * 6364136223846793005ULL + 1442695040888963407ULL) >> 60);
    for (int k = 0; k < length; ++k) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      query += pieces[(state >> 33) % pieces.size()];
    }
    const std::pair<const char*, const char*> endpoints[] = {
        {"/d/searchinventory/suggestion/", "term="}, {"/search", "p="}, {"/data/details/", "url="}};
    for (const auto& [path, key] : endpoints) {
      Reply reply = service.Respond(path, (i % 4 ? key : "") + query);
      ASSERT_TRUE(reply.status == 200 || reply.status == 400) << reply.status << " " << path << "?" << query;
      ASSERT_EQ(reply.body.rfind("<!DOCTYPE html>", 0), 0u);
      ASSERT_EQ(reply.body.substr(reply.body.size() - 8), "</html>\n");
      answered += reply.status == 200;
    }
  }
  // Enough of them get past the refusals to reach the database.
  EXPECT_GT(answered, queries * 4 / 3);
}

TEST_P(ServiceTest, OverHttp) {
  auto store = Reader();
  Service service(*store);
  HttpServer::Options options;
  options.workers = 4;
  HttpServer server(service, options);
  int port = server.Bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  std::thread runner([&] { server.Run(); });

  const std::string target = "/d/searchinventory/suggestion/?term=salt%20&%20pepper&mkt=us&lang=en_US";
  const std::string expected =
      service.Respond("/d/searchinventory/suggestion/", target.substr(target.find('?') + 1)).body;
  auto bodyOf = [](const std::string& reply) { return reply.substr(reply.find("\r\n\r\n") + 4); };
  std::string reply = Exchange(port, ProgramRequest(target));
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(bodyOf(reply), expected);
  // The program's requests, unencoded bytes and all, arrive as sent.
  for (std::string sent :
       {target, std::string("/d/searchinventory/suggestion/?term=CAF\xC3\xA9&mkt=us&lang=en_US"),
        std::string("/search?p=%22say+\"hi\"+<b>%22&ei=UTF-8&n=20&b=1"),
        std::string("/search?p=link%3Ahttp%3A%2F%2Fwww.top.com"), std::string("/data/details/?url=www.top.com")}) {
    SCOPED_TRACE(sent);
    size_t mark = sent.find('?');
    std::string direct = service.Respond(sent.substr(0, mark), sent.substr(mark + 1)).body;
    EXPECT_EQ(FetchPage("http://127.0.0.1:" + std::to_string(port) + sent), direct);
  }
  EXPECT_NE(service.Respond("/d/searchinventory/suggestion/", "term=CAF\xC3\xA9").body.find("caf\xC3\xA9 au lait</a>"),
            std::string::npos);

  // Requests the program never sends still get a complete page, and the server stays up.
  const std::vector<std::string> hostile = {
      ProgramRequest("/" + std::string(100000, 'a')),
      "POST /search?p=x HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello",
      "BREW /pot HTTP/1.1\r\n\r\n",
      std::string("\0\x01\x02 garbage\r\n\r\n", 16),
      "GET /search?p=%22dog HTTP/1.1\r\n",  // never finished
      "",
      ProgramRequest("/nowhere"),
  };
  for (const std::string& request : hostile) {
    std::string answer = Exchange(port, request, std::chrono::milliseconds(1000));
    if (answer.rfind("HTTP/1.1 ", 0) == 0) {
      EXPECT_GE(std::stoi(answer.substr(9, 3)), 400) << request.substr(0, 40);
      EXPECT_NE(bodyOf(answer).find("</html>"), std::string::npos) << request.substr(0, 40);
    }
  }

  // Many clients at once all get their own answers.
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 6; ++t) {
    clients.emplace_back([&, t] {
      for (int i = 0; i < 30; ++i) {
        std::string site = t % 2 ? "top.com" : "www.b.com";
        std::string answer = Exchange(port, ProgramRequest("/search?p=link%3Ahttp%3A%2F%2F" + site));
        if (ReadLinkCount(bodyOf(answer)) != "2") ++wrong;
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(bodyOf(Exchange(port, ProgramRequest(target))), expected);

  server.Stop();
  runner.join();
}

}  // namespace
}  // namespace quillet::services
