#include "app/MainForm.h"

#include <commctrl.h>
#include <commdlg.h>

#include "app/Config.h"
#include "app/ListViewRows.h"
#include "app/StartForm.h"
#include "app/resource.h"
#include "net/FetchPage.h"
#include "research/CategoryResearch.h"

namespace quillet {

using win::Application;
using win::Bounds;

namespace {

template <typename F>
win::ListViewOptions WithOptions(F set) {
  win::ListViewOptions options;
  set(options);
  return options;
}

}  // namespace

TForm1::TForm1(ServiceHosts hosts) : hosts_(std::move(hosts)) {
  Application& app = Application::Instance();
  ImageList1.Load(app.Module(), IDB_IMAGES, RGB(255, 0, 255));
  CreateMenus();
  // Not owned by the hidden application window: an unowned top-level window gets the
  // task-bar button, and the application window stays out of sight.
  CreateForm(kApplicationTitle, 502, 390, WS_SYSMENU | WS_MINIMIZEBOX, MainMenu1.Handle());
  MainMenu1.ReleaseToWindow();
  app.SetMainWindow(hwnd_);
  CreateControls();
  WireAffiliateProgram();
  WireIdeaCatcher();
  WireSorting();
  onCloseQuery = [this](bool& canClose) { FormCloseQuery(canClose); };
  FormCreate();
}

void TForm1::CreateMenus() {
  HIMAGELIST images = ImageList1.Handle();
  MainMenu1.CreateBar();
  MainMenu1.AddSubMenu("&File", {{kSettings1, "Settings...", 7}, {}, {kExit1, "E&xit", 0}}, images);
  MainMenu1.AddSubMenu(
      "&Help",
      {{kContents1, "&Contents", 1}, {kHomepage1, "The Quillet Homepage...", 2}, {}, {kAbout1, "&About...", 6}},
      images);
  PopupMenu1.CreatePopup();
  PopupMenu1.AddItems({{kSelectAll1, "Select All"},
                       {kSelectNone1, "Select None"},
                       {kInvertSelection1, "Invert Selection"},
                       {},
                       {kAddtoIdeaCatcher1, "Add selection to Idea Catcher", -1, true}},
                      nullptr);
}

void TForm1::CreateControls() {
  HINSTANCE module = Application::Instance().Module();
  glyphStart_.reset(static_cast<HBITMAP>(LoadImageA(module, IDB_GLYPH_START, IMAGE_BITMAP, 0, 0, 0)));
  glyphStop_.reset(static_cast<HBITMAP>(LoadImageA(module, IDB_GLYPH_STOP, IMAGE_BITMAP, 0, 0, 0)));
  HCURSOR hand = LoadCursor(nullptr, IDC_HAND);

  StatusBar1.Create(hwnd_);
  RECT client;
  GetClientRect(hwnd_, &client);
  SetWindowPos(StatusBar1.Handle(), nullptr, 0, client.bottom - 19, client.right, 19, SWP_NOZORDER);

  PageControl1.Create(hwnd_, {7, 17, 491, 351}, ImageList1.Handle());
  PageControl1.AddPage(TabSheet1, "Category  ", 4);
  PageControl1.AddPage(TabSheet2, "Idea Catcher  ", 3);
  PageControl1.AddPage(TabSheet3, "Affiliate Program  ", 5);

  HWND page1 = TabSheet1.Handle();
  leCategory.Create(page1, {131, 20, 185, 21});
  {
    win::WindowDc dc(page1);
    win::SelectGuard font(dc.get(), win::DefaultFont());
    SIZE size{};
    const char* caption = "Enter in a topic:";
    GetTextExtentPoint32A(dc.get(), caption, lstrlenA(caption), &size);
    leCategoryLabel.Create(page1, caption, 131 - 5 - size.cx, 20 + (21 - size.cy) / 2);
  }
  // The edit comes first in the tab order of the page.
  SetWindowPos(leCategoryLabel.Handle(), leCategory.Handle(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  BitBtn2.Create(page1, "Start", {334, 15, 60, 30}, glyphStart_.get());
  BitBtn2.cursor = hand;
  BitBtn2.onClick = [this] { BitBtn2Click(); };
  StopBtn.Create(page1, "Stop", {408, 15, 60, 30}, glyphStop_.get());
  StopBtn.cursor = hand;
  StopBtn.onClick = [this] { StopBtnClick(); };
  ListView1.Create(page1, {4, 61, 474, 250},
                   {{"Category", 175, 110}, {"Demand", 70, 65}, {"Supply", 70, 70}, {"Profitability", 115, 75}},
                   WithOptions([](win::ListViewOptions& o) { o.checkBoxes = o.gridLines = true; }));
  ListView1.SetPopupMenu(PopupMenu1.Handle());

  HWND page2 = TabSheet2.Handle();
  ListView2.Create(page2, {15, 25, 321, 274}, {{"Category", 175, 110}, {"Profitability", 110, 75}},
                   WithOptions([](win::ListViewOptions& o) { o.multiSelect = true; }));
  BitBtn3.Create(page2, "Clear", {375, 110, 75, 25});
  EffaceBtn.Create(page2, "Delete", {375, 150, 75, 25});
  EffaceBtn.SetEnabled(false);
  BitBtn5.Create(page2, "Save", {375, 190, 75, 25});
  BitBtn6.Create(page2, "Load", {375, 228, 75, 25});

  HWND page3 = TabSheet3.Handle();
  Label1.Create(page3, "Select category;", 31, 26);
  cbCategory.Create(page3, {115, 23, 181, 21});
  BitBtn1.Create(page3, "Search", {322, 18, 71, 30}, glyphStart_.get());
  BitBtn1.cursor = hand;
  Stop2Btn.Create(page3, "Stop", {405, 18, 60, 30}, glyphStop_.get());
  Stop2Btn.cursor = hand;
  Stop2Btn.onClick = [this] { Stop2BtnClick(); };
  ListView3.Create(page3, {3, 61, 476, 250},
                   {{"Website URL", 175, 110},
                    {"Rank #", 65, 55},
                    {"Estimated # of affiliates", 125, 125},
                    {"Alexa traffic rank", 95, 70}},
                   WithOptions([](win::ListViewOptions& o) {
                     o.gridLines = o.handCursor = true;
                     o.tooltip = "Double-click to visit website";
                   }));

  OpenDialog1.filter = "Quillet files (*.qlc)|*.qlc";
  OpenDialog1.defaultExt = "qlc";
  OpenDialog1.filterIndex = 0;
  OpenDialog1.options = OFN_HIDEREADONLY | OFN_ENABLESIZING;
}

void TForm1::FormCreate() {
  StopFlag = true;
  Stop2Flag = true;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  ProgramDir.assign(path, length);
  const size_t slash = ProgramDir.find_last_of("\\/:");
  ProgramDir.resize(slash == std::string::npos ? 0 : slash + 1);
  OpenDialog1.initialDir = ProgramDir;
}

void TForm1::FormCloseQuery(bool& canClose) {
  StopBtnClick();
  Stop2BtnClick();
  canClose = true;
}

void TForm1::StopBtnClick() {
  StopFlag = true;
  ProcessMessages();
}

void TForm1::Stop2BtnClick() {
  Stop2Flag = true;
  ProcessMessages();
}

void TForm1::Settings1Click() {
  StopBtnClick();
  Stop2BtnClick();
  if (startForm_) startForm_->ShowModal();
  ProcessMessages();
}

void TForm1::Exit1Click() {
  StopBtnClick();
  Close();
}

void TForm1::Contents1Click() {
  Application& app = Application::Instance();
  app.Shell({app.Handle(), "open", kHelpFile, "", "", SW_SHOWMAXIMIZED});
}

void TForm1::Homepage1Click() {
  Application& app = Application::Instance();
  app.Shell({app.Handle(), "open", kHomepage, "", "", SW_SHOWMAXIMIZED});
}

void TForm1::About1Click() {
  StopBtnClick();
  if (infoForm_) infoForm_->ShowModal();
}

void TForm1::BitBtn2Click() {
  categoryRuns_.Start(
      [this] {
        StopBtnClick();
        Stop2BtnClick();
      },
      [this] {
        StopBtnClick();
        Stop2BtnClick();
        ProcessMessages();
        categoryRuns_.ForgetPending();
        if (closePending_) return;
        StopFlag = false;
        {
          win::BusyCursor busy;
          try {
            ListViewRows rows(ListView1);
            CategoryResearch research(
                *this, rows, [](const std::string& url) { return FetchPage(url); }, hosts_, StopFlag,
                win::LocaleDecimalSeparator());
            research.ResearchCategory(leCategory.Text());
          } catch (...) {
            // A failed run still ends with "Done!".
            ReportFailure("TForm1::BitBtn2Click", std::current_exception());
          }
        }
        SetStatus("Done!");
        ProcessMessages();
      });
  FinishPendingClose();
}

void TForm1::ReportFailure(const char* place, std::exception_ptr error) {
  Application::ReportFailure(place, win::ExceptionText(error));
}

void TForm1::OnMenuCommand(int id) {
  switch (id) {
    case kSettings1: Settings1Click(); break;
    case kExit1: Exit1Click(); break;
    case kContents1: Contents1Click(); break;
    case kHomepage1: Homepage1Click(); break;
    case kAbout1: About1Click(); break;
    case kAddtoIdeaCatcher1: AddtoIdeaCatcher1Click(); break;
    case kSelectAll1: SelectAll1Click(); break;
    case kSelectNone1: SelectNone1Click(); break;
    case kInvertSelection1: InvertSelection1Click(); break;
    default: break;
  }
}

void TForm1::DoClose() {
  closePending_ = true;
  FinishPendingClose();
}

void TForm1::FinishPendingClose() {
  if (!closePending_) return;
  if (categoryRuns_.Busy() || searchRuns_.Busy()) {
    // The running command still holds references to the controls: hide now, destroy later.
    ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  DestroyWindow(hwnd_);
}

}  // namespace quillet
