// The keyboard focus of the main window across modal dialogs and a switch to another window,
// driven as a user drives it: real mouse clicks and keys through the system's input queue,
// from a second thread, while the window thread runs the program's own loops.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/InfoForm.h"
#include "app/MainForm.h"
#include "app/StartForm.h"
#include "tests/app/Harness.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedServices.h"

namespace quillet {
namespace {

using test::TestApp;

// The user: acts through real input and waits for what the screen shows before going on.
// Runs on its own thread; what it finds wrong is kept for the test thread to report.
class User {
 public:
  explicit User(DWORD windowThread) : windowThread_(windowThread) {}

  void Click(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
    Sleep(50);
  }
  void ClickCentre(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    Click({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  }
  // Presses the keys in order and releases them in reverse: {VK_MENU, 'H'} is Alt+H.
  void Keys(std::vector<WORD> chord) {
    std::vector<INPUT> in(chord.size() * 2);
    for (size_t i = 0; i < chord.size(); ++i) {
      in[i].type = in[in.size() - 1 - i].type = INPUT_KEYBOARD;
      in[i].ki.wVk = in[in.size() - 1 - i].ki.wVk = chord[i];
      in[in.size() - 1 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
    Sleep(50);
  }
  // Waits until what holds, keeping this thread's own windows alive; false (and a note of
  // what) when it does not within 5 s.
  bool Sees(const char* what, const std::function<bool()>& holds) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(10)) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      if (holds()) return true;
    }
    failures.push_back(std::string("never saw: ") + what);
    return false;
  }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(windowThread_, &info) ? info.hwndFocus : nullptr;
  }

  std::vector<std::string> failures;

 private:
  DWORD windowThread_;
};

POINT TabCentre(HWND tabs, int index) {
  RECT r{};
  SendMessageA(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
  POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ClientToScreen(tabs, &p);
  return p;
}

bool Shows(HWND dialog) { return IsWindowVisible(dialog) && GetForegroundWindow() == dialog; }

class FocusTest : public ::testing::Test {
 protected:
  void SetUp() override { TestApp().SetShell([](const win::ShellRequest&) {}); }
  void TearDown() override {
    Close();
    TestApp().SetShell({});
  }
  // The program's three windows, the main one in front, with these Idea Catcher entries.
  void Open(const std::vector<std::string>& ideas) {
    Close();
    form = std::make_unique<TForm1>(ServiceHosts{server.BaseUrl(), server.BaseUrl(), server.BaseUrl()});
    settings = std::make_unique<TStartForm>();
    about = std::make_unique<TInfoForm>();
    form->SetDialogs(settings.get(), about.get());
    for (const std::string& idea : ideas) form->ListView2.AddRow({idea, "1"});
    form->Show();
    SetForegroundWindow(form->Handle());
    TestApp().ProcessMessages();
  }
  void Close() {
    about.reset();
    settings.reset();
    form.reset();
    MSG msg;  // the main window's destruction posted WM_QUIT
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
  }
  // Plays the user's part on a second thread while this thread runs the program.
  void Play(const std::function<void(User&)>& steps) {
    User user(GetCurrentThreadId());
    std::atomic<bool> done{false};
    std::thread thread([&] {
      steps(user);
      done = true;
    });
    const bool finished = test::PumpUntil([&] { return done.load(); }, 60000);
    thread.join();
    EXPECT_TRUE(finished);
    for (const std::string& f : user.failures) ADD_FAILURE() << f;
  }

  test::LoopbackServer server{test::AffiliateAnswer};
  std::unique_ptr<TForm1> form;
  std::unique_ptr<TStartForm> settings;
  std::unique_ptr<TInfoForm> about;
};

// On the Affiliate Program page the user picks the second category, leaves the window for a
// dialog or another window, comes back and presses Search: the search is for that category.
TEST_F(FocusTest, PickedCategorySurvivesADialogOrAnotherWindow) {
  const struct {
    const char* name;
    std::function<void(User&)> away;
  } cases[] = {
      {"About box",
       [this](User& u) {
         u.Keys({VK_MENU, 'H'});
         u.Keys({'A'});
         if (u.Sees("the About box", [&] { return Shows(about->Handle()); })) u.ClickCentre(about->BitBtn3.Handle());
       }},
      {"settings dialog",
       [this](User& u) {
         u.Keys({VK_MENU, 'F'});
         u.Keys({VK_RETURN});
         if (u.Sees("the settings", [&] { return Shows(settings->Handle()); })) u.ClickCentre(settings->BitBtn1.Handle());
       }},
      {"another program's window",
       [this](User& u) {
         HWND other = CreateWindowExA(0, "STATIC", "Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 240, 160,
                                      nullptr, nullptr, nullptr, nullptr);
         u.ClickCentre(other);
         if (u.Sees("the other window in front", [&] { return GetForegroundWindow() == other; }))
           u.ClickCentre(form->StatusBar1.Handle());
         u.Sees("the main window in front", [&] { return GetForegroundWindow() == form->Handle(); });
         DestroyWindow(other);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Open({"cats", "dog training"});
    const size_t before = server.Requests().size();
    Play([&](User& u) {
      u.Click(TabCentre(form->PageControl1.Handle(), 2));
      u.ClickCentre(form->cbCategory.Handle());
      if (!u.Sees("the box filled", [&] { return form->cbCategory.Text() == "cats"; })) return;
      u.Keys({VK_DOWN});
      if (!u.Sees("the second category", [&] { return form->cbCategory.Text() == "dog training"; })) return;
      c.away(u);
      if (!u.Sees("the focus back in the box", [&] { return IsChild(form->cbCategory.Handle(), u.Focus()); }))
        return;
      u.ClickCentre(form->BitBtn1.Handle());
      u.Sees("the search done", [&] { return form->StatusBar1.SimpleText() == "Done!"; });
    });
    const std::vector<std::string> requests = server.Requests();
    const std::string first = requests.size() > before ? test::RequestTarget(requests[before]) : "no search";
    EXPECT_EQ(first, "/search?p=%22dog+training%22&ei=UTF-8&n=20&b=1");
    EXPECT_EQ(form->cbCategory.Text(), "dog training");
  }
}

// After the Idea Catcher's "Delete all?" is answered No, the keyboard acts on Clear again:
// Space asks once more, and Enter (Yes) empties the list.
TEST_F(FocusTest, MessageBoxGivesTheFocusBackToClear) {
  Open({"cats", "dog training"});
  const auto box = [] { return FindWindowA(nullptr, "Delete all?"); };
  Play([&](User& u) {
    u.Click(TabCentre(form->PageControl1.Handle(), 1));
    u.ClickCentre(form->BitBtn3.Handle());
    if (!u.Sees("the question", [&] { return box() && Shows(box()); })) return;
    u.ClickCentre(GetDlgItem(box(), IDNO));
    if (!u.Sees("the focus back on Clear", [&] { return u.Focus() == form->BitBtn3.Handle(); })) return;
    u.Keys({VK_SPACE});
    if (!u.Sees("the question again", [&] { return box() && Shows(box()); })) return;
    u.Keys({VK_RETURN});
    u.Sees("the list emptied", [&] { return form->ListView2.Count() == 0; });
  });
  EXPECT_EQ(form->ListView2.Count(), 0);
  EXPECT_EQ(GetFocus(), form->BitBtn3.Handle());
}

}  // namespace
}  // namespace quillet
