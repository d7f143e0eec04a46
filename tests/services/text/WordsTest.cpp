#include <gtest/gtest.h>

#include "tests/services/support/Fixtures.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

TEST(Words, LettersAndDigitsFoldedInEveryScript) {
  struct Case {
    std::string text;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"Dog-Training, 101!", {"dog", "training", "101"}},
      {"Caf\xC3\xA9 CAF\xC3\x89 cafe\xCC\x81", {"cafe", "cafe", "cafe"}},  // composed, capital, combining accent
      {"Stra\xC3\x9F"
       "e \xC4\xB0stanbul \xC5\x81\xC3\xB3"
       "d\xC5\xBA",
       {"stra\xC3\x9F"
        "e",
        "istanbul", "\xC5\x82odz"}},  // no accent to drop from a stroke
      {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1 \xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0",
       {"\xCE\xB5\xCE\xBB\xCE\xBB\xCE\xB1\xCE\xB4\xCE\xB1", "\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"}},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE3\x80\x82\xE8\xAA\x9E",
       {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE8\xAA\x9E"}},  // CJK full stop
      {"\xF0\x9F\x98\x80"
       "dog\xE2\x80\x94"
       "cat \xC2\xA0x\xC3\x97y",
       {"dog", "cat", "x", "y"}},  // emoji, dash, NBSP, times
      {"l'\xC3\xA9t\xC3\xA9 x\xC2\xB2", {"l", "ete", "x\xC2\xB2"}},
      {"a\xFF"
       "b\xED\xA0\x80"
       "c\xC3",
       {"a", "b", "c"}},  // ill-formed UTF-8 separates
      {"  \t\n", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Words(c.text), c.words) << c.text;
  // Capitals of every script fold as the small letters do.
  for (const auto& [capital, small] : std::vector<std::pair<std::string, std::string>>{
           {"ԲԱՐ", "բար"}, {"ΛΌΓΟΣ", "λόγος"}, {"Ἀθήνα", "αθηνα"}, {"ＡＢ", "ａｂ"}, {"µm ſ", "μm s"}}) {
    EXPECT_EQ(Words(capital), Words(small)) << capital;
    EXPECT_FALSE(Words(capital).empty());
  }
  EXPECT_EQ(NormalizedText(" Dog--TRAINING  at home! "), "dog training at home");

  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  // ASCII runs within words that start or end otherwise.
  ForEachWord("  Cafe\xCC\x81! ok \xC3\xA9t\xC3\xA9s-X2\xC3\xA9",
              [&](std::string_view, std::size_t begin, std::size_t end) {
                ranges.push_back({begin, end});
              });
  EXPECT_EQ(ranges, (std::vector<std::pair<std::size_t, std::size_t>>{{2, 8}, {10, 12}, {13, 19}, {20, 24}}));
}

TEST(Words, TheIndexSplitsAsTheSplitterDoes) {
  testing::ScratchDir dir;
  SqliteWriter writer(dir.File("w.db"));
  writer.AddPage({"http://a.com/", "Caf\xC3\xA9-au-lait", "Dog-training at h\xC3\xB4me, naturally.", {}});
  writer.AddPage({"http://b.com/", "", "dogtraining cafe aulait", {}});
  writer.Commit();
  SqliteReader store(dir.File("w.db"));
  const std::vector<std::pair<std::string, std::int64_t>> phrases = {
      {"cafe au lait", 1}, {"CAF\xC3\x89 AU LAIT", 1}, {"dog training at home", 1}, {"dog", 1},
      {"dogtraining", 1},  {"training dog", 0},        {"home naturally", 1},       {"at-home", 1}};
  for (const auto& [phrase, count] : phrases)
    EXPECT_EQ(store.CountMatches({phrase, true}, Deadline::None()), count) << phrase;
}

}  // namespace
}  // namespace quillet::services
