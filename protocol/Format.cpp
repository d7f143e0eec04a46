#include "protocol/Format.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace quillet::protocol {
namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

std::string Printed(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string Bytes(std::int64_t bytes) {
  const double value = static_cast<double>(bytes);
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  if (bytes < 999'500) return Printed("%.0f kB", value / 1e3);
  if (bytes < 9'950'000) return Printed("%.1f MB", value / 1e6);
  if (bytes < 999'500'000) return Printed("%.0f MB", value / 1e6);
  if (bytes < 9'950'000'000) return Printed("%.1f GB", value / 1e9);
  return Printed("%.0f GB", value / 1e9);
}

std::string Rate(double bytesPerSecond) {
  if (!(bytesPerSecond > 0)) return {};
  if (bytesPerSecond < 999'500) return Printed("%.0f kB/s", bytesPerSecond / 1e3);
  return Printed("%.1f MB/s", bytesPerSecond / 1e6);
}

std::string Duration(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  if (seconds < 90) return Printed("%.0f s", seconds);
  if (seconds < 5400) return Printed("%.0f min", seconds / 60);
  return Printed("%.1f h", std::min(seconds / 3600, 1e9));
}

std::string Thousands(std::int64_t value) {
  // Unsigned, so that the most negative value has a magnitude too.
  const std::uint64_t magnitude =
      value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out = value < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Counted(std::int64_t count, const std::string& word) {
  return Thousands(count) + " " + word + (count == 1 ? "" : "s");
}

std::int64_t AddSizes(std::int64_t a, std::int64_t b) {
  if (a < 0) a = 0;
  if (b < 0) b = 0;
  return a > kLargest - b ? kLargest : a + b;
}

std::int64_t ScaleSize(std::int64_t bytes, double factor) {
  if (bytes <= 0 || !(factor > 0)) return 0;
  const double scaled = static_cast<double>(bytes) * factor;
  // 2^63 itself does not fit: anything at or past it is the largest.
  return scaled >= 9.2e18 ? kLargest : static_cast<std::int64_t>(scaled);
}

}  // namespace quillet::protocol
