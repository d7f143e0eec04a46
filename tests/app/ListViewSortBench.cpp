// Sorting 10,000 research rows by Profitability in the real list view, against std::sort of
// the same rows with the same compare function: the ratio is the list view's own overhead.
#include <algorithm>
#include <cstdio>
#include <random>

#include "app/MainForm.h"
#include "research/Compare.h"
#include "tests/app/Harness.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
  using namespace quillet;
  test::TestApp();
  constexpr int kRows = 10000;
  std::mt19937 rng(3);
  std::vector<RowTexts> rows;
  for (int i = 0; i < kRows; ++i) {
    const unsigned cents = rng() % 10000000;
    rows.push_back({"term " + std::to_string(i), std::to_string(rng() % 100000), std::to_string(rng() % 1000000),
                    std::to_string(cents / 100) + "." + std::to_string(cents % 100)});
  }
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 5; ++round) {
    std::shuffle(rows.begin(), rows.end(), rng);
    {
      TForm1 form(ServiceHosts{});
      for (const RowTexts& row : rows) form.ListView1.AddRow(row);
      LARGE_INTEGER a, b;
      QueryPerformanceCounter(&a);
      form.ListView1ColumnClick(3);
      QueryPerformanceCounter(&b);
      best[0] = std::min(best[0], Seconds(a, b));
    }
    std::vector<RowTexts> copy = rows;
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    std::sort(copy.begin(), copy.end(),
              [](const RowTexts& x, const RowTexts& y) { return CompareResearchRows(x, y, 3, '.') < 0; });
    QueryPerformanceCounter(&b);
    best[1] = std::min(best[1], Seconds(a, b));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  std::printf("sort %d rows by Profitability: list view %.1f ms, std::sort %.1f ms, ratio %.2f\n", kRows,
              best[0] * 1000, best[1] * 1000, best[0] / best[1]);
  return 0;
}
