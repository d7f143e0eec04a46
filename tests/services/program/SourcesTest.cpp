// What the store remembers of its sources, as the program's commands use it: `demo` never
// replaces a database that holds someone's imports unless told to, and then keeps it;
// `import auto` tells each file's kind; `status` and `sources` say what is stored from where.
#include <gtest/gtest.h>

#include <filesystem>

#include "services/program/Demo.h"
#include "services/store/sqlite/SqliteStore.h"
#include "tests/services/support/Child.h"
#include "tests/services/support/Fixtures.h"

namespace quillet::services {
namespace {

using testing::ScratchDir;

struct Ran {
  int exit;
  std::string output;
};

Ran Program(const ScratchDir& dir, const std::vector<std::string>& args) {
  const std::string output = dir.File("out" + std::to_string(std::rand()));
  testing::Child child(args, {0, output});
  int exit = child.Wait();
  return {exit, testing::ReadFile(output)};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Sources, UserDataIsAnySourceButTheDemoOrDataWithNoSourceAtAll) {
  const SourceRecord demo{kDemoSource, kDemoSource, 0, 100, 0, {}, 1};
  const SourceRecord keywords{"/data/k.csv", "keywords", 10, 2, 0, {}, 2};
  struct Case {
    const char* name;
    std::vector<SourceRecord> sources;
    StoreCounts counts;
    bool holds;
  };
  const Case cases[] = {
      {"empty", {}, {}, false},
      {"the demo data", {demo}, {100, 50, 10}, false},
      {"the demo data and an import", {demo, keywords}, {100, 52, 10}, true},
      {"an import", {keywords}, {0, 2, 0}, true},
      {"data of an earlier version, no sources", {}, {0, 0, 3}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(HoldsUserData(c.sources, c.counts), c.holds) << c.name;
}

TEST(Sources, DemoKeepsWhatWasImportedUnlessToldAndThenKeepsItAside) {
  ScratchDir dir;
  const std::string db = dir.File("research.db"), kept = KeptBeforeDemo(db);
  const std::vector<std::string> demo = {"demo", "--db", db, "--pages", "300", "--hosts", "20"};
  ASSERT_EQ(Program(dir, demo).exit, 0);
  // Demo data alone is replaced without asking, and nothing kept.
  ASSERT_EQ(Program(dir, demo).exit, 0);
  EXPECT_FALSE(std::filesystem::exists(kept));

  ASSERT_EQ(Program(dir, {"import", "keywords", dir.Write("k.csv", "my own term,77\n"), "--db", db}).exit, 0);
  const std::string imported = testing::Fingerprint(db);
  Ran refused = Program(dir, demo);
  EXPECT_EQ(refused.exit, 1);
  EXPECT_TRUE(Contains(refused.output, "holds data imported from 1 file")) << refused.output;
  EXPECT_TRUE(Contains(refused.output, "demo --replace")) << refused.output;
  EXPECT_EQ(testing::Fingerprint(db), imported);

  std::vector<std::string> replace = demo;
  replace.push_back("--replace");
  Ran replaced = Program(dir, replace);
  EXPECT_EQ(replaced.exit, 0) << replaced.output;
  EXPECT_EQ(testing::Fingerprint(kept), imported);
  EXPECT_FALSE(HoldsUserData(SqliteReader(db).Sources(), SqliteReader(db).Counts()));

  // A database of a version that recorded no sources may hold anything: kept too.
  {
    Database old(db, Database::Mode::ReadWrite);
    old.Exec("DROP TABLE sources");
  }
  EXPECT_EQ(Program(dir, demo).exit, 1);
  EXPECT_EQ(Program(dir, replace).exit, 0);
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_NE(testing::Fingerprint(kept), imported);
}

// Real data is got into a database of its own: demo --remove empties one of demo data alone,
// and never touches imports.
TEST(Sources, DemoRemoveEmptiesOnlyADatabaseOfDemoData) {
  ScratchDir dir;
  const std::string db = dir.File("research.db");
  ASSERT_EQ(Program(dir, {"demo", "--db", db, "--pages", "300", "--hosts", "20"}).exit, 0);
  Ran removed = Program(dir, {"demo", "--remove", "--db", db});
  EXPECT_EQ(removed.exit, 0) << removed.output;
  EXPECT_EQ(SqliteReader(db).Counts().pages + SqliteReader(db).Counts().terms + SqliteReader(db).Counts().ranked, 0);
  EXPECT_TRUE(SqliteReader(db).Sources().empty());

  ASSERT_EQ(Program(dir, {"import", "keywords", dir.Write("k.csv", "my own term,77\n"), "--db", db}).exit, 0);
  const std::string imported = testing::Fingerprint(db);
  Ran refused = Program(dir, {"demo", "--remove", "--db", db});
  EXPECT_EQ(refused.exit, 1);
  EXPECT_TRUE(Contains(refused.output, "removes the demo data set only")) << refused.output;
  EXPECT_EQ(testing::Fingerprint(db), imported);
}

// The database the demo data replaced goes back in place, the demo data alone given up for it.
TEST(Sources, DemoTakeBackPutsTheKeptFileBackInPlace) {
  ScratchDir dir;
  const std::string db = dir.File("research.db"), kept = KeptBeforeDemo(db);
  ASSERT_EQ(Program(dir, {"import", "keywords", dir.Write("k.csv", "my own term,77\n"), "--db", db}).exit, 0);
  const std::string imported = testing::Fingerprint(db);
  ASSERT_EQ(Program(dir, {"demo", "--replace", "--db", db, "--pages", "300", "--hosts", "20"}).exit, 0);
  Ran back = Program(dir, {"demo", "--take-back", "--db", db});
  EXPECT_EQ(back.exit, 0) << back.output;
  EXPECT_EQ(testing::Fingerprint(db), imported);
  EXPECT_FALSE(std::filesystem::exists(kept));
  Ran none = Program(dir, {"demo", "--take-back", "--db", db});
  EXPECT_EQ(none.exit, 1);

  // Data imported over the demo data since is never given up for the kept file.
  ASSERT_EQ(Program(dir, {"demo", "--replace", "--db", db, "--pages", "300", "--hosts", "20"}).exit, 0);
  ASSERT_EQ(Program(dir, {"import", "keywords", dir.Write("k2.csv", "another term,5\n"), "--db", db}).exit, 0);
  const std::string mixed = testing::Fingerprint(db);
  Ran refused = Program(dir, {"demo", "--take-back", "--db", db});
  EXPECT_EQ(refused.exit, 1);
  EXPECT_TRUE(Contains(refused.output, "replaces the demo data set only")) << refused.output;
  EXPECT_EQ(testing::Fingerprint(db), mixed);
  EXPECT_EQ(testing::Fingerprint(kept), imported);
}

// --replace-demo: the first import that stores something takes the place of the demo data
// alone; one that stores nothing leaves the file as it was; other data is added to.
TEST(Sources, ReplaceDemoSwapsInTheFirstImportThatStoresSomething) {
  ScratchDir dir;
  const std::string db = dir.File("research.db");
  const std::string keywords = dir.Write("k.csv", "my own term,77\n");
  const std::string notes = dir.Write("notes.txt", "Remember to buy milk.\n");
  ASSERT_EQ(Program(dir, {"demo", "--db", db, "--pages", "300", "--hosts", "20"}).exit, 0);
  const std::string demo = testing::ReadFile(db);
  EXPECT_EQ(Program(dir, {"import", "auto", notes, "--replace-demo", "--db", db}).exit, 1);
  EXPECT_EQ(testing::ReadFile(db), demo);
  EXPECT_FALSE(std::filesystem::exists(db + ".replacing-demo"));

  Ran replaced = Program(dir, {"import", "keywords", keywords, "--replace-demo", "--db", db});
  EXPECT_EQ(replaced.exit, 0) << replaced.output;
  EXPECT_TRUE(Contains(replaced.output, "the demo data set was replaced")) << replaced.output;
  const std::string alone = dir.File("alone.db");
  ASSERT_EQ(Program(dir, {"import", "keywords", keywords, "--db", alone}).exit, 0);
  EXPECT_EQ(testing::Fingerprint(db), testing::Fingerprint(alone));
  EXPECT_FALSE(std::filesystem::exists(KeptBeforeDemo(db)));

  ASSERT_EQ(
      Program(dir, {"import", "keywords", dir.Write("k2.csv", "another term,5\n"), "--replace-demo", "--db", db}).exit,
      0);
  EXPECT_EQ(SqliteReader(db).Counts().terms, 2);
}

TEST(Sources, ImportAutoTellsKindsAndStatusSaysWhatIsStoredFromWhere) {
  ScratchDir dir;
  const std::string db = dir.File("research.db");
  const std::string keywords = dir.Write("export.csv", "Keyword,Avg. monthly searches\ndog training,1200\n");
  const std::string ranks = dir.Write("top.csv", "rank,domain\n1,example.com\n2,example.org\n");
  const std::string views = dir.Write("pageviews-1.gz", testing::Gzip("en Dog_collars 30 0\nen Cats 4 0\n"));
  const std::string notes = dir.Write("notes.txt", "Remember to buy milk.\n");
  Ran imported = Program(dir, {"import", "auto", keywords, notes, ranks, views, "--db", db});
  EXPECT_EQ(imported.exit, 1) << imported.output;  // one file was no data
  EXPECT_TRUE(Contains(imported.output, "notes.txt: not a kind of file")) << imported.output;

  Ran status = Program(dir, {"status", "--db", db, "--progress-lines"});
  EXPECT_EQ(status.exit, 0);
  EXPECT_TRUE(Contains(status.output, "counts\t0\t3\t2\n")) << status.output;
  EXPECT_TRUE(Contains(status.output, "userdata\t1\n")) << status.output;
  for (const auto& [kind, file] : {std::pair{"keywords", keywords}, {"ranks", ranks}, {"pageviews", views}})
    EXPECT_TRUE(Contains(status.output, std::string("\t") + kind + "\t")) << kind << "\n" << status.output;
  EXPECT_FALSE(Contains(status.output, "notes.txt")) << status.output;

  Ran listed = Program(dir, {"sources", "--db", db});
  EXPECT_TRUE(Contains(listed.output, ranks)) << listed.output;
  // Search volumes without pages: every Supply would be 0, and the status says so.
  EXPECT_TRUE(Contains(Program(dir, {"status", "--db", db}).output, "search volumes but no pages"));
}

}  // namespace
}  // namespace quillet::services
