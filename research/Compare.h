#pragma once
// The compare rules of the three result lists. Each returns a negative number when row A
// goes before row B, a positive one when after, 0 when they are equal. A text that cannot
// be converted makes the pair equal, so these are not strict weak orderings: sort with an
// algorithm that tolerates that (the list view's own merge sort does). No allocations.
#include <string_view>
#include <vector>
#include <string>

namespace quillet {

// Case-insensitive byte comparison (only a to z folded onto A to Z), a prefix first.
int CompareText(std::string_view a, std::string_view b);
// Both read as signed 32-bit integers; ascending gives A - B, descending B - A (the sign).
int CompareInteger(std::string_view a, std::string_view b, bool descending);
// Both read as decimal numbers with the given separator; 10 x B - 10 x A rounded half to
// even (so values less than 0.05 apart are equal).
int CompareProfitability(std::string_view a, std::string_view b, char decimalSeparator);

// Reads a decimal number: optional sign, digits, optionally the separator and more digits.
bool ReadDecimal(std::string_view text, char decimalSeparator, long double& value);

// A row as the lists hold it: caption, then sub-items (possibly fewer than the columns).
using RowTexts = std::vector<std::string>;

// The rules of ListView1 (Category, Demand, Supply, Profitability), ListView2 (Category,
// Profitability) and ListView3 (Website URL, Rank #, Estimated # of affiliates, Alexa
// traffic rank) by column index.
int CompareResearchRows(const RowTexts& a, const RowTexts& b, int column, char decimalSeparator);
int CompareIdeaRows(const RowTexts& a, const RowTexts& b, int column, char decimalSeparator);
int CompareAffiliateRows(const RowTexts& a, const RowTexts& b, int column);

}  // namespace quillet
