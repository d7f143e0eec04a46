#include "widgets/OvalButton.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/Harness.h"

namespace quillet::widgets {
namespace {

constexpr COLORREF kParentColour = RGB(0, 128, 128);

// 32-bit top-down memory bitmap with direct access to its pixels.
class Image {
 public:
  Image(int w, int h) : w_(w), h_(h), dc_(CreateCompatibleDC(nullptr)) {
    void* bits = nullptr;
    bmp_ = win::CreateDib32(w, h, &bits);
    bits_ = static_cast<const DWORD*>(bits);
    old_ = SelectObject(dc_.get(), bmp_.get());
  }
  ~Image() {
    if (dc_) SelectObject(dc_.get(), old_);
  }
  Image(Image&&) noexcept = default;
  Image& operator=(Image&&) noexcept = default;
  HDC dc() const { return dc_.get(); }
  int width() const { return w_; }
  int height() const { return h_; }
  COLORREF At(int x, int y) const {
    GdiFlush();
    const DWORD p = bits_[y * w_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }

 private:
  int w_, h_;
  win::MemoryDcHandle dc_;
  win::BitmapHandle bmp_;
  const DWORD* bits_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(hwnd, msg, wp, lp); }

HWND MakeParent() {
  static const char* kClass = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = CreateSolidBrush(kParentColour);
    wc.lpszClassName = "OvalTestParent";
    RegisterClassA(&wc);
    return "OvalTestParent";
  }();
  return CreateWindowExA(0, kClass, "parent", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 400, 300, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

class Parent {
 public:
  Parent() : hwnd_(MakeParent()) {}
  ~Parent() { DestroyWindow(hwnd_); }
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

void Render(TOvalButton& b, Image& img) {
  SendMessageA(b.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(img.dc()), PRF_CLIENT);
}

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kFace = RGB(192, 192, 192);
constexpr COLORREF kLight = RGB(223, 223, 223);
constexpr COLORREF kDark = RGB(115, 115, 115);
constexpr COLORREF kMagenta = RGB(255, 0, 255);

void Mouse(TOvalButton& b, UINT msg, int x, int y, WPARAM keys = 0) {
  SendMessageA(b.Handle(), msg, keys, MAKELPARAM(x, y));
}

// Pumps this thread's messages for up to ms milliseconds or until done() holds.
template <typename Pred>
bool PumpUntil(Pred done, int ms) {
  const DWORD end = GetTickCount() + ms;
  while (!done() && static_cast<int>(end - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(5);
  }
  return done();
}

// Strip of n cells of 12 x 12: a 2-pixel magenta frame (bottom-left pixel, so the transparent
// colour) around red, green, blue and yellow centres.
win::BitmapHandle MakeStrip(int n) {
  const COLORREF centres[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0)};
  Image img(12 * n, 12);
  for (int c = 0; c < n; ++c) {
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 12; ++x) {
        const bool frame = x < 2 || y < 2 || x >= 10 || y >= 10;
        SetPixel(img.dc(), c * 12 + x, y, frame ? kMagenta : centres[c]);
      }
    }
  }
  win::MemoryDcHandle dc(CreateCompatibleDC(nullptr));
  HDC screen = GetDC(nullptr);
  win::BitmapHandle out(CreateCompatibleBitmap(screen, 12 * n, 12));
  ReleaseDC(nullptr, screen);
  {
    win::SelectGuard sel(dc.get(), out.get());
    BitBlt(dc.get(), 0, 0, 12 * n, 12, img.dc(), 0, 0, SRCCOPY);
  }
  return out;
}

struct Recorder {
  std::vector<std::string> events;
  int moves = 0;
  void Attach(TOvalButton& b) {
    auto mouse = [this](const char* what) {
      return [this, what](TOvalButton&, TMouseButton button, TShiftState, int x, int y) {
        events.push_back(std::string(what) + " " + std::to_string(button) + " " + std::to_string(x) + "," +
                         std::to_string(y));
      };
    };
    b.OnMouseDown = mouse("down");
    b.OnMouseUp = mouse("up");
    b.OnClick = [this](TOvalButton&) { events.push_back("click"); };
    b.OnDblClick = [this](TOvalButton&) { events.push_back("dblclick"); };
    b.OnMouseEnter = [this](TOvalButton&) { events.push_back("enter"); };
    b.OnMouseExit = [this](TOvalButton&) { events.push_back("exit"); };
    b.OnMouseMove = [this](TOvalButton&, TShiftState, int, int) { ++moves; };
  }
};

using Events = std::vector<std::string>;

// The About box's kind of button: 64 x 31, bevel 2, on a shown parent; face grey 192 so that
// the shades are known (223 and 115).
class OvalButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApp();  // its failure reports fail the test
    ShowWindow(parent.get(), SW_SHOWNOACTIVATE);
    ASSERT_TRUE(b.Create(parent.get(), 134, 241, 64, 31));
    b.SetColor(kFace);
    b.SetBevelWidth(2);
    rec.Attach(b);
  }
  Image Rendered() {
    Image img(b.Width(), b.Height());
    Render(b, img);
    return img;
  }
  int Count(const Image& img, COLORREF c, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    if (x1 < 0) x1 = img.width();
    if (y1 < 0) y1 = img.height();
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += img.At(x, y) == c;
    return n;
  }

