// The About box through its real windows: layout and texts, the modal loop and reopening,
// what Support and the mail link hand to the shell, the hint, and the JPEG picture (the
// resource decoded, damaged data refused). Saves a screenshot to the build tree.
#include "app/InfoForm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/Jpeg.h"
#include "app/MainForm.h"
#include "tests/app/Harness.h"

namespace quillet {
namespace {

using test::PumpUntil;
using test::RectInParent;
using test::TestApp;
using test::WindowText;

// The picture resource's bytes, as stored in the program.
std::string PictureBytes() {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC info = FindResourceA(module, TInfoForm::kPictureResource, RT_RCDATA);
  if (!info) return {};
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, info)));
  return std::string(data, SizeofResource(module, info));
}

// Runs `action` from a timer inside the modal loop that `show` enters; a watchdog hides
// the form after 5 s so that a broken close fails the test instead of hanging it.
std::function<void()>* gAction = nullptr;
constexpr UINT_PTR kActionTimer = 1, kWatchdogTimer = 2;
void CALLBACK OnTimer(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, id);
  if (id == kWatchdogTimer) {
    ShowWindow(hwnd, SW_HIDE);
    ADD_FAILURE() << "the modal loop did not end";
  } else if (!IsWindowVisible(hwnd)) {  // a pump before the form shows
    SetTimer(hwnd, kActionTimer, 20, &OnTimer);
  } else if (gAction) {
    (*gAction)();
  }
}
int WhileShown(HWND form, std::function<void()> action, const std::function<int()>& show) {
  gAction = &action;
  SetTimer(form, kActionTimer, 20, &OnTimer);
  SetTimer(form, kWatchdogTimer, 5000, &OnTimer);
  const int result = show();
  KillTimer(form, kWatchdogTimer);
  gAction = nullptr;
  return result;
}

// A left click at the centre of an oval button with the pointer over it, as the mouse
// would deliver it.
void ClickOval(const widgets::TOvalButton& b) {
  POINT centre{b.Width() / 2, b.Height() / 2};
  const LPARAM at = MAKELPARAM(centre.x, centre.y);
  ClientToScreen(b.Handle(), &centre);
  SetCursorPos(centre.x, centre.y);
  SendMessageA(b.Handle(), WM_MOUSEMOVE, 0, at);
  SendMessageA(b.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(b.Handle(), WM_LBUTTONUP, 0, at);
}

void ExpectBounds(HWND hwnd, HWND parent, int left, int top, int width, int height, const char* what) {
  EXPECT_EQ(GetParent(hwnd), parent) << what;
  const RECT r = RectInParent(hwnd);
  EXPECT_EQ(r.left, left) << what;
  EXPECT_EQ(r.top, top) << what;
  EXPECT_EQ(r.right - r.left, width) << what;
  EXPECT_EQ(r.bottom - r.top, height) << what;
}

class InfoFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp().SetShell([this](const win::ShellRequest& r) { shell.push_back(r); });
  }
  void TearDown() override {
    TestApp().SetShell({});
    MSG msg;  // a main window's destruction posts WM_QUIT
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    TestApp().SetMainWindow(nullptr);
  }
  std::vector<win::ShellRequest> shell;
};

