#include "research/Cutting.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quillet {
namespace {

TEST(Cutting, PositionsAndCopies) {
  EXPECT_EQ(Pos("b", "abc"), 2u);
  EXPECT_EQ(Pos("x", "abc"), 0u);
  EXPECT_EQ(Pos("", "abc"), 1u);
  const struct {
    std::size_t pos;
    std::int64_t count;
    const char* out;
  } copies[] = {{1, 2, "ab"}, {0, 2, "ab"}, {2, 10, "bcd"}, {4, 1, "d"}, {5, 1, ""}, {2, 0, ""}, {2, -3, ""}};
  for (const auto& c : copies) EXPECT_EQ(Copy("abcd", c.pos, c.count), c.out) << c.pos << "," << c.count;
  EXPECT_EQ(From("abcd", 0), "abcd");
  EXPECT_EQ(From("abcd", 3), "cd");
  EXPECT_EQ(From("abcd", 9), "");
}

TEST(Cutting, ReadInt32AcceptsExactlySignedDecimalsInRange) {
  const struct {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {{"0", true, 0},
               {"123", true, 123},
               {"-5", true, -5},
               {"+7", true, 7},
               {"2147483647", true, 2147483647},
               {"-2147483648", true, -2147483647 - 1},
               {"2147483648", false, 0},
               {"-2147483649", false, 0},
               {"99999999999999999999", false, 0},
               {"", false, 0},
               {"-", false, 0},
               {"+", false, 0},
               {"?", false, 0},
               {"1.5", false, 0},
               {"1,5", false, 0},
               {" 1", false, 0},
               {"1 ", false, 0},
               {"0x10", false, 0},
               {"007", true, 7}};
  for (const auto& c : cases) {
    std::int32_t v = 42;
    EXPECT_EQ(ReadInt32(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 42) << c.text;
  }
}

// The scanner must give exactly what a fresh search would, for any forward-moving sequence.
TEST(Cutting, ForwardScannerAgreesWithPlainSearch) {
  std::mt19937 rng(7);
  const char* markers[] = {"<td>", "</td>", "ab", "x"};
  for (int round = 0; round < 200; ++round) {
    std::string text;
    std::uniform_int_distribution<int> piece(0, 5);
    for (int i = 0; i < 60; ++i) {
      const int p = piece(rng);
      text += p < 4 ? markers[p] : (p == 4 ? "zz" : "a");
    }
    ForwardScanner scan(text);
    std::size_t from = 0;
    while (from <= text.size()) {
      const char* marker = markers[std::uniform_int_distribution<int>(0, 3)(rng)];
      ASSERT_EQ(scan.Find(marker, from), text.find(marker, from)) << text << " @" << from << " " << marker;
      from += std::uniform_int_distribution<std::size_t>(0, 7)(rng);
    }
  }
}

}  // namespace
}  // namespace quillet
