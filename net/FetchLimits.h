#pragma once
// The bounds of one fetch. The protocol itself has no time-outs, so without these a server
// that accepts and never answers (or trickles forever) would block the window thread for
// good. Whatever hits a bound ends like a broken connection: the caller gets the body bytes
// that had arrived. Tests pass shorter values; the product always uses the defaults.
#include <cstddef>

namespace quillet {

struct FetchLimits {
  // Resolving is not bounded (the resolver has its own limits); connecting to all the
  // addresses of the host together is.
  int connectTimeoutMs = 15'000;
  // Longest silence between two reads while the response is still expected.
  int readIdleTimeoutMs = 30'000;
  // Whole fetch, from the connection attempt to the last body byte.
  int overallDeadlineMs = 120'000;
  // Pages are a few hundred KiB at most; a larger body is cut off here.
  std::size_t maxBodyBytes = std::size_t{32} << 20;
  // Status line plus headers, and any one chunk-size line.
  std::size_t maxHeaderBytes = std::size_t{1} << 20;
};

}  // namespace quillet
