#include <gtest/gtest.h>

#include "services/serve/Query.h"

namespace quillet::services {
namespace {

TEST(ParseQuery, RawAmpersandsStayInTheirValue) {
  struct Case {
    const char* raw;
    std::vector<std::string_view> keys;
    std::map<std::string, std::string> expected;
  };
  const std::vector<Case> cases = {
      {"term=dog%20training&mkt=us&lang=en_US",
       {"term", "mkt", "lang"},
       {{"term", "dog training"}, {"mkt", "us"}, {"lang", "en_US"}}},
      {"term=salt%20&%20pepper&mkt=us&lang=en_US",
       {"term", "mkt", "lang"},
       {{"term", "salt & pepper"}, {"mkt", "us"}, {"lang", "en_US"}}},
      {"p=%22b&b+deals%22&ei=UTF-8&n=20&b=6",
       {"p", "ei", "n", "b"},
       {{"p", "\"b&b deals\""}, {"ei", "UTF-8"}, {"n", "20"}, {"b", "6"}}},
      {"p=link%3Ahttp%3A%2F%2Fwww.a.com", {"p"}, {{"p", "link:http://www.a.com"}}},
      {"junk&x=1&p=a=b&p=second", {"p"}, {{"p", "a=b"}}},
      {"", {"p"}, {}},
      {"p", {"p"}, {}},
      {"p=", {"p"}, {{"p", ""}}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseQuery(c.raw, c.keys), c.expected) << c.raw;
}

}  // namespace
}  // namespace quillet::services
