// The settings dialog under Wine, against the real registry of the test prefix.
#include "app/StartForm.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "framework/Application.h"

namespace quillet {
namespace {

constexpr char kKey[] = "Software\\Orvane\\Quillet1\\Setup";
constexpr char kVendorKey[] = "Software\\Orvane";

win::Application& App() {
  static win::Application* app = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    return new win::Application(GetModuleHandleA(nullptr));
  }();
  return *app;
}

bool KeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A value as stored: its type and up to 4 bytes of it.
struct Stored {
  DWORD type = REG_NONE;
  DWORD value = 0;
  bool operator==(const Stored&) const = default;
};

std::optional<Stored> Read(const char* name) {
  Stored s;
  DWORD size = sizeof s.value;
  if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY, &s.type, &s.value, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return s;
}

void Write(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}
void WriteDword(const char* name, DWORD v) { Write(name, REG_DWORD, &v, sizeof v); }
void WriteText(const char* name, const std::string& s) {
  Write(name, REG_SZ, s.c_str(), static_cast<DWORD>(s.size() + 1));
}

Stored Dword(int32_t v) { return {REG_DWORD, static_cast<DWORD>(v)}; }

class StartFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    ASSERT_FALSE(KeyExists());
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey); }
};

// Runs `action` from inside the dialog's modal loop. If the dialog is still open 5 s later,
// it is ended with ModalResult::Abort, so a dialog that does not close fails the test
// instead of hanging it.
std::function<void()>* gAction = nullptr;
TStartForm* gForm = nullptr;
constexpr UINT_PTR kActionTimer = 0x5101, kWatchdogTimer = 0x5102;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(gForm->Handle(), id);
  if (id == kWatchdogTimer) {
    gForm->SetModalResult(static_cast<int>(win::ModalResult::Abort));
    return;
  }
  // The pumps of the Stop buttons may come first: act only on the shown dialog.
  if (!IsWindowVisible(gForm->Handle())) {
    SetTimer(gForm->Handle(), kActionTimer, 20, &OnTimer);
    return;
  }
  if (gAction) (*gAction)();
}

int ShowModalWith(TStartForm& form, std::function<void()> action) {
  gForm = &form;
  gAction = &action;
  SetTimer(form.Handle(), kActionTimer, 20, &OnTimer);
  SetTimer(form.Handle(), kWatchdogTimer, 5000, &OnTimer);
  const int result = form.ShowModal();
  KillTimer(form.Handle(), kWatchdogTimer);
  gAction = nullptr;
  return result;
}

constexpr int kAbort = static_cast<int>(win::ModalResult::Abort);

void Type(widgets::TSpinEdit& field, const std::string& chars) {
  ::SetFocus(field.Handle());
  SendMessageA(field.Handle(), EM_SETSEL, 0, -1);
  for (char c : chars) SendMessageA(field.Handle(), WM_CHAR, static_cast<unsigned char>(c), 1);
}

void ClickOk(TStartForm& form) { SendMessageA(form.BitBtn1.Handle(), BM_CLICK, 0, 0); }

