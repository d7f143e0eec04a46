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
      {"whole rows",
       {{"car hire", "120", "4000", "3.60"}, {"bike", "9", "3", "27.00"}},
       {},
       {{"car hire", "3.60"}, {"bike", "27.00"}}},
      {"empty category never added", {{"", "1", "1", "1.00"}, {"x", "1", "1", "1.00"}}, {}, {{"x", "1.00"}}},
      {"already in the list", {{"a", "1", "1", "1"}, {"b", "2", "2", "2"}}, {"a"}, {{"b", "2"}}},
      {"twice in the same add", {{"a", "1", "1", "1"}, {"a", "2", "2", "2"}}, {}, {{"a", "1"}}},
      {"exact text only",
       {{"A", "", "", "1"}, {"a ", "", "", "2"}, {"a", "", "", "3"}},
       {"a"},
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
      {{}, true},         {{"item0"}, true},           {{"item0", "item1", "item2"}, true},
      {{"item1"}, false}, {{"item0", "item2"}, false}, {{"item1", "item0"}, false},
      {{"ITEM0"}, false}, {{"item00"}, false},         {{"item0", "notes"}, false},
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

TEST(IdeaListText, WritesExactlyTheSectionsInOrder) {
  EXPECT_EQ(IdeaListText({}), "");
  EXPECT_EQ(IdeaListText({{"car hire", "3.60"}, {"", ""}, {" x ", "'1'"}}),
            "[item0]\r\ncat=car hire\r\nprofit=3.60\r\n"
            "[item1]\r\ncat=\r\nprofit=\r\n"
            "[item2]\r\ncat=\" x \"\r\nprofit=\"'1'\"\r\n");
}

}  // namespace
}  // namespace quillet
