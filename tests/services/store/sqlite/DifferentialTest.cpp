// Every answer of the SQLite store against a model that finds it by brute force in the same
// imports: terms known before and after their pages, pages stored by crawl metadata and
// completed by crawl text, titles replaced, links added, ranks given again.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <tuple>

#include "tests/services/support/Fixtures.h"
#include "tests/services/support/ModelStore.h"
#include "tests/services/support/TeeWriter.h"
#include "services/store/sqlite/SqliteStore.h"
#include "services/text/Keys.h"

namespace quillet::services {
namespace {

using testing::ModelStore;
using testing::ScratchDir;
using testing::TeeWriter;

// A Greek word in two spellings that fold together (capital sigma and an accent, neither).
const std::string kSophia = "\xCE\xA3\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1",
                  kSophiaBare = "\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1";
// Words that fold together in many spellings, separators the splitter drops, and words no
// page holds.
const std::vector<std::string> kWords = {"dog",      "Dog",         "DOG",    "training",     "Tr\xC3\xA1ining",
                                         "TRAINING", "salt",        "pepper", "caf\xC3\xA9",  "CAFE",
                                         "au",       "lait",        "home",   "at",           "the",
                                         "best",     "2024",        "sea",    "side",         "o'clock",
                                         "GRUN",     "gr\xC3\xBCn", "naive",  "na\xC3\xAFve", kSophia,
                                         kSophiaBare};
const std::vector<std::string> kBetween = {" ", " ", " ", ", ", "-", " & ", ". ", "\n", "'s "};
const std::vector<std::string> kTermBetween = {" ", " ", " & ", "-", ", "};
const std::vector<std::string> kAbsent = {"zebra", "Quokka"};
const std::vector<std::string> kSchemes = {"http://", "http://www.", "https://WWW."};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}
  std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  template <typename T>
  const T& Pick(const std::vector<T>& from) {
    return from[Below(from.size())];
  }
  std::string Text(std::size_t most) {
    std::string text;
    for (std::size_t n = Below(most + 1); n > 0; --n) text += Pick(kWords) + Pick(kBetween);
    return text;
  }
  // A search term as a keyword export would give it.
  std::string Term() {
    std::string term = Pick(kWords);
    for (std::size_t n = Below(4); n > 0; --n) term += Pick(kTermBetween) + Pick(kWords);
    return *NormalizeTerm(term, nullptr);
  }
  // Links to other sites, to the page's own, and some that name no host.
  std::vector<std::string> Links(const std::vector<std::string>& hosts, const std::string& own) {
    const std::vector<std::string> kinds = {"http://", "https://www.", "HTTP://WWW.", "/relative/", "mailto:a@"};
    std::vector<std::string> links;
    for (std::size_t n = Below(6); n > 0; --n)
      links.push_back(Below(8) == 0 ? own : Pick(kinds) + Pick(hosts) + "/" + std::to_string(Below(9)));
    return links;
  }

 private:
  std::mt19937 random_;
};

// Line ends shown, so that a failure's lines are the items'.
std::string Shown(std::string text) {
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) text.replace(at, 1, "\\n");
  return text;
}

std::string Describe(const TextQuery& query) {
  return query.phrase ? "\"" + Shown(query.text) + "\"" : "[" + Shown(query.text) + "] (words anywhere)";
}

std::string Lines(const std::vector<ResultItem>& items) {
  std::string lines;
  for (const ResultItem& item : items)
    lines += "  " + item.url + " | " + Shown(item.title) + " | " + Shown(item.snippet) + "\n";
  return lines;
}

std::string Rank(std::optional<std::int64_t> rank) { return rank ? std::to_string(*rank) : "none"; }

// The exact phrase of every term, random phrases (some of absent words), words anywhere,
// and queries without a word.
std::vector<TextQuery> Queries(Generator& random, const std::vector<std::string>& terms) {
  std::vector<TextQuery> queries = {{"", true}, {"-- &", false}, {"dog-training salt", false}};
  for (const std::string& term : terms) queries.push_back({term, true});
  for (int i = 0; i < 200; ++i) {
    std::string text = random.Below(10) ? random.Pick(kWords) : random.Pick(kAbsent);
    for (std::size_t n = random.Below(3); n > 0; --n) text += random.Pick(kBetween) + random.Pick(kWords);
    queries.push_back({text, i % 3 != 0});
  }
  return queries;
}

void ExpectSameAnswers(StoreReader& store, ModelStore& model, const std::vector<TextQuery>& queries,
                       const std::vector<std::string>& hosts) {
  const Deadline none = Deadline::None();
  int wrong = 0, matched = 0;
  std::size_t longest = 0;
  auto check = [&](bool same, const std::string& what) {
    if (!same && ++wrong <= 20) ADD_FAILURE() << what;
  };
  const std::vector<std::pair<std::int64_t, int>> pages = {{0, 10}, {0, 100}, {4, 10}, {25, 100}};
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const TextQuery& query = queries[i];
    std::int64_t want = model.CountMatches(query, none), got = store.CountMatches(query, none);
    matched += want > 0;
    check(got == want, Describe(query) + ": counted " + std::to_string(got) + ", model " + std::to_string(want));
    auto [offset, limit] = pages[i % pages.size()];
    std::vector<ResultItem> wantList = model.FindPages(query, offset, limit, none);
    std::string gotLines = Lines(store.FindPages(query, offset, limit, none)), wantLines = Lines(wantList);
    longest = std::max(longest, wantList.size());
    check(gotLines == wantLines, Describe(query) + " from " + std::to_string(offset) + ", at most " +
                                     std::to_string(limit) + ":\n" + gotLines + "model:\n" + wantLines);
  }
  for (const std::string& host : hosts) {
    std::int64_t want = model.CountLinks(host, none), got = store.CountLinks(host, none);
    check(got == want, "links to " + host + ": " + std::to_string(got) + ", model " + std::to_string(want));
    for (const std::string& name : {host, "www." + host, "deep.Blog." + host}) {
      std::optional<std::int64_t> wantRank = model.FindRank(name, none), gotRank = store.FindRank(name, none);
      check(gotRank == wantRank, "rank of " + name + ": " + Rank(gotRank) + ", model " + Rank(wantRank));
    }
  }
  EXPECT_EQ(wrong, 0) << "answers differ";
  if (model.Counts().pages == 0) return;
  // The data gives the comparison something to compare.
  EXPECT_GT(matched, static_cast<int>(queries.size()) / 2);
  EXPECT_EQ(longest, 100u);
}

