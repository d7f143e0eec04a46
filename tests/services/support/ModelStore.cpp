#include "tests/services/support/ModelStore.h"

#include <algorithm>

#include "services/Limits.h"
#include "services/store/Rules.h"
#include "services/text/Hosts.h"
#include "services/text/Words.h"

namespace quillet::services::testing {
namespace {

class ModelWriter : public StoreWriter {
 public:
  explicit ModelWriter(ModelStore::Data& committed) : committed_(committed) { now_.data = committed; }

  Put PutKeyword(const std::string& term, std::int64_t searches) override {
    bool existed = now_.data.keywords.count(term) > 0;
    now_.data.keywords[term] = searches;
    return existed ? Put::Replaced : Put::Added;
  }
  Put PutRank(const std::string& host, std::int64_t rank) override {
    std::string domain = NormalizeHost(host);
    auto old = now_.data.ranks.find(domain);
    bool existed = old != now_.data.ranks.end();
    if (existed && now_.ranked.count(domain) && old->second <= rank) return Put::Kept;
    now_.data.ranks[domain] = rank;
    now_.ranked.insert(domain);
    return existed ? Put::Replaced : Put::Added;
  }
  bool AddPage(const PageInput& input) override {
    if (now_.data.byUrl.count(input.url)) return false;
    ModelStore::Page page;
    page.url = input.url;
    page.host = NormalizeHost(input.url);
    SetWords(page, input.title, input.text);
    AddLinks(page, input.links);
    now_.data.byUrl[page.url] = now_.data.pages.size();
    now_.data.pages.push_back(std::move(page));
    return true;
  }
  Merge MergePage(const PageInput& input) override {
    auto stored = now_.data.byUrl.find(input.url);
    if (stored == now_.data.byUrl.end()) return AddPage(input) ? Merge::Added : Merge::Unchanged;
    ModelStore::Page& page = now_.data.pages[stored->second];
    std::string title = input.title.empty() ? page.title : input.title;
    std::string text = page.text.empty() ? input.text : page.text;
    bool changed = title != page.title || text != page.text;
    SetWords(page, title, text);
    if (AddLinks(page, input.links)) changed = true;
    return changed ? Merge::Updated : Merge::Unchanged;
  }
  void TallyKeyword(const std::string& term, std::int64_t count) override {
    std::int64_t& total = now_.tally[term];
    total = std::min(total + std::min(count, limits::kMaxDemandTotal), limits::kMaxDemandTotal);
  }
  TallyResult StoreTally(std::int64_t multiply, std::int64_t divide) override {
    CheckTallyScale(multiply, divide);
    TallyResult result;
    for (const auto& [term, total] : now_.tally) PutTallied(*this, term, total, multiply, divide, &result);
    now_.tally.clear();
    return result;
  }
  void Mark() override { mark_ = now_; }
  void ReleaseMark() override {}
  void RollBackToMark() override { now_ = mark_; }
  // Sources are not modelled: no import here asks for one.
  void RecordSource(const SourceRecord&) override {}
  bool HasSource(const std::string&, std::int64_t) override { return false; }
  void Commit() override { committed_ = now_.data; }

 private:
  static void SetWords(ModelStore::Page& page, const std::string& title, const std::string& text) {
    page.title = title;
    page.text = text;
    page.titleWords = Words(title);
    page.textWords = Words(text);
  }
  // Whether a link counted for a host it had not counted for yet.
  bool AddLinks(const ModelStore::Page& page, const std::vector<std::string>& links) {
    bool added = false;
    for (const std::string& host : LinkHosts(page.host, links))
      if (now_.data.linkedFrom[host].insert(page.url).second) added = true;
    return added;
  }

  // What a mark returns to.
  struct State {
    ModelStore::Data data;
    std::set<std::string> ranked;  // domains given a rank by this import
    std::map<std::string, std::int64_t> tally;
  };
  ModelStore::Data& committed_;
  State now_, mark_;
};

bool HoldsRun(const std::vector<std::string>& words, const std::vector<std::string>& phrase) {
  return std::search(words.begin(), words.end(), phrase.begin(), phrase.end()) != words.end();
}

}  // namespace

std::unique_ptr<StoreWriter> ModelStore::Writer() { return std::make_unique<ModelWriter>(data_); }

std::vector<std::size_t> ModelStore::Matches(const TextQuery& query) const {
  std::vector<std::vector<std::string>> phrases = QueryPhrases(query);
  std::vector<std::size_t> matches;
  if (phrases.empty()) return matches;
  for (std::size_t i = 0; i < data_.pages.size(); ++i) {
    const Page& page = data_.pages[i];
    // Each phrase within one column, the phrases of words anywhere in either.
    if (std::all_of(phrases.begin(), phrases.end(), [&](const std::vector<std::string>& phrase) {
          return HoldsRun(page.titleWords, phrase) || HoldsRun(page.textWords, phrase);
        }))
      matches.push_back(i);
  }
  return matches;
}

std::int64_t ModelStore::CountMatches(const TextQuery& query, Deadline) {
  return static_cast<std::int64_t>(Matches(query).size());
}

std::vector<ResultItem> ModelStore::FindPages(const TextQuery& query, std::int64_t offset, int limit,
                                              Deadline deadline) {
  std::vector<ResultItem> items;
  if (limit <= 0) return items;
  std::vector<std::vector<std::string>> phrases = QueryPhrases(query);
  std::vector<Candidate> candidates;
  std::map<std::string, std::optional<std::int64_t>> ranks;
  for (std::size_t i : Matches(query)) {
    if (candidates.size() == static_cast<std::size_t>(limits::kMaxCandidates)) break;
    const Page& page = data_.pages[i];
    auto rank = ranks.find(page.host);
    if (rank == ranks.end()) rank = ranks.emplace(page.host, FindRank(page.host, deadline)).first;
    candidates.push_back({static_cast<std::int64_t>(i), page.host, rank->second, TitleHolds(page.title, phrases)});
  }
  for (const Candidate& chosen : RankResults(std::move(candidates), offset, limit)) {
    const Page& page = data_.pages[static_cast<std::size_t>(chosen.page)];
    items.push_back({page.url, page.title, Snippet(page.text)});
  }
  return items;
}

std::int64_t ModelStore::CountLinks(std::string_view host, Deadline) {
  auto linked = data_.linkedFrom.find(NormalizeHost(host));
  return linked == data_.linkedFrom.end() ? 0 : static_cast<std::int64_t>(linked->second.size());
}

std::optional<std::int64_t> ModelStore::FindRank(std::string_view host, Deadline) {
  for (const std::string& domain : RankDomains(host)) {
    auto rank = data_.ranks.find(domain);
    if (rank != data_.ranks.end()) return rank->second;
  }
  return std::nullopt;
}

StoreCounts ModelStore::Counts() {
  return {static_cast<std::int64_t>(data_.pages.size()), static_cast<std::int64_t>(data_.keywords.size()),
          static_cast<std::int64_t>(data_.ranks.size())};
}

}  // namespace quillet::services::testing
