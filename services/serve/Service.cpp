#include "services/serve/Service.h"

#include <charconv>
#include <exception>

#include "services/serve/HtmlPages.h"
#include "services/serve/Log.h"
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
// How much of a request's target a log line quotes.
constexpr std::size_t kLoggedTarget = 300;

using Prepared = Service::Prepared;

Prepared Refuse(int status, std::string_view message) {
  return {Reply{status, RenderMessagePage("Request not understood", message)}, nullptr};
}

Prepared Answer(Reply reply) { return {std::move(reply), nullptr}; }

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

Prepared Suggest(StoreReader& store, std::string_view rawQuery) {
  // The program sends a topic's blanks as %20 and everything else unencoded, so a '+' here
  // is part of the topic ("c++").
  auto params = ParseQuery(rawQuery, {"term", "mkt", "lang"}, false);
  auto term = params.find("term");
  if (term == params.end()) return Refuse(400, "The request names no term.");
  std::vector<std::string> words = SuggestionWords(term->second);
  if (words.size() > limits::kMaxWords) return Refuse(400, "The term has too many words.");
  if (words.empty()) return Answer({200, RenderMessagePage("Keyword suggestions", "Enter a term to see suggestions.")});
  return {
      std::nullopt, [&store, topic = term->second, words = std::move(words)](Deadline deadline) {
        return Reply{200, RenderSuggestionPage(topic, store.FindSuggestions(words, limits::kMaxSuggestions, deadline))};
      }};
}

Prepared Search(StoreReader& store, std::string_view rawQuery) {
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
    return {std::nullopt, [&store, query, host](Deadline deadline) {
              return Reply{200, RenderSearchPage(query, store.CountLinks(host, deadline), 1, {})};
            }};
  }
  bool quoted = query.size() >= 2 && query.front() == '"' && query.back() == '"';
  TextQuery text{quoted ? query.substr(1, query.size() - 2) : query, quoted};
  if (BlankSeparated(text.text).empty()) return Refuse(400, "The search is empty.");
  // Each word of a phrase costs a walk over its pages: their number is what bounds the cost.
  if (Words(text.text).size() > limits::kMaxWords) return Refuse(400, "The search has too many words.");
  std::int64_t n = NumberParameter(params, "n", kDefaultResults, 0, limits::kMaxResults);
  std::int64_t b = NumberParameter(params, "b", 1, 1, limits::kMaxFirstResult);
  return {std::nullopt, [&store, query, text, n, b](Deadline deadline) {
            std::int64_t count = store.CountMatches(text, deadline);
            std::vector<ResultItem> items;
            if (count >= b) items = store.FindPages(text, b - 1, static_cast<int>(n), deadline);
            return Reply{200, RenderSearchPage(query, count, b, items)};
          }};
}

Prepared Traffic(StoreReader& store, std::string_view rawQuery) {
  auto params = ParseQuery(rawQuery, {"url"});
  auto url = params.find("url");
  if (url == params.end()) return Refuse(400, "The request names no site.");
  std::string host = NormalizeHost(url->second);
  if (host.empty()) return Refuse(400, "The request names no site.");
  return {std::nullopt, [&store, shown = Lower(url->second), host](Deadline deadline) {
            return Reply{200, RenderTrafficPage(shown, store.FindRank(host, deadline))};
          }};
}

// The target as a log line may quote it: bounded, control bytes as '?'.
std::string Quoted(std::string_view target) {
  std::string out(target.substr(0, kLoggedTarget));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  if (target.size() > kLoggedTarget) out += "...";
  return out;
}

}  // namespace

Service::Service(StoreReader& store, std::chrono::milliseconds budget, Log* log)
    : store_(store), budget_(budget), log_(log) {}

Reply Service::Busy() { return {503, RenderMessagePage("Service busy", "The request could not be answered in time.")}; }

Prepared Service::Prepare(std::string_view path, std::string_view rawQuery) const {
  try {
    if (rawQuery.size() > limits::kMaxQueryLength) return Refuse(414, "The query is too long.");
    if (SamePath(path, kSuggestionPath)) return Suggest(store_, rawQuery);
    if (SamePath(path, kSearchPath)) return Search(store_, rawQuery);
    if (SamePath(path, kTrafficPath)) return Traffic(store_, rawQuery);
    return Refuse(404, "There is no page at this address.");
  } catch (const std::exception&) {
    return Answer({500, RenderMessagePage("Service error", "The request could not be answered.")});
  }
}

Reply Service::Run(const Prepared& prepared, Deadline deadline, std::string_view target, bool costly) {
  if (prepared.reply) return *prepared.reply;
  bool probe = false;
  if (stalled_.load()) {
    // One request at a time sees whether the store answers again; the others do not wait.
    if (probing_.exchange(true)) return Busy();
    probe = true;
  }
  auto started = Deadline::Clock::now();
  std::string failure;
  Reply reply;
  try {
    reply = prepared.work(deadline);
  } catch (const NoAnswer& error) {
    failure = error.what();
    reply = Busy();
  } catch (const std::exception& error) {
    failure = error.what();
    reply = {500, RenderMessagePage("Service error", "The request could not be answered.")};
  }
  if (probe) probing_ = false;
  if (failure.empty()) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastAnswer_ = Deadline::Clock::now();
    if (stalled_.exchange(false) && log_) log_->Line("the store answers again");
    return reply;
  }
  if (deadline.Abandoned()) return reply;  // the client has gone: nothing of note
  bool stalledNow = false;
  if (deadline.Passed() && !costly) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Nothing answered since this request started: the store itself is stuck, not the query.
    stalledNow = lastAnswer_ < started && !stalled_.exchange(true);
  }
  if (costly && deadline.Passed()) {
    // Expected of a request known to be costly; counted, not a line each.
    if (log_) log_->Count("costly requests out of time");
    return reply;
  }
  if (log_) {
    log_->Line("store failure (" + std::to_string(reply.status) + ") for " + Quoted(target) + ": " + failure);
    if (stalledNow)
      log_->Line("the store has answered nothing for " + std::to_string(budget_.count()) +
                 " ms: requests get 503 at once until it answers again");
  }
  return reply;
}

Reply Service::Respond(std::string_view path, std::string_view rawQuery) {
  Prepared prepared = Prepare(path, rawQuery);
  std::string target(path);
  if (!rawQuery.empty()) target += "?" + std::string(rawQuery);
  return Run(prepared, Deadline::In(budget_), target);
}

}  // namespace quillet::services
