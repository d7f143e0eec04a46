#pragma once
// Shared set-up of the Win32 tests of the program's windows: one application object per
// test process, the common controls, and small helpers to read real windows.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Application.h"

namespace quillet::test {

// Under the tests every failure the program swallows for the user fails the test.
inline void FailTheTest(const std::string& place, const std::string& error) {
  ADD_FAILURE() << "failure reported at " << place << ": " << error;
}

inline win::Application& TestApp() {
  static win::Application* app = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    auto* created = new win::Application(GetModuleHandleA(nullptr));
    created->SetFailureReport(FailTheTest);
    return created;
  }();
  return *app;
}

// For a test that provokes failures: records the reports ("place: error") instead of
// failing, while it lives.
class RecordedReports {
 public:
  RecordedReports() {
    TestApp().SetFailureReport(
        [this](const std::string& place, const std::string& error) { reports.push_back(place + ": " + error); });
  }
  ~RecordedReports() { TestApp().SetFailureReport(FailTheTest); }
  RecordedReports(const RecordedReports&) = delete;
  RecordedReports& operator=(const RecordedReports&) = delete;

  std::vector<std::string> reports;
};

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

// What a list view itself shows, row by row, the first `columns` columns.
inline std::vector<std::vector<std::string>> ShownRows(HWND list, int columns) {
  std::vector<std::vector<std::string>> rows;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < count; ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < columns; ++c) {
      char text[1024] = {};
      LVITEMA item{};
      item.iSubItem = c;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessageA(list, LVM_GETITEMTEXTA, r, reinterpret_cast<LPARAM>(&item));
      row.push_back(text);
    }
    rows.push_back(row);
  }
  return rows;
}

// Real input, through the system's input queue as the mouse and the keyboard deliver it.
// The pointer moves to a screen point (a move event there) and clicks the left button.
inline void PointAt(POINT screen, bool click = false) {
  SetCursorPos(screen.x, screen.y);
  INPUT in[3]{};
  for (INPUT& i : in) i.type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_MOVE;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(click ? 3 : 1, in, sizeof(INPUT));
}
inline POINT CentreOf(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}
// Presses the keys in order and releases them in reverse: {VK_MENU, 'H'} is Alt+H.
inline void PressKeys(const std::vector<WORD>& chord) {
  std::vector<INPUT> in(chord.size() * 2);
  for (size_t i = 0; i < chord.size(); ++i) {
    INPUT& down = in[i];
    INPUT& up = in[in.size() - 1 - i];
    down.type = up.type = INPUT_KEYBOARD;
    down.ki.wVk = up.ki.wVk = chord[i];
    up.ki.dwFlags = KEYEVENTF_KEYUP;
  }
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
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
