// The event lines between quillet-services and the programs that run it: every event read
// back as written, and what a reader makes of lines it cannot trust.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "protocol/Lines.h"

namespace quillet::protocol {
namespace {

TEST(Lines, EventsAreReadBackAsWrittenWithoutTheirTabsAndLineEnds) {
  struct Case {
    Event event;
    std::initializer_list<std::string> fields;
    std::vector<std::string> read;
  };
  const Case cases[] = {
      {Event::kFile, {"1", "wat", "200", "C:\\My Data\\a b.gz"}, {"1", "wat", "200", "C:\\My Data\\a b.gz"}},
      {Event::kStored, {"a.gz: 2 lines\tsplit"}, {"a.gz: 2 lines split"}},
      {Event::kFailed, {"x: cut\r\nshort", ""}, {"x: cut  short", ""}},
      {Event::kFailed, {"x: not found", "Try again later."}, {"x: not found", "Try again later."}},
      {Event::kDatabase, {"/tmp/my\tresearch.db", "-1"}, {"/tmp/my research.db", "-1"}},
      {Event::kSource,
       {"2024-05-01 10:00:00", "wet", "5", "6", "0", "http://h/a"},
       {"2024-05-01 10:00:00", "wet", "5", "6", "0", "http://h/a"}},
  };
  for (const Case& c : cases) {
    const std::string written = Encode(c.event, c.fields);
    EXPECT_EQ(written.find_first_of("\r\n"), std::string::npos) << written;
    const Line line = Decode(written);
    EXPECT_EQ(line.event, c.event) << written;
    EXPECT_EQ(line.fields, c.read) << written;
    // As a pipe from Windows hands it over.
    EXPECT_EQ(Decode(written + "\r").fields, c.read) << written;
  }
}

TEST(Lines, AWriterThatMiscountsItsFieldsIsCaught) {
  EXPECT_THROW(Encode(Event::kDone, {}), std::logic_error);
  EXPECT_THROW(Encode(Event::kFailed, {"only the text"}), std::logic_error);
  EXPECT_THROW(Encode(Event::kUnknown, {}), std::logic_error);
}

TEST(Lines, LinesThatCannotBeTrustedAreUnknownOrGiveNoNumber) {
  struct Case {
    std::string text;
    Event event;
  };
  const Case cases[] = {
      {"", Event::kUnknown},
      {"progress\t1\t2", Event::kUnknown},  // fewer fields than a progress line has
      {"Done\t0", Event::kUnknown},
      {"warning: something", Event::kUnknown},  // a line a program writes to standard error
      {"done\t0\tmore\tlater", Event::kDone},   // fields added by a newer writer
      {"stored", Event::kUnknown},
      {"stored\t", Event::kStored},
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(c.text).event, c.event) << c.text;

  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  struct Number {
    std::string field;
    std::int64_t value;
  };
  const Number numbers[] = {
      {"0", 0},
      {"-1", -1},
      {"1234567890123", 1234567890123},
      {"", -1},
      {"-", -1},
      {"12a", -1},
      {" 12", -1},
      {"+5", -1},
      {"9223372036854775807", kMax},
      {"9223372036854775808", kMax},
      {"99999999999999999999999999", kMax},
      {"-99999999999999999999999999", -kMax},
  };
  for (const Number& n : numbers) EXPECT_EQ(Decode("counts\t" + n.field + "\t0\t0").Number(0), n.value) << n.field;
  EXPECT_EQ(Decode("done\t0").Number(7), -1);
  EXPECT_EQ(Decode("done\t0").Text(7), "");
}

}  // namespace
}  // namespace quillet::protocol
