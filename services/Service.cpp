#include "services/Service.h"

#include <charconv>
#include <exception>

#include "services/Pages.h"
#include "services/Query.h"
#include "services/Store.h"

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

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Both spellings of the path, with and without the trailing slash, are the same page.
bool SamePath(std::string_view path, std::string_view wanted) {
  if (path == wanted) return true;
  if (!wanted.empty() && wanted.back() == '/') return path == wanted.substr(0, wanted.size() - 1);
  return path.size() == wanted.size() + 1 && path.back() == '/' && StartsWith(path, wanted);
}

}  // namespace

Service::Service(std::string dbPath) : path_(std::move(dbPath)) {
  // An import that was killed leaves a journal behind that only a writer can roll back;
  // read-only connections would refuse the file until then.
  try {
    Database writer(path_, Database::Mode::ReadWrite);
    writer.Exec("SELECT count(*) FROM sqlite_master");
  } catch (const DbError&) {
    // Not writable (or not there): the read-only open below tells which.
  }
  auto db = std::make_unique<Database>(path_, Database::Mode::ReadOnly);
  // Fails here, at start-up, rather than on the first request when the file is no data set.
  db->Prepare("SELECT count(*) FROM keywords, ranks, pages, links, page_text LIMIT 0");
  Return(std::move(db));
}

std::unique_ptr<Database> Service::Borrow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      auto db = std::move(idle_.back());
      idle_.pop_back();
      return db;
    }
  }
  auto db = std::make_unique<Database>(path_, Database::Mode::ReadOnly);
  db->Exec("PRAGMA mmap_size = 268435456; PRAGMA cache_size = -16000;");
  return db;
}

void Service::Return(std::unique_ptr<Database> db) {
  std::lock_guard<std::mutex> lock(mutex_);
  idle_.push_back(std::move(db));
}

Reply Service::Respond(std::string_view path, std::string_view rawQuery) {
  try {
    if (rawQuery.size() > kMaxQueryLength) return Refuse(414, "The query is too long.");
    bool suggest = SamePath(path, kSuggestionPath);
    bool search = SamePath(path, kSearchPath);
    bool traffic = SamePath(path, kTrafficPath);
    if (!suggest && !search && !traffic) return Refuse(404, "There is no page at this address.");
    std::unique_ptr<Database> db = Borrow();
    Reply reply = suggest  ? Suggest(*db, rawQuery)
                  : search ? Search(*db, rawQuery)
                           : Traffic(*db, rawQuery);
    Return(std::move(db));
    return reply;
  } catch (const std::exception&) {
    return {500, RenderMessagePage("Service error", "The request could not be answered.")};
  }
}

Reply Service::Suggest(Database& db, std::string_view rawQuery) {
  // The program sends a topic's blanks as %20 and everything else unencoded, so a '+' here
  // is part of the topic ("c++").
  auto params = ParseQuery(rawQuery, {"term", "mkt", "lang"}, false);
  auto term = params.find("term");
  if (term == params.end()) return Refuse(400, "The request names no term.");
  std::vector<std::string> words = SplitWords(term->second);
  if (words.size() > kMaxTopicWords) return Refuse(400, "The term has too many words.");
  if (words.empty()) return {200, RenderMessagePage("Keyword suggestions", "Enter a term to see suggestions.")};
  return {200, RenderSuggestionPage(term->second, FindSuggestions(db, words, kMaxSuggestions))};
}

Reply Service::Search(Database& db, std::string_view rawQuery) {
  auto params = ParseQuery(rawQuery, {"p", "ei", "n", "b", "fr"});
  auto p = params.find("p");
  if (p == params.end()) return Refuse(400, "The request names no search.");
  std::string query = p->second;
  std::string lowered = Lower(query);
  if (StartsWith(lowered, "link:")) {
    std::string host = NormalizeHost(query.substr(5));
    if (host.empty()) return Refuse(400, "The link search names no site.");
    return {200, RenderSearchPage(query, CountLinks(db, host), 1, {})};
  }
  bool quoted = query.size() >= 2 && query.front() == '"' && query.back() == '"';
  std::string text = quoted ? query.substr(1, query.size() - 2) : query;
  if (SplitWords(text).empty()) return Refuse(400, "The search is empty.");
  std::string expression = MatchExpression(text, quoted);
  std::int64_t count = CountMatches(db, expression);
  std::int64_t n = NumberParameter(params, "n", kDefaultResults, 0, kMaxResults);
  std::int64_t b = NumberParameter(params, "b", 1, 1, kMaxFirstResult);
  std::vector<ResultItem> items;
  if (count >= b) items = FindPages(db, expression, b - 1, static_cast<int>(n));
  return {200, RenderSearchPage(query, count, b, items)};
}

Reply Service::Traffic(Database& db, std::string_view rawQuery) {
  auto params = ParseQuery(rawQuery, {"url"});
  auto url = params.find("url");
  if (url == params.end()) return Refuse(400, "The request names no site.");
  std::string host = NormalizeHost(url->second);
  if (host.empty()) return Refuse(400, "The request names no site.");
  return {200, RenderTrafficPage(Lower(url->second), FindRank(db, host))};
}

}  // namespace quillet::services
