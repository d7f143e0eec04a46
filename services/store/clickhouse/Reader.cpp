#include <algorithm>
#include <map>
#include <set>

#include "services/store/Rules.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/store/clickhouse/Schema.h"
#include "services/text/Hosts.h"

namespace quillet::services {
using namespace clickhouse;
namespace {

std::string Join(const std::vector<std::string>& words, size_t from, size_t count) {
  std::string out;
  for (size_t i = from; i < from + count; ++i) {
    if (i > from) out += ' ';
    out += words[i];
  }
  return out;
}

// Calls read with the rows of a table of the items (text gives a row of one), in tables of
// at most 1 MiB: a list of any length costs a request bounded memory.
template <typename Iterator, typename Text, typename Read>
void InTables(Iterator next, Iterator end, Text text, Read read) {
  constexpr size_t kTableBytes = 1024 * 1024;
  while (next != end) {
    std::string rows;
    for (; rows.size() < kTableBytes && next != end; ++next) {
      text(rows, *next);
      rows += '\n';
    }
    read(std::move(rows));
  }
}

// A search as this store answers it: grams that every matching page holds, and phrases of
// more than three words to look for in the normalised text of the pages that hold theirs.
struct GramQuery {
  std::vector<std::string> grams;
  std::vector<std::string> phrases;  // " w1 w2 w3 w4 ", as title_words and body_words are kept
};

// Empty grams when nothing can match.
GramQuery ReadQuery(const TextQuery& query) {
  std::set<std::string> grams;
  GramQuery out;
  for (const std::vector<std::string>& words : QueryPhrases(query)) {
    if (words.size() <= 3) {
      grams.insert(Join(words, 0, words.size()));
      continue;
    }
    for (size_t i = 0; i + 3 <= words.size(); ++i) grams.insert(Join(words, i, 3));
    out.phrases.push_back(" " + Join(words, 0, words.size()) + " ");
  }
  out.grams.assign(grams.begin(), grams.end());
  return out;
}

}  // namespace

ClickHouseReader::ClickHouseReader(const ClickHouseOptions& options)
    : db_(std::make_unique<ClickHouseDatabase>(options)) {
  UpgradeClickHouse(options);
  db_->Prepare();
}

ClickHouseReader::~ClickHouseReader() = default;

std::string ClickHouseReader::Ask(const std::string& sql, Deadline deadline) const { return db_->Read(sql, deadline); }

namespace {

// A read that could not be completed, whatever came back (an error, no answer, an answer of
// another shape), is a page without data: never a half answer, never a server error.
template <typename Read>
auto Answered(Read read) {
  try {
    return read();
  } catch (const ClickHouseError& error) {
    throw NoAnswer(error.what());
  } catch (const std::out_of_range&) {
    throw NoAnswer("ClickHouse answered no row where one was due");
  }
}

}  // namespace

std::vector<Suggestion> ClickHouseReader::FindSuggestions(const std::vector<std::string>& words, int limit,
                                                          Deadline deadline) {
  return Answered([&]() {
    std::vector<Suggestion> out;
    if (words.empty() || limit <= 0) return out;
    std::string sql =
        "SELECT term, argMax(searches, version) AS s FROM " + db_->Shared("keywords") + " WHERE " + db_->Visible();
    for (const std::string& word : words)
      sql += " AND term IN (SELECT term FROM " + db_->Local("keyword_words") + " WHERE word = " + SqlString(word) + ")";
    sql += " GROUP BY term ORDER BY s DESC, term LIMIT " + std::to_string(limit);
    for (auto& row : Rows(Ask(sql, deadline), 2)) out.push_back({std::move(row[0]), SignedNumber(row[1])});
    return out;
  });
}

namespace {

// " AND page IN (...)" for each gram from the first given on, and the phrase checks.
std::string PageConditions(const ClickHouseDatabase& db, const GramQuery& query, size_t firstGram) {
  std::string sql;
  for (size_t i = firstGram; i < query.grams.size(); ++i)
    sql += " AND page IN (SELECT page FROM " + db.Local("grams") + " WHERE gram = " + SqlString(query.grams[i]) + ")";
  for (const std::string& phrase : query.phrases)
    sql += " AND (position(title_words, " + SqlString(phrase) + ") > 0 OR position(body_words, " + SqlString(phrase) +
           ") > 0)";
  return sql;
}

}  // namespace

std::int64_t ClickHouseReader::CountMatches(const TextQuery& text, Deadline deadline) {
  return Answered([&]() {
    GramQuery query = ReadQuery(text);
    if (query.grams.empty()) return std::int64_t{0};
    std::string sql;
    // Short phrases are counted in the posting table alone: one range of the index. A page
    // retracted by a later import counts +1 - 1: the same conditions hold for both its rows.
    if (query.phrases.empty())
      sql = "SELECT sum(sign) FROM " + db_->Shared("grams") + " WHERE gram = " + SqlString(query.grams[0]) + " AND " +
            db_->Visible() + PageConditions(*db_, query, 1);
    else
      sql =
          "SELECT sum(sign) FROM " + db_->Shared("pages") + " WHERE " + db_->Visible() + PageConditions(*db_, query, 0);
    return SignedNumber(Rows(Ask(sql, deadline), 1).at(0).at(0));
  });
}

std::vector<ResultItem> ClickHouseReader::FindPages(const TextQuery& text, std::int64_t offset, int limit,
                                                    Deadline deadline) {
  return Answered([&]() {
    std::vector<ResultItem> items;
    GramQuery query = ReadQuery(text);
    if (query.grams.empty() || limit <= 0) return items;
    // The first matches in the order of their first import (ord), retracted ones left out.
    // Ids alone: a common phrase matches pages all over the table, and the sites and titles
    // of the chosen ones only are read next.
    std::vector<std::uint64_t> ids;
    for (const auto& row :
         Rows(Ask("SELECT page FROM " + db_->Shared("pages") + " WHERE " + db_->Visible() +
                      PageConditions(*db_, query, 0) + " GROUP BY page HAVING sum(sign) > 0 ORDER BY any(ord) LIMIT " +
                      std::to_string(limits::kMaxCandidates),
                  deadline),
              1))
      ids.push_back(Number(row[0]));
    if (ids.empty()) return items;
    // Whether the title holds the search is the current version's (a retracted version
    // counts +1 - 1).
    std::string titleHolds;
    for (const std::vector<std::string>& phrase : QueryPhrases(text))
      titleHolds += std::string(titleHolds.empty() ? "" : " AND ") + "position(title_words, " +
                    SqlString(" " + Join(phrase, 0, phrase.size()) + " ") + ") > 0";
    std::map<std::uint64_t, std::pair<std::string, bool>> sites;  // page: host, title holds
    InTables(
        ids.begin(), ids.end(), [](std::string& rows, std::uint64_t id) { rows += std::to_string(id); },
        [&](std::string rows) {
          for (auto& row : Rows(db_->Read("SELECT page, any(host), sum(sign * (" + titleHolds + ")) > 0 FROM " +
                                              db_->Shared("pages") + " WHERE page " + db_->InTable("ids") + " AND " +
                                              db_->Visible() + " GROUP BY page",
                                          {{"ids", "id UInt64", std::move(rows)}}, deadline),
                                3))
            sites[Number(row[0])] = {std::move(row[1]), row[2] == "1"};
        });
    std::vector<Candidate> candidates;
    std::set<std::string> distinct;
    for (std::uint64_t id : ids) {
      auto site = sites.find(id);
      if (site == sites.end()) continue;  // gone since the first read, with an import taken back
      candidates.push_back(
          {static_cast<std::int64_t>(id), std::move(site->second.first), std::nullopt, site->second.second});
      distinct.insert(candidates.back().host);
    }
    std::vector<std::string> hosts(distinct.begin(), distinct.end());
    std::vector<std::optional<std::int64_t>> ranks = Ranks(hosts, deadline);
    for (Candidate& candidate : candidates)
      candidate.rank = ranks[std::lower_bound(hosts.begin(), hosts.end(), candidate.host) - hosts.begin()];
    std::vector<Candidate> chosen = RankResults(std::move(candidates), offset, limit);
    if (chosen.empty()) return items;
    std::string shown;
    for (const Candidate& candidate : chosen) shown += (shown.empty() ? "" : ", ") + std::to_string(candidate.page);
    auto pages = Rows(Ask("SELECT page, url, title, snippet FROM " + db_->Shared("pages") + " WHERE page IN (" + shown +
                              ") AND sign = 1 AND " + db_->Visible() + " ORDER BY ord",
                          deadline),
                      4);
    for (const Candidate& candidate : chosen)
      for (auto& row : pages)
        if (Number(row[0]) == static_cast<std::uint64_t>(candidate.page))
          items.push_back({std::move(row[1]), std::move(row[2]), std::move(row[3])});
    return items;
  });
}

std::int64_t ClickHouseReader::CountLinks(std::string_view host, Deadline deadline) {
  return Answered([&]() {
    std::string sql = "SELECT sum(sign) FROM " + db_->Shared("links") +
                      " WHERE host = " + SqlString(NormalizeHost(host)) + " AND " + db_->Visible();
    return SignedNumber(Rows(Ask(sql, deadline), 1).at(0).at(0));
  });
}

std::vector<std::optional<std::int64_t>> ClickHouseReader::Ranks(const std::vector<std::string>& hosts,
                                                                 Deadline deadline) const {
  std::vector<std::vector<std::string>> domains;
  std::set<std::string> distinct;
  for (const std::string& host : hosts) {
    domains.push_back(RankDomains(host));
    distinct.insert(domains.back().begin(), domains.back().end());
  }
  std::map<std::string, std::int64_t> found;
  InTables(distinct.begin(), distinct.end(), AppendTsvField, [&](std::string rows) {
    for (auto& row :
         Rows(db_->Read("SELECT domain, argMax(rank, version) FROM " + db_->Shared("ranks") + " WHERE domain " +
                            db_->InTable("names") + " AND " + db_->Visible() + " GROUP BY domain",
                        {{"names", "name String", std::move(rows)}}, deadline),
              2))
      found.emplace(std::move(row[0]), SignedNumber(row[1]));
  });
  std::vector<std::optional<std::int64_t>> ranks(hosts.size());
  for (size_t i = 0; i < hosts.size(); ++i)
    for (const std::string& domain : domains[i]) {
      auto rank = found.find(domain);
      if (rank == found.end()) continue;
      ranks[i] = rank->second;
      break;
    }
  return ranks;
}

std::optional<std::int64_t> ClickHouseReader::FindRank(std::string_view host, Deadline deadline) {
  return Answered([&] { return Ranks({std::string(host)}, deadline).front(); });
}

std::vector<SourceRecord> ClickHouseReader::Sources() { return db_->Sources(); }

StoreCounts ClickHouseReader::Counts() {
  const std::string visible = " WHERE " + db_->Visible();
  auto row = Rows(db_->Read("SELECT (SELECT sum(sign) FROM " + db_->Shared("pages") + visible +
                                "), (SELECT uniqExact(term) FROM " + db_->Shared("keywords") + visible +
                                "), (SELECT uniqExact(domain) FROM " + db_->Shared("ranks") + visible + ")",
                            Deadline::In(limits::kClickHouseWriteTimeout)),
                  3)
                 .at(0);
  return {SignedNumber(row[0]), SignedNumber(row[1]), SignedNumber(row[2])};
}

}  // namespace quillet::services
