#include "research/Compare.h"

#include <cmath>
#include <cstdint>

#include "research/Cutting.h"

namespace quillet {
namespace {

unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

int Sign(long double v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

std::string_view Column(const RowTexts& row, int column) {
  return column >= 0 && static_cast<std::size_t>(column) < row.size()
             ? std::string_view(row[static_cast<std::size_t>(column)])
             : std::string_view();
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const int d = Fold(a[i]) - Fold(b[i]);
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int CompareInteger(std::string_view a, std::string_view b, bool descending) {
  std::int32_t x = 0, y = 0;
  if (!ReadInt32(a, x) || !ReadInt32(b, y)) return 0;
  const std::int64_t d = descending ? std::int64_t{y} - x : std::int64_t{x} - y;
  return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

bool ReadDecimal(std::string_view text, char decimalSeparator, long double& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long double v = 0;
  int digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) v = v * 10 + (text[i] - '0');
  if (i < text.size() && text[i] == decimalSeparator) {
    long double scale = 1;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      scale /= 10;
      v += (text[i] - '0') * scale;
    }
  }
  if (digits == 0 || i != text.size()) return false;
  value = negative ? -v : v;
  return true;
}

int CompareProfitability(std::string_view a, std::string_view b, char decimalSeparator) {
  long double x = 0, y = 0;
  if (!ReadDecimal(a, decimalSeparator, x) || !ReadDecimal(b, decimalSeparator, y)) return 0;
  // The default rounding mode rounds halves to the even neighbour.
  return Sign(std::nearbyint(10 * y - 10 * x));
}

int CompareResearchRows(const RowTexts& a, const RowTexts& b, int column, char decimalSeparator) {
  switch (column) {
    case 0: return CompareText(Column(a, 0), Column(b, 0));
    case 1: return CompareInteger(Column(a, 1), Column(b, 1), true);
    case 2: return CompareInteger(Column(a, 2), Column(b, 2), false);
    case 3: return CompareProfitability(Column(a, 3), Column(b, 3), decimalSeparator);
    default: return 0;
  }
}

int CompareIdeaRows(const RowTexts& a, const RowTexts& b, int column, char decimalSeparator) {
  switch (column) {
    case 0: return CompareText(Column(a, 0), Column(b, 0));
    case 1: return CompareProfitability(Column(a, 1), Column(b, 1), decimalSeparator);
    default: return 0;
  }
}

int CompareAffiliateRows(const RowTexts& a, const RowTexts& b, int column) {
  if (column == 0) return CompareText(Column(a, 0), Column(b, 0));
  if (column >= 1 && column <= 3) return CompareInteger(Column(a, column), Column(b, column), false);
  return 0;
}

}  // namespace quillet
