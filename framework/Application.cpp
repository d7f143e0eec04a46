#include "framework/Application.h"

#include <shellapi.h>

namespace quillet::win {
namespace {

Application* gInstance = nullptr;

void RealShell(const ShellRequest& r) {
  ShellExecuteA(r.owner, r.verb.c_str(), r.file.c_str(), r.params.empty() ? nullptr : r.params.c_str(),
                r.directory.empty() ? nullptr : r.directory.c_str(), r.show);
}

void DebugOutput(const std::string& place, const std::string& error) {
  OutputDebugStringA(("Quillet: " + place + ": " + error + "\n").c_str());
}

}  // namespace

std::string ExceptionText(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "unknown exception";
}

HWND CreateWindowOrReport(DWORD exStyle, const char* className, const char* text, DWORD style, int x, int y, int width,
                          int height, HWND parent, HMENU menu, void* param) {
  HWND hwnd = CreateWindowExA(exStyle, className, text, style, x, y, width, height, parent, menu,
                              GetModuleHandleA(nullptr), param);
  if (!hwnd) {
    const DWORD code = GetLastError();
    char message[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message,
                   sizeof message, nullptr);
    std::string error = "error " + std::to_string(code) + " " + message;
    while (!error.empty() && (error.back() == '\n' || error.back() == '\r' || error.back() == ' ')) error.pop_back();
    Application::ReportFailure(std::string("CreateWindowExA ") + className, error);
  }
  return hwnd;
}

char LocaleDecimalSeparator() {
  char buffer[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer) > 1) return buffer[0];
  return '.';
}

Application::Application(HINSTANCE instance) : instance_(instance), shell_(RealShell) {
  gInstance = this;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "MAINICON");
  wc.lpszClassName = kWindowClass;
  RegisterClassExA(&wc);
  // Hidden, but a real top-level window with a caption: it carries the title that the
  // single-instance test looks for.
  handle_ = CreateWindowOrReport(0, kWindowClass, "", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0,
                                 nullptr, nullptr);
}

Application::~Application() {
  if (handle_) DestroyWindow(handle_);
  if (gInstance == this) gInstance = nullptr;
}

Application& Application::Instance() { return *gInstance; }

std::string Application::Title() const {
  char buffer[256] = {};
  GetWindowTextA(handle_, buffer, sizeof buffer);
  return buffer;
}

void Application::SetTitle(const std::string& title) { SetWindowTextA(handle_, title.c_str()); }

void Application::ReportFailure(const std::string& place, const std::string& error) noexcept {
  try {
    if (gInstance && gInstance->failureReport_) gInstance->failureReport_(place, error);
    else DebugOutput(place, error);
  } catch (...) {
    // Reporting must not become a failure of its own.
  }
}

void Application::SetFailureReport(FailureReport report) { failureReport_ = std::move(report); }

void Application::Dispatch(MSG& msg) {
  HWND active = GetActiveWindow();
  if (active && IsDialogMessageA(active, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void Application::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

void Application::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
}

void Application::SetOverrideCursor(HCURSOR cursor) {
  overrideCursor_ = cursor;
  SetCursor(cursor ? cursor : LoadCursor(nullptr, IDC_ARROW));
}

LRESULT CALLBACK Application::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(hwnd, msg, wp, lp);
}

int Application::ShowMessageBox(const std::string& text, const std::string& caption, UINT flags) {
  HWND active = GetActiveWindow();
  int answer;
  {
    TaskWindowsDisabled modal;
    answer = MessageBoxA(handle_, text.c_str(), caption.c_str(), flags);
  }
  if (active && IsWindow(active)) SetActiveWindow(active);
  return answer;
}

namespace {

BOOL CALLBACK CollectEnabledWindow(HWND w, LPARAM p) {
  try {
    if (IsWindowVisible(w) && IsWindowEnabled(w)) reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
    return TRUE;
  } catch (...) {
    Application::ReportFailure("TaskWindowsDisabled", ExceptionText(std::current_exception()));
    return FALSE;  // out of memory: the windows collected so far are disabled
  }
}

}  // namespace

TaskWindowsDisabled::TaskWindowsDisabled() {
  disabled_.reserve(16);
  EnumThreadWindows(GetCurrentThreadId(), &CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled_));
  for (HWND w : disabled_) EnableWindow(w, FALSE);
}

TaskWindowsDisabled::~TaskWindowsDisabled() {
  for (HWND w : disabled_)
    if (IsWindow(w)) EnableWindow(w, TRUE);
}

BusyCursor::BusyCursor() : previous_(Application::Instance().OverrideCursor()) {
  Application::Instance().SetOverrideCursor(LoadCursor(nullptr, IDC_WAIT));
}

BusyCursor::~BusyCursor() { Application::Instance().SetOverrideCursor(previous_); }

}  // namespace quillet::win
