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
#include "tests/app/Harness.h"

namespace quillet {
namespace {

constexpr char kKey[] = "Software\\Orvane\\Quillet1\\Setup";
constexpr char kVendorKey[] = "Software\\Orvane";

// A REG_DWORD as stored, or nothing when missing or of another type.
std::optional<int32_t> Stored(const char* name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return static_cast<int32_t>(value);
}

void Store(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), 0);
  RegCloseKey(key);
}
void StoreDword(const char* name, DWORD v) { Store(name, REG_DWORD, &v, sizeof v); }
void StoreText(const char* name, const char* s) { Store(name, REG_SZ, s, static_cast<DWORD>(strlen(s) + 1)); }

class StartFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApp();
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey); }
};

// Runs an action from inside the dialog's modal loop, once the dialog shows. A dialog still
// open 5 s later is ended with ModalResult::Abort, so that it fails the test, not hangs it.
std::function<void()>* gAction = nullptr;
TStartForm* gForm = nullptr;
constexpr UINT_PTR kActionTimer = 0x5101, kWatchdogTimer = 0x5102;
constexpr int kAbort = static_cast<int>(win::ModalResult::Abort);

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(gForm->Handle(), id);
  if (id == kWatchdogTimer) gForm->SetModalResult(kAbort);
  else if (!IsWindowVisible(gForm->Handle()))  // a pump before the dialog shows
    SetTimer(gForm->Handle(), kActionTimer, 20, &OnTimer);
  else if (gAction) (*gAction)();
}

int WhileShown(TStartForm& form, std::function<void()> action, const std::function<int()>& show) {
  gForm = &form;
  gAction = &action;
  SetTimer(form.Handle(), kActionTimer, 20, &OnTimer);
  SetTimer(form.Handle(), kWatchdogTimer, 5000, &OnTimer);
  const int result = show();
  KillTimer(form.Handle(), kWatchdogTimer);
  gAction = nullptr;
  return result;
}
int ShowModalWith(TStartForm& form, std::function<void()> action) {
  return WhileShown(form, std::move(action), [&] { return form.ShowModal(); });
}

void Type(widgets::TSpinEdit& field, const std::string& chars) {
  ::SetFocus(field.Handle());
  SendMessageA(field.Handle(), EM_SETSEL, 0, -1);
  for (char c : chars) SendMessageA(field.Handle(), WM_CHAR, static_cast<unsigned char>(c), 1);
}

// A real press: the button takes the focus, then clicks.
void ClickOk(TStartForm& form) { SendMessageA(form.BitBtn1.Handle(), BM_CLICK, 0, 0); }

TEST_F(StartFormTest, Layout) {
  TStartForm form;
  HWND hwnd = form.Handle();
  char caption[32] = {};
  GetWindowTextA(hwnd, caption, sizeof caption);
  EXPECT_STREQ(caption, "Settings...");
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 303);
  EXPECT_EQ(client.bottom, 161);
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  struct Expect {
    HWND hwnd;
    int left, top, width, height;  // width 0: sized to its text
  } expected[] = {
      {form.GroupBox1.Handle(), 10, 6, 283, 105},    {form.Label3.Handle(), 107, 39, 0, 0},
      {form.SkipSpinEdit.Handle(), 158, 34, 51, 22}, {form.Label2.Handle(), 219, 38, 0, 0},
      {form.Label1.Handle(), 47, 72, 0, 0},          {form.MaxResultsSpinEdit.Handle(), 158, 67, 51, 22},
      {form.BitBtn1.Handle(), 215, 121, 77, 35},
  };
  for (const Expect& e : expected) {
    RECT r;
    GetWindowRect(e.hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, hwnd, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, e.left) << e.top;
    EXPECT_EQ(r.top, e.top) << e.left;
    if (e.width) {
      EXPECT_EQ(r.right - r.left, e.width) << e.top;
      EXPECT_EQ(r.bottom - r.top, e.height) << e.top;
    }
  }
  // OK first in the tab order, then the two fields; no default button.
  EXPECT_EQ(GetNextDlgTabItem(hwnd, nullptr, FALSE), form.BitBtn1.Handle());
  EXPECT_EQ(GetNextDlgTabItem(hwnd, form.BitBtn1.Handle(), FALSE), form.SkipSpinEdit.Handle());
  EXPECT_EQ(GetWindowLongA(form.BitBtn1.Handle(), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
  EXPECT_EQ(form.SkipSpinEdit.MinValue, form.SkipSpinEdit.MaxValue);
}

TEST_F(StartFormTest, FirstStartShowsDefaultsAndTheFirstCloseStoresThem) {
  TStartForm form;
  EXPECT_EQ(form.SkipSpinEdit.Text(), "0");
  EXPECT_EQ(form.MaxResultsSpinEdit.Text(), "20");
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS) << "reading created the key";
  EXPECT_NE(ShowModalWith(form, [&] { ClickOk(form); }), kAbort);
  EXPECT_EQ(Stored("skip"), 0);
  EXPECT_EQ(Stored("results"), 20);
}

