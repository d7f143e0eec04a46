#include "services/program/BuildWindow.h"

#include <commctrl.h>

#include <cstdio>

#include "services/program/Platform.h"

namespace quillet::services {
namespace {

using platform::Handle;

constexpr wchar_t kClass[] = L"QuilletBuildWindow";
constexpr wchar_t kTitle[] = L"Quillet data service";
constexpr wchar_t kWhat[] =
    L"Building the demo research database for Quillet: made-up data to try it with, about 175 MB. "
    L"This happens once and takes a minute or two. The data service starts when it is done.";
constexpr int kWidth = 420, kMargin = 14, kTextHeight = 48, kBarHeight = 18, kLineHeight = 18;

// "pages N of M", the steps of the demo build.
bool ReadPagesLine(const std::string& line, long long* done, long long* total) {
  return std::sscanf(line.c_str(), "pages %lld of %lld", done, total) == 2 && *total > 0;
}

// The window: what is built, a progress bar and the build's last line. It owns its windows.
class BuildWindow {
 public:
  BuildWindow() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32650));  // IDC_APPSTARTING: busy, yet usable
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kClass;
    RegisterClassW(&windowClass);
    const int clientHeight = kMargin + kTextHeight + 8 + kBarHeight + 8 + kLineHeight + kMargin;
    RECT frame{0, 0, kWidth, clientHeight};
    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&frame, kStyle, FALSE);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    window_ =
        CreateWindowExW(0, kClass, kTitle, kStyle, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                        (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr, module, nullptr);
    if (!window_) return;
    const int inner = kWidth - 2 * kMargin;
    int top = kMargin;
    HWND text = CreateWindowExW(0, L"STATIC", kWhat, WS_CHILD | WS_VISIBLE, kMargin, top, inner, kTextHeight, window_,
                                nullptr, module, nullptr);
    top += kTextHeight + 8;
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, kMargin, top, inner, kBarHeight, window_,
                           nullptr, module, nullptr);
    top += kBarHeight + 8;
    line_ = CreateWindowExW(0, L"STATIC", L"Starting...", WS_CHILD | WS_VISIBLE, kMargin, top, inner, kLineHeight,
                            window_, nullptr, module, nullptr);
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    for (HWND control : {text, line_}) SendMessageW(control, WM_SETFONT, font, FALSE);
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
  }
  ~BuildWindow() {
    if (IsWindow(window_)) DestroyWindow(window_);
    UnregisterClassW(kClass, GetModuleHandleW(nullptr));
  }
  BuildWindow(const BuildWindow&) = delete;
  BuildWindow& operator=(const BuildWindow&) = delete;

  void Show(const std::string& line) {
    if (!IsWindow(window_)) return;
    wchar_t wide[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, wide, 255);
    SetWindowTextW(line_, wide);
    long long done = 0, total = 0;
    if (ReadPagesLine(line, &done, &total)) {
      SendMessageW(bar_, PBM_SETRANGE32, 0, 1000);
      // The pages are nine tenths of the work; the index written after them is the rest.
      SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(done * 900 / total), 0);
    }
  }

 private:
  HWND window_ = nullptr;
  HWND bar_ = nullptr;
  HWND line_ = nullptr;
};

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Splits what the build writes into lines, each written to the log and shown.
class LineSplitter {
 public:
  LineSplitter(HANDLE log, BuildWindow& window) : log_(log), window_(window) {}
  void Add(const char* bytes, DWORD size) {
    for (DWORD i = 0; i < size; ++i) {
      if (bytes[i] == '\n') {
        End();
      } else if (bytes[i] != '\r') {
        line_ += bytes[i];
      }
    }
  }
  void End() {
    if (line_.empty()) return;
    const std::string text = line_ + "\r\n";
    DWORD written = 0;
    WriteFile(log_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    window_.Show(line_);
    line_.clear();
  }

 private:
  HANDLE log_;
  BuildWindow& window_;
  std::string line_;
};

}  // namespace

DWORD RunShowingBuildWindow(const std::wstring& program, const std::wstring& arguments, HANDLE log) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 1;
  Handle reading(readEnd), writing(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info))
    return 1;
  Handle process(info.hProcess), thread(info.hThread);
  // Only the child writes now: the pipe reports its end once the child has ended.
  writing.reset();

  BuildWindow window;
  LineSplitter lines(log, window);
  char chunk[4096];
  for (bool ended = false; !ended;) {
    // Waits for output or a message, whichever comes first.
    DWORD available = 0;
    if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) {
      ended = true;  // broken pipe: the child has ended and everything it wrote was read
    } else if (available > 0) {
      DWORD read = 0;
      if (ReadFile(readEnd, chunk, sizeof chunk < available ? sizeof chunk : available, &read, nullptr))
        lines.Add(chunk, read);
    } else {
      MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, 100, QS_ALLINPUT);
    }
    Pump();
  }
  lines.End();
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

}  // namespace quillet::services
