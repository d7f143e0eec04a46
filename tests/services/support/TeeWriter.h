#pragma once
// Two stores written alike, for tests that compare their answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/store/Store.h"
#include "services/text/Hosts.h"

namespace quillet::services::testing {

// Every call goes to two stores, which must agree on it; page texts are kept for phrases.
class TeeWriter : public StoreWriter {
 public:
  TeeWriter(StoreWriter& a, StoreWriter& b) : a_(a), b_(b) {}
  Put PutKeyword(const std::string& term, std::int64_t searches) override {
    Put put = a_.PutKeyword(term, searches);
    EXPECT_EQ(put, b_.PutKeyword(term, searches)) << term;
    return put;
  }
  Put PutRank(const std::string& host, std::int64_t rank) override {
    Put put = a_.PutRank(host, rank);
    EXPECT_EQ(put, b_.PutRank(host, rank)) << host;
    return put;
  }
  bool AddPage(const PageInput& page) override {
    bool added = a_.AddPage(page);
    EXPECT_EQ(added, b_.AddPage(page)) << page.url;
    Keep(page);
    return added;
  }
  Merge MergePage(const PageInput& page) override {
    Merge merge = a_.MergePage(page);
    EXPECT_EQ(merge, b_.MergePage(page)) << page.url;
    Keep(page);
    return merge;
  }
  void TallyKeyword(const std::string& term, std::int64_t count) override {
    a_.TallyKeyword(term, count);
    b_.TallyKeyword(term, count);
  }
  TallyResult StoreTally(std::int64_t multiply, std::int64_t divide) override {
    TallyResult result = a_.StoreTally(multiply, divide);
    TallyResult other = b_.StoreTally(multiply, divide);
    EXPECT_EQ(result.added, other.added);
    EXPECT_EQ(result.replaced, other.replaced);
    return result;
  }
  void Mark() override {
    a_.Mark();
    b_.Mark();
  }
  void ReleaseMark() override {
    a_.ReleaseMark();
    b_.ReleaseMark();
  }
  void RollBackToMark() override {
    a_.RollBackToMark();
    b_.RollBackToMark();
  }
  void RecordSource(const SourceRecord& source) override {
    a_.RecordSource(source);
    b_.RecordSource(source);
  }
  bool HasSource(const std::string& address, std::int64_t firstLines) override {
    bool has = a_.HasSource(address, firstLines);
    EXPECT_EQ(has, b_.HasSource(address, firstLines)) << address;
    return has;
  }
  void Commit() override {
    a_.Commit();
    b_.Commit();
  }
  std::vector<std::string> texts;
  std::vector<std::string> hosts;

 private:
  void Keep(const PageInput& page) {
    texts.push_back(page.title);
    texts.push_back(page.text);
    hosts.push_back(NormalizeHost(page.url));
  }

  StoreWriter& a_;
  StoreWriter& b_;
};

}  // namespace quillet::services::testing
