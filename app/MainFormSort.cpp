// Sorting the three result lists by a clicked column, and ticking ListView1's rows in bulk.
#include "app/MainForm.h"
#include "research/Compare.h"

namespace quillet {

void TForm1::WireSorting() {
  ListView1.onColumnClick = [this](int column) { ListView1ColumnClick(column); };
  ListView2.onColumnClick = [this](int column) { ListView2ColumnClick(column); };
  ListView3.onColumnClick = [this](int column) { ListView3ColumnClick(column); };
}

void TForm1::ListView1ColumnClick(int column) {
  SortColumn = column;
  decimalSeparator_ = win::LocaleDecimalSeparator();
  ListView1.Sort([this](const auto& a, const auto& b) { return ListView1Compare(a, b); });
}

void TForm1::ListView2ColumnClick(int column) {
  SortColumn = column;
  decimalSeparator_ = win::LocaleDecimalSeparator();
  ListView2.Sort([this](const auto& a, const auto& b) { return ListView2Compare(a, b); });
}

void TForm1::ListView3ColumnClick(int column) {
  SortColumn = column;
  decimalSeparator_ = win::LocaleDecimalSeparator();
  ListView3.Sort([this](const auto& a, const auto& b) { return ListView3Compare(a, b); });
}

int TForm1::ListView1Compare(const win::ListView::RowTexts& a, const win::ListView::RowTexts& b) const {
  return CompareResearchRows(a, b, SortColumn, decimalSeparator_);
}

int TForm1::ListView2Compare(const win::ListView::RowTexts& a, const win::ListView::RowTexts& b) const {
  return CompareIdeaRows(a, b, SortColumn, decimalSeparator_);
}

int TForm1::ListView3Compare(const win::ListView::RowTexts& a, const win::ListView::RowTexts& b) const {
  return CompareAffiliateRows(a, b, SortColumn);
}

void TForm1::SelectAll1Click() {
  for (int i = 0; i < ListView1.Count(); ++i) ListView1.SetCheckedAt(i, true);
}

void TForm1::SelectNone1Click() {
  for (int i = 0; i < ListView1.Count(); ++i) ListView1.SetCheckedAt(i, false);
}

void TForm1::InvertSelection1Click() {
  for (int i = 0; i < ListView1.Count(); ++i) ListView1.SetCheckedAt(i, !ListView1.Checked(i));
}

}  // namespace quillet
