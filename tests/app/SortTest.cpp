// Sorting the three lists through real header clicks, and the tick commands of ListView1's
// popup menu, on the real main window.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "app/MainForm.h"
#include "tests/app/Harness.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedServices.h"

namespace quillet {
namespace {

using test::TestApp;
using Table = std::vector<std::vector<std::string>>;

class SortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    form.reset();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  TForm1& Make(const std::string& host = "127.0.0.1:9") {
    TestApp();
    form = std::make_unique<TForm1>(ServiceHosts{"http://" + host, "http://" + host, "http://" + host});
    return *form;
  }
  std::unique_ptr<TForm1> form;
};

void Fill(win::ListView& list, const Table& rows) {
  for (const auto& row : rows) list.AddRow(row);
}

Table Shown(win::ListView& list, int columns) { return test::ShownRows(list.Handle(), columns); }

// Where a user's click on a column header lands: the header reports the click, the list
// view turns it into LVN_COLUMNCLICK for its parent.
struct HeaderClick {
  HWND header;
  LPARAM at;
  HeaderClick(win::ListView& list, int column)
      : header(reinterpret_cast<HWND>(SendMessageA(list.Handle(), LVM_GETHEADER, 0, 0))) {
    RECT r{};
    SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&r));
    at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  void Send() const {
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(header, WM_LBUTTONUP, 0, at);
  }
  // From any thread; handled at the window thread's next pump.
  void Post() const {
    PostMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(header, WM_LBUTTONUP, 0, at);
  }
};

void ClickHeader(win::ListView& list, int column) { HeaderClick(list, column).Send(); }

std::vector<std::string> ColumnOf(const Table& t, int c) {
  std::vector<std::string> out;
  for (const auto& row : t) out.push_back(row[static_cast<size_t>(c)]);
  return out;
}

TEST_F(SortTest, EachColumnOfEachListThroughAHeaderClick) {
  TForm1& f = Make();
  Fill(f.ListView1, {{"beta", "100", "5000", "2"}, {"Alpha", "300", "40", "2250"}, {"gamma", "200", "900", "44.44"}});
  Fill(f.ListView2, {{"b", "3.6"}, {"C", "3.8"}, {"a", "1"}});
  Fill(f.ListView3, {{"b.com", "1", "300", "999999999"}, {"a.com", "2", "20", "4000"}, {"c.com", "3", "1000", "12"}});
  const struct {
    win::ListView* list;
    int columns, column;
    std::vector<std::string> expected;
  } cases[] = {
      {&f.ListView1, 4, 0, {"Alpha", "beta", "gamma"}},
      {&f.ListView1, 4, 1, {"300", "200", "100"}},
      {&f.ListView1, 4, 2, {"40", "900", "5000"}},
      {&f.ListView1, 4, 3, {"2250", "44.44", "2"}},
      {&f.ListView2, 2, 0, {"a", "b", "C"}},
      {&f.ListView2, 2, 1, {"3.8", "3.6", "1"}},
      {&f.ListView3, 4, 0, {"a.com", "b.com", "c.com"}},
      {&f.ListView3, 4, 1, {"1", "2", "3"}},
      {&f.ListView3, 4, 2, {"20", "300", "1000"}},
      {&f.ListView3, 4, 3, {"12", "4000", "999999999"}},
  };
  for (const auto& c : cases) {
    ClickHeader(*c.list, c.column);
    EXPECT_EQ(f.SortColumn, c.column);
    EXPECT_EQ(ColumnOf(Shown(*c.list, c.columns), c.column), c.expected) << "column " << c.column;
  }
  // Rows keep their cells together.
  ClickHeader(f.ListView1, 0);
  EXPECT_EQ(Shown(f.ListView1, 4),
            (Table{{"Alpha", "300", "40", "2250"}, {"beta", "100", "5000", "2"}, {"gamma", "200", "900", "44.44"}}));
}

TEST_F(SortTest, EmptyAndSingleRowListsAreUnchanged) {
  TForm1& f = Make();
  ClickHeader(f.ListView1, 1);
  EXPECT_EQ(f.ListView1.Count(), 0);
  Fill(f.ListView2, {{"only", "?"}});
  ClickHeader(f.ListView2, 1);
  EXPECT_EQ(Shown(f.ListView2, 2), (Table{{"only", "?"}}));
}

