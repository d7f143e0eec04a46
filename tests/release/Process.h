#pragma once
// Running the release's programs from a test, as Windows runs them: by a UTF-16 command line,
// with their output captured through a file.
#include <windows.h>

#include <string>

namespace quillet::test {

std::wstring WideText(const std::string& utf8);
std::string Utf8Text(const std::wstring& wide);
// Quoted for a command line (paths here never hold a double quote).
std::wstring Quoted(const std::wstring& text);

struct Finished {
  DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE: did not end within the time given
  std::string output;             // stdout and stderr together
};

// A process started by its whole command line, without a window. Ended when its owner is
// destroyed, unless it has ended by then.
class Process {
 public:
  explicit Process(const std::wstring& commandLine);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return info_.hProcess != nullptr; }
  // Waits for the end; exitCode stays STILL_ACTIVE past the time.
  Finished Wait(DWORD timeoutMs);
  bool Running() const;

 private:
  std::wstring outputPath_;
  PROCESS_INFORMATION info_{};
};

// Runs a command line to its end (at most timeoutMs).
Finished RunToEnd(const std::wstring& commandLine, DWORD timeoutMs = 120000);

// A loopback port nobody listens on right now.
int FreePort();
// Fetches http://127.0.0.1:port/target until it answers (or timeoutMs has passed).
std::string FetchWhenUp(int port, const std::string& target, DWORD timeoutMs);

}  // namespace quillet::test