TEST_F(InfoFormTest, LayoutAndTexts) {
  TInfoForm form;
  HWND hwnd = form.Handle();
  EXPECT_EQ(WindowText(hwnd), "About...");
  EXPECT_FALSE(IsWindowVisible(hwnd));
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 329);
  EXPECT_EQ(client.bottom, 274);
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_EQ(GetWindowContextHelpId(hwnd), 7u);

  // Centred on the work area.
  RECT work, window;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(hwnd, &window);
  EXPECT_NEAR(window.left - work.left, work.right - window.right, 1);
  EXPECT_NEAR(window.top - work.top, work.bottom - window.bottom, 1);

  LOGFONTA font{};
  ASSERT_TRUE(GetObjectA(form.FormFont(), sizeof font, &font));
  EXPECT_STREQ(font.lfFaceName, "Arial");
  EXPECT_EQ(font.lfHeight, -12);
  EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);

  HWND panel = form.Panel1.Handle();
  ExpectBounds(form.BitBtn3.Handle(), hwnd, 134, 241, 64, 31, "BitBtn3");
  ExpectBounds(form.OvalButton1.Handle(), hwnd, 254, 241, 64, 31, "OvalButton1");
  ExpectBounds(panel, hwnd, 0, 0, 329, 236, "Panel1");
  ExpectBounds(form.Label7.Handle(), panel, 7, 10, 134, 30, "Label7");
  ExpectBounds(form.Image1.Handle(), panel, 164, 65, 160, 150, "Image1");
  EXPECT_EQ(GetParent(form.URLLabel2.Handle()), panel);
  const RECT link = RectInParent(form.URLLabel2.Handle());
  EXPECT_EQ(link.left, 30);
  EXPECT_EQ(link.top, 109);
  // Auto-sized to the address, which must not run into the picture.
  EXPECT_GT(link.right - link.left, 60);
  EXPECT_LE(link.right, 164);

  EXPECT_EQ(WindowText(form.Label7.Handle()), "Quillet");
  EXPECT_EQ(form.URLLabel2.Caption(), kSupportMail);
  EXPECT_EQ(form.URLLabel2.URLType(), widgets::utMailTo);
  EXPECT_EQ(form.URLLabel2.Cursor(), 512);

  // Both oval buttons share their look: bold caption, two-pixel bevel, button face.
  for (const widgets::TOvalButton* b : {&form.BitBtn3, &form.OvalButton1}) {
    EXPECT_EQ(b->BevelWidth(), 2);
    EXPECT_EQ(b->Color(), widgets::clBtnFace);
    EXPECT_FALSE(b->Flat());
    EXPECT_STREQ(b->Font().log.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(b->Font().log.lfHeight, -11);
    EXPECT_EQ(b->Font().log.lfWeight, FW_BOLD);
  }
  EXPECT_EQ(form.BitBtn3.Caption(), "Close");
  EXPECT_EQ(form.OvalButton1.Caption(), "Support");
}

TEST_F(InfoFormTest, CloseEndsTheModalLoopAndTheBoxOpensAgain) {
  TInfoForm form;
  for (int round = 0; round < 3; ++round) {
    bool shown = false;
    const int result = WhileShown(
        form.Handle(),
        [&] {
          shown = IsWindowVisible(form.Handle()) != FALSE;
          ClickOval(form.BitBtn3);
        },
        [&] { return form.ShowModal(); });
    EXPECT_TRUE(shown) << round;
    EXPECT_EQ(result, 3) << round;
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << round;
  }
  // The close box ends it too.
  const int closed = WhileShown(
      form.Handle(), [&] { PostMessageA(form.Handle(), WM_CLOSE, 0, 0); }, [&] { return form.ShowModal(); });
  EXPECT_EQ(closed, static_cast<int>(win::ModalResult::Cancel));
  EXPECT_TRUE(shell.empty());
}

void CALLBACK CloseLater(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, id);
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

// A caption with "&" makes its letter an accelerator of the box, typed on the real keyboard
// with or without Alt; like a click, it closes the box only with the pointer over the oval.
// Whatever is still open after half a second is closed by its close box (Cancel).
TEST_F(InfoFormTest, AcceleratorOfACaptionClicksTheButton) {
  TInfoForm form;
  form.BitBtn3.SetCaption("&Close");
  const struct {
    std::vector<WORD> keys;
    bool pointerOverClose;
    int result;
  } cases[] = {{{'C'}, true, 3}, {{VK_MENU, 'C'}, true, 3}, {{'C'}, false, static_cast<int>(win::ModalResult::Cancel)}};
  for (const auto& c : cases) {
    const int result = WhileShown(
        form.Handle(),
        [&] {
          const POINT over = test::CentreOf(form.BitBtn3.Handle());
          test::PointAt(c.pointerOverClose ? over : POINT{over.x, over.y - 100});
          // The user types once the button has seen where the pointer is.
          PumpUntil([&] { return form.BitBtn3.MouseInside() == c.pointerOverClose; }, 3000);
          test::PressKeys(c.keys);
          SetTimer(form.Handle(), 3, 500, &CloseLater);
        },
        [&] { return form.ShowModal(); });
    KillTimer(form.Handle(), 3);
    EXPECT_EQ(result, c.result) << c.keys.size() << " keys, over Close: " << c.pointerOverClose;
  }
  SetCursorPos(0, 0);
}

