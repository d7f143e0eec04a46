// The compare rules on arbitrary texts: antisymmetric, and a text compares equal to itself.
#include <string>

#include "research/Compare.h"
#include "tests/fuzz/FuzzInput.h"

namespace {
int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const auto p = fuzz::Parts(data, size, 2);
  const int results[][2] = {
      {CompareText(p[0], p[1]), CompareText(p[1], p[0])},
      {CompareInteger(p[0], p[1], false), CompareInteger(p[1], p[0], false)},
      {CompareInteger(p[0], p[1], true), CompareInteger(p[1], p[0], true)},
      {CompareProfitability(p[0], p[1], '.'), CompareProfitability(p[1], p[0], '.')},
      {CompareProfitability(p[0], p[1], ','), CompareProfitability(p[1], p[0], ',')},
  };
  for (const auto& r : results)
    if (Sign(r[0]) != -Sign(r[1])) __builtin_trap();
  if (CompareText(p[0], p[0]) != 0 || CompareProfitability(p[0], p[0], '.') != 0) __builtin_trap();
  return 0;
}
