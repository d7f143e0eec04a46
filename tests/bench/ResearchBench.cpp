// Category research: cutting a suggestion page must stay linear in its size, and a whole run
// must cost little beyond its fetches.
#include <benchmark/benchmark.h>

#include <string>

#include "net/FetchPage.h"
#include "research/CategoryResearch.h"
#include "tests/bench/BenchMain.h"
#include "tests/bench/NullRun.h"
#include "tests/support/LoopbackServer.h"

namespace quillet {
namespace {

using bench::NullList;
using bench::NullWindow;

std::string Term(int i) { return "term number " + std::to_string(i); }

std::string SuggestionPage(int pairs) {
  std::string page = "<html><body><table><tr><td>Results</td></tr></table> done <table>";
  for (int i = 0; i < pairs; ++i)
    page += "<tr><td class=\"c\">&nbsp;" + std::to_string(1000 + i) +
            "</td><td>&nbsp;<a href=\"/x?t=" + std::to_string(i) + "\">" + Term(i) + "</a></td></tr>\n";
  return page + "</table></body></html>";
}

void BM_ParseSuggestionPage(benchmark::State& state) {
  const std::string page = SuggestionPage(static_cast<int>(state.range(0)));
  NullWindow window;
  NullList list;
  bool stop = false;
  // No-op Supply lookups: every fetch answers with nothing at once.
  CategoryResearch research(
      window, list, [](const std::string&) { return std::string(); }, {}, stop, '.');
  for (auto _ : state) {
    research.ParseSuggestionPage(page);
    benchmark::DoNotOptimize(list.rows);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ParseSuggestionPage)->Arg(1000)->Arg(10000)->Arg(16000)->Unit(benchmark::kMillisecond);

constexpr int kTerms = 200;

std::string Answer(const std::string& target) {
  if (target.rfind("/d/", 0) == 0) return test::HttpResponse("200 OK", SuggestionPage(kTerms));
  return test::HttpResponse("200 OK", "<p>Results 1 - 10 of about <b>12,345</b> for the phrase</p>");
}

void BM_CategoryRun(benchmark::State& state) {
  test::LoopbackServer server(Answer);
  const std::string base = server.BaseUrl();
  NullWindow window;
  NullList list;
  bool stop = false;
  CategoryResearch research(
      window, list, [](const std::string& url) { return FetchPage(url); }, {base, base, base}, stop, '.');
  for (auto _ : state) research.ResearchCategory("term");
}
BENCHMARK(BM_CategoryRun)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same 201 requests made by FetchPage alone.
void BM_FetchesOfARun(benchmark::State& state) {
  test::LoopbackServer server(Answer);
  const std::string base = server.BaseUrl();
  for (auto _ : state) {
    benchmark::DoNotOptimize(FetchPage(base + "/d/searchinventory/suggestion/?term=term&mkt=us&lang=en_US"));
    for (int i = 0; i < kTerms; ++i) {
      std::string term = Term(i);
      for (char& c : term)
        if (c == ' ') c = '+';
      benchmark::DoNotOptimize(FetchPage(base + "/search?p=%22" + term + "%22"));
    }
  }
}
BENCHMARK(BM_FetchesOfARun)->Unit(benchmark::kMillisecond)->MinTime(2.0);

const bool kRatios = bench::CompareRuns("BM_ParseSuggestionPage/10000", "BM_ParseSuggestionPage/1000") &&
                     bench::CompareRuns("BM_CategoryRun", "BM_FetchesOfARun");

}  // namespace
}  // namespace quillet
