#pragma once
// What the service does differently on Linux and on Windows, in one place: how it reads its
// command line, where its database lives by default, and how a running server is told to
// stop by another process. Everything else is the same code on both.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillet::services::platform {

// The arguments as UTF-8 text, program name first. Windows hands a program its command line
// in UTF-16: read that way, file names with any letters reach OpenFile and SQLite intact.
std::vector<std::string> Arguments(int argc, char** argv);

#ifdef _WIN32
// UTF-8 to the UTF-16 that Windows' file functions take; empty for text that is not UTF-8.
std::wstring Wide(const std::string& utf8);

// Owns a Windows HANDLE (a void*), closed when it goes; null and INVALID_HANDLE_VALUE are
// both "none".
struct HandleCloser {
  void operator()(void* handle) const;
};
using Handle = std::unique_ptr<void, HandleCloser>;
#endif

// Once at start: a write past a file size limit fails instead of killing the process
// (POSIX); console output shows UTF-8 (Windows).
void PrepareProcess();

// Whether standard error is a terminal (a console window on Windows), where a progress line
// can be drawn over itself; a pipe or a log file gets one line per step instead.
bool ErrorIsTerminal();

// Linux: the current directory. Windows: %LOCALAPPDATA%\Quillet, created when missing; the
// installed service keeps its database and log there.
std::string DataFolder();
// Where --db points when it is not given.
std::string DefaultDatabase();

// True when another process has the file open, which on Windows means it cannot be
// replaced. Always false on Linux, where a file in use can be renamed over.
bool FileInUse(const std::string& path);

// While it lives, `quillet-services stop` run from the same program file calls onStop (on a
// thread of its own). Does nothing on Linux, where serve ends with Ctrl-C or a signal.
class StopRequests {
 public:
  explicit StopRequests(std::function<void()> onStop);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch_;
};

// Asks every server started from this program file to stop and waits until each has ended
// (ending it after 10 s). Returns how many there were, or -1 where there is no such request
// (Linux).
int StopServers();
// How many servers started from this program file are running, or -1 where that cannot be
// told (Linux).
int RunningServers();
// Starts the data service as the log-on entry does (quillet-services-start beside this
// program, without a window) and does not wait for it; false when it cannot be run, or
// where there is no such starter (Linux).
bool StartDataService();

// Bytes free for this user on the disk that holds the file (or would hold it), -1 when
// that cannot be told.
std::int64_t FreeBytes(const std::string& path);

}  // namespace quillet::services::platform
