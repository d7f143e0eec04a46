// quillet-drive TOPIC: types TOPIC into a running Quillet's topic field, presses Start and
// waits for the run to end. Used by scripts/run to show a research run on a fresh machine.
#include <cstdio>

#include "tests/e2e/Driver.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quillet-drive TOPIC\n");
    return 2;
  }
  quillet::test::Driver quillet;
  if (!quillet.Attach(20000)) {
    std::fprintf(stderr, "quillet-drive: no Quillet window found\n");
    return 1;
  }
  quillet.SetText(quillet.Find("Edit"), argv[1]);
  quillet.Click(quillet.Find("Button", "Start"));
  if (!quillet.WaitForStatus("Done!", 600000)) {
    std::fprintf(stderr, "quillet-drive: the research did not finish\n");
    return 1;
  }
  std::printf("%d rows\n", quillet.RowCount(quillet.Find("SysListView32")));
  return 0;
}
