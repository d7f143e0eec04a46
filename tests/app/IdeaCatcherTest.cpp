// The Idea Catcher tab through the real main window and the real INI API: adding ticked
// results, deleting, clearing through the real message box, loading and saving idea list
// files (also hostile ones), and the file dialogs driven as a user would.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/MainForm.h"
#include "framework/AtomicFile.h"
#include "framework/IniFile.h"
#include "research/IdeaList.h"
#include "tests/app/Harness.h"

namespace quillet {
namespace {

using test::ClassOf;
using test::TestApp;
using test::WindowText;
using Entries = std::vector<std::pair<std::string, std::string>>;

// A fresh directory under the temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    path_ = std::string(base) + "quillet-ideas-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter) + "\\";
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempDir() {
    for (const std::string& name : Files()) {
      SetFileAttributesA((path_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA((path_ + name).c_str());
    }
    RemoveDirectoryA(path_.c_str());
  }
  std::string operator/(const std::string& name) const { return path_ + name; }
  const std::string& Path() const { return path_; }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path_ + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
  }

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
}

std::string ReadBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The texts the list view control itself shows (not the form's copy of them).
std::string ItemText(HWND list, int item, int subItem) {
  std::vector<char> buffer(8192, '\0');
  LVITEMA lv{};
  lv.iSubItem = subItem;
  lv.pszText = buffer.data();
  lv.cchTextMax = static_cast<int>(buffer.size());
  SendMessageA(list, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lv));
  return buffer.data();
}

Entries Shown(const win::ListView& list) {
  Entries out;
  const int n = static_cast<int>(SendMessageA(list.Handle(), LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) out.emplace_back(ItemText(list.Handle(), i, 0), ItemText(list.Handle(), i, 1));
  return out;
}

// Equal lists, or the first difference in a readable size.
::testing::AssertionResult SameEntries(const Entries& actual, const Entries& expected) {
  auto cut = [](const std::string& t) { return t.size() > 40 ? t.substr(0, 20) + "..." + t.substr(t.size() - 20) : t; };
  for (size_t i = 0; i < actual.size() && i < expected.size(); ++i)
    if (actual[i] != expected[i])
      return ::testing::AssertionFailure()
             << "entry " << i << ": got ('" << cut(actual[i].first) << "' " << actual[i].first.size() << ", '"
             << cut(actual[i].second) << "' " << actual[i].second.size() << "), expected ('" << cut(expected[i].first)
             << "' " << expected[i].first.size() << ", '" << cut(expected[i].second) << "' "
             << expected[i].second.size() << ")";
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << actual.size() << " entries, expected " << expected.size();
  return ::testing::AssertionSuccess();
}

void Fill(win::ListView& list, const Entries& entries) {
  for (const auto& [category, profit] : entries) {
    const RowHandle row = list.AddRow();
    list.SetCaption(row, category);
    list.SetSubItem(row, 1, profit);
  }
}

void AddResult(win::ListView& list, const std::vector<std::string>& texts, bool ticked) {
  const RowHandle row = list.AddRow();
  list.SetCaption(row, texts[0]);
  for (size_t i = 1; i < texts.size(); ++i) list.SetSubItem(row, static_cast<int>(i), texts[i]);
  list.SetChecked(row, ticked);
}

// Answers the modal windows the code under test opens, from a thread timer, which fires
// inside their modal loops. Each step gets the active dialog (class #32770) of this thread;
// a dialog that no step expects is cancelled, so a test fails instead of hanging.
class DialogScript {
 public:
  using Step = std::function<void(HWND dialog)>;
  explicit DialogScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 30, &DialogScript::Tick);
  }
  ~DialogScript() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  size_t StepsDone() const { return next_; }
  int Unexpected() const { return unexpected_; }

