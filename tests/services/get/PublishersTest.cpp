// The rules of `get` that need no server: what the publishers' lists and headers are read as,
// which day is complete, and the addresses a request names.
#include <gtest/gtest.h>

#include <stdexcept>

#include "services/get/Download.h"
#include "services/get/Publishers.h"

namespace quillet::services {
namespace {

TEST(Publishers, PathsOfTheListsAreTakenOnlyWhenPlain) {
  struct Case {
    std::string path;
    bool safe;
    std::string text;  // TextPathFor
  };
  const std::string wat = "crawl-data/CC-MAIN-2024-22/segments/1715971057216.39/wat/CC-MAIN-2024-00000.warc.wat.gz";
  const std::string wet = "crawl-data/CC-MAIN-2024-22/segments/1715971057216.39/wet/CC-MAIN-2024-00000.warc.wet.gz";
  const Case cases[] = {
      {wat, true, wet},
      {wet, true, ""},
      {"crawl-data/x/wat/a/b.warc.wat.gz", true, ""},  // not directly in a wat folder
      {"/etc/passwd", false, ""},
      {"crawl-data/../../etc/wat/x.warc.wat.gz", false, "crawl-data/../../etc/wet/x.warc.wet.gz"},
      {"crawl-data//wat/x.warc.wat.gz", false, "crawl-data//wet/x.warc.wet.gz"},
      {"crawl-data/./x", false, ""},
      {"crawl-data/x?query", false, ""},
      {"crawl-data/x y", false, ""},
      {"crawl-data/x/", false, ""},
      {"https://evil.example/x", false, ""},
      {"..hidden/x", true, ""},
      {"", false, ""},
      {std::string(1025, 'a'), false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafePath(c.path), c.safe) << c.path;
    EXPECT_EQ(TextPathFor(c.path), c.text) << c.path;
  }
}

TEST(Publishers, TheNewestCrawlOfTheList) {
  struct Case {
    std::string json;
    std::string newest;
  };
  const Case cases[] = {
      {R"([{"id": "CC-MAIN-2024-18"}, {"id": "CC-MAIN-2024-22"}, {"id": "CC-MAIN-2023-50"}])", "CC-MAIN-2024-22"},
      {R"([{"name": "x", "id": "CC-MAIN-2024-10", "cdx-api": "https://index/"}])", "CC-MAIN-2024-10"},
      {R"([{"id": "CC-MAIN-2099-1"}, {"id": "CC-MAIN-20240-1"}, {"id": "cc-main-2030-01"}, {"id": 7}])", ""},
      {R"([{"id": "CC-MAIN-2024-18"}, )", ""},  // cut short: not to be trusted in part
      {R"({"id": "CC-MAIN-2024-18"})", ""},
      {"<html>Service unavailable</html>", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NewestCrawl(c.json), c.newest) << c.json;
}

TEST(Publishers, RetryAfterInSecondsOrAsADate) {
  // Sun, 06 Nov 1994 08:49:37 GMT
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(784111777));
  struct Case {
    std::string value;
    long long ms;
  };
  const Case cases[] = {
      {"2", 2000},
      {"0", 0},
      {"Sun, 06 Nov 1994 08:50:07 GMT", 30000},
      {"Sun, 06 Nov 1994 08:49:00 GMT", 0},  // past: at once
      {"Mon, 07 Nov 1994 08:49:37 GMT", 86400000},
      {"99999999999999", 600000},  // absurd: the longest wait
      {"soon", -1},
      {"-5", -1},
      {"Sun, 06 Foo 1994 08:50:07 GMT", -1},
      {"", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(RetryAfter(c.value, now).count(), c.ms) << c.value;
}

TEST(Publishers, TheLastDayWhoseDumpsAreAllOut) {
  struct Case {
    std::time_t now;
    std::string day;
  };
  const Case cases[] = {
      {1714618799, "2024-04-30"},  // 2024-05-02 02:59:59 UTC: the last hours of May 1 may not be out
      {1714618800, "2024-05-01"},  // 2024-05-02 03:00:00
      {1704077999, "2023-12-30"},  // 2024-01-01 02:59:59
      {1709262000, "2024-02-29"},  // 2024-03-01 03:00:00
  };
  for (const Case& c : cases) EXPECT_EQ(LastCompleteDay(c.now), c.day) << c.now;
}

// These sources name their files without asking a server.
class NoServer : public HttpClient {
 public:
  std::unique_ptr<HttpBody> Send(const HttpRequest& request) override {
    ADD_FAILURE() << "asked " << request.url;
    throw HttpError("no server here", HttpFault::kConnect);
  }
};

TEST(Publishers, AddressesOfRankListsAndPageviewHours) {
  NoServer none;
  Fetcher unused(none, nullptr, nullptr);
  GetRequest ranks{"hostranks", "", 1, false, 1000000, 24, "http://mirror.example:8080/data/"};
  auto files = ListFiles(ranks, unused, 0).files;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].url,
            "http://mirror.example:8080/data/projects/hyperlinkgraph/cc-main-2024-feb-apr-may/domain/"
            "cc-main-2024-feb-apr-may-domain-ranks.txt.gz");
  EXPECT_EQ(files[0].firstLines, 1000000);
  ranks = {"hostranks", "cc-main-2025-jan-feb-mar", 1, true, 0, 24, ""};
  EXPECT_EQ(ListFiles(ranks, unused, 0).files[0].url,
            "https://data.commoncrawl.org/projects/hyperlinkgraph/cc-main-2025-jan-feb-mar/host/"
            "cc-main-2025-jan-feb-mar-host-ranks.txt.gz");

  GetRequest views{"pageviews", "20240229", 1, false, 0, 3, ""};
  files = ListFiles(views, unused, 0).files;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[2].url, "https://dumps.wikimedia.org/other/pageviews/2024/2024-02/pageviews-20240229-020000.gz");
  views.name.clear();
  views.hours = 24;
  EXPECT_EQ(ListFiles(views, unused, 1714618800).files.back().url,
            "https://dumps.wikimedia.org/other/pageviews/2024/2024-05/pageviews-20240501-230000.gz");

  const GetRequest refused[] = {
      {"pageviews", "2023-02-29", 1, false, 0, 24, ""}, {"pageviews", "2024-13-01", 1, false, 0, 24, ""},
      {"pageviews", "yesterday", 1, false, 0, 24, ""},  {"pageviews", "2024-05-01", 1, false, 0, 25, ""},
      {"hostranks", "../../x", 1, false, 0, 24, ""},    {"hostranks", "", 1, false, 0, 24, "ftp://mirror.example/"},
      {"everything", "", 1, false, 0, 24, ""},
  };
  for (const GetRequest& request : refused)
    EXPECT_THROW(ListFiles(request, unused, 0), std::invalid_argument) << request.what << " " << request.name;
}

}  // namespace
}  // namespace quillet::services
