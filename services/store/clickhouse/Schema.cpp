#include "services/store/clickhouse/Schema.h"

#include <algorithm>
#include <charconv>
#include <thread>
#include <ctime>

namespace quillet::services::clickhouse {
namespace {

bool PlainName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

template <typename Integer>
Integer Parsed(std::string_view text) {
  Integer value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw ClickHouseError("ClickHouse answered " + std::string(text.substr(0, 40)) + " where a number was due");
  return value;
}

}  // namespace

const Table kTables[7] = {
    {"pages",
     "page UInt64, ord UInt64, sign Int8, import_id UInt32, url_hash UInt64, host String, url String, title String, "
     "snippet String, title_words String, body_words String, link_hosts String",
     "page", "intHash64(page)"},
    {"grams", "gram String, page UInt64, sign Int8, import_id UInt32", "gram, page", "intHash64(page)"},
    {"links", "host String, page UInt64, sign Int8, import_id UInt32", "host, page", "intHash64(page)"},
    {"keywords", "term String, key UInt64, searches Int64, version UInt64, import_id UInt32", "term",
     "cityHash64(term)"},
    {"keyword_words", "word String, term String, import_id UInt32", "word, term", "cityHash64(term)"},
    {"ranks", "domain String, key UInt64, rank Int64, version UInt64, import_id UInt32", "domain",
     "cityHash64(domain)"},
    // Demand summed over the files of one run before it becomes keywords.
    {"tally", "term String, count Int64, round UInt32, import_id UInt32", "term", "cityHash64(term)"},
};

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
}

std::string UtcTime(std::uint64_t ms) {
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

std::uint64_t Number(std::string_view text) { return Parsed<std::uint64_t>(text); }
std::int64_t SignedNumber(std::string_view text) { return Parsed<std::int64_t>(text); }

std::vector<std::vector<std::string>> Rows(const std::string& body, size_t columns) {
  auto rows = ParseTsv(body);
  for (const auto& row : rows)
    if (row.size() != columns) throw ClickHouseError("ClickHouse answered rows of another shape");
  return rows;
}

// The settings of a read that must end by the deadline, on the server and its shards too.
std::string ReadSettings(Deadline deadline) {
  std::string settings = "wait_end_of_query=1&skip_unavailable_shards=0";
  if (deadline.At() == Deadline::None().At()) return settings;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.At() - Deadline::Clock::now()).count();
  // Whole seconds: the server reads a fraction as none at all.
  std::string seconds = std::to_string(std::max<long long>(1, (left + 999) / 1000));
  return settings + "&max_execution_time=" + seconds + "&receive_timeout=" + seconds + "&connect_timeout=" + seconds;
}

ClickHouseDatabase::ClickHouseDatabase(const ClickHouseOptions& options) : options_(options) {
  if (options_.nodes.empty()) throw ClickHouseError("no ClickHouse server named");
  if (!PlainName(options_.database))
    throw ClickHouseError("database name " + options_.database + ": letters, digits and _ only");
  if (!options_.cluster.empty() && !PlainName(options_.cluster))
    throw ClickHouseError("cluster name " + options_.cluster + ": letters, digits and _ only");
  for (const std::string& url : options_.nodes) nodes_.emplace_back(url);
}

void ClickHouseDatabase::Delete(const std::string& ids, std::string_view only) const {
  for (const ClickHouseNode& node : nodes_) {
    try {
      for (const Table& table : kTables)
        if (only.empty() || only == table.name)
          Write(node, "ALTER TABLE " + Local(table.name) + " DELETE WHERE import_id IN (" + ids + ")");
    } catch (const ClickHouseError&) {
    }
  }
}

std::int64_t ClickHouseDatabase::StoredVersion(const ClickHouseNode& node) const {
  Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
  if (Number(
          Rows(node.Run("EXISTS TABLE " + Local("schema"), deadline, limits::kMaxClickHouseAnswer), 1).at(0).at(0)) ==
      0)
    return 0;
  auto versions = Rows(node.Run("SELECT version FROM " + Local("schema"), deadline, limits::kMaxClickHouseAnswer), 1);
  return versions.empty() ? 0 : SignedNumber(versions[0][0]);
}

