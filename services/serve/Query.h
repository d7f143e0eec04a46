#pragma once
// Reading request query strings. The program encodes only spaces (and in link queries ':' and
// '/'), so a value may carry a raw '&': a piece of the query that does not begin with one of
// the endpoint's own keys is taken as the continuation of the value before it.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::services {

// Splits raw (still encoded) query text into decoded key/value pairs for the given keys.
// The first occurrence of a key wins. Pieces before the first known key are ignored.
std::map<std::string, std::string> ParseQuery(std::string_view rawQuery, const std::vector<std::string_view>& keys,
                                              bool plusIsSpace = true);

}  // namespace quillet::services
