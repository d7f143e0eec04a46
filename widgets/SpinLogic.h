#pragma once
// The arithmetic of the spin edit: bounding, reading and writing the value as text, the
// typing filter, the minimum height and where the button pair and the text area go.
// Pure functions, shared by the Win32 control and its native tests.
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::widgets {

// Equal bounds mean no bounds at all.
struct SpinRange {
  int32_t minValue = 0;
  int32_t maxValue = 0;
  bool Bounded() const { return minValue != maxValue; }
  int32_t Bound(int32_t v) const;
};

// The text as a decimal integer (optional '+' or '-', then digits, nothing else, within
// 32 bits); anything else reads as range.minValue. No bounds are applied.
int32_t ReadSpinValue(std::string_view text, const SpinRange& range);

// The decimal text of v after bounding.
std::string WriteSpinValue(int32_t v, const SpinRange& range);

// value + delta, held at the 32-bit limits instead of wrapping, then bounded.
int32_t StepSpinValue(int32_t value, int64_t delta, const SpinRange& range);

// Whether a typed character is accepted. decimalSeparator is the user's locale's.
bool SpinCharAllowed(unsigned char ch, char decimalSeparator, bool editorEnabled);

// Text height of the field's font + min(that, system font's) / 4 + 4 borders + 2.
int SpinMinimumHeight(int fontHeight, int systemFontHeight, int borderHeight);

struct Placement {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Placement&) const = default;
};

// The up button takes the top half of the pair; the down button starts one pixel above
// the up button's bottom and fills the rest.
struct SpinHalves {
  Placement up;
  Placement down;
};
SpinHalves SpinButtonHalves(int width, int height);

// The pair's width is never below this.
inline constexpr int kSpinButtonMinWidth = 15;
inline constexpr int kSpinButtonInitialWidth = 15;
inline constexpr int kSpinButtonInitialHeight = 17;

// Where the pair goes inside a field of the given outer size (3-D look: sunken client
// edge; flat: none).
Placement SpinButtonPlacement(int fieldWidth, int fieldHeight, int pairWidth, bool threeD);

// The formatting rectangle of the text (left, top, right, bottom) that keeps the text
// clear of the button pair.
struct TextArea {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const TextArea&) const = default;
};
TextArea SpinTextArea(int clientWidth, int clientHeight, int pairWidth);

}  // namespace quillet::widgets
