#include "widgets/ColorModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace quillet::widgets {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const ColorTriple kUntouched{-7.0, -7.0, -7.0};

// The textbook double-hexcone model, written independently of the signed-cube algorithm.
ColorTriple TextbookHls(const ColorTriple& rgb) {
  const double r = rgb[0], g = rgb[1], b = rgb[2];
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const double l = (mx + mn) / 2;
  if (mx == mn) return {0, l, 0};
  const double d = mx - mn;
  const double s = l <= 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
  double h;
  if (mx == r) {
    h = (g - b) / d;
    if (h < 0) h += 6;
  } else if (mx == g) {
    h = (b - r) / d + 2;
  } else {
    h = (r - g) / d + 4;
  }
  return {h / 6, l, s};
}

void ExpectNear(const ColorTriple& got, const ColorTriple& want, double tol, const std::string& what) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], tol) << what << " component " << i;
}

std::string Show(const ColorTriple& t) {
  return "(" + std::to_string(t[0]) + ", " + std::to_string(t[1]) + ", " + std::to_string(t[2]) + ")";
}

TEST(ColorModel, Rgb2HlsKnownColours) {
  struct Case {
    ColorTriple rgb, hls;
  };
  const Case cases[] = {
      {{1, 0, 0}, {1, 0.5, 1}},  // pure red reports hue 1
      {{0, 1, 0}, {1.0 / 3, 0.5, 1}},
      {{0, 0, 1}, {2.0 / 3, 0.5, 1}},
      {{1, 0, 0.5}, {11.0 / 12, 0.5, 1}},
      {{1, 1, 0}, {1.0 / 6, 0.5, 1}},
      {{0, 1, 1}, {0.5, 0.5, 1}},
      {{1, 0, 1}, {5.0 / 6, 0.5, 1}},
      {{0.5, 0.5, 0.5}, {0, 0.5, 0}},
      {{0.2, 0.2, 0.2}, {0, 0.2, 0}},
      {{0.8, 0.8, 0.8}, {0, 0.8, 0}},
      {{0, 0, 0}, {0, 0, 0}},
      {{1, 1, 1}, {0, 1, 0}},
      {{0.5, 0.25, 0.25}, {1, 0.375, 1.0 / 3}},  // dark, pure-red hue
      {{0.75, 0.5, 0.5}, {1, 0.625, 1.0 / 3}},   // light, pure-red hue
      {{0.25, 0.5, 0.25}, {1.0 / 3, 0.375, 1.0 / 3}},
      {{0.125, 0.375, 0.375}, {0.5, 0.25, 0.5}},
  };
  for (const auto& c : cases) {
    ColorTriple hls = kUntouched;
    RGB2HLS(c.rgb, hls);
    ExpectNear(hls, c.hls, 1e-12, "RGB2HLS" + Show(c.rgb));
  }
}

TEST(ColorModel, Hls2RgbKnownColours) {
  struct Case {
    ColorTriple hls, rgb;
  };
  const Case cases[] = {
      {{0, 0.5, 1}, {1, 0, 0}},
      {{1, 0.5, 1}, {1, 0, 0}},  // a full turn is sector 0 again
      {{1.0 / 3, 0.5, 1}, {0, 1, 0}},
      {{2.0 / 3, 0.5, 1}, {0, 0, 1}},
      {{0.5, 0.25, 0.5}, {0.125, 0.375, 0.375}},
      {{11.0 / 12, 0.5, 1}, {1, 0, 0.5}},
      {{0.3, 0, 1}, {0, 0, 0}},
      {{0.3, 1, 1}, {1, 1, 1}},
      {{0.7, 0.4, 0}, {0.4, 0.4, 0.4}},
      {{0, 0.625, 1.0 / 3}, {0.75, 0.5, 0.5}},
  };
  for (const auto& c : cases) {
    ColorTriple rgb = kUntouched;
    HLS2RGB(c.hls, rgb);
    ExpectNear(rgb, c.rgb, 1e-12, "HLS2RGB" + Show(c.hls));
  }
}

TEST(ColorModel, RangeViolationsNameFirstBadComponentAndWriteNothing) {
  struct Case {
    bool toRgb;
    ColorTriple in;
    const char* message;
  };
  const Case cases[] = {
      {true, {0.3, 1.2, 0.5}, "HLS2RGB: 0 <= Luminance value <= 1 required"},
      {true, {-0.1, 1.2, 0.5}, "HLS2RGB: 0 <= Hue value <= 1 required"},
      {true, {0.1, 0.2, 1.0000001}, "HLS2RGB: 0 <= Saturation value <= 1 required"},
      {true, {kNaN, 0.5, 0.5}, "HLS2RGB: 0 <= Hue value <= 1 required"},
      {true, {0.5, 0.5, kNaN}, "HLS2RGB: 0 <= Saturation value <= 1 required"},
      {false, {0.5, -0.01, 2}, "RGB2HLS: 0 <= Green value <= 1 required"},
      {false, {1.5, 0, 0}, "RGB2HLS: 0 <= Red value <= 1 required"},
      {false, {0, 0, -1e-300}, "RGB2HLS: 0 <= Blue value <= 1 required"},
      {false, {0.2, kNaN, 0.2}, "RGB2HLS: 0 <= Green value <= 1 required"},
  };
  for (const auto& c : cases) {
    ColorTriple out = kUntouched;
    try {
      c.toRgb ? HLS2RGB(c.in, out) : RGB2HLS(c.in, out);
      ADD_FAILURE() << "no exception for " << Show(c.in);
    } catch (const EColorConv& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(out, kUntouched) << c.message;
  }
}

TEST(ColorModel, BoundsThemselvesAreAccepted) {
  ColorTriple out;
  EXPECT_NO_THROW(HLS2RGB({0, 0, 0}, out));
  EXPECT_NO_THROW(HLS2RGB({1, 1, 1}, out));
  EXPECT_NO_THROW(RGB2HLS({0, 1, 0}, out));
}

bool IsPureRedHue(const ColorTriple& rgb) { return rgb[1] == rgb[2] && rgb[1] < rgb[0]; }

void CheckAgainstTextbook(const ColorTriple& rgb) {
  ColorTriple hls, back;
  RGB2HLS(rgb, hls);
  HLS2RGB(hls, back);
  for (int i = 0; i < 3; ++i) ASSERT_NEAR(back[i], rgb[i], 1e-9) << "round trip of " << Show(rgb);
  ColorTriple want = TextbookHls(rgb);
  if (IsPureRedHue(rgb)) want[0] = 1;
  for (int i = 0; i < 3; ++i) ASSERT_NEAR(hls[i], want[i], 1e-9) << "model of " << Show(rgb) << " gave " << Show(hls);
}

TEST(ColorModel, RandomColoursRoundTripAndMatchTextbook) {
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int n = 0; n < 50000; ++n) CheckAgainstTextbook({unit(rng), unit(rng), unit(rng)});
}

