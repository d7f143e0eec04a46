// The endpoint tests of clickhouse_tests run against ClickHouse, on one server and on a
// cluster of two shards.
#include <atomic>

#include "tests/services/support/ClickHouseServers.h"
#include "tests/services/support/StoreUnderTest.h"

namespace quillet::services::testing {
namespace {

class ClickHouseUnderTest : public StoreUnderTest {
 public:
  explicit ClickHouseUnderTest(bool cluster) : options_(FreshClickHouse(cluster)) {}
  std::unique_ptr<StoreWriter> Writer() override { return std::make_unique<ClickHouseWriter>(options_); }
  std::unique_ptr<StoreReader> Reader() override { return std::make_unique<ClickHouseReader>(options_); }

 private:
  ClickHouseOptions options_;
};

}  // namespace

ClickHouseServers& SharedClickHouse() {
  static ClickHouseServers servers(2);
  return servers;
}

ClickHouseOptions FreshClickHouse(bool cluster) {
  static std::atomic<int> made{0};
  ClickHouseServers& servers = SharedClickHouse();
  ClickHouseOptions options;
  options.database = "test" + std::to_string(++made);
  options.nodes = {servers.Url(0)};
  if (cluster) {
    options.nodes.push_back(servers.Url(1));
    options.cluster = ClickHouseServers::kCluster;
  }
  return options;
}

std::vector<std::string> StoreKinds() { return {"ClickHouse", "ClickHouseCluster"}; }

std::unique_ptr<StoreUnderTest> MakeStore(const std::string& kind) {
  return std::make_unique<ClickHouseUnderTest>(kind == "ClickHouseCluster");
}

}  // namespace quillet::services::testing
