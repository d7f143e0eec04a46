#include "tests/release/ForeignWindow.h"

#include <commctrl.h>

#include <cstring>

namespace quillet::test {
namespace {

// Memory in the process that owns a window, for the messages whose arguments are pointers.
class RemoteMemory {
 public:
  RemoteMemory(HWND window, size_t size) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id);
    if (process_) address_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
  }
  ~RemoteMemory() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  char* At(size_t offset) const { return address_ + offset; }
  bool Write(const void* data, size_t size, size_t offset = 0) const {
    return address_ && WriteProcessMemory(process_, address_ + offset, data, size, nullptr);
  }
  bool Read(void* data, size_t size, size_t offset = 0) const {
    return address_ && ReadProcessMemory(process_, address_ + offset, data, size, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  char* address_ = nullptr;
};

constexpr size_t kTextChars = 1024;
constexpr size_t kTextOffset = 256;  // the item structure comes first

struct Found {
  std::wstring cls, title;
  int id;
  HWND window = nullptr;
};

BOOL CALLBACK MatchTop(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<Found*>(data);
  wchar_t cls[256] = {};
  GetClassNameW(window, cls, 256);
  std::wstring title = TextOf(window);
  title.erase(title.find_last_not_of(L' ') + 1);  // NSIS ends its captions with a blank
  if (IsWindowVisible(window) && found->cls == cls && title == found->title) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK MatchChild(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<Found*>(data);
  wchar_t cls[256] = {};
  GetClassNameW(window, cls, 256);
  if (lstrcmpiW(cls, found->cls.c_str()) == 0 && (found->id < 0 || GetDlgCtrlID(window) == found->id)) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectText(HWND window, LPARAM data) {
  if (IsWindowVisible(window)) reinterpret_cast<std::vector<std::wstring>*>(data)->push_back(TextOf(window));
  return TRUE;
}

std::wstring ReadText(const RemoteMemory& memory) {
  std::wstring text(kTextChars, L'\0');
  memory.Read(text.data(), kTextChars * sizeof(wchar_t), kTextOffset);
  text.resize(wcsnlen(text.c_str(), kTextChars));
  return text;
}

void Send(const std::vector<INPUT>& inputs) {
  std::vector<INPUT> copy(inputs);
  SendInput(static_cast<UINT>(copy.size()), copy.data(), sizeof(INPUT));
  Sleep(50);
}

}  // namespace

bool WaitFor(DWORD timeoutMs, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(100);
  }
  return true;
}

HWND WaitForTopWindow(const std::wstring& cls, const std::wstring& title, DWORD timeoutMs) {
  Found found{cls, title, -1};
  WaitFor(timeoutMs, [&] {
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&found));
    return found.window != nullptr;
  });
  return found.window;
}

HWND FindDescendant(HWND parent, const std::wstring& cls, int id) {
  Found found{cls, L"", id};
  EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&found));
  return found.window;
}

std::wstring TextOf(HWND window) {
  wchar_t text[4096] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
  return text;
}

std::vector<std::wstring> DescendantTexts(HWND parent) {
  std::vector<std::wstring> texts;
  EnumChildWindows(parent, CollectText, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

std::vector<std::wstring> ListViewItems(HWND list) {
  std::vector<std::wstring> items;
  RemoteMemory memory(list, kTextOffset + kTextChars * sizeof(wchar_t));
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = reinterpret_cast<wchar_t*>(memory.At(kTextOffset));
    item.cchTextMax = kTextChars;
    if (!memory.Write(&item, sizeof item)) break;
    SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(memory.At(0)));
    items.push_back(ReadText(memory));
  }
  return items;
}

std::vector<std::wstring> TreeViewItems(HWND tree) {
  std::vector<std::wstring> items;
  RemoteMemory memory(tree, kTextOffset + kTextChars * sizeof(wchar_t));
  std::vector<HTREEITEM> pending;
  for (auto at = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); at;) {
    TVITEMW item{};
    item.mask = TVIF_TEXT | TVIF_HANDLE;
    item.hItem = at;
    item.pszText = reinterpret_cast<wchar_t*>(memory.At(kTextOffset));
    item.cchTextMax = kTextChars;
    if (!memory.Write(&item, sizeof item)) break;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory.At(0)));
    items.push_back(ReadText(memory));
    const auto child = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(at)));
    const auto next = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(at)));
    if (next) pending.push_back(next);
    if (child) {
      at = child;
    } else if (!pending.empty()) {
      at = pending.back();
      pending.pop_back();
    } else {
      at = nullptr;
    }
  }
  return items;
}

RECT TreeItemOnScreen(HWND tree, int index) {
  RECT rect{};
  auto at = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  for (int i = 0; i < index && at; ++i)
    at = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, LPARAM(at)));
  if (!at) return rect;
  // TVM_GETITEMRECT reads the item from the rectangle it is given and writes the rectangle.
  RemoteMemory memory(tree, sizeof(RECT));
  std::memcpy(&rect, &at, sizeof at);
  memory.Write(&rect, sizeof rect);
  SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(memory.At(0)));
  memory.Read(&rect, sizeof rect);
  MapWindowPoints(tree, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool BringToFront(HWND window) {
  SetForegroundWindow(window);
  return WaitFor(5000, [&] { return GetForegroundWindow() == window; });
}

void PressKeys(const std::vector<std::vector<WORD>>& chords) {
  for (const std::vector<WORD>& chord : chords) {
    std::vector<INPUT> inputs;
    for (WORD key : chord) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = key;
      inputs.push_back(input);
    }
    for (auto key = chord.rbegin(); key != chord.rend(); ++key) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = *key;
      input.ki.dwFlags = KEYEVENTF_KEYUP;
      inputs.push_back(input);
    }
    Send(inputs);
  }
}

void ClickAt(POINT screen) {
  SetCursorPos(screen.x, screen.y);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  Send({inputs[0], inputs[1]});
}

}  // namespace quillet::test