RECT InForm(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string TextOf(HWND hwnd) {
  char buffer[256] = {};
  GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

TEST_F(StartFormTest, Layout) {
  TStartForm form;
  HWND hwnd = form.Handle();
  EXPECT_EQ(TextOf(hwnd), "Settings...");
  EXPECT_FALSE(IsWindowVisible(hwnd));
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 303);
  EXPECT_EQ(client.bottom, 161);
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  RECT window, work;
  GetWindowRect(hwnd, &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR(window.left + window.right, work.left + work.right, 1);
  EXPECT_NEAR(window.top + window.bottom, work.top + work.bottom, 1);

  struct Expect {
    HWND hwnd;
    const char* text;
    int left, top, width, height;  // width 0: sized to its text
  } expected[] = {
      {form.GroupBox1.Handle(), "", 10, 6, 283, 105},
      {form.Label3.Handle(), "Skip top", 107, 39, 0, 0},
      {form.SkipSpinEdit.Handle(), "0", 158, 34, 51, 22},
      {form.Label2.Handle(), "results", 219, 38, 0, 0},
      {form.Label1.Handle(), "Max number of results", 47, 72, 0, 0},
      {form.MaxResultsSpinEdit.Handle(), "20", 158, 67, 51, 22},
      {form.BitBtn1.Handle(), "OK", 215, 121, 77, 35},
  };
  for (const Expect& e : expected) {
    const RECT r = InForm(e.hwnd);
    EXPECT_EQ(TextOf(e.hwnd), e.text);
    EXPECT_EQ(r.left, e.left) << e.text;
    EXPECT_EQ(r.top, e.top) << e.text;
    if (e.width) {
      EXPECT_EQ(r.right - r.left, e.width) << e.text;
      EXPECT_EQ(r.bottom - r.top, e.height) << e.text;
    }
  }
  // "Max number of results" ends before its field starts.
  EXPECT_LE(InForm(form.Label1.Handle()).right, 158);

  // OK first in the tab order, then the two fields; no default button.
  HWND first = GetNextDlgTabItem(hwnd, nullptr, FALSE);
  EXPECT_EQ(first, form.BitBtn1.Handle());
  EXPECT_EQ(GetNextDlgTabItem(hwnd, first, FALSE), form.SkipSpinEdit.Handle());
  EXPECT_EQ(GetNextDlgTabItem(hwnd, form.SkipSpinEdit.Handle(), FALSE), form.MaxResultsSpinEdit.Handle());
  EXPECT_EQ(GetWindowLongA(form.BitBtn1.Handle(), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);

  EXPECT_EQ(form.SkipSpinEdit.MinValue, 0);
  EXPECT_EQ(form.SkipSpinEdit.MaxValue, 0);
  EXPECT_EQ(form.SkipSpinEdit.MaxLength(), 3);
  EXPECT_EQ(form.MaxResultsSpinEdit.MinValue, 2);
  EXPECT_EQ(form.MaxResultsSpinEdit.MaxValue, 30);
  EXPECT_EQ(form.MaxResultsSpinEdit.MaxLength(), 2);
}

TEST_F(StartFormTest, FirstStartShowsDefaultsAndTheFirstCloseStoresThem) {
  TStartForm form;
  EXPECT_EQ(form.SkipSpinEdit.Value(), 0);
  EXPECT_EQ(form.MaxResultsSpinEdit.Value(), 20);
  EXPECT_FALSE(KeyExists()) << "reading must not create the key";
  EXPECT_NE(ShowModalWith(form, [&] { ClickOk(form); }), kAbort);
  EXPECT_FALSE(IsWindowVisible(form.Handle()));
  EXPECT_EQ(Read("skip"), Dword(0));
  EXPECT_EQ(Read("results"), Dword(20));
}

TEST_F(StartFormTest, StoredValuesAreReadBoundedAndWrittenBack) {
  struct Case {
    const char* name;
    std::function<void()> store;
    std::string skipText, resultsText;
  } cases[] = {
      {"both stored", [] { WriteDword("skip", 5), WriteDword("results", 17); }, "5", "17"},
      {"results 50", [] { WriteDword("results", 50); }, "0", "30"},
      {"results 1", [] { WriteDword("results", 1); }, "0", "2"},
      {"negative skip", [] { WriteDword("skip", static_cast<DWORD>(-4)); }, "-4", "20"},
      {"skip as text", [] { WriteText("skip", "7"), WriteDword("results", 10); }, "0", "20"},
      {"long text skip", [] { WriteText("skip", "a longer text"), WriteDword("results", 10); }, "0", "20"},
      {"results as text", [] { WriteDword("skip", 3), WriteText("results", "12"); }, "3", "20"},
      {"binary skip", [] {
         const DWORD v = 9;
         Write("skip", REG_BINARY, &v, sizeof v);
         WriteDword("results", 10);
       }, "0", "20"},
      {"empty key", [] { Write("other", REG_SZ, "", 1); }, "0", "20"},
  };
  for (const Case& c : cases) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    c.store();
    TStartForm form;
    EXPECT_EQ(form.SkipSpinEdit.Text(), c.skipText) << c.name;
    EXPECT_EQ(form.MaxResultsSpinEdit.Text(), c.resultsText) << c.name;
    SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
    // Whatever was shown is what the close stores, now as REG_DWORD.
    EXPECT_EQ(Read("skip"), Dword(std::stoi(c.skipText))) << c.name;
    EXPECT_EQ(Read("results"), Dword(std::stoi(c.resultsText))) << c.name;
  }
}

TEST_F(StartFormTest, TypedValuesAreBoundedWhenTheFocusMovesToOk) {
  struct Case {
    bool results;  // else skip
    std::string typed, shown;
  } cases[] = {
      {true, "45", "30"}, {true, "1", "2"},     {true, "123", "12"},  // typing stops at 2 characters
      {true, "-", "-"},   // no number: reads as 2 and is left as typed
      {false, "1234", "123"}, {false, "-99", "-99"}, {false, "45", "45"},
  };
  for (const Case& c : cases) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    TStartForm form;
    widgets::TSpinEdit& field = c.results ? form.MaxResultsSpinEdit : form.SkipSpinEdit;
    std::string typed;
    EXPECT_NE(ShowModalWith(form,
                            [&] {
                              Type(field, c.typed);
                              typed = field.Text();
                              ClickOk(form);  // the press moves the focus to OK first
                            }),
              kAbort);
    EXPECT_EQ(field.Text(), c.shown) << c.typed << " (typed as " << typed << ")";
    EXPECT_EQ(Read(c.results ? "results" : "skip"), Dword(field.Value())) << c.typed;
  }
}

TEST_F(StartFormTest, DownArrowInSkipGoesBelowZero) {
  TStartForm form;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            ::SetFocus(form.SkipSpinEdit.Handle());
                            SendMessageA(form.SkipSpinEdit.Handle(), WM_KEYDOWN, VK_DOWN, 1);
                            SendMessageA(form.SkipSpinEdit.Handle(), WM_KEYDOWN, VK_DOWN, 1);
                            ClickOk(form);
                          }),
            kAbort);
  EXPECT_EQ(form.SkipSpinEdit.Text(), "-2");
  EXPECT_EQ(Read("skip"), Dword(-2));
}

