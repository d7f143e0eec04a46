#include "widgets/SpinEdit.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/Controls.h"

namespace quillet::widgets {
namespace {

win::Application& App() {
  static const bool controls = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  static win::Application app(GetModuleHandleA(nullptr));
  (void)controls;
  return app;
}

// A form holding one spin edit and a button that can take the focus from it.
class Host : public win::Form {
 public:
  Host() {
    App();
    CreateForm("spin test", 240, 120, WS_SYSMENU);
    Other.Create(hwnd_, "Other", {120, 10, 80, 25});
    Spin.Create(hwnd_, {10, 10, 51, 22});
    Spin.beep = [this] { ++beeps; };
    Show();
    SetForegroundWindow(hwnd_);
    Pump();
  }
  ~Host() override { DestroyWindow(hwnd_); }

  static void Pump() { win::Application::Instance().ProcessMessages(); }
  void Type(const std::string& chars) {
    for (char c : chars) SendMessageA(Spin.Handle(), WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  void Key(WPARAM vk) { SendMessageA(Spin.Handle(), WM_KEYDOWN, vk, 1); }
  void Enter() {
    ::SetFocus(Spin.Handle());
    SendMessageA(Spin.Handle(), EM_SETSEL, 0, -1);
  }
  void Leave() { ::SetFocus(Other.Handle()); }
  // Client coordinates of the pair for a point in its up (true) or down (false) half.
  static LPARAM HalfPoint(bool up) { return MAKELPARAM(7, up ? 3 : 12); }

  win::Button Other;
  TSpinEdit Spin;
  int beeps = 0;
};

TEST(SpinEdit, StartsAsAnUnboundedMultiLineFieldShowingZero) {
  Host h;
  EXPECT_EQ(h.Spin.Text(), "0");
  EXPECT_EQ(h.Spin.Value(), 0);
  EXPECT_EQ(h.Spin.MinValue, 0);
  EXPECT_EQ(h.Spin.MaxValue, 0);
  EXPECT_EQ(h.Spin.Increment, 1);
  EXPECT_TRUE(h.Spin.EditorEnabled);
  EXPECT_TRUE(h.Spin.AutoSelect);
  EXPECT_FALSE(h.Spin.ReadOnly());
  const LONG style = GetWindowLongA(h.Spin.Handle(), GWL_STYLE);
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_TRUE(style & WS_CLIPCHILDREN);
  EXPECT_EQ(GetParent(h.Spin.Button.Handle()), h.Spin.Handle());
}

TEST(SpinEdit, PairAndTextAreaFitTheField) {
  Host h;
  RECT window;
  GetWindowRect(h.Spin.Handle(), &window);
  EXPECT_EQ(window.right - window.left, 51);
  EXPECT_EQ(window.bottom - window.top, 22);
  EXPECT_EQ(h.Spin.Button.BoundsInParent(), (Placement{31, 0, 15, 17}));
  RECT client;
  GetClientRect(h.Spin.Handle(), &client);
  RECT text{};
  SendMessageA(h.Spin.Handle(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
  // The edit may keep a pixel or two of edge and margin inside the rectangle it is given.
  EXPECT_LE(text.right, client.right - 15 - 2);
  EXPECT_GE(text.right, client.right - 15 - 2 - 2);
  EXPECT_EQ(h.Spin.Button.UpButton().Bounds(), (Placement{0, 0, 15, 8}));
  EXPECT_EQ(h.Spin.Button.DownButton().Bounds(), (Placement{0, 7, 15, 10}));
}

TEST(SpinEdit, HeightIsRaisedToTheFontsMinimumAndWidthFollowsResizes) {
  Host h;
  const int minHeight = h.Spin.MinHeight();
  EXPECT_EQ(minHeight, 22);  // the program's 11-pixel font
  SetWindowPos(h.Spin.Handle(), nullptr, 0, 0, 80, 12, SWP_NOMOVE | SWP_NOZORDER);
  RECT window;
  GetWindowRect(h.Spin.Handle(), &window);
  EXPECT_EQ(window.bottom - window.top, minHeight);
  EXPECT_EQ(h.Spin.Button.BoundsInParent(), (Placement{80 - 15 - 5, 0, 15, minHeight - 5}));
  SetWindowPos(h.Spin.Handle(), nullptr, 0, 0, 60, 30, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(h.Spin.Button.BoundsInParent(), (Placement{40, 0, 15, 25}));
}

TEST(SpinEdit, TypingFilter) {
  struct Case {
    bool editorEnabled;
    std::string start, typed, text;
    int beeps;
  } cases[] = {
      {true, "", "12a3", "123", 1},
      {true, "", "-4.5+", "-4.5+", 0},
      {true, "", " x\r", "", 3},
      {true, "", "9\b7", "7", 0},  // backspace edits
      {false, "5", "12", "5", 2},
      {false, "5", "\b", "5", 1},
      {false, "5", "\x01", "5", 0},  // other control characters pass the filter
  };
  for (const Case& c : cases) {
    Host h;
    h.Spin.EditorEnabled = c.editorEnabled;
    h.Spin.SetText(c.start);
    h.Enter();
    SendMessageA(h.Spin.Handle(), EM_SETSEL, c.start.size(), c.start.size());
    h.Type(c.typed);
    EXPECT_EQ(h.Spin.Text(), c.text) << c.typed;
    EXPECT_EQ(h.beeps, c.beeps) << c.typed;
  }
}

TEST(SpinEdit, DeleteKeyIsTypingToo) {
  Host h;
  h.Spin.SetText("42");
  h.Spin.EditorEnabled = false;
  h.Enter();
  h.Key(VK_DELETE);
  EXPECT_EQ(h.Spin.Text(), "42");
}

TEST(SpinEdit, TypingLimitStopsTypingNotTheButtons) {
  Host h;
  h.Spin.SetMaxLength(3);
  h.Enter();
  h.Type("1234");
  EXPECT_EQ(h.Spin.Text(), "123");
  h.Spin.SetValue(999);
  h.Key(VK_UP);
  EXPECT_EQ(h.Spin.Text(), "1000");
}

TEST(SpinEdit, ArrowKeysStepWithinTheBounds) {
  struct Case {
    int32_t min, max, increment;
    std::string start;
    WPARAM key;
    std::string text;
  } cases[] = {
      {0, 0, 1, "0", VK_DOWN, "-1"},   {0, 0, 1, "-1", VK_DOWN, "-2"}, {0, 0, 5, "3", VK_UP, "8"},
      {2, 30, 1, "30", VK_UP, "30"},   {2, 30, 1, "2", VK_DOWN, "2"},  {2, 30, 1, "29", VK_UP, "30"},
      {2, 30, 1, "abc", VK_UP, "3"},   // invalid text reads as the minimum
      {2, 30, 1, "45", VK_DOWN, "30"}, {0, 0, 1, "2147483647", VK_UP, "2147483647"},
  };
  for (const Case& c : cases) {
    Host h;
    h.Spin.MinValue = c.min;
    h.Spin.MaxValue = c.max;
    h.Spin.Increment = c.increment;
    h.Spin.SetText(c.start);
    h.Enter();
    h.Key(c.key);
    EXPECT_EQ(h.Spin.Text(), c.text) << c.start;
  }
}

TEST(SpinEdit, ValueIsWrittenBoundedAndReadUnbounded) {
  Host h;
  h.Spin.MinValue = 2;
  h.Spin.MaxValue = 30;
  h.Spin.SetValue(50);
  EXPECT_EQ(h.Spin.Text(), "30");
  h.Spin.SetValue(1);
  EXPECT_EQ(h.Spin.Text(), "2");
  h.Spin.SetText("45");
  EXPECT_EQ(h.Spin.Value(), 45);
  h.Spin.SetText("1.5");
  EXPECT_EQ(h.Spin.Value(), 2);
}

TEST(SpinEdit, ReadOnlyBeepsAndChangesNothing) {
  Host h;
  h.Spin.SetValue(7);
  h.Spin.SetReadOnly(true);
  EXPECT_TRUE(h.Spin.ReadOnly());
  h.Enter();
  h.Key(VK_UP);
  h.Key(VK_DOWN);
  HWND pair = h.Spin.Button.Handle();
  SendMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(true));
  SendMessageA(pair, WM_LBUTTONUP, 0, Host::HalfPoint(true));
  EXPECT_EQ(h.Spin.Text(), "7");
  EXPECT_EQ(h.beeps, 3);
}

TEST(SpinEdit, LeavingTheFieldPutsTheBoundedValueIntoTheText) {
  struct Case {
    int32_t min, max;
    std::string typed, text;
  } cases[] = {
      {2, 30, "99", "30"}, {2, 30, "1", "2"},   {2, 30, "17", "17"},
      {2, 30, "-", "-"},   // invalid text reads as the minimum, which needs no bounding
      {0, 0, "45", "45"},  {0, 0, "-999", "-999"},
  };
  for (const Case& c : cases) {
    Host h;
    h.Spin.MinValue = c.min;
    h.Spin.MaxValue = c.max;
    h.Enter();
    h.Type(c.typed);
    ASSERT_EQ(h.Spin.Text(), c.typed);
    h.Leave();
    EXPECT_EQ(h.Spin.Text(), c.text) << c.typed;
  }
}

TEST(SpinEdit, EnteringSelectsAllOnlyWhenAutoSelectAndNotByMouse) {
  auto selection = [](HWND edit) {
    DWORD start = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return std::pair<DWORD, DWORD>(start, end);
  };
  {
    Host h;
    h.Spin.SetText("123");
    SendMessageA(h.Spin.Handle(), EM_SETSEL, 1, 1);
    h.Leave();
    ::SetFocus(h.Spin.Handle());
    EXPECT_EQ(selection(h.Spin.Handle()), (std::pair<DWORD, DWORD>(0, 3)));
  }
  {
    Host h;
    h.Spin.AutoSelect = false;
    h.Spin.SetText("123");
    SendMessageA(h.Spin.Handle(), EM_SETSEL, 1, 1);
    h.Leave();
    ::SetFocus(h.Spin.Handle());
    EXPECT_EQ(selection(h.Spin.Handle()), (std::pair<DWORD, DWORD>(1, 1)));
  }
  {
    Host h;
    h.Spin.SetText("123");
    h.Leave();
    // A click into the field places the caret instead.
    SendMessageA(h.Spin.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 5));
    SendMessageA(h.Spin.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 5));
    EXPECT_EQ(GetFocus(), h.Spin.Handle());
    const auto sel = selection(h.Spin.Handle());
    EXPECT_EQ(sel.first, sel.second);
  }
}

bool PutClipboardText(HWND owner, const std::string& text) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  memcpy(GlobalLock(mem), text.c_str(), text.size() + 1);
  GlobalUnlock(mem);
  const bool ok = SetClipboardData(CF_TEXT, mem) != nullptr;
  CloseClipboard();
  return ok;
}

TEST(SpinEdit, CutAndPasteOnlyWhenEditable) {
  struct Case {
    bool editorEnabled, readOnly;
    UINT msg;
    std::string text;
  } cases[] = {
      {true, false, WM_PASTE, "12abc"},  // pasted text may be no number at all
      {false, false, WM_PASTE, "12"},    {true, true, WM_PASTE, "12"},
      {true, false, WM_CUT, ""},         {false, false, WM_CUT, "12"},
      {true, true, WM_CUT, "12"},        {false, false, WM_CLEAR, "12"},
  };
  for (const Case& c : cases) {
    Host h;
    ASSERT_TRUE(PutClipboardText(h.Handle(), "abc"));
    h.Spin.SetText("12");
    h.Spin.EditorEnabled = c.editorEnabled;
    h.Spin.SetReadOnly(c.readOnly);
    h.Enter();
    if (c.msg == WM_PASTE) SendMessageA(h.Spin.Handle(), EM_SETSEL, 2, 2);
    SendMessageA(h.Spin.Handle(), c.msg, 0, 0);
    EXPECT_EQ(h.Spin.Text(), c.text) << c.msg << " " << c.editorEnabled << c.readOnly;
  }
  Host h;
  ASSERT_TRUE(PutClipboardText(h.Handle(), "abc"));
  h.Spin.MinValue = 2;
  h.Spin.MaxValue = 30;
  h.Enter();
  SendMessageA(h.Spin.Handle(), WM_PASTE, 0, 0);
  EXPECT_EQ(h.Spin.Value(), 2);
  h.Leave();
  EXPECT_EQ(h.Spin.Text(), "abc");  // the minimum needs no bounding: the text stays
}

TEST(SpinEdit, ButtonPressStepsOnceAndTakesTheFocusForTheField) {
  Host h;
  h.Leave();
  HWND pair = h.Spin.Button.Handle();
  SendMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(true));
  EXPECT_EQ(h.Spin.Text(), "1");
  EXPECT_EQ(GetFocus(), h.Spin.Handle());
  EXPECT_TRUE(h.Spin.Button.UpButton().Down());
  EXPECT_EQ(GetCapture(), pair);
  SendMessageA(pair, WM_LBUTTONUP, 0, Host::HalfPoint(true));
  EXPECT_EQ(h.Spin.Text(), "1");
  EXPECT_FALSE(h.Spin.Button.UpButton().Down());
  EXPECT_FALSE(h.Spin.Button.UpButton().TimerRunning());
  EXPECT_NE(GetCapture(), pair);
  SendMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(false));
  SendMessageA(pair, WM_LBUTTONUP, 0, Host::HalfPoint(false));
  SendMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(false));
  SendMessageA(pair, WM_LBUTTONUP, 0, Host::HalfPoint(false));
  EXPECT_EQ(h.Spin.Text(), "-1");
  EXPECT_EQ(h.Spin.Button.FocusedButton(), &h.Spin.Button.DownButton());
  // The row where the halves overlap belongs to the down button.
  SendMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 7));
  SendMessageA(pair, WM_LBUTTONUP, 0, MAKELPARAM(7, 7));
  EXPECT_EQ(h.Spin.Text(), "-2");
}

