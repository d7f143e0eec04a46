// Amounts as people read them, at the edges of each unit, and sums of sizes that a server may
// declare as anything.
#include <gtest/gtest.h>

#include <limits>

#include "protocol/Format.h"

namespace quillet::protocol {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(Format, SizesDurationsAndCountsAtTheEdgesOfTheirUnits) {
  struct Size {
    std::int64_t bytes;
    const char* text;
  };
  for (const Size& c : {Size{-1, "-1 bytes"}, Size{0, "0 bytes"}, Size{999, "999 bytes"}, Size{1000, "1 kB"},
                        Size{999'499, "999 kB"}, Size{999'500, "1.0 MB"}, Size{9'949'999, "9.9 MB"},
                        Size{9'950'000, "10 MB"}, Size{999'499'999, "999 MB"}, Size{999'500'000, "1.0 GB"},
                        Size{3'300'000'000, "3.3 GB"}, Size{9'950'000'000, "10 GB"}, Size{kMax, "9223372037 GB"}})
    EXPECT_EQ(Bytes(c.bytes), c.text) << c.bytes;

  struct Time {
    double seconds;
    const char* text;
  };
  for (const Time& c : {Time{-5, "0 s"}, Time{0, "0 s"}, Time{89.4, "89 s"}, Time{90, "2 min"}, Time{3960, "66 min"},
                        Time{5400, "1.5 h"}, Time{1e300, "1000000000.0 h"}})
    EXPECT_EQ(Duration(c.seconds), c.text) << c.seconds;
  EXPECT_EQ(Duration(std::numeric_limits<double>::quiet_NaN()), "0 s");

  struct Count {
    std::int64_t value;
    const char* text;
  };
  for (const Count& c : {Count{0, "0"}, Count{999, "999"}, Count{1000, "1,000"}, Count{-1234567, "-1,234,567"},
                         Count{kMax, "9,223,372,036,854,775,807"}, Count{kMin, "-9,223,372,036,854,775,808"}})
    EXPECT_EQ(Thousands(c.value), c.text) << c.value;
  EXPECT_EQ(Counted(1, "file"), "1 file");
  EXPECT_EQ(Counted(0, "row"), "0 rows");
  EXPECT_EQ(Counted(1200, "file"), "1,200 files");
  EXPECT_EQ(Rate(12'345'678), "12.3 MB/s");
  EXPECT_EQ(Rate(32'000), "32 kB/s");
  EXPECT_EQ(Rate(0), "");
}

TEST(Format, SumsOfDeclaredSizesNeverOverflow) {
  struct Sum {
    std::int64_t a, b, sum;
  };
  for (const Sum& c : {Sum{1, 2, 3}, Sum{-1, 5, 5}, Sum{kMax, 1, kMax}, Sum{kMax, kMax, kMax}, Sum{kMax - 1, 1, kMax},
                       Sum{kMin, kMin, 0}})
    EXPECT_EQ(AddSizes(c.a, c.b), c.sum) << c.a << " + " << c.b;
  struct Scale {
    std::int64_t bytes;
    double factor;
    std::int64_t scaled;
  };
  for (const Scale& c :
       {Scale{1000, 2.0, 2000}, Scale{-1, 2.0, 0}, Scale{kMax, 2.0, kMax}, Scale{std::int64_t{1} << 62, 2.0, kMax},
        Scale{5'000'000'000'000'000'000, 1.0, 5'000'000'000'000'000'000},
        Scale{100, std::numeric_limits<double>::quiet_NaN(), 0}, Scale{100, 1e300, kMax}})
    EXPECT_EQ(ScaleSize(c.bytes, c.factor), c.scaled) << c.bytes << " x " << c.factor;
}

}  // namespace
}  // namespace quillet::protocol
