#pragma once
// A strict reader for one line of a JSON Lines page file: one object with the keys url,
// title, text (strings) and links (array of strings). Other keys may hold any JSON value and
// are skipped; a key given twice keeps its last value.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::services {

struct PageRecord {
  std::string url;
  std::string title;
  std::string text;
  std::vector<std::string> links;
};

// False, with a reason naming the 1-based column in *error, when the line is not one
// well-formed object, a known key has a value of the wrong type, or links holds more than
// maxLinks addresses (the reason then begins "more than"). Escapes are decoded to UTF-8; an
// unpaired surrogate escape to its three-byte form, which the UTF-8 check names.
bool ParsePageRecord(std::string_view line, PageRecord* record, std::string* error, size_t maxLinks = SIZE_MAX);

}  // namespace quillet::services