  Parent parent;
  TOvalButton b;
  Recorder rec;
};

TEST(OvalButtonDefaults, FieldsOfANewButton) {
  TOvalButton b;
  EXPECT_EQ(b.Width(), 100);
  EXPECT_EQ(b.Height(), 50);
  EXPECT_EQ(b.BevelWidth(), 0);
  EXPECT_EQ(b.Color(), clBtnFace);
  const Shades s = MakeShades(GetSysColor(COLOR_BTNFACE), 0.5f, 0.6f, [](int) { return ScreenColor{0}; });
  EXPECT_EQ(b.LightColor(), s.light);
  EXPECT_EQ(b.DarkColor(), s.dark);
  EXPECT_FALSE(b.Down());
  EXPECT_FALSE(b.WasDown());
  EXPECT_FALSE(b.Flat());
  EXPECT_STREQ(b.Font().log.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(b.Font().log.lfHeight, -11);
  EXPECT_EQ(b.Glyph(), nullptr);
  EXPECT_EQ(b.GroupIndex(), 0);
  EXPECT_EQ(b.Layout(), blGlyphBottom);
  EXPECT_EQ(b.Margin(), 0);
  EXPECT_EQ(b.NumGlyphs(), 0);
  EXPECT_EQ(b.Spacing(), 4);
  EXPECT_EQ(b.BevelState(), 1);
  EXPECT_FALSE(b.Transparent());
  EXPECT_EQ(b.TransparentColor(), clBlack);
  EXPECT_FALSE(b.MousePressed());
  EXPECT_FALSE(b.MouseInside());
  EXPECT_TRUE(b.Enabled());
  EXPECT_EQ(b.Caption(), "");
}

TEST(OvalButtonDefaults, NewButtonPaintsNoBevelAndCentresCaption) {
  Parent parent;
  TOvalButton b;
  ASSERT_TRUE(b.Create(parent.get(), 10, 10, 100, 50));
  b.SetColor(kFace);
  b.SetCaption("Wide caption");
  Image img(100, 50);
  Render(b, img);
  int left = 100, right = -1, top = 50, bottom = -1, shades = 0;
  for (int y = 3; y < 47; ++y) {
    for (int x = 8; x < 92; ++x) {
      const COLORREF c = img.At(x, y);
      shades += c == b.LightColor() || c == b.DarkColor();
      if (c != kBlack) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  EXPECT_EQ(shades, 0);
  ASSERT_GE(right, left);
  EXPECT_NEAR((left + right) / 2.0, 49.5, 2.0);
  EXPECT_NEAR((top + bottom) / 2.0, 24.5, 3.0);
}

struct Probe {
  int x, y;
  COLORREF colour;
};

TEST_F(OvalButtonTest, RaisedBevelArcsOfAboutBoxButton) {
  const Image img = Rendered();
  const Probe probes[] = {
      // Outline on (0, 0, 63, 30), arcs on (1, 1, 62, 29) and (2, 2, 61, 28), top and bottom.
      {31, 0, kBlack},
      {31, 1, kLight},
      {31, 2, kLight},
      {31, 3, kFace},
      {31, 29, kBlack},
      {31, 28, kDark},
      {31, 27, kDark},
      {31, 26, kFace},
      {0, 15, kBlack},
      {1, 15, kLight},
      {2, 15, kLight},
      {3, 15, kFace},
      {62, 15, kBlack},
      {61, 15, kDark},
      {60, 15, kDark},
      {59, 15, kFace},
      // Corners and the excluded right and bottom edges show the parent.
      {0, 0, kParentColour},
      {63, 30, kParentColour},
      {63, 15, kParentColour},
      {31, 30, kParentColour},
      {31, 15, kFace},
  };
  for (const auto& p : probes) EXPECT_EQ(img.At(p.x, p.y), p.colour) << p.x << "," << p.y;

  // The halves meet on the line from (12, 24) to (48, 6): light above it, dark below.
  int light = 0, dark = 0;
  for (int y = 0; y < 31; ++y) {
    for (int x = 0; x < 64; ++x) {
      const double side = (36.0 * (y - 24) + 18.0 * (x - 12)) / std::hypot(36.0, 18.0);
      if (img.At(x, y) == kLight) {
        ++light;
        EXPECT_LT(side, 1.5) << "light at " << x << "," << y;
      } else if (img.At(x, y) == kDark) {
        ++dark;
        EXPECT_GT(side, -1.5) << "dark at " << x << "," << y;
      }
    }
  }
  EXPECT_GT(light, 100);
  EXPECT_GT(dark, 100);
}

TEST_F(OvalButtonTest, SunkenBevelSwapsTheShades) {
  const Image raised = Rendered();
  b.SetDown(true);
  EXPECT_EQ(b.BevelState(), -1);
  const Image sunken = Rendered();
  int swapped = 0;
  for (int y = 0; y < 31; ++y) {
    for (int x = 0; x < 64; ++x) {
      if (raised.At(x, y) == kLight) {
        EXPECT_EQ(sunken.At(x, y), kDark) << x << "," << y;
        ++swapped;
      } else if (raised.At(x, y) == kDark) {
        EXPECT_EQ(sunken.At(x, y), kLight) << x << "," << y;
        ++swapped;
      }
    }
  }
  EXPECT_GT(swapped, 200);
}

TEST_F(OvalButtonTest, FlatLookShowsBevelOnlyWhileHoveredOrPressed) {
  b.SetFlat(true);
  Image img = Rendered();
  EXPECT_EQ(Count(img, kBlack), 0);
  EXPECT_EQ(Count(img, kLight) + Count(img, kDark), 0);
  EXPECT_EQ(img.At(31, 15), kFace);

  Mouse(b, WM_MOUSEMOVE, 32, 15);
  EXPECT_EQ(b.BevelState(), 1);
  img = Rendered();
  EXPECT_EQ(Count(img, kBlack), 0);
  EXPECT_EQ(img.At(31, 1), kLight);
  EXPECT_EQ(img.At(31, 28), kDark);

  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  img = Rendered();
  EXPECT_EQ(img.At(31, 1), kDark);
  EXPECT_EQ(img.At(31, 28), kLight);
}

TEST_F(OvalButtonTest, TransparentFaceShowsTheParent) {
  b.SetTransparent(true);
  const Image img = Rendered();
  EXPECT_EQ(img.At(31, 15), kParentColour);
  EXPECT_EQ(img.At(31, 0), kBlack);
  EXPECT_EQ(img.At(31, 1), kLight);
  EXPECT_EQ(Count(img, kFace), 0);
}

TEST_F(OvalButtonTest, GlyphCellForEachState) {
  struct Case {
    int cells;
    bool enabled;
    bool down;
    COLORREF centre;
  };
  const Case cases[] = {
      {3, true, false, RGB(255, 0, 0)},  {3, false, false, RGB(0, 255, 0)}, {2, false, false, RGB(0, 255, 0)},
      {1, false, false, RGB(255, 0, 0)}, {3, true, true, RGB(0, 0, 255)},   {3, false, true, RGB(0, 0, 255)},
      {2, true, true, RGB(255, 0, 0)},   {4, true, false, RGB(255, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.cells) + (c.enabled ? " enabled" : " disabled") + (c.down ? " down" : " up"));
    const win::BitmapHandle strip = MakeStrip(c.cells);
    b.SetGlyph(strip.get());
    EXPECT_EQ(b.TransparentColor(), kMagenta);
    b.SetNumGlyphs(static_cast<TNumGlyphs>(c.cells));
    b.SetEnabled(c.enabled);
    b.SetDown(c.down);
    const Image img = Rendered();
    // Centred 12 x 12 cell at (26, 9), one pixel further right and down when sunken.
    const int shift = c.down ? 1 : 0;
    EXPECT_EQ(img.At(32 + shift, 15 + shift), c.centre);
    EXPECT_EQ(img.At(26 + shift, 9 + shift), kFace) << "transparent frame";
    EXPECT_EQ(img.At(37 + shift, 20 + shift), kFace) << "transparent frame";
    EXPECT_EQ(Count(img, kMagenta), 0);
    EXPECT_EQ(Count(img, c.centre), 64);
  }
}

TEST_F(OvalButtonTest, DisabledCaptionIsGrey) {
  b.SetCaption("Close");
  const COLORREF grey = GetSysColor(COLOR_GRAYTEXT);
  ASSERT_NE(grey, kFace);
  Image img = Rendered();
  EXPECT_GT(Count(img, kBlack, 14, 8, 50, 24), 20);
  EXPECT_EQ(Count(img, grey, 14, 8, 50, 24), 0);
  b.SetEnabled(false);
  img = Rendered();
  EXPECT_EQ(Count(img, kBlack, 14, 8, 50, 24), 0);
  EXPECT_GT(Count(img, grey, 14, 8, 50, 24), 20);
}

// Lowest row holding caption pixels inside the face (clear of the outline), and its longest black run.
struct TextBottom {
  int row = -1;
  int run = 0;
  int runStart = -1;
  int black = 0;
  int leftmost = 64;
};

TextBottom Measure(const Image& img) {
  TextBottom t;
  for (int y = 8; y < 24; ++y) {
    int run = 0;
    for (int x = 14; x < 50; ++x) {
      if (img.At(x, y) == kBlack) {
        ++t.black;
        t.leftmost = std::min(t.leftmost, x);
        if (t.row != y) {
          t.row = y;
          t.run = 0;
        }
        if (++run > t.run) {
          t.run = run;
          t.runStart = x - run + 1;
        }
      } else {
        run = 0;
      }
    }
  }
  return t;
}

TEST_F(OvalButtonTest, AcceleratorIsUnderlinedAndAmpersandHidden) {
  b.SetCaption("Close");
  const TextBottom plain = Measure(Rendered());
  b.SetCaption("&Close");
  const TextBottom accel = Measure(Rendered());
  ASSERT_GT(plain.black, 20);
  // A line under the C, below the letters, with no ampersand drawn.
  EXPECT_GT(accel.row, plain.row);
  EXPECT_GE(accel.run, 4);
  EXPECT_EQ(accel.runStart, accel.leftmost);
  EXPECT_EQ(accel.black - accel.run, plain.black);
}

TEST_F(OvalButtonTest, PressAndReleaseRedrawTheFaceAtOnce) {
  const win::BitmapHandle strip = MakeStrip(3);
  b.SetGlyph(strip.get());
  b.SetNumGlyphs(3);
  PumpUntil([] { return false; }, 100);  // let the first paint happen
  win::WindowDc dc(b.Handle());
  ASSERT_EQ(GetPixel(dc.get(), 32, 15), RGB(255, 0, 0));
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  EXPECT_EQ(GetPixel(dc.get(), 31, 1), kDark);
  EXPECT_EQ(GetPixel(dc.get(), 31, 28), kLight);
  EXPECT_EQ(GetPixel(dc.get(), 33, 16), RGB(0, 0, 255));
  Mouse(b, WM_LBUTTONUP, 32, 15);
  EXPECT_EQ(GetPixel(dc.get(), 31, 1), kLight);
  EXPECT_EQ(GetPixel(dc.get(), 31, 28), kDark);
  EXPECT_EQ(GetPixel(dc.get(), 32, 15), RGB(255, 0, 0));
}

TEST_F(OvalButtonTest, TransparentButtonRepaintsInsteadOfDrawingOnPress) {
  b.SetTransparent(true);
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  for (UINT msg : {WM_LBUTTONDOWN, WM_LBUTTONUP}) {
    ValidateRect(b.Handle(), nullptr);
    Mouse(b, msg, 32, 15, msg == WM_LBUTTONDOWN ? MK_LBUTTON : 0);
    EXPECT_NE(GetUpdateRect(b.Handle(), nullptr, FALSE), 0) << msg;
  }
}

TEST_F(OvalButtonTest, RangesOfBevelWidthAndGlyphCount) {
  b.SetBevelWidth(200);
  EXPECT_EQ(b.BevelWidth(), 10);
  b.SetNumGlyphs(9);
  EXPECT_EQ(b.NumGlyphs(), 4);
}

TEST_F(OvalButtonTest, PressOutsideTheOvalDoesNothing) {
  Mouse(b, WM_MOUSEMOVE, 2, 2);
  Mouse(b, WM_LBUTTONDOWN, 2, 2, MK_LBUTTON);
  EXPECT_TRUE(b.MousePressed());
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(b.BevelState(), 1);
  Mouse(b, WM_MOUSEMOVE, 3, 2, MK_LBUTTON);
  Mouse(b, WM_LBUTTONUP, 3, 2);
  EXPECT_FALSE(b.MousePressed());
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(rec.events, (Events{"enter"}));
  EXPECT_EQ(rec.moves, 0);
}

TEST_F(OvalButtonTest, CornerReleaseClicksIfPointerWasLastInsideTheOval) {
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 2, 2, MK_LBUTTON);
  Mouse(b, WM_LBUTTONUP, 2, 2);
  EXPECT_EQ(rec.events, (Events{"enter", "click"}));
}

TEST_F(OvalButtonTest, ClickInsideTheOval) {
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  EXPECT_TRUE(b.Down());
  EXPECT_EQ(b.BevelState(), -1);
  EXPECT_EQ(GetCapture(), b.Handle());
  Mouse(b, WM_LBUTTONUP, 32, 15);
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(b.BevelState(), 1);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(rec.events, (Events{"enter", "down 0 32,15", "click", "up 0 32,15"}));
  EXPECT_EQ(rec.moves, 1);
}

TEST_F(OvalButtonTest, ToggleButtonStaysDownThenComesUp) {
  b.SetGroupIndex(1);
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  Mouse(b, WM_LBUTTONUP, 32, 15);
  EXPECT_TRUE(b.Down());
  EXPECT_EQ(b.BevelState(), -1);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  EXPECT_TRUE(b.WasDown());
  Mouse(b, WM_LBUTTONUP, 32, 15);
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(b.BevelState(), 1);
  EXPECT_EQ(rec.events,
            (Events{"enter", "down 0 32,15", "click", "up 0 32,15", "down 0 32,15", "click", "up 0 32,15"}));
}

TEST_F(OvalButtonTest, DragOutAndBack) {
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  Mouse(b, WM_MOUSEMOVE, 2, 2, MK_LBUTTON);
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(b.BevelState(), 1);
  EXPECT_FALSE(b.MouseInside());
  Mouse(b, WM_MOUSEMOVE, 100, 15, MK_LBUTTON);  // captured: beyond the window too
  EXPECT_FALSE(b.Down());
  Mouse(b, WM_MOUSEMOVE, 40, 20, MK_LBUTTON);
  EXPECT_TRUE(b.Down());
  EXPECT_EQ(b.BevelState(), -1);
  EXPECT_TRUE(b.MouseInside());
  Mouse(b, WM_LBUTTONUP, 40, 20);
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(rec.events, (Events{"enter", "down 0 32,15", "click", "up 0 40,20"}));
}

TEST_F(OvalButtonTest, DragOutAndReleaseDoesNotClick) {
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  Mouse(b, WM_MOUSEMOVE, 100, 15, MK_LBUTTON);
  Mouse(b, WM_LBUTTONUP, 100, 15);
  EXPECT_FALSE(b.Down());
  EXPECT_FALSE(b.MousePressed());
  EXPECT_EQ(rec.events, (Events{"enter", "down 0 32,15"}));
}

TEST_F(OvalButtonTest, ToggleButtonIgnoresDragging) {
  b.SetGroupIndex(1);
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  Mouse(b, WM_MOUSEMOVE, 2, 2, MK_LBUTTON);
  EXPECT_TRUE(b.Down());
  EXPECT_EQ(b.BevelState(), -1);
  Mouse(b, WM_LBUTTONUP, 2, 2);
  EXPECT_TRUE(b.Down());
  EXPECT_EQ(rec.events, (Events{"enter", "down 0 32,15"}));
}

TEST_F(OvalButtonTest, FlatHoverAndLeave) {
  b.SetFlat(true);
  EXPECT_EQ(b.BevelState(), 0);
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  EXPECT_EQ(b.BevelState(), 1);
  EXPECT_TRUE(b.MouseInside());
  Mouse(b, WM_MOUSEMOVE, 2, 2);
  EXPECT_EQ(b.BevelState(), 0);
  EXPECT_FALSE(b.MouseInside());
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  EXPECT_EQ(b.BevelState(), -1);
  Mouse(b, WM_LBUTTONUP, 32, 15);
  EXPECT_EQ(b.BevelState(), 1);
  SendMessageA(b.Handle(), WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(b.BevelState(), 0);
  EXPECT_FALSE(b.MouseInside());
  EXPECT_EQ(rec.events.back(), "exit");
}

TEST_F(OvalButtonTest, LeaveKeepsBevelOfOrdinaryButton) {
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  SendMessageA(b.Handle(), WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(b.MouseInside());
  EXPECT_EQ(b.BevelState(), 1);
  // The next move counts as entering again.
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  EXPECT_EQ(rec.events, (Events{"enter", "exit", "enter"}));
}

TEST_F(OvalButtonTest, DisabledButtonIgnoresTheMouse) {
  b.SetEnabled(false);
  EXPECT_FALSE(b.Enabled());
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  EXPECT_FALSE(b.Down());
  Mouse(b, WM_LBUTTONUP, 32, 15);
  EXPECT_EQ(rec.events, (Events{"enter"}));
}

TEST_F(OvalButtonTest, OtherButtonsPressButDoNotClick) {
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_RBUTTONDOWN, 30, 14, MK_RBUTTON);
  EXPECT_TRUE(b.Down());
  Mouse(b, WM_RBUTTONUP, 30, 14);
  EXPECT_FALSE(b.Down());
  Mouse(b, WM_MBUTTONDOWN, 31, 14, MK_MBUTTON);
  Mouse(b, WM_MBUTTONUP, 31, 14);
  EXPECT_EQ(rec.events, (Events{"enter", "down 1 30,14", "up 1 30,14", "down 2 31,14", "up 2 31,14"}));
}

TEST_F(OvalButtonTest, DoubleClick) {
  Mouse(b, WM_MOUSEMOVE, 32, 15);
  Mouse(b, WM_LBUTTONDOWN, 32, 15, MK_LBUTTON);
  Mouse(b, WM_LBUTTONUP, 32, 15);
  Mouse(b, WM_LBUTTONDBLCLK, 32, 15, MK_LBUTTON);
  Mouse(b, WM_LBUTTONUP, 32, 15);
  EXPECT_EQ(rec.events,
            (Events{"enter", "down 0 32,15", "click", "up 0 32,15", "dblclick", "down 0 32,15", "up 0 32,15"}));
}

TEST_F(OvalButtonTest, AcceleratorThroughDialogCharacter) {
  TOvalButton other;
  ASSERT_TRUE(other.Create(parent.get(), 254, 241, 64, 31));
  other.SetCaption("&Support");
  Recorder otherRec;
  otherRec.Attach(other);
  b.SetCaption("&Close");

  EXPECT_FALSE(DispatchDialogChar(parent.get(), 'x'));
  // Handled, but the pointer is not over the oval: no click.
  EXPECT_TRUE(DispatchDialogChar(parent.get(), 'c'));
  EXPECT_TRUE(rec.events.empty());

  Mouse(b, WM_MOUSEMOVE, 32, 15);
  EXPECT_TRUE(DispatchDialogChar(parent.get(), 'C'));
  EXPECT_EQ(rec.events, (Events{"enter", "click"}));

  b.SetEnabled(false);
  EXPECT_TRUE(DispatchDialogChar(parent.get(), 'c'));
  EXPECT_EQ(rec.events.size(), 2u);

  Mouse(other, WM_MOUSEMOVE, 32, 15);
  EXPECT_TRUE(DispatchDialogChar(parent.get(), 's'));
  EXPECT_EQ(otherRec.events, (Events{"enter", "click"}));
}

TEST_F(OvalButtonTest, WritersRepaintOnlyOnChange) {
  const win::BitmapHandle strip = MakeStrip(1);
  TFont bold = DefaultFont();
  bold.log.lfWeight = FW_BOLD;
  struct Case {
    const char* name;
    std::function<void()> change;
    bool repaints;
  };
  const Case cases[] = {
      {"same bevel width", [&] { b.SetBevelWidth(2); }, false},
      {"bevel width", [&] { b.SetBevelWidth(3); }, true},
      {"same colour", [&] { b.SetColor(kFace); }, false},
      {"colour", [&] { b.SetColor(RGB(10, 20, 30)); }, true},
      {"same layout", [&] { b.SetLayout(blGlyphBottom); }, false},
      {"layout", [&] { b.SetLayout(blGlyphTop); }, true},
      {"same margin", [&] { b.SetMargin(0); }, false},
      {"margin", [&] { b.SetMargin(2); }, true},
      {"same glyph count", [&] { b.SetNumGlyphs(0); }, false},
      {"glyph count", [&] { b.SetNumGlyphs(1); }, true},
      {"same spacing", [&] { b.SetSpacing(4); }, false},
      {"spacing", [&] { b.SetSpacing(6); }, true},
      {"same transparency", [&] { b.SetTransparent(false); }, false},
      {"transparency", [&] { b.SetTransparent(true); }, true},
      {"same transparent colour", [&] { b.SetTransparentColor(clBlack); }, false},
      {"transparent colour", [&] { b.SetTransparentColor(kMagenta); }, true},
      {"same down", [&] { b.SetDown(false); }, false},
      {"down", [&] { b.SetDown(true); }, true},
      {"same flat", [&] { b.SetFlat(false); }, false},
      {"flat", [&] { b.SetFlat(true); }, true},
      {"same font", [&] { b.SetFont(DefaultFont()); }, false},
      {"font", [&] { b.SetFont(bold); }, true},
      {"group index", [&] { b.SetGroupIndex(3); }, false},
      {"glyph, even the same", [&] { b.SetGlyph(strip.get()); }, true},
      {"caption", [&] { b.SetCaption("Close"); }, true},
      {"enabled", [&] { b.SetEnabled(false); }, true},
  };
  for (const auto& c : cases) {
    ValidateRect(b.Handle(), nullptr);
    c.change();
    EXPECT_EQ(GetUpdateRect(b.Handle(), nullptr, FALSE) != 0, c.repaints) << c.name;
  }
}

TEST_F(OvalButtonTest, DownAndFlatWritersSetBevelState) {
  struct Case {
    bool flatFirst;
    bool down;
    bool flatAfter;
    int bevel;
  };
  const Case cases[] = {
      {false, true, false, -1}, {false, false, false, 1}, {true, true, true, -1},
      {true, false, true, 0},   {false, true, true, 0},   {true, true, false, 1},
  };
  for (const auto& c : cases) {
    TOvalButton t;
    t.SetFlat(c.flatFirst);
    t.SetDown(!c.down);
    t.SetDown(c.down);
    t.SetFlat(c.flatAfter);
    EXPECT_EQ(t.BevelState(), c.bevel) << c.flatFirst << c.down << c.flatAfter;
    EXPECT_EQ(t.Down(), c.down);
  }
}

TEST_F(OvalButtonTest, ColourRecomputesShades) {
  EXPECT_EQ(b.LightColor(), kLight);
  EXPECT_EQ(b.DarkColor(), kDark);
  b.SetColor(RGB(255, 0, 0));
  EXPECT_EQ(b.LightColor(), RGB(255, 127, 127));
  EXPECT_EQ(b.DarkColor(), RGB(153, 0, 0));
}

TEST_F(OvalButtonTest, RealPointerHoverAndLeave) {
  b.SetFlat(true);
  UpdateWindow(parent.get());
  POINT centre{32, 15};
  ClientToScreen(b.Handle(), &centre);
  ASSERT_TRUE(SetCursorPos(centre.x, centre.y));
  EXPECT_TRUE(PumpUntil([&] { return b.MouseInside(); }, 2000));
  EXPECT_EQ(b.BevelState(), 1);
  ASSERT_TRUE(SetCursorPos(centre.x + 300, centre.y + 300));
  EXPECT_TRUE(PumpUntil([&] { return !rec.events.empty() && rec.events.back() == "exit"; }, 2000));
  EXPECT_FALSE(b.MouseInside());
  EXPECT_EQ(b.BevelState(), 0);
}

// Writes a bottom-up 24-bit BMP.
bool SaveBmp(const Image& img, const std::string& path) {
  const int w = img.width(), h = img.height();
  const int stride = (w * 3 + 3) & ~3;
  BITMAPFILEHEADER fh{};
  BITMAPINFOHEADER ih{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof ih;
  fh.bfSize = fh.bfOffBits + stride * h;
  ih.biSize = sizeof ih;
  ih.biWidth = w;
  ih.biHeight = h;
  ih.biPlanes = 1;
  ih.biBitCount = 24;
  ih.biCompression = BI_RGB;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(&fh, sizeof fh, 1, f);
  std::fwrite(&ih, sizeof ih, 1, f);
  std::vector<unsigned char> row(stride, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const COLORREF c = img.At(x, y);
      row[x * 3] = GetBValue(c);
      row[x * 3 + 1] = GetGValue(c);
      row[x * 3 + 2] = GetRValue(c);
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  return std::fclose(f) == 0;
}

// Every look side by side, for a person to inspect: one row per layout, one column per state,
// and the About box's pair at the bottom.
TEST(OvalButtonScreenshot, AllStatesAndLayouts) {
  Parent parent;
  const win::BitmapHandle strip = MakeStrip(3);
  constexpr int kW = 110, kH = 56, kCols = 6, kRows = 4;
  Image sheet(kCols * (kW + 10) + 10, kRows * (kH + 10) + 10 + 45);
  const RECT all{0, 0, sheet.width(), sheet.height()};
  win::BrushHandle back(CreateSolidBrush(kParentColour));
  FillRect(sheet.dc(), &all, back.get());

  auto place = [&](TOvalButton& b, int x, int y) {
    SetViewportOrgEx(sheet.dc(), x, y, nullptr);
    Render(b, sheet);
    SetViewportOrgEx(sheet.dc(), 0, 0, nullptr);
  };
  const TButtonLayout layouts[kRows] = {blGlyphBottom, blGlyphLeft, blGlyphRight, blGlyphTop};
  for (int row = 0; row < kRows; ++row) {
    for (int col = 0; col < kCols; ++col) {
      const int x = 10 + col * (kW + 10), y = 10 + row * (kH + 10);
      TOvalButton b;
      ASSERT_TRUE(b.Create(parent.get(), x, y, kW, kH));
      b.SetBevelWidth(3);
      b.SetCaption("&Close");
      b.SetGlyph(strip.get());
      b.SetNumGlyphs(3);
      b.SetLayout(layouts[row]);
      switch (col) {
        case 1: b.SetDown(true); break;
        case 2: b.SetFlat(true); break;
        case 3:
          b.SetFlat(true);
          Mouse(b, WM_MOUSEMOVE, kW / 2, kH / 2);
          break;
        case 4: b.SetTransparent(true); break;
        case 5: b.SetEnabled(false); break;
        default: break;
      }
      place(b, x, y);
    }
  }
  const int y = 10 + kRows * (kH + 10);
  TFont font = DefaultFont();
  font.log.lfWeight = FW_BOLD;
  for (int i = 0; i < 2; ++i) {
    TOvalButton b;
    ASSERT_TRUE(b.Create(parent.get(), 10 + i * 120, y, 64, 31));
    b.SetBevelWidth(2);
    b.SetFont(font);
    b.SetCaption(i == 0 ? "Close" : "Support");
    place(b, 10 + i * 120, y);
  }

  CreateDirectoryA(QUILLET_SCREENSHOT_DIR, nullptr);
  EXPECT_TRUE(SaveBmp(sheet, QUILLET_SCREENSHOT_DIR "/oval-buttons.bmp"));
}

}  // namespace
}  // namespace quillet::widgets
