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

// Calls read(condition, tables) with "column IN ..." for the values, in pieces of bounded
// length. One server is sent the values as a table, which it reads in a tenth of the time
// that ten thousand literals take it to parse. A cluster gets literals: its shards look a
// table sent along up without their primary index (ClickHouse 18), which reads the whole
// table. text: the values are strings (else numbers).
template <typename Read>
void ForEachIn(const ClickHouseDatabase& db, const std::vector<std::string>& values, const std::string& column,
               bool text, Read read) {
  // The server parses at most 256 KiB of a query; a table costs a request bounded memory.
  const size_t pieceBytes = db.Cluster() ? 128 * 1024 : 1024 * 1024;
  for (auto next = values.begin(); next != values.end();) {
    std::string piece;
    for (; piece.size() < pieceBytes && next != values.end(); ++next) {
      if (db.Cluster()) {
        piece += (piece.empty() ? "" : ", ") + (text ? SqlString(*next) : *next);
      } else {
        AppendTsvField(piece, *next);
        piece += '\n';
      }
    }
    if (db.Cluster()) read(column + " IN (" + piece + ")", std::vector<ExternalTable>{});
    else read(column + " IN v", std::vector<ExternalTable>{{"v", text ? "v String" : "v UInt64", std::move(piece)}});
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
    // Whether the title holds the search is the current version's (a retracted version
    // counts +1 - 1).
    std::string titleHolds;
    for (const std::vector<std::string>& phrase : QueryPhrases(text))
      titleHolds += std::string(titleHolds.empty() ? "" : " AND ") + "position(title_words, " +
                    SqlString(" " + Join(phrase, 0, phrase.size()) + " ") + ") > 0";
    const std::string site = "any(host), sum(sign * (" + titleHolds + ")) > 0";
    // The first matches in the order of their first import (ord), retracted ones left out.
    const std::string matches =
        " FROM " + db_->Shared("pages") + " WHERE " + db_->Visible() + PageConditions(*db_, query, 0) +
        " GROUP BY page HAVING sum(sign) > 0 ORDER BY any(ord) LIMIT " + std::to_string(limits::kMaxCandidates);
    std::vector<Candidate> candidates;
    auto add = [&](std::vector<std::string>& row) {  // page, host, title holds
      candidates.push_back({static_cast<std::int64_t>(Number(row[0])), std::move(row[1]), std::nullopt, row[2] == "1"});
    };
    if (db_->Cluster()) {
      // In one read: a list of ten thousand ids sent back to the shards costs more than
      // reading the sites of all the matches.
      for (auto& row : Rows(Ask("SELECT page, " + site + matches, deadline), 3)) add(row);
    } else {
      // Ids first: a common phrase matches pages all over the table, and the sites and
      // titles of the chosen ones only are read next.
      std::vector<std::string> ids;
      for (auto& row : Rows(Ask("SELECT page" + matches, deadline), 1))
        ids.push_back(std::to_string(Number(row[0])));  // a number, before it goes into a query
      std::map<std::uint64_t, std::vector<std::string>> sites;
      ForEachIn(*db_, ids, "page", false, [&](const std::string& in, const std::vector<ExternalTable>& tables) {
        for (auto& row : Rows(db_->Read("SELECT page, " + site + " FROM " + db_->Shared("pages") + " WHERE " + in +
                                            " AND " + db_->Visible() + " GROUP BY page",
                                        tables, deadline),
                              3))
          sites[Number(row[0])] = std::move(row);
      });
      for (const std::string& id : ids) {
        auto found = sites.find(Number(id));
        if (found != sites.end()) add(found->second);  // else gone since, with an import taken back
      }
    }
    if (candidates.empty()) return items;
    std::set<std::string> distinct;
    for (const Candidate& candidate : candidates) distinct.insert(candidate.host);
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
  ForEachIn(*db_, std::vector<std::string>(distinct.begin(), distinct.end()), "domain", true,
            [&](const std::string& in, const std::vector<ExternalTable>& tables) {
              for (auto& row : Rows(db_->Read("SELECT domain, argMax(rank, version) FROM " + db_->Shared("ranks") +
                                                  " WHERE " + in + " AND " + db_->Visible() + " GROUP BY domain",
                                              tables, deadline),
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