 private:
  static BOOL CALLBACK FindActive(HWND w, LPARAM p) {
    if (ClassOf(w) == "#32770" && IsWindowVisible(w) && IsWindowEnabled(w)) {
      *reinterpret_cast<HWND*>(p) = w;
      return FALSE;
    }
    return TRUE;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    DialogScript* self = current_;
    if (!self || self->busy_) return;
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindActive, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || dialog == self->lastDialog_) return;
    self->busy_ = true;
    self->lastDialog_ = dialog;
    if (self->next_ < self->steps_.size()) {
      self->steps_[self->next_++](dialog);
    } else {
      ++self->unexpected_;
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    self->busy_ = false;
  }
  static inline DialogScript* current_ = nullptr;
  std::vector<Step> steps_;
  size_t next_ = 0;
  int unexpected_ = 0;
  bool busy_ = false;
  HWND lastDialog_ = nullptr;
  UINT_PTR timer_ = 0;
};

void Press(HWND dialog, int id) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

class IdeaCatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    form = std::make_unique<TForm1>(ServiceHosts{"http://127.0.0.1:9", "http://127.0.0.1:9", "http://127.0.0.1:9"});
    form->Show();
  }
  void TearDown() override {
    form.reset();
    MSG msg;  // the main window's destruction may have posted WM_QUIT
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  void Click(win::Button& button) { SendMessageA(button.Handle(), BM_CLICK, 0, 0); }
  void Select(const std::vector<int>& rows) {
    for (int i : rows) form->ListView2.SetSelected(i, true);
  }
  Entries Ideas() const { return Shown(form->ListView2); }

  std::unique_ptr<TForm1> form;
  TempDir dir;
};

// --- Add selection -------------------------------------------------------------------------

TEST_F(IdeaCatcherTest, AddsTickedRowsInDisplayOrderOnce) {
  win::ListView& results = form->ListView1;
  AddResult(results, {"car hire", "120", "4000", "3.60"}, true);
  AddResult(results, {"", "5", "1", "25.00"}, true);
  AddResult(results, {"bike", "9", "3", "27.00"}, true);
  AddResult(results, {"boat", "8", "8", "8.00"}, false);
  AddResult(results, {"zoo", "90", "900", "9.00"}, true);
  AddResult(results, {"kite", "50"}, true);  // a run is still on this row
  Fill(form->ListView2, {{"bike", "old"}});
  // Sorted by Profitability, highest first; the unfinished row goes last.
  results.Sort([](const win::ListView::RowTexts& a, const win::ListView::RowTexts& b) {
    const double pa = a.size() > 3 ? std::atof(a[3].c_str()) : -1, pb = b.size() > 3 ? std::atof(b[3].c_str()) : -1;
    return pa > pb ? -1 : pa < pb ? 1 : 0;
  });

  SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(TForm1::kAddtoIdeaCatcher1, 0), 0);
  const Entries expected{{"bike", "old"}, {"zoo", "9.00"}, {"car hire", "3.60"}, {"kite", ""}};
  EXPECT_EQ(Ideas(), expected);

  form->AddtoIdeaCatcher1Click();
  EXPECT_EQ(Ideas(), expected) << "a second add changes nothing";
  const bool ticks[] = {true, true, true, false, true, true};  // in sorted order: bike, "", zoo, boat, car hire, kite
  for (int i = 0; i < results.Count(); ++i) EXPECT_EQ(results.Checked(i), ticks[i]) << i;
  EXPECT_EQ(form->PageControl1.ActivePage(), 0);

  for (int i = 0; i < results.Count(); ++i) results.SetCheckedAt(i, false);
  form->ListView2.Clear();
  form->AddtoIdeaCatcher1Click();
  EXPECT_TRUE(Ideas().empty()) << "no ticked rows, nothing added";
}

TEST_F(IdeaCatcherTest, AddSkipsEntriesThatCameFromAFile) {
  WriteBytes(dir / "l.qlc", "[item0]\r\ncat=bike\r\nprofit=1\r\n");
  form->LoadIdeaList(dir / "l.qlc");
  AddResult(form->ListView1, {"bike", "1", "1", "2"}, true);
  AddResult(form->ListView1, {"Bike", "1", "1", "3"}, true);
  form->AddtoIdeaCatcher1Click();
  EXPECT_EQ(Ideas(), (Entries{{"bike", "1"}, {"Bike", "3"}}));
}

// --- Delete and the Delete button -----------------------------------------------------------

