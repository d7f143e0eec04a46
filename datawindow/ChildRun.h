#pragma once
// A command of ours run as a child process without a window, its output (stdout and stderr
// together) taken line by line as it comes, never blocking the window's thread: the window
// asks for the lines now and then (a timer).
#include <windows.h>

#include <string>
#include <vector>

#include "framework/Handle.h"

namespace quillet::data {

class ChildRun {
 public:
  ChildRun() = default;
  // A child still running is ended: what it was importing is not stored (imports are all or
  // nothing), what it stored before stays.
  ~ChildRun() { Stop(); }
  ChildRun(const ChildRun&) = delete;
  ChildRun& operator=(const ChildRun&) = delete;

  // Runs the command line; false when it cannot be started.
  bool Start(const std::string& commandLine);
  bool Started() const { return static_cast<bool>(process_); }
  bool Running() const;
  // The whole lines written since the last call, without their ends; once the child has
  // ended, also a last line without an end.
  std::vector<std::string> TakeLines();
  // Once it has ended.
  DWORD ExitCode() const;
  // Ends the child now.
  void Stop();

 private:
  win::FileHandle process_;
  win::FileHandle output_;
  std::string pending_;
};

// Starts a command without a window and without waiting for it or its output (starting the
// service again as the window closes); false when it cannot be started.
bool RunDetached(const std::string& commandLine);

}  // namespace quillet::data
