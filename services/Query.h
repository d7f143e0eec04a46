#pragma once
// Reading request query strings. The program encodes only spaces (and in link queries ':' and
// '/'), so a value may carry a raw '&': a piece of the query that does not begin with one of
// the endpoint's own keys is taken as the continuation of the value before it.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::services {

// Each valid %XX becomes its byte and, when plusIsSpace, '+' a space; a '%' not followed by
// two hex digits stays.
std::string DecodeQueryValue(std::string_view text, bool plusIsSpace = true);

// Splits raw (still encoded) query text into decoded key/value pairs for the given keys.
// The first occurrence of a key wins. Pieces before the first known key are ignored.
std::map<std::string, std::string> ParseQuery(std::string_view rawQuery, const std::vector<std::string_view>& keys,
                                              bool plusIsSpace = true);

// Lower-cases ASCII letters only.
std::string Lower(std::string_view text);

// Whitespace-separated words, lower-cased, each kept once, in order of first appearance.
std::vector<std::string> SplitWords(std::string_view text);

// The host of an address as the data is keyed: lower case, without scheme, path, port and a
// leading "www.". "http://www.Dogs.com:80/a" gives "dogs.com".
std::string NormalizeHost(std::string_view address);

}  // namespace quillet::services
