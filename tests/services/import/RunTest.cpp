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
  ASSERT_EQ(run.failed.size(), 2u);
  EXPECT_EQ(run.failed[0].rfind(missing + ": import could not be read, nothing of it was stored", 0), 0u);
  EXPECT_EQ(run.failed[1], useless +
                               ": nothing stored: all 1 lines skipped, 1 for term holds '<', which the suggestion "
                               "page cannot carry");
  EXPECT_EQ(run.said.size(), 3u);

  // One unreadable file of a summed run stores nothing of the run.
  const std::string gsc = run.dir.Write("q.csv", "Top queries,Impressions\nfly rods,40\n");
  EXPECT_EQ(run.Import("gsc", {gsc, missing}), 1);
  EXPECT_EQ(run.Searches("fly rods"), std::nullopt);
  EXPECT_EQ(run.Import("gsc", {gsc, gsc}), 0);
  EXPECT_EQ(run.Searches("fly rods"), 80);
}

// A WARC record of the type given, holding the block.
std::string WarcRecord(const std::string& type, const std::string& block) {
  return "WARC/1.0\r\nWARC-Type: " + type +
         "\r\nWARC-Target-URI: http://a.com/\r\nContent-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block +
         "\r\n\r\n";
}

TEST(RunImport, AFileThatStoresNothingFailsTheRunAndSaysWhy) {
  const std::string wat = WarcRecord("warcinfo", "software: x") +
                          WarcRecord("metadata", R"({"Envelope":{"WARC-Header-Metadata":{"WARC-Type":"request"}}})");
  ImportSettings german;
  german.project = "de";
  struct Case {
    std::string kind, bytes;
    ImportSettings settings;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"keywords", "", {}, "the file holds no lines"},
      {"wat",
       wat,
       {},
       "0 metadata records of HTML responses (left out: 1 metadata of request records, 1 warcinfo records)"},
      {"wet",
       wat,
       {},
       "0 conversion records (left out: 1 metadata records, 1 warcinfo records); a WAT file given to import wet?"},
      {"pageviews", "en Dog_training 3 0\n", german, "0 lines of project de (left out: 1 lines of other projects)"},
      {"keywords",
       "Phrase,Intent\nfoo,bar\n",
       {},
       "all 2 lines skipped, 2 for no header with a term and a search volume column"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind + ": " + c.why);
    ImportRun run;
    const std::string file = run.dir.Write("in", c.bytes);
    EXPECT_EQ(run.Import(c.kind, {file}, c.settings), 1);
    ASSERT_FALSE(run.failed.empty());
    EXPECT_EQ(run.failed.back(), file + ": nothing stored: " + c.why);
  }
  // What a keyword file is expected to hold is named with its first line.
  ImportRun run;
  run.Import("keywords", {run.dir.Write("k.csv", "Phrase,Intent\nfoo,bar\n")});
  EXPECT_NE(run.said.back().find("Avg. monthly searches"), std::string::npos) << run.said.back();
  EXPECT_NE(run.said.back().find("the file's first line is \"Phrase,Intent\""), std::string::npos) << run.said.back();
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
