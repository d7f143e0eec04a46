#include "tests/release/Process.h"

#include <winsock2.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "net/FetchPage.h"

namespace quillet::test {

std::wstring WideText(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8Text(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

Process::Process(const std::wstring& commandLine) {
  wchar_t folder[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"qo", 0, file);
  outputPath_ = file;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  std::wstring command = commandLine;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info_))
    info_ = {};
  CloseHandle(output);
}

Process::~Process() {
  if (!info_.hProcess) return;
  if (Running()) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
  DeleteFileW(outputPath_.c_str());
}

bool Process::Running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

Finished Process::Wait(DWORD timeoutMs) {
  Finished finished;
  if (!info_.hProcess) return finished;
  if (WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(info_.hProcess, &finished.exitCode);
  std::ifstream in(std::filesystem::path(outputPath_), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  finished.output = text.str();
  return finished;
}

Finished RunToEnd(const std::wstring& commandLine, DWORD timeoutMs) { return Process(commandLine).Wait(timeoutMs); }

int FreePort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  closesocket(s);
  WSACleanup();
  return port;
}

std::string FetchWhenUp(int port, const std::string& target, DWORD timeoutMs) {
  FetchLimits limits;
  limits.connectTimeoutMs = 2000;
  limits.overallDeadlineMs = 20000;
  const DWORD start = GetTickCount();
  for (;;) {
    std::string page = FetchPage("http://127.0.0.1:" + std::to_string(port) + target, limits);
    if (!page.empty() || GetTickCount() - start > timeoutMs) return page;
    Sleep(200);
  }
}

}  // namespace quillet::test
