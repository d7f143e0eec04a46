#include "tests/e2e/Driver.h"

#include <commctrl.h>

namespace quillet::test {
namespace {

constexpr const char* kFormClass = "QuilletForm";

struct Search {
  std::string cls, text;
  int nth;
  HWND found = nullptr;
};

BOOL CALLBACK FindChild(HWND hwnd, LPARAM p) {
  auto* s = reinterpret_cast<Search*>(p);
  char cls[256] = {}, text[512] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (lstrcmpiA(cls, s->cls.c_str()) != 0) return TRUE;
  if (!s->text.empty()) {
    GetWindowTextA(hwnd, text, sizeof text);
    if (s->text != text) return TRUE;
  }
  if (s->nth-- > 0) return TRUE;
  s->found = hwnd;
  return FALSE;
}

BOOL CALLBACK CollectMain(HWND hwnd, LPARAM p) {
  char cls[256] = {}, text[256] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  GetWindowTextA(hwnd, text, sizeof text);
  if (lstrcmpA(cls, kFormClass) == 0 && lstrcmpA(text, "Quillet") == 0)
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(hwnd);
  return TRUE;
}

}  // namespace

std::vector<HWND> QuilletMainWindows() {
  std::vector<HWND> out;
  EnumWindows(CollectMain, reinterpret_cast<LPARAM>(&out));
  return out;
}

Driver::RemoteBuffer::RemoteBuffer(HANDLE process, size_t size)
    : process_(process), address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
Driver::RemoteBuffer::~RemoteBuffer() {
  if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}
bool Driver::RemoteBuffer::Write(const void* data, size_t size, size_t offset) const {
  return WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, nullptr) != FALSE;
}
bool Driver::RemoteBuffer::Read(void* data, size_t size, size_t offset) const {
  return ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, nullptr) != FALSE;
}

bool Driver::Launch(const std::string& exe, const std::vector<std::string>& environment) {
  for (const std::string& entry : environment) {
    const size_t eq = entry.find('=');
    SetEnvironmentVariableA(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str());
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string command = "\"" + exe + "\"";
  return CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process_) !=
         FALSE;
}

Driver::~Driver() {
  if (process_.hThread) {  // launched by us: do not leave it behind
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
  }
  if (process_.hProcess) CloseHandle(process_.hProcess);
}

bool Driver::WaitForMainWindow(int timeoutMs) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < static_cast<DWORD>(timeoutMs)) {
    for (HWND hwnd : QuilletMainWindows()) {
      DWORD pid = 0;
      GetWindowThreadProcessId(hwnd, &pid);
      if (pid == process_.dwProcessId && IsWindowVisible(hwnd)) {
        main_ = hwnd;
        return true;
      }
    }
    if (WaitForSingleObject(process_.hProcess, 50) == WAIT_OBJECT_0) return false;
  }
  return false;
}

bool Driver::Attach(int timeoutMs) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < static_cast<DWORD>(timeoutMs)) {
    const std::vector<HWND> windows = QuilletMainWindows();
    if (!windows.empty()) {
      main_ = windows.front();
      GetWindowThreadProcessId(main_, &process_.dwProcessId);
      process_.hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_.dwProcessId);
      return process_.hProcess != nullptr;
    }
    Sleep(100);
  }
  return false;
}

HWND Driver::Find(const std::string& cls, const std::string& text, int nth) const {
  Search s{cls, text, nth};
  EnumChildWindows(main_, FindChild, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

void Driver::SetText(HWND hwnd, const std::string& text) const {
  SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Driver::Click(HWND button) const { PostMessageA(button, BM_CLICK, 0, 0); }

std::string Driver::StatusText() const {
  HWND bar = Find(STATUSCLASSNAMEA);
  RemoteBuffer buffer(process_.hProcess, 1024);
  // Windows answers the simple text for SB_SIMPLEID; Wine only for part 0 in simple mode.
  for (WPARAM part : {WPARAM{SB_SIMPLEID}, WPARAM{0}}) {
    char text[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(buffer.Address()), SMTO_BLOCK, 2000,
                             &length) ||
        LOWORD(length) == 0)
      continue;
    buffer.Read(text, sizeof text - 1);
    return text;
  }
  return {};
}

bool Driver::WaitForStatus(const std::string& text, int timeoutMs) const {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < static_cast<DWORD>(timeoutMs)) {
    if (StatusText() == text) return true;
    Sleep(50);
  }
  return false;
}

int Driver::RowCount(HWND list) const { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string Driver::CellText(HWND list, int row, int column) const {
  constexpr size_t kText = 1024;
  RemoteBuffer buffer(process_.hProcess, sizeof(LVITEMA) + kText);
  LVITEMA item{};
  item.iSubItem = column;
  item.cchTextMax = kText;
  item.pszText = static_cast<char*>(buffer.Address()) + sizeof(LVITEMA);
  buffer.Write(&item, sizeof item);
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(buffer.Address()));
  char text[kText] = {};
  buffer.Read(text, kText - 1, sizeof(LVITEMA));
  return text;
}

std::vector<std::vector<std::string>> Driver::Rows(HWND list, int columns) const {
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < RowCount(list); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < columns; ++c) row.push_back(CellText(list, r, c));
    rows.push_back(row);
  }
  return rows;
}

bool Driver::Checked(HWND list, int row) const {
  return ((SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void Driver::SetChecked(HWND list, int row, bool checked) const {
  RemoteBuffer buffer(process_.hProcess, sizeof(LVITEMA));
  LVITEMA item{};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  buffer.Write(&item, sizeof item);
  SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(buffer.Address()));
}

DWORD Driver::CloseAndWait(int timeoutMs) {
  if (main_) PostMessageA(main_, WM_CLOSE, 0, 0);
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0)
    GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

}  // namespace quillet::test
