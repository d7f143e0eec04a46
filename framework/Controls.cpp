#include "framework/Controls.h"

#include <commctrl.h>

#include "framework/Application.h"

namespace quillet::win {

void Button::Create(HWND parent, const std::string& caption, const Bounds& b, DWORD style) {
  CreateChild(parent, "BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY | style, 0, b);
}

bool Button::OnCommand(int code) {
  if (code != BN_CLICKED) return false;
  Click();
  return true;
}

void GlyphButton::Create(HWND parent, const std::string& caption, const Bounds& b, HBITMAP glyph) {
  glyph_ = glyph;
  Button::Create(parent, caption, b, BS_OWNERDRAW);
}

bool GlyphButton::OnDrawItem(DRAWITEMSTRUCT* item) {
  HDC dc = item->hDC;
  RECT r = item->rcItem;
  const bool pressed = (item->itemState & ODS_SELECTED) != 0;
  const bool disabled = (item->itemState & ODS_DISABLED) != 0;
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  const std::string caption = Text();
  SelectGuard font(dc, reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0)));
  SIZE text{};
  GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  constexpr int kGlyph = 16, kGap = 3;
  const int shift = pressed ? 1 : 0;
  const int left = (r.right - r.left - (kGlyph + kGap + text.cx)) / 2 + shift;
  const int glyphTop = (r.bottom - r.top - kGlyph) / 2 + shift;
  if (glyph_) {
    MemoryDcHandle mem(CreateCompatibleDC(dc));
    SelectGuard bmp(mem.get(), glyph_);
    const COLORREF transparent = GetPixel(mem.get(), 0, kGlyph - 1);
    TransparentBlt(dc, left, glyphTop, kGlyph, kGlyph, mem.get(), 0, 0, kGlyph, kGlyph, transparent);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  RECT textRect{left + kGlyph + kGap, r.top + shift, r.right, r.bottom + shift};
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
  if (item->itemState & ODS_FOCUS) {
    RECT focus = r;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
  return true;
}

void Label::Create(HWND parent, const std::string& caption, int left, int top) {
  // Auto-size: measure the caption in the label's font.
  WindowDc dc(parent);
  SelectGuard font(dc.get(), DefaultFont());
  SIZE size{};
  GetTextExtentPoint32A(dc.get(), caption.c_str(), static_cast<int>(caption.size()), &size);
  CreateChild(parent, "STATIC", caption, SS_LEFT | SS_NOPREFIX, 0, {left, top, size.cx, size.cy});
}

void Label::Create(HWND parent, const std::string& caption, const Bounds& b) {
  CreateChild(parent, "STATIC", caption, SS_LEFT | SS_NOPREFIX, 0, b);
}

void RadioButton::Create(HWND parent, const std::string& caption, const Bounds& b, DWORD style) {
  Button::Create(parent, caption, b, BS_AUTORADIOBUTTON | style);
}

void ProgressBar::Create(HWND parent, const Bounds& b, int range) {
  CreateChild(parent, PROGRESS_CLASSA, "", 0, 0, b);
  SendMessageA(hwnd_, PBM_SETRANGE32, 0, range);
}

void Edit::Create(HWND parent, const Bounds& b, DWORD style) {
  CreateChild(parent, "EDIT", "", WS_TABSTOP | style, WS_EX_CLIENTEDGE, b);
}

bool Edit::OnCommand(int code) {
  if (code != EN_CHANGE || !onChange) return false;
  onChange();
  return true;
}

void GroupBox::Create(HWND parent, const std::string& caption, const Bounds& b) {
  CreateChild(parent, "BUTTON", caption, BS_GROUPBOX, 0, b);
}

void ComboBox::Create(HWND parent, const Bounds& b) {
  // The height given to a drop-down combo box is that of the edit and the dropped list.
  CreateChild(parent, "COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0,
              {b.left, b.top, b.width, 200});
  SendMessageA(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), b.height - 6);
}

int ComboBox::Count() const { return static_cast<int>(SendMessageA(hwnd_, CB_GETCOUNT, 0, 0)); }

std::string ComboBox::Item(int index) const {
  const LRESULT length = SendMessageA(hwnd_, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(hwnd_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

void ComboBox::Add(const std::string& text) {
  SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ComboBox::ClearList() {
  const std::string text = Text();
  SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
  SetText(text);
}

void ComboBox::Select(int index) { SendMessageA(hwnd_, CB_SETCURSEL, index, 0); }

void StatusBar::Create(HWND parent) {
  // Placed by the form, not by itself, so that it keeps the window's 19 pixel strip.
  CreateChild(parent, STATUSCLASSNAMEA, "", CCS_NORESIZE | CCS_NOPARENTALIGN, 0, {0, 0, 0, 0});
  SendMessageA(hwnd_, SB_SIMPLE, TRUE, 0);
}

void StatusBar::SetSimpleText(const std::string& text) {
  SendMessageA(hwnd_, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
  // The pump may not run before the next blocking fetch: show the text now.
  UpdateWindow(hwnd_);
}

std::string StatusBar::SimpleText() const {
  // Windows answers the simple text for SB_SIMPLEID; Wine only for part 0 in simple mode.
  for (WPARAM part : {WPARAM{SB_SIMPLEID}, WPARAM{0}}) {
    const LRESULT length = LOWORD(SendMessageA(hwnd_, SB_GETTEXTLENGTHA, part, 0));
    if (length == 0) continue;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(hwnd_, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
  }
  return {};
}

void TabControl::Create(HWND parent, const Bounds& b, HIMAGELIST images) {
  CreateChild(parent, WC_TABCONTROLA, "", WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, b);
  if (images) SendMessageA(hwnd_, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
}

void TabControl::AddPage(TabSheet& sheet, const std::string& caption, int image) {
  TCITEMA item{};
  item.mask = TCIF_TEXT | TCIF_IMAGE;
  item.pszText = const_cast<char*>(caption.c_str());
  item.iImage = image;
  const int index = static_cast<int>(sheets_.size());
  SendMessageA(hwnd_, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item));
  RECT area;
  GetClientRect(hwnd_, &area);
  SendMessageA(hwnd_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  sheet.Create(hwnd_, area);
  sheets_.push_back(&sheet);
  ShowActive();
}

int TabControl::ActivePage() const { return static_cast<int>(SendMessageA(hwnd_, TCM_GETCURSEL, 0, 0)); }

void TabControl::SetActivePage(int index) {
  SendMessageA(hwnd_, TCM_SETCURSEL, index, 0);
  ShowActive();
  if (onChange) onChange(index);
}

bool TabControl::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->code != static_cast<UINT>(TCN_SELCHANGE)) return false;
  ShowActive();
  if (onChange) onChange(ActivePage());
  result = 0;
  return true;
}

void TabControl::ShowActive() {
  const int active = ActivePage();
  for (size_t i = 0; i < sheets_.size(); ++i) sheets_[i]->SetVisible(static_cast<int>(i) == active);
}

void TabSheet::Create(HWND tabControl, const RECT& area) {
  RegisterClassOnce(kClass, GetSysColorBrush(COLOR_BTNFACE), 0);
  // A sibling of the tab control over its display area, not its child: the dialog manager's
  // Tab key descends only into windows marked WS_EX_CONTROLPARENT, and one so marked is no
  // tab stop itself. So the row of tabs stays a tab stop and Tab goes on into the page.
  HWND parent = GetParent(tabControl);
  RECT inParent = area;
  MapWindowPoints(tabControl, parent, reinterpret_cast<POINT*>(&inParent), 2);
  CreateWindowOf(kClass, "", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, inParent.left,
                 inParent.top, inParent.right - inParent.left, inParent.bottom - inParent.top, parent);
  // Just above the tab control, which clips its siblings above it: the page shows, and Tab
  // goes from the page's last control to the tabs.
  HWND above = GetWindow(tabControl, GW_HWNDPREV);
  SetWindowPos(hwnd_, above ? above : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TabSheet::FocusGained() {
  if (focusInside_) return;
  focusInside_ = true;
  if (onEnter) onEnter();
}

namespace {
constexpr UINT kRecheckFocus = WM_APP + 1;

bool IsSetFocusCode(int code) { return code == EN_SETFOCUS || code == CBN_SETFOCUS || code == BN_SETFOCUS; }
bool IsKillFocusCode(int code) { return code == EN_KILLFOCUS || code == CBN_KILLFOCUS || code == BN_KILLFOCUS; }
}  // namespace

LRESULT TabSheet::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  HWND form = GetAncestor(hwnd_, GA_ROOT);
  switch (msg) {
    case WM_COMMAND: {
      const int code = HIWORD(wp);
      if (lp && IsSetFocusCode(code)) FocusGained();
      if (lp && IsKillFocusCode(code)) PostMessageA(hwnd_, kRecheckFocus, 0, 0);
      return SendMessageA(form, msg, wp, lp);
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<NMHDR*>(lp);
      if (header->code == static_cast<UINT>(NM_SETFOCUS)) FocusGained();
      if (header->code == static_cast<UINT>(NM_KILLFOCUS)) PostMessageA(hwnd_, kRecheckFocus, 0, 0);
      return SendMessageA(form, msg, wp, lp);
    }
    case kRecheckFocus: {
      // No focus in this thread, or focus in another top-level window: the window was left.
      HWND focus = GetFocus();
      if (focus && GetAncestor(focus, GA_ROOT) == form) focusInside_ = focus == hwnd_ || IsChild(hwnd_, focus);
      return 0;
    }
    case WM_SHOWWINDOW:
      // A hidden page cannot hold the focus.
      if (!wp) focusInside_ = false;
      return Window::HandleMessage(msg, wp, lp);
    case WM_DRAWITEM:
    case WM_CONTEXTMENU:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: return SendMessageA(form, msg, wp, lp);
    default: return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace quillet::win
