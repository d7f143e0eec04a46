#pragma once
// The application object: a hidden top-level application window (the task-bar entry, whose
// text is the application title), the message loop and its one-pass pump, the busy cursor,
// and the collaborators that leave the process (the shell), injectable for tests.
#include <windows.h>

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

 private:
  static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);

  HINSTANCE instance_;
  HWND handle_ = nullptr;
  HWND mainWindow_ = nullptr;
  HCURSOR overrideCursor_ = nullptr;
  ShellFunction shell_;
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
