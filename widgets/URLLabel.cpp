#include "widgets/URLLabel.h"

#include <windowsx.h>

#include <map>

#include "framework/Application.h"

namespace quillet::widgets {
namespace {

constexpr char kDefaultCaption[] = "http://www.orvane.example/";

std::map<int, HCURSOR>& CursorTable() {
  static std::map<int, HCURSOR> table;
  return table;
}

COLORREF ToColorRef(ScreenColor c) {
  return ColorToRGB(c, [](int index) { return static_cast<ScreenColor>(GetSysColor(index)); });
}

constexpr UINT kTextFormat = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;

}  // namespace

HCURSOR ScreenCursor(int index) {
  const auto it = CursorTable().find(index);
  return it == CursorTable().end() ? nullptr : it->second;
}

void SetScreenCursor(int index, HCURSOR cursor) { CursorTable()[index] = cursor; }

TURLLabel::TURLLabel() : caption_(kDefaultCaption), font_(DefaultFont()) {
  font_.log.lfUnderline = TRUE;
  hfont_.reset(CreateFontIndirectA(&font_.log));
  SetScreenCursor(crURLCursor, LoadCursorA(GetModuleHandleA(nullptr), kURLCursorResource));
}

TURLLabel::~TURLLabel() {
  if (hwnd_) DestroyWindow(hwnd_);
}

bool TURLLabel::Create(HWND parent, int left, int top, int width, int height) {
  if (hwnd_) return false;
  RegisterClassOnce(kURLLabelClass, nullptr, 0);
  const DWORD style = WS_CHILD | WS_VISIBLE | (enabled_ ? 0 : WS_DISABLED);
  CreateWindowOf(kURLLabelClass, caption_, style, 0, left, top, width, height, parent);
  if (!hwnd_) return false;
  FitToCaption();
  return true;
}

void TURLLabel::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (hwnd_) SetWindowTextA(hwnd_, caption_.c_str());  // keeps the window text readable
  FitToCaption();
  Repaint();
}

void TURLLabel::SetAutoSize(bool value) {
  autoSize_ = value;
  FitToCaption();
}

void TURLLabel::SetTransparent(bool value) {
  transparent_ = value;
  Repaint();
}

void TURLLabel::SetEnabled(bool value) {
  enabled_ = value;
  if (hwnd_) EnableWindow(hwnd_, value);
  Repaint();
}

void TURLLabel::SetFontColor(ScreenColor color) {
  font_.color = color;
  Repaint();
}

void TURLLabel::Click() {
  if (OnClick) OnClick(*this);
  win::Application::Instance().Shell(
      {GetDesktopWindow(), "open", LinkTarget(caption_, urlType_), "", "", SW_SHOWNORMAL});
}

void TURLLabel::MouseEnter() { SetFontColor(clBlue); }

// Black, not the colour from before the hover: the look of a visited link.
void TURLLabel::MouseLeave() { SetFontColor(clBlack); }

void TURLLabel::FitToCaption() {
  if (!hwnd_ || !autoSize_) return;
  win::WindowDc dc(hwnd_);
  win::SelectGuard font(dc.get(), hfont_.get());
  RECT r{0, 0, 0, 0};
  DrawTextA(dc.get(), caption_.c_str(), static_cast<int>(caption_.size()), &r, kTextFormat | DT_CALCRECT);
  if (caption_.empty()) {
    TEXTMETRICA tm{};
    GetTextMetricsA(dc.get(), &tm);
    r.bottom = tm.tmHeight;
  }
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right, r.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TURLLabel::Repaint() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void TURLLabel::PaintWindow(HDC dc) {
  RECT client{};
  GetClientRect(hwnd_, &client);
  HWND parent = GetParent(hwnd_);
  if (transparent_ && parent) {
    win::PaintParentBackground(hwnd_, dc, client.right, client.bottom);
  } else {
    auto brush = reinterpret_cast<HBRUSH>(
        parent ? SendMessageA(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd_))
               : 0);
    FillRect(dc, &client, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
  }
  win::SelectGuard font(dc, hfont_.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(enabled_ ? font_.color : clGrayText));
  DrawTextA(dc, caption_.c_str(), static_cast<int>(caption_.size()), &client, kTextFormat);
}

LRESULT TURLLabel::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT) {
        if (HCURSOR c = ScreenCursor(cursor_)) {
          ::SetCursor(c);
          return TRUE;
        }
      }
      break;
    case WM_LBUTTONDOWN:
      clickPending_ = true;
      SetCapture(hwnd_);
      return 0;
    case WM_LBUTTONUP: {
      const bool pending = clickPending_;
      clickPending_ = false;
      if (GetCapture() == hwnd_) ReleaseCapture();
      RECT client;
      GetClientRect(hwnd_, &client);
      const POINT at{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      if (pending && PtInRect(&client, at)) Click();
      return 0;
    }
    case WM_CAPTURECHANGED: clickPending_ = false; return 0;
    case WM_MOUSEMOVE:
      if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd_, 0};
        TrackMouseEvent(&track);
        tracking_ = true;
        MouseEnter();
      }
      return 0;
    case WM_MOUSELEAVE:
      tracking_ = false;
      MouseLeave();
      return 0;
    default: break;
  }
  return PaintedWindow::HandleMessage(msg, wp, lp);
}

}  // namespace quillet::widgets
