#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/services/support/Fixtures.h"
#include "tests/services/support/ProgramRules.h"
#include "services/program/Demo.h"
#include "services/serve/Query.h"
#include "services/text/Hosts.h"
#include "services/text/Strings.h"
#include "services/text/Words.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

using testing::ScratchDir;

std::vector<std::int64_t> Column(Database& db, const char* sql) {
  std::vector<std::int64_t> values;
  Statement query = db.Prepare(sql);
  while (query.Step()) values.push_back(query.Int(0));
  return values;
}

TEST(Demo, SameDataEveryTimeAndShapedLikeRealData) {
  ScratchDir dir;
  DemoOptions options;
  options.pages = 4000;
  options.hosts = 144;
  DemoSummary first = BuildDemo(dir.File("a/demo.db"), options, nullptr);
  DemoSummary second = BuildDemo(dir.File("b.db"), options, nullptr);
  EXPECT_EQ(testing::Fingerprint(dir.File("a/demo.db")), testing::Fingerprint(dir.File("b.db")));
  EXPECT_EQ(first.pages, 4000);
  EXPECT_EQ(first.keywords, second.keywords);
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.db.building")));

  Database db(dir.File("b.db"), Database::Mode::ReadOnly);
  // Search volumes: a long tail under a few big terms; every term fits the suggestion page.
  std::vector<std::int64_t> volumes = Column(db, "SELECT searches FROM keywords ORDER BY searches");
  ASSERT_GT(volumes.size(), 1000u);
  EXPECT_GE(volumes.front(), 10);
  EXPECT_GT(volumes.back(), 50 * volumes[volumes.size() / 2]);
  Statement terms = db.Prepare("SELECT term FROM keywords");
  while (terms.Step()) EXPECT_EQ(NormalizeTerm(terms.Text(0), nullptr), terms.Text(0));

  // Every host has pages or links; popular hosts are linked to far more than most.
  std::vector<std::int64_t> inlinks =
      Column(db, "SELECT (SELECT count(*) FROM links WHERE host_id = hosts.id) AS n FROM hosts ORDER BY n");
  EXPECT_EQ(inlinks.size(), 144u);
  EXPECT_GT(inlinks.back(), 5 * std::max<std::int64_t>(1, inlinks[inlinks.size() / 2]));
  std::int64_t ranked = Column(db, "SELECT count(*) FROM ranks")[0];
  EXPECT_GT(ranked, 144 * 7 / 10);
  EXPECT_LT(ranked, 144);

  // The niche terms are found on pages, so the research has real counts to show.
  SqliteReader store(dir.File("b.db"));
  auto niches = store.FindSuggestions({"dog", "training"}, 100, Deadline::None());
  ASSERT_FALSE(niches.empty());
  EXPECT_EQ(niches.front().term, "dog training");
  EXPECT_GT(store.CountMatches({"dog training", true}, Deadline::None()), 0);
  // Four hosts per niche at this size, each shown once.
  auto results = store.FindPages({"dog training", true}, 0, 20, Deadline::None());
  EXPECT_EQ(results.size(), 4u);
  std::map<std::string, int> perHost;
  for (const ResultItem& item : results) EXPECT_EQ(++perHost[NormalizeHost(item.url)], 1) << item.url;
}

}  // namespace
}  // namespace quillet::services