TEST_F(IdeaCatcherTest, DeleteRemovesAllSelectedAndFollowsTheSelection) {
  EXPECT_FALSE(form->EffaceBtn.Enabled()) << "disabled at start";
  Fill(form->ListView2, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}});
  EXPECT_FALSE(form->EffaceBtn.Enabled());
  Select({1});
  EXPECT_TRUE(form->EffaceBtn.Enabled());
  form->ListView2.SetSelected(1, false);
  EXPECT_FALSE(form->EffaceBtn.Enabled());

  Select({0, 2, 4});
  EXPECT_TRUE(form->EffaceBtn.Enabled());
  Click(form->EffaceBtn);
  EXPECT_EQ(Ideas(), (Entries{{"b", "2"}, {"d", "4"}}));
  EXPECT_FALSE(form->EffaceBtn.Enabled());

  Click(form->EffaceBtn);  // disabled: a click does nothing
  EXPECT_EQ(Ideas().size(), 2u);
  Select({0, 1});
  Click(form->EffaceBtn);
  EXPECT_TRUE(Ideas().empty());
  EXPECT_FALSE(form->EffaceBtn.Enabled());
}

// --- Clear and its message box --------------------------------------------------------------

struct BoxSeen {
  std::string caption, text;
  HWND owner = nullptr;
  bool formEnabled = true;
  bool yes = false, no = false, ok = false, cancel = false;
  int defaultId = 0;
  HICON icon = nullptr;
};

BoxSeen Inspect(HWND box, HWND form) {
  BoxSeen seen;
  seen.caption = WindowText(box);
  seen.owner = GetWindow(box, GW_OWNER);
  seen.formEnabled = IsWindowEnabled(form) != FALSE;
  auto shown = [box](int id) {
    HWND b = GetDlgItem(box, id);
    return b && IsWindowVisible(b);
  };
  seen.yes = shown(IDYES);
  seen.no = shown(IDNO);
  seen.ok = shown(IDOK);
  seen.cancel = shown(IDCANCEL);
  for (const int id : {IDYES, IDNO})
    if (HWND b = GetDlgItem(box, id); b && (GetWindowLongA(b, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
      seen.defaultId = id;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) != "Static") continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      seen.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    else if (!WindowText(child).empty()) seen.text = WindowText(child);
  }
  return seen;
}

TEST_F(IdeaCatcherTest, ClearAsksAndOnlyYesEmptiesTheList) {
  const Entries before{{"a", "1"}, {"b", "2"}, {"c", "3"}};
  for (const int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
    form->ListView2.Clear();
    Fill(form->ListView2, before);
    Select({1});
    BoxSeen seen;
    DialogScript script({[&](HWND box) {
      seen = Inspect(box, form->Handle());
      Press(box, answer);
    }});
    Click(form->BitBtn3);
    EXPECT_EQ(script.StepsDone(), 1u);
    EXPECT_EQ(script.Unexpected(), 0);
    EXPECT_EQ(seen.caption, "Delete all?");
    EXPECT_EQ(seen.text, "Are you sure you want to delete all the categories\r\nyou have found so far?");
    EXPECT_TRUE(seen.yes && seen.no);
    EXPECT_FALSE(seen.ok || seen.cancel);
    EXPECT_EQ(seen.defaultId, IDYES);
    EXPECT_EQ(seen.icon, LoadIcon(nullptr, IDI_QUESTION));
    EXPECT_EQ(seen.owner, TestApp().Handle());
    EXPECT_FALSE(seen.formEnabled) << "modal to the application's windows";
    EXPECT_TRUE(IsWindowEnabled(form->Handle()));
    if (answer == IDYES) {
      EXPECT_TRUE(Ideas().empty());
      EXPECT_FALSE(form->EffaceBtn.Enabled());
    } else {
      EXPECT_EQ(Ideas(), before);
      EXPECT_TRUE(form->EffaceBtn.Enabled());
    }
  }
}

// --- Loading --------------------------------------------------------------------------------

