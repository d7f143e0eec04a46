#pragma once
// Addresses the program reaches outside itself, in one place.
#include <string>

#include "research/Services.h"

namespace quillet {

inline constexpr const char* kApplicationTitle = "Quillet";
inline constexpr const char* kHomepage = "http://www.orvane.example/quillet/";
inline constexpr const char* kCustomerCare = "http://www.orvane.example/quillet/support/";
inline constexpr const char* kSupportMail = "support@orvane.example";
inline constexpr const char* kHelpFile = "help.chm";

// Where the local data service answers for all three outside services.
inline constexpr const char* kDefaultServiceHost = "127.0.0.1:8790";
inline constexpr const char* kServiceHostVariable = "QUILLET_SERVICE_HOST";

// The three service addresses: kDefaultServiceHost, or the value of the environment
// variable QUILLET_SERVICE_HOST ("host" or "host:port") when it is set and not empty.
ServiceHosts ServiceHostsFromEnvironment();

}  // namespace quillet
