#pragma once
// A store that answers by brute force: every page's words searched in turn for each query,
// links and ranks in plain maps, no index and no running counts. Slow and plainly right, so
// that a real store's answers can be checked against it however that store computes them.
// The rules every store shares (Rules.h) are used as they are. For one thread only.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "services/store/Store.h"

namespace quillet::services::testing {

class ModelStore : public StoreReader {
 public:
  struct Page {
    std::string url, host, title, text;
    std::vector<std::string> titleWords, textWords;
  };
  struct Data {
    std::vector<Page> pages;  // in stored order
    std::map<std::string, std::size_t> byUrl;
    std::map<std::string, std::set<std::string>> linkedFrom;  // host: urls of the pages that link to it
    std::map<std::string, std::int64_t> ranks, keywords;
  };

  // One import: nothing of it shows before its Commit.
  std::unique_ptr<StoreWriter> Writer();

  // Suggestions and sources are not modelled.
  std::vector<Suggestion> FindSuggestions(const std::vector<std::string>&, int, Deadline) override {
    throw std::logic_error("ModelStore: no suggestions");
  }
  std::int64_t CountMatches(const TextQuery& query, Deadline deadline) override;
  std::vector<ResultItem> FindPages(const TextQuery& query, std::int64_t offset, int limit, Deadline deadline) override;
  std::int64_t CountLinks(std::string_view host, Deadline deadline) override;
  std::optional<std::int64_t> FindRank(std::string_view host, Deadline deadline) override;
  std::vector<SourceRecord> Sources() override { return {}; }
  StoreCounts Counts() override;

 private:
  // The stored pages that hold the query, in stored order.
  std::vector<std::size_t> Matches(const TextQuery& query) const;

  Data data_;
};

}  // namespace quillet::services::testing
