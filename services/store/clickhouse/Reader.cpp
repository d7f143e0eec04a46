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
    // Pages in the order of their first import (ord), retracted ones left out.
    auto chosen =
        Rows(Ask("SELECT p FROM (SELECT page AS p, any(host) AS h, any(ord) AS o FROM " + db_->Shared("pages") +
                     " WHERE " + db_->Visible() + PageConditions(*db_, query, 0) +
                     " GROUP BY page HAVING sum(sign) > 0 ORDER BY o LIMIT " + std::to_string(limits::kMaxCandidates) +
                     ") ORDER BY o LIMIT " + std::to_string(kResultsPerHost) + " BY h LIMIT " + std::to_string(offset) +
                     ", " + std::to_string(limit),
                 deadline),
             1);
    if (chosen.empty()) return items;
    std::string ids;
    for (const auto& row : chosen) ids += (ids.empty() ? "" : ", ") + row[0];
    auto pages = Rows(Ask("SELECT page, url, title, snippet FROM " + db_->Shared("pages") + " WHERE page IN (" + ids +
                              ") AND sign = 1 AND " + db_->Visible() + " ORDER BY ord",
                          deadline),
                      4);
    for (auto& row : pages) items.push_back({std::move(row[1]), std::move(row[2]), std::move(row[3])});
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

std::optional<std::int64_t> ClickHouseReader::FindRank(std::string_view host, Deadline deadline) {
  return Answered([&]() -> std::optional<std::int64_t> {
    std::vector<std::string> domains = RankDomains(host);
    if (domains.empty()) return std::nullopt;
    std::string list;
    for (const std::string& domain : domains) list += (list.empty() ? "" : ", ") + SqlString(domain);
    auto rows = Rows(Ask("SELECT domain, argMax(rank, version) FROM " + db_->Shared("ranks") + " WHERE domain IN (" +
                             list + ") AND " + db_->Visible() + " GROUP BY domain",
                         deadline),
                     2);
    for (const std::string& domain : domains)
      for (const auto& row : rows)
        if (row[0] == domain) return SignedNumber(row[1]);
    return std::nullopt;
  });
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
