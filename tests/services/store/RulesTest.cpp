// The rules every store answers by, written once: both stores call them, so a fault here is
// a wrong answer on both.
#include <gtest/gtest.h>

#include "services/store/Rules.h"

namespace quillet::services {
namespace {

using Words = std::vector<std::string>;

TEST(StoreRules, RanksLinksAndPhrases) {
  EXPECT_EQ(RankDomains("http://www.Blog.Example.co.uk:80/x"), (Words{"blog.example.co.uk", "example.co.uk", "co.uk"}));
  EXPECT_EQ(RankDomains("example.com"), (Words{"example.com"}));
  EXPECT_TRUE(RankDomains("http:///").empty());

  EXPECT_EQ(LinkHosts("a.com", {"http://www.b.com/1", "https://B.com/2", "http://A.com:8080/x", "", "c.org"}),
            (Words{"b.com", "c.org"}));

  struct Case {
    TextQuery query;
    std::vector<Words> phrases;
  };
  const Case cases[] = {
      {{"Dog-Training  tips!", true}, {{"dog", "training", "tips"}}},
      {{"Dog-Training  tips!", false}, {{"dog", "training"}, {"tips"}}},
      {{"caf\xC3\xA9 -- !!", false}, {{"cafe"}}},
      {{"-- !!", true}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(QueryPhrases(c.query), c.phrases) << c.query.text;
}

TEST(StoreRules, SnippetsEndOnACharacterAndTallyRounds) {
  std::string text(kSnippetLength - 1, 'a');
  text += "\xE2\x82\xAC\xE2\x82\xAC";  // the 160th and 161st characters take three bytes each
  EXPECT_EQ(Snippet(text), text.substr(0, kSnippetLength + 2));
  EXPECT_EQ(Snippet(text.substr(0, kSnippetBytes)), Snippet(text));
  EXPECT_EQ(Snippet("short"), "short");

  struct Case {
    std::int64_t total, multiply, divide, searches;
  };
  for (const Case& c : {Case{1, 720, 1440, 1}, Case{1, 720, 1441, 0}, Case{3, 720, 7, 309},
                        Case{std::int64_t{1} << 50, 1 << 20, 1, 2147483647}})
    EXPECT_EQ(TalliedSearches(c.total, c.multiply, c.divide), c.searches) << c.total << "/" << c.divide;
  EXPECT_THROW(CheckTallyScale(1, 0), std::invalid_argument);
  EXPECT_THROW(CheckTallyScale((1 << 20) + 1, 1), std::invalid_argument);
}

}  // namespace
}  // namespace quillet::services
