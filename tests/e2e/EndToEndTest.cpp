// The real quillet.exe, driven from this process through its windows, against scripted
// services on loopback, and against the real data service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/MainForm.h"
#include "net/FetchPage.h"
#include "tests/e2e/Driver.h"
#include "tests/release/Process.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedServices.h"

namespace quillet::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Starts the program against the server and researches the topic to the end. ASSERTs inside,
// so callers check HasFatalFailure().
void StartAndResearch(Driver& quillet, const LoopbackServer& server, const std::string& topic = "dog") {
  ASSERT_TRUE(quillet.Launch(QUILLET_EXE, {"QUILLET_SERVICE_HOST=127.0.0.1:" + std::to_string(server.Port())}));
  ASSERT_TRUE(quillet.WaitForMainWindow());
  quillet.SetText(quillet.Find("Edit"), topic);
  quillet.Click(quillet.Find("Button", "Start"));
  ASSERT_TRUE(quillet.WaitForStatus("Done!"));
}

TEST(EndToEnd, CategoryResearchFillsTheResultList) {
  LoopbackServer server(CategoryAnswer);
  Driver quillet;
  StartAndResearch(quillet, server);
  ASSERT_FALSE(HasFatalFailure());
  HWND list = quillet.Find("SysListView32", "", 0);
  EXPECT_EQ(quillet.Rows(list, 4), (Rows{{"dog training", "1000", "50000", "20"},
                                         {"dog collars", "150", "2000", "11.25"},
                                         {"puppy", "7", "?", "49"}}));
  EXPECT_EQ(quillet.CloseAndWait(), 0u);
}

// Pumps nothing of its own: the program runs in its own process. Polls pred until it holds.
template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs = 20000) {
  const DWORD start = GetTickCount();
  while (!pred()) {
    if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return false;
    ::Sleep(20);
  }
  return true;
}

// A click with the left button at a point of a window's client area, as posted input.
void ClickAt(HWND hwnd, int x, int y) {
  PostMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// Clicks the tab at index of a tab control in another process.
bool ClickTab(const Driver& program, HWND tabs, int index) {
  void* remote = VirtualAllocEx(program.Process(), nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
  if (!remote) return false;
  RECT r{};
  const bool ok = SendMessageA(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote)) &&
                  ReadProcessMemory(program.Process(), remote, &r, sizeof r, nullptr);
  VirtualFreeEx(program.Process(), remote, 0, MEM_RELEASE);
  if (ok) ClickAt(tabs, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  return ok;
}

std::string WindowTextOf(HWND hwnd) {
  char text[256] = {};
  SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));  // marshalled across
  return text;
}

// From a research to the affiliate programs of a collected category, with the search
// settings taken from the registry at start.
TEST(EndToEnd, AffiliateSearchForACollectedCategory) {
  struct StoredSettings {
    ~StoredSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Orvane"); }
  } removedAtTheEnd;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Orvane\\Quillet1\\Setup", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            0);
  const DWORD skip = 1, results = 5;
  RegSetValueExA(key, "skip", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&skip), sizeof skip);
  RegSetValueExA(key, "results", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&results), sizeof results);
  RegCloseKey(key);

  LoopbackServer server(AffiliateAnswer);
  Driver quillet;
  StartAndResearch(quillet, server);
  ASSERT_FALSE(HasFatalFailure());

  // Tick two results and add them to the Idea Catcher through the popup menu's command.
  HWND research = quillet.Find("SysListView32", "", 0);
  HWND ideas = quillet.Find("SysListView32", "", 1);
  quillet.SetChecked(research, 0, true);
  quillet.SetChecked(research, 2, true);
  PostMessageA(quillet.MainWindow(), WM_COMMAND, TForm1::kAddtoIdeaCatcher1, 0);
  ASSERT_TRUE(WaitFor([&] { return quillet.RowCount(ideas) == 2; }));

  // The third tab, then into its category box: the box is filled from the Idea Catcher.
  ASSERT_TRUE(ClickTab(quillet, quillet.Find(WC_TABCONTROLA), 2));
  HWND combo = quillet.Find("ComboBox");
  HWND comboEdit = FindWindowExA(combo, nullptr, "Edit", nullptr);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(combo); }));
  ClickAt(comboEdit, 5, 5);
  ASSERT_TRUE(quillet.WaitForStatus("Ok!"));
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(WindowTextOf(combo), "dog training");

  quillet.Click(quillet.Find("Button", "Search"));
  ASSERT_TRUE(quillet.WaitForStatus("Done!"));
  EXPECT_EQ(quillet.Rows(quillet.Find("SysListView32", "", 2), 4), (Rows{{"www.dogtraining.com", "2", "1234", "427"},
                                                                         {"clicker.example.org", "3", "56", "9"},
                                                                         {"", "4", "0", "999999999"}}));
  bool searched = false;
  for (const std::string& request : server.Requests())
    searched = searched || RequestTarget(request) == "/search?p=%22dog+training%22&ei=UTF-8&n=5&b=2";
  EXPECT_TRUE(searched);
  EXPECT_EQ(quillet.CloseAndWait(), 0u);
}