// Pumps messages until the message clock has passed `until`.
void PumpUntil(DWORD until) {
  MSG msg;
  while (static_cast<LONG>(GetTickCount() - until) < 0) {
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }
}

TEST(SpinEdit, HoldingAButtonRepeatsAfter400ThenEvery100Milliseconds) {
  Host h;
  std::vector<LONG> steps;
  h.Spin.Button.onUpClick = [&] { steps.push_back(GetMessageTime()); };
  HWND pair = h.Spin.Button.Handle();
  PostMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(true));
  const DWORD start = GetTickCount();
  PumpUntil(start + 760);
  SendMessageA(pair, WM_LBUTTONUP, 0, Host::HalfPoint(true));
  const size_t held = steps.size();
  PumpUntil(GetTickCount() + 300);
  EXPECT_EQ(steps.size(), held) << "the timer stops on release";

  // At the press, then about 400, 500, 600, 700 ms later (timers may run late, never early).
  ASSERT_GE(steps.size(), 3u);
  ASSERT_LE(steps.size(), 5u);
  EXPECT_LE(steps[0] - static_cast<LONG>(start), 30);
  const LONG first = steps[1] - steps[0];
  EXPECT_GE(first, 390);
  EXPECT_LE(first, 520);
  for (size_t i = 2; i < steps.size(); ++i) {
    EXPECT_GE(steps[i] - steps[i - 1], 90) << i;
    EXPECT_LE(steps[i] - steps[i - 1], 200) << i;
  }
}

