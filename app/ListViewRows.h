#pragma once
// A list view as the result list of a research run: the run's row handles are the list's own,
// which survive sorting and die with Clear.
#include "framework/ListView.h"
#include "research/RunWindow.h"

namespace quillet {

class ListViewRows : public ResultList {
 public:
  // list must outlive the object.
  explicit ListViewRows(win::ListView& list) : list_(list) {}

  void Clear() override { list_.Clear(); }
  RowHandle AddRow() override { return list_.AddRow(); }
  void SetCaption(RowHandle row, const std::string& text) override { list_.SetCaption(row, text); }
  void SetSubItem(RowHandle row, int index, const std::string& text) override { list_.SetSubItem(row, index, text); }
  void SetChecked(RowHandle row, bool checked) override { list_.SetChecked(row, checked); }

 private:
  win::ListView& list_;
};

}  // namespace quillet
