#pragma once
// Addresses the program reaches outside itself. The data service's address, which the
// command-line research shares, is in research/Services.h.
#include <string>

#include "research/Services.h"

namespace quillet {

inline constexpr const char* kApplicationTitle = "Quillet";
inline constexpr const char* kHomepage = "http://www.orvane.example/quillet/";
inline constexpr const char* kCustomerCare = "http://www.orvane.example/quillet/support/";
inline constexpr const char* kSupportMail = "support@orvane.example";
inline constexpr const char* kHelpFile = "help.chm";

}  // namespace quillet
