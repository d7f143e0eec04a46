#pragma once
// Compressed test inputs, for the tests and the fuzz targets alike.
#include <zlib.h>

#include <string>

namespace quillet::services::testing {

// The bytes as one gzip member (level 0: stored as they are, so that a byte of the member
// is a byte of the content).
inline std::string Gzip(const std::string& bytes, int level = 6) {
  std::string out(compressBound(static_cast<uLong>(bytes.size())) + 64, '\0');
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace quillet::services::testing
