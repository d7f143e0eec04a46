#include "services/serve/Service.h"

#include <charconv>
#include <exception>

#include "services/serve/HtmlPages.h"
#include "services/serve/Query.h"
#include "services/store/Rules.h"
#include "services/text/Hosts.h"
#include "services/text/Strings.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

constexpr std::string_view kSuggestionPath = "/d/searchinventory/suggestion/";
constexpr std::string_view kSearchPath = "/search";
constexpr std::string_view kTrafficPath = "/data/details/";
constexpr int kDefaultResults = 10;

Reply Refuse(int status, std::string_view message) {
  return {status, RenderMessagePage("Request not understood", message)};
}

// A decimal number within [low, high]; fallback for a missing or unreadable one.
std::int64_t NumberParameter(const std::map<std::string, std::string>& params, const std::string& key,
                             std::int64_t fallback, std::int64_t low, std::int64_t high) {
  auto it = params.find(key);
  if (it == params.end()) return fallback;
  std::int64_t value = 0;
  const std::string& text = it->second;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return fallback;
  return value < low ? low : value > high ? high : value;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Both spellings of the path, with and without the trailing slash, are the same page.
bool SamePath(std::string_view path, std::string_view wanted) {
  if (path == wanted) return true;
  if (!wanted.empty() && wanted.back() == '/') return path == wanted.substr(0, wanted.size() - 1);
  return path.size() == wanted.size() + 1 && path.back() == '/' && StartsWith(path, wanted);
}

}  // namespace

Service::Service(StoreReader& store, std::chrono::milliseconds budget) : store_(store), budget_(budget) {}

Reply Service::Respond(std::string_view path, std::string_view rawQuery) {
  try {
    if (rawQuery.size() > limits::kMaxQueryLength) return Refuse(414, "The query is too long.");
    bool suggest = SamePath(path, kSuggestionPath);
    bool search = SamePath(path, kSearchPath);
    bool traffic = SamePath(path, kTrafficPath);
    if (!suggest && !search && !traffic) return Refuse(404, "There is no page at this address.");
    Deadline deadline = Deadline::In(budget_);
    return suggest ? Suggest(rawQuery, deadline) : search ? Search(rawQuery, deadline) : Traffic(rawQuery, deadline);
  } catch (const NoAnswer&) {
    return {503, RenderMessagePage("Service busy", "The request could not be answered in time.")};
  } catch (const std::exception&) {
    return {500, RenderMessagePage("Service error", "The request could not be answered.")};
  }
}

Reply Service::Suggest(std::string_view rawQuery, Deadline deadline) {
  // The program sends a topic's blanks as %20 and everything else unencoded, so a '+' here
  // is part of the topic ("c++").
  auto params = ParseQuery(rawQuery, {"term", "mkt", "lang"}, false);
  auto term = params.find("term");
  if (term == params.end()) return Refuse(400, "The request names no term.");
  std::vector<std::string> words = SuggestionWords(term->second);
  if (words.size() > limits::kMaxWords) return Refuse(400, "The term has too many words.");
  if (words.empty()) return {200, RenderMessagePage("Keyword suggestions", "Enter a term to see suggestions.")};
  return {200, RenderSuggestionPage(term->second, store_.FindSuggestions(words, limits::kMaxSuggestions, deadline))};
}

Reply Service::Search(std::string_view rawQuery, Deadline deadline) {
  const std::vector<std::string_view> keys = {"p", "ei", "n", "b", "fr"};
  std::map<std::string, std::string> params;
  if (!ParseQuotedSearch(rawQuery, keys, &params)) params = ParseQuery(rawQuery, keys);
  auto p = params.find("p");
  if (p == params.end()) return Refuse(400, "The request names no search.");
  std::string query = p->second;
  std::string lowered = Lower(query);
  if (StartsWith(lowered, "link:")) {
    std::string host = NormalizeHost(query.substr(5));
    if (host.empty()) return Refuse(400, "The link search names no site.");
    return {200, RenderSearchPage(query, store_.CountLinks(host, deadline), 1, {})};
  }
  bool quoted = query.size() >= 2 && query.front() == '"' && query.back() == '"';
  TextQuery text{quoted ? query.substr(1, query.size() - 2) : query, quoted};
  if (BlankSeparated(text.text).empty()) return Refuse(400, "The search is empty.");
  // Each word of a phrase costs a walk over its pages: their number is what bounds the cost.
  if (Words(text.text).size() > limits::kMaxWords) return Refuse(400, "The search has too many words.");
  std::int64_t count = store_.CountMatches(text, deadline);
  std::int64_t n = NumberParameter(params, "n", kDefaultResults, 0, limits::kMaxResults);
  std::int64_t b = NumberParameter(params, "b", 1, 1, limits::kMaxFirstResult);
  std::vector<ResultItem> items;
  if (count >= b) items = store_.FindPages(text, b - 1, static_cast<int>(n), deadline);
  return {200, RenderSearchPage(query, count, b, items)};
}

Reply Service::Traffic(std::string_view rawQuery, Deadline deadline) {
  auto params = ParseQuery(rawQuery, {"url"});
  auto url = params.find("url");
  if (url == params.end()) return Refuse(400, "The request names no site.");
  std::string host = NormalizeHost(url->second);
  if (host.empty()) return Refuse(400, "The request names no site.");
  return {200, RenderTrafficPage(Lower(url->second), store_.FindRank(host, deadline))};
}

}  // namespace quillet::services
