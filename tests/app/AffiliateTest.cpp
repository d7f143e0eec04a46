// The Affiliate Program tab through its real controls: the category box filled when the focus
// enters the page, Search against a scripted loopback server with the settings dialog's
// fields, Stop, a Search or a close during a run, About during a run, and the double-click.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "app/MainForm.h"
#include "app/StartForm.h"
#include "tests/app/Harness.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedServices.h"

namespace quillet {
namespace {

using test::TestApp;
using Rows = std::vector<std::vector<std::string>>;

const Rows kDogTrainingRows{
    {"www.dogtraining.com", "1", "1234", "427"}, {"clicker.example.org", "2", "56", "9"}, {"", "3", "0", "999999999"}};

// A dialog that closes itself as soon as it is shown.
class SelfClosingDialog : public win::Form {
 public:
  SelfClosingDialog() { CreateForm("About", 120, 80, WS_SYSMENU); }
  int shown = 0;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == WM_SHOWWINDOW && wp) {
      ++shown;
      PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    }
    return Form::HandleMessage(msg, wp, lp);
  }
};

class AffiliateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp().SetShell([this](const win::ShellRequest& r) { shell.push_back(r); });
  }
  void TearDown() override {
    form.reset();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    TestApp().SetShell({});
  }
  // The server route sees the form through self (set before the first request).
  TForm1& Make(test::LoopbackServer& server) {
    const std::string base = server.BaseUrl();
    form = std::make_unique<TForm1>(ServiceHosts{base, base, base});
    self = form.get();
    return *form;
  }
  void AddIdeas(const std::vector<std::string>& categories) {
    for (const std::string& c : categories) {
      const RowHandle row = form->ListView2.AddRow();
      form->ListView2.SetCaption(row, c);
      form->ListView2.SetSubItem(row, 1, "1");
    }
  }
  // Moves the input focus out of the page and back into its category box.
  void EnterPage() {
    form->PageControl1.SetActivePage(2);
    SetFocus(form->PageControl1.Handle());
    TestApp().ProcessMessages();
    SetFocus(form->cbCategory.Handle());
    TestApp().ProcessMessages();
  }
  std::vector<std::string> ComboItems() {
    std::vector<std::string> items;
    for (int i = 0; i < form->cbCategory.Count(); ++i) items.push_back(form->cbCategory.Item(i));
    return items;
  }
  Rows ListRows() {
    Rows rows;
    for (int i = 0; i < form->ListView3.Count(); ++i) {
      std::vector<std::string> row;
      for (int column = 0; column < 4; ++column) {
        char text[256] = {};
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(form->ListView3.Handle(), LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        row.push_back(text);
      }
      rows.push_back(row);
    }
    return rows;
  }
  void Search(const std::string& category) {
    form->cbCategory.SetText(category);
    SendMessageA(form->BitBtn1.Handle(), BM_CLICK, 0, 0);
  }
  static std::vector<std::string> Targets(const test::LoopbackServer& server) {
    std::vector<std::string> targets;
    for (const std::string& request : server.Requests()) targets.push_back(test::RequestTarget(request));
    return targets;
  }

  std::unique_ptr<TForm1> form;
  TForm1* self = nullptr;
  std::vector<win::ShellRequest> shell;
};

