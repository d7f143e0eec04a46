#pragma once
// Shared set-up of the Win32 tests of the program's windows: one application object per
// test process, the common controls, and small helpers to read real windows.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "framework/Application.h"

namespace quillet::test {

inline win::Application& TestApp() {
  static win::Application* app = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    return new win::Application(GetModuleHandleA(nullptr));
  }();
  return *app;
}

inline std::string WindowText(HWND hwnd) {
  char buffer[1024] = {};
  GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

inline std::string ClassOf(HWND hwnd) {
  char buffer[256] = {};
  GetClassNameA(hwnd, buffer, sizeof buffer);
  return buffer;
}

// The window's rectangle in its parent's client coordinates.
inline RECT RectInParent(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Pumps messages until pred() holds or the time runs out.
template <typename Pred>
bool PumpUntil(Pred pred, int timeoutMs = 10000) {
  const DWORD start = GetTickCount();
  while (!pred()) {
    if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return false;
    TestApp().ProcessMessages();
    Sleep(5);
  }
  return true;
}

}  // namespace quillet::test
