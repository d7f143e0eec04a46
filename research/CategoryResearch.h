#pragma once
// Category research: a topic's related search terms from the keyword-suggestion page, each
// with its Demand, its Supply (an exact-phrase search count) and its Profitability.
#include <string>
#include <string_view>

#include "research/RunWindow.h"
#include "research/Services.h"

namespace quillet {

// Demand text of a count cell: what follows the first "&nbsp;" (or the cell from its sixth
// character when there is none), up to the first "</" behind it.
std::string ExtractDemand(std::string_view cell);

// Term of a term cell: the text before the first "</a>" behind its last '>' or ';'.
std::string ExtractCategory(std::string_view cell);

// (D / S) x D with D and S read as signed 32-bit integers (0 when unreadable, S = 0 taken
// as 1), formatted with at most two decimals, rounded half away from zero, without
// trailing zeros and without a thousands separator.
std::string ComputeProfitability(std::string_view demand, std::string_view supply, char decimalSeparator);

// A count nobody could read: the Supply of a search page without a count or of one that
// never came, and the Profitability of the latter, so that a row of a lost service does not
// outrank every real one (a page without a count still scores D x D).
inline constexpr const char* kUnknownCount = "?";

class CategoryResearch {
 public:
  // rows is ListView1; stopFlag is StopFlag. All references must outlive the object.
  CategoryResearch(RunWindow& window, ResultList& rows, PageFetcher fetch, ServiceHosts hosts, bool& stopFlag,
                   char decimalSeparator);

  // Fetches the suggestion page for the topic and fills the list from it.
  void ResearchCategory(const std::string& topic);
  // Clears the list and adds one row per count-and-term cell pair of the page.
  void ParseSuggestionPage(const std::string& page);
  // Supply text for a term: digits, "?" when the search page has no count, "0" when the
  // count is empty, empty for an empty term (then nothing is fetched). *unanswered, when
  // given, tells whether the page was asked for and nothing at all came: no byte.
  std::string LookUpSupply(const std::string& term, bool* unanswered = nullptr);

 private:
  // The Profitability column: kUnknownCount when the Supply's page never came.
  std::string Profitability(const std::string& demand, const std::string& supply, bool unanswered) const;

  RunWindow& window_;
  ResultList& rows_;
  PageFetcher fetch_;
  ServiceHosts hosts_;
  bool& stopFlag_;
  char decimalSeparator_;
};

}  // namespace quillet
