#include "tests/services/support/ProgramRules.h"

#include "tests/services/support/Fixtures.h"
#include "research/AffiliateSearch.h"
#include "research/CategoryResearch.h"

namespace quillet::services::testing {
namespace {

// The program's affiliate search with every fetch answered by the given page.
struct Search {
  explicit Search(const std::string& page)
      : search(
            window, list, [page](const std::string&) { return page; }, LocalHosts(), stop2Flag) {}
  QuietWindow window;
  FakeList list;
  bool stop2Flag = false;
  AffiliateSearch search;
};

}  // namespace

std::vector<std::vector<std::string>> ResearchRows(Service& service, const std::string& topic) {
  QuietWindow window;
  FakeList list;
  bool stopFlag = false;
  CategoryResearch research(window, list, ServiceFetcher(service), LocalHosts(), stopFlag, '.');
  research.ResearchCategory(topic);
  std::vector<std::vector<std::string>> rows;
  for (const FakeRow& row : list.rows) {
    rows.push_back({row.caption});
    rows.back().insert(rows.back().end(), row.subItems.begin(), row.subItems.end());
  }
  return rows;
}

std::vector<std::string> ReadResultHosts(const std::string& page) {
  // The lookups of each row get an empty page; only the Website URL column is read here.
  QuietWindow window;
  FakeList list;
  bool stop2Flag = false;
  AffiliateSearch search(
      window, list, [](const std::string&) { return std::string(); }, LocalHosts(), stop2Flag);
  search.ReadSearchResults(page, 0);
  std::vector<std::string> hosts;
  for (const FakeRow& row : list.rows) hosts.push_back(row.caption);
  return hosts;
}

std::string ReadLinkCount(const std::string& page) { return Search(page).search.EstimateAffiliates("site.com"); }

std::string ReadTrafficRank(const std::string& page) { return Search(page).search.LookupTrafficRank("site.com"); }

}  // namespace quillet::services::testing
