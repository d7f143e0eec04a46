#pragma once
// What a research run reaches outside the process: the base addresses of the three outside
// services and the one way to fetch a page. The programs wire the real ones (app/, cli/);
// tests hand in recorders.
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

// Where the local data service answers for all three outside services.
inline constexpr const char* kDefaultServiceHost = "127.0.0.1:8790";
inline constexpr const char* kServiceHostVariable = "QUILLET_SERVICE_HOST";

// All three services at one "host" or "host:port".
ServiceHosts ServiceHostsAt(const std::string& hostAndPort);

// The three service addresses: kDefaultServiceHost, or the value of the environment
// variable QUILLET_SERVICE_HOST ("host" or "host:port") when it is set and not empty.
ServiceHosts ServiceHostsFromEnvironment();

}  // namespace quillet
