#pragma once
// The main window: three tabs (Category, Idea Catcher, Affiliate Program), the menus, the
// status bar, and the state through which running research is stopped and sorted.
#include <string>

#include "framework/Application.h"
#include "framework/Controls.h"
#include "framework/FileDialog.h"
#include "framework/ListView.h"
#include "framework/Menu.h"
#include "framework/Window.h"
#include "research/RunSequencer.h"
#include "research/RunWindow.h"
#include "research/Services.h"

namespace quillet {

class TStartForm;

class TForm1 : public win::Form, public RunWindow {
 public:
  enum MenuId {
    kSettings1 = 1001,
    kExit1,
    kContents1,
    kHomepage1,
    kAbout1,
    kSelectAll1,
    kSelectNone1,
    kInvertSelection1,
    kAddtoIdeaCatcher1,
  };

  explicit TForm1(ServiceHosts hosts);

  // The dialogs shown by Settings... and About..., created after the main window.
  void SetDialogs(TStartForm* startForm, win::Form* infoForm) {
    startForm_ = startForm;
    infoForm_ = infoForm;
  }

  // Module-level state of the main window.
  bool StopFlag = true;
  bool Stop2Flag = true;
  std::string ProgramDir;
  int SortColumn = 0;

  // Handlers.
  void FormCreate();
  void FormCloseQuery(bool& canClose);
  void StopBtnClick();
  void Stop2BtnClick();
  void Settings1Click();
  void Exit1Click();
  void Contents1Click();
  void Homepage1Click();
  void About1Click();
  void BitBtn2Click();
  void TabSheet3Enter();
  void FillCategoryBox();
  void BitBtn1Click();
  void ListView3DblClick();
  void AddtoIdeaCatcher1Click();
  void BitBtn3Click();
  void EffaceBtnClick();
  void ListView2Change();
  void BitBtn5Click();
  void BitBtn6Click();
  // Replaces the Idea Catcher's entries with those of an idea list file; never fails.
  void LoadIdeaList(const std::string& fileName);
  // Asks for a file name with a save dialog like OpenDialog1 and writes the entries to it.
  void SaveIdeaList();
  // Writes the entries, in display order, to fileName; false (old file untouched) on failure.
  bool WriteIdeaList(const std::string& fileName) const;
  void ListView1ColumnClick(int column);
  void ListView2ColumnClick(int column);
  void ListView3ColumnClick(int column);
  int ListView1Compare(const win::ListView::RowTexts& a, const win::ListView::RowTexts& b) const;
  int ListView2Compare(const win::ListView::RowTexts& a, const win::ListView::RowTexts& b) const;
  int ListView3Compare(const win::ListView::RowTexts& a, const win::ListView::RowTexts& b) const;
  void SelectAll1Click();
  void SelectNone1Click();
  void InvertSelection1Click();

  // RunWindow.
  void SetStatus(const std::string& text) override { StatusBar1.SetSimpleText(text); }
  void ProcessMessages() override { win::Application::Instance().ProcessMessages(); }
  bool EscapeHeld() override { return win::Application::EscapeHeld(); }
  void ReportFailure(const char* place, std::exception_ptr error) override;

  // Components.
  win::ImageList ImageList1;
  win::Menu MainMenu1;
  win::Menu PopupMenu1;
  win::StatusBar StatusBar1;
  win::TabControl PageControl1;
  win::TabSheet TabSheet1, TabSheet2, TabSheet3;
  win::Label leCategoryLabel;
  win::Edit leCategory;
  win::GlyphButton BitBtn2, StopBtn;
  win::ListView ListView1;
  win::ListView ListView2;
  win::Button BitBtn3, EffaceBtn, BitBtn5, BitBtn6;
  win::Label Label1;
  win::ComboBox cbCategory;
  win::GlyphButton BitBtn1, Stop2Btn;
  win::ListView ListView3;
  win::FileDialog OpenDialog1;

  // True while a category research runs; a Start arriving then is deferred until it returns.
  bool CategoryRunning() const { return categoryRuns_.Busy(); }
  // Likewise for an affiliate program search.
  bool SearchRunning() const { return searchRuns_.Busy(); }

 protected:
  void OnMenuCommand(int id) override;
  void DoClose() override;

 private:
  void CreateControls();
  void CreateMenus();
  void WireAffiliateProgram();
  void WireIdeaCatcher();
  // Destroys the window once no command that may still touch it is running.
  void FinishPendingClose();
  void WireSorting();
  // The locale's decimal separator, read when a sort starts (the compare runs per pair).
  char decimalSeparator_ = '.';

  ServiceHosts hosts_;
  TStartForm* startForm_ = nullptr;
  win::Form* infoForm_ = nullptr;
  win::BitmapHandle glyphStart_, glyphStop_;
  RunSequencer categoryRuns_;
  RunSequencer searchRuns_;
  // Counts Search presses, so that a run can tell that a newer one has been asked for.
  unsigned searchRequests_ = 0;
  bool closePending_ = false;
};

}  // namespace quillet