TEST(ColorModel, ByteColoursRoundTripAndMatchTextbook) {
  // Byte colours hit greys, equal channels and pure-red hues, which random reals never do.
  std::mt19937 rng(4711);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int n = 0; n < 30000; ++n) CheckAgainstTextbook({byte(rng) / 255.0, byte(rng) / 255.0, byte(rng) / 255.0});
  for (int v = 0; v < 256; v += 5) {
    for (int w = 0; w < 256; w += 51) {
      CheckAgainstTextbook({v / 255.0, w / 255.0, w / 255.0});
      CheckAgainstTextbook({w / 255.0, v / 255.0, w / 255.0});
      CheckAgainstTextbook({w / 255.0, w / 255.0, v / 255.0});
    }
  }
}

ScreenColor NoSystemColours(int) {
  ADD_FAILURE() << "plain colours need no lookup";
  return 0;
}

TEST(ColorModel, MakeShadesOfGreys) {
  // Independent integer form of 255 - round((256 - c) / 2) with ties to even.
  for (int c = 0; c < 256; ++c) {
    const int twice = 256 - c;
    int q = twice / 2;
    if (twice % 2 == 1 && q % 2 == 1) ++q;
    const Shades s = MakeShades(MakeScreenColor(c, c, c), ShadeFactor(5), ShadeFactor(4), NoSystemColours);
    EXPECT_EQ(s.light, MakeScreenColor(255 - q, 255 - q, 255 - q)) << c;
    const int d = static_cast<int>(std::lround(c * 0.6));
    EXPECT_EQ(s.dark, MakeScreenColor(d, d, d)) << c;
  }
}

TEST(ColorModel, MakeShadesKnownValues) {
  struct Case {
    ScreenColor color, light, dark;
  };
  const Case cases[] = {
      {MakeScreenColor(192, 192, 192), MakeScreenColor(223, 223, 223), MakeScreenColor(115, 115, 115)},
      {MakeScreenColor(0, 0, 0), MakeScreenColor(127, 127, 127), MakeScreenColor(0, 0, 0)},
      {MakeScreenColor(255, 255, 255), MakeScreenColor(255, 255, 255), MakeScreenColor(153, 153, 153)},
      // Red keeps its hue: lightness 0.5 becomes 0.3, saturation 1.
      {MakeScreenColor(255, 0, 0), MakeScreenColor(255, 127, 127), MakeScreenColor(153, 0, 0)},
      // (0, 128, 255): L = 0.5, S = 1; lightness 0.3 gives green 0.3 * (1 + 0.0039...) * 255.
      {MakeScreenColor(0, 128, 255), MakeScreenColor(127, 191, 255), MakeScreenColor(0, 77, 153)},
  };
  for (const auto& c : cases) {
    const Shades s = MakeShades(c.color, ShadeFactor(5), ShadeFactor(4), NoSystemColours);
    EXPECT_EQ(s.light, c.light) << std::hex << c.color;
    EXPECT_EQ(s.dark, c.dark) << std::hex << c.color;
  }
}

TEST(ColorModel, MakeShadesResolvesSystemColoursThroughLookup) {
  int asked = -1;
  const auto lookup = [&](int index) {
    asked = index;
    return MakeScreenColor(192, 192, 192);
  };
  const Shades s = MakeShades(clBtnFace, ShadeFactor(5), ShadeFactor(4), lookup);
  EXPECT_EQ(asked, 15);
  EXPECT_EQ(s.light, MakeScreenColor(223, 223, 223));
  EXPECT_EQ(s.dark, MakeScreenColor(115, 115, 115));
}

TEST(ColorModel, FullLightFactorStaysWithinAByte) {
  const Shades s = MakeShades(MakeScreenColor(0, 10, 255), ShadeFactor(0), ShadeFactor(0), NoSystemColours);
  EXPECT_EQ(s.light, MakeScreenColor(0, 9, 254));
  EXPECT_EQ(s.dark, MakeScreenColor(0, 10, 255));
}

TEST(ColorModel, FactorsAreSinglePrecision) {
  EXPECT_EQ(ShadeFactor(5), 0.5f);
  EXPECT_EQ(ShadeFactor(4), 0.6f);
  EXPECT_NE(static_cast<double>(ShadeFactor(4)), 0.6);
}

}  // namespace
}  // namespace quillet::widgets