TEST(SpinEdit, NoStepWhileThePointerIsOffTheHeldButton) {
  Host h;
  int steps = 0;
  h.Spin.Button.onUpClick = [&] { ++steps; };
  HWND pair = h.Spin.Button.Handle();
  SendMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(true));
  SendMessageA(pair, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 40));
  EXPECT_FALSE(h.Spin.Button.UpButton().Down());
  PumpUntil(GetTickCount() + 650);
  EXPECT_EQ(steps, 1);
  EXPECT_TRUE(h.Spin.Button.UpButton().TimerRunning());
  SendMessageA(pair, WM_MOUSEMOVE, MK_LBUTTON, Host::HalfPoint(true));
  PumpUntil(GetTickCount() + 250);
  EXPECT_GE(steps, 2);
  SendMessageA(pair, WM_LBUTTONUP, 0, Host::HalfPoint(true));
  EXPECT_FALSE(h.Spin.Button.UpButton().TimerRunning());
}

TEST(SpinEdit, AFailingStepStopsTheRepeat) {
  Host h;
  int steps = 0;
  h.Spin.Button.onUpClick = [&] {
    if (++steps == 2) throw std::runtime_error("step failed");
  };
  HWND pair = h.Spin.Button.Handle();
  SendMessageA(pair, WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(true));
  PumpUntil(GetTickCount() + 800);
  EXPECT_EQ(steps, 2);
  EXPECT_FALSE(h.Spin.Button.UpButton().TimerRunning());
  SendMessageA(pair, WM_LBUTTONUP, 0, Host::HalfPoint(true));
}

