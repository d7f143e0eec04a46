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

  void Keys(const std::vector<WORD>& chord) {
    test::PressKeys(chord);
    Sleep(50);
  }
  // Waits until what holds, keeping this thread's own windows alive; false (and a note of
  // what and of the window in front) when it does not within the time.
  bool Sees(const char* what, const std::function<bool()>& holds, DWORD ms = 15000) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      if (holds()) return true;
    }
    if (ms >= 15000)
      failures.push_back(std::string("never saw: ") + what + "; in front: \"" +
                         test::WindowText(GetForegroundWindow()) + "\", focus on a " + test::ClassOf(Focus()));
    return false;
  }
  // Clicks at the point until what the click does shows, as a user clicks again when
  // nothing happened: a click that arrives while the window thread is busy changing the
  // windows under it can be lost.
  bool ClickUntil(POINT screen, const char* what, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      test::PointAt(screen, true);
      if (Sees(what, done, 5000)) return true;
    }
    return Sees(what, done, 15000);
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
  void SetUp() override {
    TestApp().SetShell([](const win::ShellRequest&) {});
  }
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
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  // Plays the user's part on a second thread while this thread runs the program.
  void Play(const std::function<void(User&)>& steps) {
    User user(GetCurrentThreadId());
    std::atomic<bool> done{false};
    std::thread thread([&] {
      steps(user);
      // A user who gave up leaves no modal loop running.
      for (HWND dialog : {about->Handle(), settings->Handle()})
        if (IsWindowVisible(dialog)) PostMessageA(dialog, WM_CLOSE, 0, 0);
      if (HWND box = FindWindowA(nullptr, "Delete all?")) PostMessageA(box, WM_COMMAND, IDNO, 0);
      done = true;
    });
    // Every step of the user ends within its time, and the user may need this thread to
    // answer its questions about the windows: pump until it is done.
    const bool finished = test::PumpUntil([&] { return done.load(); }, 240000);
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
         if (u.Sees("the About box", [&] { return Shows(about->Handle()); }))
           u.ClickUntil(test::CentreOf(about->BitBtn3.Handle()), "the About box closed",
                        [&] { return !IsWindowVisible(about->Handle()); });
       }},
      {"settings dialog",
       [this](User& u) {
         u.Keys({VK_MENU, 'F'});
         u.Keys({VK_RETURN});
         if (u.Sees("the settings", [&] { return Shows(settings->Handle()); }))
           u.ClickUntil(test::CentreOf(settings->BitBtn1.Handle()), "the settings closed",
                        [&] { return !IsWindowVisible(settings->Handle()); });
       }},
      {"another program's window",
       [this](User& u) {
         HWND other = CreateWindowExA(0, "STATIC", "Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 240, 160,
                                      nullptr, nullptr, nullptr, nullptr);
         if (u.ClickUntil(test::CentreOf(other), "the other window in front",
                          [&] { return GetForegroundWindow() == other; }))
           u.ClickUntil(test::CentreOf(form->StatusBar1.Handle()), "the main window in front",
                        [&] { return GetForegroundWindow() == form->Handle(); });
         DestroyWindow(other);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Open({"cats", "dog training"});
    const size_t before = server.Requests().size();
    Play([&](User& u) {
      if (!u.ClickUntil(TabCentre(form->PageControl1.Handle(), 2), "the page",
                        [&] { return IsWindowVisible(form->TabSheet3.Handle()) != FALSE; }) ||
          !u.ClickUntil(test::CentreOf(form->cbCategory.Handle()), "the box filled",
                        [&] { return form->cbCategory.Text() == "cats"; }))
        return;
      u.Keys({VK_DOWN});
      if (!u.Sees("the second category", [&] { return form->cbCategory.Text() == "dog training"; })) return;
      c.away(u);
      if (!u.Sees("the focus back in the box", [&] { return IsChild(form->cbCategory.Handle(), u.Focus()); }) ||
          !u.ClickUntil(test::CentreOf(form->BitBtn1.Handle()), "the search started",
                        [&] { return server.Requests().size() > before; }))
        return;
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
    if (!u.ClickUntil(TabCentre(form->PageControl1.Handle(), 1), "the page",
                      [&] { return IsWindowVisible(form->TabSheet2.Handle()) != FALSE; }) ||
        !u.ClickUntil(test::CentreOf(form->BitBtn3.Handle()), "the question", [&] { return box() && Shows(box()); }) ||
        !u.ClickUntil(test::CentreOf(GetDlgItem(box(), IDNO)), "the question answered", [&] { return !box(); }) ||
        !u.Sees("the focus back on Clear", [&] { return u.Focus() == form->BitBtn3.Handle(); }))
      return;
    u.Keys({VK_SPACE});
    if (!u.Sees("the question again", [&] { return box() && Shows(box()); })) return;
    u.Keys({VK_RETURN});
    u.Sees("the list emptied", [&] { return form->ListView2.Count() == 0; });
  });
  EXPECT_EQ(form->ListView2.Count(), 0);
  EXPECT_EQ(GetFocus(), form->BitBtn3.Handle());
}

// The keyboard alone reaches every control: Tab goes from the row of tabs into the page, in
// its order, and back to the tabs, whose arrows change the page; Shift+Tab goes back.
TEST_F(FocusTest, TabGoesFromTheTabsIntoThePageAndBack) {
  Open({});
  Play([&](User& u) {
    const HWND tabs = form->PageControl1.Handle();
    if (!u.ClickUntil(test::CentreOf(form->leCategory.Handle()), "the topic box",
                      [&] { return u.Focus() == form->leCategory.Handle(); }))
      return;
    for (HWND next :
         {form->BitBtn2.Handle(), form->StopBtn.Handle(), form->ListView1.Handle(), tabs, form->leCategory.Handle()}) {
      u.Keys({VK_TAB});
      if (!u.Sees("the focus on the next control", [&] { return u.Focus() == next; })) return;
    }
    u.Keys({VK_SHIFT, VK_TAB});
    if (!u.Sees("the focus back on the tabs", [&] { return u.Focus() == tabs; })) return;
    u.Keys({VK_RIGHT});
    u.Sees("the next page", [&] { return IsWindowVisible(form->TabSheet2.Handle()) != FALSE; });
  });
  EXPECT_EQ(form->PageControl1.ActivePage(), 1);
}

}  // namespace
}  // namespace quillet