// The real data service (its Windows program) stopped with its own `stop` between two rows
// of a research: the rows it counted keep their figures, every later one shows Supply "?" and
// Profitability "?" (no Demand x Demand that would sort it above them), and the run ends as
// always with "Done!".
TEST(EndToEnd, ADataServiceStoppedBetweenTwoRowsLeavesTheRestUnknown) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::filesystem::path folder =
      std::filesystem::path(temp) / (L"quillet-e2e-" + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  struct Removed {
    std::filesystem::path folder;
    ~Removed() { std::filesystem::remove_all(folder); }
  } removedAtTheEnd{folder};
  std::ofstream(folder / "keywords.csv", std::ios::binary)
      << "quokka grooming,900\nquokka grooming tips,500\nquokka grooming kit,300\nquokka grooming salon,200\n"
         "quokka grooming at home,100\n";
  std::ofstream(folder / "pages.jsonl", std::ios::binary)
      << "{\"url\": \"http://www.quokka-care.example/a\", \"title\": \"Care\", \"text\": \"Quokka grooming tips.\"}\n"
         "{\"url\": \"http://pets.example/q\", \"title\": \"Pets\", \"text\": \"All about quokka grooming.\"}\n"
         "{\"url\": \"http://blog.example/q\", \"title\": \"Blog\", \"text\": \"We love quokka grooming.\"}\n";
  const std::wstring program = Quoted(WideText(QUILLET_SERVICES_EXE));
  const std::wstring db = L" --db " + Quoted((folder / "r.db").wstring());
  for (const auto& [kind, file] :
       {std::pair<std::wstring, std::string>{L"keywords", "keywords.csv"}, {L"pages", "pages.jsonl"}}) {
    const Finished imported = RunToEnd(program + L" import " + kind + L" " + Quoted((folder / file).wstring()) + db);
    ASSERT_EQ(imported.exitCode, 0u) << imported.output;
  }
  const int port = FreePort();
  Process service(program + L" serve --listen 127.0.0.1:" + std::to_wstring(port) + db);
  ASSERT_FALSE(FetchWhenUp(port, "/data/details/?url=www.example.com", 30000).empty());

  int searches = 0;
  LoopbackServer relay([&](const std::string& target) {
    if (target.rfind("/search", 0) == 0 && ++searches == 3) RunToEnd(program + L" stop");
    const std::string page = FetchPage("http://127.0.0.1:" + std::to_string(port) + target);
    return page.empty() ? std::string() : HttpResponse("200 OK", page);
  });
  Driver quillet;
  StartAndResearch(quillet, relay, "quokka grooming");
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_FALSE(service.Running());
  EXPECT_EQ(quillet.Rows(quillet.Find("SysListView32", "", 0), 4),
            (Rows{{"quokka grooming", "900", "3", "270000"},
                  {"quokka grooming tips", "500", "1", "250000"},
                  {"quokka grooming kit", "300", "?", "?"},
                  {"quokka grooming salon", "200", "?", "?"},
                  {"quokka grooming at home", "100", "?", "?"}}));
  EXPECT_EQ(quillet.CloseAndWait(), 0u);
}

TEST(EndToEnd, ASecondCopyEndsAtOnceWithoutAWindow) {
  Driver first;
  ASSERT_TRUE(first.Launch(QUILLET_EXE, {"QUILLET_SERVICE_HOST=127.0.0.1:9"}));
  ASSERT_TRUE(first.WaitForMainWindow());
  Driver second;
  ASSERT_TRUE(second.Launch(QUILLET_EXE, {"QUILLET_SERVICE_HOST=127.0.0.1:9"}));
  ASSERT_EQ(WaitForSingleObject(second.Process(), 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(second.Process(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(QuilletMainWindows().size(), 1u);
  EXPECT_EQ(first.CloseAndWait(), 0u);
  EXPECT_TRUE(QuilletMainWindows().empty());
}

}  // namespace
}  // namespace quillet::test
