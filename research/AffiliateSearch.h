#pragma once
// Affiliate program search: the sites a web search returns for a category, in search order,
// each with its rank in the search, its link count (the estimated number of affiliates) and
// its traffic rank.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "research/Cutting.h"
#include "research/RunWindow.h"
#include "research/Services.h"

namespace quillet {

// What a missing traffic rank shows: larger than any real rank, so it sorts last.
inline constexpr const char* kNoTrafficRank = "999999999";

// The lower-case address without anything up to and including its first "http://" and
// without anything from the first "/" behind that on.
std::string ExtractHost(std::string_view address);

// ExtractHost, then without anything up to and including its first "www.".
std::string StripWww(std::string_view address);

// The part of a lower-cased results page that is still to be read. Markers are looked up
// through scanners over the whole page, so reading every item of a page costs time linear in
// its length, however the items are spread.
class ResultsText {
 public:
  // page must outlive the object; reading starts at 0-based index from.
  explicit ResultsText(std::string_view page, std::size_t from = 0);
  std::string_view Rest() const { return page_.substr(at_); }
  // Whether the rest still contains a result item ("<li>").
  bool HasItem();

 private:
  friend std::string ParseNextResult(ResultsText& rest);
  std::string_view page_;
  std::size_t at_;
  ForwardScanner items_;  // "<li>", "<em", "</em>", ">"
  ForwardScanner hosts_;  // ".", "http://", "/"
};

// Reads the result item behind the first "<li>" of rest and moves rest on to the next "<li>"
// of that item (or to the item's end when it holds none). Returns the item's host: empty
// when its display address is shorter than 3 characters or has no ".".
std::string ParseNextResult(ResultsText& rest);

class AffiliateSearch {
 public:
  // rows is ListView3; stop2Flag is Stop2Flag. All references must outlive the object.
  // abandoned, when given, tells that a newer search has been asked for; it is looked at once
  // the results page has arrived, and when it holds the list is left alone.
  AffiliateSearch(RunWindow& window, ResultList& rows, PageFetcher fetch, ServiceHosts hosts, bool& stop2Flag,
                  std::function<bool()> abandoned = {});

  // Fetches one results page for the exact phrase category, asking for n results after the
  // first s, and lists its items.
  void SearchAffiliatePrograms(const std::string& category, std::int32_t n, std::int32_t s);
  // Clears the list and adds one complete row per "<li>" behind "of about", ranked s + 1 on.
  // Ends early, after a completed row, when Esc is held or the stop flag is set.
  void ReadSearchResults(const std::string& page, std::int32_t s);
  // Link count of the site: digits without separators, "0" when the page shows none, empty
  // when the lookup failed unexpectedly.
  std::string EstimateAffiliates(const std::string& site);
  // Traffic rank of the site: the digits that stand directly behind a '>' between
  // "traffic rank for " and the next "<br>", or kNoTrafficRank.
  std::string LookupTrafficRank(const std::string& site);

 private:
  RunWindow& window_;
  ResultList& rows_;
  PageFetcher fetch_;
  ServiceHosts hosts_;
  bool& stop2Flag_;
  std::function<bool()> abandoned_;
};

}  // namespace quillet
