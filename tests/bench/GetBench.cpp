// What the network costs `get`, each figure with its goal: a generated crawl archive pair
// (metadata and text, --archive-mb MB of gzip each) imported by the real program from disk
// (import wat, import wet) and fetched from a local nginx over loopback (get crawl --files 1),
// each into a new store, --rounds times, the two in turns (which goes first alternates):
// - MB of compressed input per second of each, and get's share of import's (goal: 0.9), by
//   the clock and by the processor time the programs took (which other work on a shared
//   machine disturbs less); the median of the rounds' shares counts;
// - the peak resident memory of get (goal: under 256 MB).
// It writes about three times the archives' size in the temporary directory (or --scratch
// DIR) and runs for minutes, so it is run by hand (scripts/bench), not in CI.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/services/support/Child.h"
#include "tests/services/support/Mirror.h"
#include "tests/services/support/PublicFiles.h"

namespace {

using namespace quillet::services::testing;
using Clock = std::chrono::steady_clock;

constexpr double kShareGoal = 0.9;
constexpr double kMemoryGoalMb = 256.0;

struct Measured {
  double seconds = 0, cpuSeconds = 0, peakMb = 0;
  bool ok = true;
};

// Processor time (user and system) of the children waited for so far.
double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the program's commands one after the other, as one measurement.
Measured Run(const std::vector<std::vector<std::string>>& commands, const std::filesystem::path& scratch) {
  Measured measured;
  const auto begin = Clock::now();
  const double cpu = ChildrenCpuSeconds();
  for (const std::vector<std::string>& args : commands) {
    Child child(args, {0, (scratch / "run.out").string()});
    measured.ok = child.WaitMeasuring() == 0 && measured.ok;
    measured.peakMb = std::max(measured.peakMb, child.PeakMb());
    if (!measured.ok) std::printf("  failed:\n%s\n", ReadFile((scratch / "run.out").string()).c_str());
  }
  measured.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  measured.cpuSeconds = ChildrenCpuSeconds() - cpu;
  return measured;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void RemoveStore(const std::filesystem::path& db) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db.string() + suffix);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::int64_t archiveMb = 50;
  int rounds = 5;
  std::string scratchDir;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto number = [&] { return i + 1 < argc ? std::stoll(argv[++i]) : 0LL; };
    if (arg == "--archive-mb") archiveMb = std::max(1LL, number());
    else if (arg == "--rounds") rounds = static_cast<int>(std::max(1LL, number()));
    else if (arg == "--scratch" && i + 1 < argc) scratchDir = argv[++i];
  }
  std::filesystem::path scratch =
      scratchDir.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(scratchDir);
  scratch /= "quillet-get-bench-" + std::to_string(::getpid());
  std::filesystem::create_directories(scratch);

  PublicDataSize size;
  size.crawlFiles = 1;
  size.archiveBytes = archiveMb << 20;
  size.days.clear();
  const std::filesystem::path root = scratch / "mirror";
  const PublicData data = WritePublicData(root, size);
  const std::string wat = (root / data.wat[0]).string(), wet = (root / data.wet[0]).string();
  const double mb = static_cast<double>(std::filesystem::file_size(wat) + std::filesystem::file_size(wet)) / 1048576.0;
  std::printf("a crawl archive pair of %.0f MB of gzip, %d rounds:\n", mb, rounds);

  bool ok = true;
  std::vector<double> shares, cpuShares, peaks;
  {
    Mirror mirror(root.string(), (scratch / "nginx").string());
    for (int round = 1; round <= rounds; ++round) {
      const std::filesystem::path importDb = scratch / "import.db", getDb = scratch / "get.db";
      auto import = [&] {
        return Run(
            {{"import", "wat", wat, "--db", importDb.string()}, {"import", "wet", wet, "--db", importDb.string()}},
            scratch);
      };
      auto get = [&] {
        return Run({{"get", "crawl", "--files", "1", "--mirror", mirror.Http(), "--db", getDb.string()}}, scratch);
      };
      Measured imported, got;
      if (round % 2 == 1) {
        imported = import();
        got = get();
      } else {
        got = get();
        imported = import();
      }
      ok = imported.ok && got.ok && ok;
      shares.push_back(imported.seconds / got.seconds);
      cpuShares.push_back(imported.cpuSeconds / got.cpuSeconds);
      peaks.push_back(got.peakMb);
      std::printf(
          "  round %d: import %.1f MB/s (%.1f per processor second), get %.1f MB/s (%.1f): share %.2f (%.2f), "
          "get's peak memory %.0f MB\n",
          round, mb / imported.seconds, mb / imported.cpuSeconds, mb / got.seconds, mb / got.cpuSeconds, shares.back(),
          cpuShares.back(), got.peakMb);
      RemoveStore(importDb);
      RemoveStore(getDb);
    }
  }
  const double share = Median(shares);
  const bool fast = share >= kShareGoal, small = *std::max_element(peaks.begin(), peaks.end()) < kMemoryGoalMb;
  std::printf(
      "  get's share of import's throughput, median: %.2f by the clock, %.2f by processor time "
      "(goal: at least %.2f) %s\n",
      share, Median(cpuShares), kShareGoal, fast ? "ok" : "MISSED");
  std::printf("  get's peak resident memory: %.0f MB (goal: under %.0f MB) %s\n",
              *std::max_element(peaks.begin(), peaks.end()), kMemoryGoalMb, small ? "ok" : "MISSED");
  std::filesystem::remove_all(scratch);
  return ok && fast && small ? 0 : 1;
}
