#pragma once
// What a research run reaches outside the process: the base addresses of the three outside
// services and the one way to fetch a page. The product wires the real ones in app/; tests
// hand in recorders.
#include <functional>
#include <string>

namespace quillet {

// Fetches one page; FetchPage in the product, a recorder in tests.
using PageFetcher = std::function<std::string(const std::string& url)>;

// Base addresses ("http://host[:port]") of the three outside services.
struct ServiceHosts {
  std::string suggestion;
  std::string search;
  std::string traffic;
};

}  // namespace quillet
