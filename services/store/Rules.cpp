#include "services/store/Rules.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "services/Limits.h"
#include "services/text/Hosts.h"
#include "services/text/Words.h"

namespace quillet::services {

std::string Snippet(std::string_view text) {
  std::size_t chars = 0, i = 0;
  for (; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == kSnippetLength) break;
  return std::string(text.substr(0, i));
}

std::vector<std::vector<std::string>> QueryPhrases(const TextQuery& query) {
  std::vector<std::vector<std::string>> phrases;
  auto add = [&](std::string_view text) {
    std::vector<std::string> words = Words(text);
    if (!words.empty()) phrases.push_back(std::move(words));
  };
  if (query.phrase) add(query.text);
  else
    for (const std::string& piece : BlankSeparated(query.text)) add(piece);
  return phrases;
}

bool TitleHolds(std::string_view title, const std::vector<std::vector<std::string>>& phrases) {
  // Words bounded by blanks on both sides, so that a phrase is a plain substring.
  std::string words = " " + NormalizedText(title) + " ";
  for (const std::vector<std::string>& phrase : phrases) {
    std::string run = " ";
    for (const std::string& word : phrase) run += word + " ";
    if (words.find(run) == std::string::npos) return false;
  }
  return !phrases.empty();
}

std::vector<Candidate> RankResults(std::vector<Candidate> candidates, std::int64_t offset, int limit) {
  // Stable: candidates that tie keep their stored order.
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.rank.has_value() != b.rank.has_value()) return a.rank.has_value();
    if (a.rank != b.rank) return *a.rank < *b.rank;
    return a.titleHolds && !b.titleHolds;
  });
  std::vector<Candidate> chosen;
  std::unordered_map<std::string, int> perHost;
  for (Candidate& candidate : candidates) {
    if (static_cast<int>(chosen.size()) >= limit) break;
    if (++perHost[candidate.host] > kResultsPerHost) continue;
    if (offset > 0) {
      --offset;
      continue;
    }
    chosen.push_back(std::move(candidate));
  }
  return chosen;
}

std::vector<std::string> SuggestionWords(std::string_view text) {
  std::vector<std::string> words = Words(text);
  std::vector<std::string> distinct;
  for (std::string& word : words)
    if (std::find(distinct.begin(), distinct.end(), word) == distinct.end()) distinct.push_back(std::move(word));
  return distinct;
}

std::vector<std::string> RankDomains(std::string_view host) {
  std::vector<std::string> domains = {NormalizeHost(host)};
  while (true) {
    const std::string& last = domains.back();
    std::size_t dot = last.find('.');
    if (last.empty() || dot == std::string::npos || last.find('.', dot + 1) == std::string::npos) break;
    domains.push_back(last.substr(dot + 1));
  }
  if (domains.front().empty()) domains.clear();
  return domains;
}

std::vector<std::string> LinkHosts(std::string_view ownHost, const std::vector<std::string>& links) {
  std::vector<std::string> hosts;
  for (const std::string& link : links) {
    std::string target = NormalizeHost(link);
    if (!target.empty() && target != ownHost) hosts.push_back(std::move(target));
  }
  std::sort(hosts.begin(), hosts.end());
  hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
  return hosts;
}

void CheckTallyScale(std::int64_t multiply, std::int64_t divide) {
  if (divide < 1 || multiply < 0 || multiply > (std::int64_t{1} << 20))
    throw std::invalid_argument("StoreTally: multiplier out of range");
}

std::int64_t TalliedSearches(std::int64_t total, std::int64_t multiply, std::int64_t divide) {
  // Totals stop at 2^40 and multipliers at 2^20: the product cannot overflow.
  std::int64_t product = std::min(total, limits::kMaxDemandTotal) * multiply;
  std::int64_t searches = product / divide + (2 * (product % divide) >= divide ? 1 : 0);
  return std::min<std::int64_t>(searches, 2147483647);
}

void PutTallied(StoreWriter& store, const std::string& term, std::int64_t total, std::int64_t multiply,
                std::int64_t divide, TallyResult* result) {
  if (store.PutKeyword(term, TalliedSearches(total, multiply, divide)) == StoreWriter::Put::Added) ++result->added;
  else ++result->replaced;
}

}  // namespace quillet::services
