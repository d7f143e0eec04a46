#include "framework/Window.h"

#include <commctrl.h>

#include "framework/Application.h"

namespace quillet::win {

HFONT DefaultFont() {
  static FontHandle font = MakeFont("MS Sans Serif", 11);
  return font.get();
}

FontHandle MakeFont(const char* face, int height, bool bold, bool underline, BYTE charset) {
  return FontHandle(CreateFontA(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE, charset,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face));
}

std::string Control::Text() const {
  const int length = GetWindowTextLengthA(hwnd_);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(hwnd_, text.data(), length + 1)));
  return text;
}

void Control::SetText(const std::string& text) { SetWindowTextA(hwnd_, text.c_str()); }

namespace {

constexpr UINT_PTR kControlSubclass = 1;

// Runs a window procedure of ours: an event handler's failure must not unwind through the
// system's code, so it is reported and the message gets its default handling.
template <typename Handle, typename Default>
LRESULT Guarded(const char* where, HWND hwnd, UINT msg, Handle handle, Default fallback) {
  try {
    return handle();
  } catch (...) {
    char className[64] = {};
    GetClassNameA(hwnd, className, sizeof className);
    char number[16];
    wsprintfA(number, "0x%04X", msg);
    Application::ReportFailure(std::string(where) + " (" + className + ", message " + number + ")",
                               ExceptionText(std::current_exception()));
    return fallback();
  }
}

}  // namespace

Control* Control::FromHandle(HWND hwnd) {
  // Only windows we attached to carry our subclass; foreign ones (tooltips, headers) do not.
  DWORD_PTR self = 0;
  if (!hwnd || !GetWindowSubclass(hwnd, &Control::SubclassProc, kControlSubclass, &self)) return nullptr;
  return reinterpret_cast<Control*>(self);
}

void Control::CreateChild(HWND parent, const char* className, const std::string& text, DWORD style, DWORD exStyle,
                          const Bounds& b, HFONT font) {
  static int nextId = 100;
  Detach();
  hwnd_ = CreateWindowOrReport(exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, b.left, b.top, b.width,
                               b.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(nextId++)));
  if (!hwnd_) return;
  SetWindowSubclass(hwnd_, &Control::SubclassProc, kControlSubclass, reinterpret_cast<DWORD_PTR>(this));
  if (font) SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void Control::Detach() {
  if (hwnd_) RemoveWindowSubclass(hwnd_, &Control::SubclassProc, kControlSubclass);
  hwnd_ = nullptr;
}

LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Control*>(data);
  const LRESULT result = Guarded(
      "Control", hwnd, msg, [&] { return self->ControlMessage(msg, wp, lp); },
      [&] { return DefSubclassProc(hwnd, msg, wp, lp); });
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &Control::SubclassProc, kControlSubclass);
    self->hwnd_ = nullptr;
  }
  return result;
}

Window::~Window() {
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void Window::RegisterClassOnce(const char* name, HBRUSH background, UINT style) {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof existing;
  HINSTANCE module = GetModuleHandleA(nullptr);
  if (GetClassInfoExA(module, name, &existing)) return;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = style;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = module;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  wc.hIcon = LoadIconA(module, "MAINICON");
  RegisterClassExA(&wc);
}

void Window::CreateWindowOf(const char* className, const std::string& text, DWORD style, DWORD exStyle, int x, int y,
                            int width, int height, HWND parent, HMENU menu) {
  CreateWindowOrReport(exStyle, className, text.c_str(), style, x, y, width, height, parent, menu, this);
}

LRESULT Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(hwnd_, msg, wp, lp); }

bool Window::RouteToControl(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND:
      if (Control* c = Control::FromHandle(reinterpret_cast<HWND>(lp))) {
        result = 0;
        return c->OnCommand(HIWORD(wp));
      }
      return false;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lp);
      if (Control* c = Control::FromHandle(header->hwndFrom)) return c->OnNotify(header, result);
      return false;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      if (item->CtlType == ODT_MENU) return false;
      if (Control* c = Control::FromHandle(item->hwndItem)) {
        result = TRUE;
        return c->OnDrawItem(item);
      }
      return false;
    }
    default: return false;
  }
}

