#pragma once
// A research run's window side that does nothing, so benchmarks time the cutting alone.
#include <string>

#include "research/RunWindow.h"

namespace quillet::bench {

class NullList : public ResultList {
 public:
  void Clear() override {}
  RowHandle AddRow() override { return ++rows; }
  void SetCaption(RowHandle, const std::string&) override {}
  void SetSubItem(RowHandle, int, const std::string&) override {}
  void SetChecked(RowHandle, bool) override {}
  RowHandle rows = 0;
};

class NullWindow : public RunWindow {
 public:
  void SetStatus(const std::string&) override {}
  void ProcessMessages() override {}
  bool EscapeHeld() override { return false; }
};

}  // namespace quillet::bench
