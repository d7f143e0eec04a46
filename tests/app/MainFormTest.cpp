// The main window through its real controls: layout, menus, the Stop and close rules, the
// shell requests, and a category research run against a scripted loopback server.
#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/Startup.h"
#include "tests/app/Harness.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedServices.h"

namespace quillet {
namespace {

using test::ClassOf;
using test::RectInParent;
using test::TestApp;
using test::WindowText;

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp().SetShell([this](const win::ShellRequest& r) { shell.push_back(r); });
  }
  void TearDown() override {
    form.reset();
    MSG msg;  // the main window's destruction posted WM_QUIT
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    TestApp().SetShell({});
  }
  TForm1& Make(const std::string& host = "127.0.0.1:9") {
    form = std::make_unique<TForm1>(ServiceHosts{"http://" + host, "http://" + host, "http://" + host});
    return *form;
  }
  std::unique_ptr<TForm1> form;
  std::vector<win::ShellRequest> shell;
};

void ExpectBounds(HWND hwnd, int left, int top, int width, int height, const char* what) {
  const RECT r = RectInParent(hwnd);
  EXPECT_EQ(r.left, left) << what;
  EXPECT_EQ(r.top, top) << what;
  EXPECT_EQ(r.right - r.left, width) << what;
  EXPECT_EQ(r.bottom - r.top, height) << what;
}

std::string MenuText(HMENU menu, UINT position) {
  char buffer[256] = {};
  GetMenuStringA(menu, position, buffer, sizeof buffer, MF_BYPOSITION);
  return buffer;
}

