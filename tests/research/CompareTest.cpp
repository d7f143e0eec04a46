#include "research/Compare.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

TEST(Compare, Text) {
  const struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"apple", "Banana", -1}, {"Dog", "dog", 0},    {"dog", "dogs", -1}, {"dogs", "dog", 1},
      {"", "a", -1},           {"", "", 0},          {"a_b", "aB", 1},  // '_' is 95, a folded 'b' 66
      {"\xe9", "z", 1},        {"\xc9", "\xe9", -1}, {"Z", "a", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(Sign(CompareText(c.a, c.b)), c.sign) << c.a << " vs " << c.b;
}

TEST(Compare, IntegerBothDirections) {
  const struct {
    const char* a;
    const char* b;
    int ascending;
  } cases[] = {
      {"5", "10", -1},   {"10", "5", 1},         {"7", "7", 0}, {"-3", "2", -1}, {"2147483647", "-2147483648", 1},
      {"?", "10", 0},    {"10", "?", 0},         {"-", "1", 0}, {"", "1", 0},    {"2147483648", "1", 0},
      {"1,000", "5", 0}, {"999999999", "12", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareInteger(c.a, c.b, false), c.ascending) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareInteger(c.a, c.b, true), -c.ascending) << c.a << " vs " << c.b;
  }
}

TEST(Compare, ProfitabilityTenthsRoundedHalfToEven) {
  const struct {
    const char* a;
    const char* b;
    char separator;
    int sign;  // descending: the higher score first
  } cases[] = {
      {"3.61", "3.64", '.', 0}, {"3.6", "3.8", '.', 1},
      {"3.8", "3.6", '.', -1},  {"20", "11.25", '.', -1},
      {"0", "0.04", '.', 0},    {"0", "0.06", '.', 1},
      {"0", "0.05", '.', 0},    {"0", "0.15", '.', 1},    // 0.5 rounds to 0, 1.5 to 2
      {"11,25", "20", ',', 1},  {"11.25", "20", ',', 0},  // the other separator cannot be read
      {"?", "5", '.', 0},       {"", "5", '.', 0},
      {"-", "5", '.', 0},       {"4611686014132420609", "1", '.', -1},
      {"-1", "1", '.', 1},
  };
  for (const auto& c : cases) EXPECT_EQ(CompareProfitability(c.a, c.b, c.separator), c.sign) << c.a << " vs " << c.b;
}

TEST(Compare, ColumnsOfTheThreeLists) {
  const RowTexts a{"beta", "100", "5000", "2"};
  const RowTexts b{"Alpha", "200", "4000", "10"};
  const RowTexts partial{"gamma", "50"};            // a row still being filled
  EXPECT_GT(CompareResearchRows(a, b, 0, '.'), 0);  // Category ascending
  EXPECT_GT(CompareResearchRows(a, b, 1, '.'), 0);  // Demand: the larger first
  EXPECT_GT(CompareResearchRows(a, b, 2, '.'), 0);  // Supply: the smaller first
  EXPECT_GT(CompareResearchRows(a, b, 3, '.'), 0);  // Profitability: the higher first
  EXPECT_EQ(CompareResearchRows(a, partial, 2, '.'), 0);
  EXPECT_EQ(CompareResearchRows(a, b, 7, '.'), 0);

  EXPECT_GT(CompareIdeaRows({"b", "1"}, {"a", "9"}, 0, '.'), 0);
  EXPECT_GT(CompareIdeaRows({"b", "1"}, {"a", "9"}, 1, '.'), 0);
  EXPECT_EQ(CompareIdeaRows({"b"}, {"a", "9"}, 1, '.'), 0);

  const RowTexts x{"b.com", "1", "300", "999999999"};
  const RowTexts y{"a.com", "2", "20", "4000"};
  EXPECT_GT(CompareAffiliateRows(x, y, 0), 0);
  EXPECT_LT(CompareAffiliateRows(x, y, 1), 0);
  EXPECT_GT(CompareAffiliateRows(x, y, 2), 0);  // the smallest estimate first
  EXPECT_GT(CompareAffiliateRows(x, y, 3), 0);  // a missing rank goes last
}

}  // namespace
}  // namespace quillet
