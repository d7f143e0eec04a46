// The size arithmetic of `get`: sums of what servers declare (the free-space check's) and the
// progress of a run over files of any declared size read in any order of reports, never
// overflowing and never telling more done than there is in all.
#include <string>
#include <vector>

#include "protocol/Format.h"
#include "services/get/Console.h"

namespace {

using namespace quillet::services;

std::int64_t Size(const std::uint8_t*& data, const std::uint8_t* end) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8 && data < end; ++i) value = value << 8 | *data++;
  return static_cast<std::int64_t>(value);
}

class Checked : public RunEvents {
 public:
  void Plan(const std::vector<PlannedFile>&, const char*) override {}
  void FileStarted(std::size_t, const PlannedFile&) override {}
  void Progress(std::size_t, std::int64_t done, std::int64_t total, std::int64_t runDone, std::int64_t runTotal,
                double perSecond) override {
    if (done < 0 || runDone < 0 || runTotal < 0 || perSecond < 0) __builtin_trap();
    if ((total > 0 && done > total) || runDone > runTotal) __builtin_trap();
  }
  void Stored(const std::string&) override {}
  void Failed(const std::string&, const std::string&) override {}
  void Note(const std::string&) override {}
  void Finished(int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* end = data + size;
  const std::size_t files = size > 0 ? 1 + *data++ % 6 : 0;
  std::vector<PlannedFile> plan;
  std::int64_t sum = 0, grows = 0;
  for (std::size_t i = 0; i < files; ++i) {
    plan.push_back({"f" + std::to_string(i), "wet", Size(data, end)});
    sum = quillet::protocol::AddSizes(sum, plan.back().bytes);
    grows = quillet::protocol::AddSizes(grows, quillet::protocol::ScaleSize(plan.back().bytes, 2.0));
    if (sum < 0 || grows < 0) __builtin_trap();
  }
  Checked events;
  RunTracker tracker(events, plan);
  RunConsole console = tracker.Console(nullptr);
  ImportProgress current;
  while (data < end) {
    const std::uint8_t op = *data++;
    if (op % 4 == 0) {
      current = console.progress("f" + std::to_string(op / 4 % (files + 1)));
    } else if (op % 4 == 1) {
      tracker.Finish();
    } else if (op % 4 == 2) {
      tracker.Rewind(op / 4 % (files + 1));
    } else if (current) {
      const std::int64_t done = Size(data, end), total = Size(data, end);
      current(done, total);
    }
    if (tracker.RunDone() < 0 || tracker.RunTotal() < 0) __builtin_trap();
  }
  return 0;
}
