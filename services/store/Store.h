#pragma once
// What the service reads and the importers write, whatever holds the data. Every store gives
// the same answers for the same data; the pages rendered from them are the same byte for byte.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::services {

struct Suggestion {
  // As stored (NormalizeTerm): case folded, never '<', '>' or ';'. A store written by other
  // means may hold anything, and pages render it safely.
  std::string term;
  std::int64_t searches;  // monthly searches
};

struct ResultItem {
  std::string url;
  std::string title;
  std::string snippet;
};

// When a request's time in the store is up: at a point in time, or earlier when its client
// has gone (the flag, owned by the caller, is set from another thread).
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;
  static Deadline None() { return Deadline(Clock::time_point::max(), nullptr); }
  static Deadline In(std::chrono::milliseconds budget) { return Deadline(Clock::now() + budget, nullptr); }
  static Deadline Until(Clock::time_point at, const std::atomic<bool>* abandoned) { return Deadline(at, abandoned); }
  Clock::time_point At() const { return at_; }
  bool Abandoned() const { return abandoned_ && abandoned_->load(std::memory_order_relaxed); }
  bool Passed() const { return Abandoned() || Clock::now() >= at_; }
  // The flag, for a store that checks it on its own (may be null).
  const std::atomic<bool>* AbandonedFlag() const { return abandoned_; }

 private:
  Deadline(Clock::time_point at, const std::atomic<bool>* abandoned) : at_(at), abandoned_(abandoned) {}
  Clock::time_point at_;
  const std::atomic<bool>* abandoned_;
};

// The store could not answer in full within the deadline (or at all). The request then gets
// a page without data, never a partial answer presented as whole.
class NoAnswer : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A search of the page texts: the words as given (the store splits and folds them), as one
// exact phrase or as words anywhere on the page.
struct TextQuery {
  std::string text;
  bool phrase = true;
};

// Where an import's data came from: a file read, a download fetched, the demo data set. Every
// import records its sources with its data, so that `get` never fetches a file twice and
// `demo` can tell a database that holds a user's data.
struct SourceRecord {
  std::string address;          // a URL, a file's absolute path, or "demo"
  std::string kind;             // the importer's kind (wat, keywords, ...) or "demo"
  std::int64_t bytes = 0;       // bytes read of it (compressed, as they came)
  std::int64_t stored = 0;      // records it stored (added, replaced, completed or summed)
  std::int64_t firstLines = 0;  // only its first lines were read (a sorted list's top); 0: all
  std::string at;               // when its import committed, UTC "YYYY-MM-DD HH:MM:SS" (set by the store)
  std::int64_t importId = 0;    // shared by the sources of one import (set by the store)
};

// A record covers a wish to read the address's first `firstLines` lines (0: all of it).
inline bool Covers(const SourceRecord& record, std::int64_t firstLines) {
  return record.firstLines == 0 || (firstLines != 0 && record.firstLines >= firstLines);
}

// What a store holds, for people deciding what to fetch.
struct StoreCounts {
  std::int64_t pages = 0;   // crawl pages and others, with or without text
  std::int64_t terms = 0;   // search terms with a search volume
  std::int64_t ranked = 0;  // domains and hosts with a traffic rank
};

// The reading side. Safe to call from several threads at once. Hosts are normalised here.
class StoreReader {
 public:
  virtual ~StoreReader() = default;
  // Terms holding every one of the words (SuggestionWords), most searched first.
  virtual std::vector<Suggestion> FindSuggestions(const std::vector<std::string>& words, int limit,
                                                  Deadline deadline) = 0;
  virtual std::int64_t CountMatches(const TextQuery& query, Deadline deadline) = 0;
  // Matching pages in the order of RankResults (Rules.h), skipping offset.
  virtual std::vector<ResultItem> FindPages(const TextQuery& query, std::int64_t offset, int limit,
                                            Deadline deadline) = 0;
  // Pages on other hosts that link to the host.
  virtual std::int64_t CountLinks(std::string_view host, Deadline deadline) = 0;
  // Rank of the host, or of the nearest parent domain that has one.
  virtual std::optional<std::int64_t> FindRank(std::string_view host, Deadline deadline) = 0;
  // The sources of every committed import, oldest first (none for a store made before
  // sources were recorded), and what the store holds. Not budgeted: for commands, not requests.
  virtual std::vector<SourceRecord> Sources() = 0;
  virtual StoreCounts Counts() = 0;
};

// A page as an importer hands it over: url already checked (KeyProblem, ValidHost), title and
// text already repaired (RepairText), links as found (checked here, bad ones dropped).
struct PageInput {
  std::string url;
  std::string title;
  std::string text;
  std::vector<std::string> links;
};

// What StoreTally stored.
struct TallyResult {
  std::int64_t added = 0;
  std::int64_t replaced = 0;
};

// One import. Nothing of it is visible to readers before Commit, and nothing of it is kept
// when the writer is destroyed without Commit (an error, an interruption, a killed process).
class StoreWriter {
 public:
  // Kept: the key was given a better value earlier in this import, which stays (ranks).
  enum class Put { Added, Replaced, Kept };
  // What MergePage did: stored a new page, added to a stored one, or found nothing to add.
  enum class Merge { Added, Updated, Unchanged };
  virtual ~StoreWriter() = default;
  // term must already be normalised (NormalizeTerm).
  virtual Put PutKeyword(const std::string& term, std::int64_t searches) = 0;
  // host must already be valid (ValidHost). Within one import the best (lowest) rank a host
  // is given stays; a later import replaces it.
  virtual Put PutRank(const std::string& host, std::int64_t rank) = 0;
  // False, changing nothing, when a page with this address is stored already. Links to the
  // page's own host do not count.
  virtual bool AddPage(const PageInput& page) = 0;
  // For sources that bring a page in parts (crawl text and crawl metadata, in either order):
  // a new address is stored as AddPage stores it. For a stored page, a non-empty title
  // replaces its title, non-empty text becomes its text only when it has none yet (a crawl
  // that repeats a page changes nothing), and the links are added to its links.
  virtual Merge MergePage(const PageInput& page) = 0;
  // Demand summed over the files of one run (hourly pageview files, several exports), kept
  // in the store so that memory stays bounded however many terms there are. TallyKeyword
  // adds count to the term's total (term normalised as for PutKeyword; totals stop at
  // limits::kMaxDemandTotal). StoreTally then puts every tallied term as PutKeyword does,
  // with searches = total * multiply / divide rounded to the nearest whole number (halves
  // up) and capped at 2147483647, and empties the tally. Throws std::invalid_argument unless
  // 1 <= divide and 0 <= multiply <= 2^20.
  virtual void TallyKeyword(const std::string& term, std::int64_t count) = 0;
  virtual TallyResult StoreTally(std::int64_t multiply, std::int64_t divide) = 0;
  // A point of the import to return to, for input whose soundness is not known yet (a
  // compressed member before its end): RollBackToMark undoes every write since Mark, as if
  // it had not been made; ReleaseMark keeps them. One mark at a time.
  virtual void Mark() = 0;
  virtual void ReleaseMark() = 0;
  virtual void RollBackToMark() = 0;
  // Records a source of this import, kept exactly when its data is: at Commit, with the
  // import's id and time.
  virtual void RecordSource(const SourceRecord& source) = 0;
  // Whether a committed import recorded the address covering firstLines (Covers). Asked
  // within the import, so that two imports of one address at once store it once.
  virtual bool HasSource(const std::string& address, std::int64_t firstLines) = 0;
  virtual void Commit() = 0;
};

}  // namespace quillet::services
