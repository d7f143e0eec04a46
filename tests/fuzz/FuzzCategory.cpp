// A suggestion page and the search page each Supply lookup gets: cutting must never fail
// and must add at most one row per "</td>" pair.
#include <string>

#include "net/Text.h"
#include "research/CategoryResearch.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const auto parts = fuzz::Parts(data, size, 2);
  fuzz::QuietWindow window;
  fuzz::CheckedList list;
  bool stop = false;
  CategoryResearch research(
      window, list, [&](const std::string&) { return parts[1]; }, {}, stop, '.');
  research.ParseSuggestionPage(parts[0]);
  const std::string lower = LowerAscii(parts[0]);
  std::size_t cellEnds = 0;
  for (std::size_t at = lower.find("</td>"); at != std::string::npos; at = lower.find("</td>", at + 1)) ++cellEnds;
  if (list.Rows() > cellEnds) __builtin_trap();
  const std::string supply = research.LookUpSupply("a b");
  if (supply.find_first_of(",. ") != std::string::npos) __builtin_trap();
  ComputeProfitability(parts[0].substr(0, 40), parts[1].substr(0, 40), ',');
  return 0;
}