TEST_F(IdeaCatcherTest, LoadReadsSectionsItem0ToNMinus1) {
  const struct {
    const char* name;
    std::string file;
    Entries expected;
  } cases[] = {
      {"three in order",
       "[item0]\r\ncat=a\r\nprofit=1\r\n[item1]\r\ncat=b\r\nprofit=2\r\n[item2]\r\ncat=c\r\nprofit=3\r\n",
       {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"sections in any order",
       "[item2]\r\ncat=c\r\nprofit=3\r\n[item0]\r\ncat=a\r\nprofit=1\r\n[item1]\r\ncat=b\r\n",
       {{"a", "1"}, {"b", ""}, {"c", "3"}}},
      {"item1 missing, item2 not read",
       "[item0]\r\ncat=a\r\nprofit=1\r\n[item2]\r\ncat=c\r\nprofit=3\r\n",
       {{"a", "1"}, {"", ""}}},
      {"a foreign section counts",
       "[item0]\r\ncat=a\r\n[notes]\r\nx=y\r\n[item1]\r\ncat=b\r\nprofit=2\r\n",
       {{"a", ""}, {"b", "2"}, {"", ""}}},
      {"names in any case", "[ITEM0]\r\nCat=a\r\nPROFIT=1\r\n", {{"a", "1"}}},
      {"platform value rules",
       "[item0]\r\ncat =  \" padded \"  \r\nprofit= 'q' \r\n[item1]\r\ncat=a;b=c\r\nprofit=\"x\r\n",
       {{" padded ", "q"}, {"a;b=c", "\"x"}}},
      {"LF line ends and blank lines", "[item0]\ncat=a\n\nprofit=1\n", {{"a", "1"}}},
      {"duplicates are loaded", "[item0]\r\ncat=a\r\n[item1]\r\ncat=a\r\n", {{"a", ""}, {"a", ""}}},
      {"no sections", "cat=a\r\nprofit=1\r\n", {}},
      {"empty file", "", {}},
  };
  for (const auto& c : cases) {
    const std::string path = dir / "case.qlc";
    WriteBytes(path, c.file);
    Fill(form->ListView2, {{"old", "9"}});
    form->LoadIdeaList(path);
    EXPECT_EQ(Ideas(), c.expected) << c.name;
  }
}

TEST_F(IdeaCatcherTest, LoadReplacesEvenWithAMissingFile) {
  Fill(form->ListView2, {{"kept?", "1"}, {"no", "2"}});
  Select({0});
  form->LoadIdeaList(dir / "absent.qlc");
  EXPECT_TRUE(Ideas().empty());
  EXPECT_FALSE(form->EffaceBtn.Enabled());
  EXPECT_FALSE(Exists(dir / "absent.qlc")) << "loading creates nothing";
  Fill(form->ListView2, {{"x", "1"}});
  form->LoadIdeaList("");
  EXPECT_TRUE(Ideas().empty());
}

TEST_F(IdeaCatcherTest, SectionNamesCountOnlyNamesThatFitTheBuffer) {
  // 3 names of 5 bytes each (with their NULs); the list needs one more byte for its end.
  WriteBytes(dir / "n.qlc", "[aaaa]\r\n[bbbb]\r\n[cccc]\r\n");
  const win::IniFile file(dir / "n.qlc");
  EXPECT_EQ(file.SectionNames(64), (std::vector<std::string>{"aaaa", "bbbb", "cccc"}));
  EXPECT_EQ(file.SectionNames(12), (std::vector<std::string>{"aaaa", "bbbb"}));
  EXPECT_EQ(file.SectionNames(8), (std::vector<std::string>{"aaaa"}));
  EXPECT_TRUE(file.SectionNames(4).empty());
}

TEST_F(IdeaCatcherTest, RelativeNamesMeanTheCurrentDirectory) {
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
  Fill(form->ListView2, {{"here", "1"}});
  const bool saved = form->WriteIdeaList("relative.qlc");
  form->LoadIdeaList("relative.qlc");
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(saved);
  EXPECT_TRUE(Exists(dir / "relative.qlc"));
  EXPECT_EQ(Ideas(), (Entries{{"here", "1"}}));
}

// --- Saving ---------------------------------------------------------------------------------

TEST_F(IdeaCatcherTest, SaveWritesExactlyTheSectionsInListOrder) {
  const std::string path = dir / "list.qlc";
  WriteBytes(path, std::string(5000, 'z') + "\r\n[item99]\r\ncat=old\r\n");
  Fill(form->ListView2, {{"car hire", "3.60"}, {"", ""}, {"  pad", "'q'"}});
  ASSERT_TRUE(form->WriteIdeaList(path));
  EXPECT_EQ(ReadBytes(path),
            "[item0]\r\ncat=car hire\r\nprofit=3.60\r\n"
            "[item1]\r\ncat=\r\nprofit=\r\n"
            "[item2]\r\ncat=\"  pad\"\r\nprofit=\"'q'\"\r\n");
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"list.qlc"}) << "no temporary file left behind";

  form->ListView2.Clear();
  ASSERT_TRUE(form->WriteIdeaList(path));
  EXPECT_EQ(ReadBytes(path), "");
  Fill(form->ListView2, {{"x", "1"}});
  form->LoadIdeaList(path);
  EXPECT_TRUE(Ideas().empty());
}