LRESULT CALLBACK Window::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Window* self;
  if (msg == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
  const LRESULT result = Guarded(
      "Window", hwnd, msg, [&] { return self->HandleMessage(msg, wp, lp); },
      [&] { return DefWindowProcA(hwnd, msg, wp, lp); });
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

void PaintParentBackground(HWND child, HDC dc, int width, int height) {
  HWND parent = GetParent(child);
  if (!parent) return;
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, 0, 0, width, height);
  // The parent paints itself in its own coordinates; shift it so that our area lands here.
  POINT at{0, 0};
  MapWindowPoints(child, parent, &at, 1);
  OffsetViewportOrgEx(dc, -at.x, -at.y, nullptr);
  SendMessageA(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  SendMessageA(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  RestoreDC(dc, saved);
}

LRESULT PaintedWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: return 1;  // PaintWindow fills the background itself
    case WM_PAINT: {
      PaintGuard paint(hwnd_);
      RECT client;
      GetClientRect(hwnd_, &client);
      MemoryDcHandle mem(CreateCompatibleDC(paint.dc()));
      BitmapHandle buffer(CreateCompatibleBitmap(paint.dc(), client.right, client.bottom));
      if (mem && buffer) {
        SelectGuard select(mem.get(), buffer.get());
        PaintWindow(mem.get());
        BitBlt(paint.dc(), 0, 0, client.right, client.bottom, mem.get(), 0, 0, SRCCOPY);
      } else {
        PaintWindow(paint.dc());
      }
      return 0;
    }
    case WM_PRINTCLIENT: PaintWindow(reinterpret_cast<HDC>(wp)); return 0;
    default: return Window::HandleMessage(msg, wp, lp);
  }
}

void Form::CreateForm(const std::string& caption, int clientWidth, int clientHeight, DWORD style, HMENU menu,
                      HWND owner) {
  RegisterClassOnce(kClass, GetSysColorBrush(COLOR_BTNFACE));
  const DWORD fullStyle = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN | style;
  const DWORD exStyle = WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME;
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, fullStyle, menu != nullptr, exStyle);
  const int width = r.right - r.left, height = r.bottom - r.top;
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;
  CreateWindowOf(kClass, caption, fullStyle, exStyle, x, y, width, height, owner, menu);
  SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
  // A menu may wrap or the frame may differ from the estimate: correct the client size.
  RECT client;
  GetClientRect(hwnd_, &client);
  if (client.right != clientWidth || client.bottom != clientHeight) {
    RECT window;
    GetWindowRect(hwnd_, &window);
    SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left + clientWidth - client.right,
                 window.bottom - window.top + clientHeight - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
  }
}

void Form::Show() {
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

int Form::ShowModal() {
  Application& app = Application::Instance();
  modal_ = true;
  modalResult_ = 0;
  {
    // The form is still hidden here, so it is not among the windows disabled; they are
    // enabled again before it hides, so that activation returns to them.
    TaskWindowsDisabled others;
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    MSG msg;
    while (modalResult_ == 0 && IsWindowVisible(hwnd_)) {
      if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      app.Dispatch(msg);
    }
  }
  if (modalResult_ == 0) modalResult_ = static_cast<int>(ModalResult::Cancel);
  ShowWindow(hwnd_, SW_HIDE);
  modal_ = false;
  return modalResult_;
}

void Form::Close() {
  bool canClose = true;
  if (onCloseQuery) onCloseQuery(canClose);
  if (canClose) DoClose();
}

void Form::DoClose() {
  if (modal_) {
    // ShowModal hides the form once the other windows are enabled again, so that the
    // activation can return to its owner.
    if (modalResult_ == 0) modalResult_ = static_cast<int>(ModalResult::Cancel);
  } else if (Application::Instance().MainWindow() == hwnd_) {
    DestroyWindow(hwnd_);
  } else {
    ShowWindow(hwnd_, SW_HIDE);
  }
}

bool Form::RestoreFocus() {
  HWND target = focused_;
  if (!target || !IsChild(hwnd_, target) || !IsWindowVisible(target) || !IsWindowEnabled(target)) {
    target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    if (target && !(GetWindowLongA(target, GWL_STYLE) & WS_TABSTOP)) target = nullptr;
  }
  if (!target) return false;
  ::SetFocus(target);
  return true;
}

LRESULT Form::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  switch (msg) {
    case WM_SHOWWINDOW:
      // Shown anew, not uncovered along with its owner.
      if (wp && lp == 0) focused_ = nullptr;
      break;
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) focused_ = focus;
      } else if (!HIWORD(wp) && RestoreFocus()) {
        return 0;
      }
      break;
    case WM_SETFOCUS:
      if (RestoreFocus()) return 0;
      break;
    case WM_CLOSE: Close(); return 0;
    case WM_COMMAND:
      if (lp == 0 && HIWORD(wp) == 0) {
        OnMenuCommand(LOWORD(wp));
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (HCURSOR busy = Application::Instance().OverrideCursor()) {
        SetCursor(busy);
        return TRUE;
      }
      if (Control* c = Control::FromHandle(reinterpret_cast<HWND>(wp)); c && c->cursor && LOWORD(lp) == HTCLIENT) {
        SetCursor(c->cursor);
        return TRUE;
      }
      break;
    case WM_DESTROY:
      if (Application::Instance().MainWindow() == hwnd_) PostQuitMessage(0);
      break;
    default: break;
  }
  if (RouteToControl(msg, wp, lp, result)) return result;
  return Window::HandleMessage(msg, wp, lp);
}

}  // namespace quillet::win
