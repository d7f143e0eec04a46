// What open data costs the data service, each figure with its goal:
// - the exact-phrase count of known terms on the demo data and on a store with 10 times the
//   pages (p95 of each and their ratio; the full-text index's own count for comparison);
// - a pageview hour of --titles distinct titles, into a new store and into the demo data:
//   time per term and peak memory;
// - importing generated crawl archives (metadata, then plain text) of --archive-mb MB of gzip
//   each with the real program, into the store of those titles: MB/s of compressed input and
//   peak resident memory, beside what reading them alone (no store) runs at.
// It writes gigabytes (about 2 GB for the 10x store) and runs for minutes, so it is run by
// hand (scripts/bench), not in CI. --pages sets the demo size (10x is built too); --keep
// leaves the archives and the crawl store in place, for a profiler. The titles and archives
// also go into a local ClickHouse server (--no-clickhouse leaves it out).
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "services/import/Importers.h"
#include "services/program/Demo.h"
#include "services/store/sqlite/SqliteStore.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/ClickHouseServers.h"
#include "tests/services/support/PublicFiles.h"

namespace {

using namespace quillet::services;
using testing::GzipWriter;
using testing::TextMaker;
using Clock = std::chrono::steady_clock;

constexpr double kRatioGoal = 1.5;
// Compressed input per second: crawl text, and crawl metadata (less text to index per MB).
constexpr double kTextGoalMbs = 20.0;
constexpr double kMetadataGoalMbs = 30.0;
constexpr double kMemoryGoalMb = 256.0;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

bool Check(const std::string& what, double value, double goal, bool under, const char* unit) {
  bool ok = under ? value <= goal : value >= goal;
  std::printf("  %-56s %9.2f %-5s (goal: %s %.1f)%s\n", what.c_str(), value, unit, under ? "at most" : "at least", goal,
              ok ? "" : "  MISSED");
  return ok;
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())))];
}

// p95 in microseconds of the served count and of the index's own count, over the most
// searched terms.
std::pair<double, double> PhraseCountP95(const std::string& db) {
  std::vector<std::string> terms;
  {
    Database data(db, Database::Mode::ReadOnly);
    Statement top = data.Prepare("SELECT term FROM keywords ORDER BY searches DESC, term LIMIT 2000");
    while (top.Step()) terms.push_back(top.Text(0));
  }
  SqliteReader store(db);
  // A first round that is not timed: the file's pages in memory, as on a serving machine.
  for (const std::string& term : terms) store.CountMatches({term, true}, Deadline::None());
  std::vector<double> served, index;
  for (int round = 0; round < 10; ++round) {
    for (const std::string& term : terms) {
      auto begin = Clock::now();
      store.CountMatches({term, true}, Deadline::None());
      served.push_back(Seconds(begin) * 1e6);
    }
  }
  Database direct(db, Database::Mode::ReadOnly);
  direct.Exec("PRAGMA mmap_size = 268435456");
  Statement count = direct.Prepare("SELECT count(*) FROM page_text WHERE page_text MATCH ?1");
  for (const std::string& term : terms) {
    auto begin = Clock::now();
    count.Bind(1, MatchExpression(term, true));
    count.Step();
    count.Reset();
    index.push_back(Seconds(begin) * 1e6);
  }
  std::printf("  %-40s served p50 %8.1f us  p95 %8.1f us | index p50 %9.1f us  p95 %9.1f us\n",
              std::filesystem::path(db).filename().c_str(), Percentile(served, 0.5), Percentile(served, 0.95),
              Percentile(index, 0.5), Percentile(index, 0.95));
  return {Percentile(served, 0.95), Percentile(index, 0.95)};
}

// Reading alone, with a store that keeps nothing: what the readers cost without the store.
class NullWriter : public StoreWriter {
 public:
  Put PutKeyword(const std::string&, std::int64_t) override { return Put::Added; }
  Put PutRank(const std::string&, std::int64_t) override { return Put::Added; }
  bool AddPage(const PageInput&) override { return true; }
  Merge MergePage(const PageInput&) override { return Merge::Added; }
  void TallyKeyword(const std::string&, std::int64_t) override {}
  TallyResult StoreTally(std::int64_t, std::int64_t) override { return {}; }
  void Mark() override {}
  void ReleaseMark() override {}
  void RollBackToMark() override {}
  void RecordSource(const SourceRecord&) override {}
  bool HasSource(const std::string&, std::int64_t) override { return false; }
  void Commit() override {}
};

struct Measured {
  double seconds = 0, peakMb = 0;
  int exit = 0;
};