TEST_F(IdeaCatcherTest, SavedListsLoadBackUnchanged) {
  const std::string long2047(2047, 'L');
  // Written with quotes around it, a value is read back whole up to 2,046 characters.
  const std::string quoted2046 = "\"" + std::string(2044, 'Q') + "\"";
  const Entries entries{
      {"car hire", "3.60"},   {" lead", "trail "}, {"\"quoted\"", "'single'"}, {"a=b", "x;y"},         {"[item5]", "]"},
      {"; comment?", "=="},   {"\"", "'"},         {"say \"hi\" now", " \" "}, {"caf\xE9 \xA0", "\t"}, {"", "7"},
      {long2047, quoted2046}, {"  ", ""},
  };
  Fill(form->ListView2, entries);
  ASSERT_TRUE(form->WriteIdeaList(dir / "r.qlc"));
  form->ListView2.Clear();
  form->LoadIdeaList(dir / "r.qlc");
  EXPECT_TRUE(SameEntries(Ideas(), entries));

  // A line break cannot live in a line of the file: it comes back as a blank.
  form->ListView2.Clear();
  Fill(form->ListView2, {{"two\r\nlines", "1\n"}});
  ASSERT_TRUE(form->WriteIdeaList(dir / "r.qlc"));
  form->LoadIdeaList(dir / "r.qlc");
  EXPECT_EQ(Ideas(), (Entries{{"two  lines", "1 "}}));
}

TEST_F(IdeaCatcherTest, TwelveAndTenThousandEntriesRoundTrip) {
  for (const int n : {12, 10000}) {
    Entries entries;
    for (int i = 0; i < n; ++i) entries.emplace_back("category " + std::to_string(i * 7919 % n), std::to_string(i));
    form->ListView2.Clear();
    Fill(form->ListView2, entries);
    const std::string path = dir / ("n" + std::to_string(n) + ".qlc");
    const DWORD start = GetTickCount();
    ASSERT_TRUE(form->WriteIdeaList(path));
    const DWORD saved = GetTickCount();
    form->LoadIdeaList(path);
    const DWORD loaded = GetTickCount();
    EXPECT_TRUE(SameEntries(Ideas(), entries)) << n;
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.rfind("[item" + std::to_string(n - 1) + "]\r\n"), bytes.rfind('['));
    EXPECT_LT(loaded - start, 30000u) << n;

    // Every other entry selected, then all of them: Delete removes each set in one step.
    for (int i = 0; i < n; i += 2) form->ListView2.SetSelected(i, true);
    const DWORD deleting = GetTickCount();
    Click(form->EffaceBtn);
    const DWORD halved = GetTickCount();
    ASSERT_EQ(static_cast<int>(Ideas().size()), n / 2);
    EXPECT_EQ(Ideas()[0], entries[1]);
    EXPECT_EQ(Ideas().back(), entries[static_cast<size_t>(n - 1)]);
    for (int i = 0; i < n / 2; ++i) form->ListView2.SetSelected(i, true);
    Click(form->EffaceBtn);
    EXPECT_TRUE(Ideas().empty());
    std::printf("%d entries: save %lu ms, load %lu ms, delete half %lu ms, %zu bytes\n", n, saved - start,
                loaded - saved, halved - deleting, bytes.size());
  }
}

TEST_F(IdeaCatcherTest, FailedSaveKeepsTheOldFile) {
  const std::string path = dir / "keep.qlc";
  const std::string old = "[item0]\r\ncat=precious\r\nprofit=1\r\n";
  WriteBytes(path, old);
  Fill(form->ListView2, {{"new", "2"}});
  {
    // Another program holds the file open without sharing: the replacement must fail.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(form->WriteIdeaList(path));
    CloseHandle(held);
  }
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"keep.qlc"}) << "the temporary file is removed";
  EXPECT_FALSE(form->WriteIdeaList(dir / "no such folder\\x.qlc"));
  EXPECT_FALSE(Exists(dir / "no such folder\\x.qlc"));
  EXPECT_TRUE(form->WriteIdeaList(path));
  EXPECT_EQ(ReadBytes(path), "[item0]\r\ncat=new\r\nprofit=2\r\n");
}

// --- Hostile files --------------------------------------------------------------------------