TEST_F(StartFormTest, EveryWayOfClosingStoresTheEditedValues) {
  struct Case {
    const char* name;
    std::function<void(TStartForm&)> close;
  } cases[] = {
      {"OK", [](TStartForm& f) { ClickOk(f); }},
      {"close box", [](TStartForm& f) { PostMessageA(f.Handle(), WM_CLOSE, 0, 0); }},
      {"system menu", [](TStartForm& f) { PostMessageA(f.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Case& c : cases) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    TStartForm form;
    EXPECT_NE(ShowModalWith(form,
                            [&] {
                              Type(form.SkipSpinEdit, "7");
                              Type(form.MaxResultsSpinEdit, "45");  // the focus stays here
                              c.close(form);
                            }),
              kAbort)
        << c.name;
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << c.name;
    EXPECT_EQ(Read("skip"), Dword(7)) << c.name;
    EXPECT_EQ(Read("results"), Dword(30)) << c.name;
    EXPECT_EQ(form.MaxResultsSpinEdit.Text(), "30") << c.name;
  }
}

TEST_F(StartFormTest, OkHasTheFocusAtEveryOpeningAndEscDoesNothing) {
  TStartForm form;
  HWND focusAtOpen = nullptr;
  bool openAfterEsc = false;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            focusAtOpen = GetFocus();
                            ::SetFocus(form.MaxResultsSpinEdit.Handle());
                            // Esc through the dialog manager, as typed.
                            PostMessageA(form.MaxResultsSpinEdit.Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
                            PostMessageA(form.MaxResultsSpinEdit.Handle(), WM_KEYUP, VK_ESCAPE, 0xC0000001);
                            win::Application::Instance().ProcessMessages();
                            openAfterEsc = IsWindowVisible(form.Handle()) != FALSE;
                            PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
                          }),
            kAbort);
  EXPECT_EQ(focusAtOpen, form.BitBtn1.Handle());
  EXPECT_TRUE(openAfterEsc);
  focusAtOpen = nullptr;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            focusAtOpen = GetFocus();
                            ClickOk(form);
                          }),
            kAbort);
  EXPECT_EQ(focusAtOpen, form.BitBtn1.Handle());
}

