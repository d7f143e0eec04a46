// The Quillet Data window's model: what it makes of the lines quillet-services writes (checked
// against the real program's), the progress of a job of several commands, the advice, and
// the command lines it runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "datawindow/DataModel.h"
#include "datawindow/Job.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/Fixtures.h"

namespace quillet::data {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
    lines.push_back(text.substr(from, end - from));
  return lines;
}

std::string Program(const services::testing::ScratchDir& dir, const std::vector<std::string>& args) {
  const std::string output = dir.File("out");
  services::testing::Child child(args, {0, output});
  child.Wait();
  return services::testing::ReadFile(output);
}

// What the real program writes is what the window reads: an import of two files, then the
// status of the database.
TEST(DataModel, ReadsWhatTheServiceWrites) {
  services::testing::ScratchDir dir;
  const std::string db = dir.File("my research.db");
  const std::string keywords = dir.Write("k.csv", "dog training,1200\ndog collars,300\n");
  const std::string views = dir.Write("v.gz", services::testing::Gzip("en Puppy_food 40 0\n"));
  Job job = ImportJob({keywords, views}, 1000);
  ASSERT_NE(job.Next(), nullptr);
  std::vector<std::string> said;
  for (const std::string& line :
       Lines(Program(dir, {"import", "auto", keywords, views, "--db", db, "--progress-lines"}))) {
    job.Read(line);
    said.push_back(job.Said());
  }
  job.Ended(0);
  EXPECT_EQ(job.Next(), nullptr);
  EXPECT_EQ(job.Outcome(), "Importing 2 files: done.");
  EXPECT_DOUBLE_EQ(job.Progress().JobShare(), 1.0);
  EXPECT_TRUE(job.TakeStored());
  EXPECT_TRUE(std::any_of(said.begin(), said.end(), [](const std::string& text) {
    return text.find("k.csv: 2 lines: 2 imported") != std::string::npos;
  })) << ::testing::PrintToString(said);

  DatabaseStatus status;
  for (const std::string& line : Lines(Program(dir, {"status", "--db", db, "--progress-lines"})))
    ReadStatusLine(line, &status);
  EXPECT_TRUE(status.complete);
  EXPECT_EQ(status.path, db);
  EXPECT_GT(status.bytes, 0);
  EXPECT_EQ(status.terms, 3);
  EXPECT_EQ(status.pages, 0);
  EXPECT_TRUE(status.userData);
  ASSERT_EQ(status.sources.size(), 2u);
  EXPECT_EQ(status.sources[0].kind, "keywords");
  EXPECT_EQ(status.sources[0].stored, 2);
  EXPECT_EQ(status.sources[1].address, views);
  EXPECT_FALSE(Advice(status).empty());
  EXPECT_TRUE(status.kept.empty());

  // The demo data over it, as the window restores it: counted in pages; the database is kept
  // aside, and the window is told where and how big.
  Job restore = RestoreDemoJob(status);
  const Step* step = restore.Next();
  ASSERT_NE(step, nullptr);
  std::vector<std::string> args = step->args;
  args.insert(args.end(), {"--pages", "200", "--hosts", "20", "--db", db, "--progress-lines"});
  std::vector<std::string> texts;
  for (const std::string& line : Lines(Program(dir, args))) {
    restore.Read(line);
    texts.push_back(restore.Progress().JobText());
  }
  EXPECT_EQ(texts.back(), "0 pages of 200 pages");
  restore.Ended(0);
  EXPECT_EQ(restore.Next(), nullptr);
  EXPECT_EQ(restore.Outcome(), "Restoring the demo data: done.");
  EXPECT_EQ(restore.Progress().JobText(), "200 pages of 200 pages");
  for (const std::string& text : texts) EXPECT_EQ(text.find("bytes"), std::string::npos) << text;
  DatabaseStatus demo;
  for (const std::string& line : Lines(Program(dir, {"status", "--db", db, "--progress-lines"})))
    ReadStatusLine(line, &demo);
  EXPECT_TRUE(HoldsDemoOnly(demo));
  EXPECT_EQ(demo.kept, db + ".before-demo");
  EXPECT_GT(demo.keptBytes, 0);
}