TEST_F(StartFormTest, StoredValuesAreReadBoundedAndWrittenBackAsShown) {
  const DWORD four = 9;
  struct Case {
    const char* name;
    std::function<void()> store;
    int32_t skip, results;
  } cases[] = {
      {"both", [] { StoreDword("skip", 5), StoreDword("results", 17); }, 5, 17},
      {"results 50", [] { StoreDword("results", 50); }, 0, 30},
      {"results 1", [] { StoreDword("results", 1); }, 0, 2},
      {"negative skip", [] { StoreDword("skip", static_cast<DWORD>(-4)); }, -4, 20},
      // A value of another type ends the reading: what follows is not read either.
      {"skip as text", [] { StoreText("skip", "7"), StoreDword("results", 10); }, 0, 20},
      {"skip binary", [&] { Store("skip", REG_BINARY, &four, 4), StoreDword("results", 10); }, 0, 20},
      {"results as text", [] { StoreDword("skip", 3), StoreText("results", "12"); }, 3, 20},
  };
  for (const Case& c : cases) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    c.store();
    TStartForm form;
    EXPECT_EQ(form.SkipSpinEdit.Value(), c.skip) << c.name;
    EXPECT_EQ(form.MaxResultsSpinEdit.Value(), c.results) << c.name;
    SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(Stored("skip"), c.skip) << c.name;
    EXPECT_EQ(Stored("results"), c.results) << c.name;
  }
}

TEST_F(StartFormTest, EditsAreBoundedWhenTheFocusMovesToOk) {
  struct Case {
    bool results;  // else skip
    std::string typed, shown;
    WPARAM key = 0;  // then pressed in the field
  } cases[] = {
      {true, "45", "30"},     {true, "1", "2"},      {true, "123", "12"},  // typing stops at 2 characters
      {false, "1234", "123"}, {false, "-99", "-99"}, {false, "0", "-1", VK_DOWN}, {true, "30", "30", VK_UP},
  };
  for (const Case& c : cases) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    TStartForm form;
    widgets::TSpinEdit& field = c.results ? form.MaxResultsSpinEdit : form.SkipSpinEdit;
    EXPECT_NE(ShowModalWith(form,
                            [&] {
                              Type(field, c.typed);
                              if (c.key) SendMessageA(field.Handle(), WM_KEYDOWN, c.key, 1);
                              ClickOk(form);
                            }),
              kAbort);
    EXPECT_EQ(field.Text(), c.shown) << c.typed;
    EXPECT_EQ(Stored(c.results ? "results" : "skip"), std::stoi(c.shown)) << c.typed;
  }
}

TEST_F(StartFormTest, EveryWayOfClosingStoresTheEditedValues) {
  const std::pair<const char*, std::function<void(TStartForm&)>> ways[] = {
      {"OK", [](TStartForm& f) { ClickOk(f); }},
      {"close box", [](TStartForm& f) { PostMessageA(f.Handle(), WM_CLOSE, 0, 0); }},
      {"system menu", [](TStartForm& f) { PostMessageA(f.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const auto& [name, close] : ways) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    TStartForm form;
    EXPECT_NE(ShowModalWith(form,
                            [&] {
                              Type(form.SkipSpinEdit, "7");
                              Type(form.MaxResultsSpinEdit, "45");  // the focus stays here
                              close(form);
                            }),
              kAbort)
        << name;
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << name;
    EXPECT_EQ(Stored("skip"), 7) << name;
    EXPECT_EQ(Stored("results"), 30) << name;
  }
}

TEST_F(StartFormTest, OkHasTheFocusAtEveryOpeningAndEscDoesNothing) {
  TStartForm form;
  std::vector<HWND> focusAtOpen;
  bool openAfterEsc = false;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            focusAtOpen.push_back(GetFocus());
                            ::SetFocus(form.MaxResultsSpinEdit.Handle());
                            // Through the message loop and its dialog keys, as typed.
                            PostMessageA(form.MaxResultsSpinEdit.Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
                            win::Application::Instance().ProcessMessages();
                            openAfterEsc = IsWindowVisible(form.Handle()) != FALSE;
                            PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
                          }),
            kAbort);
  EXPECT_TRUE(openAfterEsc);
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            focusAtOpen.push_back(GetFocus());
                            ClickOk(form);
                          }),
            kAbort);
  EXPECT_EQ(focusAtOpen, std::vector<HWND>(2, form.BitBtn1.Handle()));
}

