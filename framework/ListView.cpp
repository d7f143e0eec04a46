#include "framework/ListView.h"

#include <commctrl.h>

#include "framework/Application.h"

namespace quillet::win {

void ListView::Create(HWND parent, const Bounds& b, const std::vector<Column>& columns,
                      const ListViewOptions& options) {
  columns_ = columns;
  handCursor_ = options.handCursor;
  DWORD style = WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS;
  if (!options.multiSelect) style |= LVS_SINGLESEL;
  CreateChild(parent, WC_LISTVIEWA, "", style, WS_EX_CLIENTEDGE, b);
  DWORD ex = LVS_EX_FULLROWSELECT;
  if (options.checkBoxes) ex |= LVS_EX_CHECKBOXES;
  if (options.gridLines) ex |= LVS_EX_GRIDLINES;
  SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
  for (size_t i = 0; i < columns.size(); ++i) {
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = const_cast<char*>(columns[i].caption.c_str());
    col.cx = columns[i].width;
    col.iSubItem = static_cast<int>(i);
    SendMessageA(hwnd_, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&col));
  }
  if (!options.tooltip.empty()) {
    // Owned by the list, destroyed with it.
    HWND tip = CreateWindowOrReport(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                                    hwnd_, nullptr);
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(hwnd_);
    info.lpszText = const_cast<char*>(options.tooltip.c_str());
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  }
}

void ListView::Clear() {
  SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  rows_.clear();
  lastIndex_ = 0;
}

ListView::RowHandle ListView::AddRow() { return AddRow(RowTexts{std::string()}); }

ListView::RowHandle ListView::AddRow(const RowTexts& texts) {
  const RowHandle handle = nextHandle_++;
  const int index = Insert(handle, texts);
  lastIndex_ = index < 0 ? 0 : index;
  return handle;
}

