// The real quillet.exe, driven from this process through its windows, against scripted
// services on loopback.
#include <gtest/gtest.h>

#include "tests/e2e/Driver.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedServices.h"

namespace quillet::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

TEST(EndToEnd, CategoryResearchFillsTheResultList) {
  LoopbackServer server(CategoryAnswer);
  Driver quillet;
  ASSERT_TRUE(quillet.Launch(QUILLET_EXE, {"QUILLET_SERVICE_HOST=127.0.0.1:" + std::to_string(server.Port())}));
  ASSERT_TRUE(quillet.WaitForMainWindow());
  quillet.SetText(quillet.Find("Edit"), "dog");
  quillet.Click(quillet.Find("Button", "Start"));
  ASSERT_TRUE(quillet.WaitForStatus("Done!"));
  HWND list = quillet.Find("SysListView32", "", 0);
  EXPECT_EQ(quillet.Rows(list, 4),
            (Rows{{"dog training", "1000", "50000", "20"}, {"dog collars", "150", "2000", "11.25"}, {"puppy", "7", "?", "49"}}));
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