TEST_F(InfoFormTest, MailLinkOpensTheMailProgram) {
  TInfoForm form;
  SendMessageA(form.URLLabel2.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  SendMessageA(form.URLLabel2.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  ASSERT_EQ(shell.size(), 1u);
  const win::ShellRequest expected{GetDesktopWindow(), "open", std::string("mailto:") + kSupportMail, "", "",
                                   SW_SHOWNORMAL};
  EXPECT_EQ(shell[0], expected);
}

TEST_F(InfoFormTest, OnlySupportHasAHint) {
  TInfoForm form;
  HWND tip = form.Tooltip();
  ASSERT_NE(tip, nullptr);
  EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
  char text[128] = {};
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = form.Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(form.OvalButton1.Handle());
  tool.lpszText = text;
  SendMessageA(tip, TTM_GETTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  EXPECT_STREQ(text, "Visit the Customer Care Center");
  tool.uId = reinterpret_cast<UINT_PTR>(form.BitBtn3.Handle());
  EXPECT_FALSE(SendMessageA(tip, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)));
}

TEST_F(InfoFormTest, HoveringSupportShowsTheHintAndCloseShowsNone) {
  TInfoForm form;
  form.Show();
  SetForegroundWindow(form.Handle());
  TestApp().ProcessMessages();
  HWND tip = form.Tooltip();
  auto pointAt = [](const widgets::TOvalButton& b) {
    POINT p{b.Width() / 2, b.Height() / 2};
    ClientToScreen(b.Handle(), &p);
    SetCursorPos(p.x, p.y);
    // The tooltip reads the pointer from the button's mouse messages.
    SendMessageA(b.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(b.Handle()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  };
  pointAt(form.BitBtn3);
  EXPECT_FALSE(PumpUntil([&] { return IsWindowVisible(tip) != FALSE; }, 1500));
  pointAt(form.OvalButton1);
  EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(tip) != FALSE; }, 5000));
  EXPECT_EQ(WindowText(tip), "Visit the Customer Care Center");
  SetCursorPos(0, 0);
  form.Hide();
}

TEST_F(InfoFormTest, PictureIsTheDecodedResource) {
  TInfoForm form;
  ASSERT_NE(form.Picture(), nullptr);
  EXPECT_EQ(form.PictureWidth(), 160);
  EXPECT_EQ(form.PictureHeight(), 150);
  DIBSECTION dib{};
  ASSERT_EQ(GetObjectA(form.Picture(), sizeof dib, &dib), static_cast<int>(sizeof dib));
  EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
  EXPECT_EQ(dib.dsBmih.biWidth, 160);
  EXPECT_EQ(dib.dsBmih.biHeight, 150);

  // A few places of the drawing: sky, sun, cloud, hill (JPEG allows small deviations).
  struct Probe {
    int x, y;
    int r, g, b;
  };
  const Probe probes[] = {{5, 5, 77, 135, 217},
                          {118, 38, 255, 214, 60},
                          {47, 34, 250, 250, 252},
                          {80, 145, 40, 106, 35},
                          {150, 110, 90, 165, 72}};
  const auto* bits = static_cast<const unsigned char*>(dib.dsBm.bmBits);
  const int stride = dib.dsBm.bmWidthBytes;
  for (const Probe& p : probes) {
    const unsigned char* px = bits + (149 - p.y) * stride + p.x * 3;  // bottom-up, BGR
    EXPECT_NEAR(px[2], p.r, 10) << p.x << "," << p.y;
    EXPECT_NEAR(px[1], p.g, 10) << p.x << "," << p.y;
    EXPECT_NEAR(px[0], p.b, 10) << p.x << "," << p.y;
  }
}

// The JPEG with its frame header (SOF0) patched: offset of the marker or npos.
size_t FrameHeader(const std::string& jpeg) {
  for (size_t i = 0; i + 9 < jpeg.size(); ++i)
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF && static_cast<unsigned char>(jpeg[i + 1]) == 0xC0) return i;
  return std::string::npos;
}