Measured RunImport(const std::vector<std::string>& args, const std::filesystem::path& scratch) {
  auto begin = Clock::now();
  quillet::services::testing::Child child(args, {0, (scratch / "import.out").string()});
  Measured measured;
  measured.exit = child.WaitMeasuring();
  measured.seconds = Seconds(begin);
  measured.peakMb = child.PeakMb();
  if (measured.exit != 0)
    std::printf("  import failed:\n%s\n",
                quillet::services::testing::ReadFile((scratch / "import.out").string()).c_str());
  return measured;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures as they come, in a log too
  DemoOptions demo;
  std::int64_t archiveMb = 200, titles = 1000000;
  std::string scratchDir;
  bool keep = false, clickhouse = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto number = [&] { return i + 1 < argc ? std::stoll(argv[++i]) : 0LL; };
    if (arg == "--pages") demo.pages = static_cast<int>(number());
    else if (arg == "--archive-mb") archiveMb = std::max(1LL, number());
    else if (arg == "--titles") titles = std::max(1LL, number());
    else if (arg == "--scratch" && i + 1 < argc) scratchDir = argv[++i];
    else if (arg == "--keep") keep = true;
    else if (arg == "--no-clickhouse") clickhouse = false;
  }
  std::filesystem::path scratch =
      scratchDir.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(scratchDir);
  scratch /= "quillet-import-bench-" + std::to_string(::getpid());
  std::filesystem::create_directories(scratch);
  bool ok = true;

  std::printf("known-phrase counts, %d and %d pages:\n", demo.pages, demo.pages * 10);
  const std::string small = (scratch / "demo.db").string(), large = (scratch / "demo-10x.db").string();
  auto begin = Clock::now();
  BuildDemo(small, demo, nullptr);
  std::printf("  demo built in %.1f s, %.0f MB\n", Seconds(begin), std::filesystem::file_size(small) / 1048576.0);
  DemoOptions tenfold = demo;
  tenfold.pages *= 10;
  begin = Clock::now();
  BuildDemo(large, tenfold, nullptr);
  std::printf("  10x demo built in %.1f s, %.0f MB\n", Seconds(begin), std::filesystem::file_size(large) / 1048576.0);
  auto [servedSmall, indexSmall] = PhraseCountP95(small);
  auto [servedLarge, indexLarge] = PhraseCountP95(large);
  std::printf("  index's own count at 10x pages: p95 %.1f times that of the demo\n", indexLarge / indexSmall);
  ok = Check("served count at 10x pages: p95 ratio", servedLarge / servedSmall, kRatioGoal, true, "x") && ok;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(large + suffix);

  // Demand first, so that the archives meet a store of many known phrases, as they would.
  std::printf("pageview hours of %lld distinct titles:\n", static_cast<long long>(titles));
  const std::string views = (scratch / "pageviews.gz").string(), crawl = (scratch / "crawl.db").string();
  {
    TextMaker text;
    GzipWriter out(views);
    std::string chunk;
    for (std::int64_t i = 0; i < titles; ++i) {
      chunk += "en " + text.Word() + "_" + text.Word() + "_" + std::to_string(i) + " " +
               std::to_string(1 + text.Next() % 50) + " 0\n";
      if (chunk.size() > (1 << 20)) {
        out.Member(chunk);
        chunk.clear();
      }
    }
    out.Member(chunk);
  }
  for (const auto& [what, db] : {std::pair{"into a new store", crawl}, std::pair{"into the demo data", small}}) {
    Measured run = RunImport({"import", "pageviews", views, "--db", db}, scratch);
    ok = run.exit == 0 && ok;
    std::printf("  %-20s %.1f s, %.1f us per term\n", what, run.seconds,
                run.seconds * 1e6 / static_cast<double>(titles));
    ok = Check(std::string("import pageviews ") + what + ": peak resident memory", run.peakMb, kMemoryGoalMb, true,
               "MB") &&
         ok;
  }

  // Metadata first: the pages it makes then take their text without being indexed twice.
  std::printf("crawl archives of %lld MB of gzip each, into the store of known titles:\n",
              static_cast<long long>(archiveMb));
  const std::string wet = (scratch / "bench.warc.wet.gz").string(), wat = (scratch / "bench.warc.wat.gz").string();
  {
    TextMaker text;
    testing::WriteArchives(wet, wat, archiveMb << 20, text);
  }
  for (const auto& [kind, file] : {std::pair{"wat", wat}, std::pair{"wet", wet}}) {
    const double mb = static_cast<double>(std::filesystem::file_size(file)) / 1048576.0;
    NullWriter none;
    begin = Clock::now();
    InputFile input(file);
    ImportReport read = FindImporter(kind)->read(none, input, ImportSettings(), nullptr);
    std::printf("  %s: %.0f MB, %lld records; reading alone %.1f MB/s\n", kind, mb, static_cast<long long>(read.lines),
                mb / Seconds(begin));
    Measured run = RunImport({"import", kind, file, "--db", crawl}, scratch);
    ok = run.exit == 0 && ok;
    ok = Check(std::string("import ") + kind + ": compressed input per second", mb / run.seconds,
               std::string(kind) == "wet" ? kTextGoalMbs : kMetadataGoalMbs, false, "MB/s") &&
         ok;
    ok = Check(std::string("import ") + kind + ": peak resident memory", run.peakMb, kMemoryGoalMb, true, "MB") && ok;
  }
  std::printf("  crawl store: %.0f MB\n", std::filesystem::file_size(crawl) / 1048576.0);

  // The same titles and archives into one local ClickHouse server.
  if (clickhouse) {
    std::printf("the same into one ClickHouse server:\n");
    quillet::services::testing::ClickHouseServers server(1);
    const std::vector<std::string> target = {"--clickhouse", server.Url(0)};
    for (const auto& [kind, file] : {std::pair{"pageviews", views}, std::pair{"wat", wat}, std::pair{"wet", wet}}) {
      std::vector<std::string> args = {"import", kind, file};
      args.insert(args.end(), target.begin(), target.end());
      Measured run = RunImport(args, scratch);
      ok = run.exit == 0 && ok;
      const double mb = static_cast<double>(std::filesystem::file_size(file)) / 1048576.0;
      if (std::string(kind) == "pageviews")
        std::printf("  pageviews: %.1f s, %.1f us per term, peak %.1f MB\n", run.seconds,
                    run.seconds * 1e6 / static_cast<double>(titles), run.peakMb);
      else
        ok = Check(std::string("import ") + kind + " into ClickHouse: compressed input per second", mb / run.seconds,
                   std::string(kind) == "wet" ? kTextGoalMbs : kMetadataGoalMbs, false, "MB/s") &&
             ok;
    }
  }
  std::filesystem::remove(views);

  if (keep) std::printf("  files kept in %s\n", scratch.c_str());
  else std::filesystem::remove_all(scratch);
  return ok ? 0 : 1;
}
