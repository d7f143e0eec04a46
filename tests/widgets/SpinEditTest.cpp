// The spin edit under Wine, driven by the messages a user's keys and mouse produce.
#include "widgets/SpinEdit.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/Controls.h"
#include "tests/app/Harness.h"

namespace quillet::widgets {
namespace {

// A form holding one spin edit and a button that can take the focus from it.
class Host : public win::Form {
 public:
  Host() {
    test::TestApp();
    CreateForm("spin test", 240, 120, WS_SYSMENU);
    Other.Create(hwnd_, "Other", {120, 10, 80, 25});
    Spin.Create(hwnd_, {10, 10, 51, 22});
    Spin.beep = [this] { ++beeps; };
    Show();
    SetForegroundWindow(hwnd_);
    // Showing queues mouse moves for where the pointer is; a held button must not see them.
    win::Application::Instance().ProcessMessages();
  }
  ~Host() override { DestroyWindow(hwnd_); }

  void Type(const std::string& chars) {
    for (char c : chars) SendMessageA(Spin.Handle(), WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  void Key(WPARAM vk) { SendMessageA(Spin.Handle(), WM_KEYDOWN, vk, 1); }
  void Enter(const std::string& text) {
    Spin.SetText(text);
    ::SetFocus(Spin.Handle());
    SendMessageA(Spin.Handle(), EM_SETSEL, text.size(), text.size());
  }
  void Leave() { ::SetFocus(Other.Handle()); }
  void Press(bool up, bool release = true) {
    const LPARAM at = MAKELPARAM(7, up ? 3 : 12);  // in the up or the down half of the pair
    SendMessageA(Spin.Button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    if (release) SendMessageA(Spin.Button.Handle(), WM_LBUTTONUP, 0, at);
  }
  void Bound(int32_t min, int32_t max) {
    Spin.MinValue = min;
    Spin.MaxValue = max;
  }

  win::Button Other;
  TSpinEdit Spin;
  int beeps = 0;
};

TEST(SpinEdit, LayoutOfFieldButtonsAndText) {
  Host h;
  EXPECT_EQ(h.Spin.Text(), "0");
  EXPECT_TRUE(GetWindowLongA(h.Spin.Handle(), GWL_STYLE) & ES_MULTILINE);
  EXPECT_EQ(h.Spin.Button.BoundsInParent(), (Placement{31, 0, 15, 17}));
  EXPECT_EQ(h.Spin.Button.DownButton().Bounds(), (Placement{0, 7, 15, 10}));
  RECT client, text{};
  GetClientRect(h.Spin.Handle(), &client);
  SendMessageA(h.Spin.Handle(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
  // The edit may keep a pixel or two of edge and margin inside the rectangle it is given.
  EXPECT_LE(text.right, client.right - 15 - 2);
  EXPECT_GE(text.right, client.right - 15 - 2 - 2);

  EXPECT_EQ(h.Spin.MinHeight(), 22);  // the program's 11-pixel font
  SetWindowPos(h.Spin.Handle(), nullptr, 0, 0, 80, 12, SWP_NOMOVE | SWP_NOZORDER);
  RECT window;
  GetWindowRect(h.Spin.Handle(), &window);
  EXPECT_EQ(window.bottom - window.top, 22);
  EXPECT_EQ(h.Spin.Button.BoundsInParent(), (Placement{60, 0, 15, 17}));
}

TEST(SpinEdit, TypingFilter) {
  struct Case {
    bool editorEnabled;
    std::string start, typed, text;
    int beeps;
  } cases[] = {
      {true, "", "12a3", "123", 1}, {true, "", "-4.5+", "-4.5+", 0}, {true, "", " x\r", "", 3},
      {true, "", "9\b7", "7", 0},   {false, "5", "12", "5", 2},      {false, "5", "\b", "5", 1},
      {false, "5", "\x01", "5", 0},  // other control characters pass
  };
  for (const Case& c : cases) {
    Host h;
    h.Spin.EditorEnabled = c.editorEnabled;
    h.Enter(c.start);
    h.Type(c.typed);
    if (!c.editorEnabled) h.Key(VK_DELETE);
    EXPECT_EQ(h.Spin.Text(), c.text) << c.typed;
    EXPECT_EQ(h.beeps, c.beeps) << c.typed;
  }
}

TEST(SpinEdit, ArrowKeysAndButtonsStepWithinTheBounds) {
  struct Case {
    int32_t min, max, increment;
    std::string start;
    bool up;
    std::string text;
  } cases[] = {
      {0, 0, 1, "0", false, "-1"},    {0, 0, 5, "3", true, "8"},
      {0, 0, 1, "999", true, "1000"}, {2, 30, 1, "30", true, "30"},
      {2, 30, 1, "2", false, "2"},    {2, 30, 1, "abc", true, "3"},
      {2, 30, 1, "45", false, "30"},  {0, 0, 1, "2147483647", true, "2147483647"},
  };
  for (const Case& c : cases) {
    for (bool byKey : {true, false}) {
      Host h;
      h.Bound(c.min, c.max);
      h.Spin.Increment = c.increment;
      h.Spin.SetMaxLength(3);  // limits typing only
      h.Enter(c.start);
      if (byKey) h.Key(c.up ? VK_UP : VK_DOWN);
      else h.Press(c.up);
      EXPECT_EQ(h.Spin.Text(), c.text) << c.start << (byKey ? " key" : " button");
    }
  }
}

TEST(SpinEdit, ReadOnlyBeepsAndChangesNothing) {
  Host h;
  h.Enter("7");
  h.Spin.SetReadOnly(true);
  h.Key(VK_UP);
  h.Key(VK_DOWN);
  h.Press(true);
  EXPECT_EQ(h.Spin.Text(), "7");
  EXPECT_EQ(h.beeps, 3);
}

TEST(SpinEdit, LeavingTheFieldPutsTheBoundedValueIntoTheText) {
  struct Case {
    int32_t min, max;
    std::string typed, text;
  } cases[] = {
      {2, 30, "99", "30"}, {2, 30, "1", "2"},
      {2, 30, "17", "17"}, {2, 30, "-", "-"},  // no number reads as the minimum, which needs no bounding
      {0, 0, "45", "45"},  {0, 0, "-999", "-999"},
  };
  for (const Case& c : cases) {
    Host h;
    h.Bound(c.min, c.max);
    h.Enter("");
    h.Type(c.typed);
    h.Leave();
    EXPECT_EQ(h.Spin.Text(), c.text) << c.typed;
  }
}

TEST(SpinEdit, EnteringSelectsAllOnlyWhenAutoSelectAndNotByMouse) {
  struct Case {
    bool autoSelect, byMouse;
    DWORD start, end;
  } cases[] = {{true, false, 0, 3}, {false, false, 1, 1}, {true, true, 0, 0}};
  for (const Case& c : cases) {
    Host h;
    h.Spin.AutoSelect = c.autoSelect;
    h.Spin.SetText("123");
    SendMessageA(h.Spin.Handle(), EM_SETSEL, 1, 1);
    h.Leave();
    if (c.byMouse) {  // a click left of the text puts the caret at its start
      SendMessageA(h.Spin.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, 5));
      SendMessageA(h.Spin.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(0, 5));
    } else {
      ::SetFocus(h.Spin.Handle());
    }
    DWORD start = 9, end = 9;
    SendMessageA(h.Spin.Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(GetFocus(), h.Spin.Handle());
    EXPECT_EQ(start, c.start) << c.autoSelect << c.byMouse;
    EXPECT_EQ(end, c.end) << c.autoSelect << c.byMouse;
  }
}

TEST(SpinEdit, CutPasteAndClearOnlyWhenEditable) {
  struct Case {
    bool editorEnabled, readOnly;
    UINT msg;
    std::string text;
  } cases[] = {
      {true, false, WM_PASTE, "12abc"}, {false, false, WM_PASTE, "12"}, {true, true, WM_PASTE, "12"},
      {true, false, WM_CUT, "1"},       {false, false, WM_CUT, "12"},   {true, true, WM_CUT, "12"},
      {false, false, WM_CLEAR, "12"},
  };
  for (const Case& c : cases) {
    Host h;
    ASSERT_TRUE(OpenClipboard(h.Handle()));
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 4);
    memcpy(GlobalLock(mem), "abc", 4);
    GlobalUnlock(mem);
    SetClipboardData(CF_TEXT, mem);
    CloseClipboard();
    h.Spin.EditorEnabled = c.editorEnabled;
    h.Enter("12");
    h.Spin.SetReadOnly(c.readOnly);
    SendMessageA(h.Spin.Handle(), EM_SETSEL, c.msg == WM_PASTE ? 2 : 1, 2);
    SendMessageA(h.Spin.Handle(), c.msg, 0, 0);
    EXPECT_EQ(h.Spin.Text(), c.text) << c.msg << " " << c.editorEnabled << c.readOnly;
  }
}

TEST(SpinEdit, ButtonPressStepsAtOnceAndFocusesTheField) {
  Host h;
  h.Leave();
  h.Press(true, false);
  EXPECT_EQ(h.Spin.Text(), "1");
  EXPECT_EQ(GetFocus(), h.Spin.Handle());
  EXPECT_EQ(GetCapture(), h.Spin.Button.Handle());
  SendMessageA(h.Spin.Button.Handle(), WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(h.Spin.Text(), "1");  // no second step at the release
  EXPECT_FALSE(h.Spin.Button.UpButton().TimerRunning());
  // The row where the halves overlap belongs to the down button.
  SendMessageA(h.Spin.Button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 7));
  SendMessageA(h.Spin.Button.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(7, 7));
  EXPECT_EQ(h.Spin.Text(), "0");
  EXPECT_EQ(h.Spin.Button.FocusedButton(), &h.Spin.Button.DownButton());
}

// Pumps messages until the tick count has passed `until`.
void PumpUntil(DWORD until) {
  MSG msg;
  while (static_cast<LONG>(GetTickCount() - until) < 0) {
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    else MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

TEST(SpinEdit, HoldingAButtonRepeatsAfter400ThenEvery100Milliseconds) {
  Host h;
  std::vector<LONG> steps;  // message times of the steps
  h.Spin.Button.onUpClick = [&] { steps.push_back(GetMessageTime()); };
  PostMessageA(h.Spin.Button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 3));
  const DWORD start = GetTickCount();
  PumpUntil(start + 760);
  SendMessageA(h.Spin.Button.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(7, 3));
  const size_t held = steps.size();
  PumpUntil(GetTickCount() + 300);
  EXPECT_EQ(steps.size(), held) << "the timer stops on release";

  // At the press, then about 400, 500, 600, 700 ms later; a loaded machine delivers late.
  ASSERT_GE(steps.size(), 3u);
  ASSERT_LE(steps.size(), 5u);
  EXPECT_LE(steps[0] - static_cast<LONG>(start), 30);
  EXPECT_GE(steps[1] - steps[0], 390);
  EXPECT_LE(steps[1] - steps[0], 600);
  for (size_t i = 2; i < steps.size(); ++i) {
    EXPECT_GE(steps[i] - steps[i - 1], 90) << i;
    EXPECT_LE(steps[i] - steps[i - 1], 250) << i;
  }
}

TEST(SpinEdit, NoStepWhileThePointerIsOffTheHeldButton) {
  Host h;
  int steps = 0;
  h.Spin.Button.onUpClick = [&] { ++steps; };
  h.Press(true, false);
  SendMessageA(h.Spin.Button.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 40));
  PumpUntil(GetTickCount() + 650);
  EXPECT_EQ(steps, 1);
  SendMessageA(h.Spin.Button.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(7, 3));
  PumpUntil(GetTickCount() + 250);
  EXPECT_GE(steps, 2);
  SendMessageA(h.Spin.Button.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(7, 3));
}

TEST(SpinEdit, AFailingStepStopsTheRepeat) {
  Host h;
  test::RecordedReports recorded;
  int steps = 0;
  h.Spin.Button.onUpClick = [&] {
    if (++steps == 2) throw std::runtime_error("step failed");
  };
  h.Press(true, false);
  PumpUntil(GetTickCount() + 800);
  EXPECT_EQ(steps, 2);
  EXPECT_FALSE(h.Spin.Button.UpButton().TimerRunning());
  SendMessageA(h.Spin.Button.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(7, 3));
  EXPECT_EQ(recorded.reports, std::vector<std::string>{"Window (QuilletSpinButton, message 0x0113): step failed"});
}

TEST(SpinButton, KeysAndFocusOfAPairOnItsOwn) {
  Host h;
  TSpinButton pair;
  pair.Create(h.Handle(), 100, 60, 9, 17, WS_TABSTOP);
  EXPECT_EQ(pair.BoundsInParent().width, 15);
  std::string log;
  pair.onUpClick = [&] { log += 'u'; };
  pair.onDownClick = [&] { log += 'd'; };
  EXPECT_EQ(SendMessageA(pair.Handle(), WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS);
  ::SetFocus(pair.Handle());
  for (WPARAM key : {VK_SPACE, VK_DOWN, VK_SPACE, VK_UP}) SendMessageA(pair.Handle(), WM_KEYDOWN, key, 1);
  EXPECT_EQ(log, "uddu");
  EXPECT_TRUE(pair.UpButton().drawFocusRect);
  EXPECT_FALSE(pair.DownButton().drawFocusRect);
  h.Leave();
  EXPECT_FALSE(pair.UpButton().drawFocusRect);
  // With no field to focus, a press focuses the pair, being a tab stop.
  SendMessageA(pair.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 12));
  SendMessageA(pair.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(7, 12));
  EXPECT_EQ(GetFocus(), pair.Handle());
  EXPECT_EQ(log, "uddud");
}

// The glyphs come from the program's resources: a black arrow in each half.
TEST(SpinButton, PaintsBothArrows) {
  Host h;
  HDC screen = GetDC(nullptr);
  win::MemoryDcHandle mem(CreateCompatibleDC(screen));
  win::BitmapHandle bmp(CreateCompatibleBitmap(screen, 15, 17));
  ReleaseDC(nullptr, screen);
  win::SelectGuard select(mem.get(), bmp.get());
  SendMessageA(h.Spin.Button.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem.get()), PRF_CLIENT);
  std::string rows;  // black pixels per row, as digits
  for (int y = 1; y < 16; ++y) {
    int n = 0;
    for (int x = 2; x < 13; ++x) n += GetPixel(mem.get(), x, y) == RGB(0, 0, 0);
    rows += static_cast<char>('0' + n);
  }
  EXPECT_NE(rows.find("1357"), std::string::npos) << rows;
  EXPECT_NE(rows.find("7531"), std::string::npos) << rows;
  EXPECT_LT(rows.find("1357"), rows.find("7531")) << rows;
}

}  // namespace
}  // namespace quillet::widgets
