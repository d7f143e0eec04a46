#pragma once
// Splits one fuzzer input into several texts at NUL bytes, so that one input can stand for
// a page and the pages its lookups fetch.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "research/RunWindow.h"

namespace quillet::fuzz {

inline std::vector<std::string> Parts(const std::uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<std::string> parts(count);
  std::size_t part = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && part + 1 < count) {
      ++part;
      continue;
    }
    parts[part].push_back(static_cast<char>(data[i]));
  }
  return parts;
}

// Counts rows and checks that every write goes to a row handed out since the last Clear.
class CheckedList : public ResultList {
 public:
  void Clear() override { first = next; }
  RowHandle AddRow() override { return next++; }
  void SetCaption(RowHandle h, const std::string&) override { Check(h); }
  void SetSubItem(RowHandle h, int index, const std::string&) override {
    Check(h);
    if (index < 1 || index > 3) __builtin_trap();
  }
  void SetChecked(RowHandle h, bool) override { Check(h); }
  std::size_t Rows() const { return next - first; }

 private:
  void Check(RowHandle h) const {
    if (h < first || h >= next) __builtin_trap();
  }
  RowHandle first = 1, next = 1;
};

class QuietWindow : public RunWindow {
 public:
  void SetStatus(const std::string&) override {}
  void ProcessMessages() override {}
  bool EscapeHeld() override { return false; }
};

}  // namespace quillet::fuzz
