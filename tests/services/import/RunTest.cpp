// The rules of an import run, called directly: which files are one import, how sums are
// scaled, and the exit status.
#include <gtest/gtest.h>

#include "services/import/Run.h"
#include "services/store/Rules.h"
#include "services/store/sqlite/SqliteStore.h"
#include "tests/services/support/Fixtures.h"

namespace quillet::services {
namespace {

struct ImportRun {
  testing::ScratchDir dir;
  std::string db = dir.File("run.db");
  std::vector<std::string> said, failed;

  int Import(std::string_view kind, const std::vector<std::string>& files, const ImportSettings& settings = {}) {
    RunConsole console;
    console.said = [this](const std::string& line) { said.push_back(line); };
    console.failed = [this](const std::string& line) { failed.push_back(line); };
    return RunImport(
        *FindImporter(kind), files, settings, [this] { return std::make_unique<SqliteWriter>(db); }, console);
  }
  std::optional<std::int64_t> Searches(const std::string& term) {
    SqliteReader store(db);
    for (const Suggestion& s : store.FindSuggestions(SuggestionWords(term), 100, Deadline::None()))
      if (s.term == term) return s.searches;
    return std::nullopt;
  }
};

TEST(RunImport, EachFileOnItsOwnSummedFilesAllOrNothing) {
  ImportRun run;
  const std::string good = run.dir.Write("a.csv", "dog toys,10\n");
  const std::string useless = run.dir.Write("b.csv", "<b>,1\n");
  const std::string missing = run.dir.File("none.csv");
  const std::string later = run.dir.Write("c.csv", "cat toys,7\n");
  // A file that cannot be read, or stores nothing, fails the run but keeps the others.
  EXPECT_EQ(run.Import("keywords", {good, missing, useless, later}), 1);
  EXPECT_EQ(run.Searches("dog toys"), 10);
  EXPECT_EQ(run.Searches("cat toys"), 7);
  ASSERT_EQ(run.failed.size(), 1u);
  EXPECT_EQ(run.failed[0].rfind(missing + ": import could not be read, nothing of it was stored", 0), 0u);
  EXPECT_EQ(run.said.size(), 3u);

  // One unreadable file of a summed run stores nothing of the run.
  const std::string gsc = run.dir.Write("q.csv", "Top queries,Impressions\nfly rods,40\n");
  EXPECT_EQ(run.Import("gsc", {gsc, missing}), 1);
  EXPECT_EQ(run.Searches("fly rods"), std::nullopt);
  EXPECT_EQ(run.Import("gsc", {gsc, gsc}), 0);
  EXPECT_EQ(run.Searches("fly rods"), 80);
}

TEST(RunImport, HourlyFilesAreScaledToAMonthOfTheHoursTheyCover) {
  ImportRun run;
  const std::string hour = run.dir.Write("h", "en Dog_training 3 0\n");
  struct Case {
    int files, hours;
    std::int64_t searches;
  };
  // 720 hours a month: 3 views in each of n files over h hours give 3 * n * 720 / h.
  for (const Case& c : {Case{1, 0, 2160}, Case{3, 0, 2160}, Case{2, 24, 180}, Case{1, 7, 309}}) {
    ImportSettings settings;
    settings.hours = c.hours;
    ASSERT_EQ(run.Import("pageviews", std::vector<std::string>(c.files, hour), settings), 0);
    EXPECT_EQ(run.Searches("dog training"), c.searches) << c.files << " files, " << c.hours << " hours";
  }
  EXPECT_NE(run.said.back().find("covering 7 hours, scaled to a month"), std::string::npos) << run.said.back();
}

}  // namespace
}  // namespace quillet::services
