#pragma once
// Small operations on text that several parts share: trimming, case, numbers for people,
// and the percent-encoding of addresses.
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/Format.h"

namespace quillet::services {

// Without blanks, tabs and line ends at either end.
std::string_view Trim(std::string_view text);

// Lower-cases ASCII letters only.
std::string Lower(std::string_view text);

// "1,234,567", as the programs that run the service write counts too.
inline std::string WithThousands(std::int64_t value) { return protocol::Thousands(value); }

// Each valid %XX becomes its byte and, when plusIsSpace, '+' a space; a '%' not followed by
// two hex digits stays.
std::string PercentDecode(std::string_view text, bool plusIsSpace = true);

// Percent-encodes everything but unreserved characters (a blank as %20, so that the value
// reads the same whether or not '+' is taken for a blank).
std::string PercentEncode(std::string_view text);

}  // namespace quillet::services
