#pragma once
// What the ClickHouse reader and writer share: the tables on every node, the nodes, the
// reading of answers, and the bookkeeping of imports. Private to the store.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "services/Limits.h"
#include "services/store/clickhouse/ClickHouseStore.h"
#include "services/store/clickhouse/Http.h"

namespace quillet::services::clickhouse {

// Databases of this version are brought up to kClickHouseSchemaVersion (UpgradeClickHouse).
constexpr std::int64_t kUpgradableVersion = 2;

// An import's rows in the table imports: running (again with each heartbeat), then complete
// or abandoned; the state only ever grows, so the largest is the last.
enum ImportState { kRunning = 1, kComplete = 2, kAbandoned = 3 };
constexpr const char* kOnlyRunning = "max(state) = 1";

// The tables every node (every shard) holds. Rows of one page share a shard; a keyword's
// rows share a shard, so each shard answers its share of a query without the others.
struct Table {
  const char* name;
  const char* columns;
  const char* order;
  const char* shardKey;
};
extern const Table kTables[7];

std::uint64_t NowMs();
// Milliseconds since 1970 as "YYYY-MM-DD HH:MM:SS", UTC.
std::string UtcTime(std::uint64_t ms);
// Numbers of an answer; ClickHouse prints counts and ids unsigned, searches and ranks signed.
// A text that is no such number is an error.
std::uint64_t Number(std::string_view text);
std::int64_t SignedNumber(std::string_view text);
// The rows of a TabSeparated answer, each of the columns given.
std::vector<std::vector<std::string>> Rows(const std::string& body, size_t columns);
// The settings of a read that must end by the deadline, on the server and its shards too.
std::string ReadSettings(Deadline deadline);

// The nodes, the names of the tables and the statements both sides share.
class ClickHouseDatabase {
 public:
  explicit ClickHouseDatabase(const ClickHouseOptions& options);

  bool Cluster() const { return !options_.cluster.empty(); }
  // A table on the node queried; what queries and inserts use, over every shard.
  std::string Local(std::string_view table) const { return options_.database + "." + std::string(table); }
  std::string Shared(std::string_view table) const { return Local(table) + (Cluster() ? "_all" : ""); }
  // Rows of complete imports only. On a cluster the list is read once, here, and sent along.
  std::string Visible() const {
    return std::string("import_id ") + (Cluster() ? "GLOBAL " : "") + "IN (SELECT id FROM " + Local("imports") +
           " WHERE state = " + std::to_string(kComplete) + ")";
  }

  std::string Read(const std::string& sql, Deadline deadline,
                   std::size_t maxAnswer = limits::kMaxClickHouseAnswer) const {
    return nodes_.front().Run(sql, deadline, maxAnswer, ReadSettings(deadline));
  }
  std::string Read(const std::string& sql, const std::vector<ExternalTable>& tables, Deadline deadline) const {
    if (tables.empty()) return Read(sql, deadline);
    return nodes_.front().Run(sql, tables, deadline, limits::kMaxClickHouseAnswer, ReadSettings(deadline));
  }
  void Write(const std::string& sql, std::string_view data = {}) const { Write(nodes_.front(), sql, data); }
  void Write(const ClickHouseNode& node, const std::string& sql, std::string_view data = {}) const {
    node.Run(sql, Deadline::In(limits::kClickHouseWriteTimeout), limits::kMaxClickHouseAnswer,
             Cluster() ? "insert_distributed_sync=1" : "", data);
  }
  // Notes the state of imports (one row each, in one insert).
  void Mark(const std::vector<std::uint32_t>& ids, std::uint64_t owner, ImportState state) const;
  // The next free import id.
  std::uint32_t NextImportId() const;
  // The sources of complete imports (all, or those of one address), oldest first.
  std::vector<SourceRecord> Sources(const std::string& address = {}) const;

  // Creates what is missing on every node, checks the version of what is there, and on a
  // cluster that every shard holds it; then deletes the rows of imports found dead. With
  // earlierToo, tables of kUpgradableVersion pass (the upgrade's own import).
  void Prepare(bool earlierToo = false) const {
    for (const ClickHouseNode& node : nodes_) PrepareNode(node, earlierToo);
    if (Cluster()) CheckShards(earlierToo);
    CleanUp();
  }
  // Whether a node named holds the tables of kUpgradableVersion.
  bool HoldsEarlierSchema() const;
  // Notes the schema version on every node named.
  void SetVersion(std::int64_t version) const;
  // Waits until no mutation (ALTER ... DELETE) of a table is running on any node named.
  void WaitForMutations(std::string_view table) const;

  // Imports still running (by their heartbeat), other than owner's.
  std::vector<std::vector<std::string>> Running(std::uint64_t exceptOwner) const;

  // Deletes the rows of the imports (from one table, or all) from every node listed; a node
  // that cannot be reached keeps them, unseen.
  void Delete(const std::string& ids, std::string_view only = {}) const;
  // Deletes the rows of a table written by imports before the one given, on every node.
  void DeleteEarlier(std::string_view table, std::uint32_t import) const;

 private:
  void PrepareNode(const ClickHouseNode& node, bool earlierToo) const;
  void CheckShards(bool earlierToo) const;
  // The version noted on a node; 0 when it has no tables yet.
  std::int64_t StoredVersion(const ClickHouseNode& node) const;
  void CleanUp() const;

  ClickHouseOptions options_;
  std::vector<ClickHouseNode> nodes_;
};

}  // namespace quillet::services::clickhouse
