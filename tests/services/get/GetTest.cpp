// `get` as a user runs it, against a real nginx on loopback serving generated files laid out
// as the publishers lay theirs out: what it stores is what `import` stores from the same
// files, nothing twice, and what each failure of a server, a network or a disk leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "services/import/Run.h"
#include "services/store/sqlite/SqliteStore.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/Fixtures.h"
#include "tests/services/support/Mirror.h"
#include "tests/services/support/PublicFiles.h"

namespace quillet::services {
namespace {

using testing::Child;
using testing::Fingerprint;
using testing::Mirror;

// Proxies of the machine must not stand between the program and loopback.
const std::vector<std::string> kNoProxy = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "SSL_CERT_FILE"};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class GetTest : public ::testing::Test {
 protected:
  struct Ran {
    int exit;
    std::string output;
  };

  // Archives of 200 kB: beyond the 64 kB that the mirror sends at once of a file marked slow,
  // so that a transfer can be caught in its middle.
  static testing::PublicDataSize Size() {
    testing::PublicDataSize size;
    size.archiveBytes = 200000;
    return size;
  }
  // While the marker is there, the mirror serves the file slowly (tests/support/mirror-server).
  void MarkSlow(const std::string& path, bool slow) {
    if (slow) std::ofstream(root_ + "/" + path + ".slow") << "";
    else std::filesystem::remove(root_ + "/" + path + ".slow");
  }

  std::vector<std::string> Environment(const std::string& caFile = "") const {
    std::vector<std::string> environment = kNoProxy;
    if (!caFile.empty()) environment.push_back("SSL_CERT_FILE=" + caFile);
    return environment;
  }

  std::unique_ptr<Child> Start(std::vector<std::string> args, const std::string& caFile = "",
                               long long fileSizeLimit = 0) {
    args.insert(args.end(), {"--db", db_, "--progress-lines"});
    output_ = dir_.File("get" + std::to_string(++runs_) + ".out");
    return std::make_unique<Child>(args, Child::Options{fileSizeLimit, output_, {}, Environment(caFile)});
  }
  Ran Get(const std::vector<std::string>& args, const std::string& caFile = "", long long fileSizeLimit = 0) {
    std::unique_ptr<Child> child = Start(args, caFile, fileSizeLimit);
    int exit = child->Wait();
    return {exit, testing::ReadFile(output_)};
  }
  // Waits until the running program's output holds the text.
  bool Await(const std::string& text, int timeoutMs = 30000) const {
    for (auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < std::chrono::milliseconds(timeoutMs);
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
      if (Contains(testing::ReadFile(output_), text)) return true;
    return false;
  }

  // The crawl's first pairs of files imported from disk, metadata then text, as `get` does.
  std::string Reference(int pairs) {
    const std::string reference = dir_.File("reference" + std::to_string(pairs) + ".db");
    for (int i = 0; i < pairs; ++i) {
      testing::ImportFile("wat", reference, root_ + "/" + data_.wat[i]);
      testing::ImportFile("wet", reference, root_ + "/" + data_.wet[i]);
    }
    return reference;
  }
  std::vector<std::string> Recorded() const {
    SqliteReader reader(db_);
    std::vector<std::string> addresses;
    for (const SourceRecord& source : reader.Sources()) addresses.push_back(source.address);
    return addresses;
  }
  // The crawl files as the mirror at base serves them.
  std::vector<std::string> CrawlUrls(const std::string& base, int pairs) const {
    std::vector<std::string> urls;
    for (int i = 0; i < pairs; ++i) urls.insert(urls.end(), {base + "/" + data_.wat[i], base + "/" + data_.wet[i]});
    return urls;
  }
  // Requests of the log for a path ending so, with the status.
  int Requests(const std::string& pathEnd, const std::string& status) const {
    int count = 0;
    for (const std::string& line : mirror_.Log())
      if (line.rfind(status + " GET ", 0) == 0 && Contains(line, pathEnd + " ")) ++count;
    return count;
  }

  testing::ScratchDir dir_;
  std::string root_ = dir_.File("mirror");
  testing::PublicData data_ = testing::WritePublicData(root_, Size());
  Mirror mirror_{root_, dir_.File("nginx")};
  std::string db_ = dir_.File("research.db");
  std::string output_;
  int runs_ = 0;
};

TEST_F(GetTest, CrawlOverHttpsStoresWhatImportStoresAndNothingTwice) {
  Ran first = Get({"get", "crawl", "--files", "2", "--mirror", mirror_.Https()}, mirror_.CaFile());
  ASSERT_EQ(first.exit, 0) << first.output;
  EXPECT_EQ(Fingerprint(db_), Fingerprint(Reference(2)));
  EXPECT_EQ(Recorded(), CrawlUrls(mirror_.Https(), 2));
  // The newest crawl of the list, which names an older one first.
  EXPECT_TRUE(Contains(first.output, "file\t1\twat\t")) << first.output;

  Ran again = Get({"get", "crawl", "--files", "2", "--mirror", mirror_.Https()}, mirror_.CaFile());
  EXPECT_EQ(again.exit, 0) << again.output;
  EXPECT_TRUE(Contains(again.output, "stored already")) << again.output;
  Ran more = Get({"get", "crawl", "--files", "3", "--mirror", mirror_.Https()}, mirror_.CaFile());
  EXPECT_EQ(more.exit, 0) << more.output;
  EXPECT_EQ(Fingerprint(db_), Fingerprint(Reference(3)));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Requests(data_.wat[i], "200"), 1) << data_.wat[i];
    EXPECT_EQ(Requests(data_.wet[i], "200"), 1) << data_.wet[i];
  }
}