bool ClickHouseDatabase::HoldsEarlierSchema() const {
  for (const ClickHouseNode& node : nodes_)
    if (StoredVersion(node) == kUpgradableVersion) return true;
  return false;
}

void ClickHouseDatabase::SetVersion(std::int64_t version) const {
  for (const ClickHouseNode& node : nodes_) {
    Write(node, "TRUNCATE TABLE " + Local("schema"));
    Write(node, "INSERT INTO " + Local("schema") + " VALUES (" + std::to_string(version) + ")");
  }
}

void ClickHouseDatabase::WaitForMutations(std::string_view table) const {
  auto until = Deadline::In(limits::kClickHouseWriteTimeout);
  for (const ClickHouseNode& node : nodes_) {
    while (
        Number(Rows(node.Run("SELECT count() FROM system.mutations WHERE database = " + SqlString(options_.database) +
                                 " AND table = " + SqlString(table) + " AND NOT is_done",
                             until, limits::kMaxClickHouseAnswer),
                    1)
                   .at(0)
                   .at(0)) > 0) {
      if (until.Passed()) throw ClickHouseError("a delete of rows of " + std::string(table) + " did not end in time");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

void ClickHouseDatabase::DeleteEarlier(std::string_view table, std::uint32_t import) const {
  for (const ClickHouseNode& node : nodes_)
    Write(node, "ALTER TABLE " + Local(table) + " DELETE WHERE import_id < " + std::to_string(import));
}

void ClickHouseDatabase::PrepareNode(const ClickHouseNode& node, bool earlierToo) const {
  Write(node, "CREATE DATABASE IF NOT EXISTS " + options_.database);
  Write(node, "CREATE TABLE IF NOT EXISTS " + Local("schema") + " (version UInt32) ENGINE = TinyLog");
  auto versions = Rows(node.Run("SELECT version FROM " + Local("schema"), Deadline::In(limits::kClickHouseWriteTimeout),
                                limits::kMaxClickHouseAnswer),
                       1);
  if (versions.empty()) {
    Write(node, "INSERT INTO " + Local("schema") + " VALUES (" + std::to_string(kClickHouseSchemaVersion) + ")");
  } else if (SignedNumber(versions[0][0]) != kClickHouseSchemaVersion &&
             !(earlierToo && SignedNumber(versions[0][0]) == kUpgradableVersion)) {
    throw ClickHouseError(node.Url() + ": database " + options_.database + " holds tables of schema " + versions[0][0] +
                          ", this version reads " + std::to_string(kClickHouseSchemaVersion) +
                          "; import into a new database (--clickhouse-db)");
  }
  Write(node, "CREATE TABLE IF NOT EXISTS " + Local("imports") +
                  " (id UInt32, owner UInt64, state UInt8, at UInt64) ENGINE = MergeTree ORDER BY (id, at)");
  // Read on the first node, as imports is. Added to databases of this schema as they are
  // opened, so no version changes for it.
  Write(node, "CREATE TABLE IF NOT EXISTS " + Local("sources") +
                  " (import_id UInt32, address String, kind String, bytes Int64, stored Int64, first_lines Int64, "
                  "at UInt64) ENGINE = MergeTree ORDER BY (address, import_id)");
  for (const Table& table : kTables) {
    Write(node, "CREATE TABLE IF NOT EXISTS " + Local(table.name) + " (" + table.columns +
                    ") ENGINE = MergeTree ORDER BY (" + table.order + ")");
    if (Cluster())
      Write(node, "CREATE TABLE IF NOT EXISTS " + Shared(table.name) + " AS " + Local(table.name) +
                      " ENGINE = Distributed(" + options_.cluster + ", " + options_.database + ", " + table.name +
                      ", " + table.shardKey + ")");
  }
  if (Cluster())
    Write(node, "CREATE TABLE IF NOT EXISTS " + Shared("schema") + " AS " + Local("schema") + " ENGINE = Distributed(" +
                    options_.cluster + ", " + options_.database + ", schema)");
}

void ClickHouseDatabase::CheckShards(bool earlierToo) const {
  Deadline deadline = Deadline::In(limits::kClickHouseWriteTimeout);
  auto shards = Rows(
      Read("SELECT uniqExact(shard_num) FROM system.clusters WHERE cluster = " + SqlString(options_.cluster), deadline),
      1);
  std::uint64_t expected = Number(shards.at(0).at(0));
  if (expected == 0) throw ClickHouseError(nodes_.front().Url() + " knows no cluster " + options_.cluster);
  std::string found;
  try {
    found = Read("SELECT count(), min(version), max(version) FROM " + Shared("schema"), deadline);
  } catch (const ClickHouseError& error) {
    throw ClickHouseError(std::string(error.what()) + "\n(every shard of " + options_.cluster +
                          " needs the schema: name each shard's server once in --clickhouse)");
  }
  auto row = Rows(found, 3).at(0);
  auto readable = [&](const std::string& version) {
    std::int64_t v = SignedNumber(version);
    return v == kClickHouseSchemaVersion || (earlierToo && v == kUpgradableVersion);
  };
  if (Number(row[0]) != expected || !readable(row[1]) || !readable(row[2]))
    throw ClickHouseError("the shards of " + options_.cluster + " hold " + row[0] + " schema rows of versions " +
                          row[1] + " to " + row[2] + " for " + std::to_string(expected) + " shards");
}

void ClickHouseDatabase::CleanUp() const {
  auto dead = Rows(
      Read("SELECT id, owner FROM " + Local("imports") + " GROUP BY id, owner HAVING " + kOnlyRunning +
               " AND max(at) < " + std::to_string(NowMs() - static_cast<std::uint64_t>(options_.staleImport.count())),
           Deadline::In(limits::kClickHouseWriteTimeout)),
      2);
  if (dead.empty()) return;
  std::string ids;
  for (const auto& row : dead) {
    Mark({static_cast<std::uint32_t>(Number(row[0]))}, Number(row[1]), kAbandoned);
    ids += (ids.empty() ? "" : ", ") + row[0];
  }
  Delete(ids);
}

void ClickHouseDatabase::Mark(const std::vector<std::uint32_t>& ids, std::uint64_t owner, ImportState state) const {
  std::string rows;
  for (std::uint32_t id : ids)
    rows += std::string(rows.empty() ? "" : ", ") + "(" + std::to_string(id) + ", " + std::to_string(owner) + ", " +
            std::to_string(state) + ", " + std::to_string(NowMs()) + ")";
  Write("INSERT INTO " + Local("imports") + " VALUES " + rows);
}

std::uint32_t ClickHouseDatabase::NextImportId() const {
  return static_cast<std::uint32_t>(
      Number(Rows(Read("SELECT max(id) + 1 FROM " + Local("imports"), Deadline::None()), 1).at(0).at(0)));
}

std::vector<SourceRecord> ClickHouseDatabase::Sources(const std::string& address) const {
  std::string where = Visible() + (address.empty() ? "" : " AND address = " + SqlString(address));
  std::vector<SourceRecord> sources;
  for (const auto& row : Rows(Read("SELECT address, kind, bytes, stored, first_lines, at, import_id FROM " +
                                       Local("sources") + " WHERE " + where + " ORDER BY at, import_id",
                                   Deadline::In(limits::kClickHouseWriteTimeout), limits::kMaxClickHouseKeyAnswer),
                              7))
    sources.push_back({row[0], row[1], SignedNumber(row[2]), SignedNumber(row[3]), SignedNumber(row[4]),
                       UtcTime(Number(row[5])), SignedNumber(row[6])});
  return sources;
}

std::vector<std::vector<std::string>> ClickHouseDatabase::Running(std::uint64_t exceptOwner) const {
  return Rows(Read("SELECT id, owner FROM " + Local("imports") + " GROUP BY id, owner HAVING " + kOnlyRunning +
                       " AND owner != " + std::to_string(exceptOwner),
                   Deadline::In(limits::kClickHouseWriteTimeout)),
              2);
}

}  // namespace quillet::services::clickhouse
