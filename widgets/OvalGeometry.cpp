#include "widgets/OvalGeometry.h"

namespace quillet::widgets {
namespace {

// Halving rounded down: when the group does not fit, it overhangs both sides the same way
// as a fitting one is centred.
int Half(int v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

Rect BevelArcBox(int width, int height, int i) { return {i, i, width - i - 1, height - i - 1}; }

BevelSplit BevelSplitPoints(int width, int height) {
  return {{4 * (width / 5), height / 5}, {width / 5, 4 * (height / 5)}};
}

FaceLayout ComputeFaceLayout(const FaceInput& in) {
  FaceLayout out;
  out.src = {0, 0, in.glyphWidth, in.glyphHeight};
  const int cell = in.numGlyphs > 0 ? in.glyphWidth / in.numGlyphs : in.glyphWidth;
  if (in.numGlyphs > 0) out.src.right = cell;

  int gw = 0, gh = 0;
  Rect& dst = out.dst;
  if (in.numGlyphs > 0) {
    out.drawGlyph = true;
    if (!in.enabled && in.numGlyphs > 1) {
      out.src.left = cell;
      out.src.right = 2 * cell;
    }
    gw = out.src.Width();
    gh = out.src.Height();
    const int tw = in.textWidth, th = in.textHeight;

    if (!in.hasCaption || in.layout == blGlyphTop || in.layout == blGlyphBottom) {
      dst.left = Half(in.width - gw);
    } else if (in.layout == blGlyphLeft) {
      dst.left = Half(in.width - (tw + in.spacing + gw)) - in.margin;
    } else {
      dst.left = Half(tw + in.spacing + gw + in.width) - gw + in.margin;
    }
    dst.right = dst.left + gw;

    if (!in.hasCaption || in.layout == blGlyphLeft || in.layout == blGlyphRight) {
      dst.top = Half(in.height - gh);
    } else if (in.layout == blGlyphTop) {
      dst.top = Half(in.height - (th + gh + in.spacing)) - in.margin;
    } else {
      dst.top = Half(th + gh + in.spacing + in.height) - gh + in.margin;
    }
    dst.bottom = dst.top + gh;

    if (in.bevelState == -1) {
      dst = {dst.left + 1, dst.top + 1, dst.right + 1, dst.bottom + 1};
      out.wipe[0] = {dst.left - 1, dst.bottom};
      out.wipe[1] = {dst.left - 1, dst.top - 1};
      out.wipe[2] = {dst.right, dst.top - 1};
      if (in.numGlyphs > 2) {
        out.src.left = 2 * cell;
        out.src.right = 3 * cell;
      }
    } else {
      out.wipe[0] = {dst.right, dst.top};
      out.wipe[1] = {dst.right, dst.bottom};
      out.wipe[2] = {dst.left, dst.bottom};
    }
  }

  if (!in.hasCaption) return out;
  out.drawCaption = true;
  const int tw = in.textWidth, th = in.textHeight;
  int x = Half(in.width - tw);
  int y = Half(in.height - th);
  if (out.drawGlyph) {
    if (in.layout == blGlyphRight) x = dst.left - tw - in.spacing;
    if (in.layout == blGlyphLeft) x = gw + dst.left + in.spacing;
    if (in.layout == blGlyphTop) y = dst.top + gh + in.spacing;
    if (in.layout == blGlyphBottom) y = dst.top - th - in.spacing;
  }
  if (in.bevelState == -1) {
    ++x;
    ++y;
    out.textFill = {x, y, x + tw, y + th};
  } else {
    // Also covers where the sunken caption was.
    out.textFill = {x + 1, y + 1, x + tw + 1, y + th + 1};
  }
  out.textRect = {x, y, x + tw, y + th};
  return out;
}

bool IsAccel(char ch, std::string_view caption) {
  const auto amp = caption.find('&');
  if (amp == std::string_view::npos || amp + 1 >= caption.size()) return false;
  return Upper(caption[amp + 1]) == Upper(ch);
}

}  // namespace quillet::widgets
