// What a run tells people: on a terminal its progress line is redrawn in place; anywhere else
// (a log file, a pipe) every character stays, so the line is written whole, now and then.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "services/get/Console.h"

namespace quillet::services {
namespace {

struct Written {
  std::string out, err;
};

Written Told(bool redraw) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    std::unique_ptr<RunEvents> events = TerminalEvents(out, err, redraw);
    events->Plan({{"a.gz", "wet", 1000}, {"b.gz", "wet", 1000}}, "bytes");
    events->FileStarted(0, {"a.gz", "wet", 1000});
    // Nothing is shown of a run over within a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    for (int done = 100; done <= 1000; done += 100) events->Progress(0, done, 1000, done, 2000, 1e6);
    events->Stored("a.gz: 10 records");
    events->Failed("b.gz: not found (404); skipped", "Getting again later fetches it.");
    events->Finished(1);
  }
  auto read = [](std::FILE* file) {
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
  };
  return {read(out), read(err)};
}

TEST(Console, TheProgressLineIsRedrawnOnlyOnATerminal) {
  const Written log = Told(false);
  EXPECT_EQ(log.err.find('\r'), std::string::npos) << log.err;
  EXPECT_EQ(log.err,
            "[1/2] a.gz  100 bytes of 1 kB | all 100 bytes of 2 kB, 1.0 MB/s, 0 s left\n"
            "b.gz: not found (404); skipped\n  Getting again later fetches it.\n");
  EXPECT_EQ(log.out, "a.gz: 10 records\n");
  const Written terminal = Told(true);
  EXPECT_NE(terminal.err.find('\r'), std::string::npos) << terminal.err;
  EXPECT_EQ(terminal.out, "a.gz: 10 records\n");
}

}  // namespace
}  // namespace quillet::services
