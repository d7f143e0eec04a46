#pragma once
// JPEG decoding for pictures stored in the program. Kept apart from <windows.h>: libjpeg's
// headers and the Windows headers disagree about `boolean`.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillet {

// A decoded picture in the pixel layout of a 24-bit bottom-up DIB: rows from the bottom
// of the picture up, each pixel blue, green, red, each row padded to a multiple of 4 bytes.
struct JpegPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bits;

  bool Empty() const { return width == 0 || height == 0; }
  static int Stride(int width) { return (width * 3 + 3) & ~3; }
};

// Pictures larger than this (in pixels) are refused: they are not ours.
inline constexpr long long kMaxJpegPixels = 4096LL * 4096LL;

// Decodes a baseline or progressive JPEG (grey or colour) of data[0..size). Anything that
// libjpeg reports as an error or a warning (corrupt or truncated data, an unsupported
// colour space, a picture over kMaxJpegPixels) gives an empty picture; nothing is thrown.
JpegPicture DecodeJpeg(const void* data, std::size_t size);

}  // namespace quillet
