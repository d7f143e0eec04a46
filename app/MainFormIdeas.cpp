// The Idea Catcher tab: collecting ticked research results, deleting and clearing them, and
// idea list files.
#include "app/MainForm.h"

#include <commdlg.h>

#include "framework/AtomicFile.h"
#include "framework/IniFile.h"
#include "research/IdeaList.h"

namespace quillet {

namespace {

// Stops a list view from repainting while many rows change at once.
class RedrawOff {
 public:
  explicit RedrawOff(HWND hwnd) : hwnd_(hwnd) { SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0); }
  ~RedrawOff() {
    SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
  RedrawOff(const RedrawOff&) = delete;
  RedrawOff& operator=(const RedrawOff&) = delete;

 private:
  HWND hwnd_;
};

void AppendIdea(win::ListView& list, const std::string& category, const std::string& profitability) {
  list.AddRow({category, profitability});
}

}  // namespace

void TForm1::WireIdeaCatcher() {
  BitBtn3.onClick = [this] { BitBtn3Click(); };
  EffaceBtn.onClick = [this] { EffaceBtnClick(); };
  BitBtn5.onClick = [this] { BitBtn5Click(); };
  BitBtn6.onClick = [this] { BitBtn6Click(); };
  ListView2.onChange = [this] { ListView2Change(); };
}

void TForm1::AddtoIdeaCatcher1Click() {
  std::vector<std::vector<std::string>> ticked;
  for (int i = 0, n = ListView1.Count(); i < n; ++i)
    if (ListView1.Checked(i)) ticked.push_back(ListView1.Texts(i));
  std::vector<std::string> existing;
  existing.reserve(static_cast<size_t>(ListView2.Count()));
  for (int i = 0, n = ListView2.Count(); i < n; ++i) existing.push_back(ListView2.Texts(i)[0]);
  for (const IdeaEntry& idea : IdeasToAdd(ticked, existing)) AppendIdea(ListView2, idea.category, idea.profitability);
}

void TForm1::BitBtn3Click() {
  const int answer = win::Application::Instance().ShowMessageBox(
      "Are you sure you want to delete all the categories\r\nyou have found so far?", "Delete all?",
      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1);
  if (answer != IDYES) return;
  ListView2.Clear();
  ListView2Change();
}

void TForm1::EffaceBtnClick() {
  const std::vector<int> selected = ListView2.SelectedIndices();
  {
    RedrawOff quiet(ListView2.Handle());
    // From the last to the first, so that the positions still to delete stay valid.
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) ListView2.DeleteAt(*it);
  }
  ListView2Change();
}

void TForm1::ListView2Change() { EffaceBtn.SetEnabled(ListView2.SelectedCount() > 0); }

void TForm1::BitBtn5Click() {
  StopBtnClick();
  Stop2BtnClick();
  SaveIdeaList();
}

void TForm1::BitBtn6Click() {
  StopBtnClick();
  Stop2BtnClick();
  if (OpenDialog1.ExecuteOpen(hwnd_)) LoadIdeaList(OpenDialog1.fileName);
}

void TForm1::LoadIdeaList(const std::string& fileName) {
  ListView2.Clear();
  try {
    RedrawOff quiet(ListView2.Handle());
    ReadIdeaList(win::IniFile(fileName),
                 [this](const IdeaEntry& idea) { AppendIdea(ListView2, idea.category, idea.profitability); });
  } catch (...) {
    // Loading shows nothing; the entries read so far stay.
    win::Application::ReportFailure("TForm1::LoadIdeaList", win::ExceptionText(std::current_exception()));
  }
  ListView2Change();
}

void TForm1::SaveIdeaList() {
  // Same filter, extension and folder as the open dialog; it also suggests the last file.
  win::FileDialog saveDialog = OpenDialog1;
  saveDialog.options |= OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  if (saveDialog.ExecuteSave(hwnd_)) WriteIdeaList(saveDialog.fileName);
}

bool TForm1::WriteIdeaList(const std::string& fileName) const {
  try {
    std::vector<IdeaEntry> entries;
    const int n = ListView2.Count();
    entries.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      const win::ListView::RowTexts& texts = ListView2.Texts(i);
      entries.push_back({texts[0], texts.size() > 1 ? texts[1] : std::string()});
    }
    return win::ReplaceFileContents(fileName, IdeaListText(entries));
  } catch (...) {
    win::Application::ReportFailure("TForm1::WriteIdeaList", win::ExceptionText(std::current_exception()));
    return false;
  }
}

}  // namespace quillet
