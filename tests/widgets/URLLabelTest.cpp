// The hyperlink label under Wine: what a click hands to the shell, hover colours through
// the real pointer, the link cursor from the program's resources, size and background.
#include "widgets/URLLabel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/Harness.h"

namespace quillet::widgets {
namespace {

using test::PumpUntil;
using test::TestApp;

constexpr COLORREF kParentColour = RGB(0, 128, 0);
constexpr COLORREF kStaticColour = RGB(200, 0, 0);

// A top-level window with a green class background that answers WM_CTLCOLORSTATIC with red,
// so that a label's two background modes can be told apart.
LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  static HBRUSH red = CreateSolidBrush(kStaticColour);
  if (msg == WM_CTLCOLORSTATIC) return reinterpret_cast<LRESULT>(red);
  return DefWindowProcA(hwnd, msg, wp, lp);
}

class Parent {
 public:
  Parent() {
    static const char* kClass = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = ParentProc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.hbrBackground = CreateSolidBrush(kParentColour);
      wc.lpszClassName = "URLLabelTestParent";
      RegisterClassA(&wc);
      return "URLLabelTestParent";
    }();
    hwnd_ = CreateWindowExA(0, kClass, "parent", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 40, 40, 400, 200,
                            nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  ~Parent() { DestroyWindow(hwnd_); }
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// A 32-bit top-down memory picture of a window's client area, painted by WM_PRINTCLIENT.
class Capture {
 public:
  explicit Capture(HWND hwnd) : dc_(CreateCompatibleDC(nullptr)) {
    RECT r;
    GetClientRect(hwnd, &r);
    w_ = r.right;
    h_ = r.bottom;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof bi.bmiHeader, w_, -h_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bmp_.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<const DWORD*>(bits);
    win::SelectGuard select(dc_.get(), bmp_.get());
    SendMessageA(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_.get()), PRF_CLIENT);
    GdiFlush();
  }
  COLORREF At(int x, int y) const {
    const DWORD p = bits_[y * w_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  int Count(COLORREF c) const {
    int n = 0;
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) n += At(x, y) == c;
    return n;
  }
  int Pixels() const { return w_ * h_; }

 private:
  win::MemoryDcHandle dc_;
  win::BitmapHandle bmp_;
  const DWORD* bits_ = nullptr;
  int w_ = 0, h_ = 0;
};

class URLLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp().SetShell([this](const win::ShellRequest& r) {
      shell.push_back(r);
      events.push_back("shell");
    });
    ASSERT_TRUE(label.Create(parent.get(), 10, 10, 98, 13));
    label.OnClick = [this](TURLLabel&) { events.push_back("click"); };
    SetCursorPos(0, 0);
  }
  void TearDown() override { TestApp().SetShell({}); }

  void Press(UINT msg, int x, int y) {
    SendMessageA(label.Handle(), msg, msg == WM_LBUTTONDOWN ? MK_LBUTTON : 0, MAKELPARAM(x, y));
  }
  void LeftClick(int x = 2, int y = 2) {
    Press(WM_LBUTTONDOWN, x, y);
    Press(WM_LBUTTONUP, x, y);
  }

