#include <gtest/gtest.h>

#include "services/Query.h"

namespace quillet::services {
namespace {

TEST(DecodeQueryValue, PlusPercentAndBrokenEscapes) {
  struct Case {
    const char* raw;
    std::string decoded;
  };
  const Case cases[] = {
      {"dog+training", "dog training"},
      {"%22dog%20training%22", "\"dog training\""},
      {"a%2Bb", "a+b"},
      {"100%", "100%"},
      {"%zz%4", "%zz%4"},
      {"%3a%3A", "::"},
      {"%00x", std::string("\0x", 2)},
      {"caf%C3%A9", "caf\xC3\xA9"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeQueryValue(c.raw), c.decoded) << c.raw;
  EXPECT_EQ(DecodeQueryValue("c++%20books", false), "c++ books");
}

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

TEST(SplitWords, LowerCaseEachWordOnce) {
  EXPECT_EQ(SplitWords("  Dog\tTRAINING dog  & "), (std::vector<std::string>{"dog", "training", "&"}));
  EXPECT_TRUE(SplitWords(" \t ").empty());
}

TEST(NormalizeHost, SchemePathPortAndWwwGo) {
  struct Case {
    const char* address;
    const char* host;
  };
  const Case cases[] = {
      {"http://www.Dogs.com:80/a", "dogs.com"},
      {"www.dogs.com", "dogs.com"},
      {"https://shop.dogs.co.uk/?q=1", "shop.dogs.co.uk"},
      {"dogs.com.", "dogs.com"},
      {"http://user@www.x.org#frag", "x.org"},
      {"wwwx.com", "wwwx.com"},
      {"", ""},
      {"http://", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeHost(c.address), c.host) << c.address;
}

}  // namespace
}  // namespace quillet::services
