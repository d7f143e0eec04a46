#pragma once
// The rules of an answer that do not depend on where the data is kept, written once for
// every store: how a search is read, which rank a host gets, which links count, what a
// result shows and how summed demand becomes searches.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/store/Store.h"

namespace quillet::services {

// A result shows the first characters of the page text. A result list names competing
// sites, so it shows one page of each: the best-placed.
constexpr std::size_t kSnippetLength = 160;
constexpr int kResultsPerHost = 1;

// The text a result shows: the first kSnippetLength characters of the page text (which is
// well-formed UTF-8). prefix may be longer than needed, and may end inside a character.
std::string Snippet(std::string_view text);
// Bytes of the page text that always hold its snippet.
constexpr std::size_t kSnippetBytes = 4 * kSnippetLength;

// The phrases a page must hold for the search, each as the folded words of the word
// splitter: one phrase of all the words, or, for words anywhere on the page, each
// blank-separated piece a phrase of its own words. Pieces without words are left out; no
// phrase at all means that no page can match.
std::vector<std::vector<std::string>> QueryPhrases(const TextQuery& query);

// A page that matches a search, as a store hands it to RankResults: its id in the store, its
// site (the normalised host), the site's rank (RankDomains; none when neither the host nor a
// parent domain has one) and whether its title holds the search (TitleHolds).
struct Candidate {
  std::int64_t page = 0;
  std::string host;
  std::optional<std::int64_t> rank;
  bool titleHolds = false;
};

// Whether the title holds every phrase of the search, each as a run of its words, as the
// full-text index would match it in the title alone.
bool TitleHolds(std::string_view title, const std::vector<std::vector<std::string>>& phrases);

// The order of a result list, for candidates given in the order they were first stored:
// pages of ranked sites first, the better (lower) rank first; then pages whose title holds
// the search; then stored order. Of a site's pages only the first kResultsPerHost in this
// order are listed. Returns the candidates of the list from the offset-th on, at most limit.
std::vector<Candidate> RankResults(std::vector<Candidate> candidates, std::int64_t offset, int limit);

// The words by which a stored term is found for a topic, and the words of a topic: the word
// splitter's words (letters and digits, folded; punctuation between words), each once. A
// term is suggested for a topic when it has every word of the topic, so "nestle" finds
// "Nestlé products" and "qust al-hindi" finds "qust al hindi pulver".
std::vector<std::string> SuggestionWords(std::string_view text);

// The names a host's rank is looked up under, best first: the host itself (normalised),
// then each parent domain, never a bare top-level name ("blog.example.com",
// "example.com"). The first one that has a rank gives it.
std::vector<std::string> RankDomains(std::string_view host);

// The hosts a page's links count for: each link's normalised host, without empty ones and
// the page's own host, sorted, each once.
std::vector<std::string> LinkHosts(std::string_view ownHost, const std::vector<std::string>& links);

// Throws std::invalid_argument unless 1 <= divide and 0 <= multiply <= 2^20.
void CheckTallyScale(std::int64_t multiply, std::int64_t divide);
// The searches StoreTally puts for a total: total * multiply / divide rounded to the nearest
// whole number (halves up), the total capped at limits::kMaxDemandTotal and the result at
// 2147483647.
std::int64_t TalliedSearches(std::int64_t total, std::int64_t multiply, std::int64_t divide);
// Puts one term of the tally as StoreTally does, and counts it in *result.
void PutTallied(StoreWriter& store, const std::string& term, std::int64_t total, std::int64_t multiply,
                std::int64_t divide, TallyResult* result);

}  // namespace quillet::services
