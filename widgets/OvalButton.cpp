#include "widgets/OvalButton.h"

#include <windowsx.h>

#include <cstddef>
#include <cstring>
#include <utility>

namespace quillet::widgets {
namespace {

ScreenColor PlatformSysColor(int index) { return static_cast<ScreenColor>(GetSysColor(index)); }

COLORREF Rgb(ScreenColor c) { return static_cast<COLORREF>(ColorToRGB(c, PlatformSysColor)); }

RECT ToRect(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

// Pen and brush of one drawing step. The DC's whole state is saved on construction and
// restored on destruction, before the objects made here are deleted.
class Canvas {
 public:
  explicit Canvas(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~Canvas() { RestoreDC(dc_, saved_); }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  void ClearPen() { SelectObject(dc_, GetStockObject(NULL_PEN)); }
  void SolidPen(COLORREF color) {
    win::PenHandle next(CreatePen(PS_SOLID, 1, color));
    SelectObject(dc_, next.get());
    pen_ = std::move(next);
  }
  void ClearBrush() {
    SelectObject(dc_, GetStockObject(NULL_BRUSH));
    solidBrush_ = false;
  }
  void SolidBrush(COLORREF color) {
    win::BrushHandle next(CreateSolidBrush(color));
    SelectObject(dc_, next.get());
    brush_ = std::move(next);
    solidBrush_ = true;
  }
  // Fills with the current brush; a clear brush leaves the pixels alone.
  void Fill(const Rect& r) {
    if (!solidBrush_) return;
    const RECT rc = ToRect(r);
    FillRect(dc_, &rc, brush_.get());
  }

 private:
  HDC dc_;
  int saved_;
  win::PenHandle pen_;
  win::BrushHandle brush_;
  bool solidBrush_ = false;
};

TShiftState ShiftFrom(WPARAM wp) {
  TShiftState s = 0;
  if (wp & MK_SHIFT) s |= ssShift;
  if (wp & MK_CONTROL) s |= ssCtrl;
  if (wp & MK_LBUTTON) s |= ssLeft;
  if (wp & MK_RBUTTON) s |= ssRight;
  if (wp & MK_MBUTTON) s |= ssMiddle;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

struct DialogCharSearch {
  char ch;
  bool handled;
};

BOOL CALLBACK OfferDialogChar(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<DialogCharSearch*>(lp);
  char name[sizeof kOvalButtonClass + 1] = {};
  if (GetClassNameA(hwnd, name, sizeof name) > 0 && std::strcmp(name, kOvalButtonClass) == 0 &&
      SendMessageA(hwnd, kDialogCharMessage, static_cast<unsigned char>(search->ch), 0) == 1) {
    search->handled = true;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool TFont::operator==(const TFont& o) const {
  return color == o.color && std::memcmp(&log, &o.log, offsetof(LOGFONTA, lfFaceName)) == 0 &&
         std::strncmp(log.lfFaceName, o.log.lfFaceName, LF_FACESIZE) == 0;
}

TFont DefaultFont() {
  TFont f;
  f.log.lfHeight = -11;
  f.log.lfWeight = FW_NORMAL;
  f.log.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(f.log.lfFaceName, "MS Sans Serif");
  return f;
}

bool DispatchDialogChar(HWND parent, char ch) {
  DialogCharSearch search{ch, false};
  EnumChildWindows(parent, OfferDialogChar, reinterpret_cast<LPARAM>(&search));
  return search.handled;
}

TOvalButton::TOvalButton() : font_(DefaultFont()), hfont_(CreateFontIndirectA(&font_.log)) {
  const Shades s = MakeShades(color_, ShadeFactor(5), ShadeFactor(4), PlatformSysColor);
  lightColor_ = s.light;
  darkColor_ = s.dark;
}

TOvalButton::~TOvalButton() {
  if (hwnd_) DestroyWindow(hwnd_);
}

bool TOvalButton::Create(HWND parent, int left, int top, int width, int height) {
  if (hwnd_) return false;
  RegisterClassOnce(kOvalButtonClass, nullptr, CS_DBLCLKS);
  width_ = width;
  height_ = height;
  const DWORD style = WS_CHILD | WS_VISIBLE | (enabled_ ? 0 : WS_DISABLED);
  CreateWindowOf(kOvalButtonClass, caption_, style, 0, left, top, width, height, parent);
  return hwnd_ != nullptr;
}

void TOvalButton::SetBounds(int left, int top, int width, int height) {
  width_ = width;
  height_ = height;
  if (hwnd_) MoveWindow(hwnd_, left, top, width, height, TRUE);
}

void TOvalButton::SetCaption(const std::string& caption) {
  if (hwnd_) {
    SetWindowTextA(hwnd_, caption.c_str());  // WM_SETTEXT stores it and repaints
  } else {
    caption_ = caption;
  }
}

void TOvalButton::SetEnabled(bool enabled) {
  if (hwnd_) {
    EnableWindow(hwnd_, enabled);  // WM_ENABLE stores it and repaints
  } else {
    enabled_ = enabled;
  }
}

void TOvalButton::SetBevelWidth(TBevelWidth value) {
  if (value > 10) value = 10;
  if (value == bevelWidth_) return;
  bevelWidth_ = value;
  Repaint();
}

void TOvalButton::SetColor(ScreenColor value) {
  if (value == color_) return;
  color_ = value;
  const Shades s = MakeShades(color_, ShadeFactor(5), ShadeFactor(4), PlatformSysColor);
  lightColor_ = s.light;
  darkColor_ = s.dark;
  Repaint();
}

void TOvalButton::SetDown(bool value) {
  if (value == down_) return;
  down_ = value;
  bevelState_ = down_ ? -1 : (flat_ ? 0 : 1);
  Repaint();
}

void TOvalButton::SetFlat(bool value) {
  if (value == flat_) return;
  flat_ = value;
  bevelState_ = flat_ ? 0 : 1;
  Repaint();
}

void TOvalButton::SetFont(const TFont& value) {
  if (value == font_) return;
  font_ = value;
  hfont_.reset(CreateFontIndirectA(&font_.log));
  Repaint();
}

void TOvalButton::SetGlyph(HBITMAP bitmap) {
  BITMAP info{};
  win::BitmapHandle copy;
  int w = 0, h = 0;
  if (bitmap && GetObjectA(bitmap, sizeof info, &info) && info.bmWidth > 0 && info.bmHeight > 0) {
    w = info.bmWidth;
    h = info.bmHeight;
    copy = win::CreateDib32(w, h);
    win::MemoryDcHandle from(CreateCompatibleDC(nullptr));
    win::MemoryDcHandle to(CreateCompatibleDC(nullptr));
    if (copy && from && to) {
      win::SelectGuard selFrom(from.get(), bitmap);
      win::SelectGuard selTo(to.get(), copy.get());
      BitBlt(to.get(), 0, 0, w, h, from.get(), 0, 0, SRCCOPY);
      const COLORREF corner = GetPixel(to.get(), 0, h - 1);
      if (corner != CLR_INVALID) transparentColor_ = corner;
    } else {
      copy.reset();
      w = h = 0;
    }
  }
  glyph_ = std::move(copy);
  glyphWidth_ = w;
  glyphHeight_ = h;
  Repaint();
}

void TOvalButton::SetLayout(TButtonLayout value) {
  if (value == layout_) return;
  layout_ = value;
  Repaint();
}

void TOvalButton::SetMargin(int value) {
  if (value == margin_) return;
  margin_ = value;
  Repaint();
}

void TOvalButton::SetNumGlyphs(TNumGlyphs value) {
  if (value > 4) value = 4;
  if (value == numGlyphs_) return;
  numGlyphs_ = value;
  Repaint();
}

void TOvalButton::SetSpacing(int value) {
  if (value == spacing_) return;
  spacing_ = value;
  Repaint();
}

void TOvalButton::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Repaint();
}

void TOvalButton::SetTransparentColor(ScreenColor value) {
  if (value == transparentColor_) return;
  transparentColor_ = value;
  Repaint();
}

bool TOvalButton::IsInOval(int x, int y) const {
  win::RegionHandle region(CreateEllipticRgn(0, 0, width_, height_));
  return region && PtInRegion(region.get(), x, y);
}

void TOvalButton::Paint(HDC dc) {
  {
    Canvas cv(dc);
    if (transparent_) {
      cv.ClearBrush();
    } else {
      cv.SolidBrush(Rgb(color_));
    }
    if (flat_) {
      cv.ClearPen();
    } else {
      cv.SolidPen(Rgb(clBlack));
    }
    Ellipse(dc, 0, 0, width_ - 1, height_ - 1);
  }
  DrawFace(dc);
}

void TOvalButton::DrawBevel(HDC dc) {
  if (bevelState_ == 0 || bevelWidth_ == 0) return;  // a clear pen draws nothing
  Canvas cv(dc);
  SetArcDirection(dc, AD_COUNTERCLOCKWISE);
  const BevelSplit split = BevelSplitPoints(width_, height_);
  const bool sunken = bevelState_ == -1;
  const Point halves[2][2] = {{split.upperRight, split.lowerLeft}, {split.lowerLeft, split.upperRight}};
  const ScreenColor shades[2] = {sunken ? darkColor_ : lightColor_, sunken ? lightColor_ : darkColor_};
  for (int half = 0; half < 2; ++half) {
    cv.SolidPen(Rgb(shades[half]));
    const Point from = halves[half][0], to = halves[half][1];
    for (int i = 1; i <= bevelWidth_; ++i) {
      const Rect box = BevelArcBox(width_, height_, i);
      Arc(dc, box.left, box.top, box.right, box.bottom, from.x, from.y, to.x, to.y);
    }
  }
}

void TOvalButton::DrawFace(HDC dc) {
  Canvas cv(dc);
  SelectObject(dc, hfont_.get());
  SIZE text{};
  if (!caption_.empty()) {
    GetTextExtentPoint32A(dc, caption_.data(), static_cast<int>(caption_.size()), &text);
  }

  FaceInput in;
  in.width = width_;
  in.height = height_;
  in.glyphWidth = glyphWidth_;
  in.glyphHeight = glyphHeight_;
  in.numGlyphs = numGlyphs_;
  in.enabled = enabled_;
  in.bevelState = bevelState_;
  in.layout = layout_;
  in.margin = margin_;
  in.spacing = spacing_;
  in.hasCaption = !caption_.empty();
  in.textWidth = text.cx;
  in.textHeight = text.cy;
  const FaceLayout f = ComputeFaceLayout(in);

  DrawBevel(dc);

  const COLORREF face = Rgb(color_);
  if (f.drawGlyph) {
    // Wipes the strip the glyph leaves when it moves between raised and sunken.
    if (transparent_) {
      cv.ClearPen();
    } else {
      cv.SolidPen(face);
    }
    MoveToEx(dc, f.wipe[0].x, f.wipe[0].y, nullptr);
    LineTo(dc, f.wipe[1].x, f.wipe[1].y);
    LineTo(dc, f.wipe[2].x, f.wipe[2].y);

    if (transparent_) {
      cv.ClearBrush();
    } else {
      cv.SolidBrush(face);
    }
    // The brush shows where the glyph has its transparent colour.
    cv.Fill(f.dst);
    if (glyph_ && f.dst.Width() > 0 && f.dst.Height() > 0) {
      win::MemoryDcHandle mem(CreateCompatibleDC(dc));
      win::SelectGuard sel(mem.get(), glyph_.get());
      TransparentBlt(dc, f.dst.left, f.dst.top, f.dst.Width(), f.dst.Height(), mem.get(), f.src.left, f.src.top,
                     f.src.Width(), f.src.Height(), Rgb(transparentColor_));
    }
  }

  if (!f.drawCaption) return;
  if (transparent_) {
    cv.ClearBrush();
    SetBkMode(dc, TRANSPARENT);
  } else {
    cv.SolidBrush(face);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, face);
  }
  cv.Fill(f.textFill);
  SetTextColor(dc, Rgb(enabled_ ? font_.color : clGrayText));
  const std::string_view shown = DrawnCaption(caption_);
  RECT r = ToRect(f.textRect);
  DrawTextA(dc, shown.data(), static_cast<int>(shown.size()), &r, DT_SINGLELINE);
}

void TOvalButton::Click() {
  if (enabled_ && mouseInside_ && OnClick) OnClick(*this);
}

void TOvalButton::DblClick() {
  if (enabled_ && mouseInside_ && OnDblClick) OnDblClick(*this);
}

void TOvalButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (enabled_ && IsInOval(x, y)) {
    wasDown_ = down_;
    down_ = true;
    bevelState_ = -1;
    if (transparent_) {
      Repaint();
    } else {
      DrawFaceNow();
    }
    if (OnMouseDown) OnMouseDown(*this, button, shift, x, y);
  }
  mousePressed_ = true;
}

void TOvalButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (enabled_ && IsInOval(x, y)) {
    if (groupIndex_ == 0) {
      down_ = false;
      bevelState_ = 1;
      if (transparent_) {
        Repaint();
      } else {
        DrawFaceNow();
      }
    } else {
      SetDown(!wasDown_);
    }
    if (OnMouseUp) OnMouseUp(*this, button, shift, x, y);
  }
  mousePressed_ = false;
}

void TOvalButton::MouseMove(TShiftState shift, int x, int y) {
  const bool inOval = IsInOval(x, y);
  const bool sticky = groupIndex_ != 0;
  if (mousePressed_) {
    if (inOval) {
      if (bevelState_ == 1 && !sticky) {
        mouseInside_ = true;
        down_ = true;
        bevelState_ = -1;
        DrawBevelNow();
      }
    } else {
      if (bevelState_ == -1 && !sticky && mouseInside_) {
        down_ = false;
        bevelState_ = 1;
        DrawBevelNow();
      }
      mouseInside_ = false;
    }
  } else if (flat_ && !down_) {
    if (inOval) {
      mouseInside_ = true;
      bevelState_ = 1;
      DrawBevelNow();
    } else if (mouseInside_) {
      mouseInside_ = false;
      bevelState_ = 0;
      Repaint();
    }
  } else {
    mouseInside_ = inOval;
  }
  if (mouseInside_ && OnMouseMove) OnMouseMove(*this, shift, x, y);
}

void TOvalButton::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(*this);
}

void TOvalButton::MouseLeave() {
  if (mouseInside_ && enabled_) {
    mouseInside_ = false;
    if (flat_ && !down_) {
      bevelState_ = 0;
      Repaint();
    }
  }
  if (OnMouseExit) OnMouseExit(*this);
}

bool TOvalButton::DialogChar(char ch) {
  if (!IsAccel(ch, caption_)) return false;
  if (enabled_) Click();
  return true;
}

void TOvalButton::Repaint() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void TOvalButton::DrawFaceNow() {
  if (!hwnd_) return;
  win::WindowDc dc(hwnd_);
  if (dc.get()) DrawFace(dc.get());
}

void TOvalButton::DrawBevelNow() {
  if (!hwnd_) return;
  win::WindowDc dc(hwnd_);
  if (dc.get()) DrawBevel(dc.get());
}

void TOvalButton::PaintWindow(HDC dc) {
  const RECT all{0, 0, width_, height_};
  FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  win::PaintParentBackground(hwnd_, dc, width_, height_);
  Paint(dc);
}

void TOvalButton::OnButtonDown(TMouseButton button, WPARAM wp, LPARAM lp, TShiftState extra) {
  SetCapture(hwnd_);
  MouseDown(button, ShiftFrom(wp) | extra, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
}

void TOvalButton::OnButtonUp(TMouseButton button, WPARAM wp, LPARAM lp) {
  const int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
  if (button == mbLeft && clickPending_) {
    clickPending_ = false;
    if (x >= 0 && y >= 0 && x < width_ && y < height_) Click();
  }
  MouseUp(button, ShiftFrom(wp), x, y);
  if ((wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0 && GetCapture() == hwnd_) ReleaseCapture();
}

LRESULT TOvalButton::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      width_ = LOWORD(lp);
      height_ = HIWORD(lp);
      return 0;
    case WM_SETTEXT: {
      const LRESULT r = DefWindowProcA(hwnd_, msg, wp, lp);
      caption_ = lp ? reinterpret_cast<const char*>(lp) : "";
      Repaint();
      return r;
    }
    case WM_ENABLE:
      enabled_ = wp != 0;
      Repaint();
      return 0;
    case WM_SETCURSOR:
      if (cursor_ && LOWORD(lp) == HTCLIENT) {
        ::SetCursor(cursor_);
        return TRUE;
      }
      break;
    case WM_LBUTTONDOWN:
      clickPending_ = true;
      OnButtonDown(mbLeft, wp, lp, 0);
      return 0;
    case WM_LBUTTONDBLCLK:
      // The second press of a double-click is not also a click.
      DblClick();
      OnButtonDown(mbLeft, wp, lp, ssDouble);
      return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK: OnButtonDown(mbRight, wp, lp, msg == WM_RBUTTONDBLCLK ? ssDouble : 0); return 0;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK: OnButtonDown(mbMiddle, wp, lp, msg == WM_MBUTTONDBLCLK ? ssDouble : 0); return 0;
    case WM_LBUTTONUP: OnButtonUp(mbLeft, wp, lp); return 0;
    case WM_RBUTTONUP: OnButtonUp(mbRight, wp, lp); return 0;
    case WM_MBUTTONUP: OnButtonUp(mbMiddle, wp, lp); return 0;
    case WM_MOUSEMOVE:
      if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd_, 0};
        TrackMouseEvent(&track);
        tracking_ = true;
        MouseEnter();
      }
      MouseMove(ShiftFrom(wp), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
      return 0;
    case WM_MOUSELEAVE:
      tracking_ = false;
      MouseLeave();
      return 0;
    case kDialogCharMessage: return DialogChar(static_cast<char>(wp)) ? 1 : 0;
    default: break;
  }
  return PaintedWindow::HandleMessage(msg, wp, lp);
}

}  // namespace quillet::widgets