TEST(Differential, EveryAnswerIsTheModels) {
  ScratchDir dir;
  const std::string db = dir.File("d.db");
  ModelStore model;
  Generator random(20240518);
  std::vector<std::string> hosts, urls, terms;
  for (int k = 0; k < 100; ++k) {
    std::string site = "site" + std::to_string(k) + ".example";
    hosts.push_back(site);
    if (k % 3 == 0) hosts.push_back("blog." + site);
    if (k % 7 == 0) hosts.push_back("shop." + site);
  }
  auto newUrl = [&] {
    std::string scheme = random.Pick(kSchemes);
    urls.push_back(scheme + random.Pick(hosts) + "/" + std::to_string(urls.size()) + ".html");
    return urls.back();
  };
  for (int i = 0; i < 2000; ++i) newUrl();
  auto putTerms = [&](StoreWriter& w, int n) {
    for (int i = 0; i < n; ++i) {
      terms.push_back(random.Term());
      w.PutKeyword(terms.back(), 1 + static_cast<std::int64_t>(random.Below(1000)));
    }
  };
  // Hosts and their parents, written as rank lists give them, one name often twice.
  auto putRanks = [&](StoreWriter& w, int n) {
    for (int i = 0; i < n; ++i) {
      std::string host = random.Pick(hosts);
      if (random.Below(3) == 0 && host.find('.') != host.rfind('.')) host = host.substr(host.find('.') + 1);
      if (random.Below(4) == 0) host = "WWW." + host;
      w.PutRank(host, 1 + static_cast<std::int64_t>(random.Below(300)));
    }
  };
  const std::vector<std::pair<const char*, std::function<void(StoreWriter&)>>> imports = {
      {"terms before any page", [&](StoreWriter& w) { putTerms(w, 80); }},
      {"crawl metadata: titles and links, no text",
       [&](StoreWriter& w) {
         for (const std::string& url : urls)
           w.MergePage({url, random.Below(5) ? random.Text(6) : "", "", random.Links(hosts, url)});
         for (int i = 0; i < 100; ++i) {
           const std::string& url = random.Pick(urls);
           w.MergePage({url, "", "", random.Links(hosts, url)});
         }
       }},
      {"crawl text: stored pages completed (text kept once given), new ones by text alone",
       [&](StoreWriter& w) {
         for (std::size_t i = 200; i < 2000; ++i) w.MergePage({urls[i], "", random.Text(40), {}});
         for (int i = 0; i < 300; ++i) w.MergePage({newUrl(), "", random.Text(40), {}});
         for (int i = 0; i < 100; ++i) w.MergePage({random.Pick(urls), "", random.Text(40), {}});
       }},
      {"terms learned after their pages, and ranks",
       [&](StoreWriter& w) {
         putTerms(w, 80);
         putRanks(w, 200);
       }},
      {"titles given and replaced, links added, ranks given again, demand summed",
       [&](StoreWriter& w) {
         for (int i = 0; i < 300; ++i) {
           const std::string& url = random.Pick(urls);
           w.MergePage(
               {url, random.Text(6), "", random.Below(2) ? random.Links(hosts, url) : std::vector<std::string>{}});
         }
         putRanks(w, 100);
         for (int i = 0; i < 200; ++i) {
           std::string term = random.Below(3) ? random.Term() : random.Pick(terms);
           terms.push_back(term);
           w.TallyKeyword(term, 1 + static_cast<std::int64_t>(random.Below(50)));
         }
         w.StoreTally(3, 2);
       }},
      {"pages and terms in turn, some undone to a mark",
       [&](StoreWriter& w) {
         for (int i = 0; i < 20; ++i) {
           for (int p = 0; p < 10; ++p) w.AddPage({newUrl(), random.Text(6), random.Text(40), {}});
           putTerms(w, 3);
         }
         w.Mark();
         for (int p = 0; p < 30; ++p) w.MergePage({random.Pick(urls), random.Text(6), random.Text(40), {}});
         putTerms(w, 10);
         putRanks(w, 20);
         w.RollBackToMark();
         putTerms(w, 10);
       }},
  };
  for (const auto& [name, write] : imports) {
    SCOPED_TRACE(name);
    {
      SqliteWriter sqlite(db);
      std::unique_ptr<StoreWriter> modelWriter = model.Writer();
      TeeWriter tee(sqlite, *modelWriter);
      write(tee);
      tee.Commit();
    }
    SqliteReader store(db);
    ExpectSameAnswers(store, model, Queries(random, terms), hosts);
    StoreCounts got = store.Counts(), want = model.Counts();
    EXPECT_EQ(std::tie(got.pages, got.terms, got.ranked), std::tie(want.pages, want.terms, want.ranked));
  }
}

}  // namespace
}  // namespace quillet::services
