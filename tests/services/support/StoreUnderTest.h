#pragma once
// The stores the endpoint tests run against. Each test program defines these: services_store_tests
// for SQLite, clickhouse_tests for ClickHouse on one server and on a two-shard cluster.
#include <memory>
#include <string>
#include <vector>

#include "services/store/Store.h"

namespace quillet::services::testing {

class StoreUnderTest {
 public:
  virtual ~StoreUnderTest() = default;
  virtual std::unique_ptr<StoreWriter> Writer() = 0;
  virtual std::unique_ptr<StoreReader> Reader() = 0;
};

std::vector<std::string> StoreKinds();
// A new, empty store of that kind.
std::unique_ptr<StoreUnderTest> MakeStore(const std::string& kind);

}  // namespace quillet::services::testing
