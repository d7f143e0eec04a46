// A results page, and the link-count and traffic pages each row fetches: every "<li>" behind
// "of about" gives exactly one row, and the rank column is digits or the placeholder.
#include <string>

#include "net/Text.h"
#include "research/AffiliateSearch.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const auto parts = fuzz::Parts(data, size, 3);
  fuzz::QuietWindow window;
  fuzz::CheckedList list;
  bool stop = false;
  const ServiceHosts hosts{"http://s", "http://s", "http://t"};
  AffiliateSearch search(
      window, list, [&](const std::string& url) { return url.rfind("http://t", 0) == 0 ? parts[2] : parts[1]; }, hosts,
      stop);
  search.ReadSearchResults(parts[0], 0);
  const std::string lower = LowerAscii(parts[0]);
  const std::size_t from = lower.find("of about");
  std::size_t items = 0;
  for (std::size_t at = lower.find("<li>", from == std::string::npos ? 0 : from); at != std::string::npos;
       at = lower.find("<li>", at + 1))
    ++items;
  if (list.Rows() != items) __builtin_trap();
  const std::string rank = search.LookupTrafficRank(ExtractHost(parts[1].substr(0, 200)));
  for (char c : rank)
    if (!IsDigit(c)) __builtin_trap();
  search.EstimateAffiliates(StripWww(parts[2].substr(0, 200)));
  return 0;
}
