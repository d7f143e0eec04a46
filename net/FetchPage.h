#pragma once
// The single way the program reaches the network: one HTTP/1.1 GET over a fresh TCP
// connection. Never fails: whatever body bytes arrived (possibly none) are returned.
#include <string>

namespace quillet {

std::string FetchPage(const std::string& url);

}  // namespace quillet
