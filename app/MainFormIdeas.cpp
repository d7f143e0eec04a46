// The Idea Catcher tab: collecting ticked research results, deleting and clearing them, and
// idea list files.
#include "app/MainForm.h"

#include <commdlg.h>

#include "framework/AtomicFile.h"
#include "framework/IniFile.h"
#include "research/IdeaList.h"

namespace quillet {

namespace {

constexpr DWORD kSectionNamesBuffer = 16384;
// Room for the names of a saved list of about 14,000 entries.
constexpr DWORD kSavedListNamesBuffer = 1 << 17;
constexpr DWORD kValueBuffer = 2048;

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

// The number of entries: the number of section names that fit the 16 KB list. A list this
// program saved with more entries than that (about 1,900) would otherwise come back cut
// short, so when the names that fit are exactly item0, item1, ... the longer list is read.
// Files of any other shape keep the 16 KB count, which also bounds the lookups a hostile
// file can cost.
size_t EntryCount(const win::IniFile& file) {
  bool truncated = false;
  const std::vector<std::string> names = file.SectionNames(kSectionNamesBuffer, &truncated);
  if (truncated && IsSavedLayout(names)) {
    const std::vector<std::string> more = file.SectionNames(kSavedListNamesBuffer);
    if (IsSavedLayout(more)) return more.size();
  }
  return names.size();
}

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
    const win::IniFile file(fileName);
    const size_t count = EntryCount(file);
    for (size_t k = 0; k < count; ++k) {
      const std::string section = IdeaSectionName(k);
      AppendIdea(ListView2, file.ReadString(section, "cat", "", kValueBuffer),
                 file.ReadString(section, "profit", "", kValueBuffer));
    }
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
