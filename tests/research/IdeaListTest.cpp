#include "research/IdeaList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillet {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Entries = std::vector<IdeaEntry>;

struct AddCase {
  const char* name;
  Rows ticked;
  std::vector<std::string> existing;
  Entries expected;
};

TEST(IdeasToAdd, FollowsTheSelectionRules) {
  const AddCase cases[] = {
      {"nothing ticked", {}, {"a"}, {}},
      {"whole rows", {{"car hire", "120", "4000", "3.60"}, {"bike", "9", "3", "27.00"}}, {},
       {{"car hire", "3.60"}, {"bike", "27.00"}}},
      {"empty category never added", {{"", "1", "1", "1.00"}, {"x", "1", "1", "1.00"}}, {}, {{"x", "1.00"}}},
      {"already in the list", {{"a", "1", "1", "1"}, {"b", "2", "2", "2"}}, {"a"}, {{"b", "2"}}},
      {"twice in the same add", {{"a", "1", "1", "1"}, {"a", "2", "2", "2"}}, {}, {{"a", "1"}}},
      {"exact text only", {{"A", "", "", "1"}, {"a ", "", "", "2"}, {"a", "", "", "3"}}, {"a"},
       {{"A", "1"}, {"a ", "2"}}},
      {"row still being filled", {{"busy", "50"}, {"new"}}, {}, {{"busy", ""}, {"new", ""}}},
      {"texts kept as shown", {{"t", "1,000", "?", "  0.5 "}}, {}, {{"t", "  0.5 "}}},
      {"extra columns ignored", {{"t", "1", "2", "3", "4"}}, {}, {{"t", "3"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(IdeasToAdd(c.ticked, c.existing), c.expected) << c.name;
}

TEST(IdeaSectionName, IsDecimalWithoutLeadingZeros) {
  EXPECT_EQ(IdeaSectionName(0), "item0");
  EXPECT_EQ(IdeaSectionName(9), "item9");
  EXPECT_EQ(IdeaSectionName(10), "item10");
  EXPECT_EQ(IdeaSectionName(99999), "item99999");
}

TEST(IsSavedLayout, AcceptsOnlyItem0ToItemNInOrder) {
  const struct {
    std::vector<std::string> names;
    bool saved;
  } cases[] = {
      {{}, true},
      {{"item0"}, true},
      {{"item0", "item1", "item2"}, true},
      {{"item1"}, false},
      {{"item0", "item2"}, false},
      {{"item1", "item0"}, false},
      {{"ITEM0"}, false},
      {{"item00"}, false},
      {{"item0", "notes"}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSavedLayout(c.names), c.saved) << ::testing::PrintToString(c.names);
}

TEST(IniValueText, QuotesOnlyWhatReadingWouldChange) {
  const struct {
    std::string value, written;
  } cases[] = {
      {"", ""},
      {"car hire", "car hire"},
      {"a=b;c [d] e", "a=b;c [d] e"},
      {"[item0]", "[item0]"},
      {"; not a comment", "; not a comment"},
      {"say \"hi\"", "say \"hi\""},
      {"\"open", "\"open"},
      {"close'", "close'"},
      {"\"", "\""},
      {"'\"", "'\""},
      {" lead", "\" lead\""},
      {"trail ", "\"trail \""},
      {"\ttab", "\"\ttab\""},
      {" ", "\" \""},
      {"\"quoted\"", "\"\"quoted\"\""},
      {"'single'", "\"'single'\""},
      {"\"\"", "\"\"\"\""},
      {"nbsp\xA0", "\"nbsp\xA0\""},
      {"caf\xE9", "caf\xE9"},
      {"two\r\nlines", "two  lines"},
      {"end\n", "\"end \""},
      {std::string("nul\0x", 5), "nul x"},
  };
  for (const auto& c : cases) EXPECT_EQ(IniValueText(c.value), c.written) << "value '" << c.value << "'";
}

// The documented reading rule: blanks (and control characters) around the value are
// dropped, then one pair of matching quotes is removed.
std::string ReadAsPlatform(std::string v) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) == 0xA0; };
  while (!v.empty() && blank(v.front())) v.erase(0, 1);
  while (!v.empty() && blank(v.back())) v.pop_back();
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

TEST(IniValueText, SurvivesTheReadingRule) {
  const std::string pieces[] = {"", " ", "\t", "\"", "'", "=", ";", "[", "]", "x", "\xA0", "ab"};
  int checked = 0;
  for (const auto& a : pieces)
    for (const auto& b : pieces)
      for (const auto& c : pieces) {
        const std::string value = a + b + c;
        EXPECT_EQ(ReadAsPlatform(IniValueText(value)), value) << "value '" << value << "'";
        ++checked;
      }
  EXPECT_EQ(checked, 12 * 12 * 12);
}

TEST(IdeaListText, WritesExactlyTheSectionsInOrder) {
  EXPECT_EQ(IdeaListText({}), "");
  EXPECT_EQ(IdeaListText({{"car hire", "3.60"}, {"", ""}, {" x ", "'1'"}}),
            "[item0]\r\ncat=car hire\r\nprofit=3.60\r\n"
            "[item1]\r\ncat=\r\nprofit=\r\n"
            "[item2]\r\ncat=\" x \"\r\nprofit=\"'1'\"\r\n");
}

TEST(IdeaListText, NumbersTwelveEntriesItem0ToItem11) {
  Entries entries;
  for (int i = 0; i < 12; ++i) entries.push_back({"c" + std::to_string(i), std::to_string(i)});
  const std::string text = IdeaListText(entries);
  size_t at = 0;
  for (int i = 0; i < 12; ++i) {
    const std::string section = "[item" + std::to_string(i) + "]\r\ncat=c" + std::to_string(i) + "\r\n";
    const size_t found = text.find(section, at);
    ASSERT_EQ(found, at) << i;
    at = text.find("\r\n[", found + 1);
    at = at == std::string::npos ? text.size() : at + 2;
  }
  EXPECT_EQ(at, text.size());
  EXPECT_EQ(text.find("item12"), std::string::npos);
}

}  // namespace
}  // namespace quillet