TEST_F(MainFormTest, WindowFrameAndState) {
  TForm1& f = Make();
  HWND hwnd = f.Handle();
  EXPECT_EQ(WindowText(hwnd), "Quillet");
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 502);
  EXPECT_EQ(client.bottom, 390);
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  RECT window, work;
  GetWindowRect(hwnd, &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((window.left + window.right) / 2, (work.left + work.right) / 2, 1);
  EXPECT_NEAR((window.top + window.bottom) / 2, (work.top + work.bottom) / 2, 1);

  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(f.leCategory.Handle(), WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(font.lfHeight, -11);

  EXPECT_TRUE(f.StopFlag);
  EXPECT_TRUE(f.Stop2Flag);
  EXPECT_EQ(f.SortColumn, 0);
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  dir.resize(dir.find_last_of('\\') + 1);
  EXPECT_EQ(f.ProgramDir, dir);
  EXPECT_EQ(f.OpenDialog1.initialDir, dir);
  EXPECT_EQ(f.OpenDialog1.filter, "Quillet files (*.qlc)|*.qlc");
  EXPECT_EQ(f.OpenDialog1.defaultExt, "qlc");

  // Status bar: bottom edge, 19 pixels, one simple text, empty.
  EXPECT_TRUE(SendMessageA(f.StatusBar1.Handle(), SB_ISSIMPLE, 0, 0));
  const RECT bar = RectInParent(f.StatusBar1.Handle());
  EXPECT_EQ(bar.bottom, 390);
  EXPECT_EQ(bar.bottom - bar.top, 19);
  EXPECT_EQ(f.StatusBar1.SimpleText(), "");
}

TEST_F(MainFormTest, TabsAndTheirControls) {
  TForm1& f = Make();
  ExpectBounds(f.PageControl1.Handle(), 7, 17, 491, 351, "PageControl1");
  HWND tabs = f.PageControl1.Handle();
  ASSERT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
  const struct {
    const char* caption;
    int image;
  } pages[] = {{"Category  ", 4}, {"Idea Catcher  ", 3}, {"Affiliate Program  ", 5}};
  for (int i = 0; i < 3; ++i) {
    char text[64] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(text, pages[i].caption);
    EXPECT_EQ(item.iImage, pages[i].image);
  }
  EXPECT_EQ(f.PageControl1.ActivePage(), 0);
  EXPECT_EQ(ImageList_GetImageCount(f.ImageList1.Handle()), 8);

  const struct {
    HWND hwnd;
    const char* cls;
    const char* text;
    int left, top, width, height;
  } controls[] = {
      {f.leCategory.Handle(), "Edit", "", 131, 20, 185, 21},
      {f.BitBtn2.Handle(), "Button", "Start", 334, 15, 60, 30},
      {f.StopBtn.Handle(), "Button", "Stop", 408, 15, 60, 30},
      {f.ListView1.Handle(), "SysListView32", "", 4, 61, 474, 250},
      {f.ListView2.Handle(), "SysListView32", "", 15, 25, 321, 274},
      {f.BitBtn3.Handle(), "Button", "Clear", 375, 110, 75, 25},
      {f.EffaceBtn.Handle(), "Button", "Delete", 375, 150, 75, 25},
      {f.BitBtn5.Handle(), "Button", "Save", 375, 190, 75, 25},
      {f.BitBtn6.Handle(), "Button", "Load", 375, 228, 75, 25},
      {f.BitBtn1.Handle(), "Button", "Search", 322, 18, 71, 30},
      {f.Stop2Btn.Handle(), "Button", "Stop", 405, 18, 60, 30},
      {f.ListView3.Handle(), "SysListView32", "", 3, 61, 476, 250},
  };
  for (const auto& c : controls) {
    EXPECT_STRCASEEQ(ClassOf(c.hwnd).c_str(), c.cls) << c.text;
    EXPECT_EQ(WindowText(c.hwnd), c.text);
    ExpectBounds(c.hwnd, c.left, c.top, c.width, c.height, c.text);
  }
  const RECT combo = RectInParent(f.cbCategory.Handle());
  EXPECT_EQ(combo.left, 115);
  EXPECT_EQ(combo.top, 23);
  EXPECT_EQ(combo.right - combo.left, 181);
  EXPECT_EQ(GetWindowLongA(f.cbCategory.Handle(), GWL_STYLE) & 3, CBS_DROPDOWN);
  EXPECT_EQ(WindowText(f.Label1.Handle()), "Select category;");
  EXPECT_EQ(RectInParent(f.Label1.Handle()).left, 31);
  EXPECT_EQ(RectInParent(f.Label1.Handle()).top, 26);
  EXPECT_EQ(WindowText(f.leCategoryLabel.Handle()), "Enter in a topic:");
  EXPECT_EQ(RectInParent(f.leCategoryLabel.Handle()).right, 131 - 5);
  EXPECT_FALSE(IsWindowEnabled(f.EffaceBtn.Handle()));
  // No default push button anywhere: Enter presses nothing.
  for (const auto& c : controls) {
    if (ClassOf(c.hwnd) == "Button") {
      EXPECT_NE(GetWindowLongA(c.hwnd, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << c.text;
    }
  }
}

TEST_F(MainFormTest, ListColumnsAndStyles) {
  TForm1& f = Make();
  const struct {
    win::ListView* list;
    std::vector<std::pair<std::string, int>> columns;
    bool checks, grid, single;
  } lists[] = {
      {&f.ListView1, {{"Category", 175}, {"Demand", 70}, {"Supply", 70}, {"Profitability", 115}}, true, true, true},
      {&f.ListView2, {{"Category", 175}, {"Profitability", 110}}, false, false, false},
      {&f.ListView3,
       {{"Website URL", 175}, {"Rank #", 65}, {"Estimated # of affiliates", 125}, {"Alexa traffic rank", 95}},
       false,
       true,
       true},
  };
  for (const auto& l : lists) {
    HWND hwnd = l.list->Handle();
    for (size_t i = 0; i < l.columns.size(); ++i) {
      char text[64] = {};
      LVCOLUMNA col{};
      col.mask = LVCF_TEXT | LVCF_WIDTH;
      col.pszText = text;
      col.cchTextMax = sizeof text;
      ASSERT_TRUE(SendMessageA(hwnd, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&col)));
      EXPECT_EQ(text, l.columns[i].first);
      EXPECT_EQ(col.cx, l.columns[i].second) << text;
    }
    LVCOLUMNA extra{};
    extra.mask = LVCF_WIDTH;
    EXPECT_FALSE(SendMessageA(hwnd, LVM_GETCOLUMNA, l.columns.size(), reinterpret_cast<LPARAM>(&extra)));
    const auto ex = SendMessageA(hwnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_EQ((ex & LVS_EX_CHECKBOXES) != 0, l.checks);
    EXPECT_EQ((ex & LVS_EX_GRIDLINES) != 0, l.grid);
    EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_EQ((style & LVS_TYPEMASK), LVS_REPORT);
    EXPECT_EQ((style & LVS_SINGLESEL) != 0, l.single);
    EXPECT_FALSE(style & LVS_EDITLABELS);
  }
  // A column cannot be dragged narrower than its minimum.
  SendMessageA(f.ListView1.Handle(), LVM_SETCOLUMNWIDTH, 0, 175);
  HWND header = reinterpret_cast<HWND>(SendMessageA(f.ListView1.Handle(), LVM_GETHEADER, 0, 0));
  HDITEMA item{};
  item.mask = HDI_WIDTH;
  item.cxy = 20;
  SendMessageA(header, HDM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(SendMessageA(f.ListView1.Handle(), LVM_GETCOLUMNWIDTH, 0, 0), 110);
}

TEST_F(MainFormTest, Menus) {
  TForm1& f = Make();
  HMENU bar = GetMenu(f.Handle());
  ASSERT_EQ(GetMenuItemCount(bar), 2);
  EXPECT_EQ(MenuText(bar, 0), "&File");
  EXPECT_EQ(MenuText(bar, 1), "&Help");
  const struct {
    HMENU menu;
    std::vector<std::string> items;
  } menus[] = {
      {GetSubMenu(bar, 0), {"Settings...", "", "E&xit"}},
      {GetSubMenu(bar, 1), {"&Contents", "The Quillet Homepage...", "", "&About..."}},
      {f.PopupMenu1.Handle(), {"Select All", "Select None", "Invert Selection", "", "Add selection to Idea Catcher"}},
  };
  for (const auto& m : menus) {
    ASSERT_EQ(GetMenuItemCount(m.menu), static_cast<int>(m.items.size()));
    for (size_t i = 0; i < m.items.size(); ++i) {
      EXPECT_EQ(MenuText(m.menu, static_cast<UINT>(i)), m.items[i]);
      const bool separator = (GetMenuState(m.menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) != 0;
      EXPECT_EQ(separator, m.items[i].empty());
    }
  }
  EXPECT_EQ(GetMenuDefaultItem(f.PopupMenu1.Handle(), FALSE, 0), TForm1::kAddtoIdeaCatcher1);
  for (int id : {TForm1::kSettings1, TForm1::kExit1, TForm1::kContents1, TForm1::kHomepage1, TForm1::kAbout1}) {
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_BITMAP;
    ASSERT_TRUE(GetMenuItemInfoA(bar, static_cast<UINT>(id), FALSE, &info));
    EXPECT_NE(info.hbmpItem, nullptr) << id;
  }
}

TEST_F(MainFormTest, StopButtonsSetTheirOwnFlagAndPump) {
  TForm1& f = Make();
  f.StopFlag = f.Stop2Flag = false;
  bool pumped = false;
  f.BitBtn1.onClick = [&] { pumped = true; };  // reached only through a pump
  PostMessageA(f.BitBtn1.Handle(), BM_CLICK, 0, 0);
  SendMessageA(f.StopBtn.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(f.StopFlag);
  EXPECT_FALSE(f.Stop2Flag);
  EXPECT_TRUE(pumped);
  f.StopFlag = false;
  SendMessageA(f.Stop2Btn.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(f.Stop2Flag);
  EXPECT_FALSE(f.StopFlag);
}

TEST_F(MainFormTest, HelpCommandsGoToTheShell) {
  TForm1& f = Make();
  SendMessageA(f.Handle(), WM_COMMAND, TForm1::kContents1, 0);
  SendMessageA(f.Handle(), WM_COMMAND, TForm1::kHomepage1, 0);
  ASSERT_EQ(shell.size(), 2u);
  const HWND app = TestApp().Handle();
  EXPECT_EQ(shell[0], (win::ShellRequest{app, "open", "help.chm", "", "", SW_SHOWMAXIMIZED}));
  EXPECT_EQ(shell[1].verb, "open");
  EXPECT_EQ(shell[1].file.rfind("http://", 0), 0u);
  EXPECT_EQ(shell[1].show, SW_SHOWMAXIMIZED);
  EXPECT_TRUE(shell[1].params.empty() && shell[1].directory.empty());
}

TEST_F(MainFormTest, ClosingPressesBothStopsAndDestroysTheWindow) {
  for (int viaMenu = 0; viaMenu < 2; ++viaMenu) {
    TForm1& f = Make();
    f.StopFlag = f.Stop2Flag = false;
    HWND hwnd = f.Handle();
    if (viaMenu) SendMessageA(hwnd, WM_COMMAND, TForm1::kExit1, 0);
    else SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(f.StopFlag);
    EXPECT_TRUE(f.Stop2Flag);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    TearDown();
  }
}

// The single-instance test never finds its own application window, but finds another one.
TEST_F(MainFormTest, AlreadyRunning) {
  win::Application& app = TestApp();
  app.SetTitle("Quillet");
  EXPECT_FALSE(AlreadyRunning(app));
  EXPECT_EQ(app.Title(), "Quillet");
  HWND other = CreateWindowExA(0, win::Application::kWindowClass, "Quillet", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  EXPECT_TRUE(AlreadyRunning(app));
  EXPECT_EQ(app.Title(), "Quillet");
  SetWindowTextA(other, "Quillet 2");
  EXPECT_FALSE(AlreadyRunning(app));
  DestroyWindow(other);
}

std::vector<std::vector<std::string>> Rows(win::ListView& list) { return test::ShownRows(list.Handle(), 4); }

TEST_F(MainFormTest, StartFillsTheListRowByRow) {
  test::LoopbackServer server(test::CategoryAnswer);
  TForm1& f = Make("127.0.0.1:" + std::to_string(server.Port()));
  f.leCategory.SetText("dog \"training\"");
  SendMessageA(f.BitBtn2.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(Rows(f.ListView1), (std::vector<std::vector<std::string>>{{"dog training", "1000", "50000", "20"},
                                                                      {"dog collars", "150", "2000", "11.25"},
                                                                      {"puppy", "7", "?", "49"}}));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(f.ListView1.Checked(i));
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
  EXPECT_EQ(TestApp().OverrideCursor(), nullptr);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(test::RequestTarget(requests[0]), "/d/searchinventory/suggestion/?term=dog%20training&mkt=us&lang=en_US");
}

TEST_F(MainFormTest, StopButtonEndsTheRunAfterTheRowInProgress) {
  TForm1* self = nullptr;
  test::LoopbackServer server([&](const std::string& target) {
    // While the second row's Supply is fetched, the user presses Stop.
    if (target == "/search?p=%22dog+collars%22") PostMessageA(self->StopBtn.Handle(), BM_CLICK, 0, 0);
    return test::CategoryAnswer(target);
  });
  TForm1& f = Make("127.0.0.1:" + std::to_string(server.Port()));
  self = &f;
  SendMessageA(f.BitBtn2.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(f.ListView1.Count(), 2);
  EXPECT_EQ(Rows(f.ListView1)[1], (std::vector<std::string>{"dog collars", "150", "2000", "11.25"}));
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
}

// Esc held down at the end of a row ends the run there; the key state is the real one.
TEST_F(MainFormTest, EscapeHeldEndsTheRunAfterTheRow) {
  test::LoopbackServer server([&](const std::string& target) {
    if (target == "/search?p=%22dog+collars%22") {
      INPUT key{};
      key.type = INPUT_KEYBOARD;
      key.ki.wVk = VK_ESCAPE;
      SendInput(1, &key, sizeof key);
    }
    return test::CategoryAnswer(target);
  });
  TForm1& f = Make("127.0.0.1:" + std::to_string(server.Port()));
  f.Show();
  SetForegroundWindow(f.Handle());
  f.leCategory.SetFocus();
  SendMessageA(f.BitBtn2.Handle(), BM_CLICK, 0, 0);
  INPUT up{};
  up.type = INPUT_KEYBOARD;
  up.ki.wVk = VK_ESCAPE;
  up.ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(1, &up, sizeof up);
  TestApp().ProcessMessages();
  EXPECT_EQ(f.ListView1.Count(), 2);
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
  EXPECT_FALSE(win::Application::EscapeHeld());
}

// Closing the window in the middle of a run: the run finishes its row, the window is
// destroyed only after the run has returned, and nothing touches a destroyed control.
TEST_F(MainFormTest, CloseDuringARun) {
  TForm1* self = nullptr;
  test::LoopbackServer server([&](const std::string& target) {
    if (target == "/search?p=%22dog+training%22") PostMessageA(self->Handle(), WM_CLOSE, 0, 0);
    return test::CategoryAnswer(target);
  });
  TForm1& f = Make("127.0.0.1:" + std::to_string(server.Port()));
  self = &f;
  HWND hwnd = f.Handle();
  SendMessageA(f.BitBtn2.Handle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(server.Requests().size(), 2u);
}

// A second Start during a run: the first run ends after its row, then one new run fills the list.
TEST_F(MainFormTest, StartDuringARunBeginsAfreshAfterIt) {
  TForm1* self = nullptr;
  int clicks = 0;
  test::LoopbackServer server([&](const std::string& target) {
    if (target == "/search?p=%22dog+training%22" && clicks++ == 0) PostMessageA(self->BitBtn2.Handle(), BM_CLICK, 0, 0);
    return test::CategoryAnswer(target);
  });
  TForm1& f = Make("127.0.0.1:" + std::to_string(server.Port()));
  self = &f;
  SendMessageA(f.BitBtn2.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(Rows(f.ListView1).size(), 3u);
  EXPECT_EQ(server.Requests().size(), 2u + 4u);
  EXPECT_FALSE(f.CategoryRunning());
}

}  // namespace
}  // namespace quillet
