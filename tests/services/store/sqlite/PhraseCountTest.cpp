// The page counts of known phrases must be the full-text index's exact-phrase counts, in
// whatever order terms and pages arrive, and however pages change.
#include <gtest/gtest.h>

#include <random>

#include "tests/services/support/Fixtures.h"
#include "services/import/Json.h"
#include "services/store/sqlite/PhraseFilter.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Utf8.h"
#include "services/text/Words.h"

namespace quillet::services {
namespace {

using testing::ScratchDir;

// Words that fold together ("Tráining", "TRAINING") and separators the splitter drops, so
// that terms and pages meet in many spellings.
const std::vector<std::string> kWords = {"dog",      "Dog",  "training", "Tr\xC3\xA1ining",
                                         "TRAINING", "salt", "pepper",   "caf\xC3\xA9",
                                         "cafe",     "au",   "lait",     "home",
                                         "at",       "the",  "best",     "2024"};
const std::vector<std::string> kBetween = {" ", " ", " ", ", ", "-", " & ", ". ", "\n", "'s "};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}
  std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  std::string Text(std::size_t most) {
    std::string text;
    for (std::size_t n = Below(most + 1); n > 0; --n)
      text += kWords[Below(kWords.size())] + kBetween[Below(kBetween.size())];
    return text;
  }
  // A search term as a keyword export would give it.
  std::string Term() {
    std::string term = kWords[Below(kWords.size())];
    for (std::size_t n = Below(4); n > 0; --n) term += (Below(5) == 0 ? " & " : " ") + kWords[Below(kWords.size())];
    return *NormalizeTerm(term, nullptr);
  }
  std::string Url() { return "http://h" + std::to_string(Below(40)) + ".com/" + std::to_string(Below(100000)); }

 private:
  std::mt19937 random_;
};

// Every known term's count as served, against the index's own count of the phrase.
void ExpectExactCounts(const std::string& db, const std::vector<std::string>& terms) {
  SqliteReader store(db);
  Database direct(db, Database::Mode::ReadOnly);
  Statement index = direct.Prepare("SELECT count(*) FROM page_text WHERE page_text MATCH ?1");
  Statement known = direct.Prepare("SELECT 1 FROM phrase_counts WHERE phrase = ?1");
  int checked = 0;
  for (const std::string& term : terms) {
    index.Bind(1, MatchExpression(term, true));
    ASSERT_TRUE(index.Step());
    EXPECT_EQ(store.CountMatches({term, true}, Deadline::None()), index.Int(0)) << term;
    index.Reset();
    known.Bind(1, NormalizedText(term));
    checked += known.Step();
    known.Reset();
  }
  // The counts were answered from the known phrases, not by the index itself.
  EXPECT_EQ(checked, static_cast<int>(terms.size()));
}

TEST(KnownPhrases, CountsStayExactWhateverTheOrder) {
  ScratchDir dir;
  const std::string db = dir.File("p.db");
  Generator random(7);
  std::vector<std::string> terms, urls;
  auto putTerms = [&](SqliteWriter& writer, int n) {
    for (int i = 0; i < n; ++i) {
      terms.push_back(random.Term());
      writer.PutKeyword(terms.back(), 10);
    }
  };
  auto addPages = [&](SqliteWriter& writer, int n) {
    for (int i = 0; i < n; ++i) {
      urls.push_back(random.Url());
      writer.AddPage({urls.back(), random.Text(6), random.Text(40), {}});
    }
  };
  const std::vector<std::pair<const char*, std::function<void(SqliteWriter&)>>> steps = {
      {"terms into an empty store", [&](SqliteWriter& w) { putTerms(w, 150); }},
      {"pages after terms", [&](SqliteWriter& w) { addPages(w, 300); }},
      {"terms after pages", [&](SqliteWriter& w) { putTerms(w, 150); }},
      {"pages and terms in turn in one import",
       [&](SqliteWriter& w) {
         for (int i = 0; i < 20; ++i) {
           addPages(w, 10);
           putTerms(w, 10);
         }
       }},
      {"pages merged: titles replaced, text given to pages without",
       [&](SqliteWriter& w) {
         for (int i = 0; i < 200; ++i) {
           const std::string& url = urls[random.Below(urls.size())];
           w.MergePage({url, random.Below(3) ? random.Text(6) : "", random.Text(30), {}});
           std::string fresh = random.Url();
           w.MergePage({fresh, random.Text(6), "", {}});
           w.MergePage({fresh, "", random.Text(30), {}});
           urls.push_back(fresh);
         }
       }},
      {"pages undone to a mark between kept ones",
       [&](SqliteWriter& w) {
         addPages(w, 50);
         w.Mark();
         std::size_t kept = urls.size();
         addPages(w, 50);
         w.MergePage({urls[random.Below(kept)], random.Text(6), random.Text(30), {}});
         w.RollBackToMark();
         urls.resize(kept);
         addPages(w, 50);
       }},
  };
  for (const auto& [name, step] : steps) {
    SCOPED_TRACE(name);
    SqliteWriter writer(db);
    step(writer);
    writer.Commit();
    ExpectExactCounts(db, terms);
  }
}

// Changes gathered for a run of words the filter let through, before that run became a
// known phrase, are already in the count the index gives the new phrase.
TEST(KnownPhrases, ATermLearnedAfterItsPagesInOneImportIsCountedOnce) {
  ScratchDir dir;
  const std::string db = dir.File("p.db");
  SqliteWriter writer(db);
  // The filter is made for an empty store, then overfilled with long phrases: nearly every
  // run of words gets through it.
  writer.AddPage({"http://a.com/", "first", "dog training", {}});
  std::vector<std::string> terms = {"dog training at home"};
  for (int i = 0; i < 8000; ++i) {
    std::string term;
    for (char c = 'a'; c < 'a' + 16; ++c) term += std::string(term.empty() ? "" : " ") + c + std::to_string(i);
    writer.PutKeyword(term, 1);
    if (i % 1000 == 0) terms.push_back(term);
  }
  for (int i = 0; i < 30; ++i) writer.AddPage({"http://b.com/" + std::to_string(i), "", "Dog training at home", {}});
  writer.PutKeyword("dog training at home", 1);
  writer.AddPage({"http://c.com/", "", "dog training at home a7 b7", {}});
  writer.Commit();
  ExpectExactCounts(db, terms);
  EXPECT_EQ(SqliteReader(db).CountMatches({"dog training at home", true}, Deadline::None()), 31);
}

TEST(KnownPhrases, TheFilterStaysWithinItsCap) {
  EXPECT_EQ(PhraseFilter(std::size_t{1} << 40).Bytes(), limits::kMaxPhraseFilterBytes);
  EXPECT_LE(PhraseFilter(0).Bytes(), 8192u);
  // Past its size it lets more through, but never holds a known phrase back.
  PhraseFilter small(0);
  for (int i = 0; i < 50000; ++i) small.Add("term " + std::to_string(i));
  std::unordered_set<std::string_view> found;
  FoldedWords words("A TERM 49999 and term 7 and Term-123");
  small.Candidates(words, &found);
  for (const char* phrase : {"term 49999", "term 7", "term 123"}) EXPECT_TRUE(found.count(phrase)) << phrase;
}

}  // namespace
}  // namespace quillet::services
