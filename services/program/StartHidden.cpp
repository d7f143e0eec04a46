// quillet-services-start: the data service's log-on entry on Windows. Runs quillet-services.exe
// from its own folder without a console window, serving the research database of the data
// folder, with all its output appended to quillet-services.log there. When the database is
// missing, builds the demo data set first, in view of a small window (the zip copy's first
// start; demo never replaces a database that holds imports). Returns once the server is
// running (exit code 0) or has failed to start (1); what went wrong is in the log.
//   quillet-services-start.exe [/logon]
// /logon (the log-on entry): a database that "Restore demo data" kept aside is removed first;
// it was kept until the next log-on for the user to take back.
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "services/program/BuildWindow.h"
#include "services/program/Demo.h"
#include "services/program/Platform.h"

namespace {

using quillet::services::platform::Handle;
using quillet::services::platform::Wide;

// A log that outgrows this is started afresh: the service writes little, so only a service
// that fails at every log-on gets there.
constexpr LONGLONG kLogLimit = 1 << 20;
// How long a server is watched before it counts as started (it exits at once when it cannot
// open the database or the port).
constexpr DWORD kStartWatchMs = 3000;

Handle OpenLog(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  Handle log(
      CreateFileW(path.c_str(), FILE_APPEND_DATA, kShare, &inherit, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (log.get() != INVALID_HANDLE_VALUE && GetFileSizeEx(log.get(), &size) && size.QuadPart > kLogLimit)
    log.reset(
        CreateFileW(path.c_str(), FILE_APPEND_DATA, kShare, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return log;
}

void Note(HANDLE log, const std::string& text) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  std::string line = std::string(stamp) + " quillet-services-start: " + text + "\r\n";
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Starts the service program with its output going to the log; no window of any kind.
Handle Run(const std::wstring& program, const std::wstring& arguments, HANDLE log) {
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = log;
  startup.hStdError = log;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info))
    return nullptr;
  CloseHandle(info.hThread);
  return Handle(info.hProcess);
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
  std::wstring file(path, n);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

// The database kept from before the demo data, with its log, when there is one.
void RemoveKept(const std::string& database, HANDLE log) {
  const std::string kept = quillet::services::KeptBeforeDemo(database);
  if (GetFileAttributesW(Wide(kept).c_str()) == INVALID_FILE_ATTRIBUTES) return;
  for (const char* suffix : {"", "-wal", "-shm"}) DeleteFileW(Wide(kept + suffix).c_str());
  Note(log, "removed " + kept + ", kept from before the demo data until this log-on");
}

int Start(bool logon) {
  std::string folder = quillet::services::platform::DataFolder();
  std::wstring database = Wide(quillet::services::platform::DefaultDatabase());
  std::wstring program = ProgramFolder() + L"quillet-services.exe";
  // Two log-ons at once (or the installer and a log-on) must not build the demo twice.
  Handle once(CreateMutexW(nullptr, FALSE, L"Local\\QuilletServicesStart"));
  if (once) WaitForSingleObject(once.get(), INFINITE);
  Handle log = OpenLog(Wide(folder + "\\quillet-services.log"));
  if (log.get() == INVALID_HANDLE_VALUE) return 1;
  std::wstring quotedDatabase = L"\"" + database + L"\"";
  if (logon) RemoveKept(quillet::services::platform::DefaultDatabase(), log.get());

  int status = 0;
  if (GetFileAttributesW(database.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Note(log.get(), "no research database yet: building the demo data set");
    const DWORD code = quillet::services::RunShowingBuildWindow(program, L"demo --db " + quotedDatabase, log.get());
    if (code != 0) {
      Note(log.get(), "the demo data set could not be built: the data service is not started");
      status = 1;
    }
  }
  if (status == 0) {
    Note(log.get(), "starting the data service");
    Handle server = Run(program, L"serve --db " + quotedDatabase, log.get());
    DWORD code = 0;
    if (!server) {
      Note(log.get(), "cannot run quillet-services.exe (error " + std::to_string(GetLastError()) + ")");
      status = 1;
    } else if (WaitForSingleObject(server.get(), kStartWatchMs) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(server.get(), &code)) {
      Note(log.get(), "the data service ended at once (exit code " + std::to_string(code) + ")");
      status = 1;
    }
  }
  if (once) ReleaseMutex(once.get());
  return status;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  return Start(std::string(commandLine).find("/logon") != std::string::npos);
}