  Parent parent;
  TURLLabel label;
  std::vector<win::ShellRequest> shell;
  std::vector<std::string> events;
};

TEST_F(URLLabelTest, StartsAsAnUnderlinedWebLink) {
  EXPECT_EQ(label.URLType(), utHTTP);
  EXPECT_EQ(label.Caption().rfind("http://", 0), 0u) << label.Caption();
  EXPECT_TRUE(label.AutoSize());
  EXPECT_FALSE(label.Transparent());
  const TFont& f = label.Font();
  EXPECT_TRUE(f.log.lfUnderline);
  EXPECT_EQ(f.log.lfWeight, FW_NORMAL);
  EXPECT_STREQ(f.log.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(f.log.lfHeight, -11);
  EXPECT_EQ(f.color, clWindowText);
  EXPECT_EQ(label.Cursor(), crURLCursor);
}

TEST_F(URLLabelTest, ClickOpensCaptionCompletedWithScheme) {
  struct Case {
    TURLType type;
    const char* caption;
    const char* target;
  };
  const Case cases[] = {
      {utMailTo, "support@orvane.example", "mailto:support@orvane.example"},
      {utHTTP, "HTTP://WWW.ORVANE.EXAMPLE", "HTTP://WWW.ORVANE.EXAMPLE"},
      {utHTTP, "home: http://orvane.example", "home: http://orvane.example"},
      {utFTP, "http://files.orvane.example", "ftp://http://files.orvane.example"},
      {utHTTP, "www.orvane.example", "http://www.orvane.example"},
  };
  for (const Case& c : cases) {
    shell.clear();
    events.clear();
    label.SetURLType(c.type);
    label.SetCaption(c.caption);
    LeftClick();
    ASSERT_EQ(shell.size(), 1u) << c.caption;
    const win::ShellRequest expected{GetDesktopWindow(), "open", c.target, "", "", SW_SHOWNORMAL};
    EXPECT_EQ(shell[0], expected) << c.caption << " -> " << shell[0].file;
    // The framework's click event runs first.
    EXPECT_EQ(events, (std::vector<std::string>{"click", "shell"}));
  }
}

TEST_F(URLLabelTest, OnlyAPressAndReleaseOnTheLabelClick) {
  Press(WM_LBUTTONDOWN, 2, 2);
  Press(WM_LBUTTONUP, 500, 2);  // released elsewhere (the label holds the capture)
  Press(WM_LBUTTONUP, 2, 2);    // a release without a press
  Press(WM_RBUTTONDOWN, 2, 2);
  Press(WM_RBUTTONUP, 2, 2);
  EXPECT_TRUE(shell.empty());
  EXPECT_EQ(GetCapture(), nullptr);
  LeftClick();
  EXPECT_EQ(shell.size(), 1u);
}

TEST_F(URLLabelTest, RealPointerTurnsItBlueThenBlack) {
  UpdateWindow(parent.get());
  POINT inside{3, 3};
  ClientToScreen(label.Handle(), &inside);
  ASSERT_TRUE(SetCursorPos(inside.x, inside.y));
  ASSERT_TRUE(PumpUntil([&] { return label.Font().color == clBlue; }, 2000));
  UpdateWindow(label.Handle());
  const int blueText = Capture(label.Handle()).Count(RGB(0, 0, 255));
  EXPECT_GT(blueText, 10);

  ASSERT_TRUE(SetCursorPos(inside.x + 300, inside.y + 300));
  ASSERT_TRUE(PumpUntil([&] { return label.Font().color == clBlack; }, 2000));
  // Black, not the window-text colour it started with.
  EXPECT_NE(label.Font().color, clWindowText);
  const Capture after(label.Handle());
  EXPECT_EQ(after.Count(RGB(0, 0, 255)), 0);
  EXPECT_GT(after.Count(RGB(0, 0, 0)), 10);

  // A second visit turns it blue again.
  ASSERT_TRUE(SetCursorPos(inside.x, inside.y));
  EXPECT_TRUE(PumpUntil([&] { return label.Font().color == clBlue; }, 2000));
  SetCursorPos(0, 0);
  PumpUntil([&] { return label.Font().color == clBlack; }, 2000);
}

TEST_F(URLLabelTest, LinkCursorIsOurPointingHand) {
  HCURSOR link = ScreenCursor(crURLCursor);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link, LoadCursorA(GetModuleHandleA(nullptr), kURLCursorResource));

  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(link, &info));
  win::BitmapHandle mask(info.hbmMask), colour(info.hbmColor);
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 5u);
  EXPECT_EQ(info.yHotspot, 0u);
  EXPECT_EQ(colour.get(), nullptr);  // monochrome: AND and XOR masks stacked in one bitmap
  BITMAP bm{};
  ASSERT_TRUE(GetObjectA(mask.get(), sizeof bm, &bm));
  EXPECT_EQ(bm.bmWidth, 32);
  EXPECT_EQ(bm.bmHeight, 64);
  // The hot spot is on the fingertip's outline (opaque black), the far corner is clear.
  win::MemoryDcHandle dc(CreateCompatibleDC(nullptr));
  win::SelectGuard select(dc.get(), mask.get());
  auto andBit = [&](int x, int y) { return GetPixel(dc.get(), x, y) != RGB(0, 0, 0); };
  auto xorBit = [&](int x, int y) { return GetPixel(dc.get(), x, y + 32) != RGB(0, 0, 0); };
  EXPECT_FALSE(andBit(5, 0));
  EXPECT_FALSE(xorBit(5, 0));
  EXPECT_TRUE(andBit(31, 31));
  EXPECT_TRUE(andBit(0, 0));
  EXPECT_FALSE(andBit(5, 3));  // inside the finger: opaque white
  EXPECT_TRUE(xorBit(5, 3));

  // Shown over the label through WM_SETCURSOR.
  SendMessageA(label.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(label.Handle()),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), link);
}

