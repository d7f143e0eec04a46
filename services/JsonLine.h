#pragma once
// A strict reader for one line of a JSON Lines page file: one object with the keys url,
// title, text (strings) and links (array of strings). Other keys may hold any JSON value and
// are skipped; a key given twice keeps its last value.
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
// well-formed object or a known key has a value of the wrong type. Escapes (including
// \uXXXX surrogate pairs) are decoded to UTF-8.
bool ParsePageRecord(std::string_view line, PageRecord* record, std::string* error);

}  // namespace quillet::services
