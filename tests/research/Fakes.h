#pragma once
// Scripted stand-ins for the window side of a research run.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "research/RunWindow.h"
#include "research/Services.h"

namespace quillet::test {

// A result list that keeps rows in display order and hands out handles like the real one.
class FakeList : public ResultList {
 public:
  struct Row {
    RowHandle handle;
    std::vector<std::string> texts{std::string()};
    bool checked = false;
  };

  void Clear() override { rows.clear(); }
  RowHandle AddRow() override {
    rows.push_back({next++});
    return rows.back().handle;
  }
  void SetCaption(RowHandle h, const std::string& text) override { Set(h, 0, text); }
  void SetSubItem(RowHandle h, int index, const std::string& text) override { Set(h, index, text); }
  void SetChecked(RowHandle h, bool checked) override {
    if (Row* r = Find(h)) r->checked = checked;
  }
  // Reorders the rows like a sort would; handles stay with their rows.
  void Reverse() { std::reverse(rows.begin(), rows.end()); }

  // caption, then sub-items, as one table for comparisons.
  std::vector<std::vector<std::string>> Table() const {
    std::vector<std::vector<std::string>> out;
    for (const Row& r : rows) out.push_back(r.texts);
    return out;
  }

  std::vector<Row> rows;
  RowHandle next = 1;
  int staleWrites = 0;  // writes through handles that no longer exist

 private:
  Row* Find(RowHandle h) {
    for (Row& r : rows)
      if (r.handle == h) return &r;
    ++staleWrites;
    return nullptr;
  }
  void Set(RowHandle h, int column, const std::string& text) {
    Row* r = Find(h);
    if (!r) return;
    if (r->texts.size() <= static_cast<size_t>(column)) r->texts.resize(static_cast<size_t>(column) + 1);
    r->texts[static_cast<size_t>(column)] = text;
  }
};

// Records status texts and reported failures; runs a scripted action at chosen pumps
// (counted from 1). A failure report fails the test unless the test expects reports.
class FakeWindow : public RunWindow {
 public:
  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void ProcessMessages() override {
    ++pumps;
    if (auto it = atPump.find(pumps); it != atPump.end()) it->second();
  }
  bool EscapeHeld() override { return escapeHeld; }
  void ReportFailure(const char* place, std::exception_ptr) override {
    reported.push_back(place);
    if (!expectReports) ADD_FAILURE() << "failure reported at " << place;
  }

  std::vector<std::string> statuses;
  int pumps = 0;
  std::map<int, std::function<void()>> atPump;
  bool escapeHeld = false;
  bool expectReports = false;
  std::vector<std::string> reported;
};

// Serves pages by URL and records every URL asked for, in order.
struct FakeWeb {
  std::map<std::string, std::string> pages;
  std::vector<std::string> requests;
  std::function<void(const std::string&)> onFetch;

  PageFetcher Fetcher() {
    return [this](const std::string& url) {
      requests.push_back(url);
      if (onFetch) onFetch(url);
      const auto it = pages.find(url);
      return it == pages.end() ? std::string() : it->second;
    };
  }
};

}  // namespace quillet::test
