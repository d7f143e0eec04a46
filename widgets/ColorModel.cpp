#include "widgets/ColorModel.h"

#include <cmath>
#include <string>

namespace quillet::widgets {
namespace {

constexpr double kTolerance = 1e-8;

// The six pure hues as corners of the signed cube (-1..+1 per channel), one row per sector.
constexpr double kHueCorner[6][3] = {
    {+1, -1, -1},  // red
    {+1, +1, -1},  // yellow
    {-1, +1, -1},  // green
    {-1, +1, +1},  // cyan
    {-1, -1, +1},  // blue
    {+1, -1, +1},  // magenta
};

constexpr const char* kHlsNames[3] = {"Hue", "Luminance", "Saturation"};
constexpr const char* kRgbNames[3] = {"Red", "Green", "Blue"};

void CheckRange(const ColorTriple& in, const char* const (&names)[3], const char* op) {
  for (int i = 0; i < 3; ++i) {
    // Written so that NaN fails as well.
    if (!(in[i] >= 0.0 && in[i] <= 1.0)) {
      throw EColorConv(std::string(op) + ": 0 <= " + names[i] + " value <= 1 required");
    }
  }
}

double Clamp01(double v) {
  if (!(v >= 0.0)) return 0.0;
  return v > 1.0 ? 1.0 : v;
}

int ClampByte(double v) {
  if (!(v >= 0.0)) return 0;
  return v > 255.0 ? 255 : static_cast<int>(v);
}

// Round to nearest, ties to even (the default floating-point rounding mode).
double RoundEven(double v) { return std::nearbyint(v); }

}  // namespace

void HLS2RGB(const ColorTriple& hls, ColorTriple& rgb) {
  CheckRange(hls, kHlsNames, "HLS2RGB");
  const double h = hls[0], l = hls[1], s = hls[2];
  const double x = h * 6.0;
  const double whole = std::trunc(x);
  const int k = static_cast<int>(whole) % 6;
  const int n = (k + 1) % 6;
  const double f = x - whole;
  ColorTriple out;
  for (int i = 0; i < 3; ++i) {
    double v = kHueCorner[k][i] + (kHueCorner[n][i] - kHueCorner[k][i]) * f;
    v *= s;
    v = l > 0.5 ? l + (1.0 - l) * v : (v + 1.0) * l;
    out[i] = Clamp01(v);
  }
  rgb = out;
}

void RGB2HLS(const ColorTriple& rgb, ColorTriple& hls) {
  CheckRange(rgb, kRgbNames, "RGB2HLS");
  double c[3], v[3];
  for (int i = 0; i < 3; ++i) c[i] = 2.0 * rgb[i] - 1.0;

  int p = 0;
  double m = std::fabs(c[0]);
  for (int i = 1; i < 3; ++i) {
    if (std::fabs(c[i]) > m) {
      m = std::fabs(c[i]);
      p = i;
    }
  }
  if (m < kTolerance) {
    hls = {0.0, 0.5, 0.0};
    return;
  }
  for (int i = 0; i < 3; ++i) v[i] = c[i] / m;

  const bool light = c[p] > 0;
  double d = 0.0;
  for (int i = 0; i < 3; ++i) d = std::fmax(d, light ? 1.0 - v[i] : v[i] + 1.0);
  if (d < kTolerance) {
    hls = {0.0, rgb[0], 0.0};
    return;
  }
  if (light) {
    for (int i = 0; i < 3; ++i) v[i] = (v[i] - 1.0) * 2.0 / d + 1.0;
    double smallest = 1.0;
    for (int i = 0; i < 3; ++i) {
      if (v[i] < smallest) {
        smallest = v[i];
        p = i;
      }
    }
  } else {
    // p already names the first channel at -1, the smallest.
    for (int i = 0; i < 3; ++i) v[i] = (v[i] + 1.0) * 2.0 / d - 1.0;
  }

  const double vr = v[0], vg = v[1], vb = v[2];
  double t;  // sixths of a turn
  switch (p) {
    case 0: t = vg > vb ? 2.0 + (vb + 1.0) / 2.0 : 4.0 - (vg + 1.0) / 2.0; break;
    case 1: t = vb > vr ? 4.0 + (vr + 1.0) / 2.0 : 6.0 - (vb + 1.0) / 2.0; break;
    default: t = vr > vg ? (vg + 1.0) / 2.0 : 2.0 - (vr + 1.0) / 2.0; break;
  }
  const double h = t / 6.0;

  // Pairs (later channel a, earlier channel b), tried in this order.
  constexpr int kPairs[3][2] = {{1, 0}, {2, 1}, {2, 0}};

  double s = 0.0;
  for (const auto& pair : kPairs) {
    const int a = pair[0], b = pair[1];
    if (std::fabs(c[a] - c[b]) > kTolerance) {
      s = light ? (c[a] - c[b]) / ((c[a] - 1.0) * v[b] - (c[b] - 1.0) * v[a])
                : (c[a] - c[b]) / ((c[b] + 1.0) * v[a] - (c[a] + 1.0) * v[b]);
      break;
    }
  }

  double l = light ? c[0] - 1.0 : c[0] + 1.0;
  for (const auto& pair : kPairs) {
    const int a = pair[0], b = pair[1];
    if (std::fabs(v[a] - v[b]) > kTolerance) {
      l = light ? ((c[b] - 1.0) * v[a] - (c[a] - 1.0) * v[b]) / (v[a] - v[b])
                : ((c[b] + 1.0) * v[a] - (c[a] + 1.0) * v[b]) / (v[a] - v[b]);
      break;
    }
  }
  l = light ? l * 0.5 + 1.0 : l * 0.5;

  hls = {Clamp01(h), Clamp01(l), Clamp01(s)};
}

ScreenColor ColorToRGB(ScreenColor color, const SysColorLookup& sysColor) {
  if ((color & kSystemColorFlag) == 0) return color;
  return sysColor(static_cast<int>(color & 0xFF)) & 0xFFFFFF;
}

Shades MakeShades(ScreenColor color, float lightFactor, float darkFactor, const SysColorLookup& sysColor) {
  const ScreenColor rgb = ColorToRGB(color, sysColor);
  const int channel[3] = {RedOf(rgb), GreenOf(rgb), BlueOf(rgb)};

  int light[3];
  for (int i = 0; i < 3; ++i) {
    const double q = RoundEven((256 - channel[i]) * static_cast<double>(lightFactor));
    // A factor of 1 would give -1 for a zero channel; keep the result a byte.
    light[i] = ClampByte(255.0 - q);
  }

  ColorTriple in{channel[0] / 255.0, channel[1] / 255.0, channel[2] / 255.0};
  ColorTriple hls;
  RGB2HLS(in, hls);
  hls[1] *= static_cast<double>(darkFactor);
  ColorTriple out;
  HLS2RGB(hls, out);
  int dark[3];
  for (int i = 0; i < 3; ++i) dark[i] = ClampByte(RoundEven(out[i] * 255.0));

  return {MakeScreenColor(light[0], light[1], light[2]), MakeScreenColor(dark[0], dark[1], dark[2])};
}

}  // namespace quillet::widgets
