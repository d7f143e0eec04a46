// The jobs of the Quillet Data window without the window: which commands each button runs for
// which database, what Cancel and failures leave to run, how their lines become progress,
// problems and the words at the end.
#include <gtest/gtest.h>

#include "datawindow/Job.h"

namespace quillet::data {
namespace {

const Programs kPrograms{"C:\\Q\\quillet-services.exe", "C:\\Q\\quillet-services-start.exe", "C:\\D\\research.db"};

DatabaseStatus Status(const std::string& service, bool userData = false, const std::string& kept = "") {
  DatabaseStatus status;
  status.service = service;
  status.userData = userData;
  status.kept = kept;
  return status;
}

// The command lines a job runs when every step succeeds.
std::vector<std::string> Commands(Job job) {
  std::vector<std::string> lines;
  while (const Step* step = job.Next()) {
    lines.push_back(CommandFor(*step, kPrograms));
    job.Ended(0);
  }
  return lines;
}

const std::string kServices = "C:\\Q\\quillet-services.exe ";
const std::string kDb = " --db C:\\D\\research.db --progress-lines";
const std::string kStarter = "C:\\Q\\quillet-services-start.exe";

TEST(Job, EachButtonRunsItsCommandsForTheDatabaseItFinds) {
  struct Case {
    const char* name;
    Job job;
    std::vector<std::string> commands;
  };
  const Case cases[] = {
      {"get open data: each command planned first, then run, replacing the demo data alone",
       GetJob(DataSizes().front(), "http://m"),
       {kServices + "get crawl --files 5 --mirror http://m --plan" + kDb,
        kServices + "get hostranks --top 1000000 --mirror http://m --plan" + kDb,
        kServices + "get pageviews --mirror http://m --plan" + kDb,
        kServices + "get crawl --files 5 --mirror http://m --replace-demo" + kDb,
        kServices + "get hostranks --top 1000000 --mirror http://m --replace-demo" + kDb,
        kServices + "get pageviews --mirror http://m --replace-demo" + kDb}},
      {"crawl pages from the publishers",
       CrawlJob(5, ""),
       {kServices + "get crawl --files 5 --plan" + kDb, kServices + "get crawl --files 5 --replace-demo" + kDb}},
      {"import",
       ImportJob({"C:\\My Data\\k.csv"}, 10),
       {kServices + "import auto \"C:\\My Data\\k.csv\" --replace-demo" + kDb}},
      {"restore the demo data, the service running: stopped and started around it",
       RestoreDemoJob(Status("running")),
       {kServices + "stop", kServices + "demo" + kDb, kStarter}},
      {"restore the demo data over imports: kept aside",
       RestoreDemoJob(Status("stopped", true)),
       {kServices + "demo --replace" + kDb}},
      {"take back the file kept",
       TakeBackJob(Status("running", false, "C:\\D\\research.db.before-demo")),
       {kServices + "stop", kServices + "demo --take-back" + kDb, kStarter}},
      {"stop the service", ServiceJob(Status("running")), {kServices + "stop"}},
      {"start the service", ServiceJob(Status("stopped")), {kStarter}},
  };
  for (const Case& c : cases) EXPECT_EQ(Commands(c.job), c.commands) << c.name;
}

TEST(Job, CancelAndFailuresLeaveOnlyWhatUndoesTheStepsThatSucceeded) {
  struct Case {
    const char* name;
    Job job;
    int cancelAt;                // Cancel while this step runs; -1: never
    std::vector<int> exitCodes;  // of the steps that run, in order
    std::vector<std::string> ran;
    std::string outcome;
  };
  const std::string restore = "Restoring the demo data";
  const Case cases[] = {
      {"cancelled while the demo data is built: the service is started again",
       RestoreDemoJob(Status("running")),
       1,
       {0, 1, 0},
       {kServices + "stop", kServices + "demo" + kDb, kStarter},
       restore + ": cancelled."},
      {"the service could not be stopped: nothing else runs",
       RestoreDemoJob(Status("running")),
       -1,
       {1},
       {kServices + "stop"},
       restore + ": finished with 1 problem."},
      {"the demo data could not be built: the service is started again",
       RestoreDemoJob(Status("running")),
       -1,
       {0, 1, 0},
       {kServices + "stop", kServices + "demo" + kDb, kStarter},
       restore + ": finished with 1 problem."},
      {"a plan that fails ends a get before anything is stored",
       CrawlJob(5, "http://127.0.0.1:8809"),
       -1,
       {1},
       {kServices + "get crawl --files 5 --mirror http://127.0.0.1:8809 --plan" + kDb},
       "Getting crawl pages: finished with 1 problem."},
      {"a get that fails lets the next ones run",
       GetJob(DataSizes().front(), ""),
       -1,
       {0, 0, 0, 1, 0, 0},
       {},
       "Getting Small open data: finished with 1 problem."},
      {"a get cancelled",
       GetJob(DataSizes().front(), ""),
       3,
       {0, 0, 0, 1},
       {},
       "Getting Small open data: cancelled. What was stored stays, and getting the same data again goes on from "
       "there."},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> ran;
    std::size_t codes = 0;
    for (int index = 0; const Step* step = c.job.Next(); ++index) {
      ran.push_back(CommandFor(*step, kPrograms));
      if (index == c.cancelAt) c.job.Cancel();
      ASSERT_LT(codes, c.exitCodes.size());
      c.job.Ended(c.exitCodes[codes++]);
    }
    EXPECT_EQ(codes, c.exitCodes.size());
    if (!c.ran.empty()) {
      EXPECT_EQ(ran, c.ran);
    }
    EXPECT_TRUE(c.job.Over());
    EXPECT_EQ(c.job.Outcome(), c.outcome);
  }
}

// A get of two commands as the service tells it: each planned (sizes from the servers), then
// the first fetches a file and fails on another, the second goes well.
TEST(Job, ProgressIsWhatWasReadAtTheSizesTheServersGave) {
  auto get = [](std::vector<std::string> args, std::int64_t amount, int plans) {
    Step step;
    step.args = std::move(args);
    step.amount = amount;
    step.plans = plans;
    return step;
  };
  Job job(Job::Kind::kGet, "Getting it",
          {get({"get", "crawl", "--plan"}, -1, 2), get({"get", "pageviews", "--plan"}, -1, 3),
           get({"get", "crawl"}, 1'000'000'000, -1), get({"get", "pageviews"}, 1'560'000'000, -1)});
  auto step = [&](const std::vector<std::string>& lines, int exit) {
    ASSERT_NE(job.Next(), nullptr);
    for (const std::string& line : lines) job.Read(line);
    job.Ended(exit);
  };
  ASSERT_NE(job.Next(), nullptr);
  // The built-in sizes are estimates: no time left is told from them.
  EXPECT_EQ(job.Progress().JobText(), "0 bytes of about 2.6 GB");
  job.Read("plan\t2\t300000000\tbytes");
  job.Ended(0);
  step({"plan\t24\t700000000\tbytes"}, 0);
  EXPECT_EQ(job.Progress().JobText(), "0 bytes of 1.0 GB");
  ASSERT_NE(job.Next(), nullptr);
  for (const char* line : {"plan\t2\t300000000\tbytes", "file\t1\twat\t200000000\thttp://m/a.warc.wat.gz",
                           "progress\t1\t100000000\t200000000\t100000000\t300000000\t10000000",
                           "stored\ta.warc.wat.gz: 10 records: 10 imported", "stored\t  skipped: 1 line too long"})
    job.Read(line);
  EXPECT_EQ(job.Progress().FileText(), "1/2 a.warc.wat.gz");
  EXPECT_DOUBLE_EQ(job.Progress().FileShare(), 0.5);
  EXPECT_EQ(job.Progress().JobText(), "100 MB of 1.0 GB, 10.0 MB/s, 2 min left");
  EXPECT_EQ(job.Said(), "a.warc.wat.gz: 10 records: 10 imported");
  EXPECT_TRUE(job.TakeStored());
  EXPECT_FALSE(job.TakeStored());
  job.Read("failed\thttp://m/b.warc.wet.gz: not found (404); skipped\tGetting again later fetches it.");
  job.Read("failed\t  line 3: no page address\t");
  job.Ended(1);
  // A step that failed ends where it was: the bars do not jump to full.
  EXPECT_DOUBLE_EQ(job.Progress().JobShare(), 0.1);
  step({"plan\t24\t700000000\tbytes", "progress\t24\t1\t1\t700000000\t700000000\t10000000", "done\t0"}, 0);
  EXPECT_EQ(job.Next(), nullptr);
  EXPECT_DOUBLE_EQ(job.Progress().JobShare(), 0.8);
  EXPECT_EQ(job.Said(), "Getting it: finished with 1 problem.");
  EXPECT_EQ(job.Report(),
            "Getting it: finished with 1 problem.\r\n\r\nhttp://m/b.warc.wet.gz: not found (404); skipped\r\n"
            "  line 3: no page address\r\nGetting again later fetches it.");
}

TEST(Job, TheDemoDataIsCountedInPagesAndAFailureWithoutWordsIsStillSaid) {
  Job demo = RestoreDemoJob(Status("stopped"));
  ASSERT_NE(demo.Next(), nullptr);
  demo.Read("plan\t1\t240000\tpages");
  demo.Read("file\t1\tdemo\t240000\tdemo data set");
  demo.Read("progress\t1\t120000\t240000\t120000\t240000\t0");
  EXPECT_EQ(demo.Progress().JobText(), "120,000 pages of 240,000 pages");
  // What a command writes that is no event line is its reason when it fails without one.
  demo.Read("quillet-services demo: database disk image is malformed");
  demo.Ended(1);
  EXPECT_EQ(demo.Next(), nullptr);
  ASSERT_EQ(demo.Problems().size(), 1u);
  EXPECT_EQ(demo.Problems()[0].what, "quillet-services demo: database disk image is malformed");

  Job start = ServiceJob(Status("stopped"));
  ASSERT_NE(start.Next(), nullptr);
  start.Ended(1);
  EXPECT_EQ(start.Next(), nullptr);
  ASSERT_EQ(start.Problems().size(), 1u);
  EXPECT_NE(start.Problems()[0].what.find("quillet-services.log"), std::string::npos);

  Job missing = ServiceJob(Status("stopped"));
  ASSERT_NE(missing.Next(), nullptr);
  missing.Ended(0, true);
  ASSERT_EQ(missing.Problems().size(), 1u);
  EXPECT_EQ(missing.Problems()[0].what, "cannot run quillet-services-start.exe");
}

TEST(Job, TheFileKeptFromBeforeTheDemoDataIsShownWithWhenItGoes) {
  DatabaseStatus status = Status("running", false, "C:\\D\\research.db.before-demo");
  EXPECT_EQ(KeptText(status),
            "Kept from before the demo data: research.db.before-demo, until you next log on or "
            "take it back.");
  status.keptBytes = 12'300'000;
  EXPECT_NE(KeptText(status).find("research.db.before-demo (12 MB)"), std::string::npos);
  EXPECT_EQ(KeptText(Status("running")), "");
}

}  // namespace
}  // namespace quillet::data
