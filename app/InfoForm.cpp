#include "app/InfoForm.h"

#include <commctrl.h>

#include <cstring>

#include "app/Config.h"
#include "app/Jpeg.h"
#include "framework/Application.h"

namespace quillet {
namespace {

HBRUSH ParentBrush(HWND child, HDC dc) {
  HWND parent = GetParent(child);
  auto brush = reinterpret_cast<HBRUSH>(
      parent ? SendMessageA(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child))
             : 0);
  return brush ? brush : GetSysColorBrush(COLOR_BTNFACE);
}

// The look both buttons share; only caption, hint and handler differ.
void SetUpButton(widgets::TOvalButton& b, const std::string& caption) {
  b.SetCaption(caption);
  b.SetCursor(LoadCursor(nullptr, IDC_HAND));
  b.SetBevelWidth(2);
  b.SetColor(widgets::clBtnFace);
  b.SetDown(false);
  b.SetFlat(false);
  widgets::TFont font = widgets::DefaultFont();
  font.log.lfHeight = -11;
  font.log.lfWeight = FW_BOLD;
  font.log.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(font.log.lfFaceName, "MS Sans Serif");
  font.color = widgets::clWindowText;
  b.SetFont(font);
  b.SetGroupIndex(0);
  b.SetLayout(widgets::blGlyphBottom);
  b.SetMargin(0);
  b.SetSpacing(4);
  b.SetTransparent(false);
  b.SetTransparentColor(widgets::clBlack);
}

}  // namespace

void PaintedChild::Create(HWND parent, const win::Bounds& b, const std::string& text) {
  RegisterClassOnce(kClass, nullptr, 0);
  CreateWindowOf(kClass, text, WS_CHILD | WS_VISIBLE, 0, b.left, b.top, b.width, b.height, parent);
}

void PaintedChild::PaintWindow(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  FillRect(dc, &client, ParentBrush(hwnd_, dc));
  if (onPaint) onPaint(dc, client);
}

void WhitePanel::Create(HWND parent, const win::Bounds& b) {
  RegisterClassOnce(kClass, nullptr, 0);
  CreateWindowOf(kClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, b.left, b.top, b.width,
                 b.height, parent);
}

void WhitePanel::PaintWindow(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
}

LRESULT WhitePanel::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CTLCOLORSTATIC) return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
  return PaintedWindow::HandleMessage(msg, wp, lp);
}

TInfoForm::TInfoForm() {
  win::Application& app = win::Application::Instance();
  HWND owner = app.MainWindow();
  CreateForm("About...", 329, 274, WS_SYSMENU, nullptr, IsWindow(owner) ? owner : nullptr);
  formFont_ = win::MakeFont("Arial", 12, false, false, ANSI_CHARSET);
  SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.get()), FALSE);
  SetWindowContextHelpId(hwnd_, kHelpContext);
  CreateControls();
  CreateHints();
  HMODULE module = app.Module();
  if (HRSRC info = FindResourceA(module, kPictureResource, RT_RCDATA)) {
    if (HGLOBAL data = LoadResource(module, info)) LoadPicture(LockResource(data), SizeofResource(module, info));
  }
}

void TInfoForm::CreateControls() {
  BitBtn3.Create(hwnd_, 134, 241, 64, 31);
  SetUpButton(BitBtn3, "Close");
  BitBtn3.OnClick = [this](widgets::TOvalButton&) { BitBtn3Click(); };
  OvalButton1.Create(hwnd_, 254, 241, 64, 31);
  SetUpButton(OvalButton1, "Support");
  OvalButton1.OnClick = [this](widgets::TOvalButton&) { OvalButton1Click(); };

  Panel1.Create(hwnd_, {0, 0, 329, 236});
  HWND panel = Panel1.Handle();
  titleFont_ = win::MakeFont("Arial", 16, true, false, ANSI_CHARSET);
  Label7.Create(panel, {7, 10, 134, 30}, kApplicationTitle);
  Label7.onPaint = [this](HDC dc, const RECT& client) {
    const std::string text = kApplicationTitle;
    win::SelectGuard font(dc, titleFont_.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    constexpr UINT kFormat = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    // Word-wrapped text centred vertically: measure the wrapped block first.
    RECT block = client;
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &block, kFormat | DT_CALCRECT);
    RECT r = client;
    r.top += (client.bottom - client.top - (block.bottom - block.top)) / 2;
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, kFormat);
  };
  URLLabel2.SetCaption(kSupportMail);
  URLLabel2.SetURLType(widgets::utMailTo);
  URLLabel2.SetCursor(widgets::crURLCursor);
  URLLabel2.Create(panel, 30, 109, 98, 13);
  Image1.Create(panel, {164, 65, 160, 150}, "");
  Image1.onPaint = [this](HDC dc, const RECT& client) { PaintPicture(dc, client); };
}

void TInfoForm::CreateHints() {
  tooltip_ = win::CreateWindowOrReport(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr);
  if (!tooltip_) return;
  // Only Support shows a hint; Close has none.
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(OvalButton1.Handle());
  tool.lpszText = const_cast<char*>(kSupportHint);
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT TInfoForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if ((msg == WM_CHAR || msg == WM_SYSCHAR) && widgets::DispatchDialogChar(hwnd_, static_cast<char>(wp))) return 0;
  return Form::HandleMessage(msg, wp, lp);
}

void TInfoForm::BitBtn3Click() { SetModalResult(3); }

void TInfoForm::OvalButton1Click() {
  win::Application& app = win::Application::Instance();
  app.Shell({app.MainWindow(), "open", kCustomerCare, "", "", SW_SHOWMAXIMIZED});
}

void TInfoForm::LoadPicture(const void* data, std::size_t size) {
  picture_.reset();
  pictureWidth_ = pictureHeight_ = 0;
  const JpegPicture decoded = DecodeJpeg(data, size);
  if (!decoded.Empty()) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = decoded.width;
    bi.bmiHeader.biHeight = decoded.height;  // bottom-up, as decoded
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    picture_.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (picture_ && bits) {
      std::memcpy(bits, decoded.bits.data(), decoded.bits.size());
      pictureWidth_ = decoded.width;
      pictureHeight_ = decoded.height;
    } else {
      picture_.reset();
    }
  }
  if (Image1.Handle()) InvalidateRect(Image1.Handle(), nullptr, FALSE);
}

void TInfoForm::PaintPicture(HDC dc, const RECT& client) const {
  if (!picture_) return;
  win::MemoryDcHandle mem(CreateCompatibleDC(dc));
  if (!mem) return;
  win::SelectGuard select(mem.get(), picture_.get());
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, mem.get(), 0, 0, pictureWidth_,
             pictureHeight_, SRCCOPY);
}

}  // namespace quillet
