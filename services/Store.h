#pragma once
// The data set behind the pages: schema, the writes of the importers and the demo builder,
// and the read queries of the service. Hosts are kept normalised (NormalizeHost).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "services/Database.h"
#include "services/Pages.h"

namespace quillet::services {

// Creates the tables when they are missing; leaves existing data alone.
void CreateSchema(Database& db);

// Prepared inserts for one writing connection; use inside a Transaction.
class Writer {
 public:
  explicit Writer(Database& db);

  // term must already be normalised (see NormalizeTerm). Returns false when the term was
  // present; its count is then replaced.
  bool PutKeyword(const std::string& term, std::int64_t searches);
  // Returns false, changing nothing, when a page with this address is already stored.
  // Links to the page's own host are not counted as links.
  bool AddPage(std::string_view url, std::string_view title, std::string_view text,
               const std::vector<std::string>& links);
  // domain is normalised here. Returns false when the domain had a rank (it is replaced).
  bool PutRank(std::string_view domain, std::int64_t rank);

 private:
  std::int64_t HostId(const std::string& host);

  Database& db_;
  Statement putKeyword_, findKeyword_, putWord_, findHost_, putHost_, putPage_, putText_, putLink_,
      findRank_, putRank_;
  std::unordered_map<std::string, std::int64_t> hostIds_;
};

// A search term as stored: ASCII lower case, blanks collapsed to single spaces, trimmed.
// Empty optional, with the reason in *why, for a term the suggestion page could not carry
// ('<', '>', ';', control characters) or an empty or over-long one.
std::optional<std::string> NormalizeTerm(std::string_view text, std::string* why);

// FTS5 expression for an exact phrase, or for all the words when quoted is false. Empty when
// the text has nothing a page could match.
std::string MatchExpression(std::string_view text, bool quoted);

// Terms holding every one of the words (whole words, lower case), most searched first.
std::vector<Suggestion> FindSuggestions(Database& db, const std::vector<std::string>& words, int limit);
std::int64_t CountMatches(Database& db, const std::string& expression);
// Matching pages in the order they were stored (importers and the demo store the best
// first: ranking every match of a common word on each request would cost far too much), at
// most two per host, skipping offset of them.
std::vector<ResultItem> FindPages(Database& db, const std::string& expression, std::int64_t offset, int limit);
// Pages on other hosts that link to the host (normalised here).
std::int64_t CountLinks(Database& db, std::string_view host);
// Rank of the host, or of the nearest parent domain that has one.
std::optional<std::int64_t> FindRank(Database& db, std::string_view host);

}  // namespace quillet::services