// On the real keyboard, Enter in a field beeps and changes nothing (the dialog stays open),
// and Tab still moves the focus on, from the last field round to "OK".
TEST_F(StartFormTest, EnterInAFieldBeepsAndTabMovesOn) {
  TStartForm form;
  int beeps = 0;
  form.MaxResultsSpinEdit.beep = [&] { ++beeps; };
  bool beeped = false, openAfterEnter = false, tabbedToOk = false;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            ::SetFocus(form.MaxResultsSpinEdit.Handle());
                            test::PressKeys({VK_RETURN});
                            beeped = test::PumpUntil([&] { return beeps == 1; }, 2000);
                            openAfterEnter = IsWindowVisible(form.Handle()) != FALSE;
                            test::PressKeys({VK_TAB});
                            tabbedToOk = test::PumpUntil([&] { return GetFocus() == form.BitBtn1.Handle(); }, 2000);
                            PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
                          }),
            kAbort);
  EXPECT_TRUE(beeped);
  EXPECT_EQ(beeps, 1);
  EXPECT_TRUE(openAfterEnter);
  EXPECT_TRUE(tabbedToOk);
  EXPECT_EQ(form.MaxResultsSpinEdit.Text(), "20");
}

// Stores "results" from another process, the system's registry tool.
bool StoreResultsElsewhere(int value) {
  std::string command =
      "reg.exe add HKCU\\" + std::string(kKey) + " /v results /t REG_DWORD /f /d " + std::to_string(value);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code == 0;
}

TEST_F(StartFormTest, RegistryIsReadOnlyOncePerStart) {
  StoreDword("results", 12);
  TStartForm form;
  ASSERT_TRUE(StoreResultsElsewhere(25));
  ASSERT_EQ(Stored("results"), 25);
  EXPECT_NE(ShowModalWith(form, [&] { ClickOk(form); }), kAbort);
  EXPECT_EQ(form.MaxResultsSpinEdit.Value(), 12);
  EXPECT_EQ(Stored("results"), 12);  // the close writes the field's value over it
  ASSERT_TRUE(StoreResultsElsewhere(25));
  TStartForm nextStart;
  EXPECT_EQ(nextStart.MaxResultsSpinEdit.Value(), 25);
}

// Saves the window as it is on the screen as a 24-bit BMP.
bool SaveWindowBmp(HWND hwnd, const char* path) {
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC windowDc = GetWindowDC(hwnd);
  win::MemoryDcHandle mem(CreateCompatibleDC(windowDc));
  win::BitmapHandle bmp(CreateCompatibleBitmap(windowDc, w, h));
  {
    win::SelectGuard select(mem.get(), bmp.get());
    BitBlt(mem.get(), 0, 0, w, h, windowDc, 0, 0, SRCCOPY);
  }
  ReleaseDC(hwnd, windowDc);
  BITMAPINFOHEADER info{sizeof info, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<unsigned char> bits(static_cast<size_t>((w * 3 + 3) & ~3) * h);
  if (GetDIBits(mem.get(), bmp.get(), 0, h, bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != h)
    return false;
  BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof file + sizeof info};
  file.bfSize = file.bfOffBits + static_cast<DWORD>(bits.size());
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
                  std::fwrite(bits.data(), bits.size(), 1, f) == 1;
  return std::fclose(f) == 0 && ok;
}

TEST_F(StartFormTest, Screenshot) {
  StoreDword("skip", 10);
  TStartForm form;
  bool saved = false;
  EXPECT_NE(ShowModalWith(form,
                          [&] {
                            RedrawWindow(form.Handle(), nullptr, nullptr,
                                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
                            CreateDirectoryA(QUILLET_SCREENSHOT_DIR, nullptr);
                            saved = SaveWindowBmp(form.Handle(), QUILLET_SCREENSHOT_DIR "/settings.bmp");
                            ClickOk(form);
                          }),
            kAbort);
  EXPECT_TRUE(saved);
}

// Runs last: the main window posts the quit message when it goes, which is taken back.
TEST_F(StartFormTest, SettingsMenuStopsBothRunsAndShowsTheDialogModally) {
  struct QuitTakenBack {
    ~QuitTakenBack() {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
      }
      win::Application::Instance().SetMainWindow(nullptr);
    }
  } quitTakenBack;
  TForm1 form1(ServiceHosts{});
  TStartForm startForm;
  EXPECT_EQ(GetWindow(startForm.Handle(), GW_OWNER), form1.Handle());
  form1.SetDialogs(&startForm, nullptr);
  form1.Show();
  form1.StopFlag = false;
  form1.Stop2Flag = false;
  bool stopped = false, mainDisabled = false;
  const int result = WhileShown(
      startForm,
      [&] {
        stopped = form1.StopFlag && form1.Stop2Flag;
        mainDisabled = !IsWindowEnabled(form1.Handle());
        Type(startForm.MaxResultsSpinEdit, "9");
        ClickOk(startForm);
      },
      [&] {
        form1.Settings1Click();
        return startForm.GetModalResult();
      });
  EXPECT_NE(result, kAbort);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(IsWindowEnabled(form1.Handle()));
  EXPECT_FALSE(IsWindowVisible(startForm.Handle()));
  EXPECT_EQ(startForm.MaxResultsSpinEdit.Value(), 9);  // the field itself is the setting in effect
  EXPECT_EQ(Stored("results"), 9);
}

}  // namespace
}  // namespace quillet
