#pragma once
// Colour arithmetic of the widgets: RGB <-> HLS (double hexcone) on reals in 0..1, and the
// light and dark bevel shades derived from one screen colour. Portable: system colours are
// resolved through a lookup the caller supplies (on Windows, GetSysColor).
#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace quillet::widgets {

// RGB triple: red, green, blue. HLS triple: hue (fraction of a turn), lightness, saturation.
using ColorTriple = std::array<double, 3>;

// 0x00BBGGRR; with the top bit set the low byte is a system colour index.
using ScreenColor = std::uint32_t;

constexpr ScreenColor kSystemColorFlag = 0x80000000u;
constexpr ScreenColor clBlack = 0x000000;
constexpr ScreenColor clWindowText = kSystemColorFlag | 8;
constexpr ScreenColor clBtnFace = kSystemColorFlag | 15;
constexpr ScreenColor clGrayText = kSystemColorFlag | 17;

constexpr ScreenColor MakeScreenColor(int r, int g, int b) {
  return static_cast<ScreenColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(ScreenColor c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(ScreenColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(ScreenColor c) { return static_cast<int>((c >> 16) & 0xFF); }

// Raised for a component outside 0..1 (or NaN); the message names the first bad component.
class EColorConv : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Both conversions check the input first and leave the output untouched when they throw.
void HLS2RGB(const ColorTriple& hls, ColorTriple& rgb);
void RGB2HLS(const ColorTriple& rgb, ColorTriple& hls);

// Current RGB value of a system colour index.
using SysColorLookup = std::function<ScreenColor(int index)>;

// A plain colour unchanged; a system colour replaced by its current value.
ScreenColor ColorToRGB(ScreenColor color, const SysColorLookup& sysColor);

struct Shades {
  ScreenColor light;
  ScreenColor dark;
};

// light: each channel moved toward white by lightFactor; dark: the same hue and saturation
// with the lightness scaled by darkFactor. Factors are meant to lie in 0..1; a darkFactor
// that pushes the lightness above 1 throws EColorConv.
Shades MakeShades(ScreenColor color, float lightFactor, float darkFactor, const SysColorLookup& sysColor);

// Shade factor for a strength n in tenths, computed in single precision as the button does.
inline float ShadeFactor(int n) { return static_cast<float>(10 - n) / 10.0f; }

}  // namespace quillet::widgets
