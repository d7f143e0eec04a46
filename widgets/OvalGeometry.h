#pragma once
// Where the oval button puts its bevel arcs, glyph and caption, and which key is its
// accelerator. Pure arithmetic, shared by the Win32 control and its native tests.
#include <cstddef>
#include <string_view>

namespace quillet::widgets {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

// Right and bottom edges are exclusive, as in GDI.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// Side of the caption on which the glyph sits.
enum TButtonLayout : unsigned char { blGlyphBottom, blGlyphLeft, blGlyphRight, blGlyphTop };

// Bounding box of the i-th bevel arc, i counted from 1 at the outside.
Rect BevelArcBox(int width, int height, int i);

// The two points that split each bevel ellipse into halves. The upper-left half runs
// counter-clockwise from upperRight to lowerLeft, the lower-right half back again.
struct BevelSplit {
  Point upperRight;
  Point lowerLeft;
};
BevelSplit BevelSplitPoints(int width, int height);

// Everything DrawFace needs to know about the control.
struct FaceInput {
  int width = 0;
  int height = 0;
  int glyphWidth = 0;  // whole strip
  int glyphHeight = 0;
  int numGlyphs = 0;
  bool enabled = true;
  int bevelState = 1;  // -1 sunken, 0 none, 1 raised
  TButtonLayout layout = blGlyphBottom;
  int margin = 0;
  int spacing = 4;
  bool hasCaption = false;
  int textWidth = 0;  // measured on the raw caption
  int textHeight = 0;
};

struct FaceLayout {
  bool drawGlyph = false;
  Rect src;       // cell of the glyph strip
  Rect dst;       // where it goes, after the sunken shift
  Point wipe[3];  // polyline in the face colour (start included, end excluded)
  bool drawCaption = false;
  Rect textFill;  // cleared with the face brush before the caption is drawn
  Rect textRect;  // the caption's single-line rectangle
};

FaceLayout ComputeFaceLayout(const FaceInput& in);

// True when the caption's first ampersand is followed by ch (ASCII case ignored).
bool IsAccel(char ch, std::string_view caption);

// Longest caption the control draws; longer ones are cut.
constexpr std::size_t kMaxDrawnCaption = 79;
inline std::string_view DrawnCaption(std::string_view caption) { return caption.substr(0, kMaxDrawnCaption); }

}  // namespace quillet::widgets
