#pragma once
// Thin wrappers over the standard controls: one small class each, created from a parent,
// bounds and text, events as std::function members.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/Window.h"

namespace quillet::win {

class Button : public Control {
 public:
  std::function<void()> onClick;
  void Create(HWND parent, const std::string& caption, const Bounds& b, DWORD style = 0);
  // What a user's click does.
  void Click() {
    if (onClick) onClick();
  }
  bool OnCommand(int code) override;
};

// A push button drawn by us: a 16x16 glyph left of the caption, 3 pixels apart, the pair
// centred. The glyph's bottom-left pixel colour is transparent.
class GlyphButton : public Button {
 public:
  void Create(HWND parent, const std::string& caption, const Bounds& b, HBITMAP glyph);
  bool OnDrawItem(DRAWITEMSTRUCT* item) override;

 private:
  HBITMAP glyph_ = nullptr;
};

// A radio button of a group (the first of a group carries WS_GROUP in style); checked ones
// uncheck the others of their group.
class RadioButton : public Button {
 public:
  void Create(HWND parent, const std::string& caption, const Bounds& b, DWORD style = 0);
  bool Checked() const { return SendMessageA(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void SetChecked(bool checked) { SendMessageA(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }
};

class Label : public Control {
 public:
  // Sized to the caption.
  void Create(HWND parent, const std::string& caption, int left, int top);
  // Of the bounds given, for a text that changes (wrapped when it is longer than a line).
  void Create(HWND parent, const std::string& caption, const Bounds& b);
};

// A bar that fills from left to right: Position of 0 to Range.
class ProgressBar : public Control {
 public:
  void Create(HWND parent, const Bounds& b, int range);
  int Position() const { return static_cast<int>(SendMessageA(hwnd_, PBM_GETPOS, 0, 0)); }
  void SetPosition(int position) { SendMessageA(hwnd_, PBM_SETPOS, position, 0); }
};

class Edit : public Control {
 public:
  // Called when the text changed, by the user or by SetText.
  std::function<void()> onChange;
  void Create(HWND parent, const Bounds& b, DWORD style = ES_AUTOHSCROLL);
  bool OnCommand(int code) override;
};

class GroupBox : public Control {
 public:
  void Create(HWND parent, const std::string& caption, const Bounds& b);
};

// Editable drop-down combo box with an unsorted list.
class ComboBox : public Control {
 public:
  void Create(HWND parent, const Bounds& b);
  int Count() const;
  std::string Item(int index) const;
  void Add(const std::string& text);
  void ClearList();  // empties the list, keeps the edit text
  void Select(int index);
};

class StatusBar : public Control {
 public:
  void Create(HWND parent);
  // Simple mode: one text field.
  void SetSimpleText(const std::string& text);
  std::string SimpleText() const;
};

class TabSheet;

class TabControl : public Control {
 public:
  std::function<void(int)> onChange;
  void Create(HWND parent, const Bounds& b, HIMAGELIST images);
  // Adds a page; the sheet window, a sibling of the tab control, covers the display area.
  void AddPage(TabSheet& sheet, const std::string& caption, int image);
  int ActivePage() const;
  // Selects a page the way a click on its tab does (sends the same notifications).
  void SetActivePage(int index);
  bool OnNotify(NMHDR* header, LRESULT& result) override;

 private:
  void ShowActive();
  std::vector<TabSheet*> sheets_;
};

// The client area of one tab page; hands its children's notifications to the form and
// reports when the keyboard focus moves into it from a control of the same window outside
// it (the page's Enter event). Focus that leaves the window, for a dialog or another
// program, and comes back to the page does not enter it again.
class TabSheet : public Window {
 public:
  static constexpr const char* kClass = "QuilletTabSheet";
  std::function<void()> onEnter;
  void Create(HWND tabControl, const RECT& area);
  void SetVisible(bool visible) { ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE); }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void FocusGained();
  bool focusInside_ = false;
};

}  // namespace quillet::win