// Unconvertible values make the comparison inconsistent; the sort must still end with every
// row exactly once, its cells and its tick unchanged.
TEST_F(SortTest, InconsistentComparisonsKeepEveryRowOnce) {
  TForm1& f = Make();
  std::mt19937 rng(11);
  const char* odd[] = {"?", "-", "", "1,5", "x"};
  Table rows;
  std::map<std::string, std::pair<std::vector<std::string>, bool>> byName;
  for (int i = 0; i < 3000; ++i) {
    auto cell = [&](int bound) {
      return rng() % 4 == 0 ? std::string(odd[rng() % 5]) : std::to_string(static_cast<int>(rng() % bound));
    };
    std::vector<std::string> row{"row" + std::to_string(i), cell(100000), cell(1000), cell(50) + ".5"};
    rows.push_back(row);
  }
  Fill(f.ListView1, rows);
  for (int i = 0; i < f.ListView1.Count(); ++i) {
    f.ListView1.SetCheckedAt(i, i % 3 == 0);
    byName[rows[static_cast<size_t>(i)][0]] = {rows[static_cast<size_t>(i)], i % 3 == 0};
  }
  for (int column : {3, 1, 2, 0, 3}) {
    ClickHeader(f.ListView1, column);
    const Table shown = Shown(f.ListView1, 4);
    ASSERT_EQ(shown.size(), rows.size());
    std::map<std::string, int> seen;
    for (int i = 0; i < static_cast<int>(shown.size()); ++i) {
      const auto& row = shown[static_cast<size_t>(i)];
      ++seen[row[0]];
      ASSERT_EQ(row, byName[row[0]].first);
      ASSERT_EQ(f.ListView1.Checked(i), byName[row[0]].second) << row[0];
    }
    EXPECT_EQ(seen.size(), rows.size());
  }
}

TEST_F(SortTest, TickCommandsOfThePopupMenu) {
  TForm1& f = Make();
  SendMessageA(f.Handle(), WM_COMMAND, TForm1::kSelectAll1, 0);  // empty list: nothing to do
  Fill(f.ListView1, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
  f.ListView1.SetSelected(1, true);
  auto ticks = [&] {
    std::vector<bool> out;
    for (int i = 0; i < f.ListView1.Count(); ++i) out.push_back(f.ListView1.Checked(i));
    return out;
  };
  SendMessageA(f.Handle(), WM_COMMAND, TForm1::kSelectAll1, 0);
  EXPECT_EQ(ticks(), (std::vector<bool>{true, true, true}));
  SendMessageA(f.Handle(), WM_COMMAND, TForm1::kSelectNone1, 0);
  EXPECT_EQ(ticks(), (std::vector<bool>{false, false, false}));
  f.ListView1.SetCheckedAt(2, true);
  SendMessageA(f.Handle(), WM_COMMAND, TForm1::kInvertSelection1, 0);
  EXPECT_EQ(ticks(), (std::vector<bool>{true, true, false}));
  SendMessageA(f.Handle(), WM_COMMAND, TForm1::kInvertSelection1, 0);
  EXPECT_EQ(ticks(), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(f.ListView1.SelectedIndices(), (std::vector<int>{1}));  // the highlight is left alone
}

// A sort while a research runs reorders the rows; the run still completes its row in
// progress through the row's handle.
TEST_F(SortTest, SortDuringARun) {
  std::unique_ptr<HeaderClick> click;
  test::LoopbackServer server([&](const std::string& target) {
    if (target == "/search?p=%22dog+collars%22") click->Post();
    return test::CategoryAnswer(target);
  });
  TForm1& f = Make("127.0.0.1:" + std::to_string(server.Port()));
  click = std::make_unique<HeaderClick>(f.ListView1, 0);
  SendMessageA(f.BitBtn2.Handle(), BM_CLICK, 0, 0);
  // Sorted by Category after the second row began: "dog collars" before "dog training";
  // the third row came later and went to the end.
  EXPECT_EQ(Shown(f.ListView1, 4), (Table{{"dog collars", "150", "2000", "11.25"},
                                          {"dog training", "1000", "50000", "20"},
                                          {"puppy", "7", "?", "49"}}));
}

}  // namespace
}  // namespace quillet