TEST_F(AffiliateTest, EnteringThePageFillsTheCategoryBox) {
  test::LoopbackServer server(test::AffiliateAnswer);
  TForm1& f = Make(server);
  f.Show();
  const struct {
    const char* name;
    std::vector<std::string> ideas;
    std::vector<std::string> items;
    const char* text;  // of the edit field afterwards, "typed" before
  } cases[] = {
      {"duplicates without regard to case",
       {"Dog training", "dog training", "", "Cats"},
       {"Dog training", "Cats"},
       "Dog training"},
      {"a single entry is listed, not selected", {"Cats"}, {"Cats"}, "typed"},
      {"the same entry twice counts once", {"Cats", "CATS"}, {"Cats"}, "typed"},
      {"an empty Idea Catcher empties the list", {}, {}, "typed"},
  };
  for (const auto& c : cases) {
    f.ListView2.Clear();
    AddIdeas(c.ideas);
    f.cbCategory.Add("left over");
    f.cbCategory.SetText("typed");
    f.StatusBar1.SetSimpleText("");
    EnterPage();
    EXPECT_EQ(ComboItems(), c.items) << c.name;
    EXPECT_EQ(f.cbCategory.Text(), c.text) << c.name;
    EXPECT_EQ(SendMessageA(f.cbCategory.Handle(), CB_GETCURSEL, 0, 0), c.items.size() >= 2 ? 0 : CB_ERR) << c.name;
    EXPECT_EQ(f.StatusBar1.SimpleText(), "Ok!") << c.name;
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(AffiliateTest, SearchReadsTheSettingsAndFillsTheList) {
  test::LoopbackServer server(test::AffiliateAnswer);
  TForm1& f = Make(server);
  TStartForm settings;
  f.SetDialogs(&settings, nullptr);
  settings.SkipSpinEdit.SetValue(5);
  settings.MaxResultsSpinEdit.SetValue(10);
  f.StopFlag = false;
  Search("dog training");
  Rows expected = kDogTrainingRows;
  for (size_t i = 0; i < expected.size(); ++i) expected[i][1] = std::to_string(6 + i);
  EXPECT_EQ(ListRows(), expected);
  const std::vector<std::string> targets = Targets(server);
  ASSERT_EQ(targets.size(), 7u);
  EXPECT_EQ(targets[0], "/search?p=%22dog+training%22&ei=UTF-8&n=10&b=6");
  EXPECT_EQ(targets[1], "/search?p=link%3Ahttp%3A%2F%2Fwww.dogtraining.com");
  EXPECT_EQ(targets[2], "/data/details/?url=www.dogtraining.com");
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
  EXPECT_EQ(TestApp().OverrideCursor(), nullptr);
  EXPECT_TRUE(f.StopFlag);  // Search presses both Stop buttons
  EXPECT_FALSE(f.Stop2Flag);
  EXPECT_FALSE(f.SearchRunning());
}

TEST_F(AffiliateTest, WithoutASettingsDialogTheDefaultsApply) {
  test::LoopbackServer server(test::AffiliateAnswer);
  Make(server);
  Search("dog training");
  EXPECT_EQ(ListRows(), kDogTrainingRows);
  ASSERT_FALSE(server.Requests().empty());
  EXPECT_EQ(Targets(server)[0], "/search?p=%22dog+training%22&ei=UTF-8&n=20&b=1");
}

TEST_F(AffiliateTest, AnEmptyCategoryOnlyShowsDone) {
  test::LoopbackServer server(test::AffiliateAnswer);
  TForm1& f = Make(server);
  Search("dog training");
  f.StopFlag = false;
  f.StatusBar1.SetSimpleText("");
  Search("");
  EXPECT_EQ(ListRows(), kDogTrainingRows);  // untouched
  EXPECT_EQ(server.Requests().size(), 7u);
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
  EXPECT_TRUE(f.StopFlag);
}

TEST_F(AffiliateTest, StopEndsTheRunAfterTheRowInProgress) {
  test::LoopbackServer server([&](const std::string& target) {
    if (target == "/data/details/?url=www.clicker.example.org") PostMessageA(self->Stop2Btn.Handle(), BM_CLICK, 0, 0);
    return test::AffiliateAnswer(target);
  });
  TForm1& f = Make(server);
  HCURSOR duringRun = nullptr;
  f.Stop2Btn.onClick = [&] {
    if (f.SearchRunning()) duringRun = TestApp().OverrideCursor();
    f.Stop2BtnClick();
  };
  Search("dog training");
  EXPECT_EQ(ListRows(), Rows(kDogTrainingRows.begin(), kDogTrainingRows.begin() + 2));
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
  EXPECT_EQ(duringRun, LoadCursor(nullptr, IDC_WAIT));
  EXPECT_EQ(TestApp().OverrideCursor(), nullptr);
}

TEST_F(AffiliateTest, AStopWhileSearchStartsEndsItWithNoFurtherEffect) {
  test::LoopbackServer server(test::AffiliateAnswer);
  TForm1& f = Make(server);
  // Search presses Stop itself; a second press arrives in the pass that follows.
  bool posted = false;
  f.Stop2Btn.onClick = [&] {
    f.Stop2BtnClick();
    if (!posted) PostMessageA(f.Stop2Btn.Handle(), BM_CLICK, 0, 0);
    posted = true;
  };
  Search("dog training");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_NE(f.StatusBar1.SimpleText(), "Done!");
  EXPECT_EQ(TestApp().OverrideCursor(), nullptr);
  EXPECT_FALSE(f.SearchRunning());
}

// Search pressed twice while the first run is busy: the list ends with the second run's rows.
TEST_F(AffiliateTest, SearchDuringARunLeavesOnlyTheNewRows) {
  std::atomic<int> resultPages{0};
  test::LoopbackServer server([&](const std::string& target) {
    if (target.rfind("/search?p=%22", 0) == 0 && resultPages++ == 0) {
      return test::HttpResponse("200 OK", "of about 2 <li><em>first.example.com</em><li><em>second.example.com</em>");
    }
    if (target == "/search?p=link%3Ahttp%3A%2F%2Ffirst.example.com") {
      PostMessageA(self->BitBtn1.Handle(), BM_CLICK, 0, 0);
      PostMessageA(self->BitBtn1.Handle(), BM_CLICK, 0, 0);
    }
    return test::AffiliateAnswer(target);
  });
  TForm1& f = Make(server);
  Search("dog training");
  EXPECT_EQ(ListRows(), kDogTrainingRows);
  EXPECT_EQ(resultPages.load(), 2);
  for (const std::string& target : Targets(server)) EXPECT_EQ(target.find("second"), std::string::npos) << target;
  EXPECT_FALSE(f.SearchRunning());
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
}

TEST_F(AffiliateTest, ClosingDuringARunDestroysTheWindowAfterIt) {
  const struct {
    const char* closeAt;
    size_t requests;
  } cases[] = {
      {"/search?p=link%3Ahttp%3A%2F%2Fwww.dogtraining.com", 3},  // the first row is completed, no second
      {"/search?p=%22dog+training%22&ei=UTF-8&n=20&b=1", 1},     // no row at all
  };
  for (const auto& c : cases) {
    test::LoopbackServer server([&](const std::string& target) {
      if (target == c.closeAt) PostMessageA(self->Handle(), WM_CLOSE, 0, 0);
      return test::AffiliateAnswer(target);
    });
    TForm1& f = Make(server);
    HWND hwnd = f.Handle();
    Search("dog training");
    EXPECT_FALSE(IsWindow(hwnd)) << c.closeAt;
    EXPECT_EQ(server.Requests().size(), c.requests) << c.closeAt;
    TearDown();
  }
}

TEST_F(AffiliateTest, AboutStopsOnlyTheCategoryResearch) {
  test::LoopbackServer server([&](const std::string& target) {
    if (target == "/search?p=link%3Ahttp%3A%2F%2Fwww.dogtraining.com")
      PostMessageA(self->Handle(), WM_COMMAND, TForm1::kAbout1, 0);
    return test::AffiliateAnswer(target);
  });
  TForm1& f = Make(server);
  SelfClosingDialog about;
  f.SetDialogs(nullptr, &about);
  Search("dog training");
  EXPECT_EQ(about.shown, 1);
  EXPECT_EQ(ListRows(), kDogTrainingRows);
  EXPECT_EQ(f.StatusBar1.SimpleText(), "Done!");
}

TEST_F(AffiliateTest, DoubleClickOpensTheSelectedSite) {
  test::LoopbackServer server(test::AffiliateAnswer);
  TForm1& f = Make(server);
  f.Show();
  HWND list = f.ListView3.Handle();
  const auto doubleClickAt = [&](int x, int y) {
    SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    TestApp().ProcessMessages();
  };
  doubleClickAt(20, 200);  // an empty list
  Search("dog training");
  ASSERT_EQ(f.ListView3.Count(), 3);
  doubleClickAt(20, 200);  // below the rows, nothing selected
  EXPECT_TRUE(shell.empty());

  RECT row{LVIR_BOUNDS, 0, 0, 0};
  SendMessageA(list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
  f.ListView3.SetSelected(1, true);
  doubleClickAt(row.left + 10, (row.top + row.bottom) / 2);
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0],
            (win::ShellRequest{TestApp().Handle(), "open", "http://clicker.example.org", "", "", SW_SHOWMAXIMIZED}));

  f.ListView3.SetSelected(1, false);
  f.ListView3.SetSelected(2, true);  // a row without an address
  doubleClickAt(row.left + 10, (row.top + row.bottom) / 2 + (row.bottom - row.top));
  EXPECT_EQ(shell.size(), 1u);
}

}  // namespace
}  // namespace quillet
