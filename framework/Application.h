#pragma once
// The application object: a hidden top-level application window (the task-bar entry, whose
// text is the application title), the message loop and its one-pass pump, the busy cursor,
// the collaborators that leave the process (the shell), injectable for tests, and the one
// place where failures that the user is never shown are reported.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace quillet::win {

// One shell request: ShellExecuteA(owner, verb, file, params, dir, show). Tests replace it
// with a recorder; the product uses the real call.
struct ShellRequest {
  HWND owner = nullptr;
  std::string verb;
  std::string file;
  std::string params;
  std::string directory;
  int show = SW_SHOWNORMAL;
  bool operator==(const ShellRequest&) const = default;
};
using ShellFunction = std::function<void(const ShellRequest&)>;

// A failure swallowed for the user: where it happened ("TForm1::BitBtn2Click") and what the
// exception or the system said. The product writes it with OutputDebugStringA; the tests
// make every report fail the test.
using FailureReport = std::function<void(const std::string& place, const std::string& error)>;

// What an exception says; "unknown exception" for one that is no std::exception.
std::string ExceptionText(std::exception_ptr error);

// CreateWindowExA; a failure is reported with the class name and the system's error.
HWND CreateWindowOrReport(DWORD exStyle, const char* className, const char* text, DWORD style, int x, int y, int width,
                          int height, HWND parent, HMENU menu, void* param = nullptr);

// The decimal separator of the user's locale, read afresh on each call.
char LocaleDecimalSeparator();

class Application {
 public:
  static constexpr const char* kWindowClass = "QuilletApplication";

  explicit Application(HINSTANCE instance);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The one instance of this process (set by the constructor).
  static Application& Instance();

  HINSTANCE Module() const { return instance_; }
  HWND Handle() const { return handle_; }

  std::string Title() const;
  void SetTitle(const std::string& title);

  // The window whose destruction ends Run(); also the owner of modal message boxes.
  HWND MainWindow() const { return mainWindow_; }
  void SetMainWindow(HWND hwnd) { mainWindow_ = hwnd; }

  // Handles every message pending now and returns without waiting. A WM_QUIT seen here is
  // put back for the outer loop.
  void ProcessMessages();
  // Runs the message loop until WM_QUIT.
  void Run();
  // Shared by Run, ProcessMessages and modal loops: keyboard navigation of the active
  // window, then translate and dispatch.
  void Dispatch(MSG& msg);

  // Busy cursor for every window of the application while non-null (Screen.Cursor).
  HCURSOR OverrideCursor() const { return overrideCursor_; }
  void SetOverrideCursor(HCURSOR cursor);

  // Whether Esc is held down, as of the last input message handled.
  static bool EscapeHeld() { return (GetKeyState(VK_ESCAPE) & 0x8000) != 0; }

  // A message box owned by the application window and modal to all its windows: every
  // enabled visible top-level window of this thread is disabled while it shows, and the
  // window that was active gets the activation back. Returns MessageBoxA's answer.
  int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags);

  void Shell(const ShellRequest& request) const { shell_(request); }
  void SetShell(ShellFunction shell) { shell_ = std::move(shell); }

  // Hands a failure to the hook of the application object, or to OutputDebugStringA while
  // there is none. Never throws.
  static void ReportFailure(const std::string& place, const std::string& error) noexcept;
  // An empty hook restores the default, OutputDebugStringA.
  void SetFailureReport(FailureReport report);

 private:
  static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);

  HINSTANCE instance_;
  HWND handle_ = nullptr;
  HWND mainWindow_ = nullptr;
  HCURSOR overrideCursor_ = nullptr;
  ShellFunction shell_;
  FailureReport failureReport_;
};

// Disables every enabled visible top-level window of this thread for its lifetime.
class TaskWindowsDisabled {
 public:
  TaskWindowsDisabled();
  ~TaskWindowsDisabled();
  TaskWindowsDisabled(const TaskWindowsDisabled&) = delete;
  TaskWindowsDisabled& operator=(const TaskWindowsDisabled&) = delete;

 private:
  std::vector<HWND> disabled_;
};

// Shows the hourglass for the lifetime of the object and then puts back what was shown.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  HCURSOR previous_;
};

}  // namespace quillet::win
