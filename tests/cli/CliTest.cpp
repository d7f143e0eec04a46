// quillet-research's own parts: its command line and its output formats. The console side
// of a run is tested with the real program (tests/cli/ResearchProgramTest.cpp).
#include <gtest/gtest.h>

#include <functional>

#include "cli/Options.h"
#include "cli/Output.h"

namespace quillet::cli {
namespace {

TEST(ParseArguments, TakesWhatEachCommandAcceptsAndRefusesTheRest) {
  const struct {
    std::vector<std::string> args;
    const char* error;  // part of the message; empty: accepted
    std::function<void(const Options&)> check;
  } cases[] = {
      {{"category", "dog training", "--topics", "t.txt", "-o", "out.csv", "--json", "cat care"},
       "",
       [](const Options& o) {
         EXPECT_EQ(o.command, Command::kCategory);
         EXPECT_EQ(o.topics, (std::vector<std::string>{"dog training", "cat care"}));
         EXPECT_EQ(o.topicsFile, "t.txt");
         EXPECT_EQ(o.output, "out.csv");
         EXPECT_TRUE(o.json);
       }},
      {{"affiliate", "--skip=-3", "--max", "50", "--settings", "x", "--ideas=a b.qlc", "--excel"},
       "",
       [](const Options& o) {
         EXPECT_EQ(o.command, Command::kAffiliate);
         EXPECT_EQ(o.skip, -3);
         EXPECT_EQ(o.max, 50) << "kept as given: the run bounds it, and says so";
         EXPECT_TRUE(o.settings && o.excel);
         EXPECT_EQ(o.ideasFile, "a b.qlc");
       }},
      {{"affiliate", "--", "--json", "-o"},
       "",
       [](const Options& o) {
         EXPECT_EQ(o.topics, (std::vector<std::string>{"--json", "-o"}));
         EXPECT_FALSE(o.json);
       }},
      {{"category", "--service", "HTTP://Host.example:8790/"},
       "",
       [](const Options& o) { EXPECT_EQ(o.service, "Host.example:8790"); }},
      {{}, "category or affiliate", nullptr},
      {{"search", "x"}, "unknown command", nullptr},
      {{"category", "x", "--skip", "1"}, "other command", nullptr},
      {{"affiliate", "x", "--topics", "t"}, "other command", nullptr},
      {{"affiliate", "x", "--max", "ten"}, "whole number", nullptr},
      {{"category", "x", "-o", ""}, "needs a value", nullptr},
      {{"category", "x", "--json", "--excel"}, "--excel is for CSV", nullptr},
      {{"category", "x", "--json=yes"}, "takes no value", nullptr},
      {{"category", "x", "--bogus"}, "unknown option", nullptr},
      {{"category", "x", "--service", "host/path"}, "HOST:PORT", nullptr},
      {{"category", "x", "--service", "host:0"}, "HOST:PORT", nullptr},
  };
  for (const auto& c : cases) {
    const ParsedArguments parsed = ParseArguments(c.args);
    const std::string shown = ::testing::PrintToString(c.args);
    if (*c.error) {
      EXPECT_NE(parsed.error.find(c.error), std::string::npos) << shown << " gave \"" << parsed.error << "\"";
    } else {
      EXPECT_EQ(parsed.error, "") << shown;
      c.check(parsed.options);
    }
  }
}

TEST(Output, CsvQuotesOnlyWhatNeedsItAndJsonIsAlwaysValid) {
  const struct {
    std::vector<std::string> fields;
    char separator;
    const char* csv;
  } records[] = {
      {{"dog training", "47000", "", "3.5"}, ',', "dog training,47000,,3.5\r\n"},
      {{"dogs, cats", "say \"hi\"", "two\r\nlines", "lf\n"},
       ',',
       "\"dogs, cats\",\"say \"\"hi\"\"\",\"two\r\nlines\",\"lf\n\"\r\n"},
      {{"a;b", "1,5", "\""}, ';', "\"a;b\";1,5;\"\"\"\"\r\n"},
      {{"caf\xC3\xA9", "\xE9"}, ',', "caf\xC3\xA9,\xC3\xA9\r\n"},
      {{}, ',', "\r\n"},
  };
  for (const auto& r : records) EXPECT_EQ(CsvRecord(r.fields, r.separator, {}), r.csv);

  const struct {
    std::string bytes;
    const char* json;
  } strings[] = {
      {"plain text", "\"plain text\""},
      {"q\"b\\s/", "\"q\\\"b\\\\s/\""},
      {"\n\r\t\x01\x1F", "\"\\n\\r\\t\\u0001\\u001f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x90\xB6", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x90\xB6\""},
      {"caf\xE9", "\"caf\xC3\xA9\""},                                // a lone byte as ISO 8859-1
      {"\xC3", "\"\xC3\x83\""},                                      // cut-off sequence
      {"\xC0\x80", "\"\xC3\x80\xC2\x80\""},                          // overlong
      {"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""},              // surrogate
      {"\xF4\x90\x80\x80", "\"\xC3\xB4\xC2\x90\xC2\x80\xC2\x80\""},  // beyond U+10FFFF
      {std::string("nul\0", 4), "\"nul\\u0000\""},
      {"=1+2", "\"=1+2\""},  // JSON Lines are read by programs, not spreadsheets
  };
  for (const auto& s : strings) EXPECT_EQ(JsonString(s.bytes), s.json) << s.bytes;
  EXPECT_EQ(JsonRecord({"site", "rank"}, {"a.com", "1"}), "{\"site\":\"a.com\",\"rank\":\"1\"}\n");
}

// A cell a spreadsheet would run as a formula is made text by a "'" inside its quotes; the
// program's counts and placeholders, and text that only holds such a character later, stay.
TEST(Output, CsvCellsThatASpreadsheetWouldRunBecomeText) {
  const struct {
    std::string cell;
    Column kind;
    const char* csv;  // the field as written with ','
  } cases[] = {
      {"=1+2 quokka grooming", Column::kText, "\"'=1+2 quokka grooming\""},
      {"+quokka grooming deals", Column::kText, "\"'+quokka grooming deals\""},
      {"-quokka grooming", Column::kText, "\"'-quokka grooming\""},
      {"@quokka grooming", Column::kText, "\"'@quokka grooming\""},
      {"\tquokka grooming", Column::kText, "\"'\tquokka grooming\""},
      {"\rquokka grooming", Column::kText, "\"'\rquokka grooming\""},
      {"=cmd|' /c calc'!a1 quokka grooming", Column::kText, "\"'=cmd|' /c calc'!a1 quokka grooming\""},
      {"=hyperlink(\"http://evil.example/x\",\"quokka grooming\")", Column::kText,
       "\"'=hyperlink(\"\"http://evil.example/x\"\",\"\"quokka grooming\"\")\""},
      {"-", Column::kText, "\"'-\""},
      {"=", Column::kCount, "\"'=\""},
      // A hostile service's text in a count column is text too.
      {"=HYPERLINK(\"http://evil.example/\")", Column::kCount, "\"'=HYPERLINK(\"\"http://evil.example/\"\")\""},
      {"-1+cmd|' /c calc'!a1", Column::kCount, "\"'-1+cmd|' /c calc'!a1\""},
      {"@sum(1)", Column::kCount, "\"'@sum(1)\""},
      // What stays as it is.
      {"-", Column::kCount, "-"},
      {"-4", Column::kCount, "-4"},
      {"-1,5", Column::kCount, "\"-1,5\""},
      {"+5", Column::kCount, "+5"},
      {"438816.05", Column::kCount, "438816.05"},
      {"?", Column::kCount, "?"},
      {"999999999", Column::kCount, "999999999"},
      {"", Column::kText, ""},
      {"quokka = grooming", Column::kText, "quokka = grooming"},
      {" =1+2", Column::kText, " =1+2"},
      {"'=1+2", Column::kText, "'=1+2"},
      {"www.quokka.example", Column::kText, "www.quokka.example"},
      // A NUL first is no formula once it is U+FFFD.
      {std::string("\0=1", 3), Column::kText, "\xEF\xBF\xBD=1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CsvRecord({c.cell}, ',', {c.kind}), std::string(c.csv) + "\r\n") << ::testing::PrintToString(c.cell);
  // Each field by its own column's kind; fields past the kinds given are text.
  EXPECT_EQ(CsvRecord({"-", "-", "-"}, ';', {Column::kText, Column::kCount}), "\"'-\";-;\"'-\"\r\n");
}

}  // namespace
}  // namespace quillet::cli