TEST_F(StartFormTest, RegistryIsReadOnlyOncePerStart) {
  WriteDword("results", 12);
  TStartForm form;
  WriteDword("results", 25);  // another program changes it while the dialog lives
  int shown = 0;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            shown = form.MaxResultsSpinEdit.Value();
                            ClickOk(form);
                          }),
            kAbort);
  EXPECT_EQ(shown, 12);
  EXPECT_EQ(Read("results"), Dword(12));  // the close writes the field's value
  WriteDword("results", 25);
  TStartForm nextStart;
  EXPECT_EQ(nextStart.MaxResultsSpinEdit.Value(), 25);
}

// Saves a 24-bit bottom-up BMP of the window as it is on the screen.
bool SaveWindowBmp(HWND hwnd, const std::string& path) {
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC windowDc = GetWindowDC(hwnd);
  HDC mem = CreateCompatibleDC(windowDc);
  HBITMAP bmp = CreateCompatibleBitmap(windowDc, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, windowDc, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int stride = (w * 3 + 3) & ~3;
  std::vector<unsigned char> bits(static_cast<size_t>(stride) * h);
  const int lines = GetDIBits(mem, bmp, 0, h, bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(hwnd, windowDc);
  if (lines != h) return false;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(bits.size());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
            std::fwrite(bits.data(), bits.size(), 1, f) == 1;
  return std::fclose(f) == 0 && ok;
}

TEST_F(StartFormTest, Screenshot) {
  WriteDword("skip", 10);
  TStartForm form;
  bool saved = false;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            RedrawWindow(form.Handle(), nullptr, nullptr,
                                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
                            win::Application::Instance().ProcessMessages();
                            CreateDirectoryA(QUILLET_SCREENSHOT_DIR, nullptr);
                            saved = SaveWindowBmp(form.Handle(), QUILLET_SCREENSHOT_DIR "/settings.bmp");
                            ClickOk(form);
                          }),
            kAbort);
  EXPECT_TRUE(saved);
}

// Runs last: the main window it makes posts the quit message when it goes, which it takes back.
TEST_F(StartFormTest, SettingsMenuStopsBothRunsAndShowsTheDialogModally) {
  struct QuitTakenBack {
    ~QuitTakenBack() {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
      }
      App().SetMainWindow(nullptr);
    }
  } quitTakenBack;
  TForm1 form1(ServiceHosts{});
  TStartForm startForm;
  EXPECT_EQ(GetWindow(startForm.Handle(), GW_OWNER), form1.Handle());
  form1.SetDialogs(&startForm, nullptr);
  form1.Show();
  form1.StopFlag = false;
  form1.Stop2Flag = false;
  bool stoppedBeforeShowing = false, mainDisabled = false, shown = false;
  gForm = &startForm;
  std::function<void()> action = [&] {
    stoppedBeforeShowing = form1.StopFlag && form1.Stop2Flag;
    mainDisabled = !IsWindowEnabled(form1.Handle());
    shown = IsWindowVisible(startForm.Handle()) != FALSE;
    Type(startForm.MaxResultsSpinEdit, "9");
    ClickOk(startForm);
  };
  gAction = &action;
  SetTimer(startForm.Handle(), kActionTimer, 20, &OnTimer);
  SetTimer(startForm.Handle(), kWatchdogTimer, 5000, &OnTimer);
  form1.Settings1Click();
  KillTimer(startForm.Handle(), kWatchdogTimer);
  gAction = nullptr;
  EXPECT_TRUE(stoppedBeforeShowing);
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(IsWindowEnabled(form1.Handle()));
  EXPECT_FALSE(IsWindowVisible(startForm.Handle()));
  // The field itself is the setting in effect.
  EXPECT_EQ(startForm.MaxResultsSpinEdit.Value(), 9);
  EXPECT_EQ(Read("results"), Dword(9));
}

}  // namespace
}  // namespace quillet