TEST_F(GetTest, RankListTopAndADayOfPageviewsAsImportStoresThem) {
  Ran top = Get({"get", "hostranks", "--top", "100", "--mirror", mirror_.Http()});
  ASSERT_EQ(top.exit, 0) << top.output;
  EXPECT_EQ(SqliteReader(db_).Counts().ranked, 100);
  // A smaller top is covered by the larger one; a larger top reads the list again.
  EXPECT_EQ(Get({"get", "hostranks", "--top", "50", "--mirror", mirror_.Http()}).exit, 0);
  EXPECT_EQ(Requests(data_.domainRanks, "200"), 1);
  EXPECT_EQ(Get({"get", "hostranks", "--mirror", mirror_.Http()}).exit, 0);
  EXPECT_EQ(SqliteReader(db_).Counts().ranked, 1000);

  Ran day = Get({"get", "pageviews", "2024-05-01", "--mirror", mirror_.Http()});
  ASSERT_EQ(day.exit, 0) << day.output;
  EXPECT_TRUE(Contains(day.output, "24 files covering 24 hours")) << day.output;
  const std::string reference = dir_.File("views.db");
  testing::ImportHours(reference, root_, data_.pageviews);
  SqliteReader got(db_), expected(reference);
  EXPECT_EQ(got.FindSuggestions({"the"}, 100, Deadline::None()).size(),
            expected.FindSuggestions({"the"}, 100, Deadline::None()).size());
  EXPECT_EQ(got.Counts().terms, expected.Counts().terms);
}

// On the demo data alone (the window's way), the first file stored takes its place: nothing
// of the demo data is left, and nothing was changed before that file was whole.
TEST_F(GetTest, TheFirstFileStoredReplacesTheDemoDataAlone) {
  Child demo({"demo", "--pages", "300", "--hosts", "20", "--db", db_}, {0, dir_.File("demo.out")});
  ASSERT_EQ(demo.Wait(), 0);
  Ran got = Get({"get", "crawl", "--files", "2", "--mirror", mirror_.Http(), "--replace-demo"});
  ASSERT_EQ(got.exit, 0) << got.output;
  EXPECT_TRUE(Contains(got.output, "stored\t" + db_ + ": the demo data set was replaced")) << got.output;
  EXPECT_EQ(Fingerprint(db_), Fingerprint(Reference(2)));
  EXPECT_EQ(Recorded(), CrawlUrls(mirror_.Http(), 2));
}

// Each way a server, a network or a disk fails `get`, with what it must leave behind.
class GetFaultTest;