TEST(SpinButton, KeysOfTheFocusedPair) {
  Host h;
  TSpinButton pair;
  pair.Create(h.Handle(), 100, 60, 15, 17, WS_TABSTOP);
  std::string log;
  pair.onUpClick = [&] { log += 'u'; };
  pair.onDownClick = [&] { log += 'd'; };
  EXPECT_EQ(SendMessageA(pair.Handle(), WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS);
  ::SetFocus(pair.Handle());
  EXPECT_EQ(pair.FocusedButton(), &pair.UpButton());
  EXPECT_TRUE(pair.UpButton().drawFocusRect);
  SendMessageA(pair.Handle(), WM_KEYDOWN, VK_SPACE, 1);
  SendMessageA(pair.Handle(), WM_KEYDOWN, VK_DOWN, 1);
  SendMessageA(pair.Handle(), WM_KEYDOWN, VK_SPACE, 1);
  SendMessageA(pair.Handle(), WM_KEYDOWN, VK_UP, 1);
  EXPECT_EQ(log, "uddu");
  EXPECT_TRUE(pair.UpButton().drawFocusRect);
  EXPECT_FALSE(pair.DownButton().drawFocusRect);
  h.Leave();
  EXPECT_FALSE(pair.UpButton().drawFocusRect);
  // Without a field to focus, a press focuses the pair itself, being a tab stop.
  SendMessageA(pair.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, Host::HalfPoint(false));
  SendMessageA(pair.Handle(), WM_LBUTTONUP, 0, Host::HalfPoint(false));
  EXPECT_EQ(GetFocus(), pair.Handle());
  EXPECT_EQ(pair.FocusedButton(), &pair.DownButton());
  EXPECT_EQ(log, "udd" "ud");
}

TEST(SpinButton, PairIsAtLeast15Wide) {
  Host h;
  TSpinButton pair;
  pair.Create(h.Handle(), 100, 60, 9, 20);
  EXPECT_EQ(pair.BoundsInParent(), (Placement{100, 60, 15, 20}));
  pair.SetBounds({100, 60, 4, 30});
  EXPECT_EQ(pair.BoundsInParent(), (Placement{100, 60, 15, 30}));
  EXPECT_EQ(pair.UpButton().Bounds(), (Placement{0, 0, 15, 15}));
  EXPECT_EQ(pair.DownButton().Bounds(), (Placement{0, 14, 15, 16}));
}

// The glyphs come from the program's resources and are drawn black on the button face.
TEST(SpinButton, PaintsBothArrows) {
  Host h;
  HWND pair = h.Spin.Button.Handle();
  HDC screen = GetDC(nullptr);
  win::MemoryDcHandle mem(CreateCompatibleDC(screen));
  win::BitmapHandle bmp(CreateCompatibleBitmap(screen, 15, 17));
  ReleaseDC(nullptr, screen);
  {
    win::SelectGuard select(mem.get(), bmp.get());
    SendMessageA(pair, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem.get()), PRF_CLIENT);
    auto blackIn = [&](int top, int bottom) {
      int n = 0;
      for (int y = top; y < bottom; ++y)
        for (int x = 2; x < 13; ++x) n += GetPixel(mem.get(), x, y) == RGB(0, 0, 0);
      return n;
    };
    // The 16-pixel arrow, minus what the frame's dark edge may share with it.
    EXPECT_GE(blackIn(1, 7), 12);
    EXPECT_GE(blackIn(8, 16), 12);
    // Up arrow: its widest row is below its narrowest.
    int firstRow = -1, lastRow = -1;
    for (int y = 1; y < 7; ++y) {
      int n = 0;
      for (int x = 2; x < 13; ++x) n += GetPixel(mem.get(), x, y) == RGB(0, 0, 0);
      if (n == 1 && firstRow < 0) firstRow = y;
      if (n == 7) lastRow = y;
    }
    EXPECT_GE(firstRow, 0);
    EXPECT_GT(lastRow, firstRow);
  }
}

}  // namespace
}  // namespace quillet::widgets