TEST_F(IdeaCatcherTest, HostileFilesLoadInBoundedTime) {
  std::string garbage(1 << 20, '\0');
  unsigned seed = 12345;
  for (char& c : garbage) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  std::string big = "[item0]\r\ncat=first\r\nprofit=1\r\n";
  while (big.size() < 50u << 20) big += "filler=" + std::string(90, 'f') + "\r\n";
  big += "[item1]\r\ncat=last\r\n";
  std::string many, reversed;
  for (int k = 0; k < 100000; ++k) many += "[item" + std::to_string(k) + "]\r\ncat=c" + std::to_string(k) + "\r\n";
  for (int k = 99999; k >= 0; --k) reversed += "[item" + std::to_string(k) + "]\r\ncat=c" + std::to_string(k) + "\r\n";
  const std::string longLine = "[item0]\r\ncat=" + std::string(1 << 20, 'a') + "\r\nprofit=7\r\n";
  const std::string longName = "[" + std::string(1 << 20, 'n') + "]\r\n[item0]\r\ncat=x\r\n";

  // How many of the names item0, item1, ... fit a buffer, one byte kept for the list's end.
  auto fitting = [](size_t buffer) {
    size_t count = 0;
    for (size_t used = 0;; ++count) {
      used += IdeaSectionName(count).size() + 1;
      if (used > buffer - 2) return count;
    }
  };
  std::string savedThenForeign;
  for (int k = 0; k < 3000; ++k)
    savedThenForeign += "[item" + std::to_string(k) + "]\r\ncat=c" + std::to_string(k) + "\r\n";
  savedThenForeign += "[zzz]\r\n";
  const struct {
    const char* name;
    const std::string& bytes;
    std::function<void(const Entries&)> check;
  } cases[] = {
      {"binary garbage", garbage, [](const Entries& e) { EXPECT_LE(e.size(), 16384u); }},
      {"50 MB", big,
       [](const Entries& e) {
         EXPECT_EQ(e, (Entries{{"first", "1"}, {"last", ""}}));
       }},
      {"100,000 sections", many,
       [&](const Entries& e) {
         // A saved list longer than the 16 KB name list still loads, up to the larger one.
         ASSERT_EQ(e.size(), fitting(1 << 17));
         EXPECT_EQ(e.back().first, "c" + std::to_string(e.size() - 1));
       }},
      {"100,000 sections, last first", reversed,
       [&](const Entries& e) {
         // Not in the saved layout: the 16 KB count (names item99999 down to item98362).
         ASSERT_EQ(e.size(), 1638u);
         EXPECT_EQ(e[0].first, "c0");
       }},
      {"saved layout, then a foreign section", savedThenForeign,
       [&](const Entries& e) {
         ASSERT_EQ(e.size(), fitting(16384));
         EXPECT_EQ(e.back().first, "c" + std::to_string(e.size() - 1));
       }},
      {"1 MB value line", longLine,
       [](const Entries& e) {
         EXPECT_EQ(e, (Entries{{std::string(2047, 'a'), "7"}}));
       }},
      {"1 MB section name", longName, [](const Entries& e) { EXPECT_LE(e.size(), 1u); }},
  };
  for (const auto& c : cases) {
    const std::string path = dir / "hostile.qlc";
    WriteBytes(path, c.bytes);
    const DWORD start = GetTickCount();
    form->LoadIdeaList(path);
    const DWORD took = GetTickCount() - start;
    std::printf("%s: %lu ms, %zu entries\n", c.name, took, Ideas().size());
    EXPECT_LT(took, 60000u) << c.name;
    SCOPED_TRACE(c.name);
    c.check(Ideas());
  }
}

// --- The file dialogs -----------------------------------------------------------------------

std::string FolderOf(HWND dialog) {
  char buffer[MAX_PATH] = {};
  SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(buffer));
  std::string folder = buffer;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

void TypeFileName(HWND dialog, const std::string& name) {
  for (const int id : {edt1, cmb13})
    if (HWND control = GetDlgItem(dialog, id)) SetWindowTextA(control, name.c_str());
}

