#pragma once
// Report-style list view whose rows keep a stable handle (a row id in each item's lParam)
// through sorting, with a copy of every row's texts so that comparisons need no window
// traffic. All text writes go through this class, so the copy never goes stale.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/Window.h"

namespace quillet::win {

struct Column {
  std::string caption;
  int width;
  int minWidth;
};

struct ListViewOptions {
  bool checkBoxes = false;
  bool gridLines = false;
  bool multiSelect = false;
  bool handCursor = false;
  std::string tooltip;  // shown over the whole list when not empty
};

class ListView : public Control {
 public:
  // Identifies a row until the list is cleared; it survives sorting. 0 is never a row.
  using RowHandle = std::uint32_t;
  // caption, then sub-items in column order.
  using RowTexts = std::vector<std::string>;
  using Compare = std::function<int(const RowTexts& a, const RowTexts& b)>;

  std::function<void(int column)> onColumnClick;
  std::function<void()> onChange;    // any LVN_ITEMCHANGED (selection or state)
  std::function<void()> onDblClick;  // NM_DBLCLK

  void Create(HWND parent, const Bounds& b, const std::vector<Column>& columns, const ListViewOptions& options);
  void SetPopupMenu(HMENU menu) { popup_ = menu; }

  // Rows by handle. Clear invalidates every handle; the setters ignore a handle that is no
  // longer valid.
  void Clear();
  // Appends an empty, unticked row.
  RowHandle AddRow();
  // Appends a whole row at once (caption, then sub-items): the quick way for many rows.
  RowHandle AddRow(const RowTexts& texts);
  void SetCaption(RowHandle row, const std::string& text);
  // index counts from 1; missing sub-items before it are created empty.
  void SetSubItem(RowHandle row, int index, const std::string& text);
  void SetChecked(RowHandle row, bool checked);

  // Rows by display position.
  int Count() const;
  RowHandle HandleAt(int index) const;
  // The row's texts: caption, then as many sub-items as were set (fewer than the columns
  // while a run is still filling the row).
  const RowTexts& Texts(int index) const;
  bool Checked(int index) const;
  void SetCheckedAt(int index, bool checked);
  bool Selected(int index) const;
  void SetSelected(int index, bool selected);
  std::vector<int> SelectedIndices() const;
  int SelectedCount() const;
  void DeleteAt(int index);
  int IndexOf(RowHandle row) const;  // -1 when not in the list

  // Sorts once with the list view's own compare-callback sort.
  void Sort(const Compare& compare);

  bool OnNotify(NMHDR* header, LRESULT& result) override;

 protected:
  LRESULT ControlMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  static int CALLBACK CompareThunk(LPARAM a, LPARAM b, LPARAM self);
  void SetText(RowHandle row, int column, const std::string& text);
  // Inserts a row with its texts at the end; returns its index.
  int Insert(RowHandle handle, RowTexts texts);

  std::vector<Column> columns_;
  std::unordered_map<RowHandle, RowTexts> rows_;
  RowHandle nextHandle_ = 1;
  mutable int lastIndex_ = 0;
  HMENU popup_ = nullptr;
  bool handCursor_ = false;
  const Compare* compare_ = nullptr;
};

}  // namespace quillet::win
