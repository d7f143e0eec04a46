#include "widgets/SpinEdit.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/Application.h"

namespace quillet::widgets {
namespace {

constexpr UINT_PTR kUpTimer = 1, kDownTimer = 2;

int TextHeight(HDC dc, HGDIOBJ font) {
  win::SelectGuard select(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  return tm.tmHeight;
}

}  // namespace

// --- TTimerSpeedButton ---

void TTimerSpeedButton::Attach(HWND owner, UINT_PTR timerId, HBITMAP glyph) {
  owner_ = owner;
  timerId_ = timerId;
  glyph_ = glyph;
}

bool TTimerSpeedButton::Contains(int x, int y) const {
  return x >= bounds_.left && x < bounds_.left + bounds_.width && y >= bounds_.top && y < bounds_.top + bounds_.height;
}

void TTimerSpeedButton::SetDown(bool down) {
  if (down_ == down) return;
  down_ = down;
  if (!owner_) return;
  RECT r{bounds_.left, bounds_.top, bounds_.left + bounds_.width, bounds_.top + bounds_.height};
  InvalidateRect(owner_, &r, FALSE);
}

void TTimerSpeedButton::MouseDown() {
  SetDown(true);
  if (onMouseDown) onMouseDown();
  Click();
  if (timerAllowed) StartTimer(kFirstDelay);
}

void TTimerSpeedButton::MouseUp() {
  SetDown(false);
  StopTimer();
}

void TTimerSpeedButton::TimerExpired(bool captured) {
  if (!timerRunning_) return;
  StartTimer(kRepeatDelay);
  if (!down_ || !captured) return;
  try {
    Click();
  } catch (...) {
    StopTimer();
    throw;
  }
}

void TTimerSpeedButton::StartTimer(UINT interval) {
  if (!owner_) return;
  // Setting an existing timer id again replaces its interval.
  timerRunning_ = SetTimer(owner_, timerId_, interval, nullptr) != 0;
}

void TTimerSpeedButton::StopTimer() {
  if (!timerRunning_) return;
  KillTimer(owner_, timerId_);
  timerRunning_ = false;
}

void TTimerSpeedButton::Paint(HDC dc) const {
  RECT r{bounds_.left, bounds_.top, bounds_.left + bounds_.width, bounds_.top + bounds_.height};
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (down_ ? DFCS_PUSHED : 0));
  const int shift = down_ ? 1 : 0;
  if (glyph_) {
    BITMAP bm{};
    GetObjectA(glyph_, sizeof bm, &bm);
    win::MemoryDcHandle mem(CreateCompatibleDC(dc));
    win::SelectGuard select(mem.get(), glyph_);
    // The bottom-left pixel gives the glyph's transparent colour.
    const COLORREF transparent = GetPixel(mem.get(), 0, bm.bmHeight - 1);
    const int x = r.left + (bounds_.width - bm.bmWidth) / 2 + shift;
    const int y = r.top + (bounds_.height - bm.bmHeight) / 2 + shift;
    TransparentBlt(dc, x, y, bm.bmWidth, bm.bmHeight, mem.get(), 0, 0, bm.bmWidth, bm.bmHeight, transparent);
  }
  if (drawFocusRect) {
    RECT focus = r;
    InflateRect(&focus, -3, -3);
    OffsetRect(&focus, shift, shift);
    DrawFocusRect(dc, &focus);
  }
}

// --- TSpinButton ---

void TSpinButton::Create(HWND parent, int left, int top, int width, int height, DWORD style) {
  RegisterClassOnce(kClass, nullptr);
  HINSTANCE module = win::Application::Instance().Module();
  upGlyph_.reset(static_cast<HBITMAP>(LoadImageA(module, kSpinUpGlyph, IMAGE_BITMAP, 0, 0, 0)));
  downGlyph_.reset(static_cast<HBITMAP>(LoadImageA(module, kSpinDownGlyph, IMAGE_BITMAP, 0, 0, 0)));
  CreateWindowOf(kClass, "", WS_CHILD | WS_VISIBLE | style, 0, left, top, std::max(width, kSpinButtonMinWidth), height,
                 parent);
  up_.Attach(hwnd_, kUpTimer, upGlyph_.get());
  down_.Attach(hwnd_, kDownTimer, downGlyph_.get());
  up_.onClick = [this] {
    if (onUpClick) onUpClick();
  };
  down_.onClick = [this] {
    if (onDownClick) onDownClick();
  };
  up_.onMouseDown = [this] {
    SetFocusedButton(up_);
    FocusOnPress();
  };
  down_.onMouseDown = [this] {
    SetFocusedButton(down_);
    FocusOnPress();
  };
  LayoutHalves();
}

void TSpinButton::SetBounds(const Placement& b) {
  SetWindowPos(hwnd_, nullptr, b.left, b.top, std::max(b.width, kSpinButtonMinWidth), b.height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

Placement TSpinButton::BoundsInParent() const {
  RECT r;
  GetWindowRect(hwnd_, &r);
  MapWindowPoints(nullptr, GetParent(hwnd_), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void TSpinButton::SetFocusedButton(TTimerSpeedButton& button) {
  focused_ = &button;
  UpdateFocusMarks(GetFocus() == hwnd_);
}

void TSpinButton::UpdateFocusMarks(bool hasFocus) {
  up_.drawFocusRect = hasFocus && focused_ == &up_;
  down_.drawFocusRect = hasFocus && focused_ == &down_;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void TSpinButton::LayoutHalves() {
  RECT client;
  GetClientRect(hwnd_, &client);
  const SpinHalves halves = SpinButtonHalves(client.right, client.bottom);
  up_.SetBounds(halves.up);
  down_.SetBounds(halves.down);
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void TSpinButton::FocusOnPress() {
  HWND focus = GetFocus();
  if (focusControl && IsWindowEnabled(focusControl) && IsWindowVisible(focusControl)) {
    if (focus != focusControl) ::SetFocus(focusControl);
  } else if ((GetWindowLongA(hwnd_, GWL_STYLE) & WS_TABSTOP) && focus != hwnd_) {
    ::SetFocus(hwnd_);
  }
}

void TSpinButton::PressAt(int x, int y) {
  // The down button lies over the up button's last row.
  TTimerSpeedButton* hit = down_.Contains(x, y) ? &down_ : up_.Contains(x, y) ? &up_ : nullptr;
  if (!hit || !IsWindowEnabled(hwnd_)) return;
  pressed_ = hit;
  SetCapture(hwnd_);
  hit->MouseDown();
}

void TSpinButton::TrackTo(int x, int y) {
  if (pressed_) pressed_->SetDown(pressed_->Contains(x, y));
}

void TSpinButton::Release() {
  if (!pressed_) return;
  TTimerSpeedButton* button = pressed_;
  pressed_ = nullptr;
  button->MouseUp();
  if (GetCapture() == hwnd_) ReleaseCapture();
}

void TSpinButton::PaintAll(HDC dc) {
  up_.Paint(dc);
  down_.Paint(dc);
}

LRESULT TSpinButton::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  const int x = static_cast<short>(LOWORD(lp)), y = static_cast<short>(HIWORD(lp));
  switch (msg) {
    case WM_SIZE: LayoutHalves(); return 0;
    case WM_ERASEBKGND: return 1;  // opaque: the buttons cover the whole client area
    case WM_PAINT: {
      win::PaintGuard paint(hwnd_);
      PaintAll(paint.dc());
      return 0;
    }
    case WM_PRINTCLIENT: PaintAll(reinterpret_cast<HDC>(wp)); return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: PressAt(x, y); return 0;
    case WM_MOUSEMOVE: TrackTo(x, y); return 0;
    case WM_LBUTTONUP: Release(); return 0;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lp) != hwnd_) Release();
      return 0;
    case WM_TIMER:
      if (wp == up_.TimerId() || wp == down_.TimerId()) {
        TTimerSpeedButton& button = wp == up_.TimerId() ? up_ : down_;
        button.TimerExpired(pressed_ == &button && GetCapture() == hwnd_);
        return 0;
      }
      break;
    case WM_GETDLGCODE: return DLGC_WANTARROWS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: UpdateFocusMarks(msg == WM_SETFOCUS); return 0;
    case WM_KEYDOWN:
      switch (wp) {
        case VK_SPACE: focused_->Click(); return 0;
        case VK_UP:
          SetFocusedButton(up_);
          up_.Click();
          return 0;
        case VK_DOWN:
          SetFocusedButton(down_);
          down_.Click();
          return 0;
        default: break;
      }
      break;
    case WM_ENABLE:
      if (!wp) Release();
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    default: break;
  }
  return Window::HandleMessage(msg, wp, lp);
}

// --- TSpinEdit ---

// The button pair is a child of the field: its destruction notifies the field.
TSpinEdit::~TSpinEdit() { Detach(); }

void TSpinEdit::Create(HWND parent, const win::Bounds& b) {
  Edit::Create(parent, b, ES_MULTILINE | ES_AUTOHSCROLL | WS_CLIPCHILDREN);
  Button.Create(hwnd_, 0, 0);
  Button.focusControl = hwnd_;
  Button.onUpClick = [this] { UpClick(); };
  Button.onDownClick = [this] { DownClick(); };
  SetText("0");
  Layout();
}

int32_t TSpinEdit::Value() const { return ReadSpinValue(Text(), Range()); }

void TSpinEdit::SetValue(int32_t v) { SetText(WriteSpinValue(v, Range())); }

void TSpinEdit::BoundText() {
  const int32_t value = Value();
  if (CheckValue(value) != value) SetValue(value);
}

void TSpinEdit::SetMaxLength(int length) {
  maxLength_ = length < 0 ? 0 : length;
  SendMessageA(hwnd_, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
}

bool TSpinEdit::ReadOnly() const { return (GetWindowLongA(hwnd_, GWL_STYLE) & ES_READONLY) != 0; }

void TSpinEdit::SetReadOnly(bool readOnly) { SendMessageA(hwnd_, EM_SETREADONLY, readOnly, 0); }

void TSpinEdit::UpClick() {
  if (ReadOnly()) beep();
  else SetValue(StepSpinValue(Value(), Increment, Range()));
}

void TSpinEdit::DownClick() {
  if (ReadOnly()) beep();
  else SetValue(StepSpinValue(Value(), -static_cast<int64_t>(Increment), Range()));
}

int TSpinEdit::MinHeight() const {
  win::WindowDc dc(nullptr);
  const auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
  const int fontHeight = TextHeight(dc.get(), font ? font : GetStockObject(SYSTEM_FONT));
  const int systemHeight = TextHeight(dc.get(), GetStockObject(SYSTEM_FONT));
  return SpinMinimumHeight(fontHeight, systemHeight, GetSystemMetrics(SM_CYBORDER));
}

void TSpinEdit::Layout() {
  if (!hwnd_ || !Button.Handle()) return;
  RECT window;
  GetWindowRect(hwnd_, &window);
  const int width = window.right - window.left, height = window.bottom - window.top;
  const int minHeight = MinHeight();
  if (height < minHeight) {
    // The size change comes back here and places the buttons.
    SetWindowPos(hwnd_, nullptr, 0, 0, width, minHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  const bool threeD = (GetWindowLongA(hwnd_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
  const Placement pair = Button.BoundsInParent();
  Button.SetBounds(SpinButtonPlacement(width, height, pair.width, threeD));
  RECT client;
  GetClientRect(hwnd_, &client);
  const TextArea area = SpinTextArea(client.right, client.bottom, Button.BoundsInParent().width);
  RECT r{area.left, area.top, area.right, area.bottom};
  SendMessageA(hwnd_, EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&r));
}

LRESULT TSpinEdit::ControlMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CHAR:
      if (!SpinCharAllowed(static_cast<unsigned char>(wp), win::LocaleDecimalSeparator(), EditorEnabled)) {
        beep();
        return 0;
      }
      break;
    case WM_KEYDOWN:
      if (wp == VK_UP) UpClick();
      if (wp == VK_DOWN) DownClick();
      // Delete removes text without a character; it is typing all the same.
      if (wp == VK_DELETE && !EditorEnabled) return 0;
      break;
    case WM_CUT:
    case WM_PASTE:
    case WM_CLEAR:
      if (!Editable()) return 0;
      break;
    case WM_GETDLGCODE: {
      // A one-line field for the dialog manager: Tab navigates, the arrows step, and Enter
      // comes here, where the character filter refuses it with a beep.
      LRESULT code = DefSubclassProc(hwnd_, msg, wp, lp);
      code &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
      code |= DLGC_WANTARROWS;
      const auto* keyMsg = reinterpret_cast<const MSG*>(lp);
      if (keyMsg && keyMsg->wParam == VK_RETURN && (keyMsg->message == WM_KEYDOWN || keyMsg->message == WM_CHAR))
        code |= DLGC_WANTMESSAGE;
      if (!AutoSelect) code &= ~DLGC_HASSETSEL;
      return code;
    }
    case WM_SETFOCUS:
      if (AutoSelect && !leftButtonDown_) SendMessageA(hwnd_, EM_SETSEL, 0, -1);
      break;
    case WM_KILLFOCUS: {
      const LRESULT result = DefSubclassProc(hwnd_, msg, wp, lp);
      BoundText();
      return result;
    }
    case WM_LBUTTONDOWN: {
      leftButtonDown_ = true;
      const LRESULT result = DefSubclassProc(hwnd_, msg, wp, lp);
      // The edit keeps the capture while the button is held; a release may never come here.
      if (GetCapture() != hwnd_) leftButtonDown_ = false;
      return result;
    }
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED: leftButtonDown_ = false; break;
    case WM_SIZE:
    case WM_SETFONT: {
      const LRESULT result = DefSubclassProc(hwnd_, msg, wp, lp);
      Layout();
      return result;
    }
    case WM_ENABLE:
      if (Button.Handle()) EnableWindow(Button.Handle(), static_cast<BOOL>(wp));
      break;
    default: break;
  }
  return DefSubclassProc(hwnd_, msg, wp, lp);
}

}  // namespace quillet::widgets