TEST_F(InfoFormTest, DamagedPictureDataGivesAnEmptyPicture) {
  const std::string good = PictureBytes();
  ASSERT_GT(good.size(), 1000u);
  const size_t sof = FrameHeader(good);
  ASSERT_NE(sof, std::string::npos);
  auto patched = [&](size_t offset, std::initializer_list<unsigned char> bytes) {
    std::string s = good;
    for (unsigned char b : bytes) s[offset++] = static_cast<char>(b);
    return s;
  };
  struct Case {
    const char* what;
    std::string data;
  };
  const Case cases[] = {
      {"empty", ""},
      {"text", "this is not a picture at all"},
      {"PNG signature", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
      {"markers only", good.substr(0, 2)},
      {"cut in the headers", good.substr(0, 100)},
      {"cut in the scan", good.substr(0, good.size() / 2)},
      {"end marker missing", good.substr(0, good.size() - 2)},
      {"end marker inside the scan", patched(good.size() / 2, {0xFF, 0xD9})},
      {"12-bit samples", patched(sof + 4, {12})},
      {"zero height", patched(sof + 5, {0, 0})},
      {"no components", patched(sof + 9, {0})},
      {"60000 x 60000 pixels", patched(sof + 5, {0xEA, 0x60, 0xEA, 0x60})},
  };
  TInfoForm form;
  for (const Case& c : cases) {
    const JpegPicture decoded = DecodeJpeg(c.data.data(), c.data.size());
    EXPECT_TRUE(decoded.Empty()) << c.what;
    EXPECT_TRUE(decoded.bits.empty()) << c.what;
    form.LoadPicture(c.data.data(), c.data.size());
    EXPECT_EQ(form.Picture(), nullptr) << c.what;
    EXPECT_EQ(form.PictureWidth(), 0) << c.what;
    // An empty picture paints as the panel's white.
    UpdateWindow(form.Image1.Handle());
  }
  form.LoadPicture(good.data(), good.size());
  EXPECT_NE(form.Picture(), nullptr);
  EXPECT_EQ(DecodeJpeg(good.data(), good.size()).width, 160);
  EXPECT_TRUE(DecodeJpeg(nullptr, 10).Empty());
}

// Writes a bottom-up 24-bit BMP of the whole window as it is on the screen.
bool SaveWindowBmp(HWND hwnd, const std::string& path, std::vector<unsigned char>* pixels, int* stride) {
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  win::WindowDc windowDc(nullptr);
  win::MemoryDcHandle mem(CreateCompatibleDC(windowDc.get()));
  win::BitmapHandle bmp(CreateCompatibleBitmap(windowDc.get(), w, h));
  {
    win::SelectGuard select(mem.get(), bmp.get());
    BitBlt(mem.get(), 0, 0, w, h, windowDc.get(), r.left, r.top, SRCCOPY);
  }
  BITMAPINFOHEADER info{sizeof info, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  *stride = (w * 3 + 3) & ~3;
  pixels->assign(static_cast<size_t>(*stride) * h, 0);
  if (GetDIBits(mem.get(), bmp.get(), 0, h, pixels->data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != h)
    return false;
  BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof file + sizeof info};
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels->size());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
                  std::fwrite(pixels->data(), pixels->size(), 1, f) == 1;
  return std::fclose(f) == 0 && ok;
}

TEST_F(InfoFormTest, ScreenshotShowsPanelTitleLinkAndPicture) {
  TInfoForm form;
  std::vector<unsigned char> pixels;
  int stride = 0;
  bool saved = false;
  POINT origin{0, 0};  // client origin inside the window picture
  WhileShown(
      form.Handle(),
      [&] {
        RedrawWindow(form.Handle(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        RECT window;
        GetWindowRect(form.Handle(), &window);
        ClientToScreen(form.Handle(), &origin);
        origin.x -= window.left;
        origin.y -= window.top;
        CreateDirectoryA(QUILLET_SCREENSHOT_DIR, nullptr);
        saved = SaveWindowBmp(form.Handle(), QUILLET_SCREENSHOT_DIR "/about.bmp", &pixels, &stride);
        ClickOval(form.BitBtn3);
      },
      [&] { return form.ShowModal(); });
  ASSERT_TRUE(saved);
  RECT window;
  GetWindowRect(form.Handle(), &window);
  const int height = window.bottom - window.top;
  auto at = [&](int x, int y) {  // client coordinates
    const unsigned char* p = pixels.data() + (height - 1 - (origin.y + y)) * stride + (origin.x + x) * 3;
    return RGB(p[2], p[1], p[0]);
  };
  EXPECT_EQ(at(100, 200), RGB(255, 255, 255));        // the panel
  EXPECT_EQ(at(5, 250), GetSysColor(COLOR_BTNFACE));  // the form below it
  int titleInk = 0, linkInk = 0;
  for (int y = 10; y < 40; ++y)
    for (int x = 7; x < 141; ++x) titleInk += at(x, y) == RGB(0, 0, 0);
  for (int y = 109; y < 122; ++y)
    for (int x = 30; x < 120; ++x) linkInk += at(x, y) != RGB(255, 255, 255);
  EXPECT_GT(titleInk, 40);
  EXPECT_GT(linkInk, 40);
  // The picture's sun, where Image1 puts it (164 + 118, 65 + 38).
  const COLORREF sun = at(164 + 118, 65 + 38);
  EXPECT_GT(GetRValue(sun), 230);
  EXPECT_GT(GetGValue(sun), 190);
  EXPECT_LT(GetBValue(sun), 110);
}

// Runs last: the main window posts the quit message when it goes (taken back in TearDown).
TEST_F(InfoFormTest, AboutCommandStopsOnlyTheCategoryRunAndShowsTheBoxModally) {
  TForm1 form1(ServiceHosts{});
  TInfoForm info;
  EXPECT_EQ(GetWindow(info.Handle(), GW_OWNER), form1.Handle());
  form1.SetDialogs(nullptr, &info);
  form1.Show();
  for (int round = 0; round < 2; ++round) {
    form1.StopFlag = false;
    form1.Stop2Flag = false;
    shell.clear();
    bool stopped = false, mainDisabled = false;
    WhileShown(
        info.Handle(),
        [&] {
          stopped = form1.StopFlag && !form1.Stop2Flag;
          mainDisabled = !IsWindowEnabled(form1.Handle());
          ClickOval(info.OvalButton1);
          ClickOval(info.BitBtn3);
        },
        [&] {
          form1.About1Click();
          return 0;
        });
    EXPECT_TRUE(stopped) << round;
    EXPECT_TRUE(mainDisabled) << round;
    EXPECT_FALSE(form1.Stop2Flag) << round;
    EXPECT_FALSE(IsWindowVisible(info.Handle())) << round;
    EXPECT_TRUE(IsWindowEnabled(form1.Handle())) << round;
    // Support opened the customer-care page maximised, owned by the main window.
    ASSERT_EQ(shell.size(), 1u) << round;
    const win::ShellRequest expected{form1.Handle(), "open", kCustomerCare, "", "", SW_SHOWMAXIMIZED};
    EXPECT_EQ(shell[0], expected) << round;
  }
}

}  // namespace
}  // namespace quillet