TEST_F(URLLabelTest, EveryNewLabelStoresTheLinkCursorAgain) {
  HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
  SetScreenCursor(crURLCursor, arrow);
  EXPECT_EQ(ScreenCursor(crURLCursor), arrow);
  TURLLabel another;
  EXPECT_EQ(ScreenCursor(crURLCursor), LoadCursorA(GetModuleHandleA(nullptr), kURLCursorResource));
  EXPECT_EQ(ScreenCursor(12345), nullptr);
}

TEST_F(URLLabelTest, AutoSizeFollowsTheCaption) {
  label.SetCaption("a@b.example");
  RECT small;
  GetClientRect(label.Handle(), &small);
  label.SetCaption("a.much.longer.address@orvane.example");
  RECT large;
  GetClientRect(label.Handle(), &large);
  EXPECT_GT(large.right, small.right);
  EXPECT_EQ(large.bottom, small.bottom);
  EXPECT_GE(large.bottom, 11);

  // Measured in the label's own (underlined) font.
  win::FontHandle font(CreateFontIndirectA(&label.Font().log));
  win::WindowDc dc(label.Handle());
  win::SelectGuard select(dc.get(), font.get());
  SIZE extent{};
  const std::string caption = label.Caption();
  GetTextExtentPoint32A(dc.get(), caption.c_str(), static_cast<int>(caption.size()), &extent);
  EXPECT_EQ(large.right, extent.cx);

  label.SetAutoSize(false);
  SetWindowPos(label.Handle(), nullptr, 0, 0, 40, 20, SWP_NOMOVE | SWP_NOZORDER);
  label.SetCaption("x");
  RECT fixed;
  GetClientRect(label.Handle(), &fixed);
  EXPECT_EQ(fixed.right, 40);
  EXPECT_EQ(fixed.bottom, 20);
}

TEST_F(URLLabelTest, BackgroundIsTheParentsColourOrShowsThrough) {
  label.SetCaption("x");
  label.SetAutoSize(false);
  SetWindowPos(label.Handle(), nullptr, 0, 0, 60, 20, SWP_NOMOVE | SWP_NOZORDER);
  const Capture opaque(label.Handle());
  EXPECT_GT(opaque.Count(kStaticColour), opaque.Pixels() * 3 / 4);
  EXPECT_EQ(opaque.Count(kParentColour), 0);

  label.SetTransparent(true);
  const Capture through(label.Handle());
  EXPECT_GT(through.Count(kParentColour), through.Pixels() * 3 / 4);
  EXPECT_EQ(through.Count(kStaticColour), 0);
}

}  // namespace
}  // namespace quillet::widgets
