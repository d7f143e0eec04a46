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

// A search as the program builds it: "p=%22PHRASE%22", then the end or '&' and another of
// the keys. The phrase is sent with nothing encoded but its blanks (as '+'), so all of it up
// to the last such closing quote mark belongs to it, a '&' of a term included. The decoded
// phrase in its quote marks goes to p, the other keys are read from what follows. False,
// changing nothing, for another form of query.
bool ParseQuotedSearch(std::string_view rawQuery, const std::vector<std::string_view>& keys,
                       std::map<std::string, std::string>* params);

}  // namespace quillet::services
