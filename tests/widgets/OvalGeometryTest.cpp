#include "widgets/OvalGeometry.h"

#include <gtest/gtest.h>

#include <string>

namespace quillet::widgets {
namespace {

TEST(OvalGeometry, BevelArcsOfSmallButton) {
  EXPECT_EQ(BevelArcBox(64, 31, 1), (Rect{1, 1, 62, 29}));
  EXPECT_EQ(BevelArcBox(64, 31, 2), (Rect{2, 2, 61, 28}));
  const BevelSplit s = BevelSplitPoints(64, 31);
  EXPECT_EQ(s.upperRight, (Point{48, 6}));
  EXPECT_EQ(s.lowerLeft, (Point{12, 24}));
  // Each coordinate is divided before it is multiplied.
  const BevelSplit t = BevelSplitPoints(99, 49);
  EXPECT_EQ(t.upperRight, (Point{76, 9}));
  EXPECT_EQ(t.lowerLeft, (Point{19, 36}));
}

FaceInput Base() {
  FaceInput in;
  in.width = 100;
  in.height = 50;
  in.hasCaption = true;
  in.textWidth = 30;
  in.textHeight = 13;
  return in;
}

struct FaceCase {
  const char* name;
  FaceInput in;
  bool drawGlyph;
  Rect src, dst;
  Point wipe[3];
  Rect textRect, textFill;
};

FaceInput With(FaceInput in, int gw, int gh, int n, TButtonLayout layout, int bevel, bool enabled = true,
               int margin = 0) {
  in.glyphWidth = gw;
  in.glyphHeight = gh;
  in.numGlyphs = n;
  in.layout = layout;
  in.bevelState = bevel;
  in.enabled = enabled;
  in.margin = margin;
  return in;
}

FaceInput NoCaption(FaceInput in) {
  in.hasCaption = false;
  return in;
}

TEST(OvalGeometry, FaceLayoutTable) {
  const FaceCase cases[] = {
      {"caption only, raised",
       With(Base(), 0, 0, 0, blGlyphBottom, 1),
       false,
       {},
       {},
       {},
       {35, 18, 65, 31},
       {36, 19, 66, 32}},
      {"caption only, sunken",
       With(Base(), 0, 0, 0, blGlyphBottom, -1),
       false,
       {},
       {},
       {},
       {36, 19, 66, 32},
       {36, 19, 66, 32}},
      {"strip without cells is not drawn",
       With(Base(), 48, 16, 0, blGlyphLeft, 1),
       false,
       {0, 0, 48, 16},
       {},
       {},
       {35, 18, 65, 31},
       {36, 19, 66, 32}},
      {"glyph below, raised",
       With(Base(), 48, 16, 3, blGlyphBottom, 1),
       true,
       {0, 0, 16, 16},
       {42, 25, 58, 41},
       {{58, 25}, {58, 41}, {42, 41}},
       {35, 8, 65, 21},
       {36, 9, 66, 22}},
      {"glyph below, sunken shows the down cell",
       With(Base(), 48, 16, 3, blGlyphBottom, -1),
       true,
       {32, 0, 48, 16},
       {43, 26, 59, 42},
       {{42, 42}, {42, 25}, {59, 25}},
       {36, 10, 66, 23},
       {36, 10, 66, 23}},
      {"glyph below, flat",
       With(Base(), 48, 16, 3, blGlyphBottom, 0),
       true,
       {0, 0, 16, 16},
       {42, 25, 58, 41},
       {{58, 25}, {58, 41}, {42, 41}},
       {35, 8, 65, 21},
       {36, 9, 66, 22}},
      {"disabled with two cells",
       With(Base(), 32, 16, 2, blGlyphBottom, 1, false),
       true,
       {16, 0, 32, 16},
       {42, 25, 58, 41},
       {{58, 25}, {58, 41}, {42, 41}},
       {35, 8, 65, 21},
       {36, 9, 66, 22}},
      {"disabled with one cell",
       With(Base(), 16, 16, 1, blGlyphBottom, 1, false),
       true,
       {0, 0, 16, 16},
       {42, 25, 58, 41},
       {{58, 25}, {58, 41}, {42, 41}},
       {35, 8, 65, 21},
       {36, 9, 66, 22}},
      {"disabled and sunken: down cell wins",
       With(Base(), 48, 16, 3, blGlyphBottom, -1, false),
       true,
       {32, 0, 48, 16},
       {43, 26, 59, 42},
       {{42, 42}, {42, 25}, {59, 25}},
       {36, 10, 66, 23},
       {36, 10, 66, 23}},
      {"glyph left with margin",
       With(Base(), 16, 16, 1, blGlyphLeft, 1, true, 2),
       true,
       {0, 0, 16, 16},
       {23, 17, 39, 33},
       {{39, 17}, {39, 33}, {23, 33}},
       {43, 18, 73, 31},
       {44, 19, 74, 32}},
      {"glyph left, sunken",
       With(Base(), 16, 16, 1, blGlyphLeft, -1),
       true,
       {0, 0, 16, 16},
       {26, 18, 42, 34},
       {{25, 34}, {25, 17}, {42, 17}},
       {47, 19, 77, 32},
       {47, 19, 77, 32}},
      {"glyph right with margin",
       With(Base(), 16, 16, 1, blGlyphRight, 1, true, 2),
       true,
       {0, 0, 16, 16},
       {61, 17, 77, 33},
       {{77, 17}, {77, 33}, {61, 33}},
       {27, 18, 57, 31},
       {28, 19, 58, 32}},
      {"glyph top",
       With(Base(), 16, 16, 1, blGlyphTop, 1),
       true,
       {0, 0, 16, 16},
       {42, 8, 58, 24},
       {{58, 8}, {58, 24}, {42, 24}},
       {35, 28, 65, 41},
       {36, 29, 66, 42}},
      {"glyph top with margin",
       With(Base(), 16, 16, 1, blGlyphTop, 1, true, 3),
       true,
       {0, 0, 16, 16},
       {42, 5, 58, 21},
       {{58, 5}, {58, 21}, {42, 21}},
       {35, 25, 65, 38},
       {36, 26, 66, 39}},
      {"glyph alone is centred",
       With(NoCaption(Base()), 16, 16, 1, blGlyphLeft, 1),
       true,
       {0, 0, 16, 16},
       {42, 17, 58, 33},
       {{58, 17}, {58, 33}, {42, 33}},
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FaceLayout f = ComputeFaceLayout(c.in);
    EXPECT_EQ(f.drawGlyph, c.drawGlyph);
    EXPECT_EQ(f.src, c.src);
    if (c.drawGlyph) {
      EXPECT_EQ(f.dst, c.dst);
      for (int i = 0; i < 3; ++i) EXPECT_EQ(f.wipe[i], c.wipe[i]) << "wipe point " << i;
    }
    EXPECT_EQ(f.drawCaption, c.in.hasCaption);
    if (c.in.hasCaption) {
      EXPECT_EQ(f.textRect, c.textRect);
      EXPECT_EQ(f.textFill, c.textFill);
    }
  }
}

TEST(OvalGeometry, CaptionMovesTwoPixelsAlongGlyphAxisWhenSunk) {
  for (TButtonLayout layout : {blGlyphBottom, blGlyphLeft, blGlyphRight, blGlyphTop}) {
    const FaceLayout up = ComputeFaceLayout(With(Base(), 16, 16, 1, layout, 1));
    const FaceLayout down = ComputeFaceLayout(With(Base(), 16, 16, 1, layout, -1));
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    EXPECT_EQ(down.textRect.left - up.textRect.left, horizontal ? 2 : 1) << int(layout);
    EXPECT_EQ(down.textRect.top - up.textRect.top, horizontal ? 1 : 2) << int(layout);
    EXPECT_EQ(down.dst.left - up.dst.left, 1);
    EXPECT_EQ(down.dst.top - up.dst.top, 1);
  }
}

TEST(OvalGeometry, OversizedCaptionOverhangsBothSides) {
  FaceInput in = Base();
  in.width = 20;
  in.textWidth = 31;
  in.height = 10;
  in.textHeight = 13;
  const FaceLayout f = ComputeFaceLayout(in);
  EXPECT_EQ(f.textRect, (Rect{-6, -2, 25, 11}));
}

TEST(OvalGeometry, Accelerators) {
  struct Case {
    char ch;
    const char* caption;
    bool accel;
  };
  const Case cases[] = {
      {'c', "&Close", true},  {'C', "&Close", true},   {'C', "&close", true},  {'o', "Cl&ose", true},
      {'c', "Cl&ose", false}, {'c', "Close", false},   {'e', "Close&", false}, {'&', "Close&", false},
      {'b', "a&b&c", true},   {'c', "a&b&c", false},   {'a', "", false},       {'1', "&1st", true},
      {'!', "&1st", false},   {'s', "&Support", true}, {'\0', "&", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAccel(c.ch, c.caption), c.accel) << c.caption << " / " << c.ch;
}

TEST(OvalGeometry, LongCaptionsAreCut) {
  const std::string longCaption(200, 'x');
  EXPECT_EQ(DrawnCaption(longCaption).size(), kMaxDrawnCaption);
  EXPECT_EQ(DrawnCaption("Close"), "Close");
}

}  // namespace
}  // namespace quillet::widgets
