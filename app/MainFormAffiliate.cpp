// The Affiliate Program tab: the category box filled from the Idea Catcher, the search, and
// opening a result's site in the browser.
#include <cstdint>
#include <unordered_set>

#include "app/ListViewRows.h"
#include "app/MainForm.h"
#include "app/StartForm.h"
#include "net/FetchPage.h"
#include "research/AffiliateSearch.h"

namespace quillet {
namespace {

// Case folding of the user's code page, as the list boxes compare.
std::string Folded(std::string text) {
  if (!text.empty()) CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace

void TForm1::WireAffiliateProgram() {
  TabSheet3.onEnter = [this] { TabSheet3Enter(); };
  BitBtn1.onClick = [this] { BitBtn1Click(); };
  ListView3.onDblClick = [this] { ListView3DblClick(); };
}

void TForm1::TabSheet3Enter() {
  FillCategoryBox();
  ProcessMessages();
}

void TForm1::FillCategoryBox() {
  SetStatus("Please wait...");
  cbCategory.ClearList();
  ProcessMessages();
  // Whatever a nested fill put into the list meanwhile counts as already listed.
  std::unordered_set<std::string> listed;
  for (int i = 0; i < cbCategory.Count(); ++i) listed.insert(Folded(cbCategory.Item(i)));
  const int rows = ListView2.Count();
  for (int i = 0; i < rows && i < ListView2.Count(); ++i) {
    const std::string& category = ListView2.Texts(i).front();
    if (!category.empty() && listed.insert(Folded(category)).second) cbCategory.Add(category);
  }
  if (cbCategory.Count() >= 2) cbCategory.Select(0);
  SetStatus("Ok!");
  ProcessMessages();
}

void TForm1::BitBtn1Click() {
  ++searchRequests_;
  const auto pressStops = [this] {
    StopBtn.Click();
    Stop2Btn.Click();
  };
  searchRuns_.Start(pressStops, [this, pressStops] {
    pressStops();
    Stop2Flag = false;
    ProcessMessages();
    // A Stop during that pass (also the one a newer Search presses) ends this command.
    if (Stop2Flag || closePending_) return;
    searchRuns_.ForgetPending();
    const unsigned request = searchRequests_;
    {
      win::BusyCursor busy;
      try {
        const std::string category = cbCategory.Text();
        if (!category.empty()) {
          const std::int32_t skip = startForm_ ? startForm_->SkipSpinEdit.Value() : kDefaultSkip;
          const std::int32_t results = startForm_ ? startForm_->MaxResultsSpinEdit.Value() : kDefaultResults;
          // Superseded by a newer Search or by closing the window while the results page
          // was fetched: the list is not touched.
          ListViewRows rows(ListView3);
          AffiliateSearch search(
              *this, rows, [](const std::string& url) { return FetchPage(url); }, hosts_, Stop2Flag,
              [this, request] { return searchRequests_ != request || closePending_; });
          search.SearchAffiliatePrograms(category, results, skip);
        }
      } catch (...) {
        // A failed run still ends with "Done!".
        ReportFailure("TForm1::BitBtn1Click", std::current_exception());
      }
    }
    SetStatus("Done!");
    ProcessMessages();
  });
  FinishPendingClose();
}

void TForm1::ListView3DblClick() {
  const std::vector<int> selected = ListView3.SelectedIndices();
  if (ListView3.Count() == 0 || selected.empty()) return;
  const std::string& site = ListView3.Texts(selected.front()).front();
  if (site.empty()) return;
  win::Application& app = win::Application::Instance();
  app.Shell({app.Handle(), "open", "http://" + site, "", "", SW_SHOWMAXIMIZED});
}

}  // namespace quillet
