#include "widgets/SpinLogic.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace quillet::widgets {
namespace {

constexpr SpinRange kFree{0, 0};
constexpr SpinRange kResults{2, 30};

TEST(SpinLogic, BoundingHoldsOnlyWhenTheBoundsDiffer) {
  struct Case {
    SpinRange range;
    int32_t in, out;
  } cases[] = {
      {kFree, -5, -5},    {kFree, 1000, 1000}, {kFree, INT32_MIN, INT32_MIN},
      {{7, 7}, 3, 3},     {{7, 7}, 9, 9},      {kResults, 1, 2},
      {kResults, 2, 2},   {kResults, 30, 30},  {kResults, 31, 30},
      {kResults, 99, 30}, {kResults, -40, 2},  {{-10, -5}, 0, -5},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.range.Bound(c.in), c.out) << c.range.minValue << ".." << c.range.maxValue << " " << c.in;
}

TEST(SpinLogic, ReadingTakesDecimalIntegersElseTheMinimum) {
  struct Case {
    const char* text;
    SpinRange range;
    int32_t value;
  } cases[] = {
      {"0", kFree, 0},
      {"45", kResults, 45},  // no bounds on reading
      {"1", kResults, 1},
      {"-1", kFree, -1},
      {"+12", kFree, 12},
      {"007", kFree, 7},
      {"2147483647", kFree, INT32_MAX},
      {"-2147483648", kFree, INT32_MIN},
      {"2147483648", kResults, 2},
      {"-2147483649", kFree, 0},
      {"", kResults, 2},
      {"-", kResults, 2},
      {"1.5", kResults, 2},  // a typed decimal separator makes the text invalid
      {"12a", kResults, 2},
      {" 12", kResults, 2},
      {"--3", kFree, 0},
      {"0x10", kFree, 0},
      {"abc", {-7, 7}, -7},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadSpinValue(c.text, c.range), c.value) << '"' << c.text << '"';
}

TEST(SpinLogic, SteppingBoundsAndNeverWraps) {
  struct Case {
    int32_t value;
    int64_t delta;
    SpinRange range;
    int32_t out;
  } cases[] = {
      {0, -1, kFree, -1},
      {999, 1, kFree, 1000},  // the typing limit does not stop the buttons
      {30, 1, kResults, 30},
      {2, -1, kResults, 2},
      {29, 5, kResults, 30},
      {45, -1, kResults, 30},  // an out-of-range text steps from its bounded value
      {0, 1, kResults, 2},
      {INT32_MAX, 1, kFree, INT32_MAX},
      {INT32_MIN, -1, kFree, INT32_MIN},
      {INT32_MIN, INT32_MIN, kFree, INT32_MIN},
      {INT32_MIN, -static_cast<int64_t>(INT32_MIN), kFree, 0},  // down by the most negative increment
      {10, -3, kFree, 7},
  };
  for (const Case& c : cases) EXPECT_EQ(StepSpinValue(c.value, c.delta, c.range), c.out) << c.value << "+" << c.delta;
}

TEST(SpinLogic, CharacterFilter) {
  const std::string accepted = "0123456789+-.";
  for (int ch = 0; ch < 256; ++ch) {
    const auto c = static_cast<unsigned char>(ch);
    const bool control = ch < 32 && ch != 13;
    const bool expected = control || accepted.find(static_cast<char>(ch)) != std::string::npos;
    EXPECT_EQ(SpinCharAllowed(c, '.', true), expected) << ch;
    // Not editable: only the control characters other than backspace pass.
    EXPECT_EQ(SpinCharAllowed(c, '.', false), control && ch != 8) << ch;
  }
  // The separator comes from the locale, so ',' is typed where it is the separator.
  EXPECT_TRUE(SpinCharAllowed(',', ',', true));
  EXPECT_FALSE(SpinCharAllowed('.', ',', true));
  EXPECT_FALSE(SpinCharAllowed(' ', '.', true));
  EXPECT_FALSE(SpinCharAllowed('e', '.', true));
}

TEST(SpinLogic, MinimumHeight) {
  // The program's font (13 pixels of text height) next to a 16-pixel system font, 1-pixel borders.
  EXPECT_EQ(SpinMinimumHeight(13, 16, 1), 22);
  // The smaller of the two heights gives the quarter.
  EXPECT_EQ(SpinMinimumHeight(20, 16, 1), 20 + 4 + 4 + 2);
  EXPECT_EQ(SpinMinimumHeight(13, 8, 2), 13 + 2 + 8 + 2);
}

TEST(SpinLogic, ButtonHalvesOverlapByOnePixel) {
  struct Case {
    int width, height;
    Placement up, down;
  } cases[] = {
      {15, 17, {0, 0, 15, 8}, {0, 7, 15, 10}},
      {15, 18, {0, 0, 15, 9}, {0, 8, 15, 10}},
      {10, 20, {0, 0, 15, 10}, {0, 9, 15, 11}},  // never narrower than 15
  };
  for (const Case& c : cases) {
    const SpinHalves h = SpinButtonHalves(c.width, c.height);
    EXPECT_EQ(h.up, c.up) << c.width << "x" << c.height;
    EXPECT_EQ(h.down, c.down) << c.width << "x" << c.height;
    EXPECT_EQ(h.up.top + h.up.height - 1, h.down.top);
    EXPECT_EQ(h.down.top + h.down.height, c.height);
  }
}

TEST(SpinLogic, PairSitsAtTheRightEdgeAndTheTextStaysClearOfIt) {
  EXPECT_EQ(SpinButtonPlacement(51, 22, 15, true), (Placement{31, 0, 15, 17}));
  EXPECT_EQ(SpinButtonPlacement(51, 22, 15, false), (Placement{36, 1, 15, 19}));
  EXPECT_EQ(SpinButtonPlacement(100, 30, 20, true), (Placement{75, 0, 20, 25}));
  // A 51 x 22 field with a 2-pixel client edge has a 47 x 18 client area.
  EXPECT_EQ(SpinTextArea(47, 18, 15), (TextArea{0, 0, 30, 19}));
  const Placement pair = SpinButtonPlacement(51, 22, 15, true);
  EXPECT_LE(SpinTextArea(47, 18, 15).right, pair.left);
}

}  // namespace
}  // namespace quillet::widgets
