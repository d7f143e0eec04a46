#include "widgets/SpinLogic.h"

#include <algorithm>
#include <limits>

namespace quillet::widgets {

int32_t SpinRange::Bound(int32_t v) const {
  if (!Bounded()) return v;
  if (v < minValue) return minValue;
  if (v > maxValue) return maxValue;
  return v;
}

int32_t ReadSpinValue(std::string_view text, const SpinRange& range) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return range.minValue;
  // Accumulate as a negative number so that the most negative 32-bit value fits.
  constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return range.minValue;
    value = value * 10 - (c - '0');
    if (value < kLowest) return range.minValue;
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return range.minValue;
  }
  return static_cast<int32_t>(value);
}

std::string WriteSpinValue(int32_t v, const SpinRange& range) { return std::to_string(range.Bound(v)); }

int32_t StepSpinValue(int32_t value, int64_t delta, const SpinRange& range) {
  const int64_t sum = static_cast<int64_t>(value) + delta;
  const int64_t held =
      std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  return range.Bound(static_cast<int32_t>(held));
}

bool SpinCharAllowed(unsigned char ch, char decimalSeparator, bool editorEnabled) {
  constexpr unsigned char kBackspace = 8, kReturn = 13;
  const bool allowed = ch == '+' || ch == '-' || (ch >= '0' && ch <= '9') ||
                       ch == static_cast<unsigned char>(decimalSeparator) || (ch < 32 && ch != kReturn);
  if (!allowed) return false;
  if (!editorEnabled && (ch >= 32 || ch == kBackspace)) return false;
  return true;
}

int SpinMinimumHeight(int fontHeight, int systemFontHeight, int borderHeight) {
  return fontHeight + std::min(fontHeight, systemFontHeight) / 4 + 4 * borderHeight + 2;
}

SpinHalves SpinButtonHalves(int width, int height) {
  const int w = std::max(width, kSpinButtonMinWidth);
  const int upHeight = height / 2;
  const int downTop = upHeight - 1;
  return {{0, 0, w, upHeight}, {0, downTop, w, height - downTop}};
}

Placement SpinButtonPlacement(int fieldWidth, int fieldHeight, int pairWidth, bool threeD) {
  if (threeD) return {fieldWidth - pairWidth - 5, 0, pairWidth, fieldHeight - 5};
  return {fieldWidth - pairWidth, 1, pairWidth, fieldHeight - 3};
}

TextArea SpinTextArea(int clientWidth, int clientHeight, int pairWidth) {
  return {0, 0, clientWidth - pairWidth - 2, clientHeight + 1};
}

}  // namespace quillet::widgets
