#include "datawindow/ChildRun.h"

namespace quillet::data {
namespace {

// Room for a burst of lines between two looks; a child that writes more waits a moment.
constexpr DWORD kPipeBytes = 64 * 1024;

}  // namespace

bool ChildRun::Start(const std::string& commandLine) {
  Stop();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, kPipeBytes)) return false;
  win::FileHandle readEnd(read), writeEnd(write);
  // Only the child's end is inherited.
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = write;
  startup.hStdError = write;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info))
    return false;
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  output_ = std::move(readEnd);
  pending_.clear();
  return true;
}

bool ChildRun::Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

std::vector<std::string> ChildRun::TakeLines() {
  std::vector<std::string> lines;
  if (!output_) return lines;
  const bool ended = !Running();
  // After the child's end everything it wrote is in the pipe: read to the pipe's end.
  while (true) {
    DWORD available = 0;
    if (!PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) break;
    std::string chunk(available, '\0');
    DWORD read = 0;
    if (!ReadFile(output_.get(), chunk.data(), available, &read, nullptr) || read == 0) break;
    pending_.append(chunk, 0, read);
  }
  std::size_t from = 0;
  for (std::size_t end; (end = pending_.find('\n', from)) != std::string::npos; from = end + 1) {
    std::string line = pending_.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  pending_.erase(0, from);
  if (ended && !pending_.empty()) lines.push_back(std::exchange(pending_, {}));
  return lines;
}

DWORD ChildRun::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_.get(), &code);
  return code;
}

void ChildRun::Stop() {
  if (Running()) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 10000);
  }
}

bool RunDetached(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info))
    return false;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

}  // namespace quillet::data