struct Fault {
  const char* name;
  std::string path;                                   // of the mirror: "" or "/noranges"
  std::function<void(GetFaultTest&)> before, during;  // on the files; while it runs
  int exit;
  std::size_t recorded;           // of the crawl's first four files; all four: stored as import stores them
  std::vector<std::string> said;  // in the output
  std::vector<std::string> notSaid;
  std::vector<std::string> extra;  // more options
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class GetFaultTest : public GetTest, public ::testing::WithParamInterface<Fault> {
 public:
  using GetTest::Await;
  using GetTest::MarkSlow;
  const testing::PublicData& Data() const { return data_; }
  const std::string& Root() const { return root_; }
  Mirror& Server() { return mirror_; }
};

TEST_P(GetFaultTest, LeavesWhatItStoredWholeAndSaysWhy) {
  const Fault& fault = GetParam();
  if (fault.before) fault.before(*this);
  std::vector<std::string> args = {"get", "crawl", "--files", "2", "--mirror", mirror_.Http(fault.path)};
  args.insert(args.end(), fault.extra.begin(), fault.extra.end());
  std::unique_ptr<Child> child = Start(args);
  if (fault.during) fault.during(*this);
  int exit = child->Wait();
  std::string output = testing::ReadFile(output_);
  EXPECT_EQ(exit, fault.exit) << output;
  for (const std::string& text : fault.said) EXPECT_TRUE(Contains(output, text)) << text << "\n" << output;
  for (const std::string& text : fault.notSaid) EXPECT_FALSE(Contains(output, text)) << text << "\n" << output;
  if (fault.recorded == 4) {
    EXPECT_EQ(Fingerprint(db_), Fingerprint(Reference(2)));
    EXPECT_EQ(Recorded(), CrawlUrls(mirror_.Http(fault.path), 2));
  } else if (std::filesystem::exists(db_)) {
    EXPECT_EQ(Recorded().size(), fault.recorded);
  } else {
    EXPECT_EQ(fault.recorded, 0u);
  }
}

// The second file is served slowly; once its transfer is into the slow part it is cut, and the
// file is served at full speed again.
void SlowSecondFile(GetFaultTest& test) { test.MarkSlow(test.Data().wet[0], true); }
void CutTheSecondFile(GetFaultTest& test) {
  test.Await("file\t2\t");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  test.Server().CutTransfers();
  test.MarkSlow(test.Data().wet[0], false);
}

const std::string kWet1 = "00001.warc.wet.gz";

INSTANTIATE_TEST_SUITE_P(
    Faults, GetFaultTest,
    ::testing::Values(Fault{"ConnectionCutResumed",
                            "",
                            SlowSecondFile,
                            CutTheSecondFile,
                            0,
                            4,
                            {"resuming at"},
                            {"from its start"},
                            {}},
                      Fault{"ConnectionCutReadAgain",
                            "/noranges",
                            SlowSecondFile,
                            CutTheSecondFile,
                            0,
                            4,
                            {"again from its start"},
                            {},
                            {}},
                      Fault{"BusyServerWaitedOut",
                            "",
                            [](GetFaultTest& test) {
                              std::ofstream(test.Root() + "/" + test.Data().wat[0] + ".busy") << "";
                            },
                            [](GetFaultTest& test) {
                              // Ready again once it has been asked.
                              test.Await("answered 503");
                              std::filesystem::remove(test.Root() + "/" + test.Data().wat[0] + ".busy");
                            },
                            0,
                            4,
                            {"answered 503; trying again in 2 s"},
                            {},
                            {}},
                      Fault{"OneFileMissing",
                            "",
                            [](GetFaultTest& test) { std::filesystem::remove(test.Root() + "/" + test.Data().wet[1]); },
                            nullptr,
                            1,
                            3,
                            {kWet1 + ": not found (404); skipped"},
                            {},
                            {}},
                      Fault{"AFileThatIsNotGzip",
                            "",
                            [](GetFaultTest& test) {
                              std::ofstream(test.Root() + "/" + test.Data().wet[1])
                                  << "<html><body>Please log in</body></html>";
                            },
                            nullptr,
                            1,
                            3,
                            {"is not gzip data; the server sent \"<html>"},
                            {},
                            {}},
                      Fault{"TooLittleDiskFree",
                            "",
                            nullptr,
                            nullptr,
                            1,
                            0,
                            {"stopped before", "kept free (--keep-free)"},
                            {"file\t1\t"},
                            {"--keep-free", "100000000"}}),
    [](const ::testing::TestParamInfo<Fault>& info) { return info.param.name; });

// A file not found or not gzip is skipped: the others are stored and recorded, it is not.
TEST_F(GetTest, SkippedFilesAreNotRecordedAndAreTriedAgain) {
  std::filesystem::remove(root_ + "/" + data_.wet[1]);
  EXPECT_EQ(Get({"get", "crawl", "--files", "2", "--mirror", mirror_.Http()}).exit, 1);
  std::vector<std::string> stored = CrawlUrls(mirror_.Http(), 2);
  stored.pop_back();
  EXPECT_EQ(Recorded(), stored);
  std::filesystem::copy_file(root_ + "/" + data_.wet[0], root_ + "/" + data_.wet[1]);
  Ran again = Get({"get", "crawl", "--files", "2", "--mirror", mirror_.Http()});
  EXPECT_EQ(again.exit, 0) << again.output;
  EXPECT_EQ(Recorded(), CrawlUrls(mirror_.Http(), 2));
  EXPECT_EQ(Requests(data_.wat[0], "200"), 1);
}

TEST_F(GetTest, AFullDiskStopsTheRunWithNothingOfTheFileStored) {
  Ran full = Get({"get", "crawl", "--files", "2", "--mirror", mirror_.Http()}, "", 448 * 1024);
  EXPECT_EQ(full.exit, 1) << full.output;
  EXPECT_TRUE(Contains(full.output, "is the disk full?")) << full.output;
  EXPECT_TRUE(Contains(full.output, "get stopped")) << full.output;
  EXPECT_TRUE(Contains(full.output, "file\t1\t")) << full.output;
  EXPECT_FALSE(Contains(full.output, "file\t2\t")) << full.output;
  // Nothing half stored nor recorded: with room, all of it is fetched, as import stores it.
  Ran again = Get({"get", "crawl", "--files", "2", "--mirror", mirror_.Http()});
  EXPECT_EQ(again.exit, 0) << again.output;
  EXPECT_EQ(Fingerprint(db_), Fingerprint(Reference(2)));
  EXPECT_EQ(Requests(data_.wat[0], "200"), 2);
}

TEST_F(GetTest, KilledInTheMiddleGoesOnWithNothingTwiceAndNothingLost) {
  MarkSlow(data_.wet[1], true);
  {
    std::unique_ptr<Child> child = Start({"get", "crawl", "--files", "3", "--mirror", mirror_.Http()});
    ASSERT_TRUE(Await("file\t4\t")) << testing::ReadFile(output_);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    child->Kill();
    EXPECT_EQ(child->Wait(), 128 + SIGKILL);
  }
  MarkSlow(data_.wet[1], false);
  std::vector<std::string> committed = CrawlUrls(mirror_.Http(), 2);
  committed.pop_back();
  EXPECT_EQ(Recorded(), committed);
  Ran again = Get({"get", "crawl", "--files", "3", "--mirror", mirror_.Http()});
  EXPECT_EQ(again.exit, 0) << again.output;
  EXPECT_EQ(Fingerprint(db_), Fingerprint(Reference(3)));
  EXPECT_EQ(Recorded(), CrawlUrls(mirror_.Http(), 3));
  // Once each, but the one that was killed in its middle.
  for (const std::string& stored : {data_.wat[0], data_.wet[0], data_.wat[1]})
    EXPECT_EQ(Requests(stored, "200"), 1) << stored;
  EXPECT_EQ(Requests(data_.wet[1], "200"), 2);
}

TEST_F(GetTest, ACertificateOfAnUnknownCaIsRefusedAtOnce) {
  for (const std::string& trusted : {std::string(), mirror_.OtherCaFile()}) {
    Ran refused = Get({"get", "crawl", "--mirror", mirror_.Https()}, trusted);
    EXPECT_EQ(refused.exit, 1) << refused.output;
    EXPECT_TRUE(Contains(refused.output, "certificate")) << refused.output;
    EXPECT_FALSE(Contains(refused.output, "trying again")) << refused.output;
  }
  EXPECT_FALSE(std::filesystem::exists(db_));
}

}  // namespace
}  // namespace quillet::services