bool SameFolder(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

TEST_F(IdeaCatcherTest, LoadButtonStopsShowsTheOpenDialogAndLoads) {
  WriteBytes(dir / "ideas.qlc", "[item0]\r\ncat=from file\r\nprofit=5\r\n");
  Fill(form->ListView2, {{"before", "1"}});
  struct {
    bool stopped = false, readOnlyShown = true, resizable = false;
    std::string folder, filter;
  } seen;
  form->StopFlag = form->Stop2Flag = false;
  {
    DialogScript script({[&](HWND dialog) {
      seen.stopped = form->StopFlag && form->Stop2Flag;
      seen.folder = FolderOf(dialog);
      HWND readOnly = GetDlgItem(dialog, chx1);
      seen.readOnlyShown = readOnly && IsWindowVisible(readOnly);
      seen.filter = WindowText(GetDlgItem(dialog, cmb1));
      seen.resizable = (GetWindowLongA(dialog, GWL_STYLE) & WS_THICKFRAME) != 0;
      Press(dialog, IDCANCEL);
    }});
    Click(form->BitBtn6);
    EXPECT_EQ(script.StepsDone(), 1u);
  }
  EXPECT_TRUE(seen.stopped) << "both Stop buttons pressed before the dialog";
  EXPECT_TRUE(SameFolder(seen.folder, form->ProgramDir)) << seen.folder << " vs " << form->ProgramDir;
  EXPECT_FALSE(seen.readOnlyShown);
  EXPECT_EQ(seen.filter, "Quillet files (*.qlc)");
  EXPECT_TRUE(seen.resizable);
  EXPECT_EQ(Ideas(), (Entries{{"before", "1"}})) << "cancel changes nothing";

  {
    DialogScript script({[&](HWND dialog) {
      TypeFileName(dialog, dir / "ideas");  // the default extension is added
      Press(dialog, IDOK);
    }});
    Click(form->BitBtn6);
    EXPECT_EQ(script.Unexpected(), 0);
  }
  EXPECT_EQ(Ideas(), (Entries{{"from file", "5"}}));

  {
    DialogScript script({[&](HWND dialog) {
      TypeFileName(dialog, dir / "new.qlc");  // need not exist
      Press(dialog, IDOK);
    }});
    Click(form->BitBtn6);
    EXPECT_EQ(script.Unexpected(), 0);
  }
  EXPECT_TRUE(Ideas().empty());
}

TEST_F(IdeaCatcherTest, SaveButtonStopsAsksForANameAndWrites) {
  Fill(form->ListView2, {{"saved", "4"}});
  form->StopFlag = form->Stop2Flag = false;
  bool stopped = false;
  std::string folder, filter;
  {
    DialogScript script({[&](HWND dialog) {
      stopped = form->StopFlag && form->Stop2Flag;
      folder = FolderOf(dialog);
      filter = WindowText(GetDlgItem(dialog, cmb1));
      Press(dialog, IDCANCEL);
    }});
    Click(form->BitBtn5);
  }
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(SameFolder(folder, form->ProgramDir)) << folder;
  EXPECT_EQ(filter, "Quillet files (*.qlc)");
  EXPECT_TRUE(dir.Files().empty()) << "cancel writes nothing";
  EXPECT_EQ(Ideas(), (Entries{{"saved", "4"}}));

  {
    DialogScript script({[&](HWND dialog) {
      TypeFileName(dialog, dir / "mine");
      Press(dialog, IDOK);
    }});
    Click(form->BitBtn5);
    EXPECT_EQ(script.Unexpected(), 0);
  }
  EXPECT_EQ(ReadBytes(dir / "mine.qlc"), "[item0]\r\ncat=saved\r\nprofit=4\r\n");

  // Overwriting asks first; answering No writes nothing, Yes replaces.
  Fill(form->ListView2, {{"more", "5"}});
  for (const int answer : {IDNO, IDYES}) {
    DialogScript script({[&](HWND dialog) {
                           TypeFileName(dialog, dir / "mine.qlc");
                           Press(dialog, IDOK);
                         },
                         [&](HWND box) { Press(box, answer); }, [&](HWND dialog) { Press(dialog, IDCANCEL); }});
    Click(form->BitBtn5);
    EXPECT_GE(script.StepsDone(), 2u);
    EXPECT_EQ(script.Unexpected(), 0);
  }
  EXPECT_EQ(ReadBytes(dir / "mine.qlc"), "[item0]\r\ncat=saved\r\nprofit=4\r\n[item1]\r\ncat=more\r\nprofit=5\r\n");
}

}  // namespace
}  // namespace quillet
