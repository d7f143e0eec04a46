#include "tests/bench/BenchMain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quillet::bench {
namespace {

constexpr long kScale = 16;
constexpr double kMaxScaleRatio = 20.0;

std::vector<std::pair<std::string, std::string>>& Comparisons() {
  static std::vector<std::pair<std::string, std::string>> pairs;
  return pairs;
}

// The name without the repetition and timing suffixes: "BM_Replace/1024".
std::string Key(const benchmark::BenchmarkReporter::Run& run) {
  const auto& name = run.run_name;
  return name.args.empty() ? name.function_name : name.function_name + "/" + name.args;
}

long ArgOf(const std::string& key) {
  const std::size_t slash = key.find('/');
  return slash == std::string::npos ? 0 : std::strtol(key.c_str() + slash + 1, nullptr, 10);
}

// Keeps each run's seconds per iteration while the console reporter prints as usual.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      // The fastest repetition counts: the machine is shared, and other work only ever
      // adds time.
      const double iterations = static_cast<double>(run.iterations);
      Keep(wallSeconds, Key(run), run.real_accumulated_time / iterations);
      Keep(cpuSeconds, Key(run), run.cpu_accumulated_time / iterations);
      if (!run.run_name.args.empty()) families[run.run_name.function_name].insert(Key(run));
    }
  }
  // Wall time for comparisons (a fetch waits on its peer); CPU time of the benchmark
  // thread for growth, which preemption by other processes does not inflate.
  std::map<std::string, double> wallSeconds;
  std::map<std::string, double> cpuSeconds;
  std::map<std::string, std::set<std::string>> families;

 private:
  static void Keep(std::map<std::string, double>& times, const std::string& key, double value) {
    const auto [it, added] = times.emplace(key, value);
    if (!added) it->second = std::min(it->second, value);
  }
};

}  // namespace

bool CompareRuns(const std::string& numerator, const std::string& denominator) {
  Comparisons().emplace_back(numerator, denominator);
  return true;
}

}  // namespace quillet::bench

int main(int argc, char** argv) {
  using namespace quillet::bench;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  bool ok = true;
  for (const auto& [family, keys] : reporter.families) {
    for (const auto& small : keys)
      for (const auto& large : keys) {
        if (ArgOf(small) <= 0 || ArgOf(large) != kScale * ArgOf(small)) continue;
        const double ratio = reporter.cpuSeconds[large] / reporter.cpuSeconds[small];
        const bool linear = ratio <= kMaxScaleRatio;
        ok = ok && linear;
        std::printf("scaling %s: %ldx input takes %.1fx CPU time (limit %.0fx) %s\n", family.c_str(), kScale, ratio,
                    kMaxScaleRatio, linear ? "ok" : "TOO SLOW");
      }
  }
  for (const auto& [numerator, denominator] : Comparisons()) {
    const auto a = reporter.wallSeconds.find(numerator);
    const auto b = reporter.wallSeconds.find(denominator);
    if (a == reporter.wallSeconds.end() || b == reporter.wallSeconds.end()) continue;
    std::printf("ratio %s / %s: %.2f\n", numerator.c_str(), denominator.c_str(), a->second / b->second);
  }
  return ok ? 0 : 1;
}
