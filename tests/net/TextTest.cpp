#include <gtest/gtest.h>

#include <string>

#include "net/Text.h"

namespace quillet {
namespace {

struct ReplaceCase {
  std::string text, pattern, replacement, expected;
};

TEST(ReplaceAll, ReplacesEveryOccurrenceIgnoringAsciiCase) {
  const ReplaceCase cases[] = {
      {"Car Hire", " ", "%20", "Car%20Hire"},
      {"Car Hire", " ", "+", "Car+Hire"},
      {"xAy", "a", "-", "x-y"},
      {"Car HIRE car", "CAR", "-", "- HIRE -"},
      {"say \"hi\" \"now\"", "\"", "", "say hi now"},
      {"http://a.com/b", ":", "%3A", "http%3A//a.com/b"},
      {"http://a.com/b", "/", "%2F", "http:%2F%2Fa.com%2Fb"},
      {"AbAB", "ab", "x", "xx"},
      {"aaaa", "aa", "b", "bb"},
      {"abc", "", "x", "abc"},
      {"", "a", "b", ""},
      {"ab", "abc", "x", "ab"},
      // Only ASCII letters fold: 0xC4 and 0xE4 stay different.
      {"\xC4x\xE4", "\xE4", "-", "\xC4x-"},
      // A replacement containing its pattern must not make the search run forever.
      {"a b c", " ", "  ", "a  b  c"},
      {"aXa", "a", "aa", "aaXaa"},
      {"Abc", "a", "xA", "xAbc"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.expected)
        << "text '" << c.text << "' pattern '" << c.pattern << "'";
}

TEST(ReplaceAll, KeepsZeroBytes) {
  const std::string text("a\0b a", 5);
  EXPECT_EQ(ReplaceAll(text, " ", "%20"), std::string("a\0b%20a", 7));
}

TEST(StripSeparators, RemovesOnlyCommasDotsAndSpaces) {
  const std::pair<std::string, std::string> cases[] = {
      {"1,234.5 6", "123456"},      {"?", "?"}, {"", ""}, {", . ,", ""}, {"-1,0a.b c", "-10abc"}, {"\t1_2", "\t1_2"},
      {"999,999,999", "999999999"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(StripSeparators(text), expected) << text;
}

TEST(ReverseText, ReversesBytes) {
  EXPECT_EQ(ReverseText(""), "");
  EXPECT_EQ(ReverseText("a"), "a");
  EXPECT_EQ(ReverseText("abc"), "cba");
  EXPECT_EQ(ReverseText(std::string("a\0\xFF", 3)), std::string("\xFF\0a", 3));
}

TEST(IsDigit, TrueExactlyForTheTenAsciiDigits) {
  for (int value = 0; value < 256; ++value) {
    const char c = static_cast<char>(value);
    EXPECT_EQ(IsDigit(c), value >= '0' && value <= '9') << "byte " << value;
  }
}

TEST(LowerAscii, FoldsOnlyAsciiLetters) { EXPECT_EQ(LowerAscii("AZaz@[`{09\xC4\xE4"), "azaz@[`{09\xC4\xE4"); }

}  // namespace
}  // namespace quillet
