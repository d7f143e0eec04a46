#pragma once
// The windows of another process (the installer, the help viewer, the hidden starter's
// window) read and driven as a user meets them: texts through messages that the system
// carries across processes, list and tree items through a buffer in the other process, and
// real keyboard and mouse input.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace quillet::test {

// Polls done every 100 ms until it holds or timeoutMs has passed.
bool WaitFor(DWORD timeoutMs, const std::function<bool()>& done);

// A visible top-level window of the class with the title (blanks at its end aside), once one
// shows; null after timeoutMs.
HWND WaitForTopWindow(const std::wstring& cls, const std::wstring& title, DWORD timeoutMs);
// The first descendant of a class (and with the control id, unless -1), or null.
HWND FindDescendant(HWND parent, const std::wstring& cls, int id = -1);
// The window's text, read with WM_GETTEXT (GetWindowText reads no control of another process).
std::wstring TextOf(HWND window);
// The texts of every visible descendant, in creation order.
std::vector<std::wstring> DescendantTexts(HWND parent);

// The first column of every item of a list view, and every item of a tree view (depth first),
// of any process.
std::vector<std::wstring> ListViewItems(HWND list);
std::vector<std::wstring> TreeViewItems(HWND tree);
// A tree item's label rectangle on the screen (empty when there is no such item).
RECT TreeItemOnScreen(HWND tree, int index);

// Makes the window the foreground window, which gets the keyboard's input.
bool BringToFront(HWND window);
// Presses each chord (keys down in order, then up in reverse), as the keyboard would.
void PressKeys(const std::vector<std::vector<WORD>>& chords);
// A left click at a point of the screen.
void ClickAt(POINT screen);

}  // namespace quillet::test
