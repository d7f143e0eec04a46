// Reading a results page must grow linearly with its number of items: ten times the items may
// take at most twelve times the CPU time. The lookups are no-ops (every fetch answers nothing
// at once), so the figure is the reading of the page itself. Two page shapes: ordinary items,
// and items without an address whose markers all lie far behind them. Prints the figures and
// exits with 1 when a growth is too steep.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>

#include "research/AffiliateSearch.h"
#include "tests/bench/NullRun.h"

namespace quillet {
namespace {

constexpr int kItems = 1000;
constexpr int kScale = 10;
constexpr double kMaxRatio = 12.0;
constexpr int kRepetitions = 7;

using bench::NullList;
using bench::NullWindow;

std::string OrdinaryPage(int items) {
  std::string page = "<html><p>Results 1 - 20 of about <b>1,234,567</b> for dog training</p><ol>";
  for (int i = 0; i < items; ++i)
    page += "<li><div><a class=yschttl href=\"http://r.example/" + std::to_string(i) + "\">Dog <b>Training</b> " +
            std::to_string(i) +
            "</a></div><div class=abstr>Learn to train your "
            "dog.</div><em class=yschurl>WWW.Site" +
            std::to_string(i) + ".com/dogs/index.html</em></li>\n";
  return page + "</ol></html>";
}

// No item has an address of its own: every item's "<em", "</em>", '.' and "http://" are found
// only at the end of the page.
std::string AddresslessPage(int items) {
  std::string page = "<p>of about 9</p><ol>";
  for (int i = 0; i < items; ++i) page += "<li><div>Title " + std::to_string(i) + " without an address</div></li>\n";
  return page + "</ol><em>http://last.example/x</em>";
}

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Fastest of several repetitions, per reading: the machine is shared, and other work only
// ever adds time.
double SecondsPerReading(const std::string& page, int readings) {
  NullWindow window;
  NullList list;
  bool stop = false;
  AffiliateSearch search(
      window, list, [](const std::string&) { return std::string(); }, {}, stop);
  double best = std::numeric_limits<double>::infinity();
  for (int r = 0; r < kRepetitions; ++r) {
    const double start = CpuSeconds();
    for (int i = 0; i < readings; ++i) search.ReadSearchResults(page, 0);
    best = std::min(best, (CpuSeconds() - start) / readings);
  }
  return best;
}

bool Check(const char* shape, std::string (*makePage)(int)) {
  const double small = SecondsPerReading(makePage(kItems), kScale);
  const double large = SecondsPerReading(makePage(kScale * kItems), 1);
  const double ratio = large / small;
  const bool linear = ratio <= kMaxRatio;
  std::printf(
      "ReadSearchResults, %s: %d items %.3f ms, %d items %.3f ms: %dx the items take %.1fx the time "
      "(limit %.0fx) %s\n",
      shape, kItems, small * 1e3, kScale * kItems, large * 1e3, kScale, ratio, kMaxRatio, linear ? "ok" : "TOO SLOW");
  return linear;
}

}  // namespace
}  // namespace quillet

int main() {
  const bool ordinary = quillet::Check("ordinary items", quillet::OrdinaryPage);
  const bool addressless = quillet::Check("items without addresses", quillet::AddresslessPage);
  return ordinary && addressless ? 0 : 1;
}
