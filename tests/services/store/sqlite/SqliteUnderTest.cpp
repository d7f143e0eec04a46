// The endpoint tests of services_store_tests run against the SQLite store.
#include <gtest/gtest.h>

#include "tests/services/support/Fixtures.h"
#include "tests/services/support/StoreUnderTest.h"

namespace quillet::services::testing {
namespace {

class SqliteUnderTest : public StoreUnderTest {
 public:
  std::unique_ptr<StoreWriter> Writer() override { return std::make_unique<SqliteWriter>(dir_.File("s.db")); }
  std::unique_ptr<StoreReader> Reader() override { return std::make_unique<SqliteReader>(dir_.File("s.db")); }

 private:
  ScratchDir dir_;
};

}  // namespace

std::vector<std::string> StoreKinds() { return {"Sqlite"}; }

std::unique_ptr<StoreUnderTest> MakeStore(const std::string&) { return std::make_unique<SqliteUnderTest>(); }

namespace {

TEST(ServiceOpen, MissingOrForeignFilesAreRefused) {
  ScratchDir dir;
  EXPECT_THROW(SqliteReader(dir.File("missing.db")), DbError);
  EXPECT_THROW(SqliteReader(dir.Write("text.db", "just some text, not a database")), DbError);
}

}  // namespace
}  // namespace quillet::services::testing
