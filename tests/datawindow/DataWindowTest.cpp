// data_window_tests ROOT MIRROR: the Windows build against a local nginx (started by
// tests/datawindow/data-window-test) that serves ROOT over HTTPS at MIRROR. The files are
// generated here, laid out as the publishers lay theirs out.
// - Before the test CA is trusted: quillet-services.exe refuses the server at once.
// - Once it is trusted as a user would trust a company's CA: the Quillet Data window, driven
//   with real input, gets Small open data from the mirror in place of the demo data; its bar
//   reaches the end and the database counts grow as the files come.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>

#include "tests/app/Harness.h"
#include "tests/release/Process.h"
#include "tests/services/support/PublicFiles.h"

namespace quillet::test {
namespace {

std::string gRoot;    // Z:\... of the folder the mirror serves
std::string gMirror;  // https://127.0.0.1:PORT

std::string Folder() { return std::filesystem::path(gRoot).parent_path().string(); }

// The days whose pageviews a Small get may ask for: the last complete day is one of these
// whatever the hour (UTC) the test runs at.
std::vector<std::string> RecentDays() {
  std::vector<std::string> days;
  const std::time_t now = std::time(nullptr);
  for (int back = 0; back < 3; ++back) {
    std::time_t at = now - back * 86400;
    std::tm utc{};
    gmtime_s(&utc, &at);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &utc);
    days.push_back(day);
  }
  return days;
}

std::string Text(HWND hwnd) {
  char text[1024] = {};
  SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));  // marshalled across processes
  return text;
}

// A status bar's simple text, read across the process boundary through a buffer in the
// window's process (Wine answers WM_GETTEXT of a status bar with part 0 only).
std::string StatusText(HWND bar) {
  DWORD id = 0;
  GetWindowThreadProcessId(bar, &id);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id);
  if (!process) return {};
  char text[1024] = {};
  if (void* remote = VirtualAllocEx(process, nullptr, sizeof text, MEM_COMMIT, PAGE_READWRITE)) {
    for (WPARAM part : {WPARAM{SB_SIMPLEID}, WPARAM{0}}) {
      DWORD_PTR length = 0;
      if (SendMessageTimeoutA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote), SMTO_BLOCK, 2000, &length) &&
          LOWORD(length) > 0 && ReadProcessMemory(process, remote, text, sizeof text - 1, nullptr))
        break;
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return text;
}

struct Found {
  std::string cls, text;
  int nth;
  HWND hwnd = nullptr;
};

BOOL CALLBACK FindChild(HWND hwnd, LPARAM p) {
  auto* found = reinterpret_cast<Found*>(p);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (lstrcmpiA(cls, found->cls.c_str()) != 0) return TRUE;
  if (!found->text.empty() && Text(hwnd).rfind(found->text, 0) != 0) return TRUE;
  if (found->nth-- > 0) return TRUE;
  found->hwnd = hwnd;
  return FALSE;
}

// The nth child (in creation order) of a class whose text starts so.
HWND Child(HWND parent, const std::string& cls, const std::string& text = "", int nth = 0) {
  Found found{cls, text, nth};
  EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&found));
  return found.hwnd;
}