int ListView::Insert(RowHandle handle, RowTexts texts) {
  if (texts.empty()) texts.emplace_back();
  const RowTexts& stored = rows_.insert_or_assign(handle, std::move(texts)).first->second;
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = Count();
  item.pszText = const_cast<char*>(stored[0].c_str());
  item.lParam = static_cast<LPARAM>(handle);
  const int index = static_cast<int>(SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  for (size_t column = 1; index >= 0 && column < stored.size(); ++column) {
    LVITEMA sub{};
    sub.iSubItem = static_cast<int>(column);
    sub.pszText = const_cast<char*>(stored[column].c_str());
    SendMessageA(hwnd_, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
  }
  return index;
}

int ListView::IndexOf(RowHandle row) const {
  if (row == 0 || rows_.find(row) == rows_.end()) return -1;
  // Rows move only when the list is sorted, so the last index found is nearly always right.
  if (lastIndex_ < Count() && HandleAt(lastIndex_) == row) return lastIndex_;
  LVFINDINFOA find{};
  find.flags = LVFI_PARAM;
  find.lParam = static_cast<LPARAM>(row);
  const int index =
      static_cast<int>(SendMessageA(hwnd_, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
  if (index >= 0) lastIndex_ = index;
  return index;
}

void ListView::SetText(RowHandle row, int column, const std::string& text) {
  const int index = IndexOf(row);
  if (index < 0) return;
  RowTexts& texts = rows_[row];
  if (texts.size() <= static_cast<size_t>(column)) texts.resize(static_cast<size_t>(column) + 1);
  texts[static_cast<size_t>(column)] = text;
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(texts[static_cast<size_t>(column)].c_str());
  SendMessageA(hwnd_, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
}

void ListView::SetCaption(RowHandle row, const std::string& text) { SetText(row, 0, text); }

void ListView::SetSubItem(RowHandle row, int index, const std::string& text) {
  if (index >= 1) SetText(row, index, text);
}

void ListView::SetChecked(RowHandle row, bool checked) {
  const int index = IndexOf(row);
  if (index >= 0) SetCheckedAt(index, checked);
}

int ListView::Count() const { return static_cast<int>(SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0)); }

ListView::RowHandle ListView::HandleAt(int index) const {
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  if (!SendMessageA(hwnd_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return static_cast<RowHandle>(item.lParam);
}

const ListView::RowTexts& ListView::Texts(int index) const {
  static const RowTexts kNone{std::string()};
  const auto it = rows_.find(HandleAt(index));
  return it == rows_.end() ? kNone : it->second;
}

bool ListView::Checked(int index) const {
  const auto state = SendMessageA(hwnd_, LVM_GETITEMSTATE, index, LVIS_STATEIMAGEMASK);
  return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void ListView::SetCheckedAt(int index, bool checked) {
  LVITEMA item{};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  SendMessageA(hwnd_, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

bool ListView::Selected(int index) const {
  return (SendMessageA(hwnd_, LVM_GETITEMSTATE, index, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void ListView::SetSelected(int index, bool selected) {
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = selected ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
  SendMessageA(hwnd_, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

std::vector<int> ListView::SelectedIndices() const {
  std::vector<int> out;
  for (int i = static_cast<int>(SendMessageA(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); i >= 0;
       i = static_cast<int>(SendMessageA(hwnd_, LVM_GETNEXTITEM, i, LVNI_SELECTED)))
    out.push_back(i);
  return out;
}

int ListView::SelectedCount() const { return static_cast<int>(SendMessageA(hwnd_, LVM_GETSELECTEDCOUNT, 0, 0)); }

void ListView::DeleteAt(int index) {
  const RowHandle row = HandleAt(index);
  if (SendMessageA(hwnd_, LVM_DELETEITEM, index, 0)) rows_.erase(row);
}

int CALLBACK ListView::CompareThunk(LPARAM a, LPARAM b, LPARAM selfParam) {
  auto* self = reinterpret_cast<ListView*>(selfParam);
  const auto ia = self->rows_.find(static_cast<RowHandle>(a));
  const auto ib = self->rows_.find(static_cast<RowHandle>(b));
  if (ia == self->rows_.end() || ib == self->rows_.end()) return 0;
  return (*self->compare_)(ia->second, ib->second);
}

void ListView::Sort(const Compare& compare) {
  compare_ = &compare;
  SendMessageA(hwnd_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(this), reinterpret_cast<LPARAM>(&CompareThunk));
  compare_ = nullptr;
}

bool ListView::OnNotify(NMHDR* header, LRESULT& result) {
  result = 0;
  switch (header->code) {
    case LVN_COLUMNCLICK:
      if (onColumnClick) onColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
      return true;
    case LVN_ITEMCHANGED:
      if (onChange) onChange();
      return true;
    case NM_DBLCLK:
      if (onDblClick) onDblClick();
      return true;
    default: return false;
  }
}

LRESULT ListView::ControlMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NOTIFY: {
      // Header notifications come here, not to the form: keep columns at their minimum width.
      auto* nm = reinterpret_cast<NMHEADERA*>(lp);
      if ((nm->hdr.code == HDN_ITEMCHANGINGA || nm->hdr.code == HDN_ITEMCHANGINGW) && nm->pitem &&
          (nm->pitem->mask & HDI_WIDTH) && nm->iItem >= 0 && static_cast<size_t>(nm->iItem) < columns_.size()) {
        const int minWidth = columns_[static_cast<size_t>(nm->iItem)].minWidth;
        if (nm->pitem->cxy < minWidth) {
          SendMessageA(hwnd_, LVM_SETCOLUMNWIDTH, nm->iItem, minWidth);
          return TRUE;
        }
      }
      break;
    }
    case WM_CONTEXTMENU:
      if (popup_) {
        POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        if (lp == -1) {
          RECT r;
          GetWindowRect(hwnd_, &r);
          p = {r.left + 8, r.top + 8};
        }
        TrackPopupMenu(popup_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, p.x, p.y, 0, GetAncestor(hwnd_, GA_ROOT), nullptr);
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT && !Application::Instance().OverrideCursor() && handCursor_) {
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        return TRUE;
      }
      if (HCURSOR busy = Application::Instance().OverrideCursor()) {
        SetCursor(busy);
        return TRUE;
      }
      break;
    default: break;
  }
  return Control::ControlMessage(msg, wp, lp);
}

}  // namespace quillet::win
