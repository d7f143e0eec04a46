#pragma once
// The single way the program reaches the network: one HTTP/1.1 GET over a fresh TCP
// connection, closed before returning. Never fails and never throws: whatever body bytes
// arrived (possibly none) are returned, for any status code; redirects are not followed.
// Blocks the caller until the body is complete, the server closes, or a bound of
// FetchLimits is hit; nothing survives from one call to the next.
#include <cstdint>
#include <string>

#include "net/FetchLimits.h"

namespace quillet {

std::string FetchPage(const std::string& url);
// The same with other bounds (tests use short time-outs).
std::string FetchPage(const std::string& url, const FetchLimits& limits);

// Where a URL sends its request. Backslashes count as '/', the scheme (text before the first
// "://") is ignored, the host ends at the first '/' or '?', a ":port" follows the host (80
// without one), and the fragment is dropped. `ok` is false for an empty host or a port
// that is not a number from 1 to 65535.
struct UrlParts {
  bool ok = false;
  std::string host;
  std::uint16_t port = 80;
  std::string target;  // starts with '/'
};
UrlParts SplitUrl(const std::string& url);

}  // namespace quillet
