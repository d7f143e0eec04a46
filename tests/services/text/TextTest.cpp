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
      {"www.a.com/?u=http://b.com", "a.com"},
      {"www.www.a.com", "a.com"},
      {"https://a.com/go#http://b.com", "a.com"},
      {"a.com?next=https://user@b.com", "a.com"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeHost(c.address), c.host) << c.address;
}

TEST(Keys, TermsAreCaseFoldedAndKeepOnlyWhatTheProgramCanSend) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"Éclair  ÜBER", "éclair über"},
      {"МОСКВА", "москва"},
      {"ΛΌΓΟΣ λόγος", "λόγοσ λόγοσ"},  // simple folding: both sigmas alike
      {"Բարեվ", "բարեվ"},
      {"Straße", "straße"},  // and the sharp s kept
      {"C# Tutorial#", "c tutorial"},
      {"100% juice a%41b %zz", "100% juice a 41b %zz"},
      {"zebra &p=dog c++", "zebra &p=dog c++"},
      {"bad\u0085term", std::nullopt},  // C1
      {"line\u2028sep", std::nullopt},
      {"del\x7F", std::nullopt},
      {"##", std::nullopt},
  };
  for (const auto& [text, term] : cases) EXPECT_EQ(NormalizeTerm(text, nullptr), term) << text;
  EXPECT_EQ(ValidHost("http://www.MÜNCHEN.de/"), "münchen.de");
  EXPECT_EQ(ValidHost("a\u0085b.com"), "");
  EXPECT_EQ(RepairText("a\u0085b\u2029c"), "a b c");
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

// What Windows hands out as UTF-16 (names, messages) comes back as the UTF-8 it was made of;
// a lone surrogate, which no UTF-8 can hold, is a replacement character.
TEST(Utf16, BackToUtf8) {
  for (const std::string text : {"", "plain", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x90\x95 dog"})
    EXPECT_EQ(Utf8FromUtf16(Utf16FromUtf8(text)), text);
  EXPECT_EQ(Utf8FromUtf16(u"a\xD83D"
                          u"b\xDC15"),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quillet::services
