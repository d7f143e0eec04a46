// The framework's contracts under Wine: no window outlives the object that handles its
// messages, failures swallowed in window procedures reach the application's report hook,
// and a registry key opened for reading cannot write.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "framework/Controls.h"
#include "framework/ListView.h"
#include "framework/Registry.h"
#include "framework/Window.h"
#include "tests/app/Harness.h"
#include "widgets/OvalButton.h"
#include "widgets/SpinEdit.h"
#include "widgets/URLLabel.h"

namespace quillet::win {
namespace {

using test::RecordedReports;
using test::TestApp;

class HostForm : public Form {
 public:
  HostForm() { CreateForm("host", 400, 300, WS_SYSMENU); }
};

// Tripwires: after a wrapper is destroyed, one of these is built in its memory. A message
// that the framework still hands to that address reaches a tripwire, which counts it and
// throws, so that the window procedure reports it and lets the window's own procedure
// handle the message.
int gLateMessages = 0;

[[noreturn]] void Late() {
  ++gLateMessages;
  throw std::logic_error("a message reached a destroyed wrapper");
}

class ControlTrap : public Control {
 public:
  bool OnCommand(int) override { Late(); }
  bool OnNotify(NMHDR*, LRESULT&) override { Late(); }
  bool OnDrawItem(DRAWITEMSTRUCT*) override { Late(); }

 protected:
  LRESULT ControlMessage(UINT, WPARAM, LPARAM) override { Late(); }
};

class WindowTrap : public Window {
 protected:
  LRESULT HandleMessage(UINT, WPARAM, LPARAM) override { Late(); }
};

// One wrapper in memory the test owns, so that a tripwire can take its place.
class Slot {
 public:
  template <typename T, typename Make>
  static Slot Of(Make make) {
    using Trap = std::conditional_t<std::is_base_of_v<Control, T>, ControlTrap, WindowTrap>;
    static_assert(sizeof(T) <= kSize && sizeof(Trap) <= sizeof(T));
    Slot slot;
    slot.make_ = [make](void* at) { make(*new (at) T); };
    slot.destroy_ = [](void* at) { static_cast<T*>(at)->~T(); };
    slot.trap_ = [](void* at) { new (at) Trap; };
    return slot;
  }
  void Make() { make_(storage_); }
  void DestroyAndTrap() {
    destroy_(storage_);
    trap_(storage_);
  }