template <typename Done>
bool WaitFor(Done done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

// A user's click: the pointer moves there and the button goes down and up.
void ClickOn(HWND control) {
  SetForegroundWindow(GetAncestor(control, GA_ROOT));
  PointAt(CentreOf(control), true);
}

// "Holds: 1,234 pages, 56 search terms, 7 ranked domains" as three numbers.
std::vector<long long> Counts(const std::string& text) {
  std::vector<long long> counts;
  std::string digits;
  for (char c : text + " ") {
    if (c >= '0' && c <= '9') digits += c;
    else if (c != ',' && !digits.empty()) {
      counts.push_back(std::stoll(digits));
      digits.clear();
    }
  }
  return counts;
}

TEST(WinHttp, RefusesACertificateOfACaNotTrusted) {
  Finished refused = RunToEnd(WideText("\"" + std::string(QUILLET_SERVICES_EXE) + "\" get crawl --mirror " + gMirror +
                                       " --db \"" + Folder() + "\\refused.db\""),
                              120000);
  EXPECT_EQ(refused.exitCode, 1u) << refused.output;
  EXPECT_NE(refused.output.find("certificate is not trusted"), std::string::npos) << refused.output;
  EXPECT_EQ(refused.output.find("trying again"), std::string::npos) << refused.output;
}

TEST(DataWindow, GetsSmallOpenDataFromAMirrorWithRealInput) {
  services::testing::PublicDataSize size;
  size.crawlFiles = 5;
  size.archiveBytes = 60000;
  size.days = RecentDays();
  size.pageviewLines = 50;
  const services::testing::PublicData data = services::testing::WritePublicData(gRoot, size);
  // The installer's demo data: the data got replaces it instead of mixing with it.
  const std::string db = Folder() + "\\research.db";
  ASSERT_EQ(RunToEnd(WideText("\"" + std::string(QUILLET_SERVICES_EXE) + "\" demo --pages 500 --hosts 40 --db \"" + db +
                              "\""),
                     120000)
                .exitCode,
            0u);

  Process window(WideText("\"" + std::string(QUILLET_DATA_EXE) + "\" --db \"" + db + "\" --mirror " + gMirror));
  ASSERT_TRUE(window.Started());
  HWND form = nullptr;
  ASSERT_TRUE(
      WaitFor([&] { return (form = FindWindowA("QuilletForm", "Quillet Data")) && IsWindowVisible(form); }, 30000));
  HWND counts = Child(form, "Static", "Holds:");
  HWND bar = Child(form, PROGRESS_CLASSA, "", 1);  // the whole job's
  HWND status = Child(form, STATUSCLASSNAMEA);
  ASSERT_TRUE(counts && bar && status);
  ASSERT_TRUE(WaitFor([&] { return Counts(Text(counts)).size() == 3 && Counts(Text(counts))[0] == 500; }, 30000))
      << Text(counts);
  const std::vector<long long> demo = Counts(Text(counts));

  ClickOn(Child(form, "Button", "Get open data"));
  HWND chooser = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (chooser = FindWindowA("QuilletForm", "Get open data")) && IsWindowVisible(chooser); }, 10000));
  EXPECT_EQ(SendMessageA(Child(chooser, "Button", "Small:"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(Text(Child(chooser, "Edit")), gMirror);
  ClickOn(Child(chooser, "Button", "Get"));

  // The counts grow while the job runs, file by file, and the bar ends full.
  std::set<std::vector<long long>> whileRunning;
  const bool ended = WaitFor(
      [&] {
        std::vector<long long> now = Counts(Text(counts));
        const bool running = SendMessageA(bar, PBM_GETPOS, 0, 0) < 1000;
        if (running && now.size() == 3 && now != demo && now != std::vector<long long>{0, 0, 0})
          whileRunning.insert(now);
        const std::string said = StatusText(status);
        return said.find("done.") != std::string::npos || said.find("problems") != std::string::npos;
      },
      300000);
  ASSERT_TRUE(ended) << StatusText(status);
  EXPECT_EQ(StatusText(status), "Getting Small open data: done.");
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1000);
  EXPECT_GE(whileRunning.size(), 2u);
  // Every page of the crawl files, the whole rank list (it holds fewer than a million), the
  // day's pageview titles: the status read once the job ended.
  ASSERT_TRUE(WaitFor(
      [&] {
        std::vector<long long> now = Counts(Text(counts));
        return now.size() == 3 && now[0] == data.pages && now[1] > 100 && now[2] == 1000;
      },
      30000))
      << Text(counts);

  PostMessageA(form, WM_CLOSE, 0, 0);
  EXPECT_EQ(window.Wait(20000).exitCode, 0u);
}

}  // namespace
}  // namespace quillet::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: data_window_tests ROOT MIRROR\n");
    return 2;
  }
  quillet::test::gRoot = argv[1];
  quillet::test::gMirror = argv[2];
  return RUN_ALL_TESTS();
}