// Three commands: the first plans 300 bytes where 1000 were guessed, the second finds
// everything stored already and plans nothing, the third stores its files.
TEST(DataModel, AJobOfSeveralCommandsReachesItsEndOnlyWithTheLast) {
  Step step;
  step.args = {"get"};
  std::vector<Step> steps(3, step);
  steps[0].amount = 1000;
  steps[1].amount = 500;
  steps[2].amount = 2000;
  Job job(Job::Kind::kGet, "Getting", steps);
  std::vector<double> shares;
  auto read = [&](const std::string& line) {
    job.Read(line);
    shares.push_back(job.Progress().JobShare());
  };
  ASSERT_NE(job.Next(), nullptr);
  read("plan\t2\t300\tbytes");
  read("progress\t1\t100\t200\t100\t300\t50000000");
  read("progress\t2\t100\t100\t300\t300\t50000000");
  read("done\t0");
  job.Ended(0);
  ASSERT_NE(job.Next(), nullptr);
  read("plan\t0\t0\tbytes");
  read("stored\tthe 2 files named are stored already: nothing to fetch");
  read("done\t0");
  job.Ended(0);
  ASSERT_NE(job.Next(), nullptr);
  read("plan\t24\t2000\tbytes");
  read("progress\t24\t2000\t2000\t1990\t2000\t1");
  EXPECT_LT(job.Progress().JobShare(), 1.0);
  read("progress\t24\t2000\t2000\t2000\t2000\t1");
  read("done\t0");
  job.Ended(0);
  EXPECT_EQ(job.Next(), nullptr);
  EXPECT_DOUBLE_EQ(job.Progress().JobShare(), 1.0);
  for (std::size_t i = 1; i < shares.size(); ++i) EXPECT_GE(shares[i], shares[i - 1]) << i;
  EXPECT_EQ(job.Outcome(), "Getting: done.");
}

TEST(DataModel, DemoDataAloneIsReplacedByRealData) {
  struct Case {
    std::vector<std::string> kinds;
    bool userData, demoOnly;
  };
  for (const Case& c : {Case{{}, false, false}, Case{{"demo"}, false, true}, Case{{"demo", "keywords"}, true, false},
                        Case{{"wat"}, true, false}, Case{{}, true, false}}) {
    DatabaseStatus status;
    status.userData = c.userData;
    for (const std::string& kind : c.kinds) status.sources.push_back({"", kind, 0, 0, 0, ""});
    EXPECT_EQ(HoldsDemoOnly(status), c.demoOnly) << c.kinds.size() << c.userData;
  }
}

TEST(DataModel, AdviceOnlyForSearchVolumesWithoutPages) {
  struct Case {
    std::int64_t pages, terms;
    bool advice;
  };
  for (const Case& c : {Case{0, 0, false}, Case{0, 10, true}, Case{5, 10, false}, Case{5, 0, false}}) {
    DatabaseStatus status;
    status.pages = c.pages;
    status.terms = c.terms;
    EXPECT_EQ(!Advice(status).empty(), c.advice) << c.pages << " " << c.terms;
  }
}

TEST(DataModel, CommandLinesSplitBackIntoTheirArguments) {
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const Case cases[] = {
      {{"status", "--progress-lines"}, "C:\\Q\\quillet-services.exe status --progress-lines"},
      {{"--db", "C:\\My Data\\research.db"}, "C:\\Q\\quillet-services.exe --db \"C:\\My Data\\research.db\""},
      {{"C:\\dir with blank\\"}, "C:\\Q\\quillet-services.exe \"C:\\dir with blank\\\\\""},
      {{"say \"hi\""}, "C:\\Q\\quillet-services.exe \"say \\\"hi\\\"\""},
      {{"a\\\\\"b"}, "C:\\Q\\quillet-services.exe \"a\\\\\\\\\\\"b\""},
      {{""}, "C:\\Q\\quillet-services.exe \"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(CommandLine("C:\\Q\\quillet-services.exe", c.args), c.line);
}

}  // namespace
}  // namespace quillet::data
