#include "services/program/Platform.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <thread>
#else
#include <unistd.h>

#include <csignal>
#include <filesystem>
#endif

#include "services/text/Utf8.h"

namespace quillet::services::platform {

#ifdef _WIN32

namespace {

// Waited for by `stop` before it ends a server the hard way.
constexpr DWORD kStopWaitMs = 10000;

std::string Utf8(const std::wstring& text) { return Utf8FromUtf16(std::u16string(text.begin(), text.end())); }

// Each server listens for its own request, so that `stop` reaches only the servers of its
// program file and can wait for exactly those processes.
std::wstring StopEventName(DWORD processId) { return L"Local\\QuilletServicesStop." + std::to_wstring(processId); }

std::wstring ProgramFile(HANDLE process) {
  wchar_t path[MAX_PATH * 2];
  DWORD size = sizeof path / sizeof path[0];
  return QueryFullProcessImageNameW(process, 0, path, &size) ? std::wstring(path, size) : std::wstring();
}

}  // namespace

void HandleCloser::operator()(void* handle) const {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

std::wstring Wide(const std::string& utf8) {
  int size = static_cast<int>(utf8.size());
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(), n);
  return out;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> out;
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) out.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return out;
  }
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareProcess() { SetConsoleOutputCP(CP_UTF8); }

bool ErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string DataFolder() {
  wchar_t base[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK)
    return ".";
  std::wstring folder = std::wstring(base) + L"\\Quillet";
  CreateDirectoryW(folder.c_str(), nullptr);
  return Utf8(folder);
}

std::string DefaultDatabase() { return DataFolder() + "\\research.db"; }

bool FileInUse(const std::string& path) {
  // SQLite opens its files shared; an open that shares nothing fails while anyone has it.
  Handle file(CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.get() == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

struct StopRequests::Watch {
  Handle request;
  Handle quit;
  std::thread thread;
};

StopRequests::StopRequests(std::function<void()> onStop) : watch_(std::make_unique<Watch>()) {
  watch_->request.reset(CreateEventW(nullptr, TRUE, FALSE, StopEventName(GetCurrentProcessId()).c_str()));
  watch_->quit.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!watch_->request || !watch_->quit) return;
  watch_->thread = std::thread([watch = watch_.get(), onStop = std::move(onStop)] {
    HANDLE events[] = {watch->request.get(), watch->quit.get()};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) onStop();
  });
}

StopRequests::~StopRequests() {
  if (!watch_->thread.joinable()) return;
  SetEvent(watch_->quit.get());
  watch_->thread.join();
}

namespace {

struct Server {
  Handle process;
  Handle request;  // its stop request
};

// The servers started from this program file: processes of it that listen for a stop request.
// Imports and demo builds have no request to answer: they are not among them.
std::vector<Server> Servers() {
  std::wstring self = ProgramFile(GetCurrentProcess());
  std::wstring selfName = self.substr(self.find_last_of(L'\\') + 1);
  std::vector<DWORD> candidates;
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != GetCurrentProcessId() && lstrcmpiW(entry.szExeFile, selfName.c_str()) == 0)
      candidates.push_back(entry.th32ProcessID);
  }
  std::vector<Server> servers;
  for (DWORD id : candidates) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
    if (!process || lstrcmpiW(ProgramFile(process.get()).c_str(), self.c_str()) != 0) continue;
    Handle request(OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName(id).c_str()));
    if (request) servers.push_back({std::move(process), std::move(request)});
  }
  return servers;
}

}  // namespace

int RunningServers() { return static_cast<int>(Servers().size()); }

bool StartDataService() {
  const std::wstring self = ProgramFile(GetCurrentProcess());
  std::wstring starter = self.substr(0, self.find_last_of(L'\\') + 1) + L"quillet-services-start.exe";
  std::wstring command = L"\"" + starter + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(starter.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info))
    return false;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

std::int64_t FreeBytes(const std::string& path) {
  std::wstring folder = Wide(path);
  folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<std::int64_t>(available.QuadPart);
}

int StopServers() {
  int stopped = 0;
  for (Server& server : Servers()) {
    const Handle& process = server.process;
    SetEvent(server.request.get());
    if (WaitForSingleObject(process.get(), kStopWaitMs) != WAIT_OBJECT_0) {
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), kStopWaitMs);
    }
    ++stopped;
  }
  return stopped;
}

#else

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void PrepareProcess() {
#ifdef SIGXFSZ
  // Past a file size limit a write should fail (and the import roll back), not kill us.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::string DataFolder() { return "."; }

std::string DefaultDatabase() { return "quillet-services.db"; }

bool FileInUse(const std::string&) { return false; }

struct StopRequests::Watch {};

StopRequests::StopRequests(std::function<void()>) {}

StopRequests::~StopRequests() = default;

int StopServers() { return -1; }

int RunningServers() { return -1; }

bool StartDataService() { return false; }

std::int64_t FreeBytes(const std::string& path) {
  std::error_code failed;
  std::filesystem::path folder = std::filesystem::absolute(path, failed).parent_path();
  std::filesystem::space_info space = std::filesystem::space(folder, failed);
  return failed ? -1 : static_cast<std::int64_t>(space.available);
}

#endif

}  // namespace quillet::services::platform
