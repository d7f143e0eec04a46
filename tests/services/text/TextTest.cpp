#include <gtest/gtest.h>

#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Utf8.h"
#include "services/text/Strings.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

TEST(PercentDecode, PlusPercentAndBrokenEscapes) {
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
  for (const Case& c : cases) EXPECT_EQ(PercentDecode(c.raw), c.decoded) << c.raw;
  EXPECT_EQ(PercentDecode("c++%20books", false), "c++ books");
}

TEST(BlankSeparated, LowerCaseEachWordOnce) {
  EXPECT_EQ(BlankSeparated("  Dog\tTRAINING dog  & "), (std::vector<std::string>{"dog", "training", "&"}));
  EXPECT_TRUE(BlankSeparated(" \t ").empty());
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

TEST(Keys, TermsAreCaseFoldedAndKeepOnlyWhatTheProgramCanSend) {
  struct Case {
    std::string text;
    std::optional<std::string> term;
  };
  const std::vector<Case> cases = {
      {"\xC3\x89"
       "clair  \xC3\x9C"
       "BER",
       "\xC3\xA9"
       "clair \xC3\xBC"
       "ber"},
      {"\xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90", "\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
      {"\xCE\x9B\xCF\x8C\xCE\x93\xCE\x9F\xCE\xA3 \xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82",
       "\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x83 \xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x83"},     // both sigmas
      {"\xD4\xB2\xD5\xA1\xD6\x80\xD5\xA5\xD5\xBE", "\xD5\xA2\xD5\xA1\xD6\x80\xD5\xA5\xD5\xBE"},  // Armenian
      {"Stra\xC3\x9F"
       "e",
       "stra\xC3\x9F"
       "e"},  // simple folding keeps the sharp s
      {"C# Tutorial#", "c tutorial"},
      {"100% juice a%41b %zz", "100% juice a 41b %zz"},
      {"zebra &p=dog c++", "zebra &p=dog c++"},
      {"bad\xC2\x85term", std::nullopt},      // C1
      {"line\xE2\x80\xA8sep", std::nullopt},  // U+2028
      {"del\x7F", std::nullopt},
      {"##", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeTerm(c.text, nullptr), c.term) << c.text;
  EXPECT_EQ(ValidHost("http://www.M\xC3\x9CNCHEN.de/"), "m\xC3\xBCnchen.de");
  EXPECT_EQ(ValidHost("a\xC2\x85"
                      "b.com"),
            "");
  EXPECT_EQ(RepairText("a\xC2\x85"
                       "b\xE2\x80\xA9"
                       "c"),
            "a b c");
}

TEST(Strings, NumbersAndPercentEncoding) {
  struct Case {
    std::int64_t value;
    const char* text;
  };
  for (const Case& c :
       {Case{0, "0"}, Case{999, "999"}, Case{1000, "1,000"}, Case{1234567, "1,234,567"}, Case{-12345, "-12,345"}}) {
    EXPECT_EQ(WithThousands(c.value), c.text);
  }
  EXPECT_EQ(PercentEncode("b&b deals/100%+"), "b%26b%20deals%2F100%25%2B");
}

}  // namespace
}  // namespace quillet::services
