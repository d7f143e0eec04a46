#pragma once
// Drives a running quillet.exe from another process, through its real windows: finds them,
// types, clicks, and reads status and list texts across the process boundary (buffers in the
// target process via VirtualAllocEx).
#include <windows.h>

#include <string>
#include <vector>

namespace quillet::test {

class Driver {
 public:
  // Starts the program with extra environment variables ("NAME=value").
  bool Launch(const std::string& exe, const std::vector<std::string>& environment);
  ~Driver();
  Driver() = default;
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Attaches to an already running copy (any process): waits for its main window.
  bool Attach(int timeoutMs = 20000);
  // Waits for the main window of the launched process.
  bool WaitForMainWindow(int timeoutMs = 20000);
  HWND MainWindow() const { return main_; }
  HANDLE Process() const { return process_.hProcess; }
  DWORD ProcessId() const { return process_.dwProcessId; }

  // The n-th descendant window (0-based, creation order) of a class, optionally with a text.
  HWND Find(const std::string& cls, const std::string& text = "", int nth = 0) const;

  void SetText(HWND hwnd, const std::string& text) const;
  void Click(HWND button) const;
  std::string StatusText() const;
  // Waits until the status bar shows text.
  bool WaitForStatus(const std::string& text, int timeoutMs = 60000) const;

  int RowCount(HWND list) const;
  std::string CellText(HWND list, int row, int column) const;
  std::vector<std::vector<std::string>> Rows(HWND list, int columns) const;
  bool Checked(HWND list, int row) const;
  void SetChecked(HWND list, int row, bool checked) const;

  // Asks the program to close and waits for it to end; returns its exit code.
  DWORD CloseAndWait(int timeoutMs = 20000);

 private:
  // A buffer in the target process, freed on destruction.
  class RemoteBuffer {
   public:
    RemoteBuffer(HANDLE process, size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    void* Address() const { return address_; }
    bool Write(const void* data, size_t size, size_t offset = 0) const;
    bool Read(void* data, size_t size, size_t offset = 0) const;

   private:
    HANDLE process_;
    void* address_;
  };

  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
};

// Every top-level main window ("QuilletForm" with the title "Quillet") on the desktop.
std::vector<HWND> QuilletMainWindows();

}  // namespace quillet::test
