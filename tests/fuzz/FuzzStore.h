#pragma once
// What the data service's fuzz targets share: bytes as an input file in memory, and a store
// that keeps nothing but checks what a reader hands it against the writer's contract.
#include <memory>
#include <string>

#include "services/Limits.h"
#include "services/import/Input.h"
#include "services/store/Store.h"
#include "services/text/Hosts.h"
#include "services/text/Keys.h"
#include "services/text/Strings.h"
#include "tests/services/support/MemorySource.h"

namespace quillet::fuzz {

inline services::InputFile Input(const std::string& bytes) { return services::testing::MemoryInput(bytes); }

// Traps on anything a reader must never hand a store (StoreWriter's contract).
class CheckingStore : public services::StoreWriter {
 public:
  Put PutKeyword(const std::string& term, std::int64_t searches) override {
    Term(term);
    if (searches < 0 || searches > 2147483647) __builtin_trap();
    return Put::Added;
  }
  Put PutRank(const std::string& host, std::int64_t rank) override {
    if (services::ValidHost(host) != host || rank < 1 || rank > 2147483647) __builtin_trap();
    return Put::Added;
  }
  bool AddPage(const services::PageInput& page) override {
    Page(page);
    return true;
  }
  Merge MergePage(const services::PageInput& page) override {
    Page(page);
    return Merge::Added;
  }
  void TallyKeyword(const std::string& term, std::int64_t count) override {
    Term(term);
    if (count < 0) __builtin_trap();
  }
  services::TallyResult StoreTally(std::int64_t, std::int64_t) override { return {}; }
  void Mark() override {}
  void ReleaseMark() override {}
  void RollBackToMark() override {}
  void RecordSource(const services::SourceRecord&) override {}
  bool HasSource(const std::string&, std::int64_t) override { return false; }
  void Commit() override {}

 private:
  static void Term(const std::string& term) {
    std::string why;
    auto normal = services::NormalizeTerm(term, &why);
    if (!normal || *normal != term) __builtin_trap();
  }
  static void Page(const services::PageInput& page) {
    std::string scheme = services::Lower(page.url.substr(0, 8));
    bool http = scheme.rfind("http://", 0) == 0 || scheme == "https://";
    if (!http || page.url.size() > services::limits::kMaxUrlLength || !services::KeyProblem(page.url).empty() ||
        services::ValidHost(page.url).empty() || page.links.size() > services::limits::kMaxLinksPerPage ||
        page.text.size() > services::limits::kMaxPageLine)
      __builtin_trap();
  }
};

}  // namespace quillet::fuzz