 private:
  static constexpr size_t kSize = 512;
  alignas(std::max_align_t) unsigned char storage_[kSize];
  std::function<void(void*)> make_, destroy_, trap_;
};

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int ThreadWindowCount() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), &CountWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

// A form with every kind of control, some inside a tab page, built and torn down again
// and again, the wrappers going in a different order each time and the form's window
// going first, in between or last. No message may reach a wrapper once it is gone, and
// no window may be left behind.
TEST(Lifetime, NoMessageReachesADestroyedWrapper) {
  RecordedReports recorded;
  const int windowsBefore = ThreadWindowCount();
  HWND form = nullptr, page = nullptr, tabs = nullptr;
  HBITMAP glyph = nullptr;
  std::vector<Slot> slots;
  slots.push_back(Slot::Of<HostForm>([&](HostForm& f) { form = f.Handle(); }));
  slots.push_back(Slot::Of<TabControl>([&](TabControl& c) {
    c.Create(form, {0, 0, 300, 200}, nullptr);
    tabs = c.Handle();
  }));
  slots.push_back(Slot::Of<TabSheet>([&](TabSheet& s) {
    RECT area{4, 24, 296, 196};
    s.Create(tabs, area);
    s.SetVisible(true);
    page = s.Handle();
  }));
  slots.push_back(Slot::Of<Button>([&](Button& c) { c.Create(form, "OK", {310, 10, 80, 25}); }));
  slots.push_back(Slot::Of<GlyphButton>([&](GlyphButton& c) { c.Create(page, "Go", {10, 10, 60, 30}, glyph); }));
  slots.push_back(Slot::Of<Label>([&](Label& c) { c.Create(page, "Label", 80, 10); }));
  slots.push_back(Slot::Of<Edit>([&](Edit& c) { c.Create(page, {80, 30, 80, 21}); }));
  slots.push_back(Slot::Of<GroupBox>([&](GroupBox& c) { c.Create(form, "", {310, 40, 80, 60}); }));
  slots.push_back(Slot::Of<ComboBox>([&](ComboBox& c) { c.Create(page, {170, 10, 100, 21}); }));
  slots.push_back(Slot::Of<StatusBar>([&](StatusBar& c) { c.Create(form); }));
  slots.push_back(Slot::Of<ListView>([&](ListView& c) {
    ListViewOptions options;
    options.checkBoxes = true;
    options.tooltip = "tip";
    c.Create(page, {10, 60, 270, 100}, {{"A", 100, 50}, {"B", 100, 50}}, options);
    c.AddRow({"a", "1"});
  }));
  slots.push_back(Slot::Of<widgets::TSpinEdit>([&](widgets::TSpinEdit& c) { c.Create(form, {310, 110, 51, 22}); }));
  slots.push_back(Slot::Of<widgets::TOvalButton>([&](widgets::TOvalButton& c) { c.Create(form, 310, 140, 64, 31); }));
  slots.push_back(Slot::Of<widgets::TURLLabel>([&](widgets::TURLLabel& c) { c.Create(form, 310, 180, 80, 13); }));

  std::mt19937 random(17);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    gLateMessages = 0;
    for (Slot& slot : slots) slot.Make();
    ShowWindow(form, SW_SHOWNOACTIVATE);
    TestApp().ProcessMessages();

    std::vector<size_t> order(slots.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    const size_t formWindowGoesAt = round % 3 == 0 ? 0 : round % 3 == 1 ? order.size() / 2 : order.size();
    for (size_t i = 0; i < order.size(); ++i) {
      if (i == formWindowGoesAt) DestroyWindow(form);
      slots[order[i]].DestroyAndTrap();
      TestApp().ProcessMessages();
    }
    if (IsWindow(form)) DestroyWindow(form);
    TestApp().ProcessMessages();
    EXPECT_EQ(gLateMessages, 0);
    EXPECT_EQ(ThreadWindowCount(), windowsBefore);
  }
  EXPECT_TRUE(recorded.reports.empty()) << recorded.reports.front();
}

// What a test window throws from its handler.
class Thrower : public Window {
 public:
  Thrower() {
    RegisterClassOnce("QuilletThrower", nullptr);
    CreateWindowOf("QuilletThrower", "", WS_POPUP, 0, 0, 0, 10, 10, nullptr);
  }
  using Window::CreateWindowOf;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == WM_APP) throw std::runtime_error("handler failed");
    return Window::HandleMessage(msg, wp, lp);
  }
};

TEST(FailureReports, SwallowedFailuresReachTheHookWithPlaceAndError) {
  TestApp();
  HostForm host;
  const struct {
    const char* name;
    std::function<void()> provoke;
    std::string report;
  } cases[] = {
      {"a window's handler", [] { SendMessageA(Thrower().Handle(), WM_APP, 0, 0); },
       "Window (QuilletThrower, message 0x8000): handler failed"},
      {"a control's own messages",
       [&] {
         widgets::TSpinEdit spin;
         spin.Create(host.Handle(), {0, 0, 51, 22});
         spin.beep = [] { throw std::runtime_error("no sound"); };
         SendMessageA(spin.Handle(), WM_CHAR, 'x', 1);
       },
       "Control (Edit, message 0x0102): no sound"},
      {"a window that cannot be created",
       [] { Thrower().CreateWindowOf("NoSuchClass", "", WS_POPUP, 0, 0, 0, 1, 1, nullptr); },
       "CreateWindowExA NoSuchClass: error "},
  };
  for (const auto& c : cases) {
    RecordedReports recorded;
    c.provoke();
    ASSERT_EQ(recorded.reports.size(), 1u) << c.name;
    EXPECT_EQ(recorded.reports[0].substr(0, c.report.size()), c.report) << c.name;
  }
}

TEST(Registry, AKeyOpenedForReadingCannotWrite) {
  const char* path = "\\Software\\Orvane\\QuilletFrameworkTest";
  {
    RegistryKey created = RegistryKey::Create(HKEY_CURRENT_USER, path);
    ASSERT_TRUE(created.IsOpen());
    EXPECT_TRUE(created.WriteDword("n", 7));
  }
  RegistryKey read = RegistryKey::Open(HKEY_CURRENT_USER, path);
  ASSERT_TRUE(read.IsOpen());
  EXPECT_EQ(read.ReadDword("n"), 7u);
  EXPECT_FALSE(read.WriteDword("n", 8));
  EXPECT_FALSE(read.WriteDword("other", 1));
  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, path).ReadDword("n"), 7u);
  EXPECT_FALSE(RegistryKey::Open(HKEY_CURRENT_USER, path).ValueExists("other"));
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Orvane\\QuilletFrameworkTest");
}

}  // namespace
}  // namespace quillet::win
